#pragma once

#include "editor/IOSliderLaF.h"
#include "editor/LinkToggleBtn.h"
#include "editor/VolumeMeter.h"

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The window's gain segment (220 x 410): the input and output faders, the link
    toggle between them, and the level meter filling the segment behind them. The
    editor binds the faders to "Input Gain" and "Output Gain" and the toggle to
    "Link", listens to the faders and reads the toggle.
*/
class IOSegment : public juce::Component
{
public:
    /** Builds the controls; the meter polls the given processor (which may be null). */
    explicit IOSegment (MorvelAudioProcessor* processor);
    ~IOSegment() override;

    /** Places the meter, the faders and the toggle; draws nothing itself. */
    void paint (juce::Graphics&) override;

    IOSliderLaF sliderLookAndFeel;
    juce::Slider inputSlider;
    juce::Slider outputSlider;
    LinkToggleBtn linkButton;
    VolumeMeter meter;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (IOSegment)
};
