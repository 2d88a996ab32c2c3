// The audio thread's heap use: none, in a steady block as in one whose tone controls
// moved. This program counts every allocation and free of the calling thread
// (AllocationCounter replaces malloc and friends), so the convolution engines' loader
// thread is not counted.

#include "ChainTestSupport.h"

#include "../AllocationCounter.h"

#include <gtest/gtest.h>

using namespace chaintest;
using tessaline::testing::countAllocations;

namespace
{
struct Config
{
    const char* name;
    juce::AudioChannelSet set;
    double rate;
    int block;
};

std::vector<Config> configs()
{
    return {
        { "stereo 44.1 kHz / 512", juce::AudioChannelSet::stereo(), 44100.0, 512 },
        { "stereo 48 kHz / 512", juce::AudioChannelSet::stereo(), 48000.0, 512 },
        { "7.1.4 48 kHz / 512", juce::AudioChannelSet::create7point1point4(), 48000.0, 512 },
        { "stereo 96 kHz / 512", juce::AudioChannelSet::stereo(), 96000.0, 512 },
        { "7.1.4 96 kHz / 1024", juce::AudioChannelSet::create7point1point4(), 96000.0, 1024 },
        { "mono 192 kHz / 64", juce::AudioChannelSet::mono(), 192000.0, 64 },
        { "stereo 384 kHz / 7", juce::AudioChannelSet::stereo(), 384000.0, 7 },
        { "mono 8 kHz / 3", juce::AudioChannelSet::mono(), 8000.0, 3 },
    };
}

/** A block of noise, refilled before each call (the chain works in place). */
struct BlockSource
{
    BlockSource (int channels, int n) : buffer (channels, n), rng (81) {}

    juce::AudioBuffer<float>& next()
    {
        std::uniform_real_distribution<float> dist (-0.3f, 0.3f);
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (ch, i, dist (rng));
        return buffer;
    }

    juce::AudioBuffer<float> buffer;
    std::mt19937 rng;
};

std::size_t allocationsOverBlocks (MorvelAudioProcessor& p, BlockSource& source, int blocks)
{
    std::size_t total = 0;
    juce::MidiBuffer midi;
    for (int b = 0; b < blocks; ++b)
    {
        auto& buffer = source.next();
        total += countAllocations ([&] { p.processBlock (buffer, midi); });
    }
    return total;
}
} // namespace

TEST (ChainAllocation, TheCounterSeesTheAudioThreadsAllocations)
{
    ASSERT_TRUE (tessaline::testing::AllocationCounter::isSupported());

    // A block after a change of layout prepares again, which allocates: the counter
    // must see it.
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 512);
    juce::AudioProcessor::BusesLayout mono;
    mono.inputBuses.add (juce::AudioChannelSet::mono());
    mono.outputBuses.add (juce::AudioChannelSet::mono());
    ASSERT_TRUE (p->setBusesLayout (mono));
    BlockSource other (1, 256);
    juce::MidiBuffer midi;
    tessaline::testing::AllocationCounter counter;
    p->processBlock (other.next(), midi);
    EXPECT_GT (counter.count(), 0u);
    EXPECT_GT (counter.frees(), 0u); // the buffers sized for the old layout
}

TEST (ChainAllocation, SteadyBlocksAllocateNothing)
{
    for (const auto& c : configs())
    {
        SCOPED_TRACE (c.name);
        for (bool autoGain : { true, false })
        {
            auto p = makeProcessor (c.set);
            setMixAndAutoGain (*p, 50.0f, autoGain);
            p->prepareToPlay (c.rate, c.block);

            // From the first block on: preparation sized everything, the cell's scratch included.
            BlockSource source (c.set.size(), c.block);
            EXPECT_EQ (allocationsOverBlocks (*p, source, 1), 0u) << "the first block after the preparation";
            EXPECT_EQ (allocationsOverBlocks (*p, source, 20), 0u);
        }
    }
}

