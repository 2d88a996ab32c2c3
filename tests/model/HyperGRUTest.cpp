#include "model/WeightLoading.h"
#include "tests/model/LiteralHyperGRU.h"
#include "tests/model/TestDocuments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace
{
using Cell = Morvel::HyperGRU<float, 1, 1, 8>;
using Literal = Morvel::testing::LiteralHyperGRU<1, 1, 8>;

struct RandomWeights
{
    Eigen::MatrixXf wih, whh;
    Eigen::Matrix<float, 8, 1> out;

    // The default output scale keeps the outputs in the audio range (|y| below about 1.5).
    explicit RandomWeights (unsigned seed, float inputScale = 2.0f, float recurrentScale = 0.9f, float outputScale = 0.4f)
    {
        std::mt19937 generator (seed);
        std::uniform_real_distribution<float> uniform (-1.0f, 1.0f);
        wih.resize (1, 24);
        whh.resize (8, 24);
        for (Eigen::Index k = 0; k < wih.size(); ++k)
            wih (k) = uniform (generator) * inputScale;
        for (Eigen::Index k = 0; k < whh.size(); ++k)
            whh (k) = uniform (generator) * recurrentScale;
        for (int k = 0; k < 8; ++k)
            out (k) = uniform (generator) * outputScale;
    }

    std::vector<float> wihVector() const { return { wih.data(), wih.data() + 24 }; }

    std::vector<float> whhRowMajor() const
    {
        std::vector<float> w;
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 24; ++j)
                w.push_back (whh (i, j));
        return w;
    }

    std::vector<float> outVector() const { return { out.data(), out.data() + 8 }; }
};

// A signal with silence, small values and overdriven peaks: the cell's whole range.
std::vector<float> testSignal (std::size_t length, unsigned seed)
{
    std::mt19937 generator (seed);
    std::normal_distribution<float> noise (0.0f, 0.3f);
    std::vector<float> x (length);
    for (std::size_t n = 0; n < length; ++n)
    {
        const float envelope = (n / 1000) % 4 == 3 ? 0.0f : 1.0f + 2.0f * std::sin (0.001f * static_cast<float> (n));
        x[n] = envelope * (0.8f * std::sin (0.05f * static_cast<float> (n)) + noise (generator));
    }
    return x;
}

// ---- interpolateMatrix ----------------------------------------------------------------

Eigen::MatrixXf randomMatrix (int rows, int cols, unsigned seed)
{
    std::mt19937 generator (seed);
    std::uniform_real_distribution<float> uniform (-3.0f, 3.0f);
    Eigen::MatrixXf m (rows, cols);
    for (Eigen::Index k = 0; k < m.size(); ++k)
        m (k) = uniform (generator);
    return m;
}

TEST (InterpolateMatrix, FewerThanThreeStepsGiveJustBothEnds)
{
    const Eigen::MatrixXf from = randomMatrix (8, 24, 1), to = randomMatrix (8, 24, 2);
    std::vector<Eigen::MatrixXf> ramp (5, Eigen::MatrixXf::Ones (3, 3));

    for (int n : { 2, 1, 0, -1, -1000 })
    {
        Morvel::interpolateMatrix (from, to, n, ramp);
        ASSERT_EQ (ramp.size(), 2u) << "n = " << n;
        EXPECT_TRUE (ramp[0] == from);
        EXPECT_TRUE (ramp[1] == to);
    }
}

TEST (InterpolateMatrix, ThreeStepsHaveTheMidpointFromTheStep)
{
    const Eigen::MatrixXf from = randomMatrix (1, 24, 3), to = randomMatrix (1, 24, 4);
    std::vector<Eigen::MatrixXf> ramp;
    Morvel::interpolateMatrix (from, to, 3, ramp);

    ASSERT_EQ (ramp.size(), 3u);
    EXPECT_TRUE (ramp[0] == from);
    EXPECT_TRUE (ramp[2] == to);
    for (Eigen::Index k = 0; k < from.size(); ++k)
    {
        const float step = (to (k) - from (k)) / 2.0f;
        EXPECT_EQ (ramp[1](k), step * 1.0f + from (k));
    }
}

