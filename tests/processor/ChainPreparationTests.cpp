// Preparation of the signal chain: rate classes, sizes, latency, and the first
// blocks after a preparation compared with an independently built chain.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace chaintest;

namespace
{
struct RateClass
{
    double hostRate;
    bool high;
    double modelRate;
    int irLength, wetLatency, reportedLatency;
};

const RateClass rateClasses[] = {
    { 8000.0, false, 96000.0, 1024, 580, 303 },
    { 44100.0, false, 96000.0, 1024, 580, 303 },
    { 48000.0, false, 96000.0, 1024, 580, 303 },
    { 48000.5, true, 192000.0, 2048, 513, 271 },
    { 88200.0, true, 192000.0, 2048, 513, 271 },
    { 96000.0, true, 192000.0, 2048, 513, 271 },
    { 192000.0, true, 192000.0, 2048, 513, 271 },
    { 384000.0, true, 192000.0, 2048, 513, 271 },
};

/** Gain of an FIR at a normalised frequency (cycles per sample). */
double firGain (const float* c, size_t taps, double frequency)
{
    std::complex<double> sum = 0.0;
    for (size_t k = 0; k < taps; ++k)
        sum += (double) c[k] * std::polar (1.0, -2.0 * juce::MathConstants<double>::pi * frequency * (double) k);
    return std::abs (sum);
}
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
            EXPECT_EQ (p->reportedLatencySamples, rc.reportedLatency);
            EXPECT_EQ (p->getLatencySamples(), rc.reportedLatency);
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
    EXPECT_EQ (p->lastKnob1, p->knob1Raw->load());
    EXPECT_EQ (p->lastKnob2, p->knob2Raw->load());
    EXPECT_EQ (p->standardRateSubnet.convKernel.cols(), 1024);
    EXPECT_EQ (p->inputEnergy.size(), 12u);
    EXPECT_EQ (p->outputEnergy.size(), 12u);
    EXPECT_EQ (p->autoGainFactors.size(), 12u);
    EXPECT_EQ (p->truePeakMeter.numChannels, 12);
    EXPECT_EQ (p->truePeakMeter.peakDb.size(), 24);

    // Every engine holds the whole response, moved out of its hand-over buffer.
    for (int c = 0; c < 12; ++c)
    {
        EXPECT_EQ (p->convolvers[c].getCurrentIRSize(), 1024) << c;
        EXPECT_EQ (p->irBuffers[c].getNumSamples(), 0) << c;
    }

    // 46 taps; unity at DC and strong attenuation near the model rate's Nyquist
    // frequency, the band that folds back into the host's range.
    for (int c = 0; c < 12; ++c)
    {
        const auto& coefficients = *p->antiAliasFilters[c].state;
        ASSERT_EQ (coefficients.getFilterOrder(), 45u);
        const float* taps = coefficients.getRawCoefficients();
        EXPECT_NEAR (firGain (taps, 46, 0.0), 1.0, 0.05);
        EXPECT_LT (firGain (taps, 46, 0.45), 0.05);
        EXPECT_NEAR (firGain (taps, 46, 44100.0 * 0.25 / 96000.0), 1.0, 0.05);
    }
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
    process (*p, noise (2, 256, 0.3f, 2), 256); // another size: prepares again first

    EXPECT_EQ (p->lastKnob1, p->knob1Raw->load());
    const Eigen::MatrixXf fresh = p->standardRateSubnet.ihWeights;
    const float knobs[2] = { p->knob1Raw->load(), p->knob2Raw->load() };
    p->standardRateSubnet.forward (knobs);
    EXPECT_EQ (fresh, p->standardRateSubnet.ihWeights);
}