TEST (ChainAllocation, AToneMoveAndTheBlocksAfterItAllocateNothing)
{
    for (const auto& c : configs())
    {
        SCOPED_TRACE (c.name);
        auto p = makeProcessor (c.set);
        p->prepareToPlay (c.rate, c.block);
        BlockSource source (c.set.size(), c.block);
        allocationsOverBlocks (*p, source, 2);

        // The weight ramps were sized at preparation, and the engines are handed
        // buffers that refer to the response rather than copies of it.
        setParameter (*p, "Knob1", 0.6f);
        EXPECT_EQ (allocationsOverBlocks (*p, source, 1), 0u);
        setParameter (*p, "Knob1", 0.65f);
        EXPECT_EQ (allocationsOverBlocks (*p, source, 1), 0u);

        // The engines adopt the new responses and cross-fade to them without the
        // audio thread allocating.
        juce::Thread::sleep (150);
        const int blocksOf60ms = (int) std::ceil (0.06 * c.rate / c.block) + 2;
        EXPECT_EQ (allocationsOverBlocks (*p, source, blocksOf60ms), 0u);
    }
}

TEST (ChainAllocation, BlocksOfChangingSizeAllocateNothing)
{
    // Sizes a host hands out between its promised largest block and one sample,
    // including blocks larger than promised, which are processed in pieces; processed
    // and bypassed by the host.
    const int sizes[] = { 1, 7, 64, 333, 512, 4096, 2048, 100, 1024, 256, 960, 128, 2 };

    for (const auto& c : configs())
    {
        SCOPED_TRACE (c.name);
        auto p = makeProcessor (c.set);
        setMixAndAutoGain (*p, 50.0f, true);
        p->prepareToPlay (c.rate, c.block);

        BlockSource source (c.set.size(), c.block);
        allocationsOverBlocks (*p, source, 2); // the cell sizes its scratch in the first block

        juce::MidiBuffer midi;
        for (int size : sizes)
        {
            juce::AudioBuffer<float> buffer (c.set.size(), size);
            for (int ch = 0; ch < c.set.size(); ++ch)
                for (int i = 0; i < size; ++i)
                    buffer.setSample (ch, i, 0.2f * std::sin (0.05f * (float) i));
            EXPECT_EQ (countAllocations ([&] { p->processBlock (buffer, midi); }), 0u) << size << " samples";
            EXPECT_EQ (countAllocations ([&] { p->processBlockBypassed (buffer, midi); }), 0u) << size << " samples, bypassed";
        }

        // Nor does a tone move inside a short block.
        setParameter (*p, "Knob2", 0.8f);
        juce::AudioBuffer<float> shortBlock (c.set.size(), 3);
        shortBlock.clear();
        EXPECT_EQ (countAllocations ([&] { p->processBlock (shortBlock, midi); }), 0u);
    }
}

TEST (ChainAllocation, ToneMovesInEveryBlockLeaveTheAudioThreadNoHeapWorkAndEndOnTheLastTone)
{
    // Twelve channels in 64-sample blocks, the tone moved in every block for three
    // seconds of audio, back to back: far more responses than the loader can build.
    // Its queue must never fill, or the engines free what it cannot take (and destroy
    // their old engines) on the audio thread.
    auto p = makeProcessor (juce::AudioChannelSet::create7point1point4());
    p->prepareToPlay (48000.0, 64);
    BlockSource source (12, 64);
    allocationsOverBlocks (*p, source, 2);

    juce::MidiBuffer midi;
    {
        tessaline::testing::AllocationCounter counter;
        for (int b = 0; b < 2250; ++b)
        {
            p->knob1Raw->store (0.05f * (float) (b % 21));
            p->knob2Raw->store (1.0f - 0.05f * (float) (b % 17));
            p->processBlock (source.next(), midi);
        }
        EXPECT_EQ (counter.count(), 0u);
        EXPECT_EQ (counter.frees(), 0u);
    }

    // The last tone (0.1 and 0.75) reaches every engine.
    const Eigen::MatrixXf kernel = p->standardRateSubnet.convKernel;
    bool settled = false;
    for (int attempt = 0; attempt < 100 && ! settled; ++attempt)
    {
        juce::Thread::sleep (20);
        allocationsOverBlocks (*p, source, 45); // 60 ms: a crossfade
        settled = ! p->responseLoader.isSetInFlight();
        for (int channel = 0; channel < 12 && settled; ++channel)
            settled = engineHoldsKernel (*p, channel, kernel);
    }
    EXPECT_TRUE (settled);
    EXPECT_EQ (p->lastKnob1, 0.1f);
    EXPECT_EQ (p->lastKnob2, 0.75f);
}
