// The built VST3 driven through the SDK's interfaces alone, in the call order of
// hosts that nobody here wrote: the framework's own hosting code negotiates more
// carefully than some of them, and would hide what they hear.

#include "processor/PluginProcessor.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/vstspeaker.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <iostream>
#include <vector>

namespace
{
using namespace Steinberg;

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr int numBlocks = 16; // past the latency (under 10 ms) and the automatic gain's first ramp

/**
    The build's VST3 binary, opened by its path in the build tree (no search that an
    installed copy could win), entered and left as a Linux host does.
*/
class Vst3Module
{
public:
    Vst3Module()
    {
        handle = dlopen (TESSALINE_VST3_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return;

        using Entry = bool (*) (void*);
        using GetFactory = IPluginFactory* (PLUGIN_API*) ();
        auto entry = reinterpret_cast<Entry> (dlsym (handle, "ModuleEntry"));
        auto getFactory = reinterpret_cast<GetFactory> (dlsym (handle, "GetPluginFactory"));
        if (entry != nullptr && getFactory != nullptr && entry (handle))
            factory = owned (getFactory());
    }

    ~Vst3Module()
    {
        factory = nullptr;
        if (handle == nullptr)
            return;
        if (auto exit = reinterpret_cast<bool (*)()> (dlsym (handle, "ModuleExit")))
            exit();
        dlclose (handle);
    }

    /** A new instance of the effect's component, not yet initialised. */
    IPtr<Vst::IComponent> createComponent() const
    {
        for (int32 i = 0; factory != nullptr && i < factory->countClasses(); ++i)
        {
            PClassInfo info {};
            void* component = nullptr;
            if (factory->getClassInfo (i, &info) == kResultOk && std::strcmp (info.category, kVstAudioEffectClass) == 0
                && factory->createInstance (info.cid, Vst::IComponent_iid, &component) == kResultOk)
                return owned (static_cast<Vst::IComponent*> (component));
        }
        return nullptr;
    }

private:
    void* handle = nullptr;
    IPtr<IPluginFactory> factory;
};

int32 channelCount (Vst::IComponent& component, Vst::BusDirection direction)
{
    Vst::BusInfo info {};
    return component.getBusInfo (Vst::kAudio, direction, 0, info) == kResultOk ? info.channelCount : -1;
}

/** What a host does with a bus flagged active by default when it inserts the plug-in. */
void activateIfActiveByDefault (Vst::IComponent& component, Vst::BusDirection direction)
{
    Vst::BusInfo info {};
    ASSERT_EQ (component.getBusInfo (Vst::kAudio, direction, 0, info), kResultOk);
    ASSERT_TRUE (info.flags & Vst::BusInfo::kDefaultActive);
    ASSERT_EQ (component.activateBus (Vst::kAudio, direction, 0, true), kResultOk);
}

/** Two different tones, so that swapped or duplicated channels show. */
float testSignal (int channel, int sample)
{
    const double hz = channel == 0 ? 440.0 : 1250.0;
    return (channel == 0 ? 0.25f : 0.125f) * (float) std::sin (2.0 * juce::MathConstants<double>::pi * hz * sample / sampleRate);
}

/** Channels 0 and 1 of the processor's own stereo output for the test signal, block after block. */
juce::AudioBuffer<float> processorStereoOutput()
{
    MorvelAudioProcessor processor;
    juce::AudioProcessor::BusesLayout stereo;
    stereo.inputBuses.add (juce::AudioChannelSet::stereo());
    stereo.outputBuses.add (juce::AudioChannelSet::stereo());
    EXPECT_TRUE (processor.setBusesLayout (stereo));
    processor.prepareToPlay (sampleRate, blockSize);

    juce::AudioBuffer<float> result (2, numBlocks * blockSize);
    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;

    for (int b = 0; b < numBlocks; ++b)
    {
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
                block.setSample (ch, i, testSignal (ch, b * blockSize + i));
        processor.processBlock (block, midi);
        for (int ch = 0; ch < 2; ++ch)
            result.copyFrom (ch, b * blockSize, block, ch, 0, blockSize);
    }
    return result;
}

class RawVst3Host : public testing::Test
{
protected:
    void SetUp() override
    {
        component = module.createComponent();
        ASSERT_NE (component, nullptr) << "no effect component in " << TESSALINE_VST3_LIBRARY;
        void* audio = nullptr;
        ASSERT_EQ (component->queryInterface (Vst::IAudioProcessor_iid, &audio), kResultOk);
        processor = owned (static_cast<Vst::IAudioProcessor*> (audio));
        ASSERT_EQ (component->initialize (nullptr), kResultOk);
    }

    void TearDown() override
    {
        processor = nullptr;
        if (component != nullptr)
            component->terminate();
        component = nullptr;
    }

