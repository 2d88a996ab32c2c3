// The conversion between the host rate and the model rate: the kernels against their
// design, the fast resampler against a plain one, and what a listener gets end to
// end: a flat, alias-free, linear-phase clean delay at Mix 0, and the model's own
// tone, without inharmonic products, at Mix 100.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <iostream>
#include <limits>
#include <tuple>

using namespace chaintest;

namespace
{
constexpr double pi = juce::MathConstants<double>::pi;

double toDb (double ratio) { return 20.0 * std::log10 (ratio); }

std::vector<float> sine (double frequency, double rate, float amplitude, int samples, double phase = 0.0)
{
    std::vector<float> x ((size_t) samples);
    for (int i = 0; i < samples; ++i)
        x[(size_t) i] = amplitude * (float) std::sin (2.0 * pi * frequency * i / rate + phase);
    return x;
}

/**
    Least-squares fit of a constant and of sines at the given frequencies (cycles per
    sample) to x[from, from + count): the amplitude of each sine, and the power of
    what the fit leaves.
*/
struct Fit
{
    std::vector<double> amplitudes;
    double residualPower = 0.0;
};

Fit fitSines (const std::vector<float>& x, size_t from, size_t count, const std::vector<double>& frequencies)
{
    const auto columns = (Eigen::Index) (2 * frequencies.size() + 1);
    Eigen::MatrixXd basis ((Eigen::Index) count, columns);
    Eigen::VectorXd y ((Eigen::Index) count);

    for (size_t i = 0; i < count; ++i)
    {
        const auto row = (Eigen::Index) i;
        const double t = (double) (from + i);
        basis (row, 0) = 1.0;
        for (size_t k = 0; k < frequencies.size(); ++k)
        {
            basis (row, (Eigen::Index) (2 * k + 1)) = std::cos (2.0 * pi * frequencies[k] * t);
            basis (row, (Eigen::Index) (2 * k + 2)) = std::sin (2.0 * pi * frequencies[k] * t);
        }
        y (row) = x[from + i];
    }

    const Eigen::VectorXd c = (basis.transpose() * basis).ldlt().solve (basis.transpose() * y);
    Fit fit;
    for (size_t k = 0; k < frequencies.size(); ++k)
        fit.amplitudes.push_back (std::hypot (c ((Eigen::Index) (2 * k + 1)), c ((Eigen::Index) (2 * k + 2))));
    fit.residualPower = (y - basis * c).squaredNorm() / (double) count;
    return fit;
}

/**
    The steps of the processor's conversion up or down (input samples, then outputs per
    cycle), the whole cycles that make a block of about 512 input samples, and the
    extra delay that the chain gives that converter.
*/
struct Conversion
{
    int inStep, outStep, cycles, extraDelay;
    const ResamplingKernel& kernel;

    Conversion (const MorvelAudioProcessor& p, bool up)
        : inStep (up ? p.hostStep : p.modelStep), outStep (up ? p.modelStep : p.hostStep),
          cycles (std::max (1, 512 / inStep)), extraDelay (up ? p.upsampler.getExtraDelay() : 0),
          kernel (up ? p.upsamplingKernel : p.downsamplingKernel)
    {
    }

    int inBlock() const { return cycles * inStep; }
    int outBlock() const { return cycles * outStep; }
};

/** A mono processor at the given settings (automatic gain off), prepared. */
std::unique_ptr<MorvelAudioProcessor> prepared (double rate, int block, float mix, float knob1 = 0.35f, float knob2 = 0.35f)
{
    auto p = makeProcessor (juce::AudioChannelSet::mono());
    setMixAndAutoGain (*p, mix, false);
    setParameter (*p, "Knob1", knob1);
    setParameter (*p, "Knob2", knob2);
    p->prepareToPlay (rate, block);
    return p;
}

/** Gain in dB of a windowed FIR (taps in time order) at a frequency in cycles per sample. */
double firGainDb (const float* taps, int count, double frequency)
{
    std::complex<double> sum = 0.0;
    for (int k = 0; k < count; ++k)
        sum += (double) taps[k] * std::polar (1.0, -2.0 * pi * frequency * k);
    return toDb (std::abs (sum));
}

const double standardRates[] = { 44100.0, 48000.0, 96000.0, 192000.0 };

/** Flatness allowed from 20 Hz to 20 kHz: 20 kHz lies close to 44.1 kHz's Nyquist frequency. */
double flatnessDb (double rate) { return rate == 44100.0 ? 0.1 : 0.01; }

/** Samples to skip before measuring: the chain's delay and the model's response. */
int settle (const MorvelAudioProcessor& p) { return p.getLatencySamples() + 4096; }

/** A signal length of whole 512-sample blocks: at least the settling time and `seconds` more. */
int lengthFor (const MorvelAudioProcessor& p, double rate, double seconds)
{
    return (settle (p) + (int) (seconds * rate) + 511) / 512 * 512;
}
} // namespace

