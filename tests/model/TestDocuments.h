#pragma once

// Weight documents made in the test itself, and a double-precision evaluation of the
// network written straight from the document's row-major layout, independent of the
// model's own layer classes.

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace Morvel::testing
{

struct MemberShape
{
    std::string key;
    std::size_t count;
};

/** Every member of a weight document with its number count, in document order. */
inline std::vector<MemberShape> documentMembers (int kernelLength)
{
    const auto n = static_cast<std::size_t> (kernelLength);
    return {
        { "hidden", 8 }, { "ih", 24 }, { "hh", 192 }, { "conv", n }, { "emb", 16 }, { "emb_ih", 16 }, { "wih", 24 },
        { "subnet.prelayers.0.weight", 32 }, { "subnet.prelayers.0.bias", 16 },
        { "subnet.prelayers.2.weight", 256 }, { "subnet.prelayers.2.bias", 16 },
        { "subnet.midlayers_ih.0.weight", 256 }, { "subnet.midlayers_ih.0.bias", 16 },
        { "subnet.midlayers_ih.2.weight", 256 }, { "subnet.midlayers_ih.2.bias", 16 },
        { "subnet.proj_ih.weight", 384 }, { "subnet.proj_ih.bias", 24 },
        { "subnet.midlayers_hh.0.weight", 256 }, { "subnet.midlayers_hh.0.bias", 16 },
        { "subnet.midlayers_hh.2.weight", 256 }, { "subnet.midlayers_hh.2.bias", 16 },
        { "subnet.proj_hh.weight", 3072 }, { "subnet.proj_hh.bias", 192 },
        { "subnet.midlayers_conv.0.weight", 256 }, { "subnet.midlayers_conv.0.bias", 16 },
        { "subnet.midlayers_conv.2.weight", 256 }, { "subnet.midlayers_conv.2.bias", 16 },
        { "subnet.proj_conv.weight", 16 * n }, { "subnet.proj_conv.bias", n },
        { "linear_out.weight", 8 },
    };
}

/**
    A complete document of random numbers, each exactly a float value, scaled like a
    trained layer (weights about 1 / sqrt(inputs)). The reference vectors are random
    too: nothing reads them.
*/
inline nlohmann::json makeRandomDocument (int kernelLength, unsigned seed)
{
    std::mt19937 generator (seed);
    std::uniform_real_distribution<float> uniform (-1.0f, 1.0f);

    nlohmann::json doc = nlohmann::json::object();
    for (const auto& member : documentMembers (kernelLength))
    {
        const bool isWeight = member.key.size() > 7 && member.key.compare (member.key.size() - 7, 7, ".weight") == 0;
        const float scale = isWeight ? 0.6f : 0.3f;

        std::vector<double> numbers (member.count);
        for (auto& v : numbers)
            v = static_cast<double> (uniform (generator) * scale);
        doc[member.key] = numbers;
    }
    return doc;
}

/** The network's values in double precision, straight from a document. */
struct ReferenceOutputs
{
    std::vector<double> embedding, inputHeadEmbedding, inputWeights, recurrentWeights, kernel;
};

inline std::vector<double> denseLayer (const nlohmann::json& doc, const std::string& prefix,
                                       const std::vector<double>& x, bool activated)
{
    const auto weight = doc.at (prefix + ".weight").get<std::vector<double>>();
    const auto bias = doc.at (prefix + ".bias").get<std::vector<double>>();
    const std::size_t outputs = bias.size();

    std::vector<double> y (outputs);
    for (std::size_t o = 0; o < outputs; ++o)
    {
        double sum = bias[o];
        for (std::size_t i = 0; i < x.size(); ++i)
            sum += weight[o * x.size() + i] * x[i];
        y[o] = (activated && sum < 0.0) ? 0.2 * sum : sum;
    }
    return y;
}

/** Evaluates the network at (knob1, knob2); `recurrentHead` names the mid-layers of the hh head. */
inline ReferenceOutputs evaluateReference (const nlohmann::json& doc, double knob1, double knob2,
                                           const std::string& recurrentHead = "subnet.midlayers_ih")
{
    ReferenceOutputs r;
    auto pre = denseLayer (doc, "subnet.prelayers.0", { knob1, knob2 }, true);
    r.embedding = denseLayer (doc, "subnet.prelayers.2", pre, true);

    auto ih = denseLayer (doc, "subnet.midlayers_ih.0", r.embedding, true);
    r.inputHeadEmbedding = denseLayer (doc, "subnet.midlayers_ih.2", ih, true);
    r.inputWeights = denseLayer (doc, "subnet.proj_ih", r.inputHeadEmbedding, false);

    auto hh = denseLayer (doc, recurrentHead + ".0", r.embedding, true);
    hh = denseLayer (doc, recurrentHead + ".2", hh, true);
    r.recurrentWeights = denseLayer (doc, "subnet.proj_hh", hh, false);

    auto conv = denseLayer (doc, "subnet.midlayers_conv.0", r.embedding, true);
    conv = denseLayer (doc, "subnet.midlayers_conv.2", conv, true);
    r.kernel = denseLayer (doc, "subnet.proj_conv", conv, false);
    return r;
}

/**
    The recurrent cell in double precision, one row: weights given as floats in the
    cell's layout (wih[j], whh[i * 24 + j] for hidden unit i and gate column j).
*/
struct ReferenceCell
{
    std::vector<double> hidden = std::vector<double> (8, 0.0);

    double step (double x, const std::vector<float>& wih, const std::vector<float>& whh, const std::vector<float>& out)
    {
        std::vector<double> gates (24);
        for (int j = 0; j < 24; ++j)
        {
            double sum = 0.0;
            for (int i = 0; i < 8; ++i)
                sum += hidden[static_cast<std::size_t> (i)] * whh[static_cast<std::size_t> (i * 24 + j)];
            gates[static_cast<std::size_t> (j)] = sum;
        }

        double y = 0.0;
        for (std::size_t k = 0; k < 8; ++k)
        {
            const double r = 1.0 / (1.0 + std::exp (-(x * wih[k] + gates[k])));
            const double z = 1.0 / (1.0 + std::exp (-(x * wih[8 + k] + gates[8 + k])));
            const double n = std::tanh (r * gates[16 + k] + x * wih[16 + k]);
            hidden[k] = z * hidden[k] + (1.0 - z) * n;
            y += hidden[k] * out[k];
        }
        return y;
    }
};

} // namespace Morvel::testing
