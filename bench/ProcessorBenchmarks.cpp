// The processor's costs: processBlock in the common layouts and rates (as a real-time
// factor, seconds of audio per CPU second, and as the share of one core it takes),
// a block in which the tone controls move, one convolution engine by call size,
// preparation and construction; then, in a full run, the share of each stage in a block
// and the cost of idle instances.

#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <pthread.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

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

    // Every block finds Knob1 moved: the hypernetwork runs, the cell ramps its weights and
    // new responses are queued for the engines' loaders.
    for (auto _ : state)
    {
        flip = ! flip;
        run.processor->knob1Raw->store (flip ? 0.4f : 0.35f);
        run.processNoise();
    }
    reportRealTime (state, run.config);
}

/** Runs the calling thread at real-time priority, as hosts run their audio thread, where the system allows it. */
class RealTimePriority
{
public:
    RealTimePriority()
    {
        pthread_getschedparam (pthread_self(), &previousPolicy, &previousParameters);
        sched_param parameters {};
        parameters.sched_priority = 10;
        granted = pthread_setschedparam (pthread_self(), SCHED_FIFO, &parameters) == 0;
    }

    ~RealTimePriority()
    {
        if (granted)
            pthread_setschedparam (pthread_self(), previousPolicy, &previousParameters);
    }

    bool granted = false;

private:
    int previousPolicy = SCHED_OTHER;
    sched_param previousParameters {};
};

/**
    The worst case for the audio thread: 7.1.4 at 48 kHz in 64-sample blocks (a budget of
    1.33 ms each), with the tone moved in every block (range(0) = 1) or never (0, the
    same blocks' spread from the machine alone). Blocks come at the pace a host calls
    them, on a thread at real-time priority where the system allows it, so that the
    loader thread gets the time it would have there; each block is timed alone, and
    the 99th percentile and the slowest block are what the audio thread must fit in
    its budget.
*/
void processBlockInRealTime (benchmark::State& state)
{
    const Config config { "7.1.4 48k/64", juce::AudioChannelSet::create7point1point4(), 48000.0, 64 };
    const bool moveEveryBlock = state.range (0) != 0;
    BlockRun run (config);
    const auto period = std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (config.block / config.rate));
    std::vector<double> blockMicroseconds;
    blockMicroseconds.reserve ((size_t) state.max_iterations);
    bool flip = false;
    const RealTimePriority priority;
    auto due = Clock::now();

    for (auto _ : state)
    {
        std::this_thread::sleep_until (due);
        due += period;
        flip = ! flip;
        if (moveEveryBlock)
            run.processor->knob1Raw->store (flip ? 0.4f : 0.35f);

        const auto start = Clock::now();
        run.processNoise();
        const double elapsed = std::chrono::duration<double, std::micro> (Clock::now() - start).count();
        blockMicroseconds.push_back (elapsed);
        state.SetIterationTime (elapsed * 1.0e-6);
    }

    std::sort (blockMicroseconds.begin(), blockMicroseconds.end());
    const auto percentile = [&] (double p) { return blockMicroseconds[(size_t) (p * (double) (blockMicroseconds.size() - 1))]; };
    state.counters["p50_us"] = percentile (0.5);
    state.counters["p99_us"] = percentile (0.99);
    state.counters["worst_us"] = blockMicroseconds.back();
    const double budget = 1.0e6 * config.block / config.rate;
    state.counters["budget_us"] = budget;
    state.counters["over_budget"] = (double) (blockMicroseconds.end() - std::upper_bound (blockMicroseconds.begin(), blockMicroseconds.end(), budget));
    state.SetLabel (std::string (moveEveryBlock ? "7.1.4 48k/64, a tone move in every block" : "7.1.4 48k/64, no tone move")
                    + (priority.granted ? ", real-time priority" : ", normal priority"));
}

/**
    One block timed after the engines have settled from the previous tone move, with
    or without a move of its own. Between timed blocks the benchmark waits for the
    loader to build the last responses (it looks at its queue every 10 ms), then runs
    150 ms of blocks for the engines to adopt them and finish their crossfade:
    otherwise the timed block may still be crossfading, or share the processor with
    the loader. The wait and the timer's pauses leave a single block dearer than one
    of a long back-to-back run, so the block with a move is compared with a block
    timed the same way without one.
*/
void timeOneBlockAfterSettling (benchmark::State& state, bool moveTheTone)
{
    BlockRun run (blockConfigs[state.range (0)]);
    bool flip = false;

    for (auto _ : state)
    {
        state.PauseTiming();
        std::this_thread::sleep_for (std::chrono::milliseconds (25));
        const double settleSeconds = 0.15;
        const int settleBlocks = (int) std::ceil (settleSeconds * run.config.rate / run.config.block);
        for (int i = 0; i < settleBlocks; ++i)
            run.processNoise();
        flip = ! flip;
        if (moveTheTone)
            run.processor->knob1Raw->store (flip ? 0.4f : 0.35f);
        state.ResumeTiming();

        run.processNoise();
    }
    reportRealTime (state, run.config);
}

