// Hypernetwork evaluation and recurrent-cell step, with the plain dynamic-Eigen step
// beside the allocation-free one (single steps and runs over a model block, as chosen for
// this processor and in its portable code) so that every run states the speed-up each buys.

#include "model/HyperGRU.h"
#include "model/Subnet.h"
#include "tests/model/LiteralHyperGRU.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr int hiddenSize = 8;
constexpr int gateWidth = 3 * hiddenSize;
constexpr int inputBlock = 4096; // input samples cycled through by the cell benchmarks

template <int N>
void fillRandomly (Morvel::Subnet<float, 1, 2, hiddenSize, N>& subnet)
{
    std::srand (7);
    auto fill = [] (auto& layer)
    {
        layer.weight.setRandom();
        layer.weight *= 0.4f;
        layer.bias.setRandom();
        layer.bias *= 0.1f;
    };
    fill (subnet.preLayer0);
    fill (subnet.preLayer2);
    fill (subnet.ihLayer0);
    fill (subnet.ihLayer2);
    fill (subnet.ihProjection);
    fill (subnet.hhLayer0);
    fill (subnet.hhLayer2);
    fill (subnet.hhProjection);
    fill (subnet.convLayer0);
    fill (subnet.convLayer2);
    fill (subnet.convProjection);
}

template <int N>
void BM_HypernetworkForward (benchmark::State& state)
{
    Morvel::Subnet<float, 1, 2, hiddenSize, N> subnet;
    fillRandomly (subnet);
    float knobs[2] = { 0.35f, 0.5f };

    for (auto _ : state)
    {
        knobs[0] = knobs[0] < 0.9f ? knobs[0] + 0.01f : 0.1f;
        subnet.forward (knobs);
        benchmark::DoNotOptimize (subnet.convKernel.data());
        benchmark::ClobberMemory();
    }
}

// The hypernetwork's portable code, which processors without a faster layer run.
template <int N>
void BM_HypernetworkForwardPortable (benchmark::State& state)
{
    Morvel::LayerKernel::forcePortable (true);
    BM_HypernetworkForward<N> (state);
    Morvel::LayerKernel::forcePortable (false);
}

struct CellInputs
{
    Eigen::MatrixXf inputWeights;
    Eigen::MatrixXf recurrentWeights;
    Eigen::Matrix<float, hiddenSize, 1> outputWeights;
    std::vector<float> samples;

    CellInputs()
    {
        std::srand (11);
        inputWeights = Eigen::MatrixXf::Random (1, gateWidth) * 2.0f;
        recurrentWeights = Eigen::MatrixXf::Random (hiddenSize, gateWidth) * 0.8f;
        outputWeights.setRandom();

        std::mt19937 generator (3);
        std::uniform_real_distribution<float> uniform (-1.0f, 1.0f);
        samples.resize (inputBlock);
        for (auto& s : samples)
            s = uniform (generator);
    }
};

// One step for every row, the way the processor drives the cell: write the inputs,
// step, read the outputs.
template <typename Cell>
void runSteps (benchmark::State& state, Cell& cell, const CellInputs& in, int rows)
{
    std::size_t position = 0;
    float sink = 0.0f;

    for (auto _ : state)
    {
        for (int r = 0; r < rows; ++r)
            cell.cellInput (r, 0) = in.samples[(position + static_cast<std::size_t> (r) * 97) % inputBlock];

        cell.forward_cell (cell.cellInput, in.inputWeights, in.recurrentWeights);

        for (int r = 0; r < rows; ++r)
            sink += cell.cellOutput (r, 0);

        position = (position + 1) % inputBlock;
    }

    benchmark::DoNotOptimize (sink);
    state.SetItemsProcessed (state.iterations() * rows);
}

// The cell as the plug-in runs it: the step chosen for this processor.
void BM_CellStepOptimised (benchmark::State& state)
{
    const int rows = static_cast<int> (state.range (0));
    const CellInputs in;
    Morvel::HyperGRU<float, 1, 1, hiddenSize> cell;
    cell.outputWeights = in.outputWeights;
    cell.reset (rows, 512);
    runSteps (state, cell, in, rows);
}

