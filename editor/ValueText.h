#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** How the gain faders and the mix knob print their value over their artwork. */
namespace ValueText
{
    /** The blue of the printed values. */
    inline const juce::Colour colour { 0xff6f81f9 };

    /**
        Prints the value with one decimal place and no unit ("-20.0", "100.0"),
        centred on one line in the area, in the default typeface at the given height.
    */
    inline void draw (juce::Graphics& g, double value, float fontHeight, juce::Rectangle<int> area)
    {
        g.setColour (colour);
        g.setFont (fontHeight);
        g.drawFittedText (juce::String (value, 1), area, juce::Justification::centred, 1);
    }
}
