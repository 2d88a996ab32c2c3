#include "processor/PluginProcessor.h"

#include "editor/PluginEditor.h"
#include "processor/StateChunk.h"

#include "model/WeightLoading.h"

#include <BinaryData.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
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
juce::AudioChannelSet MorvelAudioProcessor::defaultChannelSet()
{
    // Some VST3 hosts read the buses once, at insertion, and keep passing those
    // counts after negotiating a narrower layout: the framework's wrapper then hands
    // the processor a blank buffer and the host silence. Starting the VST3 in stereo,
    // what such a host's stereo track negotiates anyway, makes the counts agree. The
    // LV2 has no negotiation (its default is its only layout) and the Standalone's
    // player adopts the audio device's channel count, so both keep the full default.
    // The client sets the format before it constructs the processor.
    if (juce::PluginHostType::getPluginLoadedAs() == wrapperType_VST3)
        return juce::AudioChannelSet::stereo();

    return juce::AudioChannelSet::create7point1point4();
}

juce::AudioProcessor::BusesProperties MorvelAudioProcessor::makeBuses()
{
    return BusesProperties()
        .withInput ("Input", defaultChannelSet(), true)
        .withOutput ("Output", defaultChannelSet(), true);
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
    return new MorvelAudioProcessorEditor (*this, parameterState);
}

//==============================================================================
namespace
{
/**
    Largest sample magnitude that enters the chain: +120 dBFS, far above any real
    programme, yet small enough that the energy sums (a block's squares at up to
    +20 dB of input gain) and every filter history stay finite.
*/
constexpr float inputSampleLimit = 1.0e6f;

/** A parameter value that is not a number (a misbehaving host) counts as the fallback. */
float finiteOr (float value, float fallback) noexcept
{
    return std::isfinite (value) ? value : fallback;
}

/** Sum of squares in single precision, in ascending sample order. */
float sumOfSquares (const float* samples, int numSamples) noexcept
{
    float sum = 0.0f;
    for (int i = 0; i < numSamples; ++i)
        sum += samples[i] * samples[i];
    return sum;
}

/**
    One-pole update of a smoothed block energy: e * E in single precision, the
    rest in double with e widened, stored as float.
*/
float smoothEnergy (float energy, float blockSum, float smoothing) noexcept
{
    const float kept = smoothing * energy;
    return (float) ((double) kept + (1.0 - (double) smoothing) * (double) blockSum);
}

/**
    Automatic-gain target: the square root of the energy ratio, limited to the
    ceiling. With both energies zero the ratio has no value; the channel then keeps
    its current factor, so nothing undefined reaches the samples and a signal that
    returns after silence is ramped from where the factor stood, not switched on.
*/
float autoGainTarget (float inputEnergy, float outputEnergy, float ceiling, float currentFactor) noexcept
{
    const float ratio = inputEnergy / outputEnergy;

    if (std::isnan (ratio))
        return currentFactor;

    return std::min (std::sqrt (ratio), ceiling);
}

/**
    Band edges for a conversion from inputRate to outputRate, in cycles per input
    sample. The pass band reaches 20 kHz (the same share of a lower rate's band as
    20 kHz is of 44.1 kHz). Going down, the stop band starts at the output's Nyquist
    frequency, so nothing folds back; going up, it starts where the pass band's first
    image begins.
*/
ResamplingKernel::Targets conversionTargets (double inputRate, double outputRate)
{
    constexpr double audioBandEdge = 20000.0;
    constexpr double attenuationDb = 110.0; // 10 dB above the goal, for the table's rounding
    const double nyquist = 0.5 * std::min (inputRate, outputRate);
    const double passband = std::min (audioBandEdge, nyquist * audioBandEdge / 22050.0);
    const double stopband = outputRate < inputRate ? nyquist : inputRate - passband;
    return { passband / inputRate, stopband / inputRate, attenuationDb };
}

/**
    Designs the kernel for a conversion that turns inputStep samples at inputRate into
    outputStep samples at outputRate, with extraHalfWidth samples of delay beyond the
    shortest kernel.
*/
void designConversion (ResamplingKernel& kernel, double inputRate, double outputRate, int inputStep, int outputStep,
                       int extraHalfWidth)
{
    if (inputStep == outputStep)
    {
        kernel.makePassThrough();
        return;
    }

    // Exact taps for every position the conversion visits, where that table stays
    // small enough to share a cache with the rest of the chain.
    constexpr std::size_t largestPositionTable = 4 << 20;

    const auto targets = conversionTargets (inputRate, outputRate);
    kernel.design (targets, ResamplingKernel::halfWidthFor (targets) + extraHalfWidth);
    kernel.tabulatePositions (inputStep, outputStep, largestPositionTable);
}

/**
    How far a delay of modelSamples model samples falls short of a whole number of host
    samples, in units of 1 / modelStep of a host sample: 0 when it is whole.
*/
int shortOfWholeHostSamples (int modelSamples, int hostStep, int modelStep)
{
    const auto remainder = (int) ((std::int64_t) modelSamples * hostStep % modelStep);
    return remainder == 0 ? 0 : modelStep - remainder;
}
} // namespace

