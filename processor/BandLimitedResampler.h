#pragma once

#include "processor/DotProduct.h"
#include "processor/ResamplingKernel.h"

#include <vector>

/**
    Converts a group of channels between two rates in a fixed ratio: inputStep input
    samples for every outputStep output samples, output k lying k * inputStep /
    outputStep input samples after the first input, less the kernel's delay and any
    extra delay (setExtraDelay). The position is kept in integers, so it never drifts,
    and it carries from block to block: however a stream is cut into blocks, the
    outputs are the same.

    Each output is a dot product of the kernel row for its fractional position with the
    last getTaps() input samples of its channel (two rows blended where it falls between
    rows). All channels share the position, so every row is read once for all of them:
    the tables of a fractional ratio are too large to stay in the nearest cache, and
    reading them once per channel would cost more than the arithmetic. Each channel's
    outputs are exactly those it would get converted on its own. A call reads only the
    block's samples and the history carried from earlier blocks.
*/
class BandLimitedResampler
{
public:
    /**
        Uses `kernel` (which must outlive this object and not be redesigned while it
        is in use) at the ratio inputStep : outputStep, for blocks of up to
        maxInputSamples in up to maxChannels channels, and starts from silence at
        position 0. The inner products are the fastest this processor runs unless
        others are given. Preparation only: allocates.
    */
    void prepare (const ResamplingKernel& kernel, int inputStep, int outputStep, int maxInputSamples, int maxChannels = 1,
                  const DotProduct& products = DotProduct::fastest());

    /** Clears the history and the position: the next block starts as after preparation. */
    void reset() noexcept;

    /**
        Delays every output by `units` / outputStep of an input sample beyond the
        kernel's delay (0 to outputStep - 1; a multiple of the ratio's common divisor,
        or it is taken down to one): output k then lies (k inputStep - units) /
        outputStep input samples after the first input. The outputs take positions
        that the conversion visits anyway, so the tabulated rows serve them, and the
        kernel stays whole: what it reads reaches at most one sample further back,
        which the history holds. Starts from silence, as reset() does. Preparation
        only.
    */
    void setExtraDelay (int units) noexcept;

    /** The extra delay in force, in units of 1 / outputStep of an input sample. */
    int getExtraDelay() const noexcept { return extraDelay; }

    /**
        Takes numInput samples of each of the first numChannels channels (at most the
        prepared numbers; any beyond them are ignored) and produces numOutput samples of
        each. Prepared channels left out hear silence in this block. Only outputs that are due may be asked
        for: the input sample at an output's position must have arrived by the end of
        this block (it may also lie one sample before the block, in the history). The
        chain's counts never ask for more; a caller that does gets outputs computed from
        the nearest samples held, never a read outside the history. Before any
        preparation it writes silence.

        [audio thread] No allocation, no lock; about getTaps() multiply-adds per
        output, twice that where the output falls between two rows of the kernel.
    */
    void process (const float* const* inputs, int numChannels, int numInput, float* const* outputs, int numOutput) noexcept;

    /** The first channel alone. */
    void process (const float* input, int numInput, float* output, int numOutput) noexcept
    {
        process (&input, 1, numInput, &output, numOutput);
    }

private:
    const ResamplingKernel* kernel = nullptr;
    const DotProduct* dot = &DotProduct::portable();
    int inputStep = 1;
    int outputStep = 1;
    int capacity = 0;
    int channels = 0;
    int lineLength = 0;

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

    // The extra delay in units of 1 / outputStep of an input sample, and where the
    // first output lies after a reset: position 0, less that delay.
    int extraDelay = 0;
    Position start;

    Position positionBefore (int units) const noexcept;

    /** One call's channels, input count and outputs. */
    struct Block
    {
        int numChannels;
        int numInput;
        float* const* outputs;
        int numOutput;
    };

    static constexpr int maxSharedChannels = 16;
    int wholeStep = 0;
    int fractionStep = 0;
    int rowStep = 0;
    int rowRemainderStep = 0;

    void advance (Position& position) const noexcept;

    /** Per channel, lineLength apart: the last getTaps() input samples of earlier blocks, then the current block. */
    std::vector<float> lines;

    void writeBlock (const float* const* inputs, int numChannels, int numInput) noexcept;
    void convertTabulated (const Block& block) noexcept;
    void convertBlended (const Block& block) noexcept;
    const float* newestSamples (const Block& block, int whole) const noexcept;
    void applyRow (const Block& block, const float* row, const float* samples, int j) const noexcept;
    void copyTap (const Block& block, const float* samples, int unit, int j) const noexcept;
    void keepHistory (int numInput) noexcept;
};
