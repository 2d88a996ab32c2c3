// Loads the built plug-ins through JUCE's own hosting code, as a host would.

#include "LoadedLibraries.h"

#include "../AllocationCounter.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace
{
enum class Format { vst3, lv2 };

std::string formatName (const testing::TestParamInfo<Format>& info)
{
    return info.param == Format::vst3 ? "VST3" : "LV2";
}

struct ExpectedParameter
{
    const char* name;
    float min, max;     // in the parameter's units
    float defaultValue; // in the parameter's units
    bool isBoolean;
};

const ExpectedParameter expectedParameters[] = {
    { "Input Gain", -20.0f, 20.0f, 0.0f, false },
    { "Output Gain", -20.0f, 20.0f, 0.0f, false },
    { "Knob1", 0.0f, 1.0f, 0.35f, false },
    { "Knob2", 0.0f, 1.0f, 0.35f, false },
    { "Link", 0.0f, 1.0f, 0.0f, true },
    { "AutoGain", 0.0f, 1.0f, 1.0f, true },
    { "Bypass", 0.0f, 1.0f, 0.0f, true },
    { "Mix", 0.0f, 100.0f, 100.0f, false },
};

/**
    The channels per bus that a host sees before it asks for any layout: the VST3
    starts in stereo (hosts that keep the counts they read first play through it),
    the LV2's one layout is the full 7.1.4.
*/
int defaultChannels (Format f)
{
    return f == Format::vst3 ? 2 : 12;
}

float normalised (const ExpectedParameter& p, float value)
{
    return (value - p.min) / (p.max - p.min);
}

/** The plug-in binary that the build made for a format. */
std::filesystem::path builtLibrary (Format f)
{
    return std::filesystem::canonical (f == Format::vst3 ? TESSALINE_VST3_LIBRARY : TESSALINE_LV2_LIBRARY);
}

/** The plug-in as found by a format's own scan of the build tree. */
class HostedPlugin
{
public:
    explicit HostedPlugin (Format f) : formatUsed (f)
    {
        if (f == Format::vst3)
        {
            format = std::make_unique<juce::VST3PluginFormat>();
            format->findAllTypesForFile (descriptions, juce::File (TESSALINE_VST3_BUNDLE).getFullPathName());
        }
        else
        {
            format = std::make_unique<juce::LV2PluginFormat>();
            const auto found = format->searchPathsForPlugins (juce::FileSearchPath (juce::File (TESSALINE_LV2_FOLDER).getFullPathName()), true, false);
            if (found.contains (TESSALINE_LV2_URI))
                format->findAllTypesForFile (descriptions, TESSALINE_LV2_URI);
        }
    }

    const juce::PluginDescription* description() const { return descriptions.isEmpty() ? nullptr : descriptions[0]; }

    std::unique_ptr<juce::AudioPluginInstance> create (double sampleRate = 48000.0, int blockSize = 512)
    {
        juce::String error;
        auto instance = format->createInstanceFromDescription (*description(), sampleRate, blockSize, error);
        EXPECT_NE (instance, nullptr) << error;
        expectOnlyTheBuiltLibraryLoaded();
        return instance;
    }

    /** What every test relies on: the instance runs the binary of this build, not an installed copy. */
    void expectOnlyTheBuiltLibraryLoaded() const
    {
        const auto built = builtLibrary (formatUsed);
        EXPECT_EQ (hostingtest::mappedFilesNamed (built.filename()), std::set<std::filesystem::path> { built });
    }

    Format formatUsed;
    std::unique_ptr<juce::AudioPluginFormat> format;
    juce::OwnedArray<juce::PluginDescription> descriptions;
};

/** The plug-in's own parameters: everything but a bypass parameter that the format's wrapper adds. */
std::vector<juce::AudioProcessorParameter*> ownParameters (juce::AudioPluginInstance& instance)
{
    std::vector<juce::AudioProcessorParameter*> result;
    for (auto* p : instance.getParameters())
        if (p != instance.getBypassParameter())
            result.push_back (p);
    return result;
}

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& instance, const juce::String& name)
{
    for (auto* p : ownParameters (instance))
        if (p->getName (100) == name)
            return p;
    return nullptr;
}

