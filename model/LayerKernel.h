#pragma once

// Free of Eigen and of the standard library for the same reason as CellStepKernel.h: the
// translation unit built for AVX2 includes it.

namespace Morvel
{

/**
    One fully connected layer of the hypernetwork, out = x * weights + bias, optionally
    followed by LeakyReLU, on raw storage: a version for particular instruction sets, and
    the choice at run time. Where none applies, Subnet evaluates the layer with Eigen.
*/
struct LayerKernel
{
    /** The layer's storage. `weights` is inputs x outputs, row-major (input i's weights to
        all outputs are contiguous); `bias` and `out` hold `outputs` floats. */
    struct Layer
    {
        const float* x;
        const float* weights;
        const float* bias;
        float* out;
        int inputs;
        int outputs;
        bool leaky;         // then out = max(v, v * leakySlope) of v = x * weights + bias
        float leakySlope;
    };

    using Function = void (*) (const Layer&) noexcept;

    /** The fastest layer evaluation this processor has, or nullptr where Subnet's portable
        code must do the work. Cheap enough to ask for every layer. */
    static Function select() noexcept;

    /** For tests and measurements: true makes select() answer nullptr on any processor;
        false restores the normal choice. */
    static void forcePortable (bool portableOnly) noexcept;

    /** With AVX2 and FMA, eight outputs to a vector; only for processors that have both. */
    static void evaluateAvx2 (const Layer& layer) noexcept;
};

} // namespace Morvel
