#pragma once

#include <juce_core/juce_core.h>

/**
    Tests that move the X pointer or read the display's pixels take turns across
    processes: the test runner may start them in parallel on one display, where they
    would move each other's pointer or cover each other's windows. The lock's name is
    the one every such test in the project uses.
*/
class DisplayTurn
{
public:
    DisplayTurn() { lock.enter (120000); }
    ~DisplayTurn() { lock.exit(); }

private:
    juce::InterProcessLock lock { "TessalineXPointer" };
};
