// The processor's costs: processBlock in the common layouts and rates (as a real-time
// factor, seconds of audio per CPU second, and as the share of one core it takes),
// a block in which the tone controls move, preparation and construction.

#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <memory>
#include <random>

namespace
{
struct Config
{
    const char* name;
    juce::AudioChannelSet set;
    double rate;
    int block;
};

const Config blockConfigs[] = {
    { "stereo 44.1k/512", juce::AudioChannelSet::stereo(), 44100.0, 512 },
    { "stereo 48k/512", juce::AudioChannelSet::stereo(), 48000.0, 512 },
    { "7.1.4 48k/512", juce::AudioChannelSet::create7point1point4(), 48000.0, 512 },
    { "stereo 96k/512", juce::AudioChannelSet::stereo(), 96000.0, 512 },
    { "7.1.4 96k/1024", juce::AudioChannelSet::create7point1point4(), 96000.0, 1024 },
};

std::unique_ptr<MorvelAudioProcessor> makeProcessor (const Config& c)
{
    auto p = std::make_unique<MorvelAudioProcessor>();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (c.set);
    layout.outputBuses.add (c.set);
    p->setBusesLayout (layout);
    p->prepareToPlay (c.rate, c.block);
    return p;
}

juce::AudioBuffer<float> noiseBlock (int channels, int n)
{
    juce::AudioBuffer<float> buffer (channels, n);
    std::mt19937 rng (5);
    std::uniform_real_distribution<float> dist (-0.3f, 0.3f);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < n; ++i)
            buffer.setSample (ch, i, dist (rng));
    return buffer;
}

/** Real-time factor and share of one core, from the audio seconds each iteration processes. */
void reportRealTime (benchmark::State& state, const Config& c)
{
    const double audioSeconds = c.block / c.rate;
    state.counters["rt_factor"] = benchmark::Counter (audioSeconds, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["core_share"] = benchmark::Counter (audioSeconds, benchmark::Counter::kIsIterationInvariantRate
                                                                         | benchmark::Counter::kInvert);
    state.SetLabel (c.name);
}

void processBlock (benchmark::State& state)
{
    const auto& c = blockConfigs[state.range (0)];
    auto p = makeProcessor (c);
    const auto source = noiseBlock (c.set.size(), c.block);
    juce::AudioBuffer<float> buffer (c.set.size(), c.block);
    juce::MidiBuffer midi;

    for (auto _ : state)
    {
        buffer.makeCopyOf (source, true);
        p->processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }
    reportRealTime (state, c);
}

void processBlockOnADecayingTail (benchmark::State& state)
{
    // Digital silence after a loud passage: every history decays towards the
    // denormal range. With denormals flushed this costs what a loud block costs.
    const auto& c = blockConfigs[state.range (0)];
    auto p = makeProcessor (c);
    const auto loud = noiseBlock (c.set.size(), c.block);
    juce::AudioBuffer<float> buffer (c.set.size(), c.block);
    juce::MidiBuffer midi;

    for (int b = 0; b < 50; ++b)
    {
        buffer.makeCopyOf (loud, true);
        p->processBlock (buffer, midi);
    }

    for (auto _ : state)
    {
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            juce::FloatVectorOperations::clear (buffer.getWritePointer (ch), c.block);
        p->processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }
    reportRealTime (state, c);
}

void processBlockWithToneMove (benchmark::State& state)
{
    const auto& c = blockConfigs[state.range (0)];
    auto p = makeProcessor (c);
    const auto source = noiseBlock (c.set.size(), c.block);
    juce::AudioBuffer<float> buffer (c.set.size(), c.block);
    juce::MidiBuffer midi;
    bool flip = false;

    // Every block finds Knob1 moved: the hypernetwork runs, the ramps are built and
    // new responses are queued for the engines' loaders.
    for (auto _ : state)
    {
        flip = ! flip;
        p->knob1Raw->store (flip ? 0.4f : 0.35f);
        buffer.makeCopyOf (source, true);
        p->processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }
    reportRealTime (state, c);
}

void prepareToPlay (benchmark::State& state)
{
    const auto& c = blockConfigs[state.range (0)];
    auto p = makeProcessor (c);

    for (auto _ : state)
        p->prepareToPlay (c.rate, c.block);
    state.SetLabel (c.name);
}

void construct (benchmark::State& state)
{
    for (auto _ : state)
    {
        auto p = std::make_unique<MorvelAudioProcessor>();
        benchmark::DoNotOptimize (p.get());
    }
}
} // namespace

BENCHMARK (processBlock)->DenseRange (0, 4)->Unit (benchmark::kMicrosecond);
BENCHMARK (processBlockOnADecayingTail)->Arg (3)->Unit (benchmark::kMicrosecond);
BENCHMARK (processBlockWithToneMove)->Arg (1)->Arg (2)->Unit (benchmark::kMicrosecond);
BENCHMARK (prepareToPlay)->Arg (1)->Arg (2)->Unit (benchmark::kMillisecond);
BENCHMARK (construct)->Unit (benchmark::kMillisecond)->UseRealTime();

// The parameter tree and the convolution engines need JUCE's message manager.
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
