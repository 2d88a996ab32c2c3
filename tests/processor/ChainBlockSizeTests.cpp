// Blocks of varying size, as hosts deliver them between their promised largest
// block and a single sample: the chain runs on without preparing again, so the
// output does not depend on how the signal was cut into blocks.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace chaintest;

namespace
{
/** A 220 Hz sine at half scale with a little noise, different on each channel. */
Signal programme (double rate, int samples)
{
    Signal s = noise (2, samples, 0.05f, 5, true);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < samples; ++i)
            s[(size_t) ch][(size_t) i] += 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 220.0 * i / rate + ch);
    return s;
}

const std::vector<int> changingSizes { 1, 7, 64, 333, 512, 4096, 2048, 100, 1024, 256, 960, 128 };

std::unique_ptr<MorvelAudioProcessor> preparedProcessor (double rate, float mix)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    setMixAndAutoGain (*p, mix, false);
    p->prepareToPlay (rate, 512);
    return p;
}
} // namespace

TEST (ChainBlockSize, ChangingSizesGiveTheOutputOfConstantBlocks)
{
    // The converters keep their ratio and position across blocks, so the model-rate
    // stream does not depend on the cut, even where a block's model samples are not a
    // whole multiple of its size (44.1 and 88.2 kHz); automatic gain is off because its
    // smoothing is per block by design.
    for (double rate : { 44100.0, 48000.0, 88200.0, 96000.0 })
    {
        for (float mix : { 100.0f, 0.0f })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, Mix " << mix);
            const Signal input = programme (rate, (int) rate / 2);
            auto constant = preparedProcessor (rate, mix);
            auto changing = preparedProcessor (rate, mix);
            const Signal expected = process (*constant, input, 512);
            const Signal actual = processInSizes (*changing, input, changingSizes);

            for (int ch = 0; ch < 2; ++ch)
            {
                const float tolerance = 1.0e-5f * peak (expected[(size_t) ch]);
                ASSERT_GT (peak (expected[(size_t) ch]), 0.1f);
                for (size_t i = 0; i < expected[(size_t) ch].size(); ++i)
                    ASSERT_NEAR (actual[(size_t) ch][i], expected[(size_t) ch][i], tolerance) << "channel " << ch << ", sample " << i;
            }
        }
    }
}

TEST (ChainBlockSize, ABlockLargerThanPromisedIsProcessedInPreparedPieces)
{
    const Signal input = programme (48000.0, 4096 + 300);
    auto inPieces = preparedProcessor (48000.0, 50.0f);
    auto inBlocks = preparedProcessor (48000.0, 50.0f);
    setParameter (*inPieces, "AutoGain", 1.0f);
    setParameter (*inBlocks, "AutoGain", 1.0f);

    // One host block of 4396 samples against the same samples in blocks of at most 512.
    const Signal actual = process (*inPieces, input, 4396);
    const Signal expected = process (*inBlocks, input, 512);
    EXPECT_EQ (inPieces->blockSize, 512);
    for (int ch = 0; ch < 2; ++ch)
        for (size_t i = 0; i < expected[(size_t) ch].size(); ++i)
            ASSERT_EQ (actual[(size_t) ch][i], expected[(size_t) ch][i]) << "channel " << ch << ", sample " << i;
}

TEST (ChainBlockSize, TheMetersShowTheWholeOfABlockProcessedInPieces)
{
    // A 2,048-sample block loud only in its first 256 samples, in pieces of 256: each
    // meter reads the loudest piece, as the largest value of eight blocks of 256 would.
    Signal input = silence (2, 2048);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 256; ++i)
            input[(size_t) ch][(size_t) i] = 0.5f * (float) std::sin (0.1 * i + ch);

    const auto prepared = [] { auto p = preparedProcessor (48000.0, 0.0f); p->prepareToPlay (48000.0, 256); return p; };
    auto inPieces = prepared();
    auto inBlocks = prepared();
    process (*inPieces, input, 2048);

    std::vector<float> loudest (4, -1000.0f);
    for (int b = 0; b < 8; ++b)
    {
        Signal block = silence (2, 256);
        for (int ch = 0; ch < 2; ++ch)
            std::copy_n (input[(size_t) ch].begin() + 256 * b, 256, block[(size_t) ch].begin());
        process (*inBlocks, block, 256);
        for (int r = 0; r < 4; ++r)
            loudest[(size_t) r] = std::max (loudest[(size_t) r], inBlocks->truePeakMeter.peakDb[r]);
    }

    for (int r = 0; r < 4; ++r)
    {
        EXPECT_GT (inPieces->truePeakMeter.peakDb[r], -10.0f) << "row " << r;
        EXPECT_EQ (inPieces->truePeakMeter.peakDb[r], loudest[(size_t) r]) << "row " << r;
    }
}

