// Compiled with AVX2 and FMA enabled (see model/CMakeLists.txt) and called only after the
// processor was found to have them. Nothing here is visible outside this file, and
// nothing is included that defines inline functions shared with other files.

#include "model/LayerKernel.h"

#include <immintrin.h>

namespace Morvel
{
namespace
{
using Layer = LayerKernel::Layer;

// The LeakyReLU of Subnet's portable code: Eigen's max(v * slope, v), which keeps its
// first operand where either is NaN.
inline __m256 activate (const Layer& layer, __m256 v)
{
    return layer.leaky ? _mm256_max_ps (v, _mm256_mul_ps (v, _mm256_set1_ps (layer.leakySlope))) : v;
}

inline float activate (const Layer& layer, float v)
{
    const float scaled = v * layer.leakySlope;
    return layer.leaky && ! (v > scaled) ? scaled : v;
}

// Outputs [first, first + 8 * Vectors): each a chain of multiply-adds over the inputs,
// Vectors chains side by side so that their latencies overlap.
template <int Vectors>
inline void evaluateOutputs (const Layer& layer, int first)
{
    __m256 sum[Vectors];
    for (int v = 0; v < Vectors; ++v)
        sum[v] = _mm256_setzero_ps();

    for (int i = 0; i < layer.inputs; ++i)
    {
        const __m256 x = _mm256_set1_ps (layer.x[i]);
        const float* row = layer.weights + i * layer.outputs + first;
        for (int v = 0; v < Vectors; ++v)
            sum[v] = _mm256_fmadd_ps (x, _mm256_loadu_ps (row + 8 * v), sum[v]);
    }

    for (int v = 0; v < Vectors; ++v)
    {
        const __m256 biased = _mm256_add_ps (sum[v], _mm256_loadu_ps (layer.bias + first + 8 * v));
        _mm256_storeu_ps (layer.out + first + 8 * v, activate (layer, biased));
    }
}

inline void evaluateOutput (const Layer& layer, int o)
{
    __m128 sum = _mm_setzero_ps();
    for (int i = 0; i < layer.inputs; ++i)
        sum = _mm_fmadd_ss (_mm_set_ss (layer.x[i]), _mm_load_ss (layer.weights + i * layer.outputs + o), sum);
    layer.out[o] = activate (layer, _mm_cvtss_f32 (_mm_add_ss (sum, _mm_load_ss (layer.bias + o))));
}
} // namespace

void LayerKernel::evaluateAvx2 (const Layer& layer) noexcept
{
    int o = 0;
    for (; o + 32 <= layer.outputs; o += 32)
        evaluateOutputs<4> (layer, o);
    for (; o + 8 <= layer.outputs; o += 8)
        evaluateOutputs<1> (layer, o);
    for (; o < layer.outputs; ++o)
        evaluateOutput (layer, o);
}

} // namespace Morvel
