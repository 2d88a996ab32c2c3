// Compiled with AVX2 and FMA enabled (see model/CMakeLists.txt) and called only after
// the processor was found to have them. Everything here is internal to this file, and
// nothing is included that defines inline functions shared with other files.

#include "model/CellStepKernel.h"
#include "model/CellStepMath.h"

#include <immintrin.h>

namespace Morvel
{
namespace
{
using Buffers = CellStepKernel::Buffers;
constexpr int H = CellStepKernel::hiddenSize;
constexpr int gateWidth = CellStepKernel::gateWidth;

inline __m256 broadcast (float value) { return _mm256_set1_ps (value); }

// The vector operations of the shared exponential and hyperbolic tangent, on eight lanes.
struct Avx2
{
    using Vector = __m256;
    using Mask = __m256;

    static Vector broadcast (float value) { return _mm256_set1_ps (value); }
    static Vector min (Vector a, Vector b) { return _mm256_min_ps (a, b); }
    static Vector max (Vector a, Vector b) { return _mm256_max_ps (a, b); }
    static Vector add (Vector a, Vector b) { return _mm256_add_ps (a, b); }
    static Vector mul (Vector a, Vector b) { return _mm256_mul_ps (a, b); }
    static Vector div (Vector a, Vector b) { return _mm256_div_ps (a, b); }
    static Vector fmadd (Vector a, Vector b, Vector c) { return _mm256_fmadd_ps (a, b, c); }
    static Vector floor (Vector v) { return _mm256_round_ps (v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }

    // 2^m for whole m, limited to the normal exponents.
    static Vector powerOfTwo (Vector m)
    {
        __m256i exponent = _mm256_cvttps_epi32 (m);
        exponent = _mm256_min_epi32 (_mm256_max_epi32 (exponent, _mm256_set1_epi32 (-126)), _mm256_set1_epi32 (127));
        return _mm256_castsi256_ps (_mm256_slli_epi32 (_mm256_add_epi32 (exponent, _mm256_set1_epi32 (127)), 23));
    }

    static Mask magnitudeBelow (Vector v, float bound)
    {
        return _mm256_cmp_ps (_mm256_andnot_ps (broadcast (-0.0f), v), broadcast (bound), _CMP_LT_OQ);
    }

    static Vector select (Mask where, Vector ifSet, Vector otherwise) { return _mm256_blendv_ps (otherwise, ifSet, where); }
};

template <int N>
inline void logisticOfNegated (__m256 (&v)[N])
{
    CellStepMath::logisticOfNegated<Avx2> (v);
}

template <int N>
inline void hyperbolicTangent (__m256 (&v)[N])
{
    CellStepMath::hyperbolicTangent<Avx2> (v);
}

// ---- one or two rows: a row's eight hidden units in the eight lanes --------------------
//
// Here a step is one long dependency chain from the hidden state back to itself, so the
// aim is a short chain: the recurrent product is a tree of multiply-adds over broadcast
// hidden values and rows of the recurrent weights, which the weights' column-major
// layout gives only after a transposition (it depends on the weights alone and so runs
// beside the chain).

// out[i] = row i of an 8 x 8 column-major block, i.e. lane k holds block[k * 8 + i].
inline void transposeBlock (const float* block, __m256 (&out)[H])
{
    __m256 t[8];
    for (int k = 0; k < 4; ++k)
    {
        t[k] = _mm256_insertf128_ps (_mm256_castps128_ps256 (_mm_loadu_ps (block + k * H)),
                                     _mm_loadu_ps (block + (k + 4) * H), 1);
        t[k + 4] = _mm256_insertf128_ps (_mm256_castps128_ps256 (_mm_loadu_ps (block + k * H + 4)),
                                         _mm_loadu_ps (block + (k + 4) * H + 4), 1);
    }

    for (int half = 0; half < 2; ++half)
    {
        const __m256* s = t + 4 * half;
        const __m256 low01 = _mm256_unpacklo_ps (s[0], s[1]);
        const __m256 high01 = _mm256_unpackhi_ps (s[0], s[1]);
        const __m256 low23 = _mm256_unpacklo_ps (s[2], s[3]);
        const __m256 high23 = _mm256_unpackhi_ps (s[2], s[3]);
        out[4 * half + 0] = _mm256_shuffle_ps (low01, low23, _MM_SHUFFLE (1, 0, 1, 0));
        out[4 * half + 1] = _mm256_shuffle_ps (low01, low23, _MM_SHUFFLE (3, 2, 3, 2));
        out[4 * half + 2] = _mm256_shuffle_ps (high01, high23, _MM_SHUFFLE (1, 0, 1, 0));
        out[4 * half + 3] = _mm256_shuffle_ps (high01, high23, _MM_SHUFFLE (3, 2, 3, 2));
    }
}

// G rows of a column-major matrix with G rows and 8 columns, as one vector per row.
template <int G>
inline void loadRows (const float* source, __m256 (&rows)[G])
{
    if constexpr (G == 1)
    {
        rows[0] = _mm256_loadu_ps (source);
    }
    else
    {
        static_assert (G == 2);
        const __m256 a = _mm256_loadu_ps (source);
        const __m256 b = _mm256_loadu_ps (source + 8);
        rows[0] = _mm256_castpd_ps (_mm256_permute4x64_pd (
            _mm256_castps_pd (_mm256_shuffle_ps (a, b, _MM_SHUFFLE (2, 0, 2, 0))), _MM_SHUFFLE (3, 1, 2, 0)));
        rows[1] = _mm256_castpd_ps (_mm256_permute4x64_pd (
            _mm256_castps_pd (_mm256_shuffle_ps (a, b, _MM_SHUFFLE (3, 1, 3, 1))), _MM_SHUFFLE (3, 1, 2, 0)));
    }
}

template <int G>
inline void storeRows (float* destination, const __m256* rows)
{
    if constexpr (G == 1)
    {
        _mm256_storeu_ps (destination, rows[0]);
    }
    else
    {
        static_assert (G == 2);
        const __m256 low = _mm256_unpacklo_ps (rows[0], rows[1]);
        const __m256 high = _mm256_unpackhi_ps (rows[0], rows[1]);
        _mm256_storeu_ps (destination, _mm256_permute2f128_ps (low, high, 0x20));
        _mm256_storeu_ps (destination + 8, _mm256_permute2f128_ps (low, high, 0x31));
    }
}

inline float sumOfLanes (__m256 v)
{
    __m128 s = _mm_add_ps (_mm256_castps256_ps128 (v), _mm256_extractf128_ps (v, 1));
    s = _mm_add_ps (s, _mm_movehl_ps (s, s));
    s = _mm_add_ss (s, _mm_movehdup_ps (s));
    return _mm_cvtss_f32 (s);
}

// From the products by group and row ([g * G + b]) to the gates (reset gates of all rows,
// then update gates: [0, G) and [G, 2G)), the candidates and the new hidden state.
template <int G>
inline void updateRows (const __m256 (&input)[3 * G], const __m256 (&recurrent)[3 * G], __m256 (&gates)[2 * G],
                        __m256 (&candidate)[G], __m256 (&hidden)[G])
{
    const __m256 zero = _mm256_setzero_ps();
    TESSALINE_EACH (n, 2 * G) gates[n] = _mm256_sub_ps (_mm256_sub_ps (zero, input[n]), recurrent[n]);
    logisticOfNegated (gates);

    TESSALINE_EACH (b, G) candidate[b] = _mm256_fmadd_ps (gates[b], recurrent[2 * G + b], input[2 * G + b]);
    hyperbolicTangent (candidate);
    TESSALINE_EACH (b, G) hidden[b] = _mm256_fmadd_ps (_mm256_sub_ps (broadcast (1.0f), gates[G + b]), candidate[b],
                                                      _mm256_mul_ps (gates[G + b], hidden[b]));
}

template <int G>
inline void storeFields (const Buffers& c, const __m256* input, const __m256* recurrent, const __m256* gates,
                         const __m256* candidate, const __m256* hidden)
{
    storeRows<G> (c.hiddenState, hidden);
    storeRows<G> (c.resetGate, gates);
    storeRows<G> (c.updateGate, gates + G);
    storeRows<G> (c.candidateState, candidate);
    for (int g = 0; g < 3; ++g)
    {
        storeRows<G> (c.inputGates + g * H * G, input + g * G);
        storeRows<G> (c.hiddenGates + g * H * G, recurrent + g * G);
    }
}

template <int G>
void stepRowsInLanes (const Buffers& c) noexcept
{
    __m256 weightRows[3][H];
    for (int g = 0; g < 3; ++g)
        transposeBlock (c.hiddenWeights + g * H * H, weightRows[g]);

    __m256 previous[G];
    loadRows<G> (c.hiddenState, previous);

    // Products by group and row: [g * G + b].
    __m256 input[3 * G], recurrent[3 * G];
    for (int g = 0; g < 3; ++g)
        for (int b = 0; b < G; ++b)
        {
            input[g * G + b] = _mm256_mul_ps (broadcast (c.input[b]), _mm256_loadu_ps (c.inputWeights + g * H));

            const float* h = c.hiddenState + b; // h(b, i) is h[i * G]
            __m256 pairs[4];
            for (int p = 0; p < 4; ++p)
                pairs[p] = _mm256_fmadd_ps (_mm256_broadcast_ss (h + (2 * p + 1) * G), weightRows[g][2 * p + 1],
                                            _mm256_mul_ps (_mm256_broadcast_ss (h + 2 * p * G), weightRows[g][2 * p]));
            recurrent[g * G + b] = _mm256_add_ps (_mm256_add_ps (pairs[0], pairs[1]), _mm256_add_ps (pairs[2], pairs[3]));
        }

    __m256 gates[2 * G], candidate[G];
    updateRows<G> (input, recurrent, gates, candidate, previous);
    const __m256* hidden = previous;
    storeFields<G> (c, input, recurrent, gates, candidate, hidden);

    const __m256 outputWeights = _mm256_loadu_ps (c.outputWeights);
    for (int b = 0; b < G; ++b)
        c.output[b] = sumOfLanes (_mm256_mul_ps (hidden[b], outputWeights));
}

// Lane i of v in every lane.
inline __m256 lane (__m256 v, int i)
{
    return _mm256_permutevar8x32_ps (v, _mm256_set1_epi32 (i));
}

// The weights as the one- and two-row step reads them: the input weights by gate group,
// the recurrent weights as rows of each 8 x 8 group. The arrangement is a permutation, so
// the ramp's arithmetic (step * e + start, element by element) gives the same numbers
// arranged as the ramp's entries would after arranging.
struct ArrangedWeights
{
    __m256 input[3];
    __m256 rows[3][H];

