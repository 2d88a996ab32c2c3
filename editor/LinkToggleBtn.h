#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The toggle between the two gain faders that links them. The editor binds it to
    "Link" and reads its state; it looks the same whether hovered or held down.
*/
class LinkToggleBtn : public juce::ToggleButton
{
public:
    /** Loads the two images. Message thread. */
    LinkToggleBtn();
    ~LinkToggleBtn() override;

    juce::Image onImage;
    juce::Image offImage;

protected:
    /** Draws the image for the toggle state over the whole button; the two flags are ignored. */
    void paintButton (juce::Graphics&, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LinkToggleBtn)
};
