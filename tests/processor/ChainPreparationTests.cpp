// Preparation of the signal chain: rate classes, sizes, latency, and the first
// blocks after a preparation compared with an independently built chain.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <iostream>

using namespace chaintest;

namespace
{
struct RateClass
{
    double hostRate;
    bool high;
    double modelRate;
    int irLength, wetLatency;
};

const RateClass rateClasses[] = {
    { 8000.0, false, 96000.0, 1024, 580 },
    { 44100.0, false, 96000.0, 1024, 580 },
    { 48000.0, false, 96000.0, 1024, 580 },
    { 48000.5, true, 192000.0, 2048, 513 },
    { 88200.0, true, 192000.0, 2048, 513 },
    { 96000.0, true, 192000.0, 2048, 513 },
    { 192000.0, true, 192000.0, 2048, 513 },
    { 384000.0, true, 192000.0, 2048, 513 },
};
} // namespace

TEST (ChainPreparation, TheHostRateAloneChoosesTheRateClass)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());

    for (const auto& rc : rateClasses)
    {
        for (int block : { 1, 512 })
        {
            SCOPED_TRACE (testing::Message() << rc.hostRate << " Hz, " << block << " samples");
            p->prepareToPlay (rc.hostRate, block);
            EXPECT_EQ ((bool) p->useHighRateModel, rc.high);
            EXPECT_EQ (p->modelRate, rc.modelRate);
            EXPECT_EQ (p->irLength, rc.irLength);
            EXPECT_EQ (p->wetLatencySamples, rc.wetLatency);
            EXPECT_EQ (p->getLatencySamples(), p->reportedLatencySamples);
            EXPECT_EQ (p->antiAliasCutoff, rc.hostRate * 0.5);
        }
    }
}

TEST (ChainPreparation, ModelBlockSizeIsTheBlockAtTheModelRateRoundedUp)
{
    struct Case { double rate; int block; int expected; };
    // By hand: ceil(block * modelRate / hostRate).
    const Case cases[] = {
        { 44100.0, 1024, 2230 }, { 48000.0, 1024, 2048 }, { 88200.0, 1024, 2230 },
        { 96000.0, 1024, 2048 }, { 192000.0, 1024, 1024 }, { 48000.0, 512, 1024 },
        { 44100.0, 1, 3 },       { 384000.0, 1, 1 },      { 384000.0, 7, 4 },
        { 8000.0, 8192, 98304 },
    };

    for (const auto& c : cases)
    {
        // Right after construction, and again after a preparation of the other class.
        auto p = makeProcessor (juce::AudioChannelSet::stereo());
        for (int round = 0; round < 2; ++round)
        {
            p->prepareToPlay (c.rate, c.block);
            EXPECT_EQ (p->modelBlockSize, c.expected) << c.rate << " Hz, " << c.block << " samples";
            EXPECT_EQ (p->modelBuffer.getNumSamples(), c.expected);
            p->prepareToPlay (c.rate > 48000.0 ? 44100.0 : 96000.0, 333);
        }
    }
}

TEST (ChainPreparation, SizesEveryStageForTheChannelsAndTheBlock)
{
    auto p = makeProcessor (juce::AudioChannelSet::create7point1point4());
    p->prepareToPlay (44100.0, 512);

    EXPECT_EQ (p->numInputChannels, 12);
    EXPECT_EQ (p->numOutputChannels, 12);
    EXPECT_EQ (p->blockSize, 512);
    EXPECT_EQ (p->modelBuffer.getNumChannels(), 12);
    EXPECT_EQ (p->modelBuffer.getNumSamples(), 1115);
    EXPECT_EQ (p->standardRateGru.batchSize, 12);
    EXPECT_EQ (p->standardRateGru.stepCount, 1115);
    EXPECT_EQ (p->standardRateGru.hiddenState.rows(), 12);
    EXPECT_TRUE (p->standardRateGru.hiddenState.isZero (0.0f));
    // The ramp's start in the weights' shapes, so that a tone move copies into it in place.
    EXPECT_EQ (p->previousIhWeights.cols(), 24);
    EXPECT_EQ (p->previousHhWeights.rows(), 8);
    EXPECT_EQ (p->rampLength, 0);
    EXPECT_EQ (p->lastKnob1, p->knob1Raw->load());
    EXPECT_EQ (p->lastKnob2, p->knob2Raw->load());
    EXPECT_EQ (p->standardRateSubnet.convKernel.cols(), 1024);
    EXPECT_EQ (p->inputEnergy.size(), 12u);
    EXPECT_EQ (p->outputEnergy.size(), 12u);
    EXPECT_EQ (p->autoGainFactors.size(), 12u);
    EXPECT_EQ (p->truePeakMeter.numChannels, 12);
    EXPECT_EQ (p->truePeakMeter.peakDb.size(), 24);

    // Every engine holds the whole response.
    for (int c = 0; c < 12; ++c)
        EXPECT_EQ (p->convolvers[c].getCurrentIRSize(), 1024) << c;

    // One kernel per direction, shared by the channels; the rates differ, so both convert.
    EXPECT_GT (p->upsamplingKernel.getTaps(), 1);
    EXPECT_GT (p->downsamplingKernel.getTaps(), 1);
}