TEST (ResamplingKernel, TheAntiAliasLowPassIsLinearPhaseFlatAndStopsFromTheHostsNyquistFrequency)
{
    for (double rate : { 44100.0, 48000.0, 96000.0 })
    {
        SCOPED_TRACE (testing::Message() << rate << " Hz");
        auto p = prepared (rate, 512, 0.0f);
        const auto& kernel = p->downsamplingKernel;
        const int taps = kernel.getTaps();
        const double modelRate = p->modelRate;

        for (int phase : { 0, kernel.getPhases() / 4, kernel.getPhases() / 2 })
        {
            const float* row = kernel.row (phase);
            double sum = 0.0;
            for (int q = 0; q < taps; ++q)
                sum += row[q];
            EXPECT_NEAR (sum, 1.0, 1.0e-6) << "phase " << phase;

            // The rows on a whole and on a half sample are symmetric; the rest are
            // the same low-pass, shifted by a fraction of a sample.
            const int mirror = phase == 0 ? taps - 2 : taps - 1;
            if (phase == 0 || phase == kernel.getPhases() / 2)
            {
                for (int q = 0; q <= mirror; ++q)
                    ASSERT_EQ (row[q], row[mirror - q]) << q;
            }

            double worstPass = 0.0, worstStop = -400.0;
            for (double f = 20.0; f <= 20000.0; f *= 1.02)
                worstPass = std::max (worstPass, std::abs (firGainDb (row, taps, f / modelRate)));
            for (double f = rate / 2; f <= modelRate / 2; f += 37.0)
                worstStop = std::max (worstStop, firGainDb (row, taps, f / modelRate));

            EXPECT_LT (worstPass, 0.01) << "phase " << phase;
            EXPECT_LT (worstStop, -100.0) << "phase " << phase;
        }
    }
}

TEST (DotProduct, TheFastestVersionAgreesWithThePortableOne)
{
    // Lengths around the vector widths, and the kernels' own.
    std::mt19937 rng (9);
    std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
    const auto& fast = DotProduct::fastest();
    const auto& plain = DotProduct::portable();

    for (int n : { 0, 1, 7, 8, 9, 15, 16, 17, 44, 78, 172, 334 })
    {
        std::vector<float> a ((size_t) n), b ((size_t) n), c ((size_t) n);
        for (size_t i = 0; i < a.size(); ++i)
        {
            a[i] = dist (rng);
            b[i] = dist (rng);
            c[i] = dist (rng);
        }

        double exact = 0.0, exactOther = 0.0, scale = 0.0;
        for (size_t i = 0; i < a.size(); ++i)
        {
            exact += (double) a[i] * c[i];
            exactOther += (double) b[i] * c[i];
            scale += std::abs ((double) a[i] * c[i]) + std::abs ((double) b[i] * c[i]);
        }
        const double tolerance = 1.0e-6 * std::max (1.0, scale);

        // Four outputs sharing row a, each reading c three samples further on.
        std::vector<float> longer (c);
        longer.insert (longer.end(), { 0.5f, -0.25f, 0.75f, -1.0f, 0.125f, 0.3f, -0.6f, 0.9f, 0.2f });
        float fastFour[4] = {}, plainFour[4] = {};
        fast.quad (a.data(), longer.data(), 3, n, fastFour);
        plain.quad (a.data(), longer.data(), 3, n, plainFour);
        for (int m = 0; m < 4; ++m)
        {
            double shifted = 0.0;
            for (size_t i = 0; i < a.size(); ++i)
                shifted += (double) a[i] * longer[i + (size_t) (3 * m)];
            EXPECT_NEAR (fastFour[m], shifted, tolerance + 1.0e-6 * n) << n << ", output " << m;
            EXPECT_NEAR (plainFour[m], shifted, tolerance + 1.0e-6 * n) << n << ", output " << m;
        }

        float fast0 = 0.0f, fast1 = 0.0f, plain0 = 0.0f, plain1 = 0.0f;
        fast.pair (a.data(), b.data(), c.data(), n, fast0, fast1);
        plain.pair (a.data(), b.data(), c.data(), n, plain0, plain1);
        EXPECT_NEAR (fast.single (a.data(), c.data(), n), exact, tolerance) << n;
        EXPECT_NEAR (plain.single (a.data(), c.data(), n), exact, tolerance) << n;
        EXPECT_NEAR (fast0, exact, tolerance) << n;
        EXPECT_NEAR (fast1, exactOther, tolerance) << n;
        EXPECT_NEAR (plain0, exact, tolerance) << n;
        EXPECT_NEAR (plain1, exactOther, tolerance) << n;
    }
}

