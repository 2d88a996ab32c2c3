#pragma once

#include "model/CellStepKernel.h"

#include <Eigen/Dense>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// The packet kernels below name Eigen's SIMD types as template arguments; GCC warns that
// their alignment attributes are ignored there, which is harmless (Eigen's own headers
// silence the same warning).
#if defined(__GNUC__)
  #pragma GCC diagnostic push
  #pragma GCC diagnostic ignored "-Wignored-attributes"
#endif

namespace Morvel
{

/**
    Logistic function of every element: 1 / (1 + exp(0 - v)), in the matrix's
    precision with Eigen's elementwise exponential (whose argument clamping keeps
    the results within [0, 1]).

    Returns a newly allocated matrix, so it is meant for off-line use and tests;
    the recurrent cell evaluates the same expression into storage it already owns.
*/
template <typename T>
const Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic> sigmoid (const Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>& m)
{
    return (T (1) / (T (1) + (T (0) - m.array()).exp())).matrix();
}

/**
    Replaces the contents of `out` with the weight ramp from `from` to `to` over n
    entries: entry 0 is a copy of `from`, entry k (0 < k < n - 1) is
    step * k + from with step = (to - from) / (n - 1), and entry n - 1 is a copy of
    `to`, bit for bit. For n < 3 the ramp is just [from, to].

    `from` and `to` must have the same shape and must not be entries of `out`.
    Runs on the audio thread when a tone control moves. It reuses the matrices
    already in `out`, so a ramp with the same n and shapes as the previous one
    allocates nothing; a longer ramp or a new shape allocates.
*/
template <typename MatrixType>
void interpolateMatrix (const MatrixType& from, const MatrixType& to, int n, std::vector<MatrixType>& out)
{
    const std::size_t count = n < 3 ? 2 : static_cast<std::size_t> (n);
    out.resize (count);
    out.front() = from;

    if (n >= 3)
    {
        // The last entry serves as the step's storage until it receives `to`.
        MatrixType& step = out.back();
        step = (to - from) / static_cast<float> (n - 1);

        for (int k = 1; k < n - 1; ++k)
            out[static_cast<std::size_t> (k)] = step * static_cast<float> (k) + from;
    }

    out.back() = to;
}

/**
    Gated recurrent cell whose input and recurrent weights are handed in on every
    step (they come from the hypernetwork), with H hidden units, no biases and a
    linear output projection of its own. Every matrix holds one row per channel;
    all rows share the weights and each keeps its own hidden state.

        r  = sigmoid(x Wih[:, 0:H]   + h Whh[:, 0:H])
        z  = sigmoid(x Wih[:, H:2H]  + h Whh[:, H:2H])
        n  = tanh(r o (h Whh[:, 2H:3H]) + x Wih[:, 2H:3H])
        h' = z o h + (1 - z) o n
        y  = h' outputWeights

    Call loadParams() once, and reset() before the first forward_cell() and
    whenever the row count changes.
*/
template <typename T, int In, int Out, int H>
class HyperGRU
{
public:
    static constexpr int gateWidth = 3 * H;

    /** H x Out output projection, filled by loadParams (zero until then). */
    Eigen::Matrix<float, H, Out> outputWeights = Eigen::Matrix<float, H, Out>::Zero();

    /** batchSize x H; row c is channel c's hidden state. */
    Eigen::MatrixXf hiddenState;

    /** batchSize x Out; the outputs of the last step. */
    Eigen::MatrixXf cellOutput;

    /** batchSize x In; the caller writes each channel's sample here before a step. */
    Eigen::MatrixXf cellInput;

    /** Number of rows (channels). */
    int batchSize = 1;

    /** Samples per block at the model rate; the caller's loop bound, never read here. */
    int stepCount = 0;

    /** Scratch of the last step, rows x H (r, z, n) and rows x 3H (the gate products). */
    Eigen::MatrixXf resetGate;
    Eigen::MatrixXf updateGate;
    Eigen::MatrixXf candidateState;
    Eigen::MatrixXf inputGates;
    Eigen::MatrixXf hiddenGates;