// The cell's portable code, which processors without a faster step run.
void BM_CellStepPortable (benchmark::State& state)
{
    Morvel::CellStepKernel::forcePortable (true);
    BM_CellStepOptimised (state);
    Morvel::CellStepKernel::forcePortable (false);
}

constexpr int runLength = 1024; // steps per run: a model block at 48 kHz with 512-sample blocks

// A cell ready for runs over `rows` channels, each a different stretch of the inputs.
struct CellRunSetup
{
    CellRunSetup (const CellInputs& in, int rows)
        : channels (static_cast<std::size_t> (rows))
    {
        cell.outputWeights = in.outputWeights;
        cell.reset (rows, runLength);
        for (int r = 0; r < rows; ++r)
        {
            auto& channel = channels[static_cast<std::size_t> (r)];
            channel.assign (in.samples.begin() + r * 97, in.samples.begin() + r * 97 + runLength);
            pointers.push_back (channel.data());
        }
    }

    Morvel::HyperGRU<float, 1, 1, hiddenSize> cell;
    std::vector<std::vector<float>> channels;
    std::vector<float*> pointers;
};

// The cell as the processor drives it: a run of steps over the model block's channels,
// with the steps chosen for this processor. Times are per run; the summary divides them.
void BM_CellRun (benchmark::State& state)
{
    const int rows = static_cast<int> (state.range (0));
    const CellInputs in;
    CellRunSetup run (in, rows);
    auto& cell = run.cell;
    auto& pointers = run.pointers;

    for (auto _ : state)
    {
        // The outputs replace the inputs; feeding them back keeps the state moving.
        cell.forwardBlock (pointers.data(), 0, runLength, in.inputWeights, in.recurrentWeights);
        benchmark::DoNotOptimize (pointers[0][runLength - 1]);
    }

    state.SetItemsProcessed (state.iterations() * rows * runLength);
}

// The run in the block where a tone control moved: the weights ramp across the run from
// one set to another, each step's entry computed as the run goes.
void BM_CellRampRun (benchmark::State& state)
{
    const int rows = static_cast<int> (state.range (0));
    const CellInputs in;
    const Eigen::MatrixXf fromInputWeights = in.inputWeights * 0.75f;
    const Eigen::MatrixXf fromRecurrentWeights = in.recurrentWeights * 0.9f;
    CellRunSetup run (in, rows);
    auto& cell = run.cell;
    auto& pointers = run.pointers;

    for (auto _ : state)
    {
        cell.forwardRamp (pointers.data(), 0, runLength, fromInputWeights, fromRecurrentWeights, in.inputWeights,
                          in.recurrentWeights, runLength);
        benchmark::DoNotOptimize (pointers[0][runLength - 1]);
    }

    state.SetItemsProcessed (state.iterations() * rows * runLength);
}

void BM_CellRunPortable (benchmark::State& state)
{
    Morvel::CellStepKernel::forcePortable (true);
    BM_CellRun (state);
    Morvel::CellStepKernel::forcePortable (false);
}

// The run with the next instruction set below the widest, where the processor has more.
void BM_CellRunWithoutAvx512 (benchmark::State& state)
{
    Morvel::CellStepKernel::forbidAvx512 (true);
    BM_CellRun (state);
    Morvel::CellStepKernel::forbidAvx512 (false);
}

void BM_CellStepLiteral (benchmark::State& state)
{
    const int rows = static_cast<int> (state.range (0));
    const CellInputs in;
    Morvel::testing::LiteralHyperGRU<1, 1, hiddenSize> cell;
    cell.outputWeights = in.outputWeights;
    cell.reset (rows);
    runSteps (state, cell, in, rows);
}

