// Per-block processing: empty and bypassed blocks, gain ramps, automatic gain,
// tone-control moves, re-preparation and bad input.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace chaintest;

namespace
{
struct ChainSnapshot
{
    int blockSize, modelBlockSize;
    float previousInputGain, previousOutputGain, lastKnob1, lastKnob2;
    std::vector<float> inputEnergy, outputEnergy, autoGainFactors, peakDb;
    Eigen::MatrixXf hiddenState;

    explicit ChainSnapshot (const MorvelAudioProcessor& p)
        : blockSize (p.blockSize), modelBlockSize (p.modelBlockSize),
          previousInputGain (p.previousInputGain), previousOutputGain (p.previousOutputGain),
          lastKnob1 (p.lastKnob1), lastKnob2 (p.lastKnob2),
          inputEnergy (p.inputEnergy), outputEnergy (p.outputEnergy), autoGainFactors (p.autoGainFactors),
          peakDb (p.truePeakMeter.peakDb.snapshot()), hiddenState (p.standardRateGru.hiddenState)
    {
    }

    bool operator== (const ChainSnapshot& o) const
    {
        return blockSize == o.blockSize && modelBlockSize == o.modelBlockSize
            && previousInputGain == o.previousInputGain && previousOutputGain == o.previousOutputGain
            && lastKnob1 == o.lastKnob1 && lastKnob2 == o.lastKnob2 && inputEnergy == o.inputEnergy
            && outputEnergy == o.outputEnergy && autoGainFactors == o.autoGainFactors && peakDb == o.peakDb
            && hiddenState == o.hiddenState;
    }
};

Signal slice (const Signal& s, int from, int count)
{
    Signal out;
    for (const auto& ch : s)
        out.emplace_back (ch.begin() + from, ch.begin() + from + count);
    return out;
}

void expectIdentical (const Signal& a, const Signal& b)
{
    ASSERT_EQ (a.size(), b.size());
    for (size_t ch = 0; ch < a.size(); ++ch)
    {
        ASSERT_EQ (a[ch].size(), b[ch].size());
        for (size_t i = 0; i < a[ch].size(); ++i)
            ASSERT_EQ (a[ch][i], b[ch][i]) << "channel " << ch << ", sample " << i;
    }
}

/** The channels joined end to end: a stream given in two parts. */
Signal join (const Signal& first, const Signal& second)
{
    Signal joined = first;
    for (size_t ch = 0; ch < joined.size(); ++ch)
        joined[ch].insert (joined[ch].end(), second[ch].begin(), second[ch].end());
    return joined;
}

/** `count` samples of the stream from `from` on, as they come out `delay` samples late. */
Signal delayedBy (const Signal& stream, int delay, int from, int count)
{
    Signal out = silence ((int) stream.size(), count);
    for (size_t ch = 0; ch < stream.size(); ++ch)
        for (int i = 0; i < count; ++i)
            if (from + i - delay >= 0)
                out[ch][(size_t) i] = stream[ch][(size_t) (from + i - delay)];
    return out;
}

/** The library's gain ramp: a running gain that starts at `start` and grows by (end - start) / count. */
std::vector<float> rampGains (float start, float end, int count)
{
    std::vector<float> gains ((size_t) count);
    const float increment = (end - start) / (float) count;
    float g = start;
    for (auto& x : gains)
    {
        x = g;
        g += increment;
    }
    return gains;
}

float dbToGain (float dB) { return std::pow (10.0f, dB / 20.0f); }
} // namespace

TEST (ChainBlock, AnEmptyBlockChangesNothing)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 256);
    process (*p, noise (2, 512, 0.3f, 3), 256);

    const ChainSnapshot before (*p);
    juce::AudioBuffer<float> empty (2, 0);
    processOne (*p, empty);
    EXPECT_TRUE (ChainSnapshot (*p) == before);

    const auto next = process (*p, noise (2, 256, 0.3f, 4), 256);
    EXPECT_TRUE (allFinite (next));
    EXPECT_EQ (p->blockSize, 256);
}

