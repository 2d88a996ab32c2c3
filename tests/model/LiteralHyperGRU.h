#pragma once

#include "model/HyperGRU.h"

#include <Eigen/Dense>

namespace Morvel::testing
{

/**
    The recurrent step written the plain way, with dynamic Eigen temporaries for the
    two products, the two gate sums and the two logistic results. It is the yardstick
    for the allocation-free cell: the tests compare their numbers, the benchmarks their
    speed. Not for the audio thread.
*/
template <int In, int Out, int H>
struct LiteralHyperGRU
{
    Eigen::Matrix<float, H, Out> outputWeights = Eigen::Matrix<float, H, Out>::Zero();
    Eigen::MatrixXf hiddenState;
    Eigen::MatrixXf cellOutput;
    Eigen::MatrixXf cellInput;
    Eigen::MatrixXf resetGate;
    Eigen::MatrixXf updateGate;
    Eigen::MatrixXf candidateState;
    Eigen::MatrixXf inputGates;
    Eigen::MatrixXf hiddenGates;

    void reset (int rows)
    {
        hiddenState.setZero (rows, H);
        cellInput.setZero (rows, In);
    }

    void forward_cell (const Eigen::MatrixXf& x, const Eigen::MatrixXf& Wih, const Eigen::MatrixXf& Whh)
    {
        const Eigen::Index rows = hiddenState.rows();
        inputGates = x * Wih;
        hiddenGates = hiddenState * Whh;
        resetGate = Morvel::sigmoid<float> (inputGates.block (0, 0, rows, H) + hiddenGates.block (0, 0, rows, H));
        updateGate = Morvel::sigmoid<float> (inputGates.block (0, H, rows, H) + hiddenGates.block (0, H, rows, H));
        candidateState = (resetGate.array() * hiddenGates.block (0, 2 * H, rows, H).array()
                          + inputGates.block (0, 2 * H, rows, H).array())
                             .tanh();
        hiddenState = (updateGate.array() * hiddenState.array()
                       + (1.0f - updateGate.array()) * candidateState.array());
        cellOutput = Eigen::MatrixXf::Zero (rows, Out);
        cellOutput = hiddenState * outputWeights;
    }
};

} // namespace Morvel::testing
