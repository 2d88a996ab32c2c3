#include "processor/BandLimitedResampler.h"

#include <Eigen/Core>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace
{
float dot (const float* a, const float* b, int n) noexcept
{
    return Eigen::Map<const Eigen::VectorXf> (a, n).dot (Eigen::Map<const Eigen::VectorXf> (b, n));
}
} // namespace

void BandLimitedResampler::prepare (const ResamplingKernel& newKernel, int newInputStep, int newOutputStep, int maxInputSamples)
{
    kernel = &newKernel;
    inputStep = std::max (1, newInputStep);
    outputStep = std::max (1, newOutputStep);
    capacity = std::max (0, maxInputSamples);
    line.assign ((size_t) (kernel->getTaps() + capacity), 0.0f);
    reset();
}

void BandLimitedResampler::reset() noexcept
{
    std::fill (line.begin(), line.end(), 0.0f);
    nextWhole = 0;
    nextFraction = 0;
}

void BandLimitedResampler::process (const float* input, int numInput, float* output, int numOutput) noexcept
{
    if (numOutput <= 0 && numInput <= 0)
        return;

    if (kernel == nullptr)
    {
        std::fill (output, output + std::max (0, numOutput), 0.0f);
        return;
    }

    const int taps = kernel->getTaps();
    const int history = taps;
    numInput = std::clamp (numInput, 0, capacity);

    float* const data = line.data();
    std::copy (input, input + numInput, data + history);

    // The oldest sample an output reads lies taps - 1 before its newest one, which is
    // line[history + whole]; the history holds one sample more than a kernel needs,
    // for an output due one sample early.
    const auto phases = (std::int64_t) kernel->getPhases();
    const auto step = (std::int64_t) outputStep;
    int whole = nextWhole;
    int fraction = nextFraction;

    for (int j = 0; j < numOutput; ++j)
    {
        const auto scaled = (std::int64_t) fraction * phases;
        const auto row = (int) (scaled / step);
        const auto remainder = scaled % step;

        const float* samples = data + std::clamp (history + whole - (taps - 1), 0, history + numInput - taps);
        float y = dot (kernel->row (row), samples, taps);

        if (remainder != 0)
        {
            const float blend = (float) ((double) remainder / (double) step);
            y += blend * (dot (kernel->row (row + 1), samples, taps) - y);
        }

        output[j] = y;

        fraction += inputStep;
        whole += fraction / outputStep;
        fraction %= outputStep;
    }

    nextWhole = whole - numInput;
    nextFraction = fraction;

    // Keep the newest `history` samples; for blocks shorter than that the ranges overlap.
    std::memmove (data, data + numInput, sizeof (float) * (size_t) history);
}