void setStereo (juce::AudioPluginInstance& instance)
{
    juce::AudioProcessor::BusesLayout stereo;
    stereo.inputBuses.add (juce::AudioChannelSet::stereo());
    stereo.outputBuses.add (juce::AudioChannelSet::stereo());
    instance.setBusesLayout (stereo);
}

/** Runs blocks of a 440 Hz sine at amplitude 0.25 through the instance and returns the last block. */
juce::AudioBuffer<float> processSine (juce::AudioPluginInstance& instance, double sampleRate, int blockSize, int numBlocks)
{
    const int channels = std::max (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels());
    juce::AudioBuffer<float> buffer (channels, blockSize);
    juce::MidiBuffer midi;

    for (int b = 0; b < numBlocks; ++b)
    {
        for (int i = 0; i < blockSize; ++i)
        {
            const double t = (double) (b * blockSize + i) / sampleRate;
            for (int ch = 0; ch < channels; ++ch)
                buffer.setSample (ch, i, 0.25f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 440.0 * t));
        }
        instance.processBlock (buffer, midi);
    }

    return buffer;
}

/** Lets the message thread deliver what the plug-in posted (a VST3 latency change arrives that way). */
void deliverMessages()
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
}

std::map<juce::String, float> parameterValues (juce::AudioPluginInstance& instance)
{
    std::map<juce::String, float> values;
    for (auto* p : ownParameters (instance))
        values[p->getName (100)] = p->getValue();
    return values;
}

class HostedPluginTest : public testing::TestWithParam<Format>
{
protected:
    HostedPlugin plugin { GetParam() };

    void SetUp() override
    {
        ASSERT_NE (plugin.description(), nullptr) << "the build tree's plug-in was not found";
    }
};
} // namespace

TEST_P (HostedPluginTest, LoadsTheBinaryOfThisBuildWithTheUsersFoldersOutOfReach)
{
    // The program runs in a home of its own (see its main): no user-installed copy
    // can be found before the build's.
    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    EXPECT_TRUE (home.getFileName().startsWith ("tessaline-hosting-home-")) << home.getFullPathName();
    EXPECT_FALSE (home.getChildFile (".lv2").exists());
    EXPECT_FALSE (home.getChildFile (".vst3").exists());

    if (GetParam() == Format::vst3)
    {
        EXPECT_EQ (std::filesystem::canonical (plugin.description()->fileOrIdentifier.toStdString()),
                   std::filesystem::canonical (TESSALINE_VST3_BUNDLE));
    }

    auto instance = plugin.create();
    ASSERT_NE (instance, nullptr);
    plugin.expectOnlyTheBuiltLibraryLoaded();
}

TEST_P (HostedPluginTest, ScanFindsTheEffectWithItsNameAndMaker)
{
    const auto& d = *plugin.description();
    EXPECT_EQ (d.name, "Tessaline");
    EXPECT_EQ (d.manufacturerName, "Brackwell");
    if (GetParam() == Format::vst3) // LV2 metadata carries no version string
    {
        EXPECT_EQ (d.version, "1.0.0");
    }
    EXPECT_FALSE (d.isInstrument);
    EXPECT_EQ (d.numInputChannels, defaultChannels (GetParam()));
    EXPECT_EQ (d.numOutputChannels, defaultChannels (GetParam()));
    EXPECT_EQ (plugin.descriptions.size(), 1);
}

TEST_P (HostedPluginTest, InstanceShowsNameBusesAndNoMidi)
{
    auto instance = plugin.create();
    ASSERT_NE (instance, nullptr);

    EXPECT_EQ (instance->getName(), "Tessaline");
    EXPECT_FALSE (instance->acceptsMidi());
    EXPECT_FALSE (instance->producesMidi());
    ASSERT_EQ (instance->getBusCount (true), 1);
    ASSERT_EQ (instance->getBusCount (false), 1);
    EXPECT_EQ (instance->getTotalNumInputChannels(), defaultChannels (GetParam()));
    EXPECT_EQ (instance->getTotalNumOutputChannels(), defaultChannels (GetParam()));
    EXPECT_EQ (instance->getChannelLayoutOfBus (true, 0).size(), defaultChannels (GetParam()));
}