    /**
        Reads "linear_out.weight" (Out x H numbers, row-major as the training framework
        writes them; for one output simply H numbers in order) into outputWeights.

        Loading time only. A missing member or one that is not an array of numbers
        throws nlohmann's type_error 302 (the lookup first inserts a null member);
        fewer than H * Out numbers throw std::length_error and leave outputWeights
        unchanged; numbers beyond them are ignored.
    */
    void loadParams (nlohmann::json& doc)
    {
        const std::vector<float> w = doc["linear_out.weight"].template get<std::vector<float>>();
        constexpr std::size_t needed = static_cast<std::size_t> (H) * static_cast<std::size_t> (Out);

        if (w.size() < needed)
            throw std::length_error ("\"linear_out.weight\" holds " + std::to_string (w.size())
                                     + " numbers, " + std::to_string (needed) + " needed");

        for (int o = 0; o < Out; ++o)
            for (int k = 0; k < H; ++k)
                outputWeights (k, o) = w[static_cast<std::size_t> (o) * H + static_cast<std::size_t> (k)];
    }

    /**
        Sets the row count and the step count, zeroes the hidden state and the input, and
        sizes the output and the scratch matrices for the row count, so that no step
        allocates. Storage is reallocated only when the element count changes. The third
        argument is unused.

        Preparation time: a host thread, or the audio thread when a new channel layout
        prepares the processor again.
    */
    void reset (int newBatchSize, int newStepCount, int /*unused*/ = 0)
    {
        batchSize = newBatchSize;
        stepCount = newStepCount;
        hiddenState.setZero (batchSize, H);
        cellInput.setZero (batchSize, In);
        resizeScratch (batchSize);
    }

    /**
        Runs `count` steps with one set of weights over samples firstSample onwards of
        `channels` (one pointer per row): before each step row c's input is the channel's
        sample, and the row's output replaces it. The same numbers as forward_cell step
        by step with cellInput, which holds the last step's inputs afterwards.

        [audio thread] No allocation. The processor's work per model block: where a faster
        version of the step exists it is chosen once for the run and, for the float cell
        with eight hidden units, arranges the weights once for all the run's steps.
        Weights of the wrong shape give silence, as a step does.
    */
    void forwardBlock (float* const* channels, int firstSample, int count, const Eigen::MatrixXf& Wih, const Eigen::MatrixXf& Whh)
    {
        run (channels, firstSample, count, Wih, Whh, nullptr);
    }

    /**
        As forwardBlock, with the weights ramping across the block from (fromIh, fromHh)
        to (toIh, toHh) over rampLength entries: step t uses entry min(t, last) of the
        ramp that interpolateMatrix builds for that length, with the same numbers (entry 0
        exactly the old weights, the last exactly the new), without building it. Steps
        count from the block's first sample, so a ramp split over runs continues.

        [audio thread] No allocation after reset(); a few more operations per step than
        forwardBlock.
    */
    void forwardRamp (float* const* channels, int firstSample, int count, const Eigen::MatrixXf& fromIh, const Eigen::MatrixXf& fromHh,
                      const Eigen::MatrixXf& toIh, const Eigen::MatrixXf& toHh, int rampLength)
    {
        const bool shapesMatch = weightsFit (fromIh, fromHh) && weightsFit (toIh, toHh);
        const int lastEntry = std::max (rampLength, 2) - 1;

        if (rampStepIh.size() != In * gateWidth)
            resizeScratch (hiddenState.rows());

        if (shapesMatch && rampLength >= 3)
        {
            rampStepIh = (toIh - fromIh) / static_cast<float> (rampLength - 1);
            rampStepHh = (toHh - fromHh) / static_cast<float> (rampLength - 1);
        }
        else
        {
            rampStepIh.setZero(); // a ramp of two entries has no step between them
            rampStepHh.setZero();
        }

        const CellStepKernel::Ramp ramp { rampStepIh.data(), rampStepHh.data(), toIh.data(), toHh.data(), lastEntry,
                                          rampEntryIh.data(), rampEntryHh.data() };
        run (channels, firstSample, count, fromIh, fromHh, shapesMatch ? &ramp : nullptr, &toIh, &toHh);
    }

