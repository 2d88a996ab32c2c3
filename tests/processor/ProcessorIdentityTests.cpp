#include "processor/PluginProcessor.h"

#include <BinaryData.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace
{
using Layout = juce::AudioProcessor::BusesLayout;
using Set = juce::AudioChannelSet;

/** One processor for the whole program: construction parses 1.4 MB of JSON. */
MorvelAudioProcessor& sharedProcessor()
{
    static auto processor = std::make_unique<MorvelAudioProcessor>();
    return *processor;
}

Layout makeLayout (std::initializer_list<Set> inputs, std::initializer_list<Set> outputs)
{
    Layout layout;
    for (const auto& s : inputs)
        layout.inputBuses.add (s);
    for (const auto& s : outputs)
        layout.outputBuses.add (s);
    return layout;
}

struct ExpectedParameter
{
    const char* id;
    float min, max, interval, defaultValue;
    bool isBoolean;
};

// Ranges, grids and (snapped) defaults in the processor's index order.
const ExpectedParameter expectedParameters[] = {
    { "Input Gain", -20.0f, 20.0f, 0.01f, 0.0f, false },
    { "Output Gain", -20.0f, 20.0f, 0.01f, 0.0f, false },
    { "Knob1", 0.0f, 1.0f, 0.05f, 0.35f, false },
    { "Knob2", 0.0f, 1.0f, 0.05f, 0.35f, false },
    { "Link", 0.0f, 1.0f, 1.0f, 0.0f, true },
    { "AutoGain", 0.0f, 1.0f, 1.0f, 1.0f, true },
    { "Bypass", 0.0f, 1.0f, 1.0f, 0.0f, true },
    { "Mix", 0.0f, 100.0f, 1.0f, 100.0f, false },
};
} // namespace

TEST (ProcessorIdentity, DescribesItselfAsAnAudioEffect)
{
    auto& p = sharedProcessor();
    EXPECT_EQ (p.getName(), "Tessaline");
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_FALSE (p.isMidiEffect());
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_TRUE (p.hasEditor());
    EXPECT_FALSE (p.supportsDoublePrecisionProcessing());
    EXPECT_EQ (p.getBypassParameter(), nullptr);
}

TEST (ProcessorIdentity, HasOneNamelessProgramThatCannotBeChanged)
{
    auto& p = sharedProcessor();
    EXPECT_EQ (p.getNumPrograms(), 1);
    for (int i : { -1, 0, 1, 5, 1000 })
        EXPECT_TRUE (p.getProgramName (i).isEmpty());

    p.setCurrentProgram (5);
    p.changeProgramName (0, "renamed");
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_TRUE (p.getProgramName (0).isEmpty());
}

TEST (ProcessorIdentity, BusesAreOneInputAndOneOutputOf7point1point4)
{
    auto& p = sharedProcessor();
    ASSERT_EQ (p.getBusCount (true), 1);
    ASSERT_EQ (p.getBusCount (false), 1);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (p.getBus (true, 0)->getDefaultLayout(), Set::create7point1point4());
    EXPECT_EQ (p.getBus (false, 0)->getDefaultLayout(), Set::create7point1point4());
    EXPECT_EQ (p.getTotalNumInputChannels(), 12);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 12);
    EXPECT_TRUE (p.getBus (true, 0)->isEnabledByDefault());
    EXPECT_FALSE (p.canAddBus (true));
    EXPECT_FALSE (p.canRemoveBus (false));
}

TEST (ProcessorIdentity, LayoutTestAcceptsEqualSetsOfUpToTwelveChannels)
{
    auto& p = sharedProcessor();
    EXPECT_TRUE (p.isBusesLayoutSupported (makeLayout ({ Set::mono() }, { Set::mono() })));
    EXPECT_TRUE (p.isBusesLayoutSupported (makeLayout ({ Set::stereo() }, { Set::stereo() })));
    EXPECT_TRUE (p.isBusesLayoutSupported (makeLayout ({ Set::create7point1point4() }, { Set::create7point1point4() })));
    EXPECT_TRUE (p.isBusesLayoutSupported (makeLayout ({ Set::discreteChannels (12) }, { Set::discreteChannels (12) })));
    EXPECT_TRUE (p.isBusesLayoutSupported (makeLayout ({}, {})));
    EXPECT_TRUE (p.isBusesLayoutSupported (makeLayout ({ Set::disabled() }, {})));
    EXPECT_TRUE (p.isBusesLayoutSupported (makeLayout ({ Set::disabled() }, { Set::disabled() })));
}

