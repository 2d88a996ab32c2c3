#include "model/WeightLoading.h"
#include "tests/model/TestDocuments.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace
{
using SmallSubnet = Morvel::Subnet<float, 1, 2, 8, 1024>;
using Cell = Morvel::HyperGRU<float, 1, 1, 8>;
using Morvel::testing::makeRandomDocument;

struct LoadedModel
{
    SmallSubnet subnet;
    Cell gru;
};

template <typename Layer>
void expectSameLayer (const Layer& a, const Layer& b)
{
    EXPECT_TRUE (a.weight == b.weight);
    EXPECT_TRUE (a.bias == b.bias);
}

void expectSameModel (const LoadedModel& a, const LoadedModel& b)
{
    expectSameLayer (a.subnet.preLayer0, b.subnet.preLayer0);
    expectSameLayer (a.subnet.preLayer2, b.subnet.preLayer2);
    expectSameLayer (a.subnet.ihLayer0, b.subnet.ihLayer0);
    expectSameLayer (a.subnet.ihLayer2, b.subnet.ihLayer2);
    expectSameLayer (a.subnet.ihProjection, b.subnet.ihProjection);
    expectSameLayer (a.subnet.hhLayer0, b.subnet.hhLayer0);
    expectSameLayer (a.subnet.hhLayer2, b.subnet.hhLayer2);
    expectSameLayer (a.subnet.hhProjection, b.subnet.hhProjection);
    expectSameLayer (a.subnet.convLayer0, b.subnet.convLayer0);
    expectSameLayer (a.subnet.convLayer2, b.subnet.convLayer2);
    expectSameLayer (a.subnet.convProjection, b.subnet.convProjection);
    EXPECT_TRUE (a.gru.outputWeights == b.gru.outputWeights);
}

// Writes a document the way the embedded ones are written, but with the members in
// reverse order, every number in exponent notation and three extra numbers per array.
std::string reorderedText (const nlohmann::json& doc)
{
    std::string text = "{";
    const auto members = Morvel::testing::documentMembers (1024);
    for (auto it = members.rbegin(); it != members.rend(); ++it)
    {
        text += (it == members.rbegin() ? "\"" : ", \"") + it->key + "\": [";
        auto numbers = doc.at (it->key).get<std::vector<double>>();
        numbers.insert (numbers.end(), { 123.5, -7.25e-3, 9.0e+2 });
        for (std::size_t i = 0; i < numbers.size(); ++i)
        {
            char buffer[40];
            std::snprintf (buffer, sizeof (buffer), "%.17e", numbers[i]);
            text += (i == 0 ? "" : ", ") + std::string (buffer);
        }
        text += "]";
    }
    return text + "}";
}

TEST (LinearT, StartsWithZeroWeightsAndNoResult)
{
    Morvel::LinearT<float, 16, 24> layer;
    EXPECT_EQ (layer.weight.rows(), 16);
    EXPECT_EQ (layer.weight.cols(), 24);
    EXPECT_EQ (layer.bias.cols(), 24);
    EXPECT_TRUE (layer.weight.isZero (0.0f));
    EXPECT_TRUE (layer.bias.isZero (0.0f));
    EXPECT_EQ (layer.out.size(), 0);
}

TEST (LinearT, SetWeightTransposesTheRowMajorFileLayout)
{
    Morvel::LinearT<float, 2, 3> layer;
    layer.setWeight ({ 1, 2, 3, 4, 5, 6, 99 }); // rows are outputs; 99 is beyond the count
    const Eigen::MatrixXf expected = (Eigen::MatrixXf (2, 3) << 1, 3, 5, 2, 4, 6).finished();
    EXPECT_TRUE (layer.weight == expected);
    EXPECT_TRUE (layer.bias.isZero (0.0f));
}

TEST (LinearT, SetWeightRefusesAShortArrayAndKeepsItsWeights)
{
    Morvel::LinearT<float, 2, 3> layer;
    layer.setWeight ({ 1, 2, 3, 4, 5, 6 });
    const Eigen::MatrixXf before = layer.weight;
    EXPECT_THROW (layer.setWeight ({ 1, 2, 3, 4, 5 }), std::length_error);
    EXPECT_TRUE (layer.weight == before);
}

TEST (WeightLoading, WeightsAreTheTransposeOfTheDocumentsArrays)
{
    auto doc = makeRandomDocument (1024, 1);
    LoadedModel m;
    Morvel::loadModel (doc, m.subnet, m.gru);

    const auto pre0 = doc["subnet.prelayers.0.weight"].get<std::vector<float>>();
    EXPECT_EQ (m.subnet.preLayer0.weight (1, 0), pre0[1]);
    EXPECT_EQ (m.subnet.preLayer0.weight (0, 1), pre0[2]);

    const auto conv = doc["subnet.proj_conv.weight"].get<std::vector<float>>();
    for (int o : { 0, 1, 517, 1023 })
        for (int i : { 0, 7, 15 })
            EXPECT_EQ (m.subnet.convProjection.weight (i, o), conv[static_cast<std::size_t> (o * 16 + i)]);

    const auto projBias = doc["subnet.proj_hh.bias"].get<std::vector<float>>();
    for (int o = 0; o < 192; ++o)
        EXPECT_EQ (m.subnet.hhProjection.bias (0, o), projBias[static_cast<std::size_t> (o)]);

    const auto out = doc["linear_out.weight"].get<std::vector<float>>();
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ (m.gru.outputWeights (k, 0), out[static_cast<std::size_t> (k)]);
}

TEST (WeightLoading, RecurrentHeadSharesTheInputHeadsMidLayers)
{
    auto doc = makeRandomDocument (1024, 2);
    LoadedModel m;
    Morvel::loadModel (doc, m.subnet, m.gru);

    expectSameLayer (m.subnet.hhLayer0, m.subnet.ihLayer0);
    expectSameLayer (m.subnet.hhLayer2, m.subnet.ihLayer2);
    EXPECT_FALSE (m.subnet.hhLayer0.weight.isZero (0.0f));
}

TEST (WeightLoading, UnreadMembersChangeNothing)
{
    auto doc = makeRandomDocument (1024, 3);
    LoadedModel original;
    Morvel::loadModel (doc, original.subnet, original.gru);

    auto changed = doc;
    for (const char* key : { "hidden", "ih", "hh", "conv", "emb", "emb_ih", "wih", "subnet.midlayers_hh.0.weight",
                             "subnet.midlayers_hh.0.bias", "subnet.midlayers_hh.2.weight" })
        for (auto& v : changed[key])
            v = v.get<double>() * 3.0 + 1.0;
    changed.erase ("subnet.midlayers_hh.2.bias");

    LoadedModel fromChanged;
    Morvel::loadModel (changed, fromChanged.subnet, fromChanged.gru);
    expectSameModel (original, fromChanged);
}

TEST (WeightLoading, ReorderedExponentNotationAndLongerArraysLoadTheSame)
{
    auto doc = makeRandomDocument (1024, 4);
    LoadedModel original;
    Morvel::loadModel (doc, original.subnet, original.gru);

    auto reordered = nlohmann::json::parse (reorderedText (doc));
    LoadedModel fromReordered;
    Morvel::loadModel (reordered, fromReordered.subnet, fromReordered.gru);
    expectSameModel (original, fromReordered);
}

// The library's own messages are part of what a failed construction reports.
template <typename Exception>
void expectFailure (nlohmann::json& doc, int id, const std::string& message)
{
    LoadedModel m;
    try
    {
        Morvel::loadModel (doc, m.subnet, m.gru);
        FAIL() << "loading succeeded";
    }
    catch (const Exception& e)
    {
        EXPECT_EQ (e.id, id);
        EXPECT_NE (std::string (e.what()).find (message), std::string::npos) << e.what();
    }
}

TEST (WeightLoadingFailure, MissingMemberIsATypeErrorAboutNull)
{
    auto doc = makeRandomDocument (1024, 5);
    doc.erase ("subnet.proj_conv.bias");
    expectFailure<nlohmann::json::type_error> (doc, 302, "type must be array, but is null");
    // The non-const lookup left the member behind, as null.
    ASSERT_TRUE (doc.contains ("subnet.proj_conv.bias"));
    EXPECT_TRUE (doc["subnet.proj_conv.bias"].is_null());
}

TEST (WeightLoadingFailure, MissingOutputWeightsFailInTheCell)
{
    auto doc = makeRandomDocument (1024, 6);
    doc.erase ("linear_out.weight");
    expectFailure<nlohmann::json::type_error> (doc, 302, "type must be array, but is null");
}

TEST (WeightLoadingFailure, NonArrayMemberNamesItsType)
{
    auto doc = makeRandomDocument (1024, 7);
    doc["subnet.prelayers.2.bias"] = "sixteen numbers";
    expectFailure<nlohmann::json::type_error> (doc, 302, "type must be array, but is string");

    doc = makeRandomDocument (1024, 7);
    doc["subnet.proj_ih.weight"] = nlohmann::json::object();
    expectFailure<nlohmann::json::type_error> (doc, 302, "type must be array, but is object");
}

TEST (WeightLoadingFailure, NonNumberElementNamesItsType)
{
    auto doc = makeRandomDocument (1024, 8);
    doc["subnet.midlayers_conv.0.weight"][5] = "0.25";
    expectFailure<nlohmann::json::type_error> (doc, 302, "type must be number, but is string");

    doc = makeRandomDocument (1024, 8);
    doc["linear_out.weight"][7] = nullptr;
    expectFailure<nlohmann::json::type_error> (doc, 302, "type must be number, but is null");
}

TEST (WeightLoadingFailure, DocumentThatIsNotAnObject)
{
    auto doc = nlohmann::json::array ({ 1.0, 2.0 });
    expectFailure<nlohmann::json::type_error> (doc, 305, "cannot use operator[] with a string argument with array");

    doc = 0.5;
    expectFailure<nlohmann::json::type_error> (doc, 305, "cannot use operator[] with a string argument with number");
}

TEST (WeightLoadingFailure, ShortArraysAreRefused)
{
    auto doc = makeRandomDocument (1024, 9);
    doc["subnet.proj_conv.bias"].erase (1023);
    LoadedModel m;
    EXPECT_THROW (Morvel::loadModel (doc, m.subnet, m.gru), std::length_error);

    doc = makeRandomDocument (1024, 9);
    doc["subnet.prelayers.0.weight"].erase (31);
    EXPECT_THROW (Morvel::loadModel (doc, m.subnet, m.gru), std::length_error);
}

TEST (HyperGRULoadParams, UsesTheFirstEightNumbers)
{
    nlohmann::json doc;
    doc["linear_out.weight"] = { 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0 };
    Cell gru;
    gru.loadParams (doc);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ (gru.outputWeights (k, 0), static_cast<float> (k + 1));
}

TEST (HyperGRULoadParams, FewerThanEightNumbersAreRefusedAndChangeNothing)
{
    nlohmann::json doc;
    doc["linear_out.weight"] = { 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0 };
    Cell gru;
    gru.loadParams (doc);

    doc["linear_out.weight"] = { -1.0, -2.0, -3.0, -4.0, -5.0, -6.0, -7.0 };
    EXPECT_THROW (gru.loadParams (doc), std::length_error);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ (gru.outputWeights (k, 0), static_cast<float> (k + 1));
}

} // namespace
