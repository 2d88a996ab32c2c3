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

/** A prepared processor, a block of noise to feed it and the buffer it processes in place. */
struct BlockRun
{
    explicit BlockRun (const Config& c)
        : config (c),
          processor (makeProcessor (c)),
          source (noiseBlock (c.set.size(), c.block)),
          buffer (c.set.size(), c.block)
    {
    }

    void processNoise()
    {
        buffer.makeCopyOf (source, true);
        process();
    }

    void process()
    {
        processor->processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }

    const Config& config;
    std::unique_ptr<MorvelAudioProcessor> processor;
    const juce::AudioBuffer<float> source;
    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;
};

void processBlock (benchmark::State& state)
{
    BlockRun run (blockConfigs[state.range (0)]);

    for (auto _ : state)
        run.processNoise();
    reportRealTime (state, run.config);
}

void processBlockOnADecayingTail (benchmark::State& state)
{
    // Digital silence after a loud passage: every history decays towards the
    // denormal range. With denormals flushed this costs what a loud block costs.
    BlockRun run (blockConfigs[state.range (0)]);

    for (int b = 0; b < 50; ++b)
        run.processNoise();

    for (auto _ : state)
    {
        // Zeros written, not the buffer marked silent: the chain must do the arithmetic.
        for (int ch = 0; ch < run.buffer.getNumChannels(); ++ch)
            juce::FloatVectorOperations::clear (run.buffer.getWritePointer (ch), run.config.block);
        run.process();
    }
    reportRealTime (state, run.config);
}

void processBlockWithToneMove (benchmark::State& state)
{
    BlockRun run (blockConfigs[state.range (0)]);
    bool flip = false;

    // Every block finds Knob1 moved: the hypernetwork runs, the ramps are built and
    // new responses are queued for the engines' loaders.
    for (auto _ : state)
    {
        flip = ! flip;
        run.processor->knob1Raw->store (flip ? 0.4f : 0.35f);
        run.processNoise();
    }
    reportRealTime (state, run.config);
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
