#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    Presses, drags and releases the left button on a component by calling its mouse
    handlers with made-up events, in the component's own coordinates: no window or
    display needed.
*/
struct SyntheticMouse
{
    explicit SyntheticMouse (juce::Component& target) : target (target) {}

    void press (juce::Point<float> at)
    {
        start = at;
        target.mouseDown (event (at, false));
    }

    void dragTo (juce::Point<float> at) { target.mouseDrag (event (at, true)); }
    void release (juce::Point<float> at) { target.mouseUp (event (at, at != start)); }

    juce::MouseEvent event (juce::Point<float> at, bool dragged) const
    {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), at,
                                 juce::ModifierKeys::leftButtonModifier, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                 &target, &target, now, start, now, 1, dragged);
    }

    juce::Component& target;
    juce::Point<float> start;
    juce::Time now = juce::Time::getCurrentTime();
};
