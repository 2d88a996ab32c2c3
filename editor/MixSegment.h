#pragma once

#include "editor/MixSlider.h"
#include "editor/MixSliderLaF.h"

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The mix knob's segment of the window (195 x 195). The editor binds `mixSlider`
    to "Mix" through its attachment.
*/
class MixSegment : public juce::Component
{
public:
    MixSegment();
    ~MixSegment() override;

    /** Places the knob over the whole segment; draws nothing itself. */
    void paint (juce::Graphics&) override;

    MixSliderLaF knobLookAndFeel;
    MixSlider mixSlider;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixSegment)
};