TEST (InterpolateMatrix, LongRampIsFromPlusKStepsAndEndsExactlyOnTo)
{
    const Eigen::MatrixXf from = randomMatrix (8, 24, 5), to = randomMatrix (8, 24, 6);
    std::vector<Eigen::MatrixXf> ramp;
    const int n = 1531;

    // Reusing a longer ramp must still leave exactly n entries.
    Morvel::interpolateMatrix (to, from, 2 * n, ramp);
    Morvel::interpolateMatrix (from, to, n, ramp);
    ASSERT_EQ (ramp.size(), static_cast<std::size_t> (n));

    bool lastDiffersFromFormula = false;
    for (Eigen::Index e = 0; e < from.size(); ++e)
    {
        const float step = (to (e) - from (e)) / static_cast<float> (n - 1);
        for (int k = 1; k < n - 1; k += 97)
            ASSERT_EQ (ramp[static_cast<std::size_t> (k)](e), step * static_cast<float> (k) + from (e));
        lastDiffersFromFormula |= (step * static_cast<float> (n - 1) + from (e)) != to (e);
    }
    EXPECT_TRUE (ramp.front() == from);
    EXPECT_TRUE (ramp.back() == to);
    EXPECT_TRUE (lastDiffersFromFormula) << "pick other matrices: the exact last entry is not being tested";
}

TEST (InterpolateMatrix, EqualEndsGiveIdenticalCopies)
{
    const Eigen::MatrixXf m = randomMatrix (8, 24, 7);
    std::vector<Eigen::MatrixXf> ramp;
    Morvel::interpolateMatrix (m, m, 64, ramp);
    ASSERT_EQ (ramp.size(), 64u);
    for (const auto& entry : ramp)
        EXPECT_TRUE (entry == m);
}

// ---- sigmoid --------------------------------------------------------------------------

TEST (Sigmoid, IsTheLogisticFunctionWithinItsRange)
{
    Eigen::MatrixXf m (2, 4);
    m << 0.0f, 1.0f, -1.0f, 4.0f, -200.0f, 200.0f, 1e-8f, -20.0f;
    const Eigen::MatrixXf s = Morvel::sigmoid<float> (m);
    ASSERT_EQ (s.rows(), 2);
    ASSERT_EQ (s.cols(), 4);
    EXPECT_EQ (s (0, 0), 0.5f);
    for (Eigen::Index k = 0; k < m.size(); ++k)
    {
        EXPECT_NEAR (s (k), 1.0 / (1.0 + std::exp (-static_cast<double> (m (k)))), 1e-6);
        EXPECT_GE (s (k), 0.0f);
        EXPECT_LE (s (k), 1.0f);
    }
}

// ---- the cell -------------------------------------------------------------------------

// Every test of a step runs three times: with the steps chosen for this processor, with
// the widest instruction set left out (on a processor that has it, the next one runs),
// and with the portable code forced.
enum class Kernels { chosen, withoutAvx512, portable };

class HyperGRUStep : public ::testing::TestWithParam<Kernels>
{
protected:
    void SetUp() override
    {
        Morvel::CellStepKernel::forcePortable (GetParam() == Kernels::portable);
        Morvel::CellStepKernel::forbidAvx512 (GetParam() == Kernels::withoutAvx512);
    }

    void TearDown() override
    {
        Morvel::CellStepKernel::forcePortable (false);
        Morvel::CellStepKernel::forbidAvx512 (false);
    }
};

INSTANTIATE_TEST_SUITE_P (Kernels, HyperGRUStep, ::testing::Values (Kernels::chosen, Kernels::withoutAvx512, Kernels::portable),
                          [] (const ::testing::TestParamInfo<Kernels>& info)
                          {
                              switch (info.param)
                              {
                                  case Kernels::chosen: return "ChosenForThisProcessor";
                                  case Kernels::withoutAvx512: return "WithoutAvx512";
                                  case Kernels::portable: break;
                              }
                              return "Portable";
                          });

TEST (HyperGRU, ConstructedEmptyWithOneRow)
{
    Cell cell;
    EXPECT_EQ (cell.batchSize, 1);
    EXPECT_EQ (cell.stepCount, 0);
    EXPECT_EQ (cell.hiddenState.size(), 0);
    EXPECT_EQ (cell.cellInput.size(), 0);
}