    tresult arrange (Vst::SpeakerArrangement in, Vst::SpeakerArrangement out)
    {
        return processor->setBusArrangements (&in, 1, &out, 1);
    }

    Vst3Module module;
    IPtr<Vst::IComponent> component;
    IPtr<Vst::IAudioProcessor> processor;
};
} // namespace

TEST_F (RawVst3Host, StereoTrackThatKeepsTheFirstBusCountsHearsTheProcessorsStereoOutput)
{
    // The host reads the buses once, at insertion, negotiates stereo, and goes on
    // passing the counts it read first.
    const int32 inputs = channelCount (*component, Vst::kInput);
    const int32 outputs = channelCount (*component, Vst::kOutput);
    ASSERT_GE (inputs, 2);
    ASSERT_GE (outputs, 2);
    std::cout << "[ buses ] first read: " << inputs << " in, " << outputs << " out\n";
    ASSERT_NO_FATAL_FAILURE (activateIfActiveByDefault (*component, Vst::kInput));
    ASSERT_NO_FATAL_FAILURE (activateIfActiveByDefault (*component, Vst::kOutput));

    ASSERT_EQ (component->setActive (false), kResultOk);
    ASSERT_EQ (arrange (Vst::SpeakerArr::kStereo, Vst::SpeakerArr::kStereo), kResultOk);
    Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, blockSize, sampleRate };
    ASSERT_EQ (processor->setupProcessing (setup), kResultOk);
    ASSERT_EQ (component->setActive (true), kResultOk);
    processor->setProcessing (true); // optional for a plug-in: any result will do

    juce::AudioBuffer<float> hostIn (inputs, blockSize), hostOut (outputs, blockSize);
    juce::AudioBuffer<float> heard (2, numBlocks * blockSize);
    hostOut.clear();
    std::vector<float*> inChannels (hostIn.getArrayOfWritePointers(), hostIn.getArrayOfWritePointers() + inputs);
    std::vector<float*> outChannels (hostOut.getArrayOfWritePointers(), hostOut.getArrayOfWritePointers() + outputs);
    Vst::AudioBusBuffers inBus {}, outBus {};
    inBus.numChannels = inputs;
    inBus.channelBuffers32 = inChannels.data();
    outBus.numChannels = outputs;
    outBus.channelBuffers32 = outChannels.data();

    Vst::ProcessData data;
    data.processMode = Vst::kRealtime;
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = blockSize;
    data.numInputs = data.numOutputs = 1;
    data.inputs = &inBus;
    data.outputs = &outBus;

    for (int b = 0; b < numBlocks; ++b)
    {
        hostIn.clear();
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
                hostIn.setSample (ch, i, testSignal (ch, b * blockSize + i));
        ASSERT_EQ (processor->process (data), kResultOk) << "block " << b;
        for (int ch = 0; ch < 2; ++ch)
            heard.copyFrom (ch, b * blockSize, outChannels[(size_t) ch], blockSize);
    }

    processor->setProcessing (false);
    component->setActive (false);

    // The same code on the same input: equal but for rounding.
    const auto expected = processorStereoOutput();
    for (int ch = 0; ch < 2; ++ch)
    {
        double signal = 0.0, residual = 0.0;
        for (int i = 0; i < heard.getNumSamples(); ++i)
        {
            const double e = expected.getSample (ch, i), h = heard.getSample (ch, i);
            signal += e * e;
            residual += (h - e) * (h - e);
        }
        const double signalDb = 10.0 * std::log10 (signal / heard.getNumSamples());
        const double residualDb = 10.0 * std::log10 (residual / signal);
        std::cout << "[ null ] channel " << ch << ": residual " << residualDb << " dB against the processor\n";
        EXPECT_GT (signalDb, -30.0) << "channel " << ch << ": the reference itself is near silence";
        EXPECT_GT (heard.getRMSLevel (ch, 0, heard.getNumSamples()), 0.0f) << "channel " << ch << " is silent";
        EXPECT_LT (residualDb, -100.0) << "channel " << ch;
    }
}

TEST_F (RawVst3Host, NegotiatingHostGetsEveryEqualLayoutUpToTwelveChannels)
{
    using namespace Vst::SpeakerArr;
    for (const auto arrangement : { kMono, kStereo, k30Cine, k51, k71Cine, k71_4 })
    {
        SCOPED_TRACE (getChannelCount (arrangement));
        EXPECT_EQ (arrange (arrangement, arrangement), kResultOk);
        EXPECT_EQ (channelCount (*component, Vst::kInput), getChannelCount (arrangement));
        EXPECT_EQ (channelCount (*component, Vst::kOutput), getChannelCount (arrangement));
    }

    EXPECT_NE (arrange (kMono, kStereo), kResultOk);
    EXPECT_NE (arrange (k71_6, k71_6), kResultOk); // 14 channels
}