TEST (DotProduct, ARowSharedByChannelsGivesEachChannelItsOwnInnerProductExactly)
{
    // The shared version reads the row once for several channels; each sum must be the
    // single product's, bit for bit, so that converting channels together changes nothing.
    std::mt19937 rng (12);
    std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
    const int channelStride = 400;

    for (const auto* products : { &DotProduct::fastest(), &DotProduct::portable() })
        for (int n : { 1, 8, 15, 16, 24, 80, 336 })
            for (int channels : { 1, 2, 3, 4, 5, 12 })
            {
                std::vector<float> row ((size_t) n), lines ((size_t) (channels * channelStride));
                for (auto& v : row)
                    v = dist (rng);
                for (auto& v : lines)
                    v = dist (rng);

                float sums[12] = {};
                products->shared (row.data(), lines.data(), channelStride, channels, n, sums);
                for (int c = 0; c < channels; ++c)
                    ASSERT_EQ (sums[c], products->single (row.data(), lines.data() + c * channelStride, n))
                        << n << " taps, channel " << c << " of " << channels;
            }
}

TEST (ResamplingKernel, AKernelCutAtTheInputsNyquistFrequencyCopiesItsWholeSampleOutputs)
{
    // The up-sampler at 48 kHz: every other model sample is a host sample, copied exactly.
    auto p = prepared (48000.0, 512, 0.0f);
    const auto& kernel = p->upsamplingKernel;
    ASSERT_EQ (kernel.unitTap (0), kernel.getHalfWidth() - 1);
    EXPECT_EQ (kernel.row (0)[kernel.getHalfWidth() - 1], 1.0f);
    EXPECT_EQ (kernel.unitTap (kernel.getPhases() / 2), -1);
    EXPECT_EQ (p->downsamplingKernel.unitTap (0), -1);
}

TEST (BandLimitedResampler, MatchesAPlainResamplerInDoublePrecision)
{
    // Both converters as the chain prepares them, the up-sampler with its extra delay,
    // in the chain's blocks: each block gets the outputs due within it.
    struct Case { double rate; int block; };
    for (const auto& c : { Case { 44100.0, 512 }, Case { 48000.0, 64 }, Case { 88200.0, 333 }, Case { 384000.0, 7 },
                           Case { 22050.0, 100 }, Case { 352800.0, 64 } })
    {
        SCOPED_TRACE (testing::Message() << c.rate << " Hz, block " << c.block);
        auto p = prepared (c.rate, c.block, 0.0f);
        const int hostBlock = c.block;
        const int blocks = 12;
        const auto input = noise (1, blocks * hostBlock, 0.9f, 3)[0];
        const auto dueBy = [&] (std::int64_t n) { return (int) ((n * p->modelStep + p->hostStep - 1) / p->hostStep); };

        BandLimitedResampler up, down;
        up.prepare (p->upsamplingKernel, p->hostStep, p->modelStep, hostBlock);
        up.setExtraDelay (p->upsampler.getExtraDelay());
        down.prepare (p->downsamplingKernel, p->modelStep, p->hostStep, p->modelBlockSize);
        std::vector<float> model ((size_t) dueBy (blocks * hostBlock)), output (input.size());
        for (int b = 0; b < blocks; ++b)
        {
            const int first = dueBy (b * hostBlock), count = dueBy ((b + 1) * hostBlock) - first;
            up.process (input.data() + b * hostBlock, hostBlock, model.data() + first, count);
            down.process (model.data() + first, count, output.data() + b * hostBlock, hostBlock);
        }

        const auto expectedModel = referenceUpsample (*p, input);
        const auto expectedOutput = referenceDownsample (*p, model, (int) output.size());
        ASSERT_EQ (expectedModel.size(), model.size());
        for (size_t i = 0; i < model.size(); ++i)
            ASSERT_NEAR (model[i], expectedModel[i], 1.0e-5f) << "model sample " << i;
        for (size_t i = 0; i < output.size(); ++i)
            ASSERT_NEAR (output[i], expectedOutput[i], 1.0e-5f) << "host sample " << i;
    }
}

