#include "processor/TruePeakMeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

namespace
{
double toDb (double gain) { return 20.0 * std::log10 (gain); }

// Reference figures of the BS.1770-4 Annex 2 filter, written out independently of
// the meter's table: tap 0 of each phase, and the coefficient sums per phase.
constexpr double firstTaps[4] = { 0.001708984375, -0.0291748046875, -0.0189208984375, -0.00830078125 };
constexpr double outerPhaseSum = 1.0015869140625;
constexpr double innerPhaseSum = 0.9730224609375;

juce::AudioBuffer<float> constantBlock (int channels, int samples, float value)
{
    juce::AudioBuffer<float> b (channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        juce::FloatVectorOperations::fill (b.getWritePointer (ch), value, samples);
    return b;
}

double largestTapMagnitude (int fromTap, int toTap)
{
    double m = 0.0;
    for (const auto& phase : TruePeakMeter::coefficients)
        for (int k = fromTap; k <= toTap; ++k)
            m = std::max (m, std::abs ((double) phase[k]));
    return m;
}
} // namespace

TEST (TruePeakFilter, MatchesTheStandardsOrientationAndSymmetry)
{
    const auto& c = TruePeakMeter::coefficients;

    for (int p = 0; p < 4; ++p)
        EXPECT_EQ ((double) c[p][0], firstTaps[p]) << "phase " << p;

    for (int k = 0; k < 12; ++k)
    {
        EXPECT_EQ (c[2][k], c[1][11 - k]);
        EXPECT_EQ (c[3][k], c[0][11 - k]);
    }

    double sums[4] = {};
    for (int p = 0; p < 4; ++p)
        for (int k = 0; k < 12; ++k)
            sums[p] += c[p][k];

    // Every coefficient is a multiple of 2^-13, so these sums are exact.
    EXPECT_EQ (sums[0], outerPhaseSum);
    EXPECT_EQ (sums[3], outerPhaseSum);
    EXPECT_EQ (sums[1], innerPhaseSum);
    EXPECT_EQ (sums[2], innerPhaseSum);

    // Centre taps: the phase at offset 0 passes its own sample almost unchanged.
    EXPECT_EQ (c[0][6], 0.97216796875f);
    EXPECT_EQ (c[1][6], 0.77978515625f);
}

TEST (TruePeakMeter, StartsWithTwoValuesAtZeroAndPreparesToMinusSixty)
{
    TruePeakMeter meter;
    ASSERT_EQ (meter.peakDb.size(), 2);
    EXPECT_EQ (meter.peakDb[0], 0.0f);
    EXPECT_EQ (meter.peakDb[1], 0.0f);
    EXPECT_EQ (meter.historyBuffer.getNumChannels(), 0);

    meter.prepare (3, 100);
    EXPECT_EQ (meter.numChannels, 3);
    ASSERT_EQ (meter.peakDb.size(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (meter.peakDb[i], -60.0f);
    EXPECT_EQ (meter.historyBuffer.getNumChannels(), 6);
    EXPECT_EQ (meter.historyBuffer.getNumSamples(), 112);

    meter.prepare (0, 100);
    EXPECT_EQ (meter.peakDb.size(), 0);
}

TEST (TruePeakMeter, SilenceAndEmptyBlocksReadTheFloor)
{
    TruePeakMeter meter;
    meter.prepare (2, 64);

    auto silence = constantBlock (2, 64, 0.0f);
    meter.GetTruePeak (silence, 0);
    EXPECT_EQ (meter.peakDb[0], -200.0f);
    EXPECT_EQ (meter.peakDb[1], -200.0f);
    EXPECT_EQ (meter.peakDb[2], -60.0f) << "the other point is untouched";

    juce::AudioBuffer<float> empty (2, 0);
    meter.GetTruePeak (empty, 1);
    EXPECT_EQ (meter.peakDb[2], -200.0f);
    EXPECT_EQ (meter.peakDb[3], -200.0f);

    // A buffer flagged as silent counts as zeros whatever its memory holds.
    auto flagged = constantBlock (2, 64, 0.9f);
    flagged.clear();
    meter.GetTruePeak (flagged, 0);
    EXPECT_EQ (meter.peakDb[0], -200.0f);
}

TEST (TruePeakMeter, AConstantSignalReadsTheOuterPhasesGain)
{
    TruePeakMeter meter;
    meter.prepare (1, 32);
    auto ones = constantBlock (1, 32, 1.0f);

    meter.GetTruePeak (ones, 0);
    // Once every tap reads 1.0, the largest phase output is the outer phases' sum.
    meter.GetTruePeak (ones, 0);
    EXPECT_NEAR (meter.peakDb[0], toDb (outerPhaseSum), 1e-5);
    EXPECT_NEAR (meter.peakDb[0], 0.0138, 1e-4);
}

TEST (TruePeakMeter, FindsAPeakBetweenSamples)
{
    // A quarter-rate sine at 45 degrees: every sample sits at 0.7071 of the amplitude,
    // the true peak halfway between two samples.
    constexpr int n = 256;
    constexpr double amplitude = 0.8;
    constexpr double pi = juce::MathConstants<double>::pi;
    constexpr double theta = pi / 4.0;

    TruePeakMeter meter;
    meter.prepare (1, n);
    juce::AudioBuffer<float> block (1, n);

    for (int block_ = 0; block_ < 3; ++block_)
    {
        for (int i = 0; i < n; ++i)
            block.setSample (0, i, (float) (amplitude * std::sin (pi / 2.0 * (block_ * n + i) + theta)));
        meter.GetTruePeak (block, 0);
    }

    // Independent figure from the phases' frequency responses: at a quarter of the
    // rate each phase outputs a sine of gain |H_p| and phase arg H_p, sampled at
    // four points a quarter period apart.
    double expected = 0.0;
    for (const auto& phase : TruePeakMeter::coefficients)
    {
        std::complex<double> h;
        for (int k = 0; k < 12; ++k)
            h += (double) phase[k] * std::polar (1.0, -pi / 2.0 * k);

        for (int m = 0; m < 4; ++m)
            expected = std::max (expected, amplitude * std::abs (h) * std::abs (std::sin (theta + std::arg (h) + m * pi / 2.0)));
    }

    const double reading = meter.peakDb[0];
    EXPECT_NEAR (reading, toDb (expected), 1e-4);

    // Against the exact true peak: the filter reads within 0.1 dB here, while the
    // largest sample lies 3 dB below.
    EXPECT_NEAR (reading, toDb (amplitude), 0.1);
    EXPECT_GT (reading, toDb (amplitude * std::sqrt (0.5)) + 2.5);
}

TEST (TruePeakMeter, CarriesTwelveSamplesOfHistoryIntoTheNextBlock)
{
    constexpr int n = 40;
    TruePeakMeter meter;
    meter.prepare (1, n);

    // An impulse in the block's last sample meets only tap 0 of each phase in
    // this block (the block evaluates its own samples) ...
    auto block = constantBlock (1, n, 0.0f);
    block.setSample (0, n - 1, 1.0f);
    meter.GetTruePeak (block, 0);
    EXPECT_NEAR (meter.peakDb[0], toDb (largestTapMagnitude (0, 0)), 1e-4);

    // ... and taps 1 to 11 in the next, through the kept samples.
    auto silence = constantBlock (1, n, 0.0f);
    meter.GetTruePeak (silence, 0);
    EXPECT_NEAR (meter.peakDb[0], toDb (largestTapMagnitude (1, 11)), 1e-4);

    // Then the loud block is forgotten: no hold.
    meter.GetTruePeak (silence, 0);
    EXPECT_EQ (meter.peakDb[0], -200.0f);
}

TEST (TruePeakMeter, HistoryWorksForBlocksShorterThanTheFilter)
{
    // One-sample blocks: the kept range and the block overlap inside the row.
    TruePeakMeter meter;
    meter.prepare (1, 1);
    juce::AudioBuffer<float> one (1, 1);

    std::vector<float> readings;
    for (int i = 0; i < 14; ++i)
    {
        one.setSample (0, 0, i == 0 ? 1.0f : 0.0f);
        meter.GetTruePeak (one, 0);
        readings.push_back (meter.peakDb[0]);
    }

    // Block i evaluates the impulse through tap i.
    for (int k = 0; k < 12; ++k)
    {
        double m = 0.0;
        for (const auto& phase : TruePeakMeter::coefficients)
            m = std::max (m, std::abs ((double) phase[k]));
        EXPECT_NEAR (readings[(size_t) k], toDb (m), 1e-4) << "tap " << k;
    }
    EXPECT_EQ (readings[12], -200.0f);
}

TEST (TruePeakMeter, IgnoresOutputsThatANaNTouches)
{
    constexpr int n = 64;
    TruePeakMeter meter;
    meter.prepare (1, n);

    auto block = constantBlock (1, n, 0.0f);
    block.setSample (0, 5, std::numeric_limits<float>::quiet_NaN());
    block.setSample (0, 40, 0.5f); // far enough from the NaN that some outputs see only it
    meter.GetTruePeak (block, 0);
    EXPECT_NEAR (meter.peakDb[0], toDb (0.5 * largestTapMagnitude (0, 11)), 1e-4);

    // A NaN still in the history is ignored too, and a block that only sees NaN
    // reads the floor rather than NaN.
    auto tail = constantBlock (1, n, 0.0f);
    tail.setSample (0, n - 1, std::numeric_limits<float>::quiet_NaN());
    meter.GetTruePeak (tail, 0);
    EXPECT_EQ (meter.peakDb[0], -200.0f);
    meter.GetTruePeak (block, 0);
    EXPECT_TRUE (std::isfinite (meter.peakDb[0]));

    auto infinite = constantBlock (1, n, std::numeric_limits<float>::infinity());
    meter.GetTruePeak (infinite, 0);
    EXPECT_FALSE (std::isnan (meter.peakDb[0]));
}

TEST (TruePeakMeter, TwelveChannelsFillTwentyFourRowsInputFirst)
{
    constexpr int n = 64;
    TruePeakMeter meter;
    meter.prepare (12, n);
    ASSERT_EQ (meter.peakDb.size(), 24);

    juce::AudioBuffer<float> in (12, n), out (12, n);
    for (int ch = 0; ch < 12; ++ch)
    {
        juce::FloatVectorOperations::fill (in.getWritePointer (ch), 0.01f * (float) (ch + 1), n);
        juce::FloatVectorOperations::fill (out.getWritePointer (ch), 0.05f * (float) (ch + 1), n);
    }

    for (int i = 0; i < 2; ++i)
    {
        meter.GetTruePeak (in, 0);
        meter.GetTruePeak (out, 1);
    }

    for (int ch = 0; ch < 12; ++ch)
    {
        EXPECT_NEAR (meter.peakDb[ch], toDb (0.01 * (ch + 1) * outerPhaseSum), 1e-4) << ch;
        EXPECT_NEAR (meter.peakDb[12 + ch], toDb (0.05 * (ch + 1) * outerPhaseSum), 1e-4) << ch;
    }

    float copy[PeakValueStore::capacity];
    ASSERT_EQ (meter.copyPeakDb (copy), 24);
    EXPECT_EQ (copy[23], meter.peakDb[23]);
    EXPECT_EQ (meter.peakDb.snapshot().size(), 24u);
}

TEST (TruePeakMeter, MismatchedCallsNeverWriteOutsideTheRows)
{
    TruePeakMeter meter;
    juce::AudioBuffer<float> block (2, 32);
    block.clear();

    // Not prepared: nothing to measure into.
    meter.GetTruePeak (block, 0);
    EXPECT_EQ (meter.peakDb[0], 0.0f);

    meter.prepare (4, 32);
    meter.GetTruePeak (block, 0);  // fewer channels than prepared
    meter.GetTruePeak (block, 2);  // no such point
    juce::AudioBuffer<float> longer (4, 100);
    longer.clear();
    meter.GetTruePeak (longer, 1); // longer than prepared
    EXPECT_EQ (meter.peakDb[0], -200.0f);
    EXPECT_EQ (meter.peakDb[2], -60.0f);
    EXPECT_EQ (meter.peakDb[4], -200.0f);
}

namespace
{
/** The filter as the standard writes it: position by position, phase by phase, tap by tap. */
float literalBlockPeak (const std::vector<float>& signal, size_t blockStart, size_t n)
{
    float peak = 1e-10f;
    for (size_t q = blockStart; q < blockStart + n; ++q)
        for (const auto& phase : TruePeakMeter::coefficients)
        {
            float y = 0.0f;
            for (size_t k = 0; k < 12; ++k)
                y += phase[k] * (q >= k ? signal[q - k] : 0.0f);
            if (std::abs (y) > peak)
                peak = std::abs (y);
        }
    return peak;
}
} // namespace

// With the version chosen for this processor, and with the baseline code forced.
TEST (TruePeakMeter, MatchesTheLiteralFilterBlockByBlock)
{
    std::mt19937 rng (17);
    std::normal_distribution<float> dist (0.0f, 0.4f);

    for (bool portable : { false, true })
    for (int blockSize : { 512, 1, 7, 16, 100, 1115 })
    {
        TruePeakMeter::forcePortable (portable);
        const int blocks = std::max (3, 3000 / blockSize);
        std::vector<float> signal ((size_t) (blocks * blockSize));
        for (auto& x : signal)
            x = dist (rng);
        if (blockSize >= 100)
            signal[(size_t) blockSize + 37] = std::numeric_limits<float>::quiet_NaN(); // refused by both

        TruePeakMeter meter;
        meter.prepare (2, blockSize);
        for (int b = 0; b < blocks; ++b)
        {
            juce::AudioBuffer<float> block (2, blockSize);
            for (int ch = 0; ch < 2; ++ch)
                block.copyFrom (ch, 0, signal.data() + b * blockSize, blockSize);
            meter.GetTruePeak (block, 1);

            const float expected = literalBlockPeak (signal, (size_t) (b * blockSize), (size_t) blockSize);
            float values[PeakValueStore::capacity];
            meter.copyPeakDb (values);
            for (int ch = 0; ch < 2; ++ch)
                ASSERT_NEAR (std::pow (10.0, values[2 + ch] / 20.0), expected, 1e-6 * std::max (1.0f, expected))
                    << blockSize << "-sample blocks, block " << b << (portable ? ", baseline code" : "");
        }
    }
    TruePeakMeter::forcePortable (false);
}
