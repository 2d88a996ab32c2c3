#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The PRESETS button at the top left of the window. It draws its own two images
    (the base class's image slots stay empty) so the pressed look follows the
    button's state alone. Message thread.
*/
class PresetImageBtn : public juce::ImageButton
{
public:
    PresetImageBtn();
    ~PresetImageBtn() override;

    /** Draws the pressed image while the button is held down, the normal one otherwise. */
    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    juce::Image normalImage;
    juce::Image pressedImage;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetImageBtn)
};