TEST (BandLimitedResampler, BlendsPhaseRowsWhereNoPositionsAreTabulated)
{
    // As for a ratio whose cycle of positions is too long for a table (a host rate that
    // is not a round number), with and without an extra delay.
    const auto signal = noise (1, 8 * 1115, 0.9f, 4)[0];
    const ResamplingKernel::Targets up { 20000.0 / 44100.0, 24100.0 / 44100.0, 110.0 };
    const ResamplingKernel::Targets down { 20000.0 / 96037.5, 22050.0 / 96037.5, 110.0 };

    for (const auto& [targets, inBlock, outBlock, extraDelay] : { std::tuple { up, 512, 1115, 0 }, std::tuple { down, 1115, 512, 0 },
                                                                   std::tuple { up, 512, 1115, 731 }, std::tuple { down, 1115, 512, 301 } })
    {
        ResamplingKernel kernel;
        kernel.design (targets, ResamplingKernel::halfWidthFor (targets));
        ASSERT_EQ (kernel.getPositionCycle(), 0);

        BandLimitedResampler resampler;
        resampler.prepare (kernel, inBlock, outBlock, inBlock);
        resampler.setExtraDelay (extraDelay);
        std::vector<float> output ((size_t) (8 * outBlock));
        for (int b = 0; b < 8; ++b)
            resampler.process (signal.data() + b * inBlock, inBlock, output.data() + b * outBlock, outBlock);

        const std::vector<float> input (signal.begin(), signal.begin() + 8 * inBlock);
        const auto expected = referenceResample (kernel, input, inBlock, outBlock, extraDelay);
        for (size_t i = 0; i < output.size(); ++i)
            ASSERT_NEAR (output[i], expected[i], 1.0e-5f) << inBlock << " to " << outBlock << ", sample " << i;
    }
}

TEST (ResamplingEndToEnd, AtMixZeroTheChainIsFlatFromTwentyHertzToTwentyKilohertz)
{
    for (double rate : standardRates)
    {
        auto p = prepared (rate, 512, 0.0f);
        const int length = lengthFor (*p, rate, 0.25);
        double worst = 0.0;

        for (double f : { 20.0, 100.0, 1000.0, 5000.0, 10000.0, 15000.0, 19000.0, 20000.0 })
        {
            p->prepareToPlay (rate, 512);
            const auto output = process (*p, { sine (f, rate, 0.5f, length) }, 512)[0];
            const auto fit = fitSines (output, (size_t) settle (*p), (size_t) (length - settle (*p)), { f / rate });
            const double gainDb = toDb (fit.amplitudes[0] / 0.5);
            EXPECT_LT (std::abs (gainDb), flatnessDb (rate)) << rate << " Hz, " << f << " Hz";
            worst = std::max (worst, std::abs (gainDb));
        }
        std::cout << "[ resampling ] " << rate << " Hz, Mix 0: largest gain error 20 Hz - 20 kHz " << worst << " dB\n";
    }
}