void MorvelAudioProcessor::prepareToPlay (double sampleRate, int samplesPerBlock)
{
    // A rate that is no rate, or one far below any audio rate, would make every size
    // below meaningless: at 1 Hz a 512-sample block would ask for 49 million model
    // samples per channel. Such a call keeps the last usable rate.
    // Far above any audio rate, the rate's ratio to the model rate would no longer fit
    // the converters' integer positions.
    constexpr double lowestUsableRate = 1000.0;
    constexpr double highestUsableRate = 1.0e7;
    if (! (std::isfinite (sampleRate) && sampleRate >= lowestUsableRate && sampleRate <= highestUsableRate))
        sampleRate = hostSampleRate;

    hostSampleRate = sampleRate;
    numInputChannels = getTotalNumInputChannels();
    numOutputChannels = getTotalNumOutputChannels();
    blockSize = samplesPerBlock;

    chooseRateClass (sampleRate);
    chooseRatio (sampleRate);

    // The most model samples that fall due within a block: wherever in the cycle it
    // starts, a block of b host samples completes at most ceil (b modelStep / hostStep).
    // An empty block size still sizes the chain for one sample: the engines cannot be
    // built for none, and the first real block re-prepares anyway.
    const auto largestBlock = (std::int64_t) std::max (1, samplesPerBlock);
    modelBlockSize = (int) ((largestBlock * modelStep + hostStep - 1) / hostStep);

    modelBuffer = juce::AudioBuffer<float> (numInputChannels, modelBlockSize);
    modelBuffer.clear();

    resetAndEvaluateModel();
    resetWeightRamp();

    const juce::dsp::ProcessSpec modelSpec { modelRate, (juce::uint32) modelBlockSize, 1 };
    loadImpulseResponsesAndPrepareEngines (modelSpec);

    antiAliasCutoff = hostSampleRate * 0.5;
    designResamplers (std::max (1, samplesPerBlock));

    previousInputGain = decibelsToGain (finiteOr (inputGainRaw->load(), 0.0f));
    previousOutputGain = decibelsToGain (finiteOr (outputGainRaw->load(), 0.0f));

    prepareMixer (sampleRate);

    setLatencySamples (reportedLatencySamples);
    bypassDelay.prepare (std::max (numInputChannels, numOutputChannels), std::max (1, samplesPerBlock), reportedLatencySamples);

    resizeAutoGainState();

    truePeakMeter.prepare (numOutputChannels, samplesPerBlock);
}

void MorvelAudioProcessor::chooseRateClass (double sampleRate)
{
    useHighRateModel = sampleRate > 48000.0;
    modelRate = useHighRateModel ? 192000.0 : 96000.0;
    irLength = useHighRateModel ? 2048 : 1024;
    wetLatencySamples = useHighRateModel ? 513 : 580;
}