TEST (ChainBlock, ABypassedBlockComesBackDelayedByTheLatencyAndTheChainContinuesAsBefore)
{
    auto a = makeProcessor (juce::AudioChannelSet::stereo());
    auto b = makeProcessor (juce::AudioChannelSet::stereo());
    for (auto* p : { a.get(), b.get() })
        p->prepareToPlay (48000.0, 256);

    const Signal input = noise (2, 4 * 256, 0.4f, 5, true);
    const Signal head = slice (input, 0, 512), tail = slice (input, 768, 256);
    process (*a, head, 256);
    process (*b, head, 256);

    // A different sample count would re-prepare, were the block not bypassed. The
    // bypassed block is the input delayed by the reported latency, reaching back into
    // the blocks processed before it; no gain, no metering, nothing else changes.
    setParameter (*a, "Bypass", 1.0f);
    setParameter (*a, "Input Gain", 12.0f);
    setParameter (*a, "Input Gain", 0.0f);
    const ChainSnapshot before (*a);
    const Signal bypassedIn = noise (2, 100, 2.0f, 6, true);
    const Signal bypassedOut = process (*a, bypassedIn, 100);
    expectIdentical (bypassedOut, delayedBy (join (head, bypassedIn), a->getLatencySamples(), 512, 100));
    EXPECT_TRUE (ChainSnapshot (*a) == before);

    setParameter (*a, "Bypass", 0.0f);
    expectIdentical (process (*a, tail, 256), process (*b, tail, 256));
}

TEST (ChainBlock, ABypassValueThatIsNotANumberCountsAsOn)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 256);
    const Signal first = noise (2, 512, 0.3f, 10);
    process (*p, first, 256);

    p->bypassRaw->store (std::numeric_limits<float>::quiet_NaN());
    const ChainSnapshot before (*p);
    const Signal input = noise (2, 256, 0.4f, 11, true);
    expectIdentical (process (*p, input, 256), delayedBy (join (first, input), p->getLatencySamples(), 512, 256));
    EXPECT_TRUE (ChainSnapshot (*p) == before);
}

TEST (ChainBypass, BothBypassesGiveTheInputDelayedByTheReportedLatency)
{
    // The processor's "Bypass" and the host's own (processBlockBypassed), switched on
    // halfway through a stream at Mix 0: the bypassed half is the input delayed by the
    // reported latency to the sample, and the whole stream nulls against it as the
    // processed half alone does, so the switch moves nothing in time.
    for (double rate : { 44100.0, 48000.0 })
    {
        for (bool byHost : { false, true })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, " << (byHost ? "the host's bypass" : "\"Bypass\""));
            auto p = makeProcessor (juce::AudioChannelSet::mono());
            setMixAndAutoGain (*p, 0.0f, false);
            p->prepareToPlay (rate, 512);
            const int latency = p->getLatencySamples();
            const auto from = (size_t) (latency + 8192);
            const int switchAt = ((int) from + (int) (0.25 * rate)) / 512 * 512;
            const auto input = whiteNoise (switchAt + (int) (0.25 * rate), 0.1f, 17);

            auto output = process (*p, { std::vector<float> (input.begin(), input.begin() + switchAt) }, 512)[0];
            if (! byHost)
                setParameter (*p, "Bypass", 1.0f);

            juce::MidiBuffer midi;
            for (int start = switchAt; start < (int) input.size(); start += 512)
            {
                const int n = std::min (512, (int) input.size() - start);
                juce::AudioBuffer<float> buffer (1, n);
                buffer.copyFrom (0, 0, input.data() + start, n);
                if (byHost)
                    p->processBlockBypassed (buffer, midi);
                else
                    p->processBlock (buffer, midi);
                output.insert (output.end(), buffer.getReadPointer (0), buffer.getReadPointer (0) + n);
            }

            for (size_t i = (size_t) switchAt; i < output.size(); ++i)
                ASSERT_EQ (output[i], input[i - (size_t) latency]) << "sample " << i;

            const auto alignment = measureAlignment (input, output, latency, rate, audioBandEdge (rate), from);
            EXPECT_LT (std::abs (alignment.fraction), 0.001);
            EXPECT_LE (alignment.nullDb, -60.0);
        }
    }
}

