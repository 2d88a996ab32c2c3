// The shipped tone, run through the model's own float code, against the
// float64 reference of the wet path that tools/weights/measure_tone.py wrote
// (tests/model/data/wet_path_<N>.f64): kernel reversed into the impulse
// response, convolution, recurrent cell. The convolution here is computed in
// double from the model's float kernel, so the comparison measures the
// hypernetwork and the cell (the processor's convolution engine is another
// component with its own tests).

#include "model/WeightLoading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{
template <int N>
using SubnetN = Morvel::Subnet<float, 1, 2, 8, N>;
using Cell = Morvel::HyperGRU<float, 1, 1, 8>;

const std::string weightsDir = std::string (TESSALINE_RESOURCES_DIR) + "/weights/";
const std::string fixtureDir = std::string (TESSALINE_RESOURCES_DIR) + "/../tests/model/data/";

nlohmann::json readDocument (const std::string& name)
{
    std::ifstream file (weightsDir + name);
    EXPECT_TRUE (file) << name << " missing";
    std::stringstream text;
    text << file.rdbuf();
    return nlohmann::json::parse (text.str());
}

/** The fixture: one input clip, and the expected output at each control pair. */
struct WetPathFixture
{
    std::vector<double> input;
    std::vector<std::pair<float, float>> controls;
    std::vector<std::vector<double>> outputs;
};

WetPathFixture readFixture (const std::string& name)
{
    WetPathFixture fixture;
    std::ifstream file (fixtureDir + name, std::ios::binary);
    EXPECT_TRUE (file) << name << " missing";
    if (! file)
        return fixture;

    // Little-endian int32 length and point count, point pairs, input, outputs.
    std::int32_t header[2] = {};
    file.read (reinterpret_cast<char*> (header), sizeof (header));
    const auto length = static_cast<std::size_t> (header[0]);
    const auto points = static_cast<std::size_t> (header[1]);

    for (std::size_t p = 0; p < points; ++p)
    {
        double pair[2] = {};
        file.read (reinterpret_cast<char*> (pair), sizeof (pair));
        fixture.controls.emplace_back (static_cast<float> (pair[0]), static_cast<float> (pair[1]));
    }

    auto readSamples = [&file, length]
    {
        std::vector<double> samples (length);
        file.read (reinterpret_cast<char*> (samples.data()), static_cast<std::streamsize> (length * sizeof (double)));
        return samples;
    };
    fixture.input = readSamples();
    for (std::size_t p = 0; p < points; ++p)
        fixture.outputs.push_back (readSamples());
    EXPECT_TRUE (file) << name << " is truncated";
    return fixture;
}

/** Causal convolution with the impulse response that the processor makes: the kernel reversed. */
std::vector<double> convolveWithReversedKernel (const std::vector<double>& x, const Eigen::MatrixXf& kernel)
{
    const auto taps = static_cast<std::size_t> (kernel.cols());
    std::vector<double> y (x.size(), 0.0);
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        double sum = 0.0;
        for (std::size_t j = 0; j <= n && j < taps; ++j)
            sum += static_cast<double> (kernel (0, static_cast<Eigen::Index> (taps - 1 - j))) * x[n - j];
        y[n] = sum;
    }
    return y;
}

/** The cell over a whole signal, one row, weights held constant. */
template <int N>
std::vector<double> runCell (const std::vector<double>& u, const SubnetN<N>& subnet, Cell& cell)
{
    cell.reset (1, 1);
    std::vector<double> y (u.size());
    for (std::size_t n = 0; n < u.size(); ++n)
    {
        cell.cellInput (0, 0) = static_cast<float> (u[n]);
        cell.forward_cell (cell.cellInput, subnet.ihWeights, subnet.hhWeights);
        y[n] = static_cast<double> (cell.cellOutput (0, 0));
    }
    return y;
}

double errorToSignalDb (const std::vector<double>& actual, const std::vector<double>& expected)
{
    double error = 0.0, signal = 0.0;
    for (std::size_t n = 0; n < expected.size(); ++n)
    {
        error += (actual[n] - expected[n]) * (actual[n] - expected[n]);
        signal += expected[n] * expected[n];
    }
    return 10.0 * std::log10 (error / signal);
}

