#pragma once

#include <Eigen/Dense>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace Morvel
{

/**
    One fully connected layer of the hypernetwork: its weights, its bias and the
    result of its last evaluation.

    The layer has no evaluation of its own; Subnet::forward computes
    out = x * weight + bias for it. Weights are written once while the model is
    loaded and are read-only afterwards.
*/
template <typename T, int In, int Out>
class LinearT
{
public:
    static_assert (In > 0 && Out > 0, "a layer needs at least one input and one output");

    static constexpr int inputCount = In;
    static constexpr int outputCount = Out;

    /** Result of the last hypernetwork evaluation, 1 x Out (empty until then). */
    Eigen::MatrixXf out;

    /** In x Out; weight(i, o) is the weight from input i to output o. Stored input by
        input (row-major): the evaluation runs along the outputs, a whole vector at a time. */
    Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> weight;

    /** 1 x Out; bias(0, o) belongs to output o. */
    Eigen::Matrix<float, 1, Eigen::Dynamic, Eigen::RowMajor, 1, Eigen::Dynamic> bias;

    /** Zero weights and bias, empty out. Allocates; call off the audio thread. */
    LinearT()
        : weight (decltype (weight)::Zero (In, Out)),
          bias (decltype (bias)::Zero (1, Out))
    {
    }

    /**
        Copies a weight stored the way the training framework writes a linear layer
        (Out x In, row-major: w[o * In + i] is the weight from input i to output o)
        into `weight`, transposing it. Numbers beyond the first In * Out are ignored.

        Throws std::length_error, leaving `weight` untouched, when w holds fewer than
        In * Out numbers: a truncated array would otherwise be read past its end.
        Loading time only (message or host thread); touches neither `bias` nor `out`.
    */
    void setWeight (std::vector<float> w)
    {
        constexpr std::size_t needed = static_cast<std::size_t> (In) * static_cast<std::size_t> (Out);

        if (w.size() < needed)
            throw std::length_error ("layer weight holds " + std::to_string (w.size())
                                     + " numbers, " + std::to_string (needed) + " needed");

        for (int o = 0; o < Out; ++o)
            for (int i = 0; i < In; ++i)
                weight (i, o) = w[static_cast<std::size_t> (o) * In + static_cast<std::size_t> (i)];
    }
};

} // namespace Morvel
