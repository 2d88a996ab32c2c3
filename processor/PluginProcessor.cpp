#include "processor/PluginProcessor.h"

#include "processor/StateChunk.h"

#include "model/WeightLoading.h"

#include <BinaryData.h>

#include <cmath>
#include <string>

namespace
{
const juce::String inputGainId { "Input Gain" };
const juce::String outputGainId { "Output Gain" };
const juce::String knob1Id { "Knob1" };
const juce::String knob2Id { "Knob2" };
const juce::String linkId { "Link" };
const juce::String autoGainId { "AutoGain" };
const juce::String bypassId { "Bypass" };
const juce::String mixId { "Mix" };

std::unique_ptr<juce::AudioParameterFloat> makeFloat (const juce::String& id, float min, float max, float interval, float defaultValue)
{
    return std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { id, 1 }, id,
                                                        juce::NormalisableRange<float> (min, max, interval),
                                                        defaultValue);
}

std::unique_ptr<juce::AudioParameterBool> makeBool (const juce::String& id, bool defaultValue)
{
    return std::make_unique<juce::AudioParameterBool> (juce::ParameterID { id, 1 }, id, defaultValue);
}

/** Parses one embedded weight document: bytes -> text -> UTF-8 string -> JSON. */
nlohmann::json parseWeightDocument (const char* data, int size)
{
    const std::string text = juce::String::createStringFromData (data, size).toStdString();
    return nlohmann::json::parse (text);
}

float decibelsToGain (float dB)
{
    return std::pow (10.0f, dB / 20.0f);
}
} // namespace

//==============================================================================
juce::AudioProcessor::BusesProperties MorvelAudioProcessor::makeBuses()
{
    return BusesProperties()
        .withInput ("Input", juce::AudioChannelSet::create7point1point4(), true)
        .withOutput ("Output", juce::AudioChannelSet::create7point1point4(), true);
}

MorvelAudioProcessor::MorvelAudioProcessor()
    : juce::AudioProcessor (makeBuses()),
      parameterState (*this, nullptr, juce::Identifier ("APVT"), createParameterLayout())
{
    loadWeights();
    lookUpParameters();

    previousInputGain = decibelsToGain (inputGainRaw->load());
    previousOutputGain = decibelsToGain (outputGainRaw->load());
    lastKnob1 = knob1Raw->load();
    lastKnob2 = knob2Raw->load();
}

MorvelAudioProcessor::~MorvelAudioProcessor() = default;

juce::AudioProcessorValueTreeState::ParameterLayout MorvelAudioProcessor::createParameterLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;
    layout.add (makeFloat (inputGainId, -20.0f, 20.0f, 0.01f, 0.0f),
                makeFloat (outputGainId, -20.0f, 20.0f, 0.01f, 0.0f),
                // Declared 0.33; the 0.05 grid makes the reported default 0.35.
                makeFloat (knob1Id, 0.0f, 1.0f, 0.05f, 0.33f),
                makeFloat (knob2Id, 0.0f, 1.0f, 0.05f, 0.33f),
                makeBool (linkId, false),
                makeBool (autoGainId, true),
                makeBool (bypassId, false),
                makeFloat (mixId, 0.0f, 100.0f, 1.0f, 100.0f));
    return layout;
}

void MorvelAudioProcessor::loadWeights()
{
    standardRateWeights = parseWeightDocument (BinaryData::temp_binary_data_65, BinaryData::temp_binary_data_65Size);
    highRateWeights = parseWeightDocument (BinaryData::temp_binary_data_66, BinaryData::temp_binary_data_66Size);

    Morvel::loadModel (standardRateWeights, standardRateSubnet, standardRateGru);
    Morvel::loadModel (highRateWeights, highRateSubnet, highRateGru);
}

