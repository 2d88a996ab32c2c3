#pragma once

#include "model/HyperGRU.h"
#include "model/LinearT.h"
#include "model/Subnet.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace Morvel
{

/**
    Reads one member of a parsed weight document as floats (each number read as a
    double and rounded to float).

    Uses the document's non-const operator[], so a missing key is inserted with a
    null value before the conversion fails. Throws nlohmann's type_error 305 when the
    document is not an object, 302 when the member is not an array of numbers.
    Loading time only; allocates the returned vector.
*/
inline std::vector<float> readFloatArray (nlohmann::json& doc, const char* key)
{
    return doc[key].get<std::vector<float>>();
}

/**
    Fills a layer from its two members: the weight (Out x In, row-major) through
    setWeight, then the bias (Out numbers). Numbers beyond the counts are ignored;
    fewer throw std::length_error.
*/
template <typename T, int In, int Out>
void loadLayer (nlohmann::json& doc, LinearT<T, In, Out>& layer, const char* weightKey, const char* biasKey)
{
    layer.setWeight (readFloatArray (doc, weightKey));

    const std::vector<float> bias = readFloatArray (doc, biasKey);
    if (bias.size() < static_cast<std::size_t> (Out))
        throw std::length_error (std::string ("\"") + biasKey + "\" holds " + std::to_string (bias.size())
                                 + " numbers, " + std::to_string (Out) + " needed");

    for (int o = 0; o < Out; ++o)
        layer.bias (0, o) = bias[static_cast<std::size_t> (o)];
}

/**
    Fills all eleven layers of a hypernetwork and the output weights of its recurrent
    cell from one parsed weight document, in a fixed order: the two pre-layers, the
    input-weight head, the recurrent-weight head, the kernel head, then the cell.

    Both heads' mid-layers come from the "subnet.midlayers_ih.*" members; the document's
    "subnet.midlayers_hh.*" members and its reference vectors are not read.

    Loading time only (the processor's constructor): parses nothing itself but
    allocates one temporary vector per member. Every failure is an exception and may
    leave the model partly filled: nlohmann's type_error (305 for a document that is
    not an object, 302 for a missing or non-array member, whose lookup inserts a null
    value) or std::length_error for an array shorter than its layer.
*/
template <typename T, int In, int Ctrl, int H, int N, int CellIn, int CellOut>
void loadModel (nlohmann::json& doc, Subnet<T, In, Ctrl, H, N>& subnet, HyperGRU<T, CellIn, CellOut, H>& gru)
{
    loadLayer (doc, subnet.preLayer0, "subnet.prelayers.0.weight", "subnet.prelayers.0.bias");
    loadLayer (doc, subnet.preLayer2, "subnet.prelayers.2.weight", "subnet.prelayers.2.bias");

    loadLayer (doc, subnet.ihLayer0, "subnet.midlayers_ih.0.weight", "subnet.midlayers_ih.0.bias");
    loadLayer (doc, subnet.ihLayer2, "subnet.midlayers_ih.2.weight", "subnet.midlayers_ih.2.bias");
    loadLayer (doc, subnet.ihProjection, "subnet.proj_ih.weight", "subnet.proj_ih.bias");

    // The trained network shares the input head's mid-layers with the recurrent head.
    loadLayer (doc, subnet.hhLayer0, "subnet.midlayers_ih.0.weight", "subnet.midlayers_ih.0.bias");
    loadLayer (doc, subnet.hhLayer2, "subnet.midlayers_ih.2.weight", "subnet.midlayers_ih.2.bias");
    loadLayer (doc, subnet.hhProjection, "subnet.proj_hh.weight", "subnet.proj_hh.bias");

    loadLayer (doc, subnet.convLayer0, "subnet.midlayers_conv.0.weight", "subnet.midlayers_conv.0.bias");
    loadLayer (doc, subnet.convLayer2, "subnet.midlayers_conv.2.weight", "subnet.midlayers_conv.2.bias");
    loadLayer (doc, subnet.convProjection, "subnet.proj_conv.weight", "subnet.proj_conv.bias");

    gru.loadParams (doc);
}

} // namespace Morvel
