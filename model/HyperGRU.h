#pragma once

#include <Eigen/Dense>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

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
        Sets the row count and the step count, zeroes the hidden state and the input.
        Storage is reallocated only when the element count changes; the scratch
        matrices take the new row count at the next step. The third argument is unused.

        Preparation time: a host thread, or the audio thread when a block size change
        re-prepares (then it allocates only if the channel count changed).
    */
    void reset (int newBatchSize, int newStepCount, int /*unused*/ = 0)
    {
        batchSize = newBatchSize;
        stepCount = newStepCount;
        hiddenState.setZero (batchSize, H);
        cellInput.setZero (batchSize, In);
    }

    /**
        One step for all rows: updates hiddenState and writes cellOutput.
        x is rows x In (normally cellInput), Wih is In x 3H and Whh is H x 3H; the
        shapes are the caller's duty. Gate columns 0..H-1 are the reset gate, H..2H-1
        the update gate and 2H..3H-1 the candidate.

        Audio thread. Allocation-free except on the first step after the row count
        changed, which sizes the scratch matrices and cellOutput.
    */
    void forward_cell (const Eigen::MatrixXf& x, const Eigen::MatrixXf& Wih, const Eigen::MatrixXf& Whh)
    {
        const Eigen::Index rows = hiddenState.rows();
        eigen_assert (x.rows() == rows && x.cols() == In);
        eigen_assert (Wih.rows() == In && Wih.cols() == gateWidth);
        eigen_assert (Whh.rows() == H && Whh.cols() == gateWidth);

        if (inputGates.rows() != rows || inputGates.cols() != gateWidth || cellOutput.rows() != rows)
            resizeScratch (rows);

        computeInputGates (x.data(), Wih.data(), rows);
        computeHiddenGates (Whh.data(), rows);
        applyGates (rows);
        computeOutput (rows);
    }

private:
    using FlatArray = Eigen::Map<Eigen::ArrayXf>;

    void resizeScratch (Eigen::Index rows)
    {
        resetGate.resize (rows, H);
        updateGate.resize (rows, H);
        candidateState.resize (rows, H);
        inputGates.resize (rows, gateWidth);
        hiddenGates.resize (rows, gateWidth);
        cellOutput.resize (rows, Out);
    }

    // inputGates = x * Wih; all matrices column-major, so column j of a rows x k
    // matrix starts at j * rows.
    void computeInputGates (const float* x, const float* wih, Eigen::Index rows)
    {
        float* gates = inputGates.data();

        for (int j = 0; j < gateWidth; ++j)
        {
            float* column = gates + j * rows;
            const float* weights = wih + j * In;

            for (Eigen::Index b = 0; b < rows; ++b)
                column[b] = x[b] * weights[0];

            for (int k = 1; k < In; ++k)
                for (Eigen::Index b = 0; b < rows; ++b)
                    column[b] += x[k * rows + b] * weights[k];
        }
    }

    // hiddenGates = hiddenState * Whh, from the hidden state before the step. Rows are
    // taken in groups of four, two and one so that a group's hidden values and its
    // accumulators stay in registers while it runs through the 3H weight columns.
    void computeHiddenGates (const float* whh, Eigen::Index rows)
    {
        Eigen::Index b = 0;
        for (; b + 4 <= rows; b += 4)
            hiddenGatesForRows<4> (whh, rows, b);
        for (; b + 2 <= rows; b += 2)
            hiddenGatesForRows<2> (whh, rows, b);
        for (; b < rows; ++b)
            hiddenGatesForRows<1> (whh, rows, b);
    }

    template <int Group>
    void hiddenGatesForRows (const float* __restrict whh, Eigen::Index rows, Eigen::Index firstRow)
    {
        const float* __restrict h = hiddenState.data() + firstRow;
        float* __restrict gates = hiddenGates.data() + firstRow;

        float hidden[H][Group];
        for (int i = 0; i < H; ++i)
            for (int g = 0; g < Group; ++g)
                hidden[i][g] = h[i * rows + g];

        for (int j = 0; j < gateWidth; ++j)
        {
            const float* column = whh + j * H;
            float sum[Group];

            for (int g = 0; g < Group; ++g)
                sum[g] = hidden[0][g] * column[0];

            for (int i = 1; i < H; ++i)
                for (int g = 0; g < Group; ++g)
                    sum[g] += hidden[i][g] * column[i];

            for (int g = 0; g < Group; ++g)
                gates[j * rows + g] = sum[g];
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

    // cellOutput = hiddenState * outputWeights, from the new hidden state.
    void computeOutput (Eigen::Index rows)
    {
        const float* h = hiddenState.data();
        float* y = cellOutput.data();

        for (int o = 0; o < Out; ++o)
        {
            float* column = y + o * rows;

            for (Eigen::Index b = 0; b < rows; ++b)
                column[b] = h[b] * outputWeights (0, o);

            for (int i = 1; i < H; ++i)
                for (Eigen::Index b = 0; b < rows; ++b)
                    column[b] += h[i * rows + b] * outputWeights (i, o);
        }
    }
};

} // namespace Morvel