void MorvelAudioProcessor::chooseRatio (double sampleRate)
{
    // A rate that is not a whole number of hertz (a host's measured clock) counts as the
    // nearest whole one: the model then runs off its rate by less than a part in 2,000
    // even at the lowest usable rate, while the positions stay exact in samples.
    const auto hostRate = (std::int64_t) std::llround (sampleRate);
    const auto model = (std::int64_t) modelRate;
    const auto divisor = std::gcd (hostRate, model);
    hostStep = (int) (hostRate / divisor);
    modelStep = (int) (model / divisor);
}

void MorvelAudioProcessor::resetAndEvaluateModel()
{
    const float k1 = knob1Raw->load();
    const float k2 = knob2Raw->load();

    activeGru().reset (numInputChannels, modelBlockSize);
    evaluateActiveSubnet (finiteOr (k1, lastKnob1), finiteOr (k2, lastKnob2));
}

void MorvelAudioProcessor::resetWeightRamp()
{
    // The ramp's start takes the weights' shapes here, so that a tone move copies into
    // it in place; the cell computes the entries between the ends as it runs.
    previousIhWeights = activeIhWeights();
    previousHhWeights = activeHhWeights();
    rampLength = 0;
}

int MorvelAudioProcessor::convolutionChunkSize (int modelSamples, int responseLength) noexcept
{
    // A power of two (1,024 at 48 and 96 kHz with 512-sample blocks) is taken whole: the
    // engine's transform fits it exactly. Any other count (1,115 at 44.1 kHz) would be
    // rounded up to twice the work; cut where the engine's own blocks end, every call
    // still costs a whole transform pair, so the calls are made short enough that the
    // one left over at the block's end is cheap. A quarter of the response measured
    // fastest: 256 samples for the standard model's 1,024 taps, 512 for the high-rate
    // model's 2,048.
    const int samples = juce::jmax (1, modelSamples);
    const int roundedUp = juce::nextPowerOfTwo (samples);

    if (roundedUp == samples || samples <= 256)
        return roundedUp;

    return juce::jmin (juce::jmax (256, responseLength / 4), roundedUp / 2);
}

void MorvelAudioProcessor::loadImpulseResponsesAndPrepareEngines (const juce::dsp::ProcessSpec& modelSpec)
{
    // The engines take the model block in chunks of at most this size (see convolve()).
    const juce::dsp::ProcessSpec engineSpec { modelSpec.sampleRate, (juce::uint32) convolutionChunkSize ((int) modelSpec.maximumBlockSize, irLength),
                                              modelSpec.numChannels };

    // The loader first runs whatever is still queued: nothing may read the response it
    // keeps while that is rewritten. The response is queued before prepare(), which
    // then builds the engine with it at once: loaded after prepare() it would be built
    // on the engine's background thread and faded in some 50 ms later, and the first
    // blocks of a session would play through the engine's placeholder unit impulse,
    // early and unconvolved.
    responseLoader.prepare();
    responseLoader.responseChanged();
    queueImpulseResponses();

    for (int c = 0; c < numInputChannels; ++c)
    {
        convolvers[c].prepare (engineSpec);
        convolvers[c].reset();
    }

    convolutionPhase = 0;
}

