#include "processor/ResamplingKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace
{
constexpr double pi = 3.14159265358979323846;

/** Kaiser's shape parameter for a stop-band attenuation in dB. */
double kaiserBeta (double attenuationDb)
{
    if (attenuationDb > 50.0)
        return 0.1102 * (attenuationDb - 8.7);
    if (attenuationDb >= 21.0)
        return 0.5842 * std::pow (attenuationDb - 21.0, 0.4) + 0.07886 * (attenuationDb - 21.0);
    return 0.0;
}

/**
    Fractional positions per input sample. Blending neighbouring rows errs by about
    (2 pi f / phases)^2 / 8 at a frequency f in cycles per sample; 1,250 phases per
    cycle of pass band keep that below -110 dB across it. Even, so that the half-sample
    positions of a 2:1 conversion fall exactly on a row.
*/
int phasesFor (double passbandEdge)
{
    return std::max (2, 2 * (int) std::ceil (625.0 * passbandEdge));
}

/**
    The modified Bessel function of the first kind, order zero, by its power series
    sum ((x / 2)^k / k!)^2: for the window's arguments (up to about 12) it reaches full
    double precision within some forty terms, many times faster than the library's
    general routine, which matters for the hundreds of thousands of taps that a
    preparation at 44.1 kHz computes.
*/
double besselI0 (double x)
{
    const double quarterSquare = 0.25 * x * x;
    double term = 1.0;
    double sum = 1.0;

    for (int k = 1; k < 500 && term > 1.0e-17 * sum; ++k)
    {
        term *= quarterSquare / ((double) k * (double) k);
        sum += term;
    }
    return sum;
}

double sinc (double x)
{
    if (x == 0.0)
        return 1.0;

    // Exactly zero on whole numbers, where sin (pi x) would leave rounding dust:
    // a kernel cut at the input's Nyquist frequency then copies its whole-sample
    // outputs exactly.
    if (x == std::round (x))
        return 0.0;

    return std::sin (pi * x) / (pi * x);
}
} // namespace

int ResamplingKernel::halfWidthFor (const Targets& targets)
{
    // Kaiser's estimate of the length for the attenuation over the transition.
    const double transition = std::max (1.0e-4, targets.stopbandEdge - targets.passbandEdge);
    const double length = (targets.attenuationDb - 7.95) / (2.285 * 2.0 * pi * transition) + 1.0;
    return std::max (1, (int) std::ceil (0.5 * length));
}

double ResamplingKernel::prototype (double u) const noexcept
{
    if (halfWidth == 0)
        return u == 0.0 ? 1.0 : 0.0;

    const double x = u / (double) halfWidth;
    if (std::abs (x) >= 1.0)
        return 0.0;

    // The Kaiser window less its value at the edge, so that it reaches zero there:
    // the tap that one row gains at its end is then exactly zero, and every row on a
    // whole or half sample is exactly symmetric.
    const double window = (besselI0 (beta * std::sqrt (1.0 - x * x)) - 1.0) * windowScale;
    return 2.0 * cutoff * sinc (2.0 * cutoff * u) * window;
}

void ResamplingKernel::design (const Targets& targets, int newHalfWidth)
{
    halfWidth = std::max (1, newHalfWidth);
    taps = 2 * halfWidth;
    stride = (taps + rowAlignment - 1) / rowAlignment * rowAlignment;
    phases = phasesFor (targets.passbandEdge);
    cutoff = 0.5 * (targets.passbandEdge + targets.stopbandEdge);
    beta = kaiserBeta (targets.attenuationDb);
    windowScale = 1.0 / (besselI0 (beta) - 1.0);

    table.assign ((size_t) (phases + 1) * (size_t) stride, 0.0f);
    unitTaps.assign ((size_t) phases + 1, -1);

    std::vector<double> values;
    for (int p = 0; p <= phases; ++p)
    {
        fillRow ((double) p / phases, table.data() + (size_t) p * (size_t) stride, values);
        unitTaps[(size_t) p] = findUnitTap (row (p));
    }

    positionCycle = 0;
    positionTable.clear();
    positionUnitTaps.clear();
    positionAdvances.clear();
}

void ResamplingKernel::fillRow (double fraction, float* destination, std::vector<double>& values) const
{
    // Tap q reads the input sample taps - 1 - q samples before the newest one read;
    // the output lies `fraction` of a sample after that newest sample, delayed by the
    // half width.
    values.resize ((size_t) taps);
    double sum = 0.0;

    for (int q = 0; q < taps; ++q)
    {
        values[(size_t) q] = prototype (fraction + halfWidth - 1 - q);
        sum += values[(size_t) q];
    }

    for (int q = 0; q < taps; ++q)
        destination[q] = (float) (values[(size_t) q] / sum);
}

int ResamplingKernel::findUnitTap (const float* values) const noexcept
{
    const auto ones = std::count (values, values + taps, 1.0f);
    const auto zeros = std::count (values, values + taps, 0.0f);

    if (ones == 1 && ones + zeros == taps)
        return (int) (std::find (values, values + taps, 1.0f) - values);
    return -1;
}

void ResamplingKernel::tabulatePositions (int inputStep, int outputStep, std::size_t maxBytes)
{
    positionCycle = 0;
    positionTable.clear();
    positionUnitTaps.clear();
    positionAdvances.clear();

    if (inputStep <= 0 || outputStep <= 0)
        return;

    const int cycle = outputStep / std::gcd (inputStep, outputStep);
    if ((std::size_t) cycle * (std::size_t) stride * sizeof (float) > maxBytes)
        return;

    positionTable.assign ((size_t) cycle * (size_t) stride, 0.0f);
    positionUnitTaps.resize ((size_t) cycle);
    positionAdvances.resize ((size_t) cycle);

    std::vector<double> values;
    for (int k = 0; k < cycle; ++k)
    {
        const auto fraction = (double) (((std::int64_t) k * inputStep) % outputStep) / outputStep;
        float* destination = positionTable.data() + (size_t) k * (size_t) stride;
        fillRow (fraction, destination, values);
        positionUnitTaps[(size_t) k] = findUnitTap (destination);

        const auto start = (std::int64_t) k * inputStep;
        positionAdvances[(size_t) k] = (int) ((start + inputStep) / outputStep - start / outputStep);
    }

    positionCycle = cycle;
}

void ResamplingKernel::makePassThrough()
{
    taps = 1;
    stride = 1;
    phases = 1;
    halfWidth = 0;
    cutoff = 0.5;
    table.assign (2, 1.0f);
    unitTaps.assign (2, 0);
    positionCycle = 0;
    positionTable.clear();
    positionUnitTaps.clear();
    positionAdvances.clear();
}
