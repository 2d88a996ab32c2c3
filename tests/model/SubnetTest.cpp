#include "model/WeightLoading.h"
#include "tests/model/TestDocuments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace
{
using Morvel::testing::evaluateReference;
using Morvel::testing::makeRandomDocument;

template <int N>
using SubnetN = Morvel::Subnet<float, 1, 2, 8, N>;
using Cell = Morvel::HyperGRU<float, 1, 1, 8>;

std::uint32_t bitsOf (float value)
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

// Matrix entries read in row-major order against a flat vector of doubles.
void expectRowMajorNear (const Eigen::MatrixXf& m, const std::vector<double>& expected, double tolerance, const char* what)
{
    ASSERT_EQ (static_cast<std::size_t> (m.size()), expected.size()) << what;
    for (Eigen::Index r = 0, k = 0; r < m.rows(); ++r)
        for (Eigen::Index c = 0; c < m.cols(); ++c, ++k)
            ASSERT_NEAR (m (r, c), expected[static_cast<std::size_t> (k)], tolerance) << what << " entry " << k;
}

template <int N>
void expectMatchesDoublePrecision (nlohmann::json& doc, float knob1, float knob2, double tolerance)
{
    auto subnet = std::make_unique<SubnetN<N>>();
    Cell gru;
    Morvel::loadModel (doc, *subnet, gru);

    const float knobs[2] = { knob1, knob2 };
    subnet->forward (knobs);
    const auto reference = evaluateReference (doc, knob1, knob2);

    expectRowMajorNear (subnet->preLayer2.out, reference.embedding, tolerance, "embedding");
    expectRowMajorNear (subnet->ihLayer2.out, reference.inputHeadEmbedding, tolerance, "input head");
    expectRowMajorNear (subnet->ihWeights, reference.inputWeights, tolerance, "ihWeights");
    expectRowMajorNear (subnet->hhWeights, reference.recurrentWeights, tolerance, "hhWeights");
    expectRowMajorNear (subnet->convKernel, reference.kernel, tolerance, "convKernel");
    EXPECT_EQ (subnet->inputKnob1, knob1);
    EXPECT_EQ (subnet->inputKnob2, knob2);
}

TEST (Subnet, MatchesADoublePrecisionEvaluationOfTheDocument)
{
    auto doc = makeRandomDocument (1024, 21);
    for (const auto& knobs : { std::pair { 0.5f, 0.5f }, std::pair { 0.0f, 1.0f }, std::pair { 0.35f, 0.8f },
                               std::pair { -0.5f, 1.75f } }) // unclamped values enter unchanged
        expectMatchesDoublePrecision<1024> (doc, knobs.first, knobs.second, 1e-5);

    auto high = makeRandomDocument (2048, 22);
    expectMatchesDoublePrecision<2048> (high, 0.5f, 0.5f, 1e-5);
}

TEST (Subnet, OutputsAreEmptyBeforeTheFirstEvaluation)
{
    auto subnet = std::make_unique<SubnetN<1024>>();
    EXPECT_EQ (subnet->ihWeights.rows(), 0);
    EXPECT_EQ (subnet->hhWeights.cols(), 0);
    EXPECT_EQ (subnet->convKernel.size(), 0);
}

TEST (Subnet, OutputLayoutsFollowTheProjectionsOutputOrder)
{
    // Zero weights make every projection output its bias, numbered by position.
    auto subnet = std::make_unique<SubnetN<1024>>();
    for (int o = 0; o < 24; ++o)
        subnet->ihProjection.bias (0, o) = static_cast<float> (o);
    for (int o = 0; o < 192; ++o)
        subnet->hhProjection.bias (0, o) = static_cast<float> (o);
    for (int o = 0; o < 1024; ++o)
        subnet->convProjection.bias (0, o) = static_cast<float> (o);

    const float knobs[2] = { 0.5f, 0.5f };
    subnet->forward (knobs);

    ASSERT_EQ (subnet->ihWeights.rows(), 1);
    ASSERT_EQ (subnet->ihWeights.cols(), 24);
    ASSERT_EQ (subnet->hhWeights.rows(), 8);
    ASSERT_EQ (subnet->hhWeights.cols(), 24);
    ASSERT_EQ (subnet->convKernel.rows(), 1);
    ASSERT_EQ (subnet->convKernel.cols(), 1024);

    EXPECT_EQ (subnet->ihWeights (0, 5), 5.0f);
    EXPECT_EQ (subnet->hhWeights (1, 0), 24.0f);
    EXPECT_EQ (subnet->hhWeights (0, 23), 23.0f);
    EXPECT_EQ (subnet->hhWeights (7, 23), 191.0f);
    EXPECT_EQ (subnet->hhWeights (3, 9), 81.0f);
    EXPECT_EQ (subnet->convKernel (0, 0), 0.0f);
    EXPECT_EQ (subnet->convKernel (0, 1023), 1023.0f);
}

TEST (Subnet, LeakyReLUScalesNegativeValuesByTheSingleConstant)
{
    EXPECT_EQ (bitsOf (SubnetN<1024>::leakySlope), 0x3E4CCCCDu);

    auto subnet = std::make_unique<SubnetN<1024>>();
    subnet->preLayer0.bias (0, 0) = -1.0f;
    subnet->preLayer0.bias (0, 1) = 0.0f;
    subnet->preLayer0.bias (0, 2) = 2.5f;
    subnet->preLayer0.bias (0, 3) = -3.0e-3f;
    subnet->ihProjection.bias (0, 0) = -4.0f; // projections have no activation

    const float knobs[2] = { 0.25f, 0.75f };
    subnet->forward (knobs);

    EXPECT_EQ (bitsOf (subnet->preLayer0.out (0, 0)), bitsOf (-0.2f));
    EXPECT_EQ (subnet->preLayer0.out (0, 1), 0.0f);
    EXPECT_EQ (subnet->preLayer0.out (0, 2), 2.5f);
    EXPECT_EQ (subnet->preLayer0.out (0, 3), -3.0e-3f * 0.2f);
    EXPECT_EQ (subnet->ihWeights (0, 0), -4.0f);
}

TEST (Subnet, SameControlsGiveBitIdenticalOutputs)
{
    auto doc = makeRandomDocument (1024, 23);
    auto subnet = std::make_unique<SubnetN<1024>>();
    Cell gru;
    Morvel::loadModel (doc, *subnet, gru);

    const float first[2] = { 0.3f, 0.6f };
    const float other[2] = { 0.9f, 0.1f };
    subnet->forward (first);
    const Eigen::MatrixXf ih = subnet->ihWeights, hh = subnet->hhWeights, conv = subnet->convKernel;
    subnet->forward (other);
    EXPECT_FALSE (subnet->hhWeights == hh);
    subnet->forward (first);
    EXPECT_TRUE (subnet->ihWeights == ih);
    EXPECT_TRUE (subnet->hhWeights == hh);
    EXPECT_TRUE (subnet->convKernel == conv);
}

// ---- the layer evaluation against the plain one it replaces ------------------------

// The hypernetwork as it was first written: every layer a product with a column-major
// dynamic matrix, then the bias, then LeakyReLU as Eigen's max(v * slope, v).
struct LiteralOutputs
{
    Eigen::MatrixXf ih, hh, conv;
};

template <typename Layer>
Eigen::MatrixXf literalLayer (const Layer& layer, const Eigen::MatrixXf& x, bool leaky)
{
    const Eigen::MatrixXf weight = layer.weight; // column-major copy
    Eigen::MatrixXf out = x * weight;
    out += layer.bias;
    if (leaky)
        out = (out.array() * Morvel::Subnet<float, 1, 2, 8, 8>::leakySlope).max (out.array()).matrix();
    return out;
}

template <int N>
LiteralOutputs literalForward (const SubnetN<N>& net, const float* knobs)
{
    const Eigen::MatrixXf controls = Eigen::Map<const Eigen::Matrix<float, 1, 2>> (knobs);
    const Eigen::MatrixXf embedding = literalLayer (net.preLayer2, literalLayer (net.preLayer0, controls, true), true);
    auto head = [&embedding] (const auto& first, const auto& second, const auto& projection)
    {
        return literalLayer (projection, literalLayer (second, literalLayer (first, embedding, true), true), false);
    };
    const Eigen::MatrixXf ih = head (net.ihLayer0, net.ihLayer2, net.ihProjection);
    const Eigen::MatrixXf hh = head (net.hhLayer0, net.hhLayer2, net.hhProjection);
    Eigen::MatrixXf hhRows = hh;
    hhRows.resize (24, 8);
    return { ih, hhRows.transpose(), head (net.convLayer0, net.convLayer2, net.convProjection) };
}

// Within 1e-6 of the larger of the reference's largest magnitude and 1.
void expectWithinFullScale (const Eigen::MatrixXf& m, const Eigen::MatrixXf& reference, const char* what)
{
    ASSERT_EQ (m.rows(), reference.rows()) << what;
    ASSERT_EQ (m.cols(), reference.cols()) << what;
    const double scale = std::max (1.0, static_cast<double> (reference.cwiseAbs().maxCoeff()));
    EXPECT_LE ((m - reference).cwiseAbs().maxCoeff(), 1e-6 * scale) << what;
}

template <int N>
void compareWithLiteral (bool portable)
{
    auto doc = makeRandomDocument (N, 31);
    auto subnet = std::make_unique<SubnetN<N>>();
    Cell gru;
    Morvel::loadModel (doc, *subnet, gru);

    Morvel::LayerKernel::forcePortable (portable);
    for (const auto& knobs : { std::array { 0.5f, 0.5f }, std::array { 0.0f, 1.0f }, std::array { -3.0f, 7.5f } })
    {
        subnet->forward (knobs.data());
        const auto literal = literalForward (*subnet, knobs.data());
        expectWithinFullScale (subnet->ihWeights, literal.ih, "ihWeights");
        expectWithinFullScale (subnet->hhWeights, literal.hh, "hhWeights");
        expectWithinFullScale (subnet->convKernel, literal.conv, "convKernel");
    }
    Morvel::LayerKernel::forcePortable (false);
}

TEST (Subnet, EvaluationMatchesThePlainColumnMajorProducts)
{
    compareWithLiteral<1024> (true);
    compareWithLiteral<2048> (true);
    compareWithLiteral<1024> (false); // the version chosen for this processor
    compareWithLiteral<2048> (false);
}

// The processor-specific layer on sizes the hypernetwork does not have: outputs that fill
// no vector or leave a remainder, against a double-precision sum.
TEST (LayerKernel, MatchesADoublePrecisionSumForAnyOutputCount)
{
    const auto kernel = Morvel::LayerKernel::select();
    if (kernel == nullptr)
        GTEST_SKIP() << "this processor has no faster layer";

    std::srand (5);
    for (const int inputs : { 1, 2, 16 })
        for (const int outputs : { 1, 7, 8, 31, 32, 45, 200 })
            for (const bool leaky : { false, true })
            {
                const Eigen::VectorXf x = Eigen::VectorXf::Random (inputs) * 3.0f;
                const Eigen::VectorXf weights = Eigen::VectorXf::Random (inputs * outputs);
                const Eigen::VectorXf bias = Eigen::VectorXf::Random (outputs);
                Eigen::VectorXf out = Eigen::VectorXf::Constant (outputs + 1, 99.0f); // one beyond: untouched

                kernel ({ x.data(), weights.data(), bias.data(), out.data(), inputs, outputs, leaky, 0.2f });

                for (int o = 0; o < outputs; ++o)
                {
                    double v = bias[o];
                    for (int i = 0; i < inputs; ++i)
                        v += static_cast<double> (x[i]) * weights[i * outputs + o];
                    if (leaky && v < 0.0)
                        v *= 0.2;
                    ASSERT_NEAR (out[o], v, 1e-5) << inputs << " inputs, " << outputs << " outputs, output " << o;
                }
                EXPECT_EQ (out[outputs], 99.0f);
            }
}

// ---- the shipped weight documents -------------------------------------------------

nlohmann::json readDocument (const std::string& name)
{
    std::ifstream file (std::string (TESSALINE_RESOURCES_DIR) + "/weights/" + name);
    if (! file)
        return nullptr;
    std::stringstream text;
    text << file.rdbuf();
    return nlohmann::json::parse (text.str());
}

void expectNear (const Eigen::MatrixXf& m, const std::vector<float>& reference, const char* what)
{
    // Row-major reading of the matrix is the order of the reference vectors.
    std::vector<double> asDouble (reference.begin(), reference.end());
    expectRowMajorNear (m, asDouble, 1e-5, what);
}

template <int N>
void checkShippedDocument (const std::string& name)
{
    auto doc = readDocument (name);
    if (doc.is_null())
        FAIL() << name << " is missing from the resources";

    const auto untouched = doc;
    auto subnet = std::make_unique<SubnetN<N>>();
    Cell gru;
    Morvel::loadModel (doc, *subnet, gru);
    EXPECT_EQ (doc, untouched) << "loading a complete document must not add members";

    const float knobs[2] = { 0.5f, 0.5f };
    subnet->forward (knobs);

    expectNear (subnet->preLayer2.out, doc["emb"].get<std::vector<float>>(), "emb");
    expectNear (subnet->ihLayer2.out, doc["emb_ih"].get<std::vector<float>>(), "emb_ih");
    expectNear (subnet->ihWeights, doc["ih"].get<std::vector<float>>(), "ih");
    expectNear (subnet->ihWeights, doc["wih"].get<std::vector<float>>(), "wih");
    expectNear (subnet->hhWeights, doc["hh"].get<std::vector<float>>(), "hh");
    expectNear (subnet->convKernel, doc["conv"].get<std::vector<float>>(), "conv");
    EXPECT_EQ (doc["hidden"].size(), 8u);

    // The unread recurrent mid-layers do not reproduce the reference: the sharing matters.
    const auto viaOwnLayers = evaluateReference (doc, 0.5, 0.5, "subnet.midlayers_hh");
    const auto hh = doc["hh"].get<std::vector<double>>();
    double largest = 0.0;
    for (std::size_t k = 0; k < hh.size(); ++k)
        largest = std::max (largest, std::abs (viaOwnLayers.recurrentWeights[k] - hh[k]));
    EXPECT_GT (largest, 1e-3);
}

TEST (ShippedWeights, StandardRateDocumentMatchesItsReferenceVectors)
{
    checkShippedDocument<1024> ("tone_standard_rate_1024.json");
}

TEST (ShippedWeights, HighRateDocumentMatchesItsReferenceVectors)
{
    checkShippedDocument<2048> ("tone_high_rate_2048.json");
}

} // namespace
