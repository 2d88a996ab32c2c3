#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The triangular tone pad. The triangle itself is part of the window's background;
    the pad draws only the round handle over it. The handle's height above the bottom
    edge, as a fraction of the triangle's height, is "Knob2"; its position across the
    triangle parallel to the bottom edge (0 on the left edge, 1 at the bottom-right
    corner) is "Knob1".

    The pad owns no parameter: it writes the editor's two invisible knob sliders, whose
    attachments carry the values on to the parameters. It does not listen to them
    either, so the handle moves only by the mouse or when the editor calls
    setHandleFromKnobs().

    Message thread throughout (paint also runs on the GL thread, under the message
    thread's lock).
*/
class TriangleSegment : public juce::Component
{
public:
    /** Both sliders belong to the editor and must outlive the pad. Loads the handle image. */
    TriangleSegment (juce::Slider* knob1Slider, juce::Slider* knob2Slider);
    ~TriangleSegment() override;

    void mouseDown (const juce::MouseEvent& event) override;
    void mouseDrag (const juce::MouseEvent& event) override;
    void paint (juce::Graphics& g) override;

    /** Fixes the triangle for the pad's size; call once, right after sizing it to 512 x 445. */
    void setupGeometry();

    /** Places the handle where the two sliders' current values put it, and repaints. */
    void setHandleFromKnobs();

    /**
        Writes both sliders from the handle's position. Each slider snaps the value to
        its own range and step; the handle stays where it is.
    */
    void setKnobsFromHandle();

    /** True inside the triangle with its three corners rounded off (radius 47 px). */
    bool isInside (juce::Point<float> q) const;

    /** Centre of the handle, in pad pixels. */
    juce::Point<float> getHandlePosition() const noexcept { return handlePosition; }

private:
    /** Distance of q from the triangle's bottom-left corner: across, and upwards. */
    struct Offset
    {
        float dx;
        float up;
    };

    Offset offsetOf (juce::Point<float> q) const noexcept;
    bool pressAllowsDrag (juce::Point<float> press) const;
    juce::Point<float> clampToBorder (juce::Point<float> pointer) const;

    // The pad's idea of the square root of 3; every formula uses this same value so
    // that placing the handle from the knobs and reading the knobs back agree.
    float sqrt3 = 1.73205f;
    juce::Point<float> handlePosition;
    float side = 0.0f;
    juce::Point<float> bottomLeft;
    juce::Slider* knob1 = nullptr;
    juce::Slider* knob2 = nullptr;
    juce::Image handleImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TriangleSegment)
};
