#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The rotary mix knob. It behaves as a plain slider; its own type lets the mix
    segment and the editor name it, and its look comes from MixSliderLaF.
*/
class MixSlider : public juce::Slider
{
public:
    MixSlider() = default;
    ~MixSlider() override = default;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixSlider)
};