TEST_P (HostedPluginTest, EightParametersWithTheirNamesRangesAndDefaults)
{
    auto instance = plugin.create();
    ASSERT_NE (instance, nullptr);

    const auto params = ownParameters (*instance);
    ASSERT_EQ (params.size(), 8u);

    // VST3 keeps the processor's order; LV2 lists parameters by their URIs.
    if (GetParam() == Format::vst3)
    {
        for (size_t i = 0; i < params.size(); ++i)
            EXPECT_EQ (params[i]->getName (100), expectedParameters[i].name);
    }

    for (const auto& expected : expectedParameters)
    {
        SCOPED_TRACE (expected.name);
        auto* p = findParameter (*instance, expected.name);
        ASSERT_NE (p, nullptr);
        EXPECT_NEAR (p->getDefaultValue(), normalised (expected, expected.defaultValue), 1e-4);
        EXPECT_NEAR (p->getValue(), normalised (expected, expected.defaultValue), 1e-4);

        if (! expected.isBoolean)
        {
            EXPECT_NEAR (p->getText (0.0f, 100).getFloatValue(), expected.min, 1e-3) << p->getText (0.0f, 100);
            EXPECT_NEAR (p->getText (1.0f, 100).getFloatValue(), expected.max, 1e-3) << p->getText (1.0f, 100);
        }
    }

    // A host's automation list shows the VST3 wrapper's own bypass beside the
    // plug-in's "Bypass": it must not take the same name. (The LV2 plug-in calls its
    // host bypass "Enabled"; the framework's LV2 host names that one itself.)
    if (GetParam() == Format::vst3)
    {
        std::multiset<juce::String> names;
        for (auto* p : instance->getParameters())
            names.insert (p->getName (100));
        EXPECT_EQ (names.count ("Bypass"), 1u);
        EXPECT_EQ (names.count ("Master Bypass"), 1u);
        ASSERT_NE (instance->getBypassParameter(), nullptr);
        EXPECT_EQ (instance->getBypassParameter()->getName (100), "Master Bypass");
    }
}

TEST_P (HostedPluginTest, StateRoundTripsThroughTheHostInterface)
{
    auto first = plugin.create();
    ASSERT_NE (first, nullptr);

    const std::map<juce::String, float> wanted = {
        { "Input Gain", normalised (expectedParameters[0], -7.5f) },
        { "Output Gain", normalised (expectedParameters[1], 4.0f) },
        { "Knob1", 0.75f }, { "Knob2", 0.1f }, { "Link", 1.0f }, { "AutoGain", 0.0f }, { "Bypass", 1.0f },
        { "Mix", 0.42f },
    };

    for (const auto& [name, value] : wanted)
        findParameter (*first, name)->setValueNotifyingHost (value);

    // Hosts save while the plug-in runs: the values reach the plug-in with the next block.
    setStereo (*first);
    first->prepareToPlay (48000.0, 256);
    processSine (*first, 48000.0, 256, 1);

    juce::MemoryBlock state;
    first->getStateInformation (state);
    ASSERT_GT (state.getSize(), 0u);

    auto second = plugin.create();
    ASSERT_NE (second, nullptr);
    setStereo (*second);
    second->prepareToPlay (48000.0, 256);
    second->setStateInformation (state.getData(), (int) state.getSize());
    processSine (*second, 48000.0, 256, 1);

    const auto restored = parameterValues (*second);
    for (const auto& [name, value] : wanted)
        EXPECT_NEAR (restored.at (name), value, 1e-4) << name;
}

TEST_P (HostedPluginTest, ProcessesABlockToFiniteAudio)
{
    auto instance = plugin.create();
    ASSERT_NE (instance, nullptr);
    setStereo (*instance);
    instance->prepareToPlay (48000.0, 512);

    const auto out = processSine (*instance, 48000.0, 512, 8);
    for (int ch = 0; ch < out.getNumChannels(); ++ch)
        for (int i = 0; i < out.getNumSamples(); ++i)
            ASSERT_TRUE (std::isfinite (out.getSample (ch, i))) << ch << " " << i;

    instance->releaseResources();
}

