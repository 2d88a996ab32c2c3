#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The switch's click area: it covers the whole segment and draws nothing, because
    the segment draws the switch image itself. */
class AutoGainToggleBtn : public juce::ToggleButton
{
public:
    ~AutoGainToggleBtn() override;
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;
};

/**
    The automatic-gain switch: an image of a slide switch, ON or OFF, that follows
    its toggle. The editor binds `toggle` to "AutoGain". Message thread only.
*/
class AutoGainSegment : public juce::Component
{
public:
    AutoGainSegment();
    ~AutoGainSegment() override;
    void paint (juce::Graphics&) override;

    /** Never null once constructed: the image that shows the toggle's state. */
    const juce::Image* currentImage = nullptr;
    juce::Image onImage;
    juce::Image offImage;
    AutoGainToggleBtn toggle;

private:
    void showToggleState();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AutoGainSegment)
};