TEST (ResamplingEndToEnd, AtMixZeroSinesComeBackWithoutSpuriousComponents)
{
    // Images and aliases of the conversion would appear as components at other
    // frequencies; everything the fit of the sine itself leaves must stay below -100 dBc.
    for (double rate : standardRates)
    {
        auto p = prepared (rate, 512, 0.0f);
        const int length = lengthFor (*p, rate, 0.25);
        double worst = -400.0;

        for (double f : { 1000.0, 5000.0, 10000.0, 15000.0, 19000.0 })
        {
            p->prepareToPlay (rate, 512);
            const float amplitude = 0.5f; // -6 dBFS
            const auto output = process (*p, { sine (f, rate, amplitude, length) }, 512)[0];
            const auto fit = fitSines (output, (size_t) settle (*p), (size_t) (length - settle (*p)), { f / rate });
            const double spuriousDbc = 10.0 * std::log10 (fit.residualPower / (0.5 * fit.amplitudes[0] * fit.amplitudes[0]));
            EXPECT_LT (spuriousDbc, -100.0) << rate << " Hz, " << f << " Hz";
            worst = std::max (worst, spuriousDbc);
        }
        std::cout << "[ resampling ] " << rate << " Hz, Mix 0: worst spurious " << worst << " dBc\n";
    }
}

TEST (ResamplingEndToEnd, AtMixZeroTheOutputIsTheInputDelayedByTheReportedLatencyAtEveryRateAndBlock)
{
    // What a null test against the dry track sees, with the host compensating the
    // reported latency: no fraction of a sample left over (which would comb-filter
    // against every other track) and nothing but the band's edge lost, however the host
    // cuts the stream. Prepared blocks, then blocks of changing size within and beyond
    // the prepared one.
    const std::vector<int> changingSizes { 1, 7, 64, 333, 512, 4096, 2048, 100, 1024, 256, 960, 128 };
    constexpr int changing = 0;

    for (double rate : { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 })
    {
        auto p = makeProcessor (juce::AudioChannelSet::mono());
        setMixAndAutoGain (*p, 0.0f, false);
        p->prepareToPlay (rate, 512);
        const int latency = p->getLatencySamples();
        const auto from = (size_t) (latency + 8192);
        const auto input = whiteNoise ((int) from + (int) (0.75 * rate) + latency, 0.1f, 3);
        double worstFraction = 0.0, worstNull = -std::numeric_limits<double>::infinity();

        for (int block : { 32, 64, 333, 512, 1024, 4096, 8192, changing })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, " << (block == changing ? "changing blocks" : "block ") << block);
            p->prepareToPlay (rate, block == changing ? 1024 : block);
            ASSERT_EQ (p->getLatencySamples(), latency);

            const auto output = block == changing ? processInSizes (*p, { input }, changingSizes)[0] : process (*p, { input }, block)[0];
            const auto alignment = measureAlignment (input, output, latency, rate, audioBandEdge (rate), from);
            EXPECT_LT (std::abs (alignment.fraction), 0.001);
            EXPECT_LE (alignment.nullDb, -60.0);
            worstFraction = std::max (worstFraction, std::abs (alignment.fraction));
            worstNull = std::max (worstNull, alignment.nullDb);
        }
        std::cout << "[ alignment ] " << rate << " Hz, Mix 0, latency " << latency << ": largest fraction " << worstFraction
                  << " samples, null below " << audioBandEdge (rate) << " Hz at most " << worstNull << " dB\n";
    }
}

namespace
{
/** Knob1 and Knob2 at the NEUTRAL corner of the pad. */
constexpr float neutral = 0.0f;
constexpr float quietAmplitude = 0.031622777f; // -30 dBFS
} // namespace