// Prints the console table as usual and, at the end, the literal step's time over the
// optimised step's time for every row count measured by both.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    // With repetitions the median stands for the benchmark; otherwise its single run.
    void ReportRuns (const std::vector<Run>& reports) override
    {
        for (const auto& run : reports)
        {
            if (run.error_occurred)
                continue;

            const auto name = run.run_name.str();
            const double nanoseconds = run.GetAdjustedCPUTime() * timeUnitToNanoseconds (run.time_unit);

            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[name] = nanoseconds;
            else if (run.run_type == Run::RT_Iteration)
                nanosecondsPerStep[name] = nanoseconds;
        }

        ConsoleReporter::ReportRuns (reports);
    }

    void printRatios()
    {
        for (const auto& [name, nanoseconds] : medians)
            nanosecondsPerStep[name] = nanoseconds;

        std::printf ("cell step chosen for this processor: %s\n",
                     Morvel::CellStepKernel::select() == nullptr ? "portable" : "AVX2 and FMA");
        const auto run = Morvel::CellStepKernel::selectBlock();
        std::printf ("cell run chosen for this processor: %s\n",
                     run == nullptr ? "portable" : run == &Morvel::CellStepKernel::runAvx512 ? "AVX-512F" : "AVX2 and FMA");

        struct Variant { const char* label; const char* prefix; double stepsPerIteration; };
        const Variant variants[] = { { "run", "BM_CellRun/", runLength },
                                     { "run, no AVX-512", "BM_CellRunWithoutAvx512/", runLength },
                                     { "run, portable", "BM_CellRunPortable/", runLength },
                                     { "step", "BM_CellStepOptimised/", 1.0 },
                                     { "step, portable", "BM_CellStepPortable/", 1.0 } };
        for (const auto& variant : variants)
            for (const int rows : { 1, 2, 12 })
            {
                const auto optimised = nanosecondsPerStep.find (variant.prefix + std::to_string (rows));
                const auto literal = nanosecondsPerStep.find ("BM_CellStepLiteral/" + std::to_string (rows));

                if (optimised != nanosecondsPerStep.end() && literal != nanosecondsPerStep.end() && optimised->second > 0.0)
                {
                    const double perStep = optimised->second / variant.stepsPerIteration;
                    std::printf ("cell step, %2d rows: %-15s %8.1f ns, literal %8.1f ns, speed ratio %5.2fx\n",
                                 rows, variant.label, perStep, literal->second, literal->second / perStep);
                }
            }
    }

private:
    static double timeUnitToNanoseconds (benchmark::TimeUnit unit)
    {
        switch (unit)
        {
            case benchmark::kSecond: return 1e9;
            case benchmark::kMillisecond: return 1e6;
            case benchmark::kMicrosecond: return 1e3;
            case benchmark::kNanosecond: break;
        }
        return 1.0;
    }

    std::map<std::string, double> nanosecondsPerStep, medians;
};

} // namespace

BENCHMARK_TEMPLATE (BM_HypernetworkForward, 1024);
BENCHMARK_TEMPLATE (BM_HypernetworkForward, 2048);
BENCHMARK_TEMPLATE (BM_HypernetworkForwardPortable, 1024);
BENCHMARK_TEMPLATE (BM_HypernetworkForwardPortable, 2048);
BENCHMARK (BM_CellStepOptimised)->Arg (1)->Arg (2)->Arg (12);
BENCHMARK (BM_CellStepPortable)->Arg (1)->Arg (2)->Arg (12);
BENCHMARK (BM_CellRun)->Arg (1)->Arg (2)->Arg (12);
BENCHMARK (BM_CellRampRun)->Arg (1)->Arg (2)->Arg (12);
BENCHMARK (BM_CellRunWithoutAvx512)->Arg (1)->Arg (2)->Arg (12);
BENCHMARK (BM_CellRunPortable)->Arg (1)->Arg (2)->Arg (12);
BENCHMARK (BM_CellStepLiteral)->Arg (1)->Arg (2)->Arg (12);

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks (&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