TEST (ChainBlockSize, AToneMoveInsideATinyBlockRampsFromExactlyTheOldToExactlyTheNewWeights)
{
    // At 48 kHz a block of one sample is two model samples, a block of two is four:
    // the ramp spans those, not the prepared block's 1,024.
    for (int size : { 1, 2 })
    {
        SCOPED_TRACE (testing::Message() << size << " samples");
        auto p = makeProcessor (juce::AudioChannelSet::mono());
        setMixAndAutoGain (*p, 100.0f, false);
        p->prepareToPlay (48000.0, 512);
        const auto freshCell = p->standardRateGru;
        const Eigen::MatrixXf kernel = p->standardRateSubnet.convKernel;
        const Eigen::MatrixXf oldIh = p->standardRateSubnet.ihWeights;
        const Eigen::MatrixXf oldHh = p->standardRateSubnet.hhWeights;

        const auto input = noise (1, 1024 + size, 0.4f, 37)[0];
        process (*p, { std::vector<float> (input.begin(), input.begin() + 1024) }, 512);
        setParameter (*p, "Knob1", 0.9f);
        process (*p, { std::vector<float> (input.begin() + 1024, input.end()) }, size);

        const int modelSamples = 2 * size;
        const Eigen::MatrixXf newIh = p->standardRateSubnet.ihWeights;
        const Eigen::MatrixXf newHh = p->standardRateSubnet.hhWeights;
        ASSERT_NE (newIh, oldIh);
        EXPECT_EQ (p->rampLength, modelSamples);
        EXPECT_EQ (p->previousIhWeights, oldIh);
        EXPECT_EQ (p->previousHhWeights, oldHh);

        // The cell's state against one that followed the ramp over the block's own model
        // samples, built entry by entry, and against one spread over the prepared block.
        // The up-sampler is causal, so the signal padded to whole prepared blocks gives
        // the same model samples up to the tiny block's end.
        std::vector<float> padded (input);
        padded.resize (3 * 512, 0.0f);
        const int changeStart = 2 * p->modelBlockSize;
        const auto rampOver = [&] (int length)
        {
            std::vector<Eigen::MatrixXf> ihSteps, hhSteps;
            Morvel::interpolateMatrix (oldIh, newIh, length, ihSteps);
            Morvel::interpolateMatrix (oldHh, newHh, length, hhSteps);
            return referenceHiddenState (*p, freshCell, kernel, padded, [&] (int t) -> std::pair<const Eigen::MatrixXf&, const Eigen::MatrixXf&> {
                if (t < changeStart)
                    return { oldIh, oldHh };
                const auto k = (size_t) std::min (t - changeStart, (int) ihSteps.size() - 1);
                return { ihSteps[k], hhSteps[k] };
            }, changeStart + modelSamples);
        };

        const Eigen::MatrixXf actual = p->standardRateGru.hiddenState;
        const auto expected = rampOver (modelSamples);
        const auto overPreparedBlock = rampOver (p->modelBlockSize);
        const float error = (actual - expected).cwiseAbs().maxCoeff();
        EXPECT_LT (error, 1.0e-5f);
        EXPECT_LT (error, 0.1f * (expected - overPreparedBlock).cwiseAbs().maxCoeff());
    }
}

TEST (ChainBlockSize, TheMeterMeasuresAShortBlockWithItsOwnHistory)
{
    auto p = preparedProcessor (48000.0, 100.0f);
    process (*p, programme (48000.0, 1024), 512);

    // A short block of a held half-scale level, then a short silent one: the silent
    // block's true peak comes from the interpolation filter ringing out the level
    // just before it, which it finds only if the history follows the short block.
    Signal held = silence (2, 100);
    for (auto& ch : held)
        std::fill (ch.begin(), ch.end(), 0.5f);
    process (*p, held, 100);
    EXPECT_GT (p->truePeakMeter.peakDb[0], -8.0f);

    process (*p, silence (2, 100), 100);
    EXPECT_GT (p->truePeakMeter.peakDb[0], -20.0f);
    EXPECT_LT (p->truePeakMeter.peakDb[0], -3.0f);
}