TEST (ResamplingEndToEnd, AtMixHundredTheModelAddsNoInharmonicProducts)
{
    // The cell's own harmonics below the host's Nyquist frequency belong to the tone;
    // what a fit of the sine, its harmonics and a constant leaves is inharmonic.
    for (double rate : standardRates)
    {
        auto p = prepared (rate, 512, 100.0f, neutral, neutral);
        const int length = lengthFor (*p, rate, 0.25);
        double worst = -400.0;

        for (double f : { 1000.0, 5000.0, 10000.0, 15000.0, 19000.0 })
        {
            p->prepareToPlay (rate, 512);
            const auto output = process (*p, { sine (f, rate, quietAmplitude, length) }, 512)[0];

            std::vector<double> harmonics;
            for (int k = 1; k * f < 0.5 * rate; ++k)
                harmonics.push_back (k * f / rate);

            const auto fit = fitSines (output, (size_t) settle (*p), (size_t) (length - settle (*p)), harmonics);
            const double inharmonicDbc = 10.0 * std::log10 (fit.residualPower / (0.5 * fit.amplitudes[0] * fit.amplitudes[0]));
            EXPECT_LT (inharmonicDbc, -100.0) << rate << " Hz, " << f << " Hz";
            worst = std::max (worst, inharmonicDbc);
        }
        std::cout << "[ resampling ] " << rate << " Hz, Mix 100, NEUTRAL, -30 dBFS: worst inharmonic " << worst << " dBc\n";
    }
}

namespace
{
/**
    Gain of the model itself at its own rate for a sine at `frequency` (cycles per
    model sample): the reversed kernel convolved directly, then the cell, as the
    chain runs them, with no conversion.
*/
double modelRateGain (const MorvelAudioProcessor& p, double frequency)
{
    const bool high = p.useHighRateModel;
    const Eigen::MatrixXf& kernel = high ? p.highRateSubnet.convKernel : p.standardRateSubnet.convKernel;
    const Eigen::MatrixXf& ih = high ? p.highRateSubnet.ihWeights : p.standardRateSubnet.ihWeights;
    const Eigen::MatrixXf& hh = high ? p.highRateSubnet.hhWeights : p.standardRateSubnet.hhWeights;
    auto cell = high ? p.highRateGru : p.standardRateGru;

    const int n = (int) kernel.cols();
    const int length = 4 * n + (int) (0.1 / frequency * 1000.0) + 8192;
    cell.reset (1, length);
    const auto x = sine (frequency, 1.0, quietAmplitude, length);

    std::vector<float> y ((size_t) length);
    for (int t = 0; t < length; ++t)
    {
        double sum = 0.0;
        for (int j = 0; j <= std::min (t, n - 1); ++j)
            sum += (double) kernel (0, n - 1 - j) * x[(size_t) (t - j)];
        cell.cellInput (0, 0) = (float) sum;
        cell.forward_cell (cell.cellInput, ih, hh);
        y[(size_t) t] = cell.cellOutput (0, 0);
    }

    const size_t from = (size_t) (2 * n);
    return fitSines (y, from, y.size() - from, { frequency }).amplitudes[0] / quietAmplitude;
}
} // namespace

TEST (ResamplingEndToEnd, TheModelsToneReachesTheHostRateOutputWithinATenthOfADecibel)
{
    for (double rate : { 44100.0, 48000.0 })
    {
        for (const auto& [knob1, knob2] : { std::pair { neutral, neutral }, std::pair { 0.35f, 0.35f }, std::pair { 0.0f, 1.0f } })
        {
            auto p = prepared (rate, 512, 100.0f, knob1, knob2);
            const int length = lengthFor (*p, rate, 0.25);
            double worst = 0.0;

            for (double f : { 50.0, 200.0, 1000.0, 3000.0, 6000.0, 10000.0, 15000.0, 19000.0, 20000.0 })
            {
                p->prepareToPlay (rate, 512);
                const auto output = process (*p, { sine (f, rate, quietAmplitude, length) }, 512)[0];
                const auto fit = fitSines (output, (size_t) settle (*p), (size_t) (length - settle (*p)), { f / rate });
                const double hostDb = toDb (fit.amplitudes[0] / quietAmplitude);
                const double modelDb = toDb (modelRateGain (*p, f / p->modelRate));
                EXPECT_NEAR (hostDb, modelDb, 0.1) << rate << " Hz, knobs " << knob1 << "/" << knob2 << ", " << f << " Hz";
                worst = std::max (worst, std::abs (hostDb - modelDb));
            }
            std::cout << "[ resampling ] " << rate << " Hz, knobs " << knob1 << "/" << knob2
                      << ": host-rate response within " << worst << " dB of the model-rate one\n";
        }
    }
}

