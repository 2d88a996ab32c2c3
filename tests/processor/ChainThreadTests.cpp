// The processor as several threads drive it at once: the host's audio thread runs
// blocks while other threads move the tone controls (the convolution engines then
// build responses on their loader threads), restore and save the state, and read
// the meter. The checks here hold in any build; the thread sanitizer build runs this
// program to find the data races that no assertion can see.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace chaintest;

namespace
{
/** Runs blocks of noise on a thread of its own until stopped, as a host's audio thread does. */
class AudioThread
{
public:
    AudioThread (MorvelAudioProcessor& processor, int channels, int blockSize)
        : p (processor), buffer (channels, blockSize), input (noise (channels, blockSize, 0.3f, 7, true))
    {
        thread = std::thread ([this] { run(); });
    }

    ~AudioThread() { stop(); }

    void stop()
    {
        running = false;
        if (thread.joinable())
            thread.join();
    }

    /** Waits until at least n more blocks have been processed. */
    void waitForBlocks (int n) const
    {
        const int target = blocks.load() + n;
        while (blocks.load() < target)
            std::this_thread::yield();
    }

    int blocksProcessed() const { return blocks.load(); }
    bool outputStayedFinite() const { return finite.load(); }

private:
    MorvelAudioProcessor& p;
    juce::AudioBuffer<float> buffer;
    Signal input;
    std::atomic<bool> running { true }, finite { true };
    std::atomic<int> blocks { 0 };
    std::thread thread;

    void run()
    {
        juce::MidiBuffer midi;
        while (running.load())
        {
            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                buffer.copyFrom (ch, 0, input[(size_t) ch].data(), buffer.getNumSamples());

            p.processBlock (buffer, midi);

            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                if (! std::isfinite (buffer.getMagnitude (ch, 0, buffer.getNumSamples())))
                    finite = false;

            ++blocks;
        }
    }
};

std::unique_ptr<MorvelAudioProcessor> preparedStereo()
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 256);
    return p;
}
} // namespace

TEST (ChainThreads, ToneMovesWhileTheLoadersBuildResponsesAndTheAudioThreadRuns)
{
    auto p = preparedStereo();
    AudioThread audio (*p, 2, 256);

    // Each move queues new responses; the engines' loaders build them while the
    // audio thread adopts earlier ones.
    for (int move = 0; move < 40; ++move)
    {
        setParameter (*p, "Knob1", 0.05f * (float) (move % 21));
        setParameter (*p, "Knob2", 1.0f - 0.05f * (float) (move % 21));
        audio.waitForBlocks (1);
    }

    audio.waitForBlocks (2);
    audio.stop();

    EXPECT_TRUE (audio.outputStayedFinite());
    EXPECT_EQ (p->lastKnob1, p->knob1Raw->load());
    EXPECT_EQ (p->lastKnob2, p->knob2Raw->load());
}

TEST (ChainThreads, StateRestoredAndSavedOnAnotherThreadWhileTheAudioThreadRuns)
{
    auto p = preparedStereo();

    setParameter (*p, "Knob1", 0.8f);
    setParameter (*p, "Mix", 40.0f);
    setParameter (*p, "Input Gain", -3.0f);
    juce::MemoryBlock saved;
    p->getStateInformation (saved);
    setParameter (*p, "Knob1", 0.2f);
    setParameter (*p, "Mix", 90.0f);

    AudioThread audio (*p, 2, 256);
    for (int round = 0; round < 30; ++round)
    {
        p->setStateInformation (saved.getData(), (int) saved.getSize());
        juce::MemoryBlock again;
        p->getStateInformation (again);
        EXPECT_EQ (again, saved) << "round " << round;
        audio.waitForBlocks (1);
    }
    audio.waitForBlocks (2);
    audio.stop();

    EXPECT_TRUE (audio.outputStayedFinite());
    EXPECT_FLOAT_EQ (p->knob1Raw->load(), 0.8f);
    EXPECT_EQ (p->lastKnob1, p->knob1Raw->load());
    EXPECT_EQ (p->mixRaw->load(), 40.0f);
    EXPECT_EQ (p->previousInputGain, std::pow (10.0f, -3.0f / 20.0f));
}

TEST (ChainThreads, TheMeterIsReadWhileTheAudioThreadMeasures)
{
    // The editor's level meter copies the values on the message thread, with no
    // lock, while the audio thread writes them.
    auto p = preparedStereo();
    AudioThread audio (*p, 2, 256);

    const int startBlock = audio.blocksProcessed();
    int reads = 0;
    bool plausible = true;
    float values[PeakValueStore::capacity];

    while (audio.blocksProcessed() < startBlock + 20)
    {
        const int n = p->truePeakMeter.copyPeakDb (values);
        plausible = plausible && n == 4;
        for (int i = 0; i < n; ++i)
            plausible = plausible && values[i] >= -200.0f && values[i] < 20.0f;
        ++reads;
    }
    audio.stop();

    EXPECT_TRUE (plausible);
    EXPECT_GT (reads, 0);
}
