// The conversion between the host rate and the model rate, stage by stage: the
// band-limited up-sampler and the down-sampler that is also the anti-alias low-pass,
// for a stereo block, with the kernels that preparation designs. Beside them, the
// stages they replaced (the framework's five-point Lagrange interpolators and a
// 46-tap FIR filtering every model sample) at 48 kHz, for comparison.

#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace
{
struct Config
{
    const char* name;
    double rate;
    int block;
};

const Config configs[] = {
    { "stereo 44.1k/512", 44100.0, 512 },
    { "stereo 48k/512", 48000.0, 512 },
    { "stereo 96k/512", 96000.0, 512 },
};

constexpr int channels = 2;

std::vector<float> noise (int n, unsigned seed)
{
    std::vector<float> x ((size_t) n);
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-0.3f, 0.3f);
    for (auto& v : x)
        v = dist (rng);
    return x;
}

/** A processor prepared for the configuration: its kernels are the ones measured. */
std::unique_ptr<MorvelAudioProcessor> preparedProcessor (const Config& c)
{
    auto p = std::make_unique<MorvelAudioProcessor>();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (juce::AudioChannelSet::stereo());
    layout.outputBuses.add (juce::AudioChannelSet::stereo());
    p->setBusesLayout (layout);
    p->prepareToPlay (c.rate, c.block);
    return p;
}

/** Real-time factor of the stage alone: seconds of audio per CPU second. */
void reportRealTime (benchmark::State& state, const Config& c, const ResamplingKernel& kernel)
{
    state.counters["rt_factor"] = benchmark::Counter (c.block / c.rate, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["taps"] = kernel.getTaps();
    state.SetLabel (c.name);
}

/** One block of stereo through one direction's converter, as the chain runs it. */
void convert (benchmark::State& state, bool up)
{
    const auto& c = configs[state.range (0)];
    auto p = preparedProcessor (c);
    const int inputBlock = up ? c.block : p->modelBlockSize;
    const int outputBlock = up ? p->modelBlockSize : c.block;
    const auto& kernel = up ? p->upsamplingKernel : p->downsamplingKernel;
    BandLimitedResampler converter;
    converter.prepare (kernel, inputBlock, outputBlock, inputBlock, channels);
    std::vector<float> input[channels], output[channels];
    const float* inputs[channels];
    float* outputs[channels];

    for (int ch = 0; ch < channels; ++ch)
    {
        input[ch] = noise (inputBlock, (unsigned) ch + 1);
        output[ch].resize ((size_t) outputBlock);
        inputs[ch] = input[ch].data();
        outputs[ch] = output[ch].data();
    }

    for (auto _ : state)
    {
        converter.process (inputs, channels, inputBlock, outputs, outputBlock);
        benchmark::DoNotOptimize (output[0].data());
    }
    reportRealTime (state, c, kernel);
}

void resampleUp (benchmark::State& state)
{
    convert (state, true);
}

/** The down-sampler is also the anti-alias low-pass. */
void resampleDownWithAntiAliasing (benchmark::State& state)
{
    convert (state, false);
}

void lagrangeAndFirBefore (benchmark::State& state)
{
    // The replaced stages at 48 kHz / 512: Lagrange up (512 -> 1024), a 46-tap FIR over
    // all 1024 model samples, Lagrange down (1024 -> 512), per channel.
    const Config& c = configs[1];
    const int modelBlock = 1024;
    auto coefficients = juce::dsp::FilterDesign<float>::designFIRLowpassKaiserMethod (24000.0f, 96000.0, 0.05f, -40.0f);
    juce::LagrangeInterpolator up[channels], down[channels];
    juce::dsp::FIR::Filter<float> filters[channels];
    std::vector<float> input[channels], model[channels], output[channels];

    for (int ch = 0; ch < channels; ++ch)
    {
        filters[ch].coefficients = coefficients;
        filters[ch].prepare ({ 96000.0, (juce::uint32) modelBlock, 1 });
        input[ch] = noise (c.block, (unsigned) ch + 1);
        model[ch].resize ((size_t) modelBlock);
        output[ch].resize ((size_t) c.block);
    }

    for (auto _ : state)
    {
        for (int ch = 0; ch < channels; ++ch)
        {
            up[ch].process (0.5, input[ch].data(), model[ch].data(), modelBlock, c.block, 0);
            float* samples = model[ch].data();
            juce::dsp::AudioBlock<float> block (&samples, 1, (size_t) modelBlock);
            filters[ch].process (juce::dsp::ProcessContextReplacing<float> (block));
            down[ch].process (2.0, model[ch].data(), output[ch].data(), c.block, modelBlock, 0);
        }
        benchmark::DoNotOptimize (output[0].data());
    }
    state.counters["rt_factor"] = benchmark::Counter (c.block / c.rate, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel ("stereo 48k/512, before");
}
} // namespace

BENCHMARK (resampleUp)->DenseRange (0, 2)->Unit (benchmark::kMicrosecond);
BENCHMARK (resampleDownWithAntiAliasing)->DenseRange (0, 2)->Unit (benchmark::kMicrosecond);
BENCHMARK (lagrangeAndFirBefore)->Unit (benchmark::kMicrosecond);