    /**
        One step for all rows: updates hiddenState and writes cellOutput.
        x is rows x In (normally cellInput), Wih is In x 3H and Whh is H x 3H; the
        shapes are the caller's duty. Gate columns 0..H-1 are the reset gate, H..2H-1
        the update gate and 2H..3H-1 the candidate.

        Audio thread. Per row about 4 * H * H multiply-adds and 3 * H exponentials or
        hyperbolic tangents. Allocation-free after reset(); a step whose row count differs
        from the scratch matrices' (hiddenState resized by hand) sizes them first.

        The program is built for the processor family's baseline. On a processor with
        AVX2 and FMA the float cell with one input, one output and eight hidden units
        runs CellStepKernel's version of the step instead of the portable code below;
        both fill the same fields with the same numbers, up to the rounding of fused
        multiply-adds and the order of the products' sums.

        Matrices of the wrong shape (for instance weights taken before the hypernetwork
        first ran, which are empty) would be read out of bounds; such a step is skipped
        instead, with silence as its output and the hidden state left as it was.
    */
    void forward_cell (const Eigen::MatrixXf& x, const Eigen::MatrixXf& Wih, const Eigen::MatrixXf& Whh)
    {
        const Eigen::Index rows = hiddenState.rows();
        const bool shapesMatch = x.rows() == rows && x.cols() == In && weightsFit (Wih, Whh);

        if (inputGates.rows() != rows || inputGates.cols() != gateWidth || cellOutput.rows() != rows)
            resizeScratch (rows);

        if (! shapesMatch)
        {
            cellOutput.setZero();
            return;
        }

        if constexpr (std::is_same_v<T, float> && In == 1 && Out == 1 && H == CellStepKernel::hiddenSize)
        {
            // Where the processor offers more than the baseline instruction set, a
            // version of the step written for it does the same work on the same storage.
            if (const CellStepKernel::Function step = CellStepKernel::select())
            {
                step ({ x.data(), Wih.data(), Whh.data(), outputWeights.data(), hiddenState.data(), cellOutput.data(),
                        resetGate.data(), updateGate.data(), candidateState.data(), inputGates.data(), hiddenGates.data(),
                        static_cast<long> (rows) });
                return;
            }
        }

        if constexpr (rowsFitInLanes)
        {
            switch (rows)
            {
                case 1: stepRowsInLanes<1> (x.data(), Wih.data(), Whh.data()); return;
                case 2: stepRowsInLanes<2> (x.data(), Wih.data(), Whh.data()); return;
                default: break;
            }
        }

        forEachRowPacket (rows, [&] (auto rowPacket, Eigen::Index firstRow)
        {
            computeGateProducts<decltype (rowPacket)> (x.data(), Wih.data(), Whh.data(), rows, firstRow);
        });
        applyGates (rows);
        forEachRowPacket (rows, [&] (auto rowPacket, Eigen::Index firstRow)
        {
            computeOutput<decltype (rowPacket)> (rows, firstRow);
        });
    }

private:
    using FlatArray = Eigen::Map<Eigen::ArrayXf>;

    // A ramp's step and the current entry (portable code), sized by reset().
    Eigen::MatrixXf rampStepIh, rampStepHh, rampEntryIh, rampEntryHh;

    // The weights of step t under a ramp, in the portable code.
    const Eigen::MatrixXf* rampWeights (const CellStepKernel::Ramp& ramp, int t, const Eigen::MatrixXf& from,
                                        const Eigen::MatrixXf& to, const Eigen::MatrixXf& step, Eigen::MatrixXf& entry)
    {
        const long e = std::min<long> (t, ramp.lastEntry);
        if (e == 0)
            return &from;
        if (e == ramp.lastEntry)
            return &to;
        entry = step * static_cast<float> (e) + from;
        return &entry;
    }