TEST_P (HyperGRUStep, ResetSizesAndZeroesStateAndInput)
{
    const RandomWeights w (1);
    Cell cell;
    cell.outputWeights = w.out;
    cell.reset (3, 480);
    EXPECT_EQ (cell.batchSize, 3);
    EXPECT_EQ (cell.stepCount, 480);
    cell.cellInput.setConstant (0.7f);
    cell.forward_cell (cell.cellInput, w.wih, w.whh);
    ASSERT_FALSE (cell.hiddenState.isZero (0.0f));

    const float* storage = cell.hiddenState.data();
    cell.reset (3, 960);
    EXPECT_EQ (cell.hiddenState.data(), storage) << "same row count keeps the storage";
    EXPECT_TRUE (cell.hiddenState.isZero (0.0f));
    EXPECT_TRUE (cell.cellInput.isZero (0.0f));
    EXPECT_EQ (cell.hiddenState.rows(), 3);
    EXPECT_EQ (cell.hiddenState.cols(), 8);

    cell.reset (12, 960);
    EXPECT_EQ (cell.hiddenState.rows(), 12);
    EXPECT_EQ (cell.cellInput.rows(), 12);
    EXPECT_TRUE (cell.hiddenState.isZero (0.0f));
}

TEST_P (HyperGRUStep, NoRowsIsAValidCell)
{
    const RandomWeights w (11);
    Cell cell;
    cell.reset (0, 512);
    cell.forward_cell (cell.cellInput, w.wih, w.whh);
    EXPECT_EQ (cell.cellOutput.rows(), 0);
    EXPECT_EQ (cell.hiddenState.rows(), 0);
}

TEST_P (HyperGRUStep, WeightsOfTheWrongShapeAreNotReadAndGiveSilence)
{
    const RandomWeights w (12);
    Cell cell;
    cell.outputWeights = w.out;
    cell.reset (2, 16);
    cell.cellInput << 0.5f, -0.5f;
    cell.forward_cell (cell.cellInput, w.wih, w.whh);
    const Eigen::MatrixXf state = cell.hiddenState;

    const Eigen::MatrixXf empty;
    cell.forward_cell (cell.cellInput, empty, empty); // a hypernetwork that never ran
    EXPECT_TRUE (cell.hiddenState == state);
    EXPECT_TRUE (cell.cellOutput.isZero (0.0f));

    cell.forward_cell (cell.cellInput, w.wih.transpose(), w.whh);
    EXPECT_TRUE (cell.hiddenState == state);
}

TEST_P (HyperGRUStep, ZeroInputAndStateGiveHalfGatesAndZeroOutput)
{
    const RandomWeights w (2);
    Cell cell;
    cell.outputWeights = w.out;
    cell.reset (2, 16);
    cell.forward_cell (cell.cellInput, w.wih, w.whh);

    EXPECT_TRUE (cell.resetGate.isConstant (0.5f, 0.0f));
    EXPECT_TRUE (cell.updateGate.isConstant (0.5f, 0.0f));
    EXPECT_TRUE (cell.candidateState.isZero (0.0f));
    EXPECT_TRUE (cell.hiddenState.isZero (0.0f));
    ASSERT_EQ (cell.cellOutput.rows(), 2);
    ASSERT_EQ (cell.cellOutput.cols(), 1);
    EXPECT_TRUE (cell.cellOutput.isZero (0.0f));
}

// Each row count takes another layout of the fields in the fast step; every field must
// hold the last step's values in the cell's column-major shapes.
TEST_P (HyperGRUStep, FieldsHoldTheLastStepsValues)
{
    const RandomWeights w (3);
    for (int rows : { 1, 2, 3, 12 })
    {
        Cell cell;
        cell.outputWeights = w.out;
        cell.reset (rows, 16);
        for (int r = 0; r < rows; ++r)
            cell.cellInput (r, 0) = 0.3f - 0.17f * static_cast<float> (r);
        cell.forward_cell (cell.cellInput, w.wih, w.whh);
        const Eigen::MatrixXf before = cell.hiddenState;
        for (int r = 0; r < rows; ++r)
            cell.cellInput (r, 0) = -0.1f + 0.23f * static_cast<float> (r);
        cell.forward_cell (cell.cellInput, w.wih, w.whh);

        const Eigen::MatrixXf inputGates = cell.cellInput * w.wih;
        const Eigen::MatrixXf hiddenGates = before * w.whh;
        const Eigen::MatrixXf reset = Morvel::sigmoid<float> (inputGates.leftCols (8) + hiddenGates.leftCols (8));
        const Eigen::MatrixXf update = Morvel::sigmoid<float> (inputGates.middleCols (8, 8) + hiddenGates.middleCols (8, 8));
        const Eigen::MatrixXf candidate = (reset.array() * hiddenGates.rightCols (8).array() + inputGates.rightCols (8).array()).tanh().matrix();
        const Eigen::MatrixXf hidden = (update.array() * before.array() + (1.0f - update.array()) * candidate.array()).matrix();
        const Eigen::MatrixXf output = hidden * w.out;

        auto expectClose = [rows] (const Eigen::MatrixXf& actual, const Eigen::MatrixXf& expected, const char* field)
        {
            ASSERT_EQ (actual.rows(), expected.rows()) << field << ", " << rows << " rows";
            ASSERT_EQ (actual.cols(), expected.cols()) << field << ", " << rows << " rows";
            EXPECT_LT ((actual - expected).cwiseAbs().maxCoeff(), 2e-6f) << field << ", " << rows << " rows";
        };
        expectClose (cell.inputGates, inputGates, "inputGates");
        expectClose (cell.hiddenGates, hiddenGates, "hiddenGates");
        expectClose (cell.resetGate, reset, "resetGate");
        expectClose (cell.updateGate, update, "updateGate");
        expectClose (cell.candidateState, candidate, "candidateState");
        expectClose (cell.hiddenState, hidden, "hiddenState");
        expectClose (cell.cellOutput, output, "cellOutput");
    }
}