namespace
{
/**
    The wet chain (Mix 100, automatic gain off) built from its parts over the whole
    signal: Lagrange resampling up, direct convolution in double precision with the
    reversed kernel, the recurrent cell step by step, direct FIR filtering in double
    precision, and Lagrange resampling down block by block. Valid at 48 and 96 kHz,
    where the model block is exactly twice the host block.
*/
Signal referenceWetChain (const MorvelAudioProcessor& p, const Signal& input, int hostBlock)
{
    const int channels = (int) input.size();
    const int hostTotal = (int) input[0].size();
    const int blocks = hostTotal / hostBlock;
    const int modelTotal = blocks * p.modelBlockSize;
    const double upRatio = (double) hostBlock / p.modelBlockSize;

    const Eigen::MatrixXf& kernel = p.useHighRateModel ? p.highRateSubnet.convKernel : p.standardRateSubnet.convKernel;
    const Eigen::MatrixXf& ih = p.useHighRateModel ? p.highRateSubnet.ihWeights : p.standardRateSubnet.ihWeights;
    const Eigen::MatrixXf& hh = p.useHighRateModel ? p.highRateSubnet.hhWeights : p.standardRateSubnet.hhWeights;
    auto gru = p.useHighRateModel ? p.highRateGru : p.standardRateGru;
    gru.reset (channels, modelTotal);

    const int n = (int) kernel.cols();
    const float* fir = p.antiAliasFilters[0].state->getRawCoefficients();
    const size_t firTaps = p.antiAliasFilters[0].state->getFilterOrder() + 1;

    Signal model = silence (channels, modelTotal);
    for (int ch = 0; ch < channels; ++ch)
    {
        juce::LagrangeInterpolator up;
        up.process (upRatio, input[(size_t) ch].data(), model[(size_t) ch].data(), modelTotal);

        std::vector<float> convolved ((size_t) modelTotal);
        for (int t = 0; t < modelTotal; ++t)
        {
            double sum = 0.0;
            for (int j = 0; j <= std::min (t, n - 1); ++j)
                sum += (double) kernel (0, n - 1 - j) * model[(size_t) ch][(size_t) (t - j)];
            convolved[(size_t) t] = (float) sum;
        }
        model[(size_t) ch] = convolved;
    }

    for (int t = 0; t < modelTotal; ++t)
    {
        for (int ch = 0; ch < channels; ++ch)
            gru.cellInput (ch, 0) = model[(size_t) ch][(size_t) t];
        gru.forward_cell (gru.cellInput, ih, hh);
        for (int ch = 0; ch < channels; ++ch)
            model[(size_t) ch][(size_t) t] = gru.cellOutput (ch, 0);
    }

    // Resampling back is block-tied: each block returns exactly hostBlock samples from
    // its own modelBlockSize samples, whatever the interpolator's phase would take.
    Signal output = silence (channels, hostTotal);
    for (int ch = 0; ch < channels; ++ch)
    {
        std::vector<float> filtered ((size_t) modelTotal);
        for (int t = 0; t < modelTotal; ++t)
        {
            double sum = 0.0;
            for (size_t k = 0; k < firTaps && (int) k <= t; ++k)
                sum += (double) fir[k] * model[(size_t) ch][(size_t) t - k];
            filtered[(size_t) t] = (float) sum;
        }

        juce::LagrangeInterpolator down;
        for (int b = 0; b < blocks; ++b)
            down.process (1.0 / upRatio, filtered.data() + b * p.modelBlockSize,
                          output[(size_t) ch].data() + b * hostBlock, hostBlock);
    }
    return output;
}
} // namespace