    void run (float* const* channels, int firstSample, int count, const Eigen::MatrixXf& Wih, const Eigen::MatrixXf& Whh,
              const CellStepKernel::Ramp* ramp, const Eigen::MatrixXf* toIh = nullptr, const Eigen::MatrixXf* toHh = nullptr)
    {
        const Eigen::Index rows = hiddenState.rows();

        if constexpr (std::is_same_v<T, float> && In == 1 && Out == 1 && H == CellStepKernel::hiddenSize)
        {
            const auto runSteps = CellStepKernel::selectBlock();

            if (runSteps != nullptr && weightsFit (Wih, Whh) && cellInput.rows() == rows)
            {
                if (inputGates.rows() != rows || inputGates.cols() != gateWidth || cellOutput.rows() != rows)
                    resizeScratch (rows);

                CellStepKernel::Block block { { cellInput.data(), Wih.data(), Whh.data(), outputWeights.data(), hiddenState.data(),
                                                cellOutput.data(), resetGate.data(), updateGate.data(), candidateState.data(),
                                                inputGates.data(), hiddenGates.data(), static_cast<long> (rows) },
                                              cellInput.data(), channels, firstSample, count };
                block.ramp = ramp;
                runSteps (block);
                return;
            }
        }

        for (int t = firstSample; t < firstSample + count; ++t)
        {
            for (Eigen::Index c = 0; c < std::min (rows, cellInput.rows()); ++c)
                cellInput (c, 0) = channels[c][t];

            if (ramp != nullptr)
                forward_cell (cellInput, *rampWeights (*ramp, t, Wih, *toIh, rampStepIh, rampEntryIh),
                              *rampWeights (*ramp, t, Whh, *toHh, rampStepHh, rampEntryHh));
            else
                forward_cell (cellInput, Wih, Whh);

            for (Eigen::Index c = 0; c < std::min (rows, cellOutput.rows()); ++c)
                channels[c][t] = cellOutput (c, 0);
        }
    }

    static bool weightsFit (const Eigen::MatrixXf& Wih, const Eigen::MatrixXf& Whh) noexcept
    {
        return Wih.rows() == In && Wih.cols() == gateWidth && Whh.rows() == H && Whh.cols() == gateWidth;
    }

    // ---- portable code, one or two rows: each row's values in packet lanes ------------
    //
    // With few rows a step is one long dependency chain (h -> products -> r -> n -> h'),
    // so it is the latency of each operation that counts. Here every row keeps its
    // hidden state, gate products and gates in packet registers from start to end; the
    // members only receive copies. The recurrent product is computed as packetSize dot
    // products at a time over contiguous columns of Whh, reduced by one transposition.
    // The gate arithmetic is Eigen's own packet exp and tanh on exactly the expressions
    // of the general path, so both paths give the same numbers up to the products'
    // summation order.

    using Packet = typename Eigen::internal::packet_traits<float>::type;
    static constexpr int packetSize = Eigen::internal::unpacket_traits<Packet>::size;
    static constexpr bool rowsFitInLanes = packetSize > 1 && H % packetSize == 0 && gateWidth % packetSize == 0;

    // Row b of a column-major matrix with Stride rows: consecutive columns are Stride apart.
    template <int Stride>
    static Packet loadLanes (const float* first)
    {
        if constexpr (Stride == 1)
            return Eigen::internal::ploadu<Packet> (first);
        else
            return Eigen::internal::pgather<float, Packet> (first, Stride);
    }

    template <int Stride>
    static void storeLanes (float* first, const Packet& values)
    {
        if constexpr (Stride == 1)
            Eigen::internal::pstoreu (first, values);
        else
            Eigen::internal::pscatter<float, Packet> (first, values, Stride);
    }

    // Sums the packets of a block lane by lane in a balanced tree (shorter chain than a row).
    static Packet sumOfPackets (Eigen::internal::PacketBlock<Packet, packetSize>& block)
    {
        for (int width = packetSize / 2; width > 0; width /= 2)
            for (int c = 0; c < width; ++c)
                block.packet[c] = Eigen::internal::padd (block.packet[c], block.packet[c + width]);
        return block.packet[0];
    }