TEST_P (HyperGRUStep, FollowsADoublePrecisionCellOverManySteps)
{
    const RandomWeights w (4);
    Cell cell;
    cell.outputWeights = w.out;
    cell.reset (1, 1);
    Morvel::testing::ReferenceCell reference;

    const auto x = testSignal (20000, 5);
    double largest = 0.0, largestOutput = 0.0;
    for (float sample : x)
    {
        cell.cellInput (0, 0) = sample;
        cell.forward_cell (cell.cellInput, w.wih, w.whh);
        const double expected = reference.step (sample, w.wihVector(), w.whhRowMajor(), w.outVector());
        largest = std::max (largest, std::abs (cell.cellOutput (0, 0) - expected));
        largestOutput = std::max (largestOutput, std::abs (expected));
    }
    EXPECT_LT (largest, 5e-6) << "float cell drifted from the double-precision one";
    EXPECT_GT (largestOutput, 0.1) << "the test signal should drive the cell";
}

// The allocation-free step must give the numbers of the plain step with its temporaries;
// only the summation order of the small products differs.
void compareWithLiteral (int rows, unsigned seed, const RandomWeights& w)
{
    Cell cell;
    Literal literal;
    cell.outputWeights = literal.outputWeights = w.out;
    cell.reset (rows, 1);
    literal.reset (rows);

    const auto x = testSignal (10000 + 97 * static_cast<std::size_t> (rows), seed);
    double largest = 0.0;
    for (std::size_t n = 0; n < 10000; ++n)
    {
        for (int r = 0; r < rows; ++r)
            cell.cellInput (r, 0) = literal.cellInput (r, 0) = x[n + 97 * static_cast<std::size_t> (r)];
        cell.forward_cell (cell.cellInput, w.wih, w.whh);
        literal.forward_cell (literal.cellInput, w.wih, w.whh);
        largest = std::max (largest, static_cast<double> ((cell.cellOutput - literal.cellOutput).cwiseAbs().maxCoeff()));
    }
    EXPECT_LT (largest, 1e-6) << rows << " rows";
    EXPECT_LT ((cell.hiddenState - literal.hiddenState).cwiseAbs().maxCoeff(), 1e-6f);
}

TEST_P (HyperGRUStep, MatchesTheLiteralStepOverTenThousandSteps)
{
    // Row counts around the fast step's eight-row packets as well as the usual ones.
    for (int rows : { 1, 2, 3, 5, 7, 8, 9, 12, 16, 17 })
        compareWithLiteral (rows, 40u + static_cast<unsigned> (rows), RandomWeights (40u + static_cast<unsigned> (rows)));
}

TEST_P (HyperGRUStep, MatchesTheLiteralStepWithTheShippedWeights)
{
    std::ifstream file (std::string (TESSALINE_RESOURCES_DIR) + "/weights/tone_standard_rate_1024.json");
    ASSERT_TRUE (file) << "standard-rate weight document missing";
    std::stringstream text;
    text << file.rdbuf();
    auto doc = nlohmann::json::parse (text.str());

    auto subnet = std::make_unique<Morvel::Subnet<float, 1, 2, 8, 1024>>();
    Cell loaded;
    Morvel::loadModel (doc, *subnet, loaded);

    const float settings[2][2] = { { 0.35f, 0.35f }, { 1.0f, 0.0f } };
    for (const auto& knobs : settings)
    {
        subnet->forward (knobs);
        RandomWeights w (0);
        w.wih = subnet->ihWeights;
        w.whh = subnet->hhWeights;
        w.out = loaded.outputWeights;
        for (int rows : { 1, 2, 12 })
            compareWithLiteral (rows, 70u + static_cast<unsigned> (rows), w);
    }
}

