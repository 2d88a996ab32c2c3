#pragma once

#include "model/HyperGRU.h"
#include "model/Subnet.h"
#include "processor/BandLimitedResampler.h"
#include "processor/DryDelay.h"
#include "processor/ResamplingKernel.h"
#include "processor/ResponseLoader.h"
#include "processor/TruePeakMeter.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include <Eigen/Dense>
#include <nlohmann/json.hpp>

#include <array>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

/**
    Tessaline's processor: eight parameters in an "APVT" tree, two buses of up to 12
    channels (7.1.4 by default, stereo in the VST3), a per-channel chain that runs
    the neural tone model at 96 or 192 kHz, and true-peak meters at its input and
    output.

    Data members are public: the editor reads the parameter tree and the meter, and
    tests inspect the chain's state after preparation.
*/
class MorvelAudioProcessor : public juce::AudioProcessor
{
public:
    /** Capacity of every per-channel array; the layout test refuses wider layouts. */
    static constexpr int maxChannels = 12;

    /**
        Builds the buses, the parameters, the chain, parses both embedded weight
        documents and fills both models. Heavy (about 1.4 MB of JSON, twelve
        convolution engines and their loader thread): never on the audio thread.
        Throws what the JSON library throws if a document is unusable.
    */
    MorvelAudioProcessor();
    ~MorvelAudioProcessor() override;

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;

    /**
        The host's own bypass: the block comes back as the input delayed by the reported
        latency, as with "Bypass" on, so that a host compensating that latency keeps the
        bypassed track in time with the others.
        [audio thread] No allocation; a copy of the block.
    */
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    /** Writes the state chunk ("VC2!", length, XML text, zero). Any non-real-time thread. */
    void getStateInformation (juce::MemoryBlock& destData) override;

    /**
        Restores the parameters from a state chunk, or changes nothing if the chunk is
        not one. Any non-real-time thread; never throws.
    */
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    /** The parameter layout: eight parameters in index order. */
    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

    /**
        The XML element that a state chunk holds, or nullptr when the chunk is not a
        usable one (bad header, malformed or unsafe XML, wrong root tag). PARAM children
        whose "value" is not a finite number are removed, so that their parameters go
        back to their defaults. Any thread but the audio thread.
    */
    std::unique_ptr<juce::XmlElement> readStateChunk (const void* data, int sizeInBytes) const;

    //==============================================================================
    juce::AudioProcessorValueTreeState parameterState;

    int blockSize = 0;
    int numInputChannels = 2;
    int numOutputChannels = 2;
    float previousInputGain = 1.0f;
    float previousOutputGain = 1.0f;

    std::atomic<float>* knob1Raw = nullptr;
    std::atomic<float>* knob2Raw = nullptr;
    std::atomic<float>* inputGainRaw = nullptr;
    std::atomic<float>* outputGainRaw = nullptr;
    std::atomic<float>* autoGainRaw = nullptr;
    std::atomic<float>* bypassRaw = nullptr;
    std::atomic<float>* mixRaw = nullptr;

    int useHighRateModel = false;

    nlohmann::json standardRateWeights;
    nlohmann::json highRateWeights;

    int irLength = 1024;

    /** Owns the one background thread on which every engine below builds its new responses. */
    ResponseLoader responseLoader;
    std::array<juce::dsp::Convolution, maxChannels> convolvers = makeConvolvers (responseLoader.getQueue(), std::make_index_sequence<maxChannels>());

    /** Samples into the engines' current block: where the next call starts within it. */
    int convolutionPhase = 0;

    float lastKnob1 = 0.0f;
    float lastKnob2 = 0.0f;

    /**
        The weights before the last re-evaluation, where the cell's ramp starts, and the
        model samples that ramp spans: those of the block in which the tone moved.
    */
    int rampLength = 0;
    Eigen::MatrixXf previousIhWeights;
    Eigen::MatrixXf previousHhWeights;

    Morvel::Subnet<float, 1, 2, 8, 1024> standardRateSubnet;
    Morvel::HyperGRU<float, 1, 1, 8> standardRateGru;
    Morvel::Subnet<float, 1, 2, 8, 2048> highRateSubnet;
    Morvel::HyperGRU<float, 1, 1, 8> highRateGru;

    double hostSampleRate = 48000.0;
    double modelRate = 96000.0;
    int modelBlockSize = 0;

    // The ratio of the two rates in lowest terms: every hostStep host samples become
    // exactly modelStep model samples (147 : 320 from 44.1 to 96 kHz), so the model
    // runs at its own rate whatever the block size. A block gets the model samples
    // that fall due within it; the host samples into the current cycle carry over.
    int hostStep = 1;
    int modelStep = 2;
    int hostSamplesIntoCycle = 0;