void MorvelAudioProcessor::designResamplers (int preparedBlock)
{
    designConversion (upsamplingKernel, hostSampleRate, modelRate, hostStep, modelStep, 0);

    // The chain's delay: the up-sampler's half width in host samples, then the dry
    // path's delay (which the model's response shares) and the down-sampler's half
    // width in model samples. Where the model samples do not make whole host samples,
    // the down-sampler's half width grows by one model sample if that alone makes them
    // whole (at 48 and 96 kHz a model sample is half a host sample); otherwise the
    // up-sampler's outputs lie later by what is missing, in its own units of 1 /
    // modelStep of a host sample. The host then compensates the delay exactly.
    const auto downTargets = conversionTargets (modelRate, hostSampleRate);
    const int shortest = ResamplingKernel::halfWidthFor (downTargets);
    const bool oneMoreAligns = shortOfWholeHostSamples (wetLatencySamples + shortest, hostStep, modelStep) != 0
                            && shortOfWholeHostSamples (wetLatencySamples + shortest + 1, hostStep, modelStep) == 0;
    designConversion (downsamplingKernel, modelRate, hostSampleRate, modelStep, hostStep, oneMoreAligns ? 1 : 0);

    const int modelSideDelay = wetLatencySamples + downsamplingKernel.getHalfWidth();
    const int upsamplerExtraDelay = shortOfWholeHostSamples (modelSideDelay, hostStep, modelStep);

    upsampler.prepare (upsamplingKernel, hostStep, modelStep, preparedBlock, numInputChannels);
    upsampler.setExtraDelay (upsamplerExtraDelay);
    downsampler.prepare (downsamplingKernel, modelStep, hostStep, modelBlockSize, numInputChannels);
    hostSamplesIntoCycle = 0;

    const auto modelSideInHost = ((std::int64_t) modelSideDelay * hostStep + upsamplerExtraDelay) / modelStep;
    reportedLatencySamples = upsamplingKernel.getHalfWidth() + (int) modelSideInHost;
}

void MorvelAudioProcessor::prepareMixer (double sampleRate)
{
    // The proportion is set before prepare() so that the mixer's ramps end at the
    // current "Mix": otherwise a session started with a dry setting would open with
    // a 50 ms fade from the fully wet default.
    mixer.setWetMixProportion (finiteOr (mixRaw->load(), 100.0f) / 100.0f);
    mixer.prepare ({ sampleRate, (juce::uint32) modelBlockSize, (juce::uint32) getMainBusNumInputChannels() });
    mixer.reset();
    dryDelay.prepare (getMainBusNumInputChannels(), modelBlockSize, wetLatencySamples);
}

void MorvelAudioProcessor::resizeAutoGainState()
{
    const auto channels = (size_t) numInputChannels;
    inputEnergy.resize (channels, 0.0f);
    outputEnergy.resize (channels, 0.0f);
    autoGainFactors.resize (channels, 0.0f);
}

Morvel::HyperGRU<float, 1, 1, 8>& MorvelAudioProcessor::activeGru() noexcept
{
    return useHighRateModel ? highRateGru : standardRateGru;
}

const Eigen::MatrixXf& MorvelAudioProcessor::activeIhWeights() const noexcept
{
    return useHighRateModel ? highRateSubnet.ihWeights : standardRateSubnet.ihWeights;
}

const Eigen::MatrixXf& MorvelAudioProcessor::activeHhWeights() const noexcept
{
    return useHighRateModel ? highRateSubnet.hhWeights : standardRateSubnet.hhWeights;
}

const Eigen::MatrixXf& MorvelAudioProcessor::activeConvKernel() const noexcept
{
    return useHighRateModel ? highRateSubnet.convKernel : standardRateSubnet.convKernel;
}

void MorvelAudioProcessor::evaluateActiveSubnet (float knob1, float knob2)
{
    const float knobs[2] = { knob1, knob2 };

    if (useHighRateModel)
        highRateSubnet.forward (knobs);
    else
        standardRateSubnet.forward (knobs);

    lastKnob1 = knob1;
    lastKnob2 = knob2;
}

void MorvelAudioProcessor::releaseResources() {}

void MorvelAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    const int numSamples = buffer.getNumSamples();
    if (numSamples <= 0)
        return;

    // Tested as "not below one half", so that a value that is no number (a host
    // misbehaving) passes the block through rather than processing it.
    if (! (bypassRaw->load() < 0.5f))
    {
        passDelayed (buffer);
        return;
    }

    // Hosts vary the block size freely below the prepared one, so only an unprepared
    // chain or a new channel layout prepares here: a size change never restarts it.
    if (blockSize <= 0 || channelLayoutChanged())
        prepareToPlay (hostSampleRate, std::max (blockSize, numSamples));

    bypassDelay.push (juce::dsp::AudioBlock<const float> (buffer));

    if (numSamples <= blockSize)
    {
        processPiece (buffer, false);
        return;
    }

    // A host that breaks its promise of a largest block gets the block in pieces
    // that fit the chain's buffers, and the meters show the whole block's peaks.
    // Up to 32 channels the view allocates nothing.
    for (int start = 0; start < numSamples; start += blockSize)
    {
        juce::AudioBuffer<float> piece (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), start,
                                        std::min (blockSize, numSamples - start));
        processPiece (piece, start > 0);
    }
}

void MorvelAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    passDelayed (buffer);
}

void MorvelAudioProcessor::passDelayed (juce::AudioBuffer<float>& buffer) noexcept
{
    // Nothing else runs and nothing is measured: the meters keep the last values.
    if (buffer.getNumSamples() > 0)
        bypassDelay.process (juce::dsp::AudioBlock<float> (buffer));
}

bool MorvelAudioProcessor::channelLayoutChanged() const noexcept
{
    return getTotalNumInputChannels() != numInputChannels || getTotalNumOutputChannels() != numOutputChannels;
}

int MorvelAudioProcessor::takeModelSamplesFor (int hostSamples) noexcept
{
    // Model sample k falls on host sample k * hostStep / modelStep: those due by the end
    // of this block, less those due by its start.
    const auto cycle = (std::int64_t) hostStep;
    const auto dueBy = [&] (std::int64_t hostSample) { return (hostSample * modelStep + cycle - 1) / cycle; };

    const auto start = (std::int64_t) hostSamplesIntoCycle;
    const auto end = start + hostSamples;
    hostSamplesIntoCycle = (int) (end % cycle);
    return (int) (dueBy (end) - dueBy (start));
}

void MorvelAudioProcessor::processPiece (juce::AudioBuffer<float>& buffer, bool furtherPiece)
{
    const int modelSamples = takeModelSamplesFor (buffer.getNumSamples());

    const float k1 = knob1Raw->load();
    const float k2 = knob2Raw->load();
    const bool useRamp = updateToneModel (finiteOr (k1, lastKnob1), finiteOr (k2, lastKnob2), modelSamples);

    sanitiseInput (buffer);
    applyGainParameter (buffer, inputGainRaw->load(), previousInputGain);
    measurePeaks (buffer, 0, furtherPiece);

    resampleUp (buffer, modelSamples);

    // Above the model rate a one-sample block may complete no model sample; the
    // down-sampler then works from the samples it already holds.
    if (modelSamples > 0)
    {
        pushDrySignal (mixRaw->load(), modelSamples);
        measureInputEnergy (modelSamples);
        convolve (modelSamples);
        runCell (useRamp, modelSamples);
        mixWetSignal (modelSamples);

        if (autoGainRaw->load() > 0.5f)
            applyAutoGain (modelSamples);
    }

    filterAndResampleDown (buffer, modelSamples);
    applyGainParameter (buffer, outputGainRaw->load(), previousOutputGain);
    measurePeaks (buffer, 1, furtherPiece);
}

void MorvelAudioProcessor::measurePeaks (const juce::AudioBuffer<float>& buffer, int which, bool furtherPiece) noexcept
{
    if (furtherPiece)
        truePeakMeter.measureFurtherPiece (buffer, which);
    else
        truePeakMeter.GetTruePeak (buffer, which);
}

bool MorvelAudioProcessor::updateToneModel (float knob1, float knob2, int modelSamples)
{
    // The returned flag says whether the cell ramps from the previous weights in this block.
    const bool moved = knob1 != lastKnob1 || knob2 != lastKnob2;

    if (moved)
    {
        keepWeightsAsRampStart();
        evaluateActiveSubnet (knob1, knob2);
        rampLength = modelSamples;
        responseLoader.responseChanged();
    }

    // A response that had to wait for the loader goes out in a later block.
    queueImpulseResponses();
    return moved;
}