TEST (ChainPreparation, PreviousGainsAreTheCurrentLinearGains)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    setParameter (*p, "Input Gain", -6.0f);
    setParameter (*p, "Output Gain", 20.0f);
    p->prepareToPlay (48000.0, 256);

    EXPECT_FLOAT_EQ (p->previousInputGain, 0.50118721f);
    EXPECT_EQ (p->previousInputGain, std::pow (10.0f, -6.0f / 20.0f));
    EXPECT_EQ (p->previousOutputGain, std::pow (10.0f, 20.0f / 20.0f));

    // The next block finds the gains unchanged and applies them without a ramp.
    juce::AudioBuffer<float> buffer (2, 256);
    buffer.clear();
    processOne (*p, buffer);
    EXPECT_EQ (p->previousInputGain, std::pow (10.0f, -6.0f / 20.0f));
}

TEST (ChainPreparation, AutomaticGainStateSurvivesAndGrowsWithTheChannels)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 512);
    for (size_t c = 0; c < 2; ++c)
    {
        p->inputEnergy[c] = 0.25f + (float) c;
        p->outputEnergy[c] = 0.5f + (float) c;
        p->autoGainFactors[c] = 0.75f;
    }

    p->prepareToPlay (48000.0, 1024);
    EXPECT_EQ (p->inputEnergy[1], 1.25f);
    EXPECT_EQ (p->outputEnergy[1], 1.5f);
    EXPECT_EQ (p->autoGainFactors[0], 0.75f);

    juce::AudioProcessor::BusesLayout wide;
    wide.inputBuses.add (juce::AudioChannelSet::create7point1point4());
    wide.outputBuses.add (juce::AudioChannelSet::create7point1point4());
    ASSERT_TRUE (p->setBusesLayout (wide));
    p->prepareToPlay (48000.0, 1024);

    ASSERT_EQ (p->inputEnergy.size(), 12u);
    EXPECT_EQ (p->inputEnergy[0], 0.25f);
    EXPECT_EQ (p->autoGainFactors[1], 0.75f);
    for (size_t c = 2; c < 12; ++c)
    {
        EXPECT_EQ (p->inputEnergy[c], 0.0f);
        EXPECT_EQ (p->outputEnergy[c], 0.0f);
        EXPECT_EQ (p->autoGainFactors[c], 0.0f);
    }
}

TEST (ChainPreparation, AToneMoveBeforeARepreparationTakesEffectWithoutARamp)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 512);
    process (*p, noise (2, 512, 0.3f, 1), 512);

    setParameter (*p, "Knob1", 0.8f);
    p->prepareToPlay (48000.0, 256);
    process (*p, noise (2, 256, 0.3f, 2), 256);

    EXPECT_EQ (p->lastKnob1, p->knob1Raw->load());
    EXPECT_EQ (p->rampLength, 0);
    const Eigen::MatrixXf fresh = p->standardRateSubnet.ihWeights;
    const float knobs[2] = { p->knob1Raw->load(), p->knob2Raw->load() };
    p->standardRateSubnet.forward (knobs);
    EXPECT_EQ (fresh, p->standardRateSubnet.ihWeights);
}

