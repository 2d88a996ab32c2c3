// Compiled with AVX2 and FMA enabled (see processor/CMakeLists.txt) and called only
// after the processor has reported both. It includes no Eigen and no framework header,
// so no inline function compiled for AVX2 can stand in for a baseline one.

#include "processor/TabulatedWalk.h"

#include <immintrin.h>

#include <cstddef>

namespace DotProductAvx2
{
namespace
{
float horizontalSum (__m256 v) noexcept
{
    const __m128 quad = _mm_add_ps (_mm256_castps256_ps128 (v), _mm256_extractf128_ps (v, 1));
    const __m128 pair = _mm_add_ps (quad, _mm_movehl_ps (quad, quad));
    return _mm_cvtss_f32 (_mm_add_ss (pair, _mm_movehdup_ps (pair)));
}
} // namespace

float single (const float* a, const float* b, int n) noexcept
{
    // Two accumulators hide the latency of the fused multiply-add.
    __m256 sumA = _mm256_setzero_ps();
    __m256 sumB = _mm256_setzero_ps();
    int i = 0;

    for (; i + 16 <= n; i += 16)
    {
        sumA = _mm256_fmadd_ps (_mm256_loadu_ps (a + i), _mm256_loadu_ps (b + i), sumA);
        sumB = _mm256_fmadd_ps (_mm256_loadu_ps (a + i + 8), _mm256_loadu_ps (b + i + 8), sumB);
    }

    for (; i + 8 <= n; i += 8)
        sumA = _mm256_fmadd_ps (_mm256_loadu_ps (a + i), _mm256_loadu_ps (b + i), sumA);

    float sum = horizontalSum (_mm256_add_ps (sumA, sumB));
    for (; i < n; ++i)
        sum += a[i] * b[i];
    return sum;
}

void pair (const float* a0, const float* a1, const float* b, int n, float& sum0, float& sum1) noexcept
{
    __m256 s0 = _mm256_setzero_ps();
    __m256 s1 = _mm256_setzero_ps();
    int i = 0;

    for (; i + 8 <= n; i += 8)
    {
        const __m256 x = _mm256_loadu_ps (b + i);
        s0 = _mm256_fmadd_ps (_mm256_loadu_ps (a0 + i), x, s0);
        s1 = _mm256_fmadd_ps (_mm256_loadu_ps (a1 + i), x, s1);
    }

    float r0 = horizontalSum (s0);
    float r1 = horizontalSum (s1);
    for (; i < n; ++i)
    {
        r0 += a0[i] * b[i];
        r1 += a1[i] * b[i];
    }
    sum0 = r0;
    sum1 = r1;
}

void quad (const float* a, const float* b, int bStep, int n, float* sums) noexcept
{
    __m256 s[4] = { _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps() };
    int i = 0;

    for (; i + 8 <= n; i += 8)
    {
        const __m256 row = _mm256_loadu_ps (a + i);
        for (int m = 0; m < 4; ++m)
            s[m] = _mm256_fmadd_ps (row, _mm256_loadu_ps (b + m * bStep + i), s[m]);
    }

    for (int m = 0; m < 4; ++m)
    {
        float r = horizontalSum (s[m]);
        for (int k = i; k < n; ++k)
            r += a[k] * b[m * bStep + k];
        sums[m] = r;
    }
}
namespace
{
/**
    single() for `count` channels at once (at most four), sharing each load of the row.
    The accumulators and the order of every addition are single()'s, so each sum is
    bit for bit the one single() gives.
*/
template <int count>
void sharedGroup (const float* a, const float* b, int bChannelStride, int n, float* sums) noexcept
{
    const float* channel[count];
    __m256 sumA[count], sumB[count];
#pragma GCC unroll 4
    for (int c = 0; c < count; ++c)
    {
        channel[c] = b + (std::ptrdiff_t) c * bChannelStride;
        sumA[c] = _mm256_setzero_ps();
        sumB[c] = _mm256_setzero_ps();
    }

    int i = 0;
    for (; i + 16 <= n; i += 16)
    {
        const __m256 rowA = _mm256_loadu_ps (a + i);
        const __m256 rowB = _mm256_loadu_ps (a + i + 8);
#pragma GCC unroll 4
        for (int c = 0; c < count; ++c)
        {
            sumA[c] = _mm256_fmadd_ps (rowA, _mm256_loadu_ps (channel[c] + i), sumA[c]);
            sumB[c] = _mm256_fmadd_ps (rowB, _mm256_loadu_ps (channel[c] + i + 8), sumB[c]);
        }
    }

    if (i + 8 <= n)
    {
        const __m256 row = _mm256_loadu_ps (a + i);
#pragma GCC unroll 4
        for (int c = 0; c < count; ++c)
            sumA[c] = _mm256_fmadd_ps (row, _mm256_loadu_ps (channel[c] + i), sumA[c]);
        i += 8;
    }

#pragma GCC unroll 4
    for (int c = 0; c < count; ++c)
        sums[c] = horizontalSum (_mm256_add_ps (sumA[c], sumB[c]));

    // Rows are padded to whole vectors, so this is for other callers only.
    for (int c = 0; c < count; ++c)
        for (int k = i; k < n; ++k)
            sums[c] += a[k] * channel[c][k];
}
} // namespace

void shared (const float* a, const float* b, int bChannelStride, int channels, int n, float* sums) noexcept
{
    int c = 0;
    for (; c + 4 <= channels; c += 4)
        sharedGroup<4> (a, b + (std::ptrdiff_t) c * bChannelStride, bChannelStride, n, sums + c);

    switch (channels - c)
    {
        case 3: sharedGroup<3> (a, b + (std::ptrdiff_t) c * bChannelStride, bChannelStride, n, sums + c); break;
        case 2: sharedGroup<2> (a, b + (std::ptrdiff_t) c * bChannelStride, bChannelStride, n, sums + c); break;
        case 1: sharedGroup<1> (a, b + (std::ptrdiff_t) c * bChannelStride, bChannelStride, n, sums + c); break;
        default: break;
    }
}
} // namespace DotProductAvx2

namespace DotProductAvx2
{
namespace
{
struct Avx2Products
{
    static void shared (const float* a, const float* b, int bChannelStride, int channels, int n, float* sums) noexcept
    {
        DotProductAvx2::shared (a, b, bChannelStride, channels, n, sums);
    }

    template <int count>
    static void sharedFixed (const float* a, const float* b, int bChannelStride, int n, float* sums) noexcept
    {
        sharedGroup<count> (a, b, bChannelStride, n, sums);
    }

    static void quad (const float* a, const float* b, int bStep, int n, float* sums) noexcept
    {
        DotProductAvx2::quad (a, b, bStep, n, sums);
    }
};
} // namespace

void walk (TabulatedWalk& w) noexcept
{
    walkTabulated<Avx2Products> (w);
}
} // namespace DotProductAvx2
