// One paint of the mix knob into a window-sized image, as the window repaints it
// while the knob turns, and the same drawing done the plain way for comparison:
// the plain way copies and masks the whole ring and turns the whole pointer square.
// The program's main (JuceBenchmarkMain.cpp) starts JUCE's GUI.

#include "editor/MixSegment.h"
#include "tests/editor/LiteralMixKnob.h"

#include <benchmark/benchmark.h>

namespace
{
const juce::Rectangle<int> knobInWindow { 672, 151, 195, 195 };

struct KnobInWindow
{
    explicit KnobInWindow (double mix)
    {
        segment.setBounds (knobInWindow);
        segment.mixSlider.setRange (0.0, 100.0, 1.0);
        segment.mixSlider.setValue (mix, juce::dontSendNotification);
        // The first paint also loads the typeface; that is not a paint's cost.
        segment.paintEntireComponent (*knobContext(), false);
    }

    /** A graphics context on the window image, placed and clipped as the window paints the knob. */
    std::unique_ptr<juce::Graphics> knobContext()
    {
        auto g = std::make_unique<juce::Graphics> (window);
        g->setOrigin (knobInWindow.getPosition());
        g->reduceClipRegion (0, 0, knobInWindow.getWidth(), knobInWindow.getHeight());
        return g;
    }

    juce::Image window { juce::Image::ARGB, 900, 567, true };
    MixSegment segment;
};

void mixKnobPaint (benchmark::State& state)
{
    KnobInWindow knob ((double) state.range (0));

    for (auto _ : state)
        knob.segment.paintEntireComponent (*knob.knobContext(), false);

    state.SetLabel ("mix " + std::to_string (state.range (0)));
}

void mixKnobPaintPlain (benchmark::State& state)
{
    KnobInWindow knob ((double) state.range (0));
    auto& slider = knob.segment.mixSlider;
    const auto rotary = slider.getRotaryParameters();
    const auto position = (float) slider.valueToProportionOfLength (slider.getValue());
    const float angle = rotary.startAngleRadians + position * (rotary.endAngleRadians - rotary.startAngleRadians);
    const auto text = juce::String (slider.getValue(), 1);

    for (auto _ : state)
        drawMixKnobLiterally (*knob.knobContext(), knob.segment.knobLookAndFeel, angle, text, 195, 195);

    state.SetLabel ("mix " + std::to_string (state.range (0)));
}
}

BENCHMARK (mixKnobPaint)->Arg (0)->Arg (37)->Arg (50)->Arg (100)->Unit (benchmark::kMicrosecond);
BENCHMARK (mixKnobPaintPlain)->Arg (0)->Arg (37)->Arg (50)->Arg (100)->Unit (benchmark::kMicrosecond);