    template <int G>
    void stepRowsInLanes (const float* x, const float* wih, const float* whh)
    {
        using namespace Eigen::internal;
        constexpr int hiddenPackets = H / packetSize;
        constexpr int gatePackets = gateWidth / packetSize;
        const Packet one = pset1<Packet> (1.0f);
        const Packet zero = pset1<Packet> (0.0f);

        // Rows are innermost in every stage so that their independent chains interleave.
        Packet hidden[hiddenPackets][G];
        for (int q = 0; q < hiddenPackets; ++q)
            for (int b = 0; b < G; ++b)
                hidden[q][b] = loadLanes<G> (hiddenState.data() + q * packetSize * G + b);

        Packet ig[gatePackets][G], hg[gatePackets][G];
        for (int p = 0; p < gatePackets; ++p)
        {
            PacketBlock<Packet, packetSize> dots[G];
            for (int c = 0; c < packetSize; ++c)
            {
                const float* column = whh + (p * packetSize + c) * H;
                for (int b = 0; b < G; ++b)
                {
                    Packet partial = pmul (hidden[0][b], ploadu<Packet> (column));
                    for (int q = 1; q < hiddenPackets; ++q)
                        partial = padd (partial, pmul (hidden[q][b], ploadu<Packet> (column + q * packetSize)));
                    dots[b].packet[c] = partial;
                }
            }

            const float* inputWeights = wih + p * packetSize * In;
            for (int b = 0; b < G; ++b)
            {
                ptranspose (dots[b]);
                hg[p][b] = sumOfPackets (dots[b]);

                Packet input = pmul (pset1<Packet> (x[b]), loadLanes<In> (inputWeights));
                for (int k = 1; k < In; ++k)
                    input = padd (input, pmul (pset1<Packet> (x[k * G + b]), loadLanes<In> (inputWeights + k)));
                ig[p][b] = input;
            }
        }

        for (int q = 0; q < hiddenPackets; ++q)
        {
            const int zq = hiddenPackets + q;
            const int nq = 2 * hiddenPackets + q;
            Packet r[G], z[G], n[G];
            // 0 - (ig + hg) equals (0 - ig) - hg exactly (rounding is symmetric), and the
            // latter takes one operation off the chain that starts at the hidden state.
            for (int b = 0; b < G; ++b)
                r[b] = pdiv (one, padd (one, pexp (psub (psub (zero, ig[q][b]), hg[q][b]))));
            for (int b = 0; b < G; ++b)
                z[b] = pdiv (one, padd (one, pexp (psub (psub (zero, ig[zq][b]), hg[zq][b]))));
            for (int b = 0; b < G; ++b)
                n[b] = ptanh (padd (pmul (r[b], hg[nq][b]), ig[nq][b]));

            for (int b = 0; b < G; ++b)
            {
                hidden[q][b] = padd (pmul (z[b], hidden[q][b]), pmul (psub (one, z[b]), n[b]));

                const int offset = q * packetSize * G + b;
                storeLanes<G> (resetGate.data() + offset, r[b]);
                storeLanes<G> (updateGate.data() + offset, z[b]);
                storeLanes<G> (candidateState.data() + offset, n[b]);
                storeLanes<G> (hiddenState.data() + offset, hidden[q][b]);
            }
        }

        for (int p = 0; p < gatePackets; ++p)
            for (int b = 0; b < G; ++b)
            {
                storeLanes<G> (inputGates.data() + p * packetSize * G + b, ig[p][b]);
                storeLanes<G> (hiddenGates.data() + p * packetSize * G + b, hg[p][b]);
            }

        for (int o = 0; o < Out; ++o)
            for (int b = 0; b < G; ++b)
            {
                const float* weights = outputWeights.data() + o * H;
                Packet products = pmul (hidden[0][b], ploadu<Packet> (weights));
                for (int q = 1; q < hiddenPackets; ++q)
                    products = padd (products, pmul (hidden[q][b], ploadu<Packet> (weights + q * packetSize)));
                cellOutput.data()[o * G + b] = predux (products);
            }
    }

    void resizeScratch (Eigen::Index rows)
    {
        rampStepIh.resize (In, gateWidth);
        rampEntryIh.resize (In, gateWidth);
        rampStepHh.resize (H, gateWidth);
        rampEntryHh.resize (H, gateWidth);
        resetGate.resize (rows, H);
        updateGate.resize (rows, H);
        candidateState.resize (rows, H);
        inputGates.resize (rows, gateWidth);
        hiddenGates.resize (rows, gateWidth);
        cellOutput.resize (rows, Out);
    }

