#pragma once

// Helpers shared by the signal-chain tests: a processor with a chosen layout,
// parameter setting through the parameter objects, block-wise processing of a
// whole signal, and deterministic test signals.

#include "processor/PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <complex>
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
    Resampling done plainly, in double precision, from the kernel's continuous
    prototype: inStep input samples become outStep outputs, output k lying
    (k inStep - extraDelay) / outStep input samples after the first input, less the
    kernel's half width; its weights are the prototype at the exact distances, scaled to
    sum to one. Samples before the signal count as silence. Gives the outputs due by
    the input's end. A reference for BandLimitedResampler and its table.
*/
inline std::vector<float> referenceResample (const ResamplingKernel& kernel, const std::vector<float>& input,
                                             int inStep, int outStep, int extraDelay = 0)
{
    const auto count = ((long long) input.size() * outStep + inStep - 1) / inStep;
    const int taps = kernel.getTaps();
    const int halfWidth = kernel.getHalfWidth();
    std::vector<float> output ((size_t) count);

    for (long long k = 0; k < count; ++k)
    {
        // Counted from one input sample before the first, so that the division rounds down.
        const long long position = k * inStep - extraDelay + outStep;
        const int newest = (int) (position / outStep) - 1;
        const double fraction = (double) (position % outStep) / outStep;

        double sum = 0.0, weights = 0.0;
        for (int q = 0; q < taps; ++q)
        {
            const double w = halfWidth == 0 ? 1.0 : kernel.prototype (fraction + halfWidth - 1 - q);
            const int index = newest - (taps - 1) + q;
            weights += w;
            if (index >= 0)
                sum += w * input[(size_t) index];
        }
        output[(size_t) k] = (float) (sum / weights);
    }
    return output;
}

/** The processor's conversion up to the model rate, done plainly (referenceResample). */
inline std::vector<float> referenceUpsample (const MorvelAudioProcessor& p, const std::vector<float>& input)
{
    return referenceResample (p.upsamplingKernel, input, p.hostStep, p.modelStep, p.upsampler.getExtraDelay());
}

/** The processor's conversion back to the host rate, done plainly: `hostSamples` outputs. */
inline std::vector<float> referenceDownsample (const MorvelAudioProcessor& p, const std::vector<float>& model, int hostSamples)
{
    auto output = referenceResample (p.downsamplingKernel, model, p.modelStep, p.hostStep);
    output.resize ((size_t) hostSamples, 0.0f);
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
    band-limited resampling up (referenceUpsample) and direct convolution with the
    current response. `weightsAt` gives the cell's weights for each model sample. The
    cell runs the first modelSamples model samples, or all of them when it is
    negative. Returns the final hidden state.
*/
template <typename WeightsAt>
Eigen::MatrixXf referenceHiddenState (const MorvelAudioProcessor& p, const Morvel::HyperGRU<float, 1, 1, 8>& freshCell,
                                      const Eigen::MatrixXf& kernel, const std::vector<float>& input,
                                      WeightsAt&& weightsAt, int modelSamples = -1)
{
    const std::vector<float> model = referenceUpsample (p, input);
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

/** Gaussian white noise of the given RMS level, one channel. */
inline std::vector<float> whiteNoise (int samples, float rms, std::uint32_t seed)
{
    std::vector<float> x ((size_t) samples);
    std::mt19937 rng (seed);
    std::normal_distribution<float> dist (0.0f, rms);
    for (auto& v : x)
        v = dist (rng);
    return x;
}

/**
    How closely output, read `latency` samples late, follows input, from sample `from`
    of input on: the delay left over, in samples (positive: the output arrives later),
    from the slope of the cross-spectrum's phase between 100 Hz and 15 kHz; and the
    residual's energy below `bandEdge` relative to the input's, in dB. Averaged over
    Blackman-Harris windowed segments of 4,096 samples, half overlapping: its side lobes
    keep what the chain removes above the band edge out of the bins below it.
*/
struct Alignment
{
    double fraction = 0.0;
    double nullDb = 0.0;
};

inline Alignment measureAlignment (const std::vector<float>& input, const std::vector<float>& output, int latency,
                                   double rate, double bandEdge, size_t from)
{
    constexpr int order = 12, size = 1 << order, hop = size / 2;
    constexpr double twoPi = 2.0 * juce::MathConstants<double>::pi;
    juce::dsp::FFT fft (order);

    std::vector<double> window ((size_t) size);
    for (int i = 0; i < size; ++i)
    {
        const double t = twoPi * i / size;
        window[(size_t) i] = 0.35875 - 0.48829 * std::cos (t) + 0.14128 * std::cos (2.0 * t) - 0.01168 * std::cos (3.0 * t);
    }

    using Complex = std::complex<float>;
    const int bins = size / 2;
    std::vector<std::complex<double>> cross ((size_t) bins);
    std::vector<double> inputPower ((size_t) bins), residualPower ((size_t) bins);
    std::vector<Complex> x ((size_t) size), y ((size_t) size);

    const auto transform = [&] (std::vector<Complex>& destination, const auto& sampleAt)
    {
        auto* data = reinterpret_cast<float*> (destination.data());
        std::fill (data, data + 2 * size, 0.0f);
        for (int i = 0; i < size; ++i)
            data[i] = (float) (window[(size_t) i] * sampleAt (i));
        fft.performRealOnlyForwardTransform (data);
    };

    for (size_t start = from; start + size + (size_t) latency <= output.size() && start + size <= input.size(); start += hop)
    {
        transform (x, [&] (int i) { return (double) input[start + (size_t) i]; });
        transform (y, [&] (int i) { return (double) output[start + (size_t) (i + latency)]; });

        for (int k = 0; k < bins; ++k)
        {
            const std::complex<double> xk (x[(size_t) k]), yk (y[(size_t) k]);
            cross[(size_t) k] += yk * std::conj (xk);
            inputPower[(size_t) k] += std::norm (xk);
            residualPower[(size_t) k] += std::norm (yk - xk);
        }
    }

    double slopeSum = 0.0, weightSum = 0.0, residual = 0.0, reference = 0.0;
    for (int k = 1; k < bins; ++k)
    {
        const double frequency = k * rate / size;
        if (frequency >= 100.0 && frequency <= std::min (15000.0, bandEdge))
        {
            const double omega = twoPi * k / size;
            slopeSum += std::arg (cross[(size_t) k]) * omega;
            weightSum += omega * omega;
        }
        if (frequency <= bandEdge)
        {
            residual += residualPower[(size_t) k];
            reference += inputPower[(size_t) k];
        }
    }

    return { weightSum > 0.0 ? -slopeSum / weightSum : 0.0, 10.0 * std::log10 (residual / reference) };
}

/** The band in which the chain passes its input unchanged: to 20 kHz, or 0.45 of the rate below 44.4 kHz. */
inline double audioBandEdge (double rate) { return std::min (20000.0, 0.45 * rate); }

} // namespace chaintest