// A run of steps over channel buffers, as the processor drives the cell, in runs of
// varying length (the weights arranged once per run), against the literal step.
TEST_P (HyperGRUStep, ARunOfStepsMatchesTheLiteralStepSampleBySample)
{
    const RandomWeights w (15);
    const int runs[] = { 1024, 1, 2, 333, 7, 1115 };
    for (int rows : { 1, 2, 3, 8, 12, 16, 17, 24 })
    {
        Cell cell;
        Literal literal;
        cell.outputWeights = literal.outputWeights = w.out;
        cell.reset (rows, 1024);
        literal.reset (rows);

        std::vector<std::vector<float>> channels;
        for (int r = 0; r < rows; ++r)
            channels.push_back (testSignal (2482, 90u + static_cast<unsigned> (r)));
        std::vector<float*> pointers;
        for (auto& channel : channels)
            pointers.push_back (channel.data());
        const auto inputs = channels;

        int start = 0;
        for (int count : runs)
        {
            cell.forwardBlock (pointers.data(), start, count, w.wih, w.whh);
            start += count;
        }

        double largest = 0.0;
        for (int t = 0; t < start; ++t)
        {
            for (int r = 0; r < rows; ++r)
                literal.cellInput (r, 0) = inputs[static_cast<std::size_t> (r)][static_cast<std::size_t> (t)];
            literal.forward_cell (literal.cellInput, w.wih, w.whh);
            for (int r = 0; r < rows; ++r)
                largest = std::max (largest, std::abs (static_cast<double> (channels[static_cast<std::size_t> (r)][static_cast<std::size_t> (t)])
                                                       - literal.cellOutput (r, 0)));
        }
        EXPECT_LT (largest, 1e-6) << rows << " rows";

        // The fields hold the last step's values, as after single steps.
        EXPECT_LT ((cell.hiddenState - literal.hiddenState).cwiseAbs().maxCoeff(), 1e-6f) << rows << " rows";
        EXPECT_LT ((cell.hiddenGates - literal.hiddenGates).cwiseAbs().maxCoeff(), 1e-6f) << rows << " rows";
        EXPECT_LT ((cell.updateGate - literal.updateGate).cwiseAbs().maxCoeff(), 1e-6f) << rows << " rows";
        EXPECT_LT ((cell.cellOutput - literal.cellOutput).cwiseAbs().maxCoeff(), 1e-6f) << rows << " rows";
        EXPECT_TRUE (cell.cellInput == literal.cellInput) << rows << " rows";
    }
}

// A ramp computed as the run goes gives the numbers of the ramp built entry by entry,
// stepped one entry at a time: exactly those of the same cell's single steps, and the
// literal step's within float precision. Runs split the block as a host might.
TEST_P (HyperGRUStep, ARampedRunFollowsTheRampEntryByEntry)
{
    const RandomWeights before (17), after (18);
    for (int rows : { 1, 2, 3, 12, 20 })
        for (int length : { 1, 2, 3, 1024 })
        {
            Cell ramped, stepped;
            Literal literal;
            ramped.outputWeights = stepped.outputWeights = literal.outputWeights = before.out;
            ramped.reset (rows, length);
            stepped.reset (rows, length);
            literal.reset (rows);

            std::vector<Eigen::MatrixXf> ihSteps, hhSteps;
            Morvel::interpolateMatrix (before.wih, after.wih, length, ihSteps);
            Morvel::interpolateMatrix (before.whh, after.whh, length, hhSteps);

            std::vector<std::vector<float>> channels;
            for (int r = 0; r < rows; ++r)
                channels.push_back (testSignal (static_cast<std::size_t> (length), 60u + static_cast<unsigned> (r)));
            const auto inputs = channels;
            std::vector<float*> pointers;
            for (auto& channel : channels)
                pointers.push_back (channel.data());

            const int firstRun = length / 3;
            ramped.forwardRamp (pointers.data(), 0, firstRun, before.wih, before.whh, after.wih, after.whh, length);
            ramped.forwardRamp (pointers.data(), firstRun, length - firstRun, before.wih, before.whh, after.wih, after.whh, length);

            for (int t = 0; t < length; ++t)
            {
                const auto e = static_cast<std::size_t> (std::min (t, static_cast<int> (ihSteps.size()) - 1));
                for (int r = 0; r < rows; ++r)
                    stepped.cellInput (r, 0) = literal.cellInput (r, 0) = inputs[static_cast<std::size_t> (r)][static_cast<std::size_t> (t)];
                stepped.forward_cell (stepped.cellInput, ihSteps[e], hhSteps[e]);
                literal.forward_cell (literal.cellInput, ihSteps[e], hhSteps[e]);
                for (int r = 0; r < rows; ++r)
                {
                    const float output = channels[static_cast<std::size_t> (r)][static_cast<std::size_t> (t)];
                    ASSERT_EQ (output, stepped.cellOutput (r, 0)) << rows << " rows, length " << length << ", step " << t;
                    ASSERT_NEAR (output, literal.cellOutput (r, 0), 1e-6) << rows << " rows, length " << length << ", step " << t;
                }
            }
            EXPECT_TRUE (ramped.hiddenState == stepped.hiddenState);
        }
}

