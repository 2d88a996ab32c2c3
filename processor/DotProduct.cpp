#include "processor/DotProduct.h"

#include <Eigen/Core>

namespace DotProductAvx2
{
// Defined in DotProductAvx2.cpp, which is compiled for AVX2 and FMA.
float single (const float* a, const float* b, int n) noexcept;
void pair (const float* a0, const float* a1, const float* b, int n, float& sum0, float& sum1) noexcept;
void quad (const float* a, const float* b, int bStep, int n, float* sums) noexcept;
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

const DotProduct portableVersion { &portableSingle, &portablePair, &portableQuad };

const DotProduct& detectFastest() noexcept
{
#if defined(TESSALINE_DOT_PRODUCT_AVX2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    // The compiler's probe also checks that the operating system saves the AVX registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma"))
    {
        static const DotProduct avx2 { &DotProductAvx2::single, &DotProductAvx2::pair, &DotProductAvx2::quad };
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
