// The audio thread's heap use: none in a steady block, only the new impulse
// responses in a block whose tone controls moved. This program counts every
// allocation of the calling thread (AllocationCounter replaces malloc and friends),
// so the convolution engines' loader threads are not counted.

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
    EXPECT_GT (countAllocations ([&] { p->processBlock (other.next(), midi); }), 0u);
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

TEST (ChainAllocation, AToneMoveAllocatesOnlyTheNewResponsesAndTheBlocksAfterItNothing)
{
    for (const auto& c : configs())
    {
        SCOPED_TRACE (c.name);
        auto p = makeProcessor (c.set);
        p->prepareToPlay (c.rate, c.block);
        BlockSource source (c.set.size(), c.block);
        allocationsOverBlocks (*p, source, 2);

        // The weight ramps were sized at preparation, so even the first move
        // allocates only the hand-over buffers for the engines (one per channel).
        setParameter (*p, "Knob1", 0.6f);
        EXPECT_LE (allocationsOverBlocks (*p, source, 1), (std::size_t) c.set.size());
        setParameter (*p, "Knob1", 0.65f);
        const auto moveAllocations = allocationsOverBlocks (*p, source, 1);
        EXPECT_LE (moveAllocations, (std::size_t) c.set.size());
        std::cout << "[ allocations ] " << c.name << ": " << moveAllocations << " in a block with a tone move\n";

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

        // A tone move inside a short block allocates only the engines' new responses.
        setParameter (*p, "Knob2", 0.8f);
        juce::AudioBuffer<float> shortBlock (c.set.size(), 3);
        shortBlock.clear();
        EXPECT_LE (countAllocations ([&] { p->processBlock (shortBlock, midi); }), (std::size_t) c.set.size());
    }
}