TEST_P (HyperGRUStep, ARunWithWeightsOfTheWrongShapeGivesSilence)
{
    const RandomWeights w (16);
    Cell cell;
    cell.outputWeights = w.out;
    cell.reset (2, 8);
    std::vector<float> a (8, 0.5f), b (8, -0.5f);
    float* channels[] = { a.data(), b.data() };
    const Eigen::MatrixXf empty;
    cell.forwardBlock (channels, 0, 8, empty, w.whh);
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ (a[static_cast<std::size_t> (t)] + std::abs (b[static_cast<std::size_t> (t)]), 0.0f);
    EXPECT_TRUE (cell.hiddenState.isZero (0.0f));
}

TEST_P (HyperGRUStep, TwelveRowsAreTwelveIndependentChannels)
{
    const RandomWeights w (6);
    Cell many;
    many.outputWeights = w.out;
    many.reset (12, 1);
    std::vector<Cell> single (12);
    for (auto& c : single)
    {
        c.outputWeights = w.out;
        c.reset (1, 1);
    }

    const auto x = testSignal (3000 + 12 * 131, 7);
    for (std::size_t n = 0; n < 3000; ++n)
    {
        for (int r = 0; r < 12; ++r)
        {
            const float sample = x[n + 131 * static_cast<std::size_t> (r)];
            many.cellInput (r, 0) = sample;
            single[static_cast<std::size_t> (r)].cellInput (0, 0) = sample;
            single[static_cast<std::size_t> (r)].forward_cell (single[static_cast<std::size_t> (r)].cellInput, w.wih, w.whh);
        }
        many.forward_cell (many.cellInput, w.wih, w.whh);
        for (int r = 0; r < 12; ++r)
            ASSERT_NEAR (many.cellOutput (r, 0), single[static_cast<std::size_t> (r)].cellOutput (0, 0), 1e-6) << "row " << r << ", step " << n;
    }
}

TEST_P (HyperGRUStep, ARampAcrossABlockRunsFromOldToNewWeights)
{
    const RandomWeights before (8), after (9);
    std::vector<Eigen::MatrixXf> ihSteps, hhSteps;

    // One-sample block: its only step uses the old weights.
    Morvel::interpolateMatrix (before.wih, after.wih, 1, ihSteps);
    Morvel::interpolateMatrix (before.whh, after.whh, 1, hhSteps);
    Cell ramped, old;
    ramped.outputWeights = old.outputWeights = before.out;
    ramped.reset (1, 1);
    old.reset (1, 1);
    ramped.cellInput (0, 0) = old.cellInput (0, 0) = 0.4f;
    ramped.forward_cell (ramped.cellInput, ihSteps[0], hhSteps[0]);
    old.forward_cell (old.cellInput, before.wih, before.whh);
    EXPECT_EQ (ramped.cellOutput (0, 0), old.cellOutput (0, 0));

    // Two-sample block: the second step already uses the new weights.
    Morvel::interpolateMatrix (before.wih, after.wih, 2, ihSteps);
    Morvel::interpolateMatrix (before.whh, after.whh, 2, hhSteps);
    Cell reference = old;
    ramped.forward_cell (ramped.cellInput, ihSteps[1], hhSteps[1]);
    reference.forward_cell (reference.cellInput, after.wih, after.whh);
    EXPECT_EQ (ramped.cellOutput (0, 0), reference.cellOutput (0, 0));
}

