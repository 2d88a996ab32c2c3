#include "processor/BandLimitedResampler.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

void BandLimitedResampler::prepare (const ResamplingKernel& newKernel, int newInputStep, int newOutputStep, int maxInputSamples)
{
    kernel = &newKernel;
    dot = &DotProduct::fastest();
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

        if (remainder != 0)
        {
            float here = 0.0f, next = 0.0f;
            dot->pair (kernel->row (row), kernel->row (row + 1), samples, taps, here, next);
            const float blend = (float) ((double) remainder / (double) step);
            output[j] = here + blend * (next - here);
        }
        else if (const int unit = kernel->unitTap (row); unit >= 0)
        {
            output[j] = samples[unit];
        }
        else
        {
            output[j] = dot->single (kernel->row (row), samples, taps);
        }

        fraction += inputStep;
        whole += fraction / outputStep;
        fraction %= outputStep;
    }

    nextWhole = whole - numInput;
    nextFraction = fraction;

    // Keep the newest `history` samples; for blocks shorter than that the ranges overlap.
    std::memmove (data, data + numInput, sizeof (float) * (size_t) history);
}
