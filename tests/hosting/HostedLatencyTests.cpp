// The latency that the built plug-ins report to a host, against where an impulse
// really comes out, processed and bypassed by the host, at the rates and block sizes
// hosts use.

#include "LoadedLibraries.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace
{
enum class PluginFormat { vst3, lv2 };

/**
    The plug-in built in this tree, through the format's own loader. The format stays
    alive as long as the instance: its module or its LV2 world backs the instance.
*/
struct LoadedPlugin
{
    LoadedPlugin (PluginFormat which, double rate, int block)
    {
        juce::OwnedArray<juce::PluginDescription> found;

        if (which == PluginFormat::vst3)
        {
            format = std::make_unique<juce::VST3PluginFormat>();
            format->findAllTypesForFile (found, juce::File (TESSALINE_VST3_BUNDLE).getFullPathName());
        }
        else
        {
            format = std::make_unique<juce::LV2PluginFormat>();
            const juce::FileSearchPath folder (juce::File (TESSALINE_LV2_FOLDER).getFullPathName());
            if (format->searchPathsForPlugins (folder, true, false).contains (TESSALINE_LV2_URI))
                format->findAllTypesForFile (found, TESSALINE_LV2_URI);
        }

        juce::String error;
        if (! found.isEmpty())
            instance = format->createInstanceFromDescription (*found[0], rate, block, error);
    }

    std::unique_ptr<juce::AudioPluginFormat> format;
    std::unique_ptr<juce::AudioPluginInstance> instance;
};

void setParameter (juce::AudioPluginInstance& instance, const juce::String& name, float normalisedValue)
{
    for (auto* p : instance.getParameters())
        if (p != instance.getBypassParameter() && p->getName (100) == name)
            p->setValueNotifyingHost (normalisedValue);
}

/** How the instance runs: processed at Mix 0 or 100 %, or bypassed by the host (at Mix 100 %). */
enum class Run { dry, wet, bypassed };

struct ImpulsePeak
{
    int reported;
    int peakAt;
    float peak;
};

/**
    Prepares the instance with Mix at 0 or 100 % and automatic gain off, lets the
    latency reach the host (a VST3 change arrives through the message thread), then
    sends a small impulse at the start of the third block. Returns the reported
    latency, and the index of the response's largest sample, counted from the impulse,
    with its magnitude.
*/
ImpulsePeak impulsePeak (juce::AudioPluginInstance& instance, double rate, int block, Run run)
{
    setParameter (instance, "Mix", run == Run::dry ? 0.0f : 1.0f);
    setParameter (instance, "AutoGain", 0.0f);

    // Hosts hand parameter changes over with a block: one sample, which fits any
    // size the instance was prepared for.
    // An LV2 instance keeps the ports it was made with, whatever layout it was asked for.
    const int channels = std::max (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels());
    juce::AudioBuffer<float> handOver (channels, 1);
    juce::MidiBuffer midi;
    handOver.clear();
    instance.processBlock (handOver, midi);
    instance.releaseResources();
    instance.prepareToPlay (rate, block);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

    const int reported = instance.getLatencySamples();
    juce::AudioBuffer<float> buffer (channels, block);
    const int offset = 2 * block;
    const int total = offset + reported + 2048;
    int peakAt = -1;
    float peak = 0.0f;

    // The host's bypass switch (the LV2 "enabled" port); the VST3 instance also sets its
    // own when it is asked for a bypassed block.
    auto* hostBypass = instance.getBypassParameter();
    if (hostBypass != nullptr)
        hostBypass->setValueNotifyingHost (run == Run::bypassed ? 1.0f : 0.0f);

    for (int start = 0; start < total; start += block)
    {
        buffer.clear();
        if (start == offset)
            for (int ch = 0; ch < channels; ++ch)
                buffer.setSample (ch, 0, 0.05f);

        if (run == Run::bypassed)
            instance.processBlockBypassed (buffer, midi);
        else
            instance.processBlock (buffer, midi);

        for (int i = 0; i < block; ++i)
        {
            if (start + i >= offset && std::abs (buffer.getSample (0, i)) > peak)
            {
                peak = std::abs (buffer.getSample (0, i));
                peakAt = start + i - offset;
            }
        }
    }
    if (hostBypass != nullptr)
        hostBypass->setValueNotifyingHost (0.0f);
    return { reported, peakAt, peak };
}

class HostedLatencyTest : public testing::TestWithParam<PluginFormat>
{
};
} // namespace

TEST_P (HostedLatencyTest, AnImpulsePeaksAtTheReportedLatency)
{
    for (double rate : { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 384000.0 })
    {
        for (int block : { 64, 512, 4096 })
        {
            // An LV2 instance takes its largest block when it is made: one per size.
            LoadedPlugin plugin (GetParam(), rate, block);
            auto& instance = plugin.instance;
            ASSERT_NE (instance, nullptr) << "the build tree's plug-in was not found";
            ASSERT_TRUE (hostingtest::onlyThisLibraryLoaded (GetParam() == PluginFormat::vst3 ? TESSALINE_VST3_LIBRARY
                                                                                              : TESSALINE_LV2_LIBRARY))
                << "an installed copy was loaded instead of the build's";

            juce::AudioProcessor::BusesLayout stereo;
            stereo.inputBuses.add (juce::AudioChannelSet::stereo());
            stereo.outputBuses.add (juce::AudioChannelSet::stereo());
            instance->setBusesLayout (stereo);

            for (const auto run : { Run::dry, Run::wet, Run::bypassed })
            {
                SCOPED_TRACE (testing::Message() << rate << " Hz, block " << block
                                                 << (run == Run::dry ? ", Mix 0" : run == Run::wet ? ", Mix 100" : ", bypassed by the host"));
                const auto [reported, peakAt, peak] = impulsePeak (*instance, rate, block, run);
                EXPECT_EQ (peakAt, reported);
                EXPECT_GT (reported, 0);

                // Bypassed, the impulse itself comes out, not the model's response to it.
                if (run == Run::bypassed)
                {
                    EXPECT_EQ (peak, 0.05f);
                }
            }
            instance->releaseResources();
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedLatencyTest, testing::Values (PluginFormat::vst3, PluginFormat::lv2),
                          [] (const testing::TestParamInfo<PluginFormat>& info) {
                              return std::string (info.param == PluginFormat::vst3 ? "VST3" : "LV2");
                          });
