#include "processor/DryDelay.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
// The framework's mixer delaying its dry input itself (as the chain once did) against
// the chain's dry delay in front of a mixer without latency: the same blocks of dry and
// wet samples, blocks of varying length, the mix moving between blocks.
void expectSameMix (int delay, int maxBlock, int channels, const std::vector<int>& blockSizes)
{
    const juce::dsp::ProcessSpec processSpec { 48000.0, (juce::uint32) maxBlock, (juce::uint32) channels };

    juce::dsp::DryWetMixer<float> delaying (800);
    delaying.setWetMixProportion (0.3f);
    delaying.prepare (processSpec);
    delaying.setWetLatency ((float) delay);
    delaying.reset();

    juce::dsp::DryWetMixer<float> plain (0);
    plain.setWetMixProportion (0.3f);
    plain.prepare (processSpec);
    plain.reset();
    DryDelay dryDelay;
    dryDelay.prepare (channels, maxBlock, delay);

    std::mt19937 random (static_cast<unsigned> (delay + maxBlock));
    std::uniform_real_distribution<float> sample (-1.0f, 1.0f);
    juce::AudioBuffer<float> dry (channels, maxBlock), wetA (channels, maxBlock), wetB (channels, maxBlock);

    int block = 0;
    for (int size : blockSizes)
    {
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < size; ++i)
            {
                dry.setSample (ch, i, sample (random));
                wetA.setSample (ch, i, sample (random));
                wetB.setSample (ch, i, wetA.getSample (ch, i));
            }

        const float proportion = (block % 3) * 0.45f;
        delaying.setWetMixProportion (proportion);
        plain.setWetMixProportion (proportion);

        const auto dryBlock = juce::dsp::AudioBlock<const float> (dry).getSubBlock (0, (size_t) size);
        delaying.pushDrySamples (dryBlock);
        dryDelay.pushDelayed (dryBlock, plain);
        delaying.mixWetSamples (juce::dsp::AudioBlock<float> (wetA).getSubBlock (0, (size_t) size));
        plain.mixWetSamples (juce::dsp::AudioBlock<float> (wetB).getSubBlock (0, (size_t) size));

        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < size; ++i)
                ASSERT_EQ (wetB.getSample (ch, i), wetA.getSample (ch, i))
                    << "delay " << delay << ", block " << block << ", channel " << ch << ", sample " << i;
        ++block;
    }
}
} // namespace

TEST (DryDelay, MixesAsTheMixersOwnDelayLineAtTheChainsLatencies)
{
    expectSameMix (580, 1024, 2, std::vector<int> (12, 1024));
    expectSameMix (580, 1115, 12, { 1115, 1114, 1115, 1115, 1114, 1115 });
    expectSameMix (513, 1024, 1, std::vector<int> (10, 1024));
}

TEST (DryDelay, BlocksShorterThanTheDelayKeepTheWholeHistory)
{
    expectSameMix (580, 1024, 2, { 1, 7, 300, 1024, 2, 579, 580, 581, 1024, 13, 1024, 1024 });
    expectSameMix (513, 64, 3, std::vector<int> (40, 37));
}

TEST (DryDelay, ResetReturnsToSilence)
{
    DryDelay dryDelay;
    dryDelay.prepare (1, 8, 4);
    juce::dsp::DryWetMixer<float> mixer (0);
    mixer.setWetMixProportion (0.0f);
    mixer.prepare ({ 48000.0, 8, 1 });

    juce::AudioBuffer<float> dry (1, 8), wet (1, 8);
    for (int i = 0; i < 8; ++i)
        dry.setSample (0, i, 1.0f + (float) i);
    dryDelay.pushDelayed (juce::dsp::AudioBlock<const float> (dry), mixer);
    wet.clear();
    mixer.mixWetSamples (juce::dsp::AudioBlock<float> (wet));
    EXPECT_EQ (wet.getSample (0, 3), 0.0f);
    EXPECT_EQ (wet.getSample (0, 4), 1.0f);
    EXPECT_EQ (wet.getSample (0, 7), 4.0f);

    dryDelay.reset();
    dryDelay.pushDelayed (juce::dsp::AudioBlock<const float> (dry), mixer);
    wet.clear();
    mixer.mixWetSamples (juce::dsp::AudioBlock<float> (wet));
    EXPECT_EQ (wet.getSample (0, 3), 0.0f);
    EXPECT_EQ (wet.getSample (0, 4), 1.0f);
}
