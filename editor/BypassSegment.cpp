#include "editor/BypassSegment.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

BypassToggleBtn::BypassToggleBtn()
    : overlayImage (EditorImages::load (BinaryData::temp_binary_data_37, BinaryData::temp_binary_data_37Size)),
      normalImage (EditorImages::load (BinaryData::temp_binary_data_38, BinaryData::temp_binary_data_38Size)),
      pressedImage (EditorImages::load (BinaryData::temp_binary_data_36, BinaryData::temp_binary_data_36Size))
{
}

BypassToggleBtn::~BypassToggleBtn() = default;

const juce::Image* BypassToggleBtn::chooseImage() const
{
    const bool on = getToggleState();
    if (getState() == buttonDown)
        return on ? nullptr : &pressedImage;
    return on ? &overlayImage : &normalImage;
}

void BypassToggleBtn::paintButton (juce::Graphics& g, bool, bool)
{
    const auto* image = chooseImage();

    if (getToggleState() && normalImage.isValid())
        g.drawImage (normalImage, juce::Rectangle<float> (homeX, homeY, homeWidth, homeHeight),
                     juce::RectanglePlacement::fillDestination);

    if (image != nullptr)
        EditorImages::drawFitted (g, *image, { image->getWidth() / 2, image->getHeight() / 2 });
}

BypassSegment::BypassSegment()
{
    addAndMakeVisible (toggle);
}

BypassSegment::~BypassSegment() = default;

void BypassSegment::paint (juce::Graphics&)
{
    toggle.setBounds (getLocalBounds());
}
