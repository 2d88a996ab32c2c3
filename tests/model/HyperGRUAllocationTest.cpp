#include "model/HyperGRU.h"
#include "model/Subnet.h"
#include "tests/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{
using tessaline::testing::countAllocations;

TEST (AllocationCounter, SeesEigenAndStandardAllocations)
{
    if (! tessaline::testing::AllocationCounter::isSupported())
        GTEST_SKIP() << "allocations cannot be counted on this platform";

    EXPECT_GE (countAllocations ([] { Eigen::MatrixXf m (8, 24); m.setZero(); }), 1u);
    EXPECT_GE (countAllocations ([] { std::vector<int> v (10); (void) v; }), 1u);
    static volatile std::size_t sink = 0;
    EXPECT_GE (countAllocations ([] { std::string s (200, 'x'); sink = sink + s.size(); }), 1u);
    EXPECT_EQ (countAllocations ([] {}), 0u);
}

TEST (HyperGRUAllocation, StepsAndRunsAllocateNothingAfterAReset)
{
    if (! tessaline::testing::AllocationCounter::isSupported())
        GTEST_SKIP() << "allocations cannot be counted on this platform";

    const Eigen::MatrixXf wih = Eigen::MatrixXf::Constant (1, 24, 0.3f);
    const Eigen::MatrixXf whh = Eigen::MatrixXf::Constant (8, 24, -0.2f);
    const Eigen::MatrixXf otherWih = Eigen::MatrixXf::Constant (1, 24, -0.1f);
    const Eigen::MatrixXf otherWhh = Eigen::MatrixXf::Constant (8, 24, 0.4f);

    // The step chosen for this processor, then the portable code.
    for (bool portable : { false, true })
    {
        Morvel::CellStepKernel::forcePortable (portable);
        Morvel::HyperGRU<float, 1, 1, 8> cell;
        cell.outputWeights.setConstant (0.1f);

        for (int rows : { 1, 2, 12, 5, 12 })
        {
            // The reset sizes the scratch for this row count: the first step allocates nothing.
            cell.reset (rows, 64);
            std::vector<std::vector<float>> channels (static_cast<std::size_t> (rows), std::vector<float> (64, 0.25f));
            std::vector<float*> pointers;
            for (auto& channel : channels)
                pointers.push_back (channel.data());

            const auto allocations = countAllocations ([&]
            {
                for (int n = 0; n < 1000; ++n)
                {
                    cell.cellInput.setConstant (static_cast<float> (n % 5) * 0.1f);
                    cell.forward_cell (cell.cellInput, wih, whh);
                }
                cell.forwardBlock (pointers.data(), 0, 64, wih, whh);
                cell.forwardRamp (pointers.data(), 0, 64, wih, whh, otherWih, otherWhh, 64);
            });
            EXPECT_EQ (allocations, 0u) << rows << " rows" << (portable ? ", portable step" : "");
        }
    }
    Morvel::CellStepKernel::forcePortable (false);
}

TEST (HyperGRUAllocation, ResetWithTheSameRowCountAllocatesNothing)
{
    if (! tessaline::testing::AllocationCounter::isSupported())
        GTEST_SKIP() << "allocations cannot be counted on this platform";

    Morvel::HyperGRU<float, 1, 1, 8> cell;
    cell.reset (12, 512);
    EXPECT_EQ (countAllocations ([&] { cell.reset (12, 1024); }), 0u);
}

TEST (HyperGRUAllocation, RepeatedRampAndEvaluationReuseTheirStorage)
{
    if (! tessaline::testing::AllocationCounter::isSupported())
        GTEST_SKIP() << "allocations cannot be counted on this platform";

    auto subnet = std::make_unique<Morvel::Subnet<float, 1, 2, 8, 2048>>();
    const float first[2] = { 0.2f, 0.4f };
    const float second[2] = { 0.7f, 0.1f };
    subnet->forward (first);
    const Eigen::MatrixXf from = subnet->hhWeights;
    std::vector<Eigen::MatrixXf> ramp;
    Morvel::interpolateMatrix (from, subnet->hhWeights, 512, ramp);

    EXPECT_EQ (countAllocations ([&] { subnet->forward (second); }), 0u);
    EXPECT_EQ (countAllocations ([&] { Morvel::interpolateMatrix (from, subnet->hhWeights, 512, ramp); }), 0u);
}

} // namespace