    void arrange (const float* inputWeights, const float* hiddenWeights)
    {
        for (int g = 0; g < 3; ++g)
        {
            input[g] = _mm256_loadu_ps (inputWeights + g * H);
            transposeBlock (hiddenWeights + g * H * H, rows[g]);
        }
    }
};

// One set of weights for every step of a stretch.
struct FixedWeights
{
    const ArrangedWeights& weights;

    const FixedWeights& at (long) const { return *this; }
    __m256 input (int g) const { return weights.input[g]; }
    __m256 row (int g, int i) const { return weights.rows[g][i]; }
};

// A ramp's entry e, strictly between its ends: step * e + start (multiply, then add),
// each vector computed where the step reads it, so the entry never goes through memory.
struct RampEntry
{
    const ArrangedWeights& start;
    const ArrangedWeights& step;
    __m256 entry;

    __m256 input (int g) const { return _mm256_add_ps (_mm256_mul_ps (step.input[g], entry), start.input[g]); }
    __m256 row (int g, int i) const { return _mm256_add_ps (_mm256_mul_ps (step.rows[g][i], entry), start.rows[g][i]); }
};

// The entries strictly between a ramp's ends: step t takes entry t.
struct RampEntries
{
    const ArrangedWeights& start;
    const ArrangedWeights& step;