TEST (ChainBlock, AToneMoveWhileBypassedRampsFromTheLastEvaluatedWeights)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 256);
    process (*p, noise (2, 256, 0.3f, 7), 256);
    const Eigen::MatrixXf oldIh = p->standardRateSubnet.ihWeights;
    const Eigen::MatrixXf oldHh = p->standardRateSubnet.hhWeights;

    setParameter (*p, "Bypass", 1.0f);
    setParameter (*p, "Knob2", 0.9f);
    process (*p, noise (2, 256, 0.3f, 8), 256);
    EXPECT_EQ (p->standardRateSubnet.ihWeights, oldIh);

    setParameter (*p, "Bypass", 0.0f);
    process (*p, noise (2, 256, 0.3f, 9), 256);

    // Moving Knob2 alone re-runs the whole network: both weight sets change.
    EXPECT_EQ (p->lastKnob2, p->knob2Raw->load());
    EXPECT_NEAR (p->lastKnob2, 0.9f, 1.0e-6f);
    EXPECT_NE (p->standardRateSubnet.ihWeights, oldIh);
    EXPECT_NE (p->standardRateSubnet.hhWeights, oldHh);
    // The block's ramp started from the weights of the last evaluation.
    EXPECT_EQ (p->previousIhWeights, oldIh);
    EXPECT_EQ (p->previousHhWeights, oldHh);
}

TEST (ChainBlock, GainChangesRampAcrossOneBlockThenHold)
{
    // With Mix 0 and automatic gain off the chain is linear, so a gain applied by the
    // processor must equal the same gains applied to its input or output beforehand.
    constexpr int n = 300;
    const Signal input = noise (2, 4 * n, 0.4f, 12, true);

    auto reference = makeProcessor (juce::AudioChannelSet::stereo());
    setMixAndAutoGain (*reference, 0.0f, false);
    reference->prepareToPlay (48000.0, n);

    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    setMixAndAutoGain (*p, 0.0f, false);
    setParameter (*p, "Input Gain", -6.0f);
    setParameter (*p, "Output Gain", -6.0f);
    p->prepareToPlay (48000.0, n);

    const float g6 = dbToGain (-6.0f), g3 = dbToGain (3.0f);
    const auto inRamp = rampGains (g6, 1.0f, n), outRamp = rampGains (g6, g3, n);

    Signal scaledIn = input;
    for (auto& ch : scaledIn)
        for (int i = 0; i < 3 * n; ++i)
            ch[(size_t) i] *= i < 2 * n ? g6 : inRamp[(size_t) (i - 2 * n)];

    const Signal expectedBeforeOutputGain = process (*reference, scaledIn, n);

    Signal actual = process (*p, slice (input, 0, 2 * n), n);
    setParameter (*p, "Input Gain", 0.0f);
    setParameter (*p, "Output Gain", 3.0f);
    const Signal rampBlock = process (*p, slice (input, 2 * n, n), n);
    EXPECT_EQ (p->previousInputGain, 1.0f);
    EXPECT_EQ (p->previousOutputGain, g3);
    const Signal holdBlock = process (*p, slice (input, 3 * n, n), n);

    for (size_t ch = 0; ch < 2; ++ch)
    {
        for (int i = 0; i < 4 * n; ++i)
        {
            const float y = i < 2 * n ? actual[ch][(size_t) i]
                          : i < 3 * n ? rampBlock[ch][(size_t) (i - 2 * n)]
                                      : holdBlock[ch][(size_t) (i - 3 * n)];
            const float outGain = i < 2 * n ? g6 : i < 3 * n ? outRamp[(size_t) (i - 2 * n)] : g3;
            ASSERT_EQ (y, expectedBeforeOutputGain[ch][(size_t) i] * outGain) << "channel " << ch << ", sample " << i;
        }
    }
}

TEST (ChainAutoGain, FadesInFromSilenceAfterTheFirstPreparation)
{
    auto on = makeProcessor (juce::AudioChannelSet::stereo());
    auto off = makeProcessor (juce::AudioChannelSet::stereo());
    setParameter (*off, "AutoGain", 0.0f);
    on->prepareToPlay (48000.0, 512);
    off->prepareToPlay (48000.0, 512);
    EXPECT_EQ (on->autoGainFactors, std::vector<float> (2, 0.0f));

    const Signal input = noise (2, 512, 0.3f, 21, true);
    const Signal faded = process (*on, input, 512);
    const Signal plain = process (*off, input, 512);

    for (size_t ch = 0; ch < 2; ++ch)
    {
        const float target = std::min (std::sqrt (on->inputEnergy[ch] / on->outputEnergy[ch]), 1.1f);
        EXPECT_EQ (on->autoGainFactors[ch], target);
        ASSERT_GT (energy (plain[ch], 0, 32), 0.0);
        EXPECT_LT (energy (faded[ch], 0, 32), 0.01 * energy (plain[ch], 0, 32));
        // By the block's end the gain has nearly reached its target.
        EXPECT_GT (energy (faded[ch], 448, 512), 0.5 * target * target * energy (plain[ch], 448, 512));
    }
}

