#pragma once

#include "tests/editor/DisplayTurn.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

/**
    Shows a component in a borderless window on the X display (the tests run under
    Xvfb) and presses, drags and releases the mouse through the window's own event
    path, so hit testing, z-order and press-and-release rules are the framework's.
    The display's pointer is moved as well: hover and release-inside checks ask the
    display where the pointer is. Message thread only.
*/
class WindowPointer
{
public:
    static bool displayAvailable() { return std::getenv ("DISPLAY") != nullptr; }

    explicit WindowPointer (juce::Component& c, juce::Point<int> screenTopLeft = { 100, 100 })
        : component (c)
    {
        component.setTopLeftPosition (screenTopLeft);
        component.addToDesktop (0);
        component.setVisible (true);
        settle();
    }

    ~WindowPointer()
    {
        if (buttonDown)
            release (last);
        component.removeFromDesktop();
    }

    /** Points are in the component's coordinates; they may lie outside the window. */
    void move (juce::Point<int> p) { send (p, {}); }
    void press (juce::Point<int> p) { buttonDown = true; send (p, left()); }
    void drag (juce::Point<int> p) { send (p, left()); }
    void release (juce::Point<int> p) { buttonDown = false; send (p, {}); }

    void click (juce::Point<int> p)
    {
        move (p);
        press (p);
        release (p);
    }

    /** Lets queued repaints, X events and asynchronous updates run. */
    static void settle (int milliseconds = 40)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

private:
    static juce::ModifierKeys left() { return juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier); }

    void send (juce::Point<int> p, juce::ModifierKeys buttons)
    {
        last = p;
        auto* peer = component.getPeer();
        if (peer == nullptr)
            return;

        juce::Desktop::setMousePosition (component.localPointToGlobal (p));
        settle (20);
        juce::ModifierKeys::currentModifiers = juce::ModifierKeys::currentModifiers.withoutMouseButtons().withFlags (buttons.getRawFlags());
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, p.toFloat(), juce::ModifierKeys::currentModifiers,
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                juce::Time::currentTimeMillis());
        settle();
    }

    DisplayTurn turn;
    juce::Component& component;
    juce::Point<int> last;
    bool buttonDown = false;
};