void MorvelAudioProcessor::lookUpParameters()
{
    knob1Raw = parameterState.getRawParameterValue (knob1Id);
    knob2Raw = parameterState.getRawParameterValue (knob2Id);
    inputGainRaw = parameterState.getRawParameterValue (inputGainId);
    outputGainRaw = parameterState.getRawParameterValue (outputGainId);
    autoGainRaw = parameterState.getRawParameterValue (autoGainId);
    bypassRaw = parameterState.getRawParameterValue (bypassId);
    mixRaw = parameterState.getRawParameterValue (mixId);
}

//==============================================================================
const juce::String MorvelAudioProcessor::getName() const { return "Tessaline"; }

double MorvelAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool MorvelAudioProcessor::acceptsMidi() const { return false; }
bool MorvelAudioProcessor::producesMidi() const { return false; }
bool MorvelAudioProcessor::isMidiEffect() const { return false; }

int MorvelAudioProcessor::getNumPrograms() { return 1; }
int MorvelAudioProcessor::getCurrentProgram() { return 0; }
void MorvelAudioProcessor::setCurrentProgram (int) {}
const juce::String MorvelAudioProcessor::getProgramName (int) { return {}; }
void MorvelAudioProcessor::changeProgramName (int, const juce::String&) {}

bool MorvelAudioProcessor::hasEditor() const { return true; }

juce::AudioProcessorEditor* MorvelAudioProcessor::createEditor()
{
    return new juce::GenericAudioProcessorEditor (*this);
}

//==============================================================================
void MorvelAudioProcessor::prepareToPlay (double sampleRate, int samplesPerBlock)
{
    hostSampleRate = sampleRate;
    numInputChannels = getTotalNumInputChannels();
    numOutputChannels = getTotalNumOutputChannels();
    blockSize = samplesPerBlock;

    useHighRateModel = sampleRate > 48000.0;
    modelRate = useHighRateModel ? 192000.0 : 96000.0;
    irLength = useHighRateModel ? 2048 : 1024;
    wetLatencySamples = useHighRateModel ? 513 : 580;
    reportedLatencySamples = useHighRateModel ? 271 : 303;
    modelBlockSize = (int) std::ceil ((double) samplesPerBlock * modelRate / sampleRate);

    previousInputGain = decibelsToGain (inputGainRaw->load());
    previousOutputGain = decibelsToGain (outputGainRaw->load());

    setLatencySamples (reportedLatencySamples);

    truePeakMeter.prepare (numOutputChannels, samplesPerBlock);
}

void MorvelAudioProcessor::releaseResources() {}

void MorvelAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    if (bypassRaw->load() >= 0.5f)
        return;

    const int numSamples = buffer.getNumSamples();
    if (numSamples == 0)
        return;

    if (numSamples != blockSize)
        prepareToPlay (hostSampleRate, numSamples);

    truePeakMeter.GetTruePeak (buffer, 0);
    truePeakMeter.GetTruePeak (buffer, 1);
}

//==============================================================================
bool MorvelAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto input = layouts.inputBuses.isEmpty() ? juce::AudioChannelSet::disabled() : layouts.getMainInputChannelSet();
    const auto output = layouts.outputBuses.isEmpty() ? juce::AudioChannelSet::disabled() : layouts.getMainOutputChannelSet();

    if (input != output)
        return false;

    if (layouts.outputBuses.isEmpty())
        return true;

    return output.size() <= maxChannels;
}

void MorvelAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    StateChunk::write (parameterState.copyState(), destData);
}

void MorvelAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (auto xml = readStateChunk (data, sizeInBytes))
        parameterState.replaceState (juce::ValueTree::fromXml (*xml));
}

std::unique_ptr<juce::XmlElement> MorvelAudioProcessor::readStateChunk (const void* data, int sizeInBytes) const
{
    return StateChunk::read (data, sizeInBytes, "APVT");
}

//==============================================================================
// The plug-in client's factory: every format wrapper makes its processors here.
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new MorvelAudioProcessor();
}