TEST (ChainPreparation, TheFirstBlocksAlreadyRunTheFullChainWithTheModelsResponse)
{
    struct Case { double rate; int block; };
    for (const auto& c : { Case { 48000.0, 512 }, Case { 96000.0, 256 } })
    {
        SCOPED_TRACE (testing::Message() << c.rate << " Hz");
        auto p = makeProcessor (juce::AudioChannelSet::stereo());
        setMixAndAutoGain (*p, 100.0f, false);
        p->prepareToPlay (c.rate, c.block);

        Signal input = noise (2, 3 * c.block, 0.3f, 7, true);
        for (int ch = 0; ch < 2; ++ch)
            std::fill (input[(size_t) ch].begin() + 2 * c.block, input[(size_t) ch].end(), 0.0f);

        const Signal expected = referenceWetChain (*p, input, c.block);
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
    Response of a fresh processor to an impulse at the start of block `impulseBlock`,
    from that sample on.
*/
std::vector<float> impulseResponse (double rate, int block, float mixPercent, int length, int impulseBlock = 0,
                                    float amplitude = 1.0f)
{
    auto p = makeProcessor (juce::AudioChannelSet::mono());
    setMixAndAutoGain (*p, mixPercent, false);
    p->prepareToPlay (rate, block);

    const int offset = impulseBlock * block;
    Signal input = silence (1, offset + length);
    input[0][(size_t) offset] = amplitude;
    const auto output = process (*p, input, block)[0];
    return { output.begin() + offset, output.end() };
}

/**
    Where the dry path puts an impulse in the first block after construction, from
    the stages' own delays: each Lagrange interpolator delays by two of its input
    samples, the mixer by the wet latency, the 46-tap filter by 22.5 model samples
    when it runs; host and model samples relate by the block-tied ratio.
*/
double predictedDryArrival (double rate, int block)
{
    const bool high = rate > 48000.0;
    const int modelBlock = (int) std::ceil (block * (high ? 192000.0 : 96000.0) / rate);
    const double hostPerModel = (double) block / modelBlock;
    const double modelDelay = 2.0 / hostPerModel + (high ? 513.0 : 580.0) + (modelBlock > block ? 22.5 : 0.0) + 2.0;
    return modelDelay * hostPerModel;
}

int reportedLatencyAt (double rate)
{
    return rate > 48000.0 ? 271 : 303;
}
} // namespace

TEST (ChainLatency, TheDryPathArrivesAtTheReportedLatencyAt48And96kHz)
{
    for (double rate : { 48000.0, 96000.0 })
    {
        // Block 0 holds the arrival in the first block after preparation; block 3 is
        // in the resamplers' steady phase.
        for (int impulseBlock : { 0, 3 })
        {
            const auto response = impulseResponse (rate, 1024, 0.0f, 2048, impulseBlock);
            const auto peakAt = (int) peakIndex (response);
            const int reported = reportedLatencyAt (rate);

            EXPECT_LE (std::abs (peakAt - reported), 1) << rate << " Hz, block " << impulseBlock;
            EXPECT_LE (std::abs (arrival (response) - reported), 1.5) << rate << " Hz, block " << impulseBlock;
            if (impulseBlock == 0)
            {
                EXPECT_NEAR (arrival (response), predictedDryArrival (rate, 1024), 0.5) << rate << " Hz";
            }
            std::cout << "[ latency ] " << rate << " Hz dry, impulse in block " << impulseBlock << ": peak " << peakAt
                      << ", centroid " << arrival (response) << ", reported " << reported << "\n";
        }
    }
}

TEST (ChainLatency, TheDryPathArrivalAtOtherRatesFollowsTheBlockTiedRatio)
{
    // At these rates the model block is not an exact multiple of the host block (or,
    // at 192 kHz, the wet latency is counted at the host rate), so the dry path does
    // not arrive at the reported latency; the offsets are measured and printed.
    for (double rate : { 44100.0, 88200.0, 192000.0 })
    {
        for (int block : { 512, 1024 })
        {
            const auto first = impulseResponse (rate, block, 0.0f, 2048);
            const auto steady = impulseResponse (rate, block, 0.0f, 2048, 3);
            const int reported = reportedLatencyAt (rate);

            EXPECT_NEAR (arrival (first), predictedDryArrival (rate, block), 1.0) << rate << " Hz, " << block;
            EXPECT_NEAR (arrival (steady), arrival (first), 1.0) << rate << " Hz, " << block;
            std::cout << "[ latency ] " << rate << " Hz, block " << block << " dry: centroid " << arrival (first)
                      << " (first block), " << arrival (steady) << " (steady), peak " << peakIndex (steady)
                      << ", reported " << reported << ", offset " << arrival (steady) - reported << "\n";
        }
    }
}

TEST (ChainLatency, TheWetPathArrivesWithTheDryPath)
{
    // The model's response is designed with the dry path's delay, so wet and dry
    // line up at every rate; at 48 and 96 kHz both arrive at the reported latency.
    // A small impulse keeps the cell in its linear range.
    for (double rate : { 44100.0, 48000.0, 88200.0, 96000.0, 192000.0 })
    {
        const auto wet = impulseResponse (rate, 1024, 100.0f, 4096, 3, 0.05f);
        const auto dry = impulseResponse (rate, 1024, 0.0f, 4096, 3, 0.05f);
        ASSERT_TRUE (allFinite ({ wet }));

        EXPECT_NEAR (arrival (wet), arrival (dry), 1.0) << rate << " Hz";
        if (rate == 48000.0 || rate == 96000.0)
        {
            EXPECT_LE (std::abs ((int) peakIndex (wet) - reportedLatencyAt (rate)), 1) << rate << " Hz";
        }
        std::cout << "[ latency ] " << rate << " Hz wet: peak " << peakIndex (wet) << ", centroid "
                  << arrival (wet) << " (dry " << arrival (dry) << "), reported " << reportedLatencyAt (rate) << "\n";
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