TEST_P (HostedPluginTest, ProcessesSoundNearTheInputsLevelAtTheDefaults)
{
    auto instance = plugin.create();
    ASSERT_NE (instance, nullptr);
    setStereo (*instance);
    instance->prepareToPlay (48000.0, 512);

    // Half a second lets the latency pass and the automatic gain settle; the last
    // block is measured against the sine's own level.
    const auto out = processSine (*instance, 48000.0, 512, 48);
    const double inputRms = 0.25 / std::sqrt (2.0);

    for (int ch = 0; ch < 2; ++ch)
    {
        double sum = 0.0;
        for (int i = 0; i < out.getNumSamples(); ++i)
        {
            const float y = out.getSample (ch, i);
            ASSERT_TRUE (std::isfinite (y)) << ch << " " << i;
            sum += (double) y * y;
        }

        // Sound, near the input's level: the automatic gain matches the energies
        // and lifts by a factor of 1.1 (+0.83 dB) at most; the default tone's own
        // equalisation and filters account for the rest.
        const double levelDb = 20.0 * std::log10 (std::sqrt (sum / out.getNumSamples()) / inputRms);
        EXPECT_GT (levelDb, -3.0) << "channel " << ch;
        EXPECT_LT (levelDb, 1.5) << "channel " << ch;
        std::cout << "[ level ] channel " << ch << ": " << levelDb << " dB against the input\n";
    }

    instance->releaseResources();
}