TEST (ChainAutoGain, TheTargetStaysWithinTheCeilingAndHandlesItsCorners)
{
    auto p = makeProcessor (juce::AudioChannelSet::mono());
    setParameter (*p, "Mix", 0.0f);
    p->prepareToPlay (48000.0, 512);

    // Output silent, input not: the dry path is still inside the mixer's delay, so
    // the quotient is infinite and the target is the ceiling. The pulse ends early
    // enough that the up-sampler's kernel has left it before the next block.
    Signal late = silence (1, 512);
    for (int i = 380; i < 460; ++i)
        late[0][(size_t) i] = 0.5f;
    process (*p, late, 512);
    EXPECT_GT (p->inputEnergy[0], 0.0f);
    EXPECT_EQ (p->outputEnergy[0], 0.0f);
    EXPECT_EQ (p->autoGainFactors[0], 1.1f);

    // Input energy zero, output not: ramped to silence.
    p->inputEnergy[0] = 0.0f;
    process (*p, silence (1, 512), 512);
    EXPECT_GT (p->outputEnergy[0], 0.0f);
    EXPECT_EQ (p->autoGainFactors[0], 0.0f);

    // Both zero: the factor is held, and nothing undefined appears anywhere.
    auto q = makeProcessor (juce::AudioChannelSet::mono());
    q->prepareToPlay (48000.0, 512);
    q->autoGainFactors[0] = 0.7f;
    const Signal quiet = process (*q, silence (1, 1024), 512);
    EXPECT_EQ (q->inputEnergy[0], 0.0f);
    EXPECT_EQ (q->outputEnergy[0], 0.0f);
    EXPECT_EQ (q->autoGainFactors[0], 0.7f);
    EXPECT_EQ (peak (quiet[0]), 0.0f);

    const Signal back = process (*q, noise (1, 2048, 0.3f, 22), 512);
    EXPECT_TRUE (allFinite (back));
    EXPECT_LE (q->autoGainFactors[0], 1.1f);
    EXPECT_TRUE (std::isfinite (q->autoGainFactors[0]));
}

TEST (ChainAutoGain, AfterALongSilenceTheSignalReturnsWithoutAJump)
{
    auto p = makeProcessor (juce::AudioChannelSet::mono());
    p->prepareToPlay (48000.0, 64);
    process (*p, noise (1, 64 * 50, 0.3f, 23), 64);

    // Long enough for the smoothed energies to decay through the denormal range to zero.
    process (*p, silence (1, 64 * 2500), 64);
    EXPECT_EQ (p->inputEnergy[0], 0.0f);
    EXPECT_NE (std::fpclassify (p->outputEnergy[0]), FP_SUBNORMAL);
    const float held = p->autoGainFactors[0];
    EXPECT_TRUE (std::isfinite (held));

    // The first block back is ramped from the held factor, so its start stays quiet.
    const Signal back = process (*p, noise (1, 64 * 8, 0.3f, 24), 64);
    EXPECT_TRUE (allFinite (back));
    EXPECT_LE (std::abs (back[0][0]), 0.3f * 1.1f * 4.0f);
    EXPECT_LE (p->autoGainFactors[0], 1.1f);
}

TEST (ChainAutoGain, SwitchedOffItHoldsItsStateWhileTheInputEnergyTracks)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 256);
    process (*p, noise (2, 768, 0.3f, 25), 256);

    const auto outputEnergy = p->outputEnergy;
    const auto factors = p->autoGainFactors;
    const auto inputEnergy = p->inputEnergy;

    setParameter (*p, "AutoGain", 0.0f);
    process (*p, noise (2, 768, 0.6f, 26), 256);
    EXPECT_EQ (p->outputEnergy, outputEnergy);
    EXPECT_EQ (p->autoGainFactors, factors);
    EXPECT_NE (p->inputEnergy, inputEnergy);

    setParameter (*p, "AutoGain", 1.0f);
    process (*p, noise (2, 256, 0.6f, 27), 256);
    EXPECT_NE (p->outputEnergy, outputEnergy);
    for (float f : p->autoGainFactors)
        EXPECT_LE (f, 1.1f);
}