TEST_P (HyperGRUStep, StaysFiniteAndBoundedUnderExtremeInput)
{
    const RandomWeights w (10, 20.0f, 3.0f);
    Cell cell;
    cell.outputWeights = w.out;
    cell.reset (4, 1);
    for (int n = 0; n < 2000; ++n)
    {
        cell.cellInput.setConstant ((n % 2 == 0 ? 1.0f : -1.0f) * 1.0e6f * static_cast<float> (n % 7));
        cell.forward_cell (cell.cellInput, w.wih, w.whh);
        ASSERT_TRUE (cell.hiddenState.allFinite());
        ASSERT_LE (cell.hiddenState.cwiseAbs().maxCoeff(), 1.0f);
    }
}

// Far outside the exponential's range the gates saturate, where the fast step forms its
// powers of two in its own way; it must still give the plain step's numbers there.
TEST_P (HyperGRUStep, SaturatedGatesMatchTheLiteralStep)
{
    const RandomWeights w (13, 20.0f, 3.0f);
    const float magnitudes[] = { 0.0f, 3.0f, 50.0f, 1.0e4f, 1.0e30f };
    for (int rows : { 1, 2, 12 })
    {
        Cell cell;
        Literal literal;
        cell.outputWeights = literal.outputWeights = w.out;
        cell.reset (rows, 1);
        literal.reset (rows);
        for (int n = 0; n < 500; ++n)
        {
            for (int r = 0; r < rows; ++r)
                cell.cellInput (r, 0) = literal.cellInput (r, 0) = ((n + r) % 2 == 0 ? 1.0f : -1.0f) * magnitudes[(n / 3 + r) % 5];
            cell.forward_cell (cell.cellInput, w.wih, w.whh);
            literal.forward_cell (literal.cellInput, w.wih, w.whh);
            ASSERT_LT ((cell.resetGate - literal.resetGate).cwiseAbs().maxCoeff(), 1e-6f) << rows << " rows, step " << n;
            ASSERT_LT ((cell.updateGate - literal.updateGate).cwiseAbs().maxCoeff(), 1e-6f) << rows << " rows, step " << n;
            ASSERT_LT ((cell.cellOutput - literal.cellOutput).cwiseAbs().maxCoeff(), 1e-6f) << rows << " rows, step " << n;
        }
    }
}

// ---- the choice of step ---------------------------------------------------------------

#if defined(__x86_64__) || defined(__i386__)
TEST (CellStepKernel, TheAvx2StepIsChosenExactlyWhereTheProcessorHasIt)
{
    __builtin_cpu_init();
    const bool capable = __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma");
    EXPECT_EQ (Morvel::CellStepKernel::select() == &Morvel::CellStepKernel::stepAvx2, capable);

    Morvel::CellStepKernel::forcePortable (true);
    EXPECT_EQ (Morvel::CellStepKernel::select(), nullptr);
    Morvel::CellStepKernel::forcePortable (false);
    EXPECT_EQ (Morvel::CellStepKernel::select() == &Morvel::CellStepKernel::stepAvx2, capable);
}

TEST (CellStepKernel, TheAvx512RunIsChosenExactlyWhereTheProcessorHasIt)
{
    using Kernel = Morvel::CellStepKernel;
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma");
    const bool avx512 = avx2 && __builtin_cpu_supports ("avx512f");
    EXPECT_EQ (Kernel::selectBlock() == &Kernel::runAvx512, avx512);
    EXPECT_EQ (Kernel::selectBlock() == &Kernel::runAvx2, avx2 && ! avx512);

    Kernel::forbidAvx512 (true);
    EXPECT_EQ (Kernel::selectBlock() == &Kernel::runAvx2, avx2);
    Kernel::forcePortable (true);
    EXPECT_EQ (Kernel::selectBlock(), nullptr);
    Kernel::forcePortable (false);
    Kernel::forbidAvx512 (false);
    EXPECT_EQ (Kernel::selectBlock() == &Kernel::runAvx512, avx512);
}
#endif

// One guarded array per field of the fast step: margin, the field, margin.
struct GuardedFields
{
    static constexpr std::size_t margin = 16;
    static constexpr float guard = 12345.0f;

