// Compiled with AVX-512F and FMA enabled (see model/CMakeLists.txt) and called only after
// the processor was found to have them. Everything here is internal to this file, and
// nothing is included that defines inline functions shared with other files.

#include "model/CellStepKernel.h"
#include "model/CellStepMath.h"

// GCC 12 warns about the deliberately undefined vectors inside its own AVX-512 header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace Morvel
{
namespace
{
using Buffers = CellStepKernel::Buffers;
constexpr int H = CellStepKernel::hiddenSize;
constexpr int gateWidth = CellStepKernel::gateWidth;
constexpr long lanes = 16;

inline __m512 broadcast (float value) { return _mm512_set1_ps (value); }

// The vector operations of the shared exponential and hyperbolic tangent, on sixteen
// lanes: the AVX2 step's operations, so that both steps give the same bits.
struct Avx512
{
    using Vector = __m512;
    using Mask = __mmask16;

    static Vector broadcast (float value) { return _mm512_set1_ps (value); }
    static Vector min (Vector a, Vector b) { return _mm512_min_ps (a, b); }
    static Vector max (Vector a, Vector b) { return _mm512_max_ps (a, b); }
    static Vector add (Vector a, Vector b) { return _mm512_add_ps (a, b); }
    static Vector mul (Vector a, Vector b) { return _mm512_mul_ps (a, b); }
    static Vector div (Vector a, Vector b) { return _mm512_div_ps (a, b); }
    static Vector fmadd (Vector a, Vector b, Vector c) { return _mm512_fmadd_ps (a, b, c); }
    static Vector floor (Vector v) { return _mm512_roundscale_ps (v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }

    // 2^m for whole m, limited to the normal exponents.
    static Vector powerOfTwo (Vector m)
    {
        __m512i exponent = _mm512_cvttps_epi32 (m);
        exponent = _mm512_min_epi32 (_mm512_max_epi32 (exponent, _mm512_set1_epi32 (-126)), _mm512_set1_epi32 (127));
        return _mm512_castsi512_ps (_mm512_slli_epi32 (_mm512_add_epi32 (exponent, _mm512_set1_epi32 (127)), 23));
    }

    static Mask magnitudeBelow (Vector v, float bound) { return _mm512_cmp_ps_mask (_mm512_abs_ps (v), broadcast (bound), _CMP_LT_OQ); }
    static Vector select (Mask where, Vector ifSet, Vector otherwise) { return _mm512_mask_blend_ps (where, otherwise, ifSet); }
};

template <int N>
inline void logisticOfNegated (__m512 (&v)[N])
{
    CellStepMath::logisticOfNegated<Avx512> (v);
}

template <int N>
inline void hyperbolicTangent (__m512 (&v)[N])
{
    CellStepMath::hyperbolicTangent<Avx512> (v);
}

// ---- sixteen rows in the sixteen lanes --------------------------------------------------
//
// Columns of the column-major matrices hold the rows contiguously, so a packet of sixteen
// rows loads and stores whole columns under a lane mask and takes the weights as broadcast
// scalars: the arithmetic of the AVX2 file's packet of eight, on twice the lanes, so that
// twelve rows take one packet with four idle lanes instead of a whole and a masked half.

struct Packet
{
    long first;
    __mmask16 mask;

    __m512 load (const float* column) const { return _mm512_maskz_loadu_ps (mask, column + first); }
    void store (float* column, __m512 v) const { _mm512_mask_storeu_ps (column + first, mask, v); }
};

inline Packet packetAt (long first, long rows)
{
    const long count = rows - first < lanes ? rows - first : lanes;
    return { first, static_cast<__mmask16> ((1u << count) - 1u) };
}

// One step for a packet of rows from `previous` (the packet's hidden state, replaced by
// the new one), unit by unit, four side by side as in the AVX2 step. Returns the output;
// the gate fields are written only when asked.
__m512 stepPacket (const Buffers& c, const Packet& packet, __m512 (&previous)[H], __m512 x, bool keepFields) noexcept
{
    constexpr int side = 4;
    const long rows = c.rows;
    auto column = [rows] (float* matrix, int j) { return matrix + j * rows; };

    const __m512 zero = _mm512_setzero_ps();
    const __m512 one = broadcast (1.0f);
    __m512 output = _mm512_setzero_ps();
    __m512 next[H];

    for (int k = 0; k < H; k += side)
    {
        __m512 recurrent[3][side], input[3][side];
        for (int g = 0; g < 3; ++g)
        {
            const float* weights = c.hiddenWeights + (g * H + k) * H;
            TESSALINE_EACH (s, side) recurrent[g][s] = _mm512_mul_ps (previous[0], broadcast (weights[s * H]));
            for (int i = 1; i < H; ++i)
                TESSALINE_EACH (s, side) recurrent[g][s] = _mm512_fmadd_ps (previous[i], broadcast (weights[s * H + i]), recurrent[g][s]);
            TESSALINE_EACH (s, side) input[g][s] = _mm512_mul_ps (x, broadcast (c.inputWeights[g * H + k + s]));
        }

        __m512 gates[2 * side];
        TESSALINE_EACH (s, side) gates[s] = _mm512_sub_ps (_mm512_sub_ps (zero, input[0][s]), recurrent[0][s]);
        TESSALINE_EACH (s, side) gates[side + s] = _mm512_sub_ps (_mm512_sub_ps (zero, input[1][s]), recurrent[1][s]);
        logisticOfNegated (gates);

        __m512 candidate[side];
        TESSALINE_EACH (s, side) candidate[s] = _mm512_fmadd_ps (gates[s], recurrent[2][s], input[2][s]);
        hyperbolicTangent (candidate);

        for (int s = 0; s < side; ++s)
        {
            const __m512 update = gates[side + s];
            next[k + s] = _mm512_fmadd_ps (_mm512_sub_ps (one, update), candidate[s], _mm512_mul_ps (update, previous[k + s]));
            output = _mm512_fmadd_ps (next[k + s], broadcast (c.outputWeights[k + s]), output);

            if (keepFields)
            {
                packet.store (column (c.resetGate, k + s), gates[s]);
                packet.store (column (c.updateGate, k + s), update);
                packet.store (column (c.candidateState, k + s), candidate[s]);
                for (int g = 0; g < 3; ++g)
                {
                    packet.store (column (c.inputGates, g * H + k + s), input[g][s]);
                    packet.store (column (c.hiddenGates, g * H + k + s), recurrent[g][s]);
                }
            }
        }
    }

    for (int i = 0; i < H; ++i)
        previous[i] = next[i];
    return output;
}

// The ramp's entry for step t in column-major storage: multiply, then add, as the ramp
// built entry by entry.
void rampWeights (const Buffers& start, const CellStepKernel::Ramp& ramp, long t, const float*& inputWeights,
                  const float*& hiddenWeights) noexcept
{
    const long entry = t < ramp.lastEntry ? t : ramp.lastEntry;

    if (entry == 0 || entry == ramp.lastEntry)
    {
        inputWeights = entry == 0 ? start.inputWeights : ramp.endInputWeights;
        hiddenWeights = entry == 0 ? start.hiddenWeights : ramp.endHiddenWeights;
        return;
    }

    const __m512 k = broadcast (static_cast<float> (entry));
    auto fill = [k] (float* out, const float* step, const float* from, int count)
    {
        for (int j = 0; j < count; j += lanes)
        {
            const auto mask = static_cast<__mmask16> (count - j >= lanes ? 0xffffu : (1u << (count - j)) - 1u);
            _mm512_mask_storeu_ps (out + j, mask, _mm512_add_ps (_mm512_mul_ps (_mm512_maskz_loadu_ps (mask, step + j), k),
                                                                 _mm512_maskz_loadu_ps (mask, from + j)));
        }
    };
    fill (ramp.entryInputWeights, ramp.stepInputWeights, start.inputWeights, gateWidth);
    fill (ramp.entryHiddenWeights, ramp.stepHiddenWeights, start.hiddenWeights, H * gateWidth);
    inputWeights = ramp.entryInputWeights;
    hiddenWeights = ramp.entryHiddenWeights;
}

// Step t of the block for one packet of rows, when more than one packet takes turns in
// each step. Only the block's last step writes the gate fields.
void runPacket (const CellStepKernel::Block& block, const Buffers& weights, const Packet& packet, long t) noexcept
{
    const Buffers& c = block.step;
    __m512 hidden[H];
    for (int i = 0; i < H; ++i)
        hidden[i] = packet.load (c.hiddenState + i * c.rows);

    alignas (64) float samples[lanes] = {};
    const long count = c.rows - packet.first < lanes ? c.rows - packet.first : lanes;
    for (long b = 0; b < count; ++b)
        samples[b] = block.channels[packet.first + b][t];

    const bool last = t + 1 == block.firstSample + block.count;
    const __m512 x = _mm512_load_ps (samples);
    const __m512 output = stepPacket (weights, packet, hidden, x, last);

    _mm512_store_ps (samples, output);
    for (long b = 0; b < count; ++b)
        block.channels[packet.first + b][t] = samples[b];
    for (int i = 0; i < H; ++i)
        packet.store (c.hiddenState + i * c.rows, hidden[i]);
    if (last)
    {
        packet.store (c.output, output);
        packet.store (block.inputs, x);
    }
}

// The whole block for a single packet (up to sixteen rows): the hidden state stays in
// registers from the first step to the last.
void runSinglePacket (const CellStepKernel::Block& block) noexcept
{
    const Buffers& c = block.step;
    const Packet packet = packetAt (0, c.rows);
    Buffers weights = c;

    __m512 hidden[H];
    for (int i = 0; i < H; ++i)
        hidden[i] = packet.load (c.hiddenState + i * c.rows);

    alignas (64) float samples[lanes] = {};
    __m512 x = _mm512_setzero_ps(), output = _mm512_setzero_ps();
    const long end = block.firstSample + block.count;
    for (long t = block.firstSample; t < end; ++t)
    {
        for (long b = 0; b < c.rows; ++b)
            samples[b] = block.channels[b][t];
        x = _mm512_load_ps (samples);

        if (block.ramp != nullptr)
            rampWeights (c, *block.ramp, t, weights.inputWeights, weights.hiddenWeights);

        output = stepPacket (weights, packet, hidden, x, t + 1 == end);

        _mm512_store_ps (samples, output);
        for (long b = 0; b < c.rows; ++b)
            block.channels[b][t] = samples[b];
    }

    for (int i = 0; i < H; ++i)
        packet.store (c.hiddenState + i * c.rows, hidden[i]);
    packet.store (c.output, output);
    packet.store (block.inputs, x);
}

} // namespace

void CellStepKernel::runAvx512 (const Block& block) noexcept
{
    // One or two rows keep their hidden units in the lanes of one vector; sixteen lanes
    // would stay mostly idle.
    if (block.step.rows <= 2)
    {
        runAvx2 (block);
        return;
    }
    if (block.count <= 0)
        return;

    if (block.step.rows <= lanes)
    {
        runSinglePacket (block);
        return;
    }

    const Buffers& c = block.step;
    Buffers weights = c;
    for (long t = block.firstSample; t < block.firstSample + block.count; ++t)
    {
        if (block.ramp != nullptr)
            rampWeights (c, *block.ramp, t, weights.inputWeights, weights.hiddenWeights);
        for (long first = 0; first < c.rows; first += lanes)
            runPacket (block, weights, packetAt (first, c.rows), t);
    }
}

#undef TESSALINE_EACH

} // namespace Morvel
