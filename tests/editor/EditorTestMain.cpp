#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

void installTolerantXErrorHandler();

// Components, the image cache and the parameter tree expect JUCE's GUI to be running.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    installTolerantXErrorHandler();
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
