#pragma once

// Helpers shared by the signal-chain tests: a processor with a chosen layout,
// parameter setting through the parameter objects, block-wise processing of a
// whole signal, and deterministic test signals.

#include "processor/PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace chaintest
{
using Signal = std::vector<std::vector<float>>; // [channel][sample]

inline std::unique_ptr<MorvelAudioProcessor> makeProcessor (const juce::AudioChannelSet& set)
{
    auto p = std::make_unique<MorvelAudioProcessor>();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.outputBuses.add (set);
    p->setBusesLayout (layout);
    return p;
}

/** Sets a parameter in its own units, as the host or the editor would. */
inline void setParameter (MorvelAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameterState.getParameter (id);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
}

/** Mix 0 or 100 and automatic gain off: the settings under which the chain is linear or purely wet. */
inline void setMixAndAutoGain (MorvelAudioProcessor& p, float mixPercent, bool autoGain)
{
    setParameter (p, "Mix", mixPercent);
    setParameter (p, "AutoGain", autoGain ? 1.0f : 0.0f);
}

inline Signal silence (int channels, int samples)
{
    return Signal ((size_t) channels, std::vector<float> ((size_t) samples, 0.0f));
}

/** Uniform noise in +-amplitude, the same on every channel unless perChannel is set. */
inline Signal noise (int channels, int samples, float amplitude, std::uint32_t seed, bool perChannel = false)
{
    Signal s = silence (channels, samples);
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-amplitude, amplitude);

    for (int ch = 0; ch < channels; ++ch)
    {
        if (ch > 0 && ! perChannel)
        {
            s[(size_t) ch] = s[0];
            continue;
        }
        for (auto& x : s[(size_t) ch])
            x = dist (rng);
    }
    return s;
}

/**
    Whether the convolution engine of `channel` convolves with `kernel` reversed, the
    response the chain hands it: silence clears its history, then the response to an
    impulse must match tap by tap. The engine is driven as the chain drives it, in the
    chain's call sizes; a whole number of its blocks leaves the chain's phase as it was.
*/
inline bool engineHoldsKernel (MorvelAudioProcessor& p, int channel, const Eigen::MatrixXf& kernel)
{
    const int length = (int) kernel.cols();
    juce::AudioBuffer<float> probe (1, 2 * length);
    probe.clear();
    probe.setSample (0, length, 1.0f);

    const int chunk = MorvelAudioProcessor::convolutionChunkSize (p.modelBlockSize, p.irLength);
    MorvelAudioProcessor::convolveInChunks (p.convolvers[(size_t) channel], juce::dsp::AudioBlock<float> (probe), chunk,
                                            p.convolutionPhase);

    for (int j = 0; j < length; ++j)
        if (std::abs (probe.getSample (0, length + j) - kernel (0, length - 1 - j)) > 1.0e-5f)
            return false;
    return true;
}

/** Runs the signal through the processor in blocks whose sizes cycle through `sizes`. */
inline Signal processInSizes (MorvelAudioProcessor& p, const Signal& input, const std::vector<int>& sizes)
{
    const int channels = (int) input.size();
    const int total = channels > 0 ? (int) input[0].size() : 0;
    Signal output = silence (channels, total);
    juce::MidiBuffer midi;

    for (int start = 0, k = 0; start < total; ++k)
    {
        const int n = std::min (sizes[(size_t) k % sizes.size()], total - start);
        juce::AudioBuffer<float> buffer (channels, n);

        for (int ch = 0; ch < channels; ++ch)
            buffer.copyFrom (ch, 0, input[(size_t) ch].data() + start, n);

        p.processBlock (buffer, midi);

        for (int ch = 0; ch < channels; ++ch)
            std::copy (buffer.getReadPointer (ch), buffer.getReadPointer (ch) + n, output[(size_t) ch].begin() + start);
        start += n;
    }
    return output;
}

/** Runs the signal through the processor in blocks of blockSize (the last one may be shorter). */
inline Signal process (MorvelAudioProcessor& p, const Signal& input, int blockSize)
{
    return processInSizes (p, input, { blockSize });
}

/** Processes one block of the given samples in place. */
inline void processOne (MorvelAudioProcessor& p, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi);
}