TEST (ChainToneMove, TheCellRampsFromExactlyTheOldToExactlyTheNewWeights)
{
    struct Case { double rate; int block; int blocksBefore; };
    // Model blocks of 1024, 1 and 2 samples.
    for (const auto& c : { Case { 48000.0, 512, 2 }, Case { 192000.0, 1, 64 }, Case { 192000.0, 2, 32 } })
    {
        SCOPED_TRACE (testing::Message() << c.rate << " Hz, " << c.block << " samples");
        auto p = makeProcessor (juce::AudioChannelSet::mono());
        p->prepareToPlay (c.rate, c.block);
        auto& subnet = p->highRateSubnet;
        auto& standard = p->standardRateSubnet;
        const bool high = p->useHighRateModel;
        const Eigen::MatrixXf oldIh = high ? subnet.ihWeights : standard.ihWeights;
        const Eigen::MatrixXf oldHh = high ? subnet.hhWeights : standard.hhWeights;
        const Eigen::MatrixXf oldKernel = high ? subnet.convKernel : standard.convKernel;
        const auto freshCell = high ? p->highRateGru : p->standardRateGru;
        const int m = p->modelBlockSize;

        const int total = (c.blocksBefore + 1) * c.block;
        const auto input = noise (1, total, 0.4f, 31)[0];
        process (*p, { std::vector<float> (input.begin(), input.begin() + c.blocksBefore * c.block) }, c.block);

        setParameter (*p, "Knob1", 0.75f);
        process (*p, { std::vector<float> (input.begin() + c.blocksBefore * c.block, input.end()) }, c.block);

        const Eigen::MatrixXf newIh = high ? subnet.ihWeights : standard.ihWeights;
        const Eigen::MatrixXf newHh = high ? subnet.hhWeights : standard.hhWeights;

        // The ramp the cell must have followed, built entry by entry.
        std::vector<Eigen::MatrixXf> ihSteps, hhSteps;
        Morvel::interpolateMatrix (oldIh, newIh, m, ihSteps);
        Morvel::interpolateMatrix (oldHh, newHh, m, hhSteps);

        // The new response is only queued in this block; the cell saw the old one.
        const int changeStart = c.blocksBefore * m;
        const auto ramp = [&] (int t) -> std::pair<const Eigen::MatrixXf&, const Eigen::MatrixXf&> {
            if (t < changeStart)
                return { oldIh, oldHh };
            const auto k = (size_t) std::min (t - changeStart, (int) ihSteps.size() - 1);
            return { ihSteps[k], hhSteps[k] };
        };
        const auto allOld = [&] (int) -> std::pair<const Eigen::MatrixXf&, const Eigen::MatrixXf&> { return { oldIh, oldHh }; };
        const auto newInBlock = [&] (int t) -> std::pair<const Eigen::MatrixXf&, const Eigen::MatrixXf&> {
            if (t < changeStart)
                return { oldIh, oldHh };
            return { newIh, newHh };
        };

        const Eigen::MatrixXf& actual = high ? p->highRateGru.hiddenState : p->standardRateGru.hiddenState;
        const auto expected = referenceHiddenState (*p, freshCell, oldKernel, input, ramp);
        const float error = (actual - expected).cwiseAbs().maxCoeff();
        EXPECT_LT (error, 1.0e-5f);

        // Against the alternatives: a one-sample block runs only the old weights; a
        // longer one must not (nor, with two samples, only the new ones). Where an
        // alternative ends in nearly the same state, the cell is held to the ramp by
        // being much closer to it than to the alternative.
        const auto withOld = referenceHiddenState (*p, freshCell, oldKernel, input, allOld);
        const auto expectCloserToRampThan = [&] (const Eigen::MatrixXf& alternative)
        {
            const float separation = (expected - alternative).cwiseAbs().maxCoeff();
            if (separation > 1.0e-6f)
            {
                EXPECT_LT (error, 0.1f * separation);
            }
        };

        if (m == 1)
        {
            EXPECT_LT ((actual - withOld).cwiseAbs().maxCoeff(), 1.0e-5f);
        }
        else
        {
            EXPECT_GT ((expected - withOld).cwiseAbs().maxCoeff(), 1.0e-6f);
            expectCloserToRampThan (withOld);
        }

        if (m == 2)
            expectCloserToRampThan (referenceHiddenState (*p, freshCell, oldKernel, input, newInBlock));
    }
}

