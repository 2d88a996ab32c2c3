#include <benchmark/benchmark.h>

#include <juce_events/juce_events.h>

// The paint benchmarks decode images and lay out text: JUCE's GUI must be running.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