inline bool allFinite (const Signal& s)
{
    for (const auto& channel : s)
        for (float x : channel)
            if (! std::isfinite (x))
                return false;
    return true;
}

inline float peak (const std::vector<float>& channel)
{
    float m = 0.0f;
    for (float x : channel)
        m = std::max (m, std::abs (x));
    return m;
}

inline double energy (const std::vector<float>& channel, size_t from = 0, size_t to = SIZE_MAX)
{
    double e = 0.0;
    for (size_t i = from; i < std::min (to, channel.size()); ++i)
        e += (double) channel[i] * channel[i];
    return e;
}

/** Energy centroid of a response in samples: where an impulse "arrives". */
inline double arrival (const std::vector<float>& channel)
{
    double weighted = 0.0, total = 0.0;
    for (size_t i = 0; i < channel.size(); ++i)
    {
        const double e = (double) channel[i] * channel[i];
        weighted += e * (double) i;
        total += e;
    }
    return total > 0.0 ? weighted / total : -1.0;
}

/**
    Block-tied resampling done plainly, in double precision, from the kernel's
    continuous prototype: output j of block b lies j * inBlock / outBlock input samples
    after the block's first sample, less the kernel's half width, and its weights are
    the prototype at the exact distances, scaled to sum to one. Samples before the
    signal count as silence. A reference for BandLimitedResampler and its table.
*/
inline std::vector<float> referenceResample (const ResamplingKernel& kernel, const std::vector<float>& input,
                                             int inBlock, int outBlock)
{
    const int blocks = (int) input.size() / inBlock;
    const int taps = kernel.getTaps();
    const int halfWidth = kernel.getHalfWidth();
    std::vector<float> output ((size_t) (blocks * outBlock));

    for (int b = 0; b < blocks; ++b)
    {
        for (int j = 0; j < outBlock; ++j)
        {
            const long long position = (long long) j * inBlock;
            const int newest = b * inBlock + (int) (position / outBlock);
            const double fraction = (double) (position % outBlock) / outBlock;

            double sum = 0.0, weights = 0.0;
            for (int q = 0; q < taps; ++q)
            {
                const double w = halfWidth == 0 ? 1.0 : kernel.prototype (fraction + halfWidth - 1 - q);
                const int index = newest - (taps - 1) + q;
                weights += w;
                if (index >= 0)
                    sum += w * input[(size_t) index];
            }
            output[(size_t) (b * outBlock + j)] = (float) (sum / weights);
        }
    }
    return output;
}

inline size_t peakIndex (const std::vector<float>& channel)
{
    size_t best = 0;
    for (size_t i = 1; i < channel.size(); ++i)
        if (std::abs (channel[i]) > std::abs (channel[best]))
            best = i;
    return best;
}
/**
    The recurrent cell's state after a mono signal, built independently: plain
    band-limited resampling up (referenceResample, blocks of hostBlock) and direct
    convolution with the current response. `weightsAt` gives the cell's weights for
    each model sample. The cell runs the first modelSamples model samples, or all of
    them when it is negative. Returns the final hidden state.
*/
template <typename WeightsAt>
Eigen::MatrixXf referenceHiddenState (const MorvelAudioProcessor& p, const Morvel::HyperGRU<float, 1, 1, 8>& freshCell,
                                      const Eigen::MatrixXf& kernel, const std::vector<float>& input, int hostBlock,
                                      WeightsAt&& weightsAt, int modelSamples = -1)
{
    const std::vector<float> model = referenceResample (p.upsamplingKernel, input, hostBlock, p.modelBlockSize);
    const int modelTotal = modelSamples < 0 ? (int) model.size() : std::min (modelSamples, (int) model.size());

    auto cell = freshCell;
    cell.reset (1, modelTotal);
    const int n = (int) kernel.cols();
    for (int t = 0; t < modelTotal; ++t)
    {
        double sum = 0.0;
        for (int j = 0; j <= std::min (t, n - 1); ++j)
            sum += (double) kernel (0, n - 1 - j) * model[(size_t) (t - j)];
        cell.cellInput (0, 0) = (float) sum;

        const auto& [ih, hh] = weightsAt (t);
        cell.forward_cell (cell.cellInput, ih, hh);
    }
    return cell.hiddenState;
}
} // namespace chaintest
