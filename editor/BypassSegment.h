#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The BYPASS button. While it is on it spans the whole editor (the editor grows its
    segment) and draws the translucent overlay over everything, with itself still
    visible at its own place beneath it; the overlay disappears while the mouse
    button is held, so a press shows the plug-in as it will sound.
*/
class BypassToggleBtn : public juce::ToggleButton
{
public:
    BypassToggleBtn();
    ~BypassToggleBtn() override;
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;

    /** The button's place in editor coordinates, where it is drawn while it spans the window. */
    static constexpr int homeX = 713, homeY = 25, homeWidth = 120, homeHeight = 65;

    juce::Image overlayImage;
    juce::Image normalImage;
    juce::Image pressedImage;

private:
    const juce::Image* chooseImage() const;
};

/** Holds the bypass button; the editor binds `toggle` to "Bypass" and sizes the segment by its state. */
class BypassSegment : public juce::Component
{
public:
    BypassSegment();
    ~BypassSegment() override;
    void paint (juce::Graphics&) override;

    BypassToggleBtn toggle;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BypassSegment)
};