TEST (ProcessorIdentity, LayoutTestRefusesDifferingOrWiderSets)
{
    auto& p = sharedProcessor();
    EXPECT_FALSE (p.isBusesLayoutSupported (makeLayout ({ Set::mono() }, { Set::stereo() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (makeLayout ({ Set::stereo() }, { Set::mono() })));
    // Equal width, different channel types.
    EXPECT_FALSE (p.isBusesLayoutSupported (makeLayout ({ Set::createLCR() }, { Set::createLRS() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (makeLayout ({ Set::discreteChannels (13) }, { Set::discreteChannels (13) })));
    EXPECT_FALSE (p.isBusesLayoutSupported (makeLayout ({ Set::create9point1point6() }, { Set::create9point1point6() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (makeLayout ({ Set::stereo() }, {})));
    EXPECT_FALSE (p.isBusesLayoutSupported (makeLayout ({}, { Set::stereo() })));
}

TEST (ProcessorIdentity, ApplyingALayoutChangesTheChannelCounts)
{
    MorvelAudioProcessor p;
    EXPECT_TRUE (p.setBusesLayout (makeLayout ({ Set::stereo() }, { Set::stereo() })));
    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_FALSE (p.setBusesLayout (makeLayout ({ Set::mono() }, { Set::stereo() })));
    EXPECT_EQ (p.getTotalNumOutputChannels(), 2);
}

TEST (ProcessorParameters, EightParametersInLayoutOrderWithTheirRangesAndDefaults)
{
    const auto& params = sharedProcessor().getParameters();
    ASSERT_EQ (params.size(), 8);

    for (int i = 0; i < 8; ++i)
    {
        const auto& expected = expectedParameters[i];
        auto* p = dynamic_cast<juce::RangedAudioParameter*> (params[i]);
        ASSERT_NE (p, nullptr);
        SCOPED_TRACE (expected.id);

        EXPECT_EQ (p->getParameterID(), expected.id);
        EXPECT_EQ (p->getName (100), expected.id);
        EXPECT_TRUE (p->getLabel().isEmpty());
        EXPECT_EQ (p->getCategory(), juce::AudioProcessorParameter::genericParameter);
        EXPECT_EQ (p->isBoolean(), expected.isBoolean);

        const auto& range = p->getNormalisableRange();
        EXPECT_FLOAT_EQ (range.start, expected.min);
        EXPECT_FLOAT_EQ (range.end, expected.max);
        EXPECT_FLOAT_EQ (range.skew, 1.0f);
        if (! expected.isBoolean)
        {
            EXPECT_FLOAT_EQ (range.interval, expected.interval);
        }

        EXPECT_FLOAT_EQ (p->convertFrom0to1 (p->getDefaultValue()), expected.defaultValue);
        EXPECT_FLOAT_EQ (sharedProcessor().parameterState.getRawParameterValue (expected.id)->load(), expected.defaultValue);
    }
}

TEST (ProcessorParameters, ToneControlsStartAtTheGridPointNearestTheirDeclaredDefault)
{
    // 0.33 on a 0.05 grid: 0 + 0.05 * floor(0.33 / 0.05 + 0.5) = 0.35.
    auto& p = sharedProcessor();
    EXPECT_EQ (p.knob1Raw->load(), 0.35f);
    EXPECT_EQ (p.knob2Raw->load(), 0.35f);
    EXPECT_EQ (p.lastKnob1, 0.35f);
    EXPECT_EQ (p.lastKnob2, 0.35f);
}

TEST (ProcessorParameters, TreeHoldsOneParamChildPerParameterInIdOrder)
{
    const auto tree = sharedProcessor().parameterState.copyState();
    EXPECT_EQ (tree.getType().toString(), "APVT");
    ASSERT_EQ (tree.getNumChildren(), 8);

    const char* idOrder[] = { "AutoGain", "Bypass", "Input Gain", "Knob1", "Knob2", "Link", "Mix", "Output Gain" };
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ (tree.getChild (i).getType().toString(), "PARAM");
        EXPECT_EQ (tree.getChild (i).getProperty ("id").toString(), idOrder[i]);
    }
}

TEST (ProcessorParameters, RawValuePointersFollowParameterChanges)
{
    MorvelAudioProcessor p;
    auto set = [&] (const char* id, float value)
    {
        auto* param = p.parameterState.getParameter (id);
        param->setValueNotifyingHost (param->convertTo0to1 (value));
    };

    set ("Knob1", 0.8f);
    set ("Knob2", 0.1f);
    set ("Input Gain", -6.0f);
    set ("Output Gain", 12.5f);
    set ("AutoGain", 0.0f);
    set ("Bypass", 1.0f);
    set ("Mix", 42.0f);

    EXPECT_FLOAT_EQ (p.knob1Raw->load(), 0.8f);
    EXPECT_FLOAT_EQ (p.knob2Raw->load(), 0.1f);
    EXPECT_FLOAT_EQ (p.inputGainRaw->load(), -6.0f);
    EXPECT_FLOAT_EQ (p.outputGainRaw->load(), 12.5f);
    EXPECT_EQ (p.autoGainRaw->load(), 0.0f);
    EXPECT_EQ (p.bypassRaw->load(), 1.0f);
    EXPECT_FLOAT_EQ (p.mixRaw->load(), 42.0f);
}

TEST (ProcessorConstruction, StartsWithUnityGainsAndAnUnpreparedChain)
{
    auto& p = sharedProcessor();
    EXPECT_EQ (p.previousInputGain, 1.0f);
    EXPECT_EQ (p.previousOutputGain, 1.0f);
    EXPECT_EQ (p.modelBlockSize, 0);
    EXPECT_EQ (p.blockSize, 0);
    EXPECT_EQ (p.reportedLatencySamples, 0);
    EXPECT_EQ (p.getLatencySamples(), 0);

    // Before the first preparation the meter holds two values of 0 dB.
    ASSERT_EQ (p.truePeakMeter.peakDb.size(), 2);
    EXPECT_EQ (p.truePeakMeter.peakDb[0], 0.0f);
    EXPECT_EQ (p.truePeakMeter.peakDb[1], 0.0f);
}

TEST (ProcessorConstruction, FillsBothModelsFromTheEmbeddedDocuments)
{
    auto& p = sharedProcessor();
    ASSERT_TRUE (p.standardRateWeights.is_object());
    ASSERT_TRUE (p.highRateWeights.is_object());
    EXPECT_EQ (p.standardRateWeights["subnet.proj_conv.bias"].size(), 1024u);
    EXPECT_EQ (p.highRateWeights["subnet.proj_conv.bias"].size(), 2048u);

    // Spot checks through the layers' documented transposition.
    const auto w = p.standardRateWeights["subnet.prelayers.0.weight"].get<std::vector<float>>();
    EXPECT_EQ (p.standardRateSubnet.preLayer0.weight (1, 0), w[1]);
    EXPECT_EQ (p.standardRateSubnet.preLayer0.weight (0, 1), w[2]);

    const auto out = p.highRateWeights["linear_out.weight"].get<std::vector<float>>();
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ (p.highRateGru.outputWeights (k, 0), out[(size_t) k]);

    const auto bias = p.highRateWeights["subnet.proj_conv.bias"].get<std::vector<float>>();
    EXPECT_EQ (p.highRateSubnet.convProjection.bias (0, 2047), bias[2047]);
}

TEST (ProcessorConstruction, EmbedsTheWeightDocumentsByteForByteWithATerminatingZero)
{
    const juce::File weights (TESSALINE_SOURCE_DIR "/resources/weights");
    const std::pair<const char*, std::pair<const char*, int>> documents[] = {
        { "tone_standard_rate_1024.json", { BinaryData::temp_binary_data_65, BinaryData::temp_binary_data_65Size } },
        { "tone_high_rate_2048.json", { BinaryData::temp_binary_data_66, BinaryData::temp_binary_data_66Size } },
    };

    for (const auto& [file, resource] : documents)
    {
        juce::MemoryBlock source;
        ASSERT_TRUE (weights.getChildFile (file).loadFileAsData (source)) << file;
        ASSERT_EQ ((size_t) resource.second, source.getSize()) << file;
        EXPECT_EQ (std::memcmp (resource.first, source.getData(), source.getSize()), 0) << file;
        EXPECT_EQ (resource.first[resource.second], '\0') << file;
    }
}

TEST (ProcessorPreparation, SetsLatencyAndMeterForTheRateClass)
{
    MorvelAudioProcessor p;
    // The chain's delay: 22 host samples in the up-sampler, then 580 model samples
    // of dry delay and 86 in the down-sampler, at two model samples per host sample.
    p.prepareToPlay (48000.0, 512);
    EXPECT_EQ (p.getLatencySamples(), 22 + (580 + 86) / 2);
    EXPECT_EQ (p.truePeakMeter.numChannels, 12);
    ASSERT_EQ (p.truePeakMeter.peakDb.size(), 24);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ (p.truePeakMeter.peakDb[i], -60.0f);
    EXPECT_EQ (p.truePeakMeter.historyBuffer.getNumChannels(), 24);
    EXPECT_EQ (p.truePeakMeter.historyBuffer.getNumSamples(), 512 + 12);

    p.prepareToPlay (96000.0, 64);
    EXPECT_EQ (p.getLatencySamples(), p.reportedLatencySamples);
    EXPECT_GT (p.getLatencySamples(), 513 / 2);
    EXPECT_EQ (p.truePeakMeter.historyBuffer.getNumSamples(), 64 + 12);
}

TEST (ProcessorBlock, MeasuresTheInputButNotABypassedBlock)
{
    MorvelAudioProcessor p;
    p.setBusesLayout (makeLayout ({ Set::stereo() }, { Set::stereo() }));
    p.prepareToPlay (48000.0, 480);

    // One period of a 100 Hz sine per block; the chain works in place, so each
    // block is filled afresh.
    juce::AudioBuffer<float> buffer (2, 480);
    juce::MidiBuffer midi;

    for (int blockIndex = 0; blockIndex < 2; ++blockIndex)
    {
        for (int i = 0; i < 480; ++i)
            for (int ch = 0; ch < 2; ++ch)
                buffer.setSample (ch, i, 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 100.0 * i / 48000.0));

        p.processBlock (buffer, midi);
    }

    // A slow sine's true peak is its amplitude, -6.02 dB, within the filter's ripple.
    ASSERT_EQ (p.truePeakMeter.peakDb.size(), 4);
    EXPECT_NEAR (p.truePeakMeter.peakDb[0], -6.02f, 0.05f);
    EXPECT_NEAR (p.truePeakMeter.peakDb[1], -6.02f, 0.05f);
    EXPECT_TRUE (std::isfinite (p.truePeakMeter.peakDb[2]));

    auto* bypass = p.parameterState.getParameter ("Bypass");
    bypass->setValueNotifyingHost (1.0f);

    juce::AudioBuffer<float> silent (2, 480);
    silent.clear();
    const float before = p.truePeakMeter.peakDb[0];
    p.processBlock (silent, midi);
    EXPECT_EQ (p.truePeakMeter.peakDb[0], before);
}

TEST (ProcessorBlock, ABlockOfAnotherSizeIsProcessedWithoutPreparingAgain)
{
    MorvelAudioProcessor p;
    p.setBusesLayout (makeLayout ({ Set::stereo() }, { Set::stereo() }));
    p.prepareToPlay (44100.0, 256);

    juce::AudioBuffer<float> buffer (2, 100);
    buffer.clear();
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi);

    EXPECT_EQ (p.blockSize, 256);
    EXPECT_EQ (p.modelBlockSize, 558);
    EXPECT_EQ (p.truePeakMeter.historyBuffer.getNumSamples(), 256 + 12);
    EXPECT_EQ (p.truePeakMeter.peakDb[0], -200.0f);

    // An empty block is not measured and changes nothing.
    juce::AudioBuffer<float> empty (2, 0);
    p.processBlock (empty, midi);
    EXPECT_EQ (p.blockSize, 256);
}

TEST (ProcessorEditor, CreatesAnEditorBoundToTheProcessor)
{
    MorvelAudioProcessor p;
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getAudioProcessor(), &p);
}
