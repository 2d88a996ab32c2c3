#include "processor/BandLimitedResampler.h"
#include "processor/TabulatedWalk.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>

void BandLimitedResampler::prepare (const ResamplingKernel& newKernel, int newInputStep, int newOutputStep, int maxInputSamples,
                                    int maxChannels, const DotProduct& products)
{
    kernel = &newKernel;
    dot = &products;
    inputStep = std::max (1, newInputStep);
    outputStep = std::max (1, newOutputStep);
    capacity = std::max (0, maxInputSamples);
    channels = std::max (0, maxChannels);
    // Room for the history, the largest block, and the samples that an inner product
    // over a padded row reads beyond the newest one.
    lineLength = kernel->getTaps() + capacity + kernel->getStride() - kernel->getTaps();
    lines.assign ((size_t) lineLength * (size_t) channels, 0.0f);

    const auto rowAdvance = (std::int64_t) (inputStep % outputStep) * kernel->getPhases();
    wholeStep = inputStep / outputStep;
    fractionStep = inputStep % outputStep;
    rowStep = (int) (rowAdvance / outputStep);
    rowRemainderStep = (int) (rowAdvance % outputStep);
    extraDelay = 0;
    start = {};
    reset();
}

void BandLimitedResampler::reset() noexcept
{
    std::fill (lines.begin(), lines.end(), 0.0f);
    next = start;
}

void BandLimitedResampler::setExtraDelay (int units) noexcept
{
    // The positions a conversion visits are the multiples of the ratio's common divisor.
    const int divisor = std::gcd (inputStep, outputStep);
    extraDelay = std::clamp (units, 0, outputStep - 1) / divisor * divisor;
    start = positionBefore (extraDelay);
    reset();
}

BandLimitedResampler::Position BandLimitedResampler::positionBefore (int units) const noexcept
{
    if (units == 0)
        return {};

    Position position;
    position.whole = -1;
    position.fraction = outputStep - units;
    const auto rows = (std::int64_t) position.fraction * (kernel != nullptr ? kernel->getPhases() : 1);
    position.row = (int) (rows / outputStep);
    position.rowRemainder = (int) (rows % outputStep);

    // The tabulated output whose fraction this is: output k lies at the fraction
    // (k inputStep mod outputStep) / outputStep.
    const int cycle = kernel != nullptr ? kernel->getPositionCycle() : 0;
    for (int k = 0; k < cycle; ++k)
    {
        if ((std::int64_t) k * inputStep % outputStep == position.fraction)
        {
            position.cycleIndex = k;
            break;
        }
    }

    return position;
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
}

void BandLimitedResampler::writeBlock (const float* const* inputs, int numChannels, int numInput) noexcept
{
    const int history = kernel->getTaps();

    for (int c = 0; c < channels; ++c)
    {
        float* block = lines.data() + (std::size_t) c * (std::size_t) lineLength + history;

        if (c < numChannels)
            std::copy (inputs[c], inputs[c] + numInput, block);
        else
            std::fill (block, block + numInput, 0.0f);
    }
}

void BandLimitedResampler::keepHistory (int numInput) noexcept
{
    // Keep the newest `history` samples; for blocks shorter than that the ranges overlap.
    const int history = kernel->getTaps();

    for (int c = 0; c < channels; ++c)
    {
        float* line = lines.data() + (std::size_t) c * (std::size_t) lineLength;
        std::memmove (line, line + numInput, sizeof (float) * (size_t) history);
    }
}

void BandLimitedResampler::process (const float* const* inputs, int numChannels, int numInput, float* const* outputs,
                                    int numOutput) noexcept
{
    if (numOutput <= 0 && numInput <= 0)
        return;

    if (kernel == nullptr)
    {
        for (int c = 0; c < numChannels; ++c)
            std::fill (outputs[c], outputs[c] + std::max (0, numOutput), 0.0f);
        return;
    }

    numInput = std::clamp (numInput, 0, capacity);
    numChannels = std::clamp (numChannels, 0, channels);
    writeBlock (inputs, numChannels, numInput);

    const Block block { numChannels, numInput, outputs, std::max (0, numOutput) };
    if (kernel->getPositionCycle() > 0)
        convertTabulated (block);
    else
        convertBlended (block);

    next.whole -= numInput;
    keepHistory (numInput);
}

const float* BandLimitedResampler::newestSamples (const Block& block, int whole) const noexcept
{
    // The oldest sample an output reads lies taps - 1 before its newest one, which is
    // line[history + whole]; the history holds one sample more than a kernel needs, for
    // an output due one sample early. An output asked for too early reads the nearest
    // samples held, never outside the line.
    const int taps = kernel->getTaps();
    const int history = taps;
    return lines.data() + std::clamp (history + whole - (taps - 1), 0, history + block.numInput - taps);
}

void BandLimitedResampler::applyRow (const Block& block, const float* row, const float* samples, int j) const noexcept
{
    // The channels' outputs j from one row, read once for all of them.
    float sums[maxSharedChannels];

    for (int first = 0; first < block.numChannels; first += maxSharedChannels)
    {
        const int count = std::min (maxSharedChannels, block.numChannels - first);
        dot->shared (row, samples + (std::size_t) first * (std::size_t) lineLength, lineLength, count, kernel->getStride(), sums);

        for (int c = 0; c < count; ++c)
            block.outputs[first + c][j] = sums[c];
    }
}

void BandLimitedResampler::copyTap (const Block& block, const float* samples, int unit, int j) const noexcept
{
    for (int c = 0; c < block.numChannels; ++c)
        block.outputs[c][j] = samples[(std::size_t) c * (std::size_t) lineLength + (std::size_t) unit];
}

void BandLimitedResampler::convertTabulated (const Block& block) noexcept
{
    // Each position of the cycle has its exact row, its unit tap if any and the whole
    // samples to the next output, so the loop is a table walk.
    TabulatedWalk walk { kernel->positionRow (0), kernel->getStride(), kernel->getTaps(), &kernel->positionUnitTap (0),
                         &kernel->positionAdvance (0), kernel->getPositionCycle(),
                         lines.data(), lineLength, block.numInput, block.numChannels, block.outputs, block.numOutput,
                         next.whole, next.cycleIndex };
    dot->walk (walk);
    next.whole = walk.whole;
    next.cycleIndex = walk.cycleIndex;
}

void BandLimitedResampler::convertBlended (const Block& block) noexcept
{
    const float rowRemainderScale = 1.0f / (float) outputStep;
    Position position = next;

    for (int j = 0; j < block.numOutput; ++j)
    {
        const float* samples = newestSamples (block, position.whole);

        if (position.rowRemainder != 0)
        {
            const float fraction = (float) position.rowRemainder * rowRemainderScale;
            for (int c = 0; c < block.numChannels; ++c)
            {
                float here = 0.0f, following = 0.0f;
                dot->pair (kernel->row (position.row), kernel->row (position.row + 1),
                           samples + (std::size_t) c * (std::size_t) lineLength, kernel->getStride(), here, following);
                block.outputs[c][j] = here + fraction * (following - here);
            }
        }
        else if (const int unit = kernel->unitTap (position.row); unit >= 0)
        {
            copyTap (block, samples, unit, j);
        }
        else
        {
            applyRow (block, kernel->row (position.row), samples, j);
        }

        advance (position);
    }

    next = position;
}
