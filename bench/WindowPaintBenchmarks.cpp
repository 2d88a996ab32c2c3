// One paint of the whole window into a 900 x 567 image with the software renderer:
// what the OpenGL context's component painting costs when everything is invalid
// (the window opens, the bypass overlay comes or goes, the about panel opens). The
// children are placed during the paint, as in the window itself. The program's
// main, shared by the paint benchmarks, starts JUCE's GUI.

#include "editor/PluginEditor.h"

#include <benchmark/benchmark.h>

namespace
{
enum class WindowState { plain, bypassed, aboutPanelOpen };

struct WindowToPaint
{
    explicit WindowToPaint (WindowState state)
    {
        auto* bypass = processor.parameterState.getParameter ("Bypass");
        bypass->setValueNotifyingHost (state == WindowState::bypassed ? 1.0f : 0.0f);
        editor.informationSegment.toggle.setToggleState (state == WindowState::aboutPanelOpen, juce::dontSendNotification);
        // The first paint places the children and loads the typeface; neither is a paint's cost.
        paint();
        paint();
    }

    void paint()
    {
        juce::Graphics g (image);
        editor.paintEntireComponent (g, false);
    }

    MorvelAudioProcessor processor;
    MorvelAudioProcessorEditor editor { processor, processor.parameterState };
    juce::Image image { juce::Image::ARGB, 900, 567, true, juce::SoftwareImageType() };
};

void windowPaint (benchmark::State& state)
{
    WindowToPaint window (static_cast<WindowState> (state.range (0)));
    for (auto _ : state)
    {
        window.paint();
        benchmark::DoNotOptimize (window.image.getPixelAt (450, 300));
    }
}
} // namespace

// 0: as the window opens; 1: bypassed; 2: about panel open.
BENCHMARK (windowPaint)->Arg (0)->Arg (1)->Arg (2)->Unit (benchmark::kMicrosecond);
