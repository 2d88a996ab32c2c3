#pragma once

#include <algorithm>
#include <cstddef>

/**
    One block of a rate conversion whose positions are all tabulated: the kernel's
    table of exact rows, and for each position of its cycle the unit tap (or -1) and the
    whole input samples to the next position; the channels' input lines (each the
    history, then the block), the outputs and where the walk starts.

    walkTabulated() is the converter's inner loop. It is a template over the inner
    products so that each instruction set compiles it whole, with its products inlined:
    with short kernels, a call per output would cost more than the arithmetic.
*/
struct TabulatedWalk
{
    const float* table;
    int stride;
    int taps;
    const int* unitTaps;
    const int* advances;
    int cycle;

    const float* lines;
    int lineLength;
    int numInput;
    int numChannels;
    float* const* outputs;
    int numOutput;

    /** Newest input sample of the next output, counted from the block's first one, and its place in the cycle. */
    int whole;
    int cycleIndex;
};

/**
    Runs the walk and leaves whole and cycleIndex at the next output. Products::shared
    (a, b, bChannelStride, channels, n, sums) and Products::quad (a, b, bStep, n, sums)
    are the inner products, as DotProduct describes them; Products::sharedFixed<count>
    is shared() for a channel count known when compiling.
*/
template <typename Products>
void walkTabulated (TabulatedWalk& w) noexcept
{
    // Where every output uses the same row (a whole-number ratio going down), four
    // outputs at a time share its loads.
    const bool oneRow = w.cycle == 1 && w.unitTaps[0] < 0;
    const auto apart = (std::size_t) w.lineLength;

    // An output reads the taps samples up to its newest one, which is line[taps + whole];
    // the line holds one sample more than a kernel needs, for an output due one sample
    // early. An output asked for too early reads the nearest samples held.
    const auto samplesFor = [&w] (int whole) { return w.lines + std::clamp (whole + 1, 0, w.numInput); };

    const auto applyRow = [&] (const float* row, const float* samples, int j)
    {
        constexpr int group = 4;
        float sums[group];

        if (w.numChannels == 2)
        {
            Products::template sharedFixed<2> (row, samples, w.lineLength, w.stride, sums);
            w.outputs[0][j] = sums[0];
            w.outputs[1][j] = sums[1];
            return;
        }

        for (int first = 0; first < w.numChannels; first += group)
        {
            const int count = std::min (group, w.numChannels - first);
            Products::shared (row, samples + (std::size_t) first * apart, w.lineLength, count, w.stride, sums);
            for (int c = 0; c < count; ++c)
                w.outputs[first + c][j] = sums[c];
        }
    };

    int whole = w.whole;
    int k = w.cycleIndex;

    for (int j = 0; j < w.numOutput;)
    {
        const float* samples = samplesFor (whole);

        if (oneRow && j + 4 <= w.numOutput && whole + 3 * w.advances[0] < w.numInput)
        {
            for (int c = 0; c < w.numChannels; ++c)
                Products::quad (w.table, samples + (std::size_t) c * apart, w.advances[0], w.stride, w.outputs[c] + j);
            whole += 4 * w.advances[0];
            j += 4;
            continue;
        }

        if (const int unit = w.unitTaps[k]; unit >= 0)
        {
            for (int c = 0; c < w.numChannels; ++c)
                w.outputs[c][j] = samples[(std::size_t) c * apart + (std::size_t) unit];
        }
        else
        {
            applyRow (w.table + (std::size_t) k * (std::size_t) w.stride, samples, j);
        }

        whole += w.advances[k];
        k = k + 1 < w.cycle ? k + 1 : 0;
        ++j;
    }

    w.whole = whole;
    w.cycleIndex = k;
}