void MorvelAudioProcessor::keepWeightsAsRampStart() noexcept
{
    // The outgoing weights become the ramp's start by exchanging storage with it rather
    // than by a copy; the hypernetwork then writes the new weights over the old start,
    // whose shape they share (resetWeightRamp saw to that), so nothing is allocated.
    auto& subnetIh = useHighRateModel ? highRateSubnet.ihWeights : standardRateSubnet.ihWeights;
    auto& subnetHh = useHighRateModel ? highRateSubnet.hhWeights : standardRateSubnet.hhWeights;
    previousIhWeights.swap (subnetIh);
    previousHhWeights.swap (subnetHh);
}

void MorvelAudioProcessor::queueImpulseResponses()
{
    // The engines build the new responses on their loader thread and cross-fade to
    // them a block or more later; queueing does not wait. Every channel gets the
    // kernel reversed: sample j is kernel element irLength - 1 - j.
    responseLoader.handOver (convolvers.data(), numInputChannels, activeConvKernel().data(), irLength, modelRate);
}

void MorvelAudioProcessor::sanitiseInput (juce::AudioBuffer<float>& buffer) noexcept
{
    // A NaN or infinity that reached the chain would stay in the recurrent state,
    // the energies and the mixer's delay line for good; such samples become silence
    // and absurdly large ones are limited.
    if (buffer.hasBeenCleared())
        return;

    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        float* samples = buffer.getWritePointer (ch);

        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float x = samples[i];

            if (! (std::abs (x) <= inputSampleLimit))
                samples[i] = std::isfinite (x) ? std::copysign (inputSampleLimit, x) : 0.0f;
        }
    }
}

void MorvelAudioProcessor::applyGainParameter (juce::AudioBuffer<float>& buffer, float gainDb, float& previousGain) noexcept
{
    const float gain = std::isfinite (gainDb) ? decibelsToGain (gainDb) : previousGain;

    if (gain == previousGain)
        buffer.applyGain (gain);
    else
        buffer.applyGainRamp (0, buffer.getNumSamples(), previousGain, gain);

    previousGain = gain;
}

int MorvelAudioProcessor::modelChannelsUpTo (int count) const noexcept
{
    return std::max (0, std::min (count, modelBuffer.getNumChannels()));
}

juce::dsp::AudioBlock<float> MorvelAudioProcessor::modelBlock (int modelSamples) noexcept
{
    return juce::dsp::AudioBlock<float> (modelBuffer).getSubBlock (0, (size_t) modelSamples);
}

void MorvelAudioProcessor::resampleUp (const juce::AudioBuffer<float>& buffer, int modelSamples)
{
    const int n = buffer.getNumSamples();
    const int channels = modelChannelsUpTo (std::min (numOutputChannels, buffer.getNumChannels()));

    upsampler.process (buffer.getArrayOfReadPointers(), channels, n, modelBuffer.getArrayOfWritePointers(), modelSamples);
}

void MorvelAudioProcessor::pushDrySignal (float mixPercent, int modelSamples)
{
    if (std::isfinite (mixPercent))
        mixer.setWetMixProportion (mixPercent / 100.0f);

    if (modelBuffer.getNumChannels() > 0)
        dryDelay.pushDelayed (modelBlock (modelSamples), mixer);
}

void MorvelAudioProcessor::measureInputEnergy (int modelSamples)
{
    const int channels = modelChannelsUpTo (getTotalNumInputChannels());

    for (int ch = 0; ch < channels; ++ch)
    {
        const float sum = sumOfSquares (modelBuffer.getReadPointer (ch), modelSamples);
        inputEnergy[(size_t) ch] = smoothEnergy (inputEnergy[(size_t) ch], sum, energySmoothing);
    }
}

