#pragma once

#include "model/LayerKernel.h"
#include "model/LinearT.h"

#include <Eigen/Dense>

namespace Morvel
{

/**
    The hypernetwork: maps the two tone controls to the recurrent cell's input
    weights (In x 3H), its recurrent weights (H x 3H) and a convolution kernel of
    N taps.

        knobs -> preLayer0 -> preLayer2 = embedding
        embedding -> ihLayer0 -> ihLayer2 -> ihProjection   -> ihWeights
        embedding -> hhLayer0 -> hhLayer2 -> hhProjection   -> hhWeights
        embedding -> convLayer0 -> convLayer2 -> convProjection -> convKernel

    Every hidden layer is 16 wide and followed by LeakyReLU(0.2); the projections
    have no activation. The recurrent-weight head is loaded with the same mid-layer
    weights as the input-weight head, so the two heads differ in their projections only.
*/
template <typename T, int In, int Ctrl, int H, int N>
class Subnet
{
public:
    static constexpr int width = 16;
    static constexpr int gateWidth = 3 * H;

    LinearT<T, Ctrl, width> preLayer0;
    LinearT<T, width, width> preLayer2;
    LinearT<T, width, width> ihLayer0;
    LinearT<T, width, width> ihLayer2;
    LinearT<T, width, In * gateWidth> ihProjection;
    LinearT<T, width, width> hhLayer0;
    LinearT<T, width, width> hhLayer2;
    LinearT<T, width, H * gateWidth> hhProjection;
    LinearT<T, width, width> convLayer0;
    LinearT<T, width, width> convLayer2;
    LinearT<T, width, N> convProjection;

    /** In x 3H; ihWeights(i, j) = output i * 3H + j of ihProjection. Empty before forward. */
    Eigen::MatrixXf ihWeights;

    /** H x 3H; hhWeights(i, j) = output i * 3H + j of hhProjection. Empty before forward. */
    Eigen::MatrixXf hhWeights;

    /** 1 x N; convKernel(0, k) = output k of convProjection, not reversed. Empty before forward. */
    Eigen::MatrixXf convKernel;

    /** The control values of the last forward call. */
    float inputKnob1 = 0.0f;
    float inputKnob2 = 0.0f;

    /**
        Evaluates the network for the control values knobs[0] and knobs[1], which enter
        unscaled and unclamped, and leaves every layer's `out`, `ihWeights`, `hhWeights`
        and `convKernel` set.

        Any thread that owns the model, including the audio thread. About
        5,280 + 16 * N multiply-adds. The first call allocates the layer results and the
        three outputs; later calls reuse that storage and allocate nothing.
    */
    void forward (const float* knobs)
    {
        inputKnob1 = knobs[0];
        inputKnob2 = knobs[1];

        // The controls enter as they are: no scaling, no clamping.
        const Eigen::Map<const Eigen::Matrix<float, 1, Ctrl>> controls (knobs);

        evaluateActivated (preLayer0, controls);
        evaluateActivated (preLayer2, preLayer0.out);
        const Eigen::MatrixXf& embedding = preLayer2.out;

        evaluateActivated (ihLayer0, embedding);
        evaluateActivated (ihLayer2, ihLayer0.out);
        evaluate (ihProjection, ihLayer2.out);

        evaluateActivated (hhLayer0, embedding);
        evaluateActivated (hhLayer2, hhLayer0.out);
        evaluate (hhProjection, hhLayer2.out);

        evaluateActivated (convLayer0, embedding);
        evaluateActivated (convLayer2, convLayer0.out);
        evaluate (convProjection, convLayer2.out);

        // The projections' outputs are the weight matrices read row by row. Reading them
        // through row-major maps gives the same layout as filling a column-major 3H x rows
        // matrix and transposing it, without the transposition's temporary.
        ihWeights = Eigen::Map<const Eigen::Matrix<float, In, gateWidth, Eigen::RowMajor>> (ihProjection.out.data());
        hhWeights = Eigen::Map<const Eigen::Matrix<float, H, gateWidth, Eigen::RowMajor>> (hhProjection.out.data());
        convKernel = convProjection.out;
    }

    /** LeakyReLU's slope for negative values, the single-precision constant 0x3E4CCCCD. */
    static constexpr float leakySlope = 0.2f;

private:
    /** out = x * weight + bias, then LeakyReLU where `leaky`; out keeps its storage once it
        has the layer's shape. x is a contiguous 1 x LayerIn row. */
    template <int LayerIn, int LayerOut, typename Input>
    static void evaluate (LinearT<T, LayerIn, LayerOut>& layer, const Input& x, bool leaky = false)
    {
        layer.out.resize (1, LayerOut);

        // Where the processor offers more than the baseline instruction set, a version
        // written for it does the same sums in its own order, with fused multiply-adds.
        if (const LayerKernel::Function kernel = LayerKernel::select())
        {
            kernel ({ x.data(), layer.weight.data(), layer.bias.data(), layer.out.data(), LayerIn, LayerOut, leaky, leakySlope });
            return;
        }

        layer.out.noalias() = x * layer.weight;
        layer.out += layer.bias;
        if (leaky)
            layer.out = (layer.out.array() * leakySlope).max (layer.out.array()).matrix();
    }

    template <int LayerIn, int LayerOut, typename Input>
    static void evaluateActivated (LinearT<T, LayerIn, LayerOut>& layer, const Input& x)
    {
        evaluate (layer, x, true);
    }
};

} // namespace Morvel
