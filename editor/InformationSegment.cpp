#include "editor/InformationSegment.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

InfoToggleBtn::InfoToggleBtn()
    : panelImage (EditorImages::load (BinaryData::temp_binary_data_31, BinaryData::temp_binary_data_31Size)),
      normalImage (EditorImages::load (BinaryData::temp_binary_data_33, BinaryData::temp_binary_data_33Size)),
      hoverImage (EditorImages::load (BinaryData::temp_binary_data_32, BinaryData::temp_binary_data_32Size))
{
}

InfoToggleBtn::~InfoToggleBtn() = default;

const juce::Image* InfoToggleBtn::chooseImage() const
{
    const bool on = getToggleState();
    if (getState() == buttonDown && on)
        return nullptr;
    if (isMouseOver (false) && ! on)
        return &hoverImage;
    return on ? &panelImage : &normalImage;
}

void InfoToggleBtn::paintButton (juce::Graphics& g, bool, bool)
{
    const auto* image = chooseImage();

    if (getToggleState() && normalImage.isValid())
        g.drawImage (normalImage, juce::Rectangle<float> (homeX, homeY, homeWidth, homeHeight),
                     juce::RectanglePlacement::fillDestination);

    if (image == &panelImage)
        g.drawImage (panelImage,
                     juce::Rectangle<float> (InformationSegment::panelX, InformationSegment::panelY,
                                             InformationSegment::panelWidth, InformationSegment::panelHeight),
                     juce::RectanglePlacement::fillDestination);
    else if (image != nullptr)
        EditorImages::drawFitted (g, *image, getLocalBounds());
}

InformationSegment::InformationSegment()
{
    // Bottom to top: the two hot spots lie above the toggle, which spans the window
    // while the panel is open and closes it on a click anywhere else.
    addAndMakeVisible (toggle);
    addAndMakeVisible (panelBody);
    addAndMakeVisible (manualLink);

    // Whether a browser could be started is not ours to report: the panel stays open either way.
    manualLink.onClick = [] { juce::URL (manualAddress).launchInDefaultBrowser(); };
}

InformationSegment::~InformationSegment() = default;

void InformationSegment::paint (juce::Graphics&)
{
    toggle.setBounds (getLocalBounds());

    if (toggle.getToggleState())
    {
        panelBody.setBounds (panelX, panelY, panelWidth, panelHeight);
        manualLink.setEnabled (true);
        manualLink.setBounds (linkX, linkY, linkWidth, linkHeight);
    }
    else
    {
        panelBody.setEnabled (false);
    }
}
