#include "editor/AutoGainSegment.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

AutoGainToggleBtn::~AutoGainToggleBtn() = default;

void AutoGainToggleBtn::paintButton (juce::Graphics&, bool, bool) {}

AutoGainSegment::AutoGainSegment()
    : onImage (EditorImages::load (BinaryData::temp_binary_data_35, BinaryData::temp_binary_data_35Size)),
      offImage (EditorImages::load (BinaryData::temp_binary_data_34, BinaryData::temp_binary_data_34Size))
{
    addAndMakeVisible (toggle);
    currentImage = toggle.getToggleState() ? &onImage : &offImage;

    // onStateChange, not onClick: the attachment turns the toggle on without a click
    // when the editor opens with "AutoGain" on, and automation does the same later.
    toggle.onStateChange = [this] { showToggleState(); };
}

AutoGainSegment::~AutoGainSegment() = default;

void AutoGainSegment::showToggleState()
{
    currentImage = toggle.getToggleState() ? &onImage : &offImage;
    repaint();
}

void AutoGainSegment::paint (juce::Graphics& g)
{
    toggle.setBounds (getLocalBounds());
    if (currentImage != nullptr)
        EditorImages::drawFitted (g, *currentImage, getLocalBounds());
}