TEST (ChainToneMove, TheNewResponseReachesTheEnginesInALaterBlock)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 512);
    const Signal input = noise (2, 512, 0.3f, 33);
    process (*p, input, 512);

    setParameter (*p, "Knob1", 0.05f);
    setParameter (*p, "Knob2", 0.95f);
    process (*p, input, 512);
    EXPECT_TRUE (p->responseLoader.isSetInFlight()); // handed to the engines' loader
    const Eigen::MatrixXf kernel = p->standardRateSubnet.convKernel;

    // The loader builds the response on its own thread; the chain adopts it at a
    // later block and cross-fades over 50 ms.
    bool adopted = false;
    for (int attempt = 0; attempt < 40 && ! adopted; ++attempt)
    {
        juce::Thread::sleep (50);
        process (*p, silence (2, 512 * 6), 512);
        adopted = engineHoldsKernel (*p, 0, kernel) && engineHoldsKernel (*p, 1, kernel);
    }
    EXPECT_TRUE (adopted);
}

TEST (ChainBlock, ABlockOfANewSizeCarriesOnWhileANewLayoutPreparesAgain)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (48000.0, 512);
    process (*p, noise (2, 1024, 0.5f, 41), 512);
    const Eigen::MatrixXf state = p->standardRateGru.hiddenState;
    ASSERT_FALSE (state.isZero (0.0f));

    // A shorter block runs on: the cell's state carries on, nothing is resized.
    process (*p, silence (2, 100), 100);
    EXPECT_EQ (p->blockSize, 512);
    EXPECT_EQ (p->modelBlockSize, 1024);
    EXPECT_FALSE (p->standardRateGru.hiddenState.isZero (0.0f));
    EXPECT_NE (p->standardRateGru.hiddenState, state);

    // A new channel layout cannot run on the old sizes: it prepares for the same
    // rate and largest block.
    const auto energies = p->inputEnergy;
    juce::AudioProcessor::BusesLayout mono;
    mono.inputBuses.add (juce::AudioChannelSet::mono());
    mono.outputBuses.add (juce::AudioChannelSet::mono());
    ASSERT_TRUE (p->setBusesLayout (mono));
    process (*p, silence (1, 64), 64);
    EXPECT_EQ (p->numInputChannels, 1);
    EXPECT_EQ (p->blockSize, 512);
    EXPECT_EQ (p->modelBuffer.getNumChannels(), 1);
    EXPECT_TRUE (p->standardRateGru.hiddenState.isZero (0.0f));
    EXPECT_EQ (p->inputEnergy[0], 0.95f * energies[0]); // kept, then updated by a silent block
}

TEST (ChainBlock, AtMixZeroTheNetworkStillRuns)
{
    auto p = makeProcessor (juce::AudioChannelSet::mono());
    setMixAndAutoGain (*p, 0.0f, false);
    p->prepareToPlay (48000.0, 512);
    process (*p, noise (1, 1024, 0.3f, 43), 512);
    EXPECT_FALSE (p->standardRateGru.hiddenState.isZero (0.0f));
}

TEST (ChainBadInput, NonFiniteSamplesBecomeSilenceAndLeaveNoTrace)
{
    const Signal clean = noise (2, 10 * 256, 0.3f, 51, true);
    Signal dirty = clean, sanitised = clean;

    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const struct { int ch, at; float value; float becomes; } injected[] = {
        { 0, 300, nan, 0.0f }, { 1, 301, inf, 0.0f }, { 0, 700, -inf, 0.0f },
        { 1, 1000, 1.0e30f, 1.0e6f }, { 0, 1001, -3.0e38f, -1.0e6f },
    };
    for (const auto& x : injected)
    {
        dirty[(size_t) x.ch][(size_t) x.at] = x.value;
        sanitised[(size_t) x.ch][(size_t) x.at] = x.becomes;
    }
    // A whole block of NaN on one channel.
    for (int i = 1536; i < 1792; ++i)
    {
        dirty[0][(size_t) i] = nan;
        sanitised[0][(size_t) i] = 0.0f;
    }

    auto a = makeProcessor (juce::AudioChannelSet::stereo());
    auto b = makeProcessor (juce::AudioChannelSet::stereo());
    a->prepareToPlay (48000.0, 256);
    b->prepareToPlay (48000.0, 256);

    const Signal fromDirty = process (*a, dirty, 256);
    EXPECT_TRUE (allFinite (fromDirty));
    expectIdentical (fromDirty, process (*b, sanitised, 256));

    for (size_t c = 0; c < 2; ++c)
    {
        EXPECT_TRUE (std::isfinite (a->inputEnergy[c]));
        EXPECT_TRUE (std::isfinite (a->outputEnergy[c]));
        EXPECT_TRUE (std::isfinite (a->autoGainFactors[c]));
    }
    EXPECT_TRUE (a->standardRateGru.hiddenState.allFinite());
    for (int i = 0; i < a->truePeakMeter.peakDb.size(); ++i)
        EXPECT_TRUE (std::isfinite (a->truePeakMeter.peakDb[i]));

    // Clean blocks afterwards sound as they do for a chain that never saw the bad ones.
    expectIdentical (process (*a, clean, 256), process (*b, clean, 256));
}