    RampEntry at (long t) const { return { start, step, broadcast (static_cast<float> (t)) }; }
};

inline long clampedTo (long value, long low, long high)
{
    return value < low ? low : (value > high ? high : value);
}

// The ramp's entry for step t in column-major storage, for the many-row step.
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

    const __m256 k = broadcast (static_cast<float> (entry));
    auto fill = [k] (float* out, const float* step, const float* from, int count)
    {
        for (int j = 0; j < count; j += 8)
            _mm256_storeu_ps (out + j, _mm256_add_ps (_mm256_mul_ps (_mm256_loadu_ps (step + j), k), _mm256_loadu_ps (from + j)));
    };
    fill (ramp.entryInputWeights, ramp.stepInputWeights, start.inputWeights, gateWidth);
    fill (ramp.entryHiddenWeights, ramp.stepHiddenWeights, start.hiddenWeights, H * gateWidth);
    inputWeights = ramp.entryInputWeights;
    hiddenWeights = ramp.entryHiddenWeights;
}

template <typename Value, int N>
inline void copy (const Value (&from)[N], Value (&to)[N])
{
    for (int n = 0; n < N; ++n)
        to[n] = from[n];
}

// The state of G rows across a run, and the last step's values for the fields.
template <int G>
struct RowsInLanes
{
    const CellStepKernel::Block& block;
    __m256 outputWeights;
    __m256 hidden[G] {};
    __m256 input[3 * G] {}, recurrent[3 * G] {}, gates[2 * G] {}, candidate[G] {};
    float x[G] {}, y[G] {};