namespace
{
/**
    The wet chain (Mix 100, automatic gain off) built from its parts over the whole
    signal: plain band-limited resampling up, direct convolution in double precision
    with the reversed kernel, the recurrent cell step by step, and plain band-limited
    resampling down (which is also the anti-alias low-pass).
*/
Signal referenceWetChain (const MorvelAudioProcessor& p, const Signal& input)
{
    const int channels = (int) input.size();
    const int hostTotal = (int) input[0].size();
    const int modelTotal = (int) referenceUpsample (p, input[0]).size();

    const Eigen::MatrixXf& kernel = p.useHighRateModel ? p.highRateSubnet.convKernel : p.standardRateSubnet.convKernel;
    const Eigen::MatrixXf& ih = p.useHighRateModel ? p.highRateSubnet.ihWeights : p.standardRateSubnet.ihWeights;
    const Eigen::MatrixXf& hh = p.useHighRateModel ? p.highRateSubnet.hhWeights : p.standardRateSubnet.hhWeights;
    auto gru = p.useHighRateModel ? p.highRateGru : p.standardRateGru;
    gru.reset (channels, modelTotal);

    const int n = (int) kernel.cols();

    Signal model = silence (channels, modelTotal);
    for (int ch = 0; ch < channels; ++ch)
    {
        const auto up = referenceUpsample (p, input[(size_t) ch]);
        for (int t = 0; t < modelTotal; ++t)
        {
            double sum = 0.0;
            for (int j = 0; j <= std::min (t, n - 1); ++j)
                sum += (double) kernel (0, n - 1 - j) * up[(size_t) (t - j)];
            model[(size_t) ch][(size_t) t] = (float) sum;
        }
    }

    for (int t = 0; t < modelTotal; ++t)
    {
        for (int ch = 0; ch < channels; ++ch)
            gru.cellInput (ch, 0) = model[(size_t) ch][(size_t) t];
        gru.forward_cell (gru.cellInput, ih, hh);
        for (int ch = 0; ch < channels; ++ch)
            model[(size_t) ch][(size_t) t] = gru.cellOutput (ch, 0);
    }

    Signal output = silence (channels, hostTotal);
    for (int ch = 0; ch < channels; ++ch)
        output[(size_t) ch] = referenceDownsample (p, model[(size_t) ch], hostTotal);
    return output;
}
} // namespace

TEST (ChainPreparation, TheFirstBlocksAlreadyRunTheFullChainWithTheModelsResponse)
{
    struct Case { double rate; int block; };
    for (const auto& c : { Case { 44100.0, 512 }, Case { 48000.0, 512 }, Case { 96000.0, 256 } })
    {
        SCOPED_TRACE (testing::Message() << c.rate << " Hz");
        auto p = makeProcessor (juce::AudioChannelSet::stereo());
        setMixAndAutoGain (*p, 100.0f, false);
        p->prepareToPlay (c.rate, c.block);

        Signal input = noise (2, 3 * c.block, 0.3f, 7, true);
        for (int ch = 0; ch < 2; ++ch)
            std::fill (input[(size_t) ch].begin() + 2 * c.block, input[(size_t) ch].end(), 0.0f);

        const Signal expected = referenceWetChain (*p, input);
        const Signal actual = process (*p, input, c.block);

        const float scale = std::max (peak (expected[0]), peak (expected[1]));
        ASSERT_GT (scale, 1.0e-3f);
        for (int ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < actual[(size_t) ch].size(); ++i)
                ASSERT_NEAR (actual[(size_t) ch][i], expected[(size_t) ch][i], 2.0e-4f * scale) << "channel " << ch << ", sample " << i;
    }
}

namespace
{
/**
    Response of a prepared processor to an impulse at the start of block
    `impulseBlock`, from that sample on. A small impulse keeps the cell in its linear
    range at Mix 100.
*/
std::vector<float> impulseResponse (MorvelAudioProcessor& p, double rate, int block, float mixPercent, int length,
                                    int impulseBlock = 2, float amplitude = 0.05f)
{
    setMixAndAutoGain (p, mixPercent, false);
    p.prepareToPlay (rate, block);

    const int offset = impulseBlock * block;
    Signal input = silence (1, offset + length);
    input[0][(size_t) offset] = amplitude;
    const auto output = process (p, input, block)[0];
    return { output.begin() + offset, output.end() };
}

/**
    The chain's delay worked out from its stages, in host samples: the up-sampler's half
    width and extra delay, then the dry path's delay and the down-sampler's half width
    in model samples.
*/
double stagesDelay (const MorvelAudioProcessor& p)
{
    const double hostPerModel = (double) p.hostStep / p.modelStep;
    return p.upsamplingKernel.getHalfWidth() + (double) p.upsampler.getExtraDelay() / p.modelStep
         + (p.wetLatencySamples + p.downsamplingKernel.getHalfWidth()) * hostPerModel;
}
} // namespace

TEST (ChainLatency, AnImpulsePeaksAtTheReportedLatencyAtEveryRateBlockAndMix)
{
    for (double rate : { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 384000.0 })
    {
        for (int block : { 64, 512, 4096 })
        {
            auto p = makeProcessor (juce::AudioChannelSet::mono());
            for (float mix : { 0.0f, 100.0f })
            {
                SCOPED_TRACE (testing::Message() << rate << " Hz, block " << block << ", Mix " << mix);
                const auto response = impulseResponse (*p, rate, block, mix, 2048);
                const int reported = p->getLatencySamples();

                EXPECT_EQ (reported, p->reportedLatencySamples);
                EXPECT_EQ ((int) peakIndex (response), reported);
            }
        }
    }
}

