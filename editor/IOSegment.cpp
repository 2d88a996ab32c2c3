#include "editor/IOSegment.h"

namespace
{
/** The fader's full range spans the thumb's whole travel, so the thumb follows the pointer one to one. */
constexpr int faderTravel = 312;

void setUpFader (juce::Slider& fader, juce::LookAndFeel& look)
{
    fader.setLookAndFeel (&look);
    fader.setSliderStyle (juce::Slider::LinearVertical);
    // A click alone must not move the gain; only a drag does.
    fader.setSliderSnapsToMousePosition (false);
    fader.setMouseDragSensitivity (faderTravel);
}
}

IOSegment::IOSegment (MorvelAudioProcessor* processor)
    : meter (processor)
{
    // The meter stands behind everything else in the segment.
    addAndMakeVisible (meter);

    setUpFader (inputSlider, sliderLookAndFeel);
    addAndMakeVisible (inputSlider);
    setUpFader (outputSlider, sliderLookAndFeel);
    addAndMakeVisible (outputSlider);

    addAndMakeVisible (linkButton);
}

IOSegment::~IOSegment()
{
    inputSlider.setLookAndFeel (nullptr);
    outputSlider.setLookAndFeel (nullptr);
}

void IOSegment::paint (juce::Graphics&)
{
    // Children are placed while painting, as everywhere in this window.
    meter.setBounds (0, 0, getWidth(), getHeight());
    inputSlider.setBounds (12, 24, 77, 370);
    outputSlider.setBounds (86, 24, 77, 370);
    linkButton.setBounds (68, 178, 38, 49);
}
