// The convolution as the chain runs it (the engines prepared for chunks of the model
// block and driven by convolveInChunks, on whichever transform this build uses) against
// the framework's engine driven the plain way (prepared for the whole model block, one
// call per block) and against a double-precision direct convolution.

#include "ChainTestSupport.h"

#include <gtest/gtest.h>

using namespace chaintest;

namespace
{
double rms (const std::vector<double>& x)
{
    double sum = 0.0;
    for (double v : x)
        sum += v * v;
    return std::sqrt (sum / (double) std::max<size_t> (1, x.size()));
}

/** Level of a - b relative to the level of b, in dB. */
double differenceDb (const std::vector<float>& a, const std::vector<double>& b)
{
    std::vector<double> difference (b.size());
    for (size_t i = 0; i < b.size(); ++i)
        difference[i] = (double) a[i] - b[i];
    return 20.0 * std::log10 (rms (difference) / rms (b));
}

std::vector<double> toDouble (const std::vector<float>& x) { return { x.begin(), x.end() }; }

std::vector<double> directConvolution (const std::vector<float>& x, const std::vector<float>& response)
{
    std::vector<double> y (x.size(), 0.0);
    for (size_t n = 0; n < x.size(); ++n)
        for (size_t k = 0; k < response.size() && k <= n; ++k)
            y[n] += (double) response[k] * (double) x[n - k];
    return y;
}

/** The framework's engine prepared for the whole model block, one call per block. */
std::vector<float> plainEngine (const std::vector<float>& x, const std::vector<float>& response, double rate, int modelBlock)
{
    juce::dsp::Convolution engine;
    juce::AudioBuffer<float> ir (1, (int) response.size());
    ir.copyFrom (0, 0, response.data(), (int) response.size());
    engine.loadImpulseResponse (std::move (ir), rate, juce::dsp::Convolution::Stereo::no, juce::dsp::Convolution::Trim::no,
                                juce::dsp::Convolution::Normalise::no);
    engine.prepare ({ rate, (juce::uint32) modelBlock, 1 });
    engine.reset();

    std::vector<float> y = x;
    for (size_t start = 0; start + (size_t) modelBlock <= y.size(); start += (size_t) modelBlock)
    {
        float* channel = y.data() + start;
        juce::dsp::AudioBlock<float> block (&channel, 1, (size_t) modelBlock);
        engine.process (juce::dsp::ProcessContextReplacing<float> (block));
    }
    return y;
}

/** The processor's own engine for channel 0, as prepared, driven as the chain drives it. */
std::vector<float> chainEngine (MorvelAudioProcessor& p, const std::vector<float>& x)
{
    const int modelBlock = p.modelBlockSize;
    const int chunk = MorvelAudioProcessor::convolutionChunkSize (modelBlock, p.irLength);
    int phase = 0;

    std::vector<float> y = x;
    for (size_t start = 0; start + (size_t) modelBlock <= y.size(); start += (size_t) modelBlock)
    {
        float* channel = y.data() + start;
        MorvelAudioProcessor::convolveInChunks (p.convolvers[0], juce::dsp::AudioBlock<float> (&channel, 1, (size_t) modelBlock),
                                                chunk, phase);
        phase = (phase + modelBlock) % chunk;
    }
    return y;
}
} // namespace

TEST (ConvolutionEquivalence, TheChainsEnginesMatchTheFrameworksPlainEngineWithin120dB)
{
#if JUCE_DSP_USE_STATIC_FFTW
    std::cout << "[ transform ] FFTW\n";
#else
    std::cout << "[ transform ] the framework's portable FFT\n";
#endif
    struct Case { double rate; int block; };
    for (const auto& c : { Case { 48000.0, 512 }, Case { 44100.0, 512 }, Case { 96000.0, 512 }, Case { 88200.0, 1024 },
                           Case { 48000.0, 64 }, Case { 44100.0, 100 }, Case { 48000.0, 2048 } })
    {
        SCOPED_TRACE (testing::Message() << c.rate << " Hz, " << c.block << " samples");
        auto p = makeProcessor (juce::AudioChannelSet::mono());
        p->prepareToPlay (c.rate, c.block);

        const auto& kernel = p->useHighRateModel ? p->highRateSubnet.convKernel : p->standardRateSubnet.convKernel;
        std::vector<float> response ((size_t) kernel.cols());
        for (size_t j = 0; j < response.size(); ++j)
            response[j] = kernel (0, (Eigen::Index) (response.size() - 1 - j));

        const int blocks = std::max (4, 12000 / p->modelBlockSize);
        const auto x = noise (1, blocks * p->modelBlockSize, 0.5f, 61)[0];

        const auto exact = directConvolution (x, response);
        const auto plain = plainEngine (x, response, p->modelRate, p->modelBlockSize);
        const auto chain = chainEngine (*p, x);

        EXPECT_LT (differenceDb (chain, toDouble (plain)), -120.0);
        EXPECT_LT (differenceDb (chain, exact), -120.0);
        EXPECT_LT (differenceDb (plain, exact), -120.0) << "the yardstick itself";
    }
}
