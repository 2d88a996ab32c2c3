#include "editor/VolumeMeter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <set>
#include <thread>
#include <vector>

// The meter copies the processor's true-peak values on the message thread while the
// audio thread writes them and, when a block's size or the layout changes, prepares
// again and changes their number. Meant to run under ThreadSanitizer as well as in
// the normal build: there, any unsynchronised access is a failure of its own.

namespace
{
/** Blocks of a constant 0.5 (true peak about -6 dB) with the dry signal only, so that
    every value that can ever be stored lies well below 0 dB, overshoot included. */
void processBlocks (MorvelAudioProcessor& processor, int channels, std::initializer_list<int> sizes)
{
    juce::MidiBuffer midi;
    for (const int size : sizes)
    {
        juce::AudioBuffer<float> block (channels, size);
        for (int ch = 0; ch < channels; ++ch)
            juce::FloatVectorOperations::fill (block.getWritePointer (ch), 0.5f, size);
        processor.processBlock (block, midi);
    }
}

void useLayout (MorvelAudioProcessor& processor, int channels)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (channels));
    layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (channels));
    processor.releaseResources();
    processor.setBusesLayout (layout);
    processor.prepareToPlay (48000.0, 64);
}

void setParameter (MorvelAudioProcessor& processor, const char* id, float value)
{
    auto* parameter = processor.parameterState.getParameter (id);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
}
} // namespace

TEST (MeterReadRace, TicksSeeWholeValuesWhileTheAudioThreadProcessesAndPrepares)
{
    MorvelAudioProcessor processor;
    setParameter (processor, "Mix", 0.0f);
    setParameter (processor, "AutoGain", 0.0f);
    useLayout (processor, 2);

    VolumeMeter meter (&processor);
    meter.setBounds (0, 0, 220, 410);

    const std::vector<int> layouts { 12, 1, 6, 2, 12, 4, 1, 12, 2 };
    const std::set<int> possibleChannelsPerSide { 1, 2, 4, 6, 12 };

    std::atomic<bool> audioDone { false };
    std::thread audio ([&]
    {
        for (const int channels : layouts)
        {
            useLayout (processor, channels);
            processBlocks (processor, channels, { 64, 64, 17, 17, 96, 33, 64 });
        }
        audioDone = true;
    });

    int ticks = 0;
    int badCounts = 0;
    int badValues = 0;
    juce::Image canvas (juce::Image::ARGB, 220, 410, true);

    while (! audioDone.load())
    {
        meter.timerCallback();
        ++ticks;

        if (possibleChannelsPerSide.count (meter.channelsPerSide) == 0)
            ++badCounts;

        // The holds keep the highest unclamped value ever read: a value that was never
        // written (a torn or stale read of freed memory) would most likely stay there.
        for (const float hold : meter.peakHold)
            if (! (hold >= -60.0f && hold <= 0.0f))
                ++badValues;

        if (ticks % 32 == 0)
        {
            juce::Graphics g (canvas);
            meter.paint (g);
        }
    }
    audio.join();

    EXPECT_EQ (badCounts, 0);
    EXPECT_EQ (badValues, 0);
    EXPECT_GT (ticks, 100) << "the ticks hardly overlapped the audio thread";
    RecordProperty ("ticks", ticks);

    // Once the audio thread is still, the meter shows its last layout.
    meter.timerCallback();
    EXPECT_EQ (meter.channelsPerSide, 2);
}
