#include "processor/DotProduct.h"
#include "processor/TabulatedWalk.h"

#include <Eigen/Core>

#include <cstddef>

namespace DotProductAvx2
{
// Defined in DotProductAvx2.cpp, which is compiled for AVX2 and FMA.
float single (const float* a, const float* b, int n) noexcept;
void pair (const float* a0, const float* a1, const float* b, int n, float& sum0, float& sum1) noexcept;
void quad (const float* a, const float* b, int bStep, int n, float* sums) noexcept;
void shared (const float* a, const float* b, int bChannelStride, int channels, int n, float* sums) noexcept;
void walk (TabulatedWalk& w) noexcept;
} // namespace DotProductAvx2

namespace
{
float portableSingle (const float* a, const float* b, int n) noexcept
{
    return Eigen::Map<const Eigen::VectorXf> (a, n).dot (Eigen::Map<const Eigen::VectorXf> (b, n));
}

void portablePair (const float* a0, const float* a1, const float* b, int n, float& sum0, float& sum1) noexcept
{
    sum0 = portableSingle (a0, b, n);
    sum1 = portableSingle (a1, b, n);
}

void portableQuad (const float* a, const float* b, int bStep, int n, float* sums) noexcept
{
    for (int m = 0; m < 4; ++m)
        sums[m] = portableSingle (a, b + m * bStep, n);
}

void portableShared (const float* a, const float* b, int bChannelStride, int channels, int n, float* sums) noexcept
{
    for (int c = 0; c < channels; ++c)
        sums[c] = portableSingle (a, b + (std::ptrdiff_t) c * bChannelStride, n);
}

struct PortableProducts
{
    static void shared (const float* a, const float* b, int bChannelStride, int channels, int n, float* sums) noexcept
    {
        portableShared (a, b, bChannelStride, channels, n, sums);
    }

    template <int count>
    static void sharedFixed (const float* a, const float* b, int bChannelStride, int n, float* sums) noexcept
    {
        portableShared (a, b, bChannelStride, count, n, sums);
    }

    static void quad (const float* a, const float* b, int bStep, int n, float* sums) noexcept
    {
        portableQuad (a, b, bStep, n, sums);
    }
};

void portableWalk (TabulatedWalk& w) noexcept
{
    walkTabulated<PortableProducts> (w);
}

const DotProduct portableVersion { &portableSingle, &portablePair, &portableQuad, &portableShared, &portableWalk };

const DotProduct& detectFastest() noexcept
{
#if defined(TESSALINE_DOT_PRODUCT_AVX2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    // The compiler's probe also checks that the operating system saves the AVX registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma"))
    {
        static const DotProduct avx2 { &DotProductAvx2::single, &DotProductAvx2::pair, &DotProductAvx2::quad,
                                       &DotProductAvx2::shared, &DotProductAvx2::walk };
        return avx2;
    }
#endif
    return portableVersion;
}
} // namespace

const DotProduct& DotProduct::fastest() noexcept
{
    static const DotProduct& detected = detectFastest();
    return detected;
}

const DotProduct& DotProduct::portable() noexcept
{
    return portableVersion;
}