TEST (ChainBadInput, ParametersThatAreNotNumbersAreIgnored)
{
    auto p = makeProcessor (juce::AudioChannelSet::mono());
    p->prepareToPlay (48000.0, 256);
    process (*p, noise (1, 512, 0.3f, 52), 256);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (auto* raw : { p->knob1Raw, p->knob2Raw, p->inputGainRaw, p->outputGainRaw, p->mixRaw })
        raw->store (nan);

    const Signal out = process (*p, noise (1, 1024, 0.3f, 53), 256);
    EXPECT_TRUE (allFinite (out));
    EXPECT_TRUE (p->standardRateGru.hiddenState.allFinite());
    EXPECT_TRUE (p->standardRateSubnet.ihWeights.allFinite());
    EXPECT_TRUE (std::isfinite (p->previousInputGain));
    EXPECT_TRUE (std::isfinite (p->previousOutputGain));
}

TEST (ChainBadInput, MeaninglessPreparationArgumentsAndMismatchedBuffersAreSurvived)
{
    auto p = makeProcessor (juce::AudioChannelSet::stereo());

    // No rate keeps the last one; no block size still sizes the chain for a sample.
    for (double rate : { 0.0, -44100.0, 1.0, 1.0e-9, 999.0,
                         std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity() })
    {
        p->prepareToPlay (rate, 0);
        EXPECT_EQ (p->hostSampleRate, 48000.0);
        EXPECT_GE (p->modelBlockSize, 1);
    }
    p->prepareToPlay (44100.0, -3);
    EXPECT_EQ (p->hostSampleRate, 44100.0);
    EXPECT_EQ (p->modelBlockSize, 3);

    // Buffers with fewer or more channels than the prepared layout.
    for (int channels : { 1, 0, 5 })
    {
        juce::AudioBuffer<float> buffer (channels, 128);
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < 128; ++i)
                buffer.setSample (ch, i, 0.1f * std::sin (0.05f * (float) i));

        processOne (*p, buffer);
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < 128; ++i)
                ASSERT_TRUE (std::isfinite (buffer.getSample (ch, i)));
    }
}

TEST (ChainBadInput, EveryRateAndBlockSizeReadsOnlyItsOwnSamples)
{
    // Each block's samples sit between NaN guards: a read outside the block would
    // carry a NaN into the output, a write outside it would overwrite a guard.
    constexpr int guard = 16;
    const double rates[] = { 8000.0, 11025.0, 22050.0, 44100.0, 48000.0, 88200.0, 96000.0,
                             176400.0, 192000.0, 352800.0, 384000.0 };
    const int sizes[] = { 1, 2, 3, 7, 64, 441, 512, 1024, 4096, 8192, 441, 3, 1, 7, 2, 1024 };
    const float nan = std::numeric_limits<float>::quiet_NaN();

    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    std::mt19937 rng (61);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    juce::MidiBuffer midi;

    for (double rate : rates)
    {
        p->prepareToPlay (rate, 1024);

        for (int n : sizes)
        {
            for (int repeat = 0; repeat < 3; ++repeat)
            {
                std::vector<std::vector<float>> storage (2, std::vector<float> ((size_t) (n + 2 * guard), nan));
                float* channels[2];
                for (int ch = 0; ch < 2; ++ch)
                {
                    channels[ch] = storage[(size_t) ch].data() + guard;
                    for (int i = 0; i < n; ++i)
                        channels[ch][i] = dist (rng);
                }

                juce::AudioBuffer<float> buffer (channels, 2, n);
                p->processBlock (buffer, midi);

                for (int ch = 0; ch < 2; ++ch)
                {
                    for (int i = 0; i < n; ++i)
                        ASSERT_TRUE (std::isfinite (channels[ch][i])) << rate << " Hz, " << n << ", sample " << i;
                    for (int i = 0; i < guard; ++i)
                    {
                        ASSERT_TRUE (std::isnan (storage[(size_t) ch][(size_t) i]));
                        ASSERT_TRUE (std::isnan (storage[(size_t) ch][(size_t) (n + guard + i)]));
                    }
                }
            }
        }
    }
}