namespace
{
/**
    Each channel converted by a converter of its own, as a reference, in blocks of whole
    cycles of the ratio inStep : outStep.
*/
std::vector<std::vector<float>> convertAlone (const ResamplingKernel& kernel, const std::vector<std::vector<float>>& input,
                                              int inStep, int outStep, const std::vector<int>& blockOrder, int extraDelay = 0)
{
    std::vector<std::vector<float>> output;
    for (const auto& channel : input)
    {
        BandLimitedResampler alone;
        alone.prepare (kernel, inStep, outStep, *std::max_element (blockOrder.begin(), blockOrder.end()));
        alone.setExtraDelay (extraDelay);
        std::vector<float> y;
        size_t read = 0;
        for (int count : blockOrder)
        {
            std::vector<float> out ((size_t) (count / inStep * outStep));
            alone.process (channel.data() + read, count, out.data(), (int) out.size());
            read += (size_t) count;
            y.insert (y.end(), out.begin(), out.end());
        }
        output.push_back (y);
    }
    return output;
}
} // namespace

TEST (BandLimitedResampler, ConvertsEveryChannelAsItWouldBeConvertedAlone)
{
    // Tabulated fractional positions (44.1 and 176.4 kHz, the up-samplers with their
    // extra delay), unit taps and four-at-a-time rows (48 kHz) and blended rows, for
    // channel counts on both sides of the groups the products share a row across.
    // Whole cycles only, so that the reference's output counts are exact.
    const ResamplingKernel::Targets blendUp { 20000.0 / 44100.0, 24100.0 / 44100.0, 110.0 };
    ResamplingKernel blended;
    blended.design (blendUp, ResamplingKernel::halfWidthFor (blendUp));

    struct Case { double rate; bool up; bool useBlended; };
    for (const auto& c : { Case { 44100.0, true, false }, Case { 44100.0, false, false }, Case { 48000.0, true, false },
                           Case { 48000.0, false, false }, Case { 176400.0, true, false }, Case { 44100.0, true, true } })
    {
        auto p = prepared (c.rate, 512, 0.0f);
        const Conversion conversion (*p, c.up);
        const int inBlock = conversion.inBlock(), outBlock = conversion.outBlock();
        const auto& kernel = c.useBlended ? blended : conversion.kernel;
        ASSERT_EQ (kernel.getPositionCycle() == 0, c.useBlended);

        for (int channels : { 2, 3, 5, 12 })
        {
            SCOPED_TRACE (testing::Message() << c.rate << " Hz" << (c.up ? ", up" : ", down")
                                             << (c.useBlended ? ", blended" : "") << ", " << channels << " channels");
            const std::vector<int> blockOrder (6, inBlock);
            const auto input = noise (channels, 6 * inBlock, 0.9f, 20 + (unsigned) channels, true);
            const auto expected = convertAlone (kernel, input, conversion.inStep, conversion.outStep, blockOrder, conversion.extraDelay);

            for (const auto* products : { &DotProduct::fastest(), &DotProduct::portable() })
            {
                BandLimitedResampler together;
                together.prepare (kernel, conversion.inStep, conversion.outStep, inBlock, channels, *products);
                together.setExtraDelay (conversion.extraDelay);
                std::vector<std::vector<float>> output ((size_t) channels, std::vector<float> ((size_t) (6 * outBlock)));

                for (int b = 0; b < 6; ++b)
                {
                    std::vector<const float*> in;
                    std::vector<float*> out;
                    for (int ch = 0; ch < channels; ++ch)
                    {
                        in.push_back (input[(size_t) ch].data() + b * inBlock);
                        out.push_back (output[(size_t) ch].data() + b * outBlock);
                    }
                    together.process (in.data(), channels, inBlock, out.data(), outBlock);
                }

                // The fastest products are the reference's own, so the outputs are equal;
                // the portable ones sum in another order.
                const float tolerance = products == &DotProduct::fastest() ? 0.0f : 1.0e-6f;
                for (int ch = 0; ch < channels; ++ch)
                    for (size_t i = 0; i < output[(size_t) ch].size(); ++i)
                        ASSERT_NEAR (output[(size_t) ch][i], expected[(size_t) ch][i], tolerance) << "channel " << ch << ", sample " << i;
            }
        }
    }
}

