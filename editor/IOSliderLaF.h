#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The gain faders' look: a pale round thumb with the gain printed on it, over a
    312-pixel travel; no track (the well is part of the window's background) and no
    text box.
*/
class IOSliderLaF : public juce::LookAndFeel_V4
{
public:
    /** Loads the thumb image. Message thread. */
    IOSliderLaF();
    ~IOSliderLaF() override;

    /** Draws the thumb and its value; only y, height and the slider's value and range are used. */
    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPos, float minSliderPos, float maxSliderPos,
                           juce::Slider::SliderStyle, juce::Slider&) override;

    /** The travel starts 25 pixels down and leaves 33 below; the text box gets no room at all. */
    juce::Slider::SliderLayout getSliderLayout (juce::Slider&) override;

    juce::Image thumbImage;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (IOSliderLaF)
};