/** A steady block timed as the block with one tone move is: the baseline for its cost. */
void processBlockAfterSettling (benchmark::State& state)
{
    timeOneBlockAfterSettling (state, false);
}

/**
    The block in which a tone control moves: the hypernetwork runs, the cell ramps its
    weights and new responses are queued. The engines' 50 ms crossfade to those
    responses runs in the blocks after it, which processBlockWithToneMove (a move in
    every block) includes.
*/
void processBlockWithOneToneMove (benchmark::State& state)
{
    timeOneBlockAfterSettling (state, true);
}

/**
    One framework convolution engine (a 1,024- or 2,048-tap response, as the models
    have) taking a model block of range(0) samples in calls of at most range(1) samples:
    the measurement behind the processor's choice of call size.
*/
void convolutionEngine (benchmark::State& state)
{
    const int modelSamples = (int) state.range (0);
    const int chunk = (int) state.range (1);
    const int irLength = (int) state.range (2);

    juce::dsp::ConvolutionMessageQueue queue;
    juce::dsp::Convolution engine { queue };
    juce::AudioBuffer<float> response = noiseBlock (1, irLength);
    engine.loadImpulseResponse (std::move (response), 96000.0, juce::dsp::Convolution::Stereo::no,
                                juce::dsp::Convolution::Trim::no, juce::dsp::Convolution::Normalise::no);
    engine.prepare ({ 96000.0, (juce::uint32) chunk, 1 });

    const auto source = noiseBlock (1, modelSamples);
    juce::AudioBuffer<float> buffer (1, modelSamples);
    juce::dsp::AudioBlock<float> block (buffer);

    int phase = 0;

    for (auto _ : state)
    {
        buffer.copyFrom (0, 0, source, 0, 0, modelSamples);
        MorvelAudioProcessor::convolveInChunks (engine, block, chunk, phase);
        phase = (phase + modelSamples) % chunk;
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }
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

//==============================================================================
// The stage breakdown: where a block's time goes. The whole block is timed, then the
// stages that have a public entry point are timed alone on the same prepared processor
// (with the same data sizes); what remains is the chain's other stages. Medians of
// repetitions, since other programs share the machine.

template <typename Work>
double medianMicroseconds (int repetitions, int blocks, Work&& work)
{
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r)
    {
        const auto start = Clock::now();
        for (int b = 0; b < blocks; ++b)
            work();
        times.push_back (std::chrono::duration<double, std::micro> (Clock::now() - start).count() / blocks);
    }
    std::nth_element (times.begin(), times.begin() + (long) times.size() / 2, times.end());
    return times[times.size() / 2];
}

void printStageBreakdown()
{
    // The stages run as processBlock runs them: with denormals flushed.
    juce::ScopedNoDenormals noDenormals;

    std::printf ("\nStage breakdown (median microseconds per block and share of the block):\n");
    std::printf ("%-17s %9s %7s | %17s | %17s | %17s | %17s | %17s\n", "", "block", "rt", "convolution", "recurrent cell",
                 "rate conversion", "true-peak meters", "the rest");

    for (const auto& c : blockConfigs)
    {
        BlockRun run (c);
        MorvelAudioProcessor& p = *run.processor;
        const int blocks = std::max (20, (int) (0.5 / (c.block / c.rate)) / std::max (1, c.set.size() / 2));

        for (int b = 0; b < 20; ++b)
            run.processNoise();

        const double whole = medianMicroseconds (7, blocks, [&] { run.processNoise(); });

        juce::dsp::AudioBlock<float> model (p.modelBuffer);
        const int chunk = MorvelAudioProcessor::convolutionChunkSize (p.modelBlockSize, p.irLength);
        int phase = p.convolutionPhase;
        const double convolution = medianMicroseconds (7, blocks, [&]
        {
            for (int ch = 0; ch < p.numInputChannels; ++ch)
                MorvelAudioProcessor::convolveInChunks (p.convolvers[(size_t) ch], model.getSingleChannelBlock ((size_t) ch), chunk, phase);
            phase = (phase + p.modelBlockSize) % chunk;
        });

        auto& gru = p.useHighRateModel ? p.highRateGru : p.standardRateGru;
        const auto& subnet = p.useHighRateModel ? p.highRateSubnet.ihWeights : p.standardRateSubnet.ihWeights;
        const auto& recurrent = p.useHighRateModel ? p.highRateSubnet.hhWeights : p.standardRateSubnet.hhWeights;
        const double cell = medianMicroseconds (7, blocks, [&]
        {
            gru.forwardBlock (p.modelBuffer.getArrayOfWritePointers(), 0, p.modelBlockSize, subnet, recurrent);
        });

        // Both directions, the down-sampler being also the anti-alias low-pass.
        const int modelChannels = p.modelBuffer.getNumChannels();
        const double conversion = medianMicroseconds (7, blocks, [&]
        {
            p.upsampler.process (run.source.getArrayOfReadPointers(), modelChannels, c.block, p.modelBuffer.getArrayOfWritePointers(), p.modelBlockSize);
            p.downsampler.process (p.modelBuffer.getArrayOfReadPointers(), modelChannels, p.modelBlockSize, run.buffer.getArrayOfWritePointers(), c.block);
        });

        run.buffer.makeCopyOf (run.source, true);
        const double meters = medianMicroseconds (7, blocks, [&]
        {
            p.truePeakMeter.GetTruePeak (run.buffer, 0);
            p.truePeakMeter.GetTruePeak (run.buffer, 1);
        });

        const double rest = std::max (0.0, whole - convolution - cell - conversion - meters);
        auto share = [whole] (double t) { return 100.0 * t / whole; };
        std::printf ("%-17s %9.1f %7.1f | %9.1f %5.1f %% | %9.1f %5.1f %% | %9.1f %5.1f %% | %9.1f %5.1f %% | %9.1f %5.1f %%\n",
                     c.name, whole, 1.0e6 * c.block / c.rate / whole, convolution, share (convolution), cell, share (cell),
                     conversion, share (conversion), meters, share (meters), rest, share (rest));
    }
    std::printf ("(rate conversion: up and down, the anti-alias low-pass inside the down-sampler; "
                 "the rest: input check, gains, the dry/wet mixer, energies and automatic gain)\n");
}

