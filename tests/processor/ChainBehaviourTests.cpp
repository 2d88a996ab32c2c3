// Behaviour of the chain that its linear stages make checkable from the outside:
// the dry/wet law at intermediate Mix settings and the length of a move's ramp, where
// the two meters sit relative to the gains, and the rounding of the smoothed energies.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace chaintest;

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 512;

struct Settings
{
    float mix = 0.0f;
    float inputGainDb = 0.0f;
    float outputGainDb = 0.0f;
};

/** A fresh stereo processor with automatic gain off, prepared with the settings in place. */
std::unique_ptr<MorvelAudioProcessor> preparedProcessor (const Settings& s)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    setMixAndAutoGain (*p, s.mix, false);
    setParameter (*p, "Input Gain", s.inputGainDb);
    setParameter (*p, "Output Gain", s.outputGainDb);
    p->prepareToPlay (rate, blockSize);
    return p;
}
} // namespace

TEST (ChainMix, IntermediateSettingsBlendTheDryAndWetOutputsLinearly)
{
    // With automatic gain off every stage after the mixer (filter, resampler, output
    // gain) is linear and neither path depends on Mix, so the output at Mix m must be
    // (1 - m/100) times the output at Mix 0 plus m/100 times the output at Mix 100,
    // from the first sample on (the mixer starts at the prepared proportion).
    const Signal input = noise (2, (int) rate / 4, 0.3f, 5, true);
    const auto outputAt = [&input] (float mix) { return process (*preparedProcessor ({ mix }), input, blockSize); };

    const Signal dry = outputAt (0.0f);
    const Signal wet = outputAt (100.0f);
    const float tolerance = 1.0e-5f * std::max (peak (dry[0]), peak (wet[0]));

    for (float mix : { 25.0f, 50.0f, 75.0f })
    {
        SCOPED_TRACE (mix);
        const Signal mixed = outputAt (mix);
        const double w = mix / 100.0;

        for (size_t ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < mixed[ch].size(); ++i)
                ASSERT_NEAR (mixed[ch][i], (1.0 - w) * dry[ch][i] + w * wet[ch][i], tolerance) << "channel " << ch << ", sample " << i;
    }
}

TEST (ChainMix, AMoveRampsOverATwentiethOfASecondCountedInHostSamples)
{
    // The framework's mixer ramps its volumes over floor (0.05 x its prepared rate)
    // steps, one per sample it mixes (SmoothedValue::reset and getNextValue). The chain
    // prepares it at the host rate although it mixes model samples: a move from Mix 0
    // to 100 at model sample k0 leaves the wet signal alone from model sample
    // k0 + floor (0.05 fs) - 1 on. From there the output equals that of a chain left at
    // Mix 100, once the down-sampler's taps have passed that sample.
    for (double hostRate : { 44100.0, 48000.0 })
    {
        SCOPED_TRACE (testing::Message() << hostRate << " Hz");
        const auto preparedAt = [hostRate] (float mix)
        {
            auto p = makeProcessor (juce::AudioChannelSet::mono());
            setMixAndAutoGain (*p, mix, false);
            p->prepareToPlay (hostRate, blockSize);
            return p;
        };
        auto moved = preparedAt (0.0f);
        auto wet = preparedAt (100.0f);
        const Signal input = noise (1, 12 * blockSize, 0.3f, 13);
        const int before = 4 * blockSize;

        Signal output = process (*moved, { std::vector<float> (input[0].begin(), input[0].begin() + before) }, blockSize);
        setParameter (*moved, "Mix", 100.0f);
        const auto after = process (*moved, { std::vector<float> (input[0].begin() + before, input[0].end()) }, blockSize)[0];
        output[0].insert (output[0].end(), after.begin(), after.end());
        const auto reference = process (*wet, input, blockSize)[0];

        int lastDifferent = -1;
        for (int i = 0; i < (int) output[0].size(); ++i)
            if (output[0][(size_t) i] != reference[(size_t) i])
                lastDifferent = i;

        // Host sample j reads model samples up to floor (j modelStep / hostStep), and the
        // down-sampler's taps - 1 before it. The outermost taps are so small that the
        // ramp's last steps may vanish in rounding there, but not at the kernel's centre.
        const auto p = (std::int64_t) moved->hostStep, q = (std::int64_t) moved->modelStep;
        const auto steps = (std::int64_t) std::floor (0.05 * hostRate);
        const auto k0 = ((std::int64_t) before * q + p - 1) / p;
        const auto lastRamped = k0 + steps - 2;
        const auto halfWidth = moved->downsamplingKernel.getHalfWidth();
        const auto firstUnchanged = ((lastRamped + 2 * halfWidth) * p + q - 1) / q;
        const auto lastAtTheCentre = (lastRamped + halfWidth) * p / q;
        EXPECT_LE (lastDifferent, firstUnchanged - 1);
        EXPECT_GE (lastDifferent, lastAtTheCentre);
    }
}

