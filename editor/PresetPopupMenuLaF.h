#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The preset menu's look: a rounded pale panel image behind the rows and no
    border, so the rows sit flush with the panel's edges. Message thread.
*/
class PresetPopupMenuLaF : public juce::LookAndFeel_V4
{
public:
    PresetPopupMenuLaF();
    ~PresetPopupMenuLaF() override;

    /** Draws the panel image at its shown size, whatever size the menu has. */
    void drawPopupMenuBackground (juce::Graphics& g, int width, int height) override;

    int getPopupMenuBorderSize() override;

    juce::Image backgroundImage;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetPopupMenuLaF)
};
