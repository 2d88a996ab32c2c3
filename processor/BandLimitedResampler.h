#pragma once

#include "processor/DotProduct.h"
#include "processor/ResamplingKernel.h"

#include <vector>

/**
    Converts one channel between two rates in a fixed ratio: inputStep input samples
    for every outputStep output samples, output k lying k * inputStep / outputStep input
    samples after the first input, less the kernel's delay. The position is kept in
    integers, so it never drifts, and it carries from block to block: however a stream
    is cut into blocks, the outputs are the same.

    Each output is a dot product of the kernel row for its fractional position with the
    last getTaps() input samples (two rows blended where it falls between rows). A call
    reads only the block's samples and the history carried from earlier blocks.
*/
class BandLimitedResampler
{
public:
    /**
        Uses `kernel` (which must outlive this object and not be redesigned while it
        is in use) at the ratio inputStep : outputStep, for blocks of up to
        maxInputSamples, and starts from silence at position 0.
        Preparation only: allocates.
    */
    void prepare (const ResamplingKernel& kernel, int inputStep, int outputStep, int maxInputSamples);

    /** Clears the history and the position: the next block starts as after preparation. */
    void reset() noexcept;

    /**
        Takes numInput samples (at most the prepared maximum; any beyond it are
        ignored) and produces numOutput samples. Only outputs that are due may be asked
        for: the input sample at an output's position must have arrived by the end of
        this block (it may also lie one sample before the block, in the history). The
        chain's counts never ask for more; a caller that does gets outputs computed from
        the nearest samples held, never a read outside the history. Before any
        preparation it writes silence.

        [audio thread] No allocation, no lock; about getTaps() multiply-adds per
        output, twice that where the output falls between two rows of the kernel.
    */
    void process (const float* input, int numInput, float* output, int numOutput) noexcept;

private:
    const ResamplingKernel* kernel = nullptr;
    const DotProduct* dot = &DotProduct::portable();
    int inputStep = 1;
    int outputStep = 1;
    int capacity = 0;

    // The next output's position: the newest input sample it reads, counted from the
    // next block's first sample, and the fraction beyond it in units of 1 / outputStep;
    // the same fraction as a phase row of the kernel and a remainder in units of
    // 1 / outputStep of a row; and its place in the kernel's cycle of tabulated
    // positions. All advance by additions, with no division per output.
    struct Position
    {
        int whole = 0;
        int fraction = 0;
        int row = 0;
        int rowRemainder = 0;
        int cycleIndex = 0;
    };

    Position next;
    int wholeStep = 0;
    int fractionStep = 0;
    int rowStep = 0;
    int rowRemainderStep = 0;

    void advance (Position& position) const noexcept;

    /** The last getTaps() input samples of earlier blocks, then the current block. */
    std::vector<float> line;
};