TEST (ChainMeters, TheInputPointFollowsTheInputGainAndTheOutputPointBothGains)
{
    // Mix 0 and automatic gain off make the chain linear: -12 dB of input gain lowers
    // everything after it by 12 dB, +6 dB of output gain raises the output by 6 dB.
    // A meter measured before its gain would miss that gain.
    const Signal input = noise (2, 8 * blockSize, 0.3f, 9, true);

    const auto metered = [&input] (const Settings& s)
    {
        auto p = preparedProcessor (s);
        process (*p, input, blockSize);
        return p->truePeakMeter.peakDb.snapshot();
    };

    const auto unity = metered ({ 0.0f, 0.0f, 0.0f });
    const auto gained = metered ({ 0.0f, -12.0f, 6.0f });
    ASSERT_EQ (unity.size(), 4u);
    ASSERT_EQ (gained.size(), 4u);

    for (size_t ch = 0; ch < 2; ++ch)
    {
        ASSERT_GT (unity[2 + ch], -40.0f) << "the output must carry signal";
        EXPECT_NEAR (gained[ch], unity[ch] - 12.0f, 0.001f) << "input, channel " << ch;
        EXPECT_NEAR (gained[2 + ch], unity[2 + ch] - 12.0f + 6.0f, 0.001f) << "output, channel " << ch;
    }
}

TEST (ChainEnergy, TheKeptShareOfTheOldEnergyIsRoundedToSinglePrecisionFirst)
{
    // The update is E' = float(float(0.95f * E) + (1 - 0.95f) * s), the sum in double.
    // With a block whose share (1 - 0.95f) * s is far below half a float step of the
    // result, E can be chosen so that the exact product lies just below a rounding
    // midpoint, within that share: rounding the product first gives float(0.95f * E),
    // while a product kept in double is lifted across the midpoint to the next float.
    const Signal quiet = noise (2, blockSize, 1.0e-5f, 3, true);
    const auto energiesAfterOneBlock = [&quiet] (float startEnergy)
    {
        auto p = preparedProcessor ({});
        std::fill (p->inputEnergy.begin(), p->inputEnergy.end(), startEnergy);
        process (*p, quiet, blockSize);
        return p->inputEnergy;
    };

    // From zero the update is the block's share alone.
    const float share = energiesAfterOneBlock (0.0f)[0];
    ASSERT_GT (share, 0.0f);

    const float e = 0.95f;
    float start = 0.75f;
    for (int tries = 0;; ++tries)
    {
        ASSERT_LT (tries, 1000000) << "no suitable energy found";
        start = std::nextafter (start, 1.0f);

        const double exact = (double) e * (double) start; // exact: 24 x 24 bits fit a double
        const float rounded = e * start;
        const double step = (double) std::nextafter (rounded, 2.0f) - (double) rounded;
        ASSERT_LT (share, 0.25 * step) << "the block is too loud for this check";

        const double belowMidpoint = (double) rounded + 0.5 * step - exact;
        if (exact >= (double) rounded && belowMidpoint > 0.0 && belowMidpoint < 0.5 * (double) share)
            break;
    }

    const auto after = energiesAfterOneBlock (start);
    EXPECT_EQ (after[0], e * start) << "start energy " << start;
    EXPECT_EQ (after[1], e * start);
}