    // The same arithmetic as stepRowsInLanes, in the same order, so that both give the same
    // numbers, for steps [first, end), step t with the weights that weightsFor.at (t) gives.
    // The state lives in locals for the stretch: the members' vector type may alias the
    // channels' floats, so the compiler would reload them after every store.
    template <typename Schedule>
    void run (long first, long end, const Schedule& weightsFor) noexcept
    {
        if (first >= end)
            return;

        __m256 h[G], in[3 * G], rec[3 * G], gt[2 * G], cand[G];
        float xs[G], ys[G];
        copy (hidden, h);
        copy (input, in);
        copy (recurrent, rec);
        copy (gates, gt);
        copy (candidate, cand);
        copy (x, xs);
        copy (y, ys);
        const __m256 out = outputWeights;

        for (long t = first; t < end; ++t)
        {
            for (int b = 0; b < G; ++b)
                xs[b] = block.channels[b][t];

            const auto& weights = weightsFor.at (t);
            for (int g = 0; g < 3; ++g)
            {
                const __m256 inputWeights = weights.input (g);
                __m256 rows[H];
                for (int i = 0; i < H; ++i)
                    rows[i] = weights.row (g, i);

                for (int b = 0; b < G; ++b)
                {
                    in[g * G + b] = _mm256_mul_ps (broadcast (xs[b]), inputWeights);

                    __m256 pairs[4];
                    for (int p = 0; p < 4; ++p)
                        pairs[p] = _mm256_fmadd_ps (lane (h[b], 2 * p + 1), rows[2 * p + 1],
                                                    _mm256_mul_ps (lane (h[b], 2 * p), rows[2 * p]));
                    rec[g * G + b] = _mm256_add_ps (_mm256_add_ps (pairs[0], pairs[1]), _mm256_add_ps (pairs[2], pairs[3]));
                }
            }

            updateRows<G> (in, rec, gt, cand, h);

            for (int b = 0; b < G; ++b)
            {
                ys[b] = sumOfLanes (_mm256_mul_ps (h[b], out));
                block.channels[b][t] = ys[b];
            }
        }

        copy (h, hidden);
        copy (in, input);
        copy (rec, recurrent);
        copy (gt, gates);
        copy (cand, candidate);
        copy (xs, x);
        copy (ys, y);
    }
};

// The weights are arranged once for the run. Under a ramp, step t takes entry
// min(t, lastEntry): the run splits into the stretch at entry 0 (the start weights), the
// stretch between the ends (computed step by step) and the stretch at the last entry (the
// end weights), so no step asks which one it is in. The fields receive the last step's
// values at the end.
template <int G>
void runRowsInLanes (const CellStepKernel::Block& block) noexcept
{
    const Buffers& c = block.step;
    if (block.count <= 0)
        return;

    ArrangedWeights start;
    start.arrange (c.inputWeights, c.hiddenWeights);

    RowsInLanes<G> rows { block, _mm256_loadu_ps (c.outputWeights) };
    loadRows<G> (c.hiddenState, rows.hidden);

    const long first = block.firstSample;
    const long end = block.firstSample + block.count;
    const auto* ramp = block.ramp;

    if (ramp == nullptr)
    {
        rows.run (first, end, FixedWeights { start });
    }
    else
    {
        ArrangedWeights step, last;
        step.arrange (ramp->stepInputWeights, ramp->stepHiddenWeights);
        last.arrange (ramp->endInputWeights, ramp->endHiddenWeights);

        const long rampStart = clampedTo (1, first, end);
        const long rampEnd = clampedTo (ramp->lastEntry, rampStart, end);
        rows.run (first, rampStart, FixedWeights { start });
        rows.run (rampStart, rampEnd, RampEntries { start, step });
        rows.run (rampEnd, end, FixedWeights { last });
    }

    storeFields<G> (c, rows.input, rows.recurrent, rows.gates, rows.candidate, rows.hidden);
    for (int b = 0; b < G; ++b)
    {
        block.inputs[b] = rows.x[b];
        c.output[b] = rows.y[b];
    }
}

// ---- more rows: eight rows in the eight lanes -----------------------------------------
//
// Columns of the column-major matrices hold the rows contiguously, so a packet of eight
// rows loads and stores whole columns and takes the weights as broadcast scalars. The
// last packet of a row count that is not a multiple of eight is masked.

struct WholePacket
{
    static __m256 load (const float* p) { return _mm256_loadu_ps (p); }
    static void store (float* p, __m256 v) { _mm256_storeu_ps (p, v); }
};

struct PartialPacket
{
    __m256i mask;