void MorvelAudioProcessor::convolve (int modelSamples)
{
    const int channels = modelChannelsUpTo (std::min (getTotalNumInputChannels(), numInputChannels));
    auto block = modelBlock (modelSamples);

    // The chunk follows the prepared model block (the engines were prepared for it); the
    // phase advances by this block's own model samples.
    const int chunk = convolutionChunkSize (modelBlockSize, irLength);

    for (int ch = 0; ch < channels; ++ch)
        convolveInChunks (convolvers[ch], block.getSingleChannelBlock ((size_t) ch), chunk, convolutionPhase);

    convolutionPhase = (convolutionPhase + modelSamples) % chunk;
}

void MorvelAudioProcessor::convolveInChunks (juce::dsp::Convolution& engine, const juce::dsp::AudioBlock<float>& samples,
                                             int chunk, int phase) noexcept
{
    // Each call costs a whole transform pair however few samples it brings, so the calls
    // end where the engine's blocks end: a block then costs one pair per engine block it
    // touches. (An engine that adopts a new response during a call starts its blocks
    // there; until its next one it may see calls cut elsewhere, which costs time only.)
    const int count = (int) samples.getNumSamples();

    for (int start = 0; start < count;)
    {
        const int length = std::min (chunk - phase, count - start);
        auto part = samples.getSubBlock ((size_t) start, (size_t) length);
        engine.process (juce::dsp::ProcessContextReplacing<float> (part));
        start += length;
        phase = (phase + length) % chunk;
    }
}

void MorvelAudioProcessor::runCell (bool useRamp, int modelSamples)
{
    auto& gru = activeGru();
    const int steps = std::min (gru.stepCount, modelSamples);
    float* const* channels = modelBuffer.getArrayOfWritePointers();

    // Every row of the cell reads and writes a channel of the model buffer.
    if (gru.hiddenState.rows() > modelBuffer.getNumChannels())
        return;

    // In a block whose tone controls moved, the weights ramp across the block's model
    // samples from the old to the new ones, sample by sample; the cell computes each
    // sample's weights as it goes. (A ramp over one model sample has two entries and the
    // block uses its first only.)
    if (useRamp)
        gru.forwardRamp (channels, 0, steps, previousIhWeights, previousHhWeights, activeIhWeights(), activeHhWeights(), rampLength);
    else
        gru.forwardBlock (channels, 0, steps, activeIhWeights(), activeHhWeights());
}

void MorvelAudioProcessor::mixWetSignal (int modelSamples)
{
    if (modelBuffer.getNumChannels() > 0)
        mixer.mixWetSamples (modelBlock (modelSamples));
}

void MorvelAudioProcessor::applyAutoGain (int modelSamples)
{
    const int channels = modelChannelsUpTo (getTotalNumInputChannels());

    for (int ch = 0; ch < channels; ++ch)
    {
        const auto c = (size_t) ch;
        const float sum = sumOfSquares (modelBuffer.getReadPointer (ch), modelSamples);
        outputEnergy[c] = smoothEnergy (outputEnergy[c], sum, energySmoothing);

        const float target = autoGainTarget (inputEnergy[c], outputEnergy[c], autoGainCeiling, autoGainFactors[c]);

        if (target == autoGainFactors[c])
            modelBuffer.applyGain (ch, 0, modelSamples, target);
        else
            modelBuffer.applyGainRamp (ch, 0, modelSamples, autoGainFactors[c], target);

        autoGainFactors[c] = target;
    }
}

void MorvelAudioProcessor::filterAndResampleDown (juce::AudioBuffer<float>& buffer, int modelSamples)
{
    const int n = buffer.getNumSamples();
    const int channels = modelChannelsUpTo (std::min (numOutputChannels, buffer.getNumChannels()));

    // The down-sampler filters as it goes: it computes the anti-alias low-pass only
    // at the host-rate outputs.
    downsampler.process (modelBuffer.getArrayOfReadPointers(), channels, modelSamples, buffer.getArrayOfWritePointers(), n);
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