template <int N>
struct ShippedModel
{
    explicit ShippedModel (const std::string& name) : document (readDocument (name))
    {
        Morvel::loadModel (document, *subnet, cell);
    }

    void evaluate (float knob1, float knob2)
    {
        const float knobs[2] = { knob1, knob2 };
        subnet->forward (knobs);
    }

    nlohmann::json document;
    std::unique_ptr<SubnetN<N>> subnet = std::make_unique<SubnetN<N>>();
    Cell cell;
};

template <int N>
void expectWetPathMatchesReference (const std::string& documentName, const std::string& fixtureName)
{
    ShippedModel<N> model (documentName);
    const auto fixture = readFixture (fixtureName);
    ASSERT_FALSE (fixture.controls.empty());

    for (std::size_t p = 0; p < fixture.controls.size(); ++p)
    {
        const auto [knob1, knob2] = fixture.controls[p];
        model.evaluate (knob1, knob2);
        const auto wet = runCell<N> (convolveWithReversedKernel (fixture.input, model.subnet->convKernel),
                                     *model.subnet, model.cell);
        const double errorDb = errorToSignalDb (wet, fixture.outputs[p]);
        ::testing::Test::RecordProperty ("errorDb" + std::to_string (p), std::to_string (errorDb));
        EXPECT_LT (errorDb, -100.0) << documentName << " at (" << knob1 << ", " << knob2 << ")";
    }
}

TEST (ShippedTone, StandardRateWetPathMatchesTheDoublePrecisionReference)
{
    expectWetPathMatchesReference<1024> ("tone_standard_rate_1024.json", "wet_path_1024.f64");
}

TEST (ShippedTone, HighRateWetPathMatchesTheDoublePrecisionReference)
{
    expectWetPathMatchesReference<2048> ("tone_high_rate_2048.json", "wet_path_2048.f64");
}

// Nothing after the cell removes DC, so the cell must be an odd function of its
// input on the float path too: a stray bias-like weight would show here first.
// Silence must stay exact silence. Checked at the corners of the square, inside
// and outside the triangle.
template <int N>
void expectOddAndSilentAcrossThePad (const std::string& documentName)
{
    ShippedModel<N> model (documentName);
    const float corners[][2] = { { 0.0f, 0.0f }, { 1.0f, 0.0f }, { 0.0f, 1.0f }, { 1.0f, 1.0f }, { 0.35f, 0.35f } };

    std::vector<double> drive (2000);
    for (std::size_t n = 0; n < drive.size(); ++n)
        drive[n] = 1.5 * std::sin (0.021 * static_cast<double> (n)) + 0.7 * std::sin (0.37 * static_cast<double> (n) + 0.4);
    std::vector<double> inverted (drive.size());
    for (std::size_t n = 0; n < drive.size(); ++n)
        inverted[n] = -drive[n];

    for (const auto& knobs : corners)
    {
        model.evaluate (knobs[0], knobs[1]);
        const auto up = runCell<N> (drive, *model.subnet, model.cell);
        const auto down = runCell<N> (inverted, *model.subnet, model.cell);
        for (std::size_t n = 0; n < up.size(); ++n)
            ASSERT_EQ (up[n], -down[n]) << "sample " << n << " at (" << knobs[0] << ", " << knobs[1] << ")";

        const auto quiet = runCell<N> (std::vector<double> (500, 0.0), *model.subnet, model.cell);
        for (double v : quiet)
            ASSERT_EQ (v, 0.0) << "at (" << knobs[0] << ", " << knobs[1] << ")";
    }
}

TEST (ShippedTone, CellIsOddAndSilentAtTheCornersOfThePad)
{
    expectOddAndSilentAcrossThePad<1024> ("tone_standard_rate_1024.json");
    expectOddAndSilentAcrossThePad<2048> ("tone_high_rate_2048.json");
}

} // namespace