/**
    What prepared instances that receive no audio cost: the process's CPU time over a few
    seconds, as a share of one core, with none first (what the program itself costs
    meanwhile) so that the instances' own share can be told apart. The framework's
    convolution keeps one loader thread per processor, which polls while idle.
*/
void printIdleCost()
{
    std::printf ("\nIdle cost (prepared, no audio; process CPU time over 3 s):\n");
    double programShare = 0.0;

    for (const int instances : { 0, 1, 8 })
    {
        std::vector<std::unique_ptr<MorvelAudioProcessor>> processors;
        for (int i = 0; i < instances; ++i)
            processors.push_back (makeProcessor (blockConfigs[2]));

        juce::Thread::sleep (500);
        const double cpuBefore = juce::Time::getMillisecondCounterHiRes(); // wall clock
        timespec cpuStart {}, cpuEnd {};
        clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
        juce::Thread::sleep (3000);
        clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
        const double wallSeconds = (juce::Time::getMillisecondCounterHiRes() - cpuBefore) / 1000.0;
        const double cpuSeconds = (double) (cpuEnd.tv_sec - cpuStart.tv_sec) + 1.0e-9 * (double) (cpuEnd.tv_nsec - cpuStart.tv_nsec);
        const double share = 100.0 * cpuSeconds / wallSeconds;

        if (instances == 0)
        {
            programShare = share;
            std::printf ("no instance (the program alone): %.3f %% of a core\n", share);
        }
        else
        {
            std::printf ("%d instance%s (7.1.4 48k/512): %.3f %% of a core, %.3f %% each beyond the program\n", instances,
                         instances > 1 ? "s" : "", share, (share - programShare) / instances);
        }
    }
}

BENCHMARK (processBlock)->DenseRange (0, 4)->Unit (benchmark::kMicrosecond);
BENCHMARK (processBlockOnADecayingTail)->Arg (3)->Unit (benchmark::kMicrosecond);
BENCHMARK (processBlockWithToneMove)->Arg (1)->Arg (2)->Unit (benchmark::kMicrosecond);
BENCHMARK (processBlockInRealTime)->Arg (0)->Arg (1)->Iterations (7500)->UseManualTime()->Unit (benchmark::kMicrosecond);
BENCHMARK (processBlockAfterSettling)->Arg (1)->Arg (2)->Iterations (400)->Unit (benchmark::kMicrosecond);
BENCHMARK (processBlockWithOneToneMove)->Arg (1)->Arg (2)->Iterations (400)->Unit (benchmark::kMicrosecond);
BENCHMARK (convolutionEngine)
    ->ArgsProduct ({ { 1024, 1115 }, { 128, 256, 512, 1024, 2048 }, { 1024 } })
    ->ArgsProduct ({ { 2048, 2230 }, { 256, 512, 1024, 2048, 4096 }, { 2048 } })
    ->Unit (benchmark::kMicrosecond);
BENCHMARK (prepareToPlay)->Arg (1)->Arg (2)->Unit (benchmark::kMillisecond);
BENCHMARK (construct)->Unit (benchmark::kMillisecond)->UseRealTime();

// The parameter tree and the convolution engines need JUCE's message manager.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;

    // The stage breakdown and the idle cost come after a full run, or when --stages
    // asks for them; a filtered run measures only what it names.
    bool stagesAsked = false, filtered = false;
    for (int i = 1; i < argc; ++i)
        filtered = filtered || juce::String (argv[i]).startsWith ("--benchmark_filter");
    for (int i = 1; i < argc; ++i)
        if (juce::String (argv[i]) == "--stages")
        {
            stagesAsked = true;
            std::copy (argv + i + 1, argv + argc, argv + i);
            --argc;
            break;
        }

    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (stagesAsked || ! filtered)
    {
        printStageBreakdown();
        printIdleCost();
    }
    return 0;
}