    explicit GuardedFields (int rowCount)
        : rows (rowCount), n (static_cast<std::size_t> (rowCount))
    {
        for (std::size_t k = 0; k < n; ++k)
            input[margin + k] = 0.1f * static_cast<float> (k) - 0.5f;
        for (std::size_t k = 0; k < 8 * n; ++k)
            hidden[margin + k] = 0.05f * static_cast<float> (k % 11) - 0.25f;
    }

    Morvel::CellStepKernel::Buffers buffers (const RandomWeights& w)
    {
        return { input.data() + margin, w.wih.data(), w.whh.data(), w.out.data(), hidden.data() + margin, output.data() + margin,
                 reset.data() + margin, update.data() + margin, candidate.data() + margin, inputGates.data() + margin,
                 hiddenGates.data() + margin, static_cast<long> (rows) };
    }

    void expectOnlyFieldsWritten() const
    {
        for (const auto* field : { &input, &hidden, &output, &reset, &update, &candidate, &inputGates, &hiddenGates })
        {
            const std::vector<float>& f = *field;
            for (std::size_t k = 0; k < margin; ++k)
            {
                ASSERT_EQ (f[k], guard) << rows << " rows, before a field";
                ASSERT_EQ (f[f.size() - 1 - k], guard) << rows << " rows, after a field";
            }
            for (std::size_t k = margin; k < f.size() - margin; ++k)
                ASSERT_NE (f[k], guard) << rows << " rows, element " << k - margin << " not written";
        }
    }

    int rows;
    std::size_t n;
    std::vector<float> input = guarded (n), hidden = guarded (8 * n), output = guarded (n), reset = guarded (8 * n),
                       update = guarded (8 * n), candidate = guarded (8 * n), inputGates = guarded (24 * n),
                       hiddenGates = guarded (24 * n);

private:
    static std::vector<float> guarded (std::size_t size) { return std::vector<float> (size + 2 * margin, guard); }
};

// The fast step's last packet of rows is masked; nothing around the fields may change.
TEST (CellStepKernel, WritesOnlyInsideTheFields)
{
    const auto step = Morvel::CellStepKernel::select();
    if (step == nullptr)
        GTEST_SKIP() << "this processor runs the portable step only";

    const RandomWeights w (14);
    for (int rows = 1; rows <= 17; ++rows)
    {
        GuardedFields fields (rows);
        step (fields.buffers (w));
        fields.expectOnlyFieldsWritten();
    }
}

// The fast runs' packets of rows are masked too; a run of steps writes its fields, its
// inputs and its channels' samples in the run, and nothing else.
void expectRunWritesOnlyInsideTheFields (Morvel::CellStepKernel::BlockFunction run)
{
    constexpr long first = 3, count = 5, length = 11;
    constexpr float guard = GuardedFields::guard;
    const RandomWeights w (19);

    for (int rows = 1; rows <= 34; ++rows)
    {
        GuardedFields fields (rows);
        const std::size_t n = fields.n;

        std::vector<std::vector<float>> channels (n, std::vector<float> (length, guard));
        std::vector<float*> pointers;
        for (std::size_t r = 0; r < n; ++r)
        {
            for (long t = first; t < first + count; ++t)
                channels[r][static_cast<std::size_t> (t)] = 0.1f * static_cast<float> (r) - 0.3f * static_cast<float> (t % 3);
            pointers.push_back (channels[r].data());
        }

        // The run's inputs take each step's samples: the guarded input field stands in.
        Morvel::CellStepKernel::Block block { fields.buffers (w), fields.input.data() + GuardedFields::margin, pointers.data(),
                                              first, count };
        run (block);

        fields.expectOnlyFieldsWritten();
        for (std::size_t r = 0; r < n; ++r)
            for (long t = 0; t < length; ++t)
                ASSERT_EQ (channels[r][static_cast<std::size_t> (t)] == guard, t < first || t >= first + count)
                    << rows << " rows, channel " << r << ", sample " << t;
    }
}

TEST (CellStepKernel, ARunWritesOnlyInsideTheFieldsAndItsSamples)
{
    if (Morvel::CellStepKernel::selectBlock() == nullptr)
        GTEST_SKIP() << "this processor runs the portable code only";

    expectRunWritesOnlyInsideTheFields (Morvel::CellStepKernel::selectBlock());
    Morvel::CellStepKernel::forbidAvx512 (true);
    expectRunWritesOnlyInsideTheFields (Morvel::CellStepKernel::selectBlock());
    Morvel::CellStepKernel::forbidAvx512 (false);
}

} // namespace