TEST (ChainLongRun, MinutesAt96kHzStayFiniteBoundedAndFreeOfDenormals)
{
    constexpr double rate = 96000.0;
    constexpr int n = 512;
    constexpr int seconds = 120;
    constexpr int blocks = (int) (seconds * rate) / n;

    auto p = makeProcessor (juce::AudioChannelSet::stereo());
    p->prepareToPlay (rate, n);

    std::mt19937 rng (71);
    std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
    juce::AudioBuffer<float> buffer (2, n);
    juce::MidiBuffer midi;
    float outputPeak = 0.0f;
    long subnormalOutputs = 0;
    double phase = 0.0;

    for (int b = 0; b < blocks; ++b)
    {
        // Ten-second scenes: noise, a sine, quiet noise, digital silence (the longest,
        // where every history decays towards the denormal range), with tone moves.
        const int scene = (b * n / (int) (10 * rate)) % 4;
        if (b % 1875 == 0)
            setParameter (*p, "Knob1", (float) ((b / 1875) % 20) * 0.05f);

        for (int i = 0; i < n; ++i)
        {
            phase += 2.0 * juce::MathConstants<double>::pi * 997.0 / rate;
            const float x = scene == 0 ? 0.5f * dist (rng)
                          : scene == 1 ? 0.7f * (float) std::sin (phase)
                          : scene == 2 ? 1.0e-4f * dist (rng)
                                       : 0.0f;
            buffer.setSample (0, i, x);
            buffer.setSample (1, i, -x);
        }

        p->processBlock (buffer, midi);

        for (int ch = 0; ch < 2; ++ch)
        {
            for (int i = 0; i < n; ++i)
            {
                const float y = buffer.getSample (ch, i);
                ASSERT_TRUE (std::isfinite (y)) << "block " << b;
                outputPeak = std::max (outputPeak, std::abs (y));
                subnormalOutputs += std::fpclassify (y) == FP_SUBNORMAL;
            }
        }
    }

    // The run ends in digital silence: nothing may linger in the denormal range.
    EXPECT_EQ (subnormalOutputs, 0);
    EXPECT_LT (outputPeak, 8.0f);
    for (size_t c = 0; c < 2; ++c)
    {
        EXPECT_NE (std::fpclassify (p->inputEnergy[c]), FP_SUBNORMAL);
        EXPECT_NE (std::fpclassify (p->outputEnergy[c]), FP_SUBNORMAL);
        EXPECT_TRUE (std::isfinite (p->autoGainFactors[c]));
    }
    const auto& h = p->highRateGru.hiddenState;
    for (Eigen::Index i = 0; i < h.size(); ++i)
        EXPECT_NE (std::fpclassify (h.data()[i]), FP_SUBNORMAL);
}

TEST (ChainLevel, AtTheDefaultsTheOutputKeepsTheInputsLevel)
{
    // The automatic gain matches the network's output energy to its input's, lifting
    // by 1.1 (+0.83 dB) at most: after half a second a steady sine comes out at
    // about the level it went in, at every rate class.
    for (double rate : { 44100.0, 48000.0, 96000.0, 192000.0 })
    {
        auto p = makeProcessor (juce::AudioChannelSet::stereo());
        p->prepareToPlay (rate, 512);

        const int total = (int) rate;
        Signal input = silence (2, total);
        for (int i = 0; i < total; ++i)
            input[0][(size_t) i] = input[1][(size_t) i] = 0.25f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 440.0 * i / rate);

        const Signal output = process (*p, input, 512);
        for (size_t ch = 0; ch < 2; ++ch)
        {
            const double levelDb = 10.0 * std::log10 (energy (output[ch], (size_t) total / 2) / energy (input[ch], (size_t) total / 2));
            EXPECT_GT (levelDb, -3.0) << rate << " Hz";
            EXPECT_LT (levelDb, 1.5) << rate << " Hz";
            if (ch == 0)
            {
                std::cout << "[ level ] " << rate << " Hz: " << levelDb << " dB against the input\n";
            }
        }
    }
}