TEST_P (HostedPluginTest, SteadyBlocksAllocateNothing)
{
    ASSERT_TRUE (tessaline::testing::AllocationCounter::isSupported());

    // Everything that runs on the calling thread counts: the host's side of the
    // format and the plug-in's wrapper as well as the processor.
    for (const auto& layout : { juce::AudioChannelSet::stereo(), juce::AudioChannelSet::create7point1point4() })
    {
        SCOPED_TRACE (layout.getDescription().toStdString());
        auto instance = plugin.create();
        ASSERT_NE (instance, nullptr);
        // An LV2 instance keeps the ports it was made with.
        juce::AudioProcessor::BusesLayout buses;
        buses.inputBuses.add (layout);
        buses.outputBuses.add (layout);
        instance->setBusesLayout (buses);
        instance->prepareToPlay (48000.0, 512);

        const int channels = std::max (instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels());
        juce::AudioBuffer<float> buffer (channels, 512);
        juce::MidiBuffer midi;
        std::mt19937 rng (7);
        std::uniform_real_distribution<float> noise (-0.3f, 0.3f);
        std::size_t allocations = 0;

        // The first blocks may still size the host's buffers; the rest are steady.
        for (int block = 0; block < 24; ++block)
        {
            for (int ch = 0; ch < channels; ++ch)
                for (int i = 0; i < 512; ++i)
                    buffer.setSample (ch, i, noise (rng));

            const auto n = tessaline::testing::countAllocations ([&] { instance->processBlock (buffer, midi); });
            if (block >= 4)
                allocations += n;
        }

        EXPECT_EQ (allocations, 0u) << "over 20 steady blocks of " << channels << " channels";
        instance->releaseResources();
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedPluginTest, testing::Values (Format::vst3, Format::lv2), formatName);

//==============================================================================
TEST (HostedLatency, BothFormatsReportTheSameDelayAfterEachPreparation)
{
    // The figure itself is checked against an impulse's arrival elsewhere; here the
    // host's side: each format passes the delay on after preparation, a plausible
    // one (under 10 ms), and the same in both.
    std::map<double, int> latencyByRate[2];

    for (const auto format : { Format::vst3, Format::lv2 })
    {
        HostedPlugin plugin (format);
        ASSERT_NE (plugin.description(), nullptr);
        auto instance = plugin.create();
        ASSERT_NE (instance, nullptr);
        setStereo (*instance);

        for (const double rate : { 44100.0, 48000.0, 96000.0 })
        {
            instance->prepareToPlay (rate, 512);
            processSine (*instance, rate, 512, 1);
            deliverMessages();

            const int latency = instance->getLatencySamples();
            EXPECT_GT (latency, 0) << rate;
            EXPECT_LT (latency, (int) (0.01 * rate)) << rate;
            latencyByRate[(int) format][rate] = latency;
            instance->releaseResources();
        }
    }

    EXPECT_EQ (latencyByRate[0], latencyByRate[1]);
}

namespace
{
/**
    The VST3 component's state as the wrapper writes it: the processor's chunk, then
    the wrapper's private data (a zero int64, a tree, the tree's size as int64,
    "JUCEPrivateData").
*/
struct ComponentState
{
    std::vector<char> bytes;
    size_t processorChunkSize;
    size_t privateSizeField; // offset of the tree's size

    static constexpr size_t magicSize = 15;
};

ComponentState readComponentState (const juce::MemoryBlock& component)
{
    const auto* bytes = static_cast<const char*> (component.getData());
    const auto length = juce::ByteOrder::littleEndianInt (bytes + 4);
    return { { bytes, bytes + component.getSize() },
             8 + (size_t) length + 1,
             component.getSize() - ComponentState::magicSize - 8 };
}

juce::MemoryBlock hostStateWithComponent (const juce::XmlElement& hostState, const std::vector<char>& component)
{
    juce::XmlElement copy (hostState);
    if (auto* c = copy.getChildByName ("IComponent"))
    {
        c->deleteAllChildElements();
        c->addTextElement (juce::MemoryBlock (component.data(), component.size()).toBase64Encoding());
    }
    juce::MemoryBlock out;
    juce::AudioProcessor::copyXmlToBinary (copy, out);
    return out;
}

void writeLittleEndian (std::vector<char>& bytes, size_t offset, uint64_t value, size_t width)
{
    for (size_t i = 0; i < width && offset + i < bytes.size(); ++i)
        bytes[offset + i] = (char) (value >> (8 * i));
}

/** Damages a copy of the component state one way or another, by kind. */
std::vector<char> damaged (const ComponentState& state, int kind, std::mt19937& rng)
{
    auto pick = [&] (size_t n) { return (size_t) std::uniform_int_distribution<uint64_t> (0, n - 1) (rng); };
    auto any64 = [&] { return std::uniform_int_distribution<uint64_t>() (rng); };
    auto blob = state.bytes;
    const auto nearby = [&] (uint64_t value) { return value + pick (129) - 64; };

    switch (kind)
    {
        case 0: // bytes overwritten anywhere
            for (size_t e = 1 + pick (6); e > 0; --e)
                blob[pick (blob.size())] = (char) pick (256);
            break;
        case 1: // cut short, as a truncated file is
            blob.resize (pick (blob.size()));
            break;
        case 2: // the processor's length field
            writeLittleEndian (blob, 4, pick (2) == 0 ? any64() : nearby (state.processorChunkSize - 9), 4);
            break;
        case 3: // the size of the wrapper's tree, which the wrapper reads back from the end
        {
            const uint64_t treeSize = state.privateSizeField - state.processorChunkSize - 8;
            const uint64_t choices[] = { any64(), nearby (treeSize), nearby (state.privateSizeField), ~uint64_t { 0 } - pick (64) };
            writeLittleEndian (blob, state.privateSizeField, choices[pick (4)], 8);
            break;
        }
        default: // bytes or XML tokens taken out or put in, which moves the fields against the ends
            for (size_t e = 1 + pick (4); e > 0; --e)
            {
                static const std::string tokens[] = { "nan", "inf", "1e999", "<", "\"", "&", "apvt", "</PARAM>" };
                const auto at = blob.begin() + (std::ptrdiff_t) pick (blob.size() + 1);
                switch (pick (3))
                {
                    case 0: if (at != blob.end()) blob.erase (at); break;
                    case 1: blob.insert (at, (char) pick (256)); break;
                    default: { const auto& t = tokens[pick (8)]; blob.insert (at, t.begin(), t.end()); }
                }
            }
    }

    return blob;
}
} // namespace

TEST (HostedVst3State, DamagedChunksThroughTheHostNeverCrashOrBreakTheParameters)
{
    HostedPlugin plugin (Format::vst3);
    ASSERT_NE (plugin.description(), nullptr);
    auto instance = plugin.create();
    ASSERT_NE (instance, nullptr);

    juce::MemoryBlock saved;
    instance->getStateInformation (saved);
    const auto hostState = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
    ASSERT_NE (hostState, nullptr);
    ASSERT_NE (hostState->getChildByName ("IComponent"), nullptr);

    juce::MemoryBlock component;
    ASSERT_TRUE (component.fromBase64Encoding (hostState->getChildByName ("IComponent")->getAllSubText()));
    const auto state = readComponentState (component);
    ASSERT_EQ (std::string (state.bytes.data(), 4), "VC2!");
    ASSERT_EQ (std::string (state.bytes.end() - ComponentState::magicSize, state.bytes.end()), "JUCEPrivateData");
    ASSERT_GT (state.privateSizeField, state.processorChunkSize + 8);

    auto* knob1 = findParameter (*instance, "Knob1");
    ASSERT_NE (knob1, nullptr);
    const float savedKnob1 = knob1->getValue();

    auto restore = [&] (const std::vector<char>& blob)
    {
        // Knob1 away from its saved value, so that a restore shows.
        knob1->setValueNotifyingHost (0.9f);
        const auto hostChunk = hostStateWithComponent (*hostState, blob);
        instance->setStateInformation (hostChunk.getData(), (int) hostChunk.getSize());
    };

    // Each parameter restored to a valid value or left as it was: finite, in range, and
    // a switch on or off.
    std::vector<juce::AudioProcessorParameter*> switches { instance->getBypassParameter() };
    for (const auto& expected : expectedParameters)
        if (expected.isBoolean)
            switches.push_back (findParameter (*instance, expected.name));

    auto parametersValid = [&] (const std::string& what)
    {
        bool valid = true;
        for (auto* p : instance->getParameters())
        {
            const float v = p->getValue();
            const bool isSwitch = std::find (switches.begin(), switches.end(), p) != switches.end();
            if (! std::isfinite (v) || v < 0.0f || v > 1.0f || (isSwitch && v != 0.0f && v != 1.0f))
            {
                ADD_FAILURE() << p->getName (100) << " = " << v << " after " << what;
                valid = false;
            }
        }
        return valid;
    };

    // A tree size that the chunk cannot hold (from one byte more than lies before its
    // field, after the leading zero int64) leaves the wrapper's section unread; the
    // processor's chunk before it is whole and restores. Unchecked, the remaining size
    // wraps around: a size like 2^40 + 64 then has the tree read from a terabyte
    // before the chunk.
    const uint64_t firstTooLarge = state.privateSizeField - 8 + 1;
    for (const uint64_t claimed : { firstTooLarge, (uint64_t) state.bytes.size(), (uint64_t { 1 } << 40) + 64, ~uint64_t { 0 } })
    {
        auto blob = state.bytes;
        writeLittleEndian (blob, state.privateSizeField, claimed, 8);
        restore (blob);
        const auto what = "a tree size of " + std::to_string (claimed);
        EXPECT_TRUE (parametersValid (what));
        EXPECT_EQ (knob1->getValue(), savedKnob1) << what;
    }

    // A damaged count in the wrapper's tree ("JUCEPrivateData", then the property
    // count: its field's size byte made 4 reads "\1Byp" as 1.9 billion properties)
    // stops the tree's read at the end of its section; the host bypass keeps its value.
    {
        auto* hostBypass = instance->getBypassParameter();
        hostBypass->setValueNotifyingHost (1.0f);
        auto blob = state.bytes;
        const auto treeStart = state.processorChunkSize + 8;
        ASSERT_EQ (std::string (blob.data() + treeStart), "JUCEPrivateData");
        blob[treeStart + 16] = 4;
        restore (blob);
        EXPECT_TRUE (parametersValid ("a damaged property count"));
        EXPECT_EQ (hostBypass->getValue(), 1.0f);
        EXPECT_EQ (knob1->getValue(), savedKnob1);
        hostBypass->setValueNotifyingHost (0.0f);
    }

    std::mt19937 rng (4242);
    int restored = 0;
    for (int i = 0; i < 2000; ++i)
    {
        restore (damaged (state, i % 5, rng));
        if (! parametersValid ("damaged chunk " + std::to_string (i) + " (kind " + std::to_string (i % 5) + ")"))
            break;
        if (knob1->getValue() != 0.9f)
            ++restored;
    }

    // Many damaged chunks keep the processor's part readable; they must have reached it.
    EXPECT_GT (restored, 300);

    // Still a working plug-in afterwards.
    setStereo (*instance);
    instance->prepareToPlay (48000.0, 256);
    const auto out = processSine (*instance, 48000.0, 256, 2);
    EXPECT_TRUE (std::isfinite (out.getMagnitude (0, 256)));
}
