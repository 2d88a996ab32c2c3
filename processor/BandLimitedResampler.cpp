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
    // Room for the history, the largest block, and the samples that an inner product
    // over a padded row reads beyond the newest one.
    line.assign ((size_t) (kernel->getTaps() + capacity + kernel->getStride() - kernel->getTaps()), 0.0f);

    const auto rowAdvance = (std::int64_t) (inputStep % outputStep) * kernel->getPhases();
    wholeStep = inputStep / outputStep;
    fractionStep = inputStep % outputStep;
    rowStep = (int) (rowAdvance / outputStep);
    rowRemainderStep = (int) (rowAdvance % outputStep);
    reset();
}

void BandLimitedResampler::reset() noexcept
{
    std::fill (line.begin(), line.end(), 0.0f);
    next = {};
}

void BandLimitedResampler::advance (Position& position) const noexcept
{
    position.whole += wholeStep;
    position.fraction += fractionStep;
    position.row += rowStep;
    position.rowRemainder += rowRemainderStep;

    if (position.rowRemainder >= outputStep)
    {
        position.rowRemainder -= outputStep;
        ++position.row;
    }

    if (position.fraction >= outputStep)
    {
        position.fraction -= outputStep;
        ++position.whole;
        position.row -= kernel->getPhases();
    }

    if (++position.cycleIndex >= kernel->getPositionCycle())
        position.cycleIndex = 0;
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
    const int stride = kernel->getStride();
    const int history = taps;
    numInput = std::clamp (numInput, 0, capacity);

    float* const data = line.data();
    std::copy (input, input + numInput, data + history);

    // The oldest sample an output reads lies taps - 1 before its newest one, which is
    // line[history + whole]; the history holds one sample more than a kernel needs,
    // for an output due one sample early.
    const bool tabulated = kernel->getPositionCycle() > 0;
    const float rowRemainderScale = 1.0f / (float) outputStep;
    Position position = next;

    // Where every output uses the same row (a whole-number ratio going down), four
    // outputs at a time share its loads.
    const bool oneRow = tabulated && kernel->getPositionCycle() == 1 && kernel->positionUnitTap (0) < 0;

    for (int j = 0; j < numOutput; ++j)
    {
        const float* samples = data + std::clamp (history + position.whole - (taps - 1), 0, history + numInput - taps);

        if (oneRow && j + 4 <= numOutput && history + position.whole + 3 * wholeStep < history + numInput)
        {
            dot->quad (kernel->positionRow (0), samples, wholeStep, stride, output + j);
            for (int m = 0; m < 3; ++m)
                advance (position);
            j += 3;
        }
        else if (tabulated)
        {
            const int unit = kernel->positionUnitTap (position.cycleIndex);
            output[j] = unit >= 0 ? samples[unit] : dot->single (kernel->positionRow (position.cycleIndex), samples, stride);
        }
        else if (position.rowRemainder != 0)
        {
            float here = 0.0f, following = 0.0f;
            dot->pair (kernel->row (position.row), kernel->row (position.row + 1), samples, stride, here, following);
            output[j] = here + (float) position.rowRemainder * rowRemainderScale * (following - here);
        }
        else if (const int unit = kernel->unitTap (position.row); unit >= 0)
        {
            output[j] = samples[unit];
        }
        else
        {
            output[j] = dot->single (kernel->row (position.row), samples, stride);
        }

        advance (position);
    }

    position.whole -= numInput;
    next = position;

    // Keep the newest `history` samples; for blocks shorter than that the ranges overlap.
    std::memmove (data, data + numInput, sizeof (float) * (size_t) history);
}
