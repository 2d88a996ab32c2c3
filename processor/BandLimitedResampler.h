#pragma once

#include "processor/ResamplingKernel.h"

#include <vector>

/**
    Converts one channel between two rates block by block, with the exact counts that
    the chain ties to its blocks: each call turns numInput samples into numOutput
    samples, the ratio numInput / numOutput holding exactly for that block. Output j of
    a block lies j * numInput / numOutput input samples after the block's first sample,
    less the kernel's delay; the position is worked out in integers, so no phase drifts
    from block to block and a block of any size starts where the last one ended.

    Each output is a dot product of the kernel row for its fractional position with the
    last getTaps() input samples (two rows blended where it falls between rows). A call
    reads only the block's samples and the history carried from earlier blocks.
*/
class BandLimitedResampler
{
public:
    /**
        Uses `kernel` (which must outlive this object and not be redesigned while it
        is in use) for blocks of up to maxInputSamples, and clears the history.
        Preparation only: allocates.
    */
    void prepare (const ResamplingKernel& kernel, int maxInputSamples);

    /** Clears the history: the next block starts as after silence. */
    void reset() noexcept;

    /**
        Produces numOutput samples from numInput input samples (at most the prepared
        maximum; any beyond it are ignored). Before any preparation it writes silence.

        [audio thread] No allocation, no lock; about getTaps() multiply-adds per
        output, twice that where the output falls between two rows of the kernel.
    */
    void process (const float* input, int numInput, float* output, int numOutput) noexcept;

private:
    const ResamplingKernel* kernel = nullptr;
    int capacity = 0;

    /** The last getTaps() - 1 input samples of earlier blocks, then the current block. */
    std::vector<float> line;
};
