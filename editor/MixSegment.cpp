#include "editor/MixSegment.h"

MixSegment::MixSegment()
{
    addAndMakeVisible (mixSlider);

    mixSlider.setSliderStyle (juce::Slider::RotaryVerticalDrag);
    mixSlider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    mixSlider.setLookAndFeel (&knobLookAndFeel);
    // From six o'clock clockwise all the way round, stopping at the end.
    mixSlider.setRotaryParameters (juce::MathConstants<float>::pi, MixSliderLaF::travelEnd, true);
}

MixSegment::~MixSegment()
{
    mixSlider.setLookAndFeel (nullptr);
}

void MixSegment::paint (juce::Graphics&)
{
    // Children are placed while painting, as everywhere in this window.
    mixSlider.setBounds (0, 0, getWidth(), getHeight());
}