TEST (BandLimitedResampler, APreparedChannelLeftOutOfABlockHearsSilenceInIt)
{
    auto p = prepared (44100.0, 512, 0.0f);
    const Conversion up (*p, true);
    const int inBlock = up.inBlock(), outBlock = up.outBlock();
    const auto input = noise (2, 4 * inBlock, 0.9f, 31, true);

    // The second channel is left out of the second block: its reference hears silence there.
    auto silenced = input;
    std::fill (silenced[1].begin() + inBlock, silenced[1].begin() + 2 * inBlock, 0.0f);
    const auto expected = convertAlone (up.kernel, silenced, up.inStep, up.outStep, std::vector<int> (4, inBlock));

    BandLimitedResampler together;
    together.prepare (up.kernel, up.inStep, up.outStep, inBlock, 2);
    std::vector<std::vector<float>> output (2, std::vector<float> ((size_t) (4 * outBlock), -1.0f));
    for (int b = 0; b < 4; ++b)
    {
        const float* in[] = { input[0].data() + b * inBlock, input[1].data() + b * inBlock };
        float* out[] = { output[0].data() + b * outBlock, output[1].data() + b * outBlock };
        together.process (in, b == 1 ? 1 : 2, inBlock, out, outBlock);
    }

    for (size_t i = 0; i < output[0].size(); ++i)
        ASSERT_EQ (output[0][i], expected[0][i]) << "sample " << i;
    for (size_t i = 0; i < output[1].size(); ++i)
    {
        if (i >= (size_t) outBlock && i < (size_t) (2 * outBlock))
            ASSERT_EQ (output[1][i], -1.0f) << "left-out output written at " << i;
        else
            ASSERT_EQ (output[1][i], expected[1][i]) << "sample " << i;
    }
}

TEST (BandLimitedResampler, GivesTheSameOutputsHoweverTheStreamIsCutIntoBlocks)
{
    // Blocks of one sample, of a few and of odd lengths, against whole cycles: the
    // carried position and history must give every output exactly as before, whether
    // it falls first, last or alone in a block, and wherever the extra delay puts it.
    struct Case { double rate; bool up; };
    for (const auto& c : { Case { 44100.0, true }, Case { 88200.0, true }, Case { 44100.0, false }, Case { 48000.0, true },
                           Case { 22050.0, true } })
    {
        SCOPED_TRACE (testing::Message() << c.rate << " Hz, " << (c.up ? "up" : "down"));
        auto p = prepared (c.rate, 512, 0.0f);
        const Conversion conversion (*p, c.up);
        const int inStep = conversion.inStep, outStep = conversion.outStep, inBlock = conversion.inBlock();

        const int total = 8 * inBlock;
        const auto input = noise (2, total, 0.9f, 41, true);
        const auto dueBy = [&] (std::int64_t n) { return (int) ((n * outStep + inStep - 1) / inStep); };

        const auto convert = [&] (const std::vector<int>& cuts)
        {
            BandLimitedResampler resampler;
            resampler.prepare (conversion.kernel, inStep, outStep, inBlock, 2);
            resampler.setExtraDelay (conversion.extraDelay);
            std::vector<std::vector<float>> output (2, std::vector<float> ((size_t) dueBy (total)));
            int read = 0;
            for (size_t b = 0; read < total; ++b)
            {
                const int count = std::min (cuts[b % cuts.size()], total - read);
                const int first = dueBy (read), outputs = dueBy (read + count) - first;
                const float* in[] = { input[0].data() + read, input[1].data() + read };
                float* out[] = { output[0].data() + first, output[1].data() + first };
                resampler.process (in, 2, count, out, outputs);
                read += count;
            }
            return output;
        };

        const auto whole = convert ({ inBlock });
        const auto cut = convert ({ 1, 7, inBlock, 2, 3, inBlock / 3, inBlock - 1, 5 });
        for (int ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < whole[(size_t) ch].size(); ++i)
                ASSERT_EQ (cut[(size_t) ch][i], whole[(size_t) ch][i]) << "channel " << ch << ", output " << i;
    }
}
