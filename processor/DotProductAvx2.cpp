// Compiled with AVX2 and FMA enabled (see processor/CMakeLists.txt) and called only
// after the processor has reported both. It includes no Eigen and no framework header,
// so no inline function compiled for AVX2 can stand in for a baseline one.

#include <immintrin.h>

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
} // namespace DotProductAvx2
