#pragma once

struct TabulatedWalk;

/**
    The inner products of the rate converters, in the fastest version that the
    processor running the program supports: AVX2 with FMA where present, otherwise the
    portable one (Eigen's vectorised dot product for the build's baseline). Both sum in
    a different order, so results differ in the last bits.

    [audio thread] No allocation, no lock.
*/
struct DotProduct
{
    /** Sum of a[i] * b[i] for i < n. */
    using Single = float (*) (const float* a, const float* b, int n) noexcept;

    /** The sums of a0[i] * b[i] and of a1[i] * b[i] for i < n, reading b once. */
    using Pair = void (*) (const float* a0, const float* a1, const float* b, int n, float& sum0, float& sum1) noexcept;

    /**
        The sums of a[i] * b[i + m * bStep] for i < n and m = 0 to 3, into sums[m]:
        four outputs that share one kernel row, reading `a` once.
    */
    using Quad = void (*) (const float* a, const float* b, int bStep, int n, float* sums) noexcept;

    /**
        The sums of a[i] * b[i + c * bChannelStride] for i < n and c < channels, into
        sums[c]: one row applied to several channels, reading `a` once for every few
        channels. Each sum is exactly the one `single` gives for its channel.
    */
    using Shared = void (*) (const float* a, const float* b, int bChannelStride, int channels, int n, float* sums) noexcept;

    /** A converter's block over tabulated positions, with these products inlined (see TabulatedWalk.h). */
    using Walk = void (*) (TabulatedWalk& walk) noexcept;

    Single single;
    Pair pair;
    Quad quad;
    Shared shared;
    Walk walk;

    /** The fastest version for this processor (chosen once, on first use). */
    static const DotProduct& fastest() noexcept;

    /** The portable version, for comparison. */
    static const DotProduct& portable() noexcept;
};