    // ---- portable code, any number of rows: vectorised across rows ----------------------
    //
    // All matrices are column-major, so within each column the rows are contiguous: a
    // packet of rows loads each hidden column once and runs through the gate columns
    // with broadcast weights. Rows that do not fill a packet take a half packet, then
    // single rows.

    template <typename Kernel>
    static void forEachRowPacket (Eigen::Index rows, Kernel&& kernel)
    {
        using HalfPacket = typename Eigen::internal::unpacket_traits<Packet>::half;
        constexpr int halfSize = Eigen::internal::unpacket_traits<HalfPacket>::size;

        Eigen::Index b = 0;
        for (; b + packetSize <= rows; b += packetSize)
            kernel (Packet {}, b);
        if constexpr (halfSize < packetSize)
            for (; b + halfSize <= rows; b += halfSize)
                kernel (HalfPacket {}, b);
        for (; b < rows; ++b)
            kernel (0.0f, b);
    }

    // inputGates = x * Wih and hiddenGates = hiddenState * Whh (the state before the step).
    template <typename RowPacket>
    void computeGateProducts (const float* x, const float* wih, const float* whh, Eigen::Index rows, Eigen::Index firstRow)
    {
        using namespace Eigen::internal;
        const float* h = hiddenState.data() + firstRow;

        RowPacket input[In];
        for (int k = 0; k < In; ++k)
            input[k] = ploadu<RowPacket> (x + k * rows + firstRow);

        RowPacket hidden[H];
        for (int i = 0; i < H; ++i)
            hidden[i] = ploadu<RowPacket> (h + i * rows);

        for (int j = 0; j < gateWidth; ++j)
        {
            const float* inputWeights = wih + j * In;
            RowPacket inputSum = pmul (input[0], pset1<RowPacket> (inputWeights[0]));
            for (int k = 1; k < In; ++k)
                inputSum = pmadd (input[k], pset1<RowPacket> (inputWeights[k]), inputSum);
            pstoreu (inputGates.data() + j * rows + firstRow, inputSum);

            const float* column = whh + j * H;
            RowPacket hiddenSum = pmul (hidden[0], pset1<RowPacket> (column[0]));
            for (int i = 1; i < H; ++i)
                hiddenSum = pmadd (hidden[i], pset1<RowPacket> (column[i]), hiddenSum);
            pstoreu (hiddenGates.data() + j * rows + firstRow, hiddenSum);
        }
    }

    // cellOutput = hiddenState * outputWeights, from the new hidden state.
    template <typename RowPacket>
    void computeOutput (Eigen::Index rows, Eigen::Index firstRow)
    {
        using namespace Eigen::internal;
        const float* h = hiddenState.data() + firstRow;

        for (int o = 0; o < Out; ++o)
        {
            RowPacket sum = pmul (ploadu<RowPacket> (h), pset1<RowPacket> (outputWeights (0, o)));
            for (int i = 1; i < H; ++i)
                sum = pmadd (ploadu<RowPacket> (h + i * rows), pset1<RowPacket> (outputWeights (i, o)), sum);
            pstoreu (cellOutput.data() + o * rows + firstRow, sum);
        }
    }

    // The H-wide column groups of the rows x 3H gate matrices are contiguous, so each
    // gate is one flat array expression, evaluated with Eigen's packet exp and tanh
    // exactly as the logistic function and the candidate are defined.
    void applyGates (Eigen::Index rows)
    {
        const Eigen::Index n = rows * H;
        float* ig = inputGates.data();
        float* hg = hiddenGates.data();

        FlatArray r (resetGate.data(), n);
        FlatArray z (updateGate.data(), n);
        FlatArray c (candidateState.data(), n);
        FlatArray h (hiddenState.data(), n);

        r = 1.0f / (1.0f + (0.0f - (FlatArray (ig, n) + FlatArray (hg, n))).exp());
        z = 1.0f / (1.0f + (0.0f - (FlatArray (ig + n, n) + FlatArray (hg + n, n))).exp());
        c = (r * FlatArray (hg + 2 * n, n) + FlatArray (ig + 2 * n, n)).tanh();
        h = z * h + (1.0f - z) * c;
    }

};

} // namespace Morvel

#if defined(__GNUC__)
  #pragma GCC diagnostic pop
#endif