    explicit PartialPacket (long count)
        : mask (_mm256_cmpgt_epi32 (_mm256_set1_epi32 (static_cast<int> (count)), _mm256_setr_epi32 (0, 1, 2, 3, 4, 5, 6, 7)))
    {
    }

    __m256 load (const float* p) const { return _mm256_maskload_ps (p, mask); }
    void store (float* p, __m256 v) const { _mm256_maskstore_ps (p, mask, v); }
};

// One step for a packet of rows, taken hidden unit by hidden unit, four side by side: the
// columns are independent, so the processor overlaps their long chains of multiply-adds,
// exp and tanh, and each unit's three gate columns go from the products to the new state
// without a trip through memory. The gate fields are written only when asked (every
// single step; a run's last step).
template <typename Packet>
void stepRowPacket (const Buffers& c, long first, const Packet& packet, bool keepFields) noexcept
{
    constexpr int side = 4;
    const long rows = c.rows;
    auto column = [rows, first] (float* matrix, int j) { return matrix + j * rows + first; };

    __m256 previous[H];
    for (int i = 0; i < H; ++i)
        previous[i] = packet.load (c.hiddenState + i * rows + first);
    const __m256 x = packet.load (c.input + first);

    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = broadcast (1.0f);
    __m256 output = _mm256_setzero_ps();

    for (int k = 0; k < H; k += side)
    {
        // Products for the reset, update and candidate columns of units k .. k + side - 1.
        __m256 recurrent[3][side], input[3][side];
        for (int g = 0; g < 3; ++g)
        {
            const float* weights = c.hiddenWeights + (g * H + k) * H;
            TESSALINE_EACH (s, side) recurrent[g][s] = _mm256_mul_ps (previous[0], broadcast (weights[s * H]));
            for (int i = 1; i < H; ++i)
                TESSALINE_EACH (s, side) recurrent[g][s] = _mm256_fmadd_ps (previous[i], broadcast (weights[s * H + i]), recurrent[g][s]);
            TESSALINE_EACH (s, side) input[g][s] = _mm256_mul_ps (x, broadcast (c.inputWeights[g * H + k + s]));
        }

        __m256 gates[2 * side];
        TESSALINE_EACH (s, side) gates[s] = _mm256_sub_ps (_mm256_sub_ps (zero, input[0][s]), recurrent[0][s]);
        TESSALINE_EACH (s, side) gates[side + s] = _mm256_sub_ps (_mm256_sub_ps (zero, input[1][s]), recurrent[1][s]);
        logisticOfNegated (gates);

        __m256 candidate[side];
        TESSALINE_EACH (s, side) candidate[s] = _mm256_fmadd_ps (gates[s], recurrent[2][s], input[2][s]);
        hyperbolicTangent (candidate);

        for (int s = 0; s < side; ++s)
        {
            const __m256 update = gates[side + s];
            const __m256 hidden = _mm256_fmadd_ps (_mm256_sub_ps (one, update), candidate[s], _mm256_mul_ps (update, previous[k + s]));
            packet.store (column (c.hiddenState, k + s), hidden);
            output = _mm256_fmadd_ps (hidden, broadcast (c.outputWeights[k + s]), output);

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
    packet.store (c.output + first, output);
}

} // namespace

void CellStepKernel::stepAvx2 (const Buffers& c) noexcept
{
    switch (c.rows)
    {
        case 1: stepRowsInLanes<1> (c); return;
        case 2: stepRowsInLanes<2> (c); return;
        default: break;
    }

    long first = 0;
    for (; first + 8 <= c.rows; first += 8)
        stepRowPacket (c, first, WholePacket {}, true);
    if (first < c.rows)
        stepRowPacket (c, first, PartialPacket (c.rows - first), true);
}

void CellStepKernel::runAvx2 (const Block& block) noexcept
{
    switch (block.step.rows)
    {
        case 1: runRowsInLanes<1> (block); return;
        case 2: runRowsInLanes<2> (block); return;
        default: break;
    }

    // Many rows fill the processor's execution units within one step: eight rows in the
    // lanes, a masked packet for the rest.
    Buffers c = block.step;
    c.input = block.inputs;
    const long rows = c.rows;
    const long wholeRows = rows - rows % 8;
    const PartialPacket partial (rows - wholeRows);

    for (long t = block.firstSample; t < block.firstSample + block.count; ++t)
    {
        for (long b = 0; b < rows; ++b)
            block.inputs[b] = block.channels[b][t];

        if (block.ramp != nullptr)
            rampWeights (block.step, *block.ramp, t, c.inputWeights, c.hiddenWeights);

        const bool last = t + 1 == block.firstSample + block.count;
        for (long first = 0; first < wholeRows; first += 8)
            stepRowPacket (c, first, WholePacket {}, last);
        if (wholeRows < rows)
            stepRowPacket (c, wholeRows, partial, last);

        for (long b = 0; b < rows; ++b)
            block.channels[b][t] = c.output[b];
    }
}

#undef TESSALINE_EACH

} // namespace Morvel
