#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The mix knob's look: a blue ring that grows clockwise from six o'clock around
    a pale body, a pointer tick that turns with the value, and the value printed in
    the middle. Everything is drawn at fixed coordinates for the 195 x 195 knob.
*/
class MixSliderLaF : public juce::LookAndFeel_V4
{
public:
    /** Loads the three images and halves the body and the pointer. Message thread. */
    MixSliderLaF();
    ~MixSliderLaF() override;

    /**
        Draws ring, body, pointer and value; x, y, width and height are ignored.
        Each call cuts the ring afresh for the current angle; the cut and the pointer
        touch only the pixels that can change, so a paint costs well under a
        millisecond (see the paint benchmarks).
    */
    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPos, float rotaryStartAngle, float rotaryEndAngle,
                           juce::Slider&) override;

    /** Where the travel ends: the ring's cut always runs from the current angle to here. */
    static constexpr float travelEnd = 9.424778f;

    juce::Image ringImage;
    juce::Image pointerImage;
    juce::Image knobImage;

private:
    /** The part of the ring that the value has not reached yet, in ring-image pixels. */
    static juce::Path unreachedTravel (float angle);

    void drawRing (juce::Graphics&, float angle);
    void drawPointer (juce::Graphics&, float angle);

    // The ring's pixels for the paint in progress; kept only to spare an allocation.
    juce::Image ringCut;
    // The cut ring at display size, where the context allows halving it by hand.
    juce::Image ringHalf;
    // Where the pointer image has any ink, so that turning it visits only those rows.
    juce::Rectangle<int> pointerInk;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixSliderLaF)
};