    // Band-limited conversion between the host and the model rate. The down-sampling
    // kernel is also the anti-alias low-pass: it is evaluated only at the positions of
    // the host-rate outputs, and stops everything from the host's Nyquist frequency up.
    ResamplingKernel upsamplingKernel;
    ResamplingKernel downsamplingKernel;
    BandLimitedResampler upsampler;
    BandLimitedResampler downsampler;
    juce::AudioBuffer<float> modelBuffer;

    double antiAliasCutoff = 24000.0;

    float autoGainCeiling = 1.1f;
    float energySmoothing = 0.95f;
    std::vector<float> inputEnergy;
    std::vector<float> outputEnergy;
    std::vector<float> autoGainFactors;

    TruePeakMeter truePeakMeter;

    int wetLatencySamples = 0;
    // The dry path's delay of wetLatencySamples (at most 800) runs in front of the mixer,
    // so the mixer itself has no latency to apply.
    DryDelay dryDelay;
    juce::dsp::DryWetMixer<float> mixer { 0 };
    int reportedLatencySamples = 0;

    // The host-rate input before the input gain, delayed by the reported latency: what
    // a bypassed block gives back. It takes in every block, bypassed or not, so that
    // switching the bypass on finds the samples that the latency reaches back to.
    DryDelay bypassDelay;

    /**
        The largest number of samples that the engines take in one call when the model
        block has modelSamples and the response responseLength taps: a power of two, so
        that the engines' transforms fit it.
        Pure; any thread.
    */
    static int convolutionChunkSize (int modelSamples, int responseLength) noexcept;

    /**
        Runs samples through engine in calls of at most chunk samples, cut where the
        engine's blocks of chunk samples end, the first of which is phase samples in.
        [audio thread] The engine's own cost; no allocation.
    */
    static void convolveInChunks (juce::dsp::Convolution& engine, const juce::dsp::AudioBlock<float>& samples,
                                  int chunk, int phase) noexcept;

private:
    /** The buses' default layout: stereo in the VST3, 7.1.4 elsewhere. */
    static juce::AudioChannelSet defaultChannelSet();
    static BusesProperties makeBuses();

    template <size_t... channel>
    static std::array<juce::dsp::Convolution, sizeof... (channel)> makeConvolvers (juce::dsp::ConvolutionMessageQueue& queue,
                                                                                  std::index_sequence<channel...>)
    {
        return { { ((void) channel, juce::dsp::Convolution { queue })... } };
    }

    void loadWeights();
    void lookUpParameters();

    // Preparation stages, in the order prepareToPlay runs them. They allocate, so they
    // run on a host thread, or on the audio thread only when the channel layout changed
    // or the host never prepared.
    void chooseRateClass (double sampleRate);
    void resetAndEvaluateModel();
    void loadImpulseResponsesAndPrepareEngines (const juce::dsp::ProcessSpec& modelSpec);
    void chooseRatio (double sampleRate);
    void designResamplers (int preparedBlock);
    void prepareMixer (double sampleRate);
    void resizeAutoGainState();
    void resetWeightRamp();

    // The active model pair (high or standard rate).
    Morvel::HyperGRU<float, 1, 1, 8>& activeGru() noexcept;
    const Eigen::MatrixXf& activeIhWeights() const noexcept;
    const Eigen::MatrixXf& activeHhWeights() const noexcept;
    const Eigen::MatrixXf& activeConvKernel() const noexcept;
    void evaluateActiveSubnet (float knob1, float knob2);

    // Block stages, in the order a block meets them. [audio thread] None of them
    // blocks or allocates (except that a new channel layout prepares again). Each
    // stage works on the first `modelSamples` samples of modelBuffer: the model
    // samples due within the block, at most modelBlockSize.
    bool channelLayoutChanged() const noexcept;
    void passDelayed (juce::AudioBuffer<float>& buffer) noexcept;
    void processPiece (juce::AudioBuffer<float>& buffer, bool furtherPiece);
    int takeModelSamplesFor (int hostSamples) noexcept;
    bool updateToneModel (float knob1, float knob2, int modelSamples);
    void keepWeightsAsRampStart() noexcept;
    void queueImpulseResponses();
    static void sanitiseInput (juce::AudioBuffer<float>& buffer) noexcept;
    void measurePeaks (const juce::AudioBuffer<float>& buffer, int which, bool furtherPiece) noexcept;
    static void applyGainParameter (juce::AudioBuffer<float>& buffer, float gainDb, float& previousGain) noexcept;
    void resampleUp (const juce::AudioBuffer<float>& buffer, int modelSamples);
    void pushDrySignal (float mixPercent, int modelSamples);
    void measureInputEnergy (int modelSamples);
    void convolve (int modelSamples);
    void runCell (bool useRamp, int modelSamples);
    void mixWetSignal (int modelSamples);
    void applyAutoGain (int modelSamples);
    void filterAndResampleDown (juce::AudioBuffer<float>& buffer, int modelSamples);
    int modelChannelsUpTo (int count) const noexcept;
    juce::dsp::AudioBlock<float> modelBlock (int modelSamples) noexcept;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MorvelAudioProcessor)
};