TEST (ChainLatency, TheDelayIsAWholeNumberOfHostSamplesSetByTheRateAlone)
{
    // The stages' delays add up to the reported latency, a whole number, at every rate
    // from 22.05 to 384 kHz, whatever the block size; also at a rate whose cycle is too
    // long for tabulated positions (44,101 Hz) and at one that is not a whole number of
    // hertz, which counts as the nearest whole one.
    for (double rate : { 22050.0, 32000.0, 44100.0, 44101.0, 47999.7, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0,
                         352800.0, 384000.0 })
    {
        auto p = makeProcessor (juce::AudioChannelSet::stereo());
        p->prepareToPlay (rate, 512);
        const int latency = p->getLatencySamples();

        for (int block : { 1, 64, 333, 4096 })
        {
            p->prepareToPlay (rate, block);
            EXPECT_EQ (p->getLatencySamples(), latency) << rate << " Hz, block " << block;
            EXPECT_NEAR (stagesDelay (*p), (double) latency, 1.0e-9) << rate << " Hz, block " << block;
        }
        std::cout << "[ latency ] " << rate << " Hz: " << latency << " samples, ratio " << p->hostStep << " : "
                  << p->modelStep << ", up-sampler " << p->upsampler.getExtraDelay() << " / " << p->modelStep << " later\n";
    }
}

TEST (ChainLatency, TheWetPathArrivesWithTheDryPath)
{
    // The model's response is designed with the dry path's delay, so wet and dry
    // line up at every rate.
    for (double rate : { 44100.0, 48000.0, 88200.0, 96000.0, 192000.0 })
    {
        auto p = makeProcessor (juce::AudioChannelSet::mono());
        const auto wet = impulseResponse (*p, rate, 1024, 100.0f, 4096);
        const auto dry = impulseResponse (*p, rate, 1024, 0.0f, 4096);
        ASSERT_TRUE (allFinite ({ wet }));
        EXPECT_NEAR (arrival (wet), arrival (dry), 1.0) << rate << " Hz";
    }
}

TEST (ChainPreparation, ZeroOneAndTwelveChannelsProcess)
{
    for (const auto& set : { juce::AudioChannelSet::disabled(), juce::AudioChannelSet::mono(),
                             juce::AudioChannelSet::create7point1point4() })
    {
        auto p = makeProcessor (set);
        const int channels = set.size();
        ASSERT_EQ (p->getTotalNumInputChannels(), channels);
        p->prepareToPlay (48000.0, 512);

        EXPECT_EQ (p->modelBuffer.getNumChannels(), channels);
        EXPECT_EQ (p->standardRateGru.hiddenState.rows(), channels);
        EXPECT_EQ ((int) p->inputEnergy.size(), channels);
        EXPECT_EQ (p->truePeakMeter.peakDb.size(), 2 * channels);

        juce::AudioBuffer<float> buffer (channels, 512);
        for (int block = 0; block < 4; ++block)
        {
            for (int ch = 0; ch < channels; ++ch)
                for (int i = 0; i < 512; ++i)
                    buffer.setSample (ch, i, 0.4f * std::sin (0.01f * (float) (i + 512 * block)));
            processOne (*p, buffer);

            for (int ch = 0; ch < channels; ++ch)
                for (int i = 0; i < 512; ++i)
                    ASSERT_TRUE (std::isfinite (buffer.getSample (ch, i)));
        }
    }
}

TEST (ChainPreparation, TwelveChannelsAreTwelveIndependentCopiesOfOneChain)
{
    auto wide = makeProcessor (juce::AudioChannelSet::create7point1point4());
    auto mono = makeProcessor (juce::AudioChannelSet::mono());
    wide->prepareToPlay (48000.0, 512);
    mono->prepareToPlay (48000.0, 512);

    // Different signals on different channels; channel 5 also goes through the mono chain.
    const Signal input = noise (12, 2048, 0.5f, 11, true);
    const Signal wideOut = process (*wide, input, 512);
    const Signal monoOut = process (*mono, { input[5] }, 512);

    const float scale = peak (monoOut[0]);
    ASSERT_GT (scale, 1.0e-3f);
    for (size_t i = 0; i < monoOut[0].size(); ++i)
        ASSERT_NEAR (wideOut[5][i], monoOut[0][i], 1.0e-5f * std::max (1.0f, scale)) << i;
}
