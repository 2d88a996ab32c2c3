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

void BandLimitedResampler::prepare (const ResamplingKernel& newKernel, int maxInputSamples)
{
    kernel = &newKernel;
    capacity = std::max (0, maxInputSamples);
    line.assign ((size_t) (kernel->getTaps() - 1 + capacity), 0.0f);
}

void BandLimitedResampler::reset() noexcept
{
    std::fill (line.begin(), line.end(), 0.0f);
}

void BandLimitedResampler::process (const float* input, int numInput, float* output, int numOutput) noexcept
{
    if (numOutput <= 0)
        return;

    if (kernel == nullptr)
    {
        std::fill (output, output + numOutput, 0.0f);
        return;
    }

    const int taps = kernel->getTaps();
    const int history = taps - 1;
    numInput = std::clamp (numInput, 0, capacity);

    float* const data = line.data();
    std::copy (input, input + numInput, data + history);

    // Output j lies at input position j * numInput / numOutput: its whole part picks
    // the newest sample read, its fraction, in units of 1 / (phases * numOutput), the
    // kernel row and the blend towards the next row. line[whole] is the oldest sample
    // read, taps - 1 samples before the newest.
    const auto phases = (std::int64_t) kernel->getPhases();
    const auto outputs = (std::int64_t) numOutput;

    for (int j = 0; j < numOutput; ++j)
    {
        const auto position = (std::int64_t) j * numInput;
        const auto whole = (int) (position / outputs);
        const auto scaledFraction = (position % outputs) * phases;
        const auto row = (int) (scaledFraction / outputs);
        const auto remainder = scaledFraction % outputs;

        const float* samples = data + whole;
        float y = dot (kernel->row (row), samples, taps);

        if (remainder != 0)
        {
            const float blend = (float) ((double) remainder / (double) outputs);
            y += blend * (dot (kernel->row (row + 1), samples, taps) - y);
        }

        output[j] = y;
    }

    // Keep the newest taps - 1 samples; for blocks shorter than that the ranges overlap.
    std::memmove (data, data + numInput, sizeof (float) * (size_t) history);
}
