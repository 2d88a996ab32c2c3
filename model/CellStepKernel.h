#pragma once

// Deliberately free of Eigen and of the standard library: this header is also compiled
// into the translation unit built for AVX2, which must not define any inline function
// that other translation units define too (the linker could keep the AVX2 copy for all).

namespace Morvel
{

/**
    The recurrent step of HyperGRU<float, 1, 1, 8> on raw column-major storage, in
    versions for particular instruction sets, and the choice among them at run time.

    The plug-in itself is built for the x86-64 baseline, so that it runs on every
    processor and under translation layers; the step, which runs once per sample at
    the model rate, picks a faster version where the processor has one.
*/
struct CellStepKernel
{
    static constexpr int hiddenSize = 8;
    static constexpr int gateWidth = 3 * hiddenSize;

    /** The cell's matrices as column-major arrays with `rows` rows (the row count of
        the hidden state), the weights in their own layouts (1 x 24, 8 x 24, 8 x 1). */
    struct Buffers
    {
        const float* input;          // rows x 1
        const float* inputWeights;   // 1 x 24
        const float* hiddenWeights;  // 8 x 24
        const float* outputWeights;  // 8 x 1
        float* hiddenState;          // rows x 8, read and then overwritten
        float* output;               // rows x 1
        float* resetGate;            // rows x 8
        float* updateGate;           // rows x 8
        float* candidateState;       // rows x 8
        float* inputGates;           // rows x 24
        float* hiddenGates;          // rows x 24
        long rows;
    };

    using Function = void (*) (const Buffers&) noexcept;

    /** A weight ramp across a run of steps: see Block::ramp. */
    struct Ramp
    {
        const float* stepInputWeights;   // 1 x 24: (end - start) / (lastEntry)
        const float* stepHiddenWeights;  // 8 x 24
        const float* endInputWeights;    // 1 x 24
        const float* endHiddenWeights;   // 8 x 24
        long lastEntry;
        float* entryInputWeights;        // scratch, 24 floats
        float* entryHiddenWeights;       // scratch, 192 floats
    };

    /**
        A run of steps, as the processor drives the cell: before
        step t, row c's input is sample t of channel c, and the row's output replaces it.
        The fields of `step` hold the last step's values afterwards, as after single steps;
        `inputs` (rows) takes each step's inputs and stands in for `step.input`.
    */
    struct Block
    {
        Buffers step;
        float* inputs;
        float* const* channels;      // rows channel pointers
        long firstSample;
        long count;

        /**
            With a weight ramp, step t uses entry e = min(t, lastEntry) of the ramp that
            starts at the step's weights: e = 0 those weights, e = lastEntry the end
            weights, otherwise stepWeights * e + start weights (multiply, then add), the
            numbers of the weight ramp built entry by entry. nullptr: no ramp.
        */
        const Ramp* ramp = nullptr;
    };


    using BlockFunction = void (*) (const Block&) noexcept;

    /** The fastest step this processor can run, or nullptr when none applies and the
        cell's portable code must do the work. Cheap enough to ask on every step. */
    static Function select() noexcept;

    /** The fastest run of steps this processor has, or nullptr (as select()). */
    static BlockFunction selectBlock() noexcept;

    /** For tests and measurements: true makes select() answer nullptr, so that the
        portable code runs on any processor; false restores the normal choice. */
    static void forcePortable (bool portableOnly) noexcept;

    /** For tests and measurements: true keeps selectBlock() from answering the AVX-512
        run, so that the AVX2 run is tested on a processor that has both. */
    static void forbidAvx512 (bool forbidden) noexcept;

    /** The step with AVX2 and FMA instructions; only for processors that have both. */
    static void stepAvx2 (const Buffers& buffers) noexcept;

    /** A run of steps with AVX2 and FMA: the weights are arranged once for the run, and
        one or two rows keep their hidden state in registers from step to step. */
    static void runAvx2 (const Block& block) noexcept;

    /** A run of steps with AVX-512F (and AVX2 and FMA): three to sixteen rows take one
        packet of sixteen lanes, their hidden state in registers for the whole run; one
        or two rows go to runAvx2. Only for processors that have all three. */
    static void runAvx512 (const Block& block) noexcept;
};

} // namespace Morvel
