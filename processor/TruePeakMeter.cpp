#include "processor/TruePeakMeter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

// ITU-R BS.1770-4, Annex 2: 48-tap, four-phase interpolation filter.
const float TruePeakMeter::coefficients[phases][taps] = {
    { 0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f,
      -0.0594482421875f, 0.1373291015625f, 0.9721679687500f, -0.1022949218750f,
      0.0476074218750f, -0.0266113281250f, 0.0148925781250f, -0.0083007812500f },
    { -0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f,
      -0.1665039062500f, 0.4650878906250f, 0.7797851562500f, -0.2003173828125f,
      0.1015625000000f, -0.0582275390625f, 0.0330810546875f, -0.0189208984375f },
    { -0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f,
      -0.2003173828125f, 0.7797851562500f, 0.4650878906250f, -0.1665039062500f,
      0.0891113281250f, -0.0517578125000f, 0.0292968750000f, -0.0291748046875f },
    { -0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f,
      -0.1022949218750f, 0.9721679687500f, 0.1373291015625f, -0.0594482421875f,
      0.0332031250000f, -0.0196533203125f, 0.0109863281250f, 0.0017089843750f }
};

TruePeakMeter::TruePeakMeter() = default;

void TruePeakMeter::prepare (int channels, int blockSize)
{
    numChannels = std::clamp (channels, 0, maxChannels);
    historyBuffer.setSize (2 * numChannels, std::max (blockSize, 0) + taps, false, false, true);
    historyBuffer.clear();
    peakDb.assign (2 * numChannels, preparedDb);
}

namespace
{
using Coefficients = float[TruePeakMeter::phases][TruePeakMeter::taps];

/** The filter's four phases at one position q of the row, the largest magnitude into peak. */
void measurePosition (const Coefficients& c, const float* row, int q, float& peak) noexcept
{
    for (int p = 0; p < TruePeakMeter::phases; ++p)
    {
        float y = 0.0f;

        for (int k = 0; k < TruePeakMeter::taps; ++k)
            y += c[p][k] * row[q - k];

        // Written so that a NaN output fails the comparison and never enters the peak.
        const float magnitude = std::abs (y);
        if (magnitude > peak)
            peak = magnitude;
    }
}

/**
    The same sums for `width` consecutive positions at once, lane by lane in the same
    order (tap 0 to tap 11, each phase from zero), so that the compiler turns the lane
    loops into vector instructions and every output keeps its bits. Each lane keeps its
    own peak with the same NaN-refusing comparison.
*/
constexpr int width = 16;

// Inlined into each version below, so that each is compiled for its own instruction set.
inline __attribute__ ((always_inline)) void measurePositionsBody (const Coefficients& c, const float* row, int first,
                                                                 float (&peaks)[width]) noexcept
{
    float sums[TruePeakMeter::phases][width] = {};

    for (int k = 0; k < TruePeakMeter::taps; ++k)
        for (int p = 0; p < TruePeakMeter::phases; ++p)
            for (int j = 0; j < width; ++j)
                sums[p][j] += c[p][k] * row[first + j - k];

    for (int p = 0; p < TruePeakMeter::phases; ++p)
        for (int j = 0; j < width; ++j)
        {
            const float magnitude = std::abs (sums[p][j]);
            peaks[j] = magnitude > peaks[j] ? magnitude : peaks[j];
        }
}

using MeasurePositions = void (*) (const Coefficients&, const float*, int, float (&)[width]) noexcept;

void measurePositions (const Coefficients& c, const float* row, int first, float (&peaks)[width]) noexcept
{
    measurePositionsBody (c, row, first, peaks);
}

// The program is built for the processor family's baseline; where the processor has
// AVX2, the same loops compiled for it take eight lanes at a time (no fused
// multiply-adds, so the same numbers).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
__attribute__ ((target ("avx2")))
void measurePositionsAvx2 (const Coefficients& c, const float* row, int first, float (&peaks)[width]) noexcept
{
    measurePositionsBody (c, row, first, peaks);
}

MeasurePositions detectFastest() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports ("avx2") ? &measurePositionsAvx2 : &measurePositions;
}
#else
MeasurePositions detectFastest() noexcept { return &measurePositions; }
#endif

std::atomic<bool> portableForced { false };

MeasurePositions chooseMeasurePositions() noexcept
{
    static const MeasurePositions fastest = detectFastest();
    return portableForced.load (std::memory_order_relaxed) ? &measurePositions : fastest;
}
} // namespace

float TruePeakMeter::measureRow (const float* row, int numSamples) const noexcept
{
    // Each block evaluates its own samples (row positions 12 .. n + 11); the 12 kept
    // samples supply the taps that reach back into the previous block.
    const int end = numSamples + taps;
    float peaks[width];
    std::fill (std::begin (peaks), std::end (peaks), 1e-10f);

    const MeasurePositions measure = chooseMeasurePositions();
    int q = taps;
    for (; q + width <= end; q += width)
        measure (coefficients, row, q, peaks);

    float peak = 1e-10f;
    for (; q < end; ++q)
        measurePosition (coefficients, row, q, peak);

    for (float lanePeak : peaks)
        if (lanePeak > peak)
            peak = lanePeak;

    return 20.0f * std::log10 (peak);
}

void TruePeakMeter::forcePortable (bool portableOnly) noexcept
{
    portableForced.store (portableOnly, std::memory_order_relaxed);
}

void TruePeakMeter::GetTruePeak (const juce::AudioBuffer<float>& buffer, int which, int) noexcept
{
    measure (buffer, which, false);
}

void TruePeakMeter::measureFurtherPiece (const juce::AudioBuffer<float>& buffer, int which) noexcept
{
    measure (buffer, which, true);
}

void TruePeakMeter::measure (const juce::AudioBuffer<float>& buffer, int which, bool keepLarger) noexcept
{
    if (which != 0 && which != 1)
        return;

    const int rowLength = historyBuffer.getNumSamples();

    if (rowLength < taps || historyBuffer.getNumChannels() < 2 * numChannels)
        return;

    // The caller passes blocks of at most the prepared size; a longer one is measured
    // only as far as the row reaches rather than written past it.
    const int n = std::min (buffer.getNumSamples(), rowLength - taps);
    const int channels = std::min (numChannels, buffer.getNumChannels());

    for (int ch = 0; ch < channels; ++ch)
    {
        const int r = which * numChannels + ch;
        float* row = historyBuffer.getWritePointer (r);

        if (n <= 0)
        {
            if (! keepLarger)
                peakDb.set (r, floorDb);
            continue;
        }

        if (buffer.hasBeenCleared())
            std::fill (row + taps, row + taps + n, 0.0f);
        else
            std::memcpy (row + taps, buffer.getReadPointer (ch), sizeof (float) * (size_t) n);

        const float peak = measureRow (row, n);
        peakDb.set (r, keepLarger ? std::max (peak, peakDb[r]) : peak);

        // The history is this block's last samples, wherever a shorter block ended.
        // Overlapping ranges for blocks shorter than 12 samples: memmove, not memcpy.
        std::memmove (row, row + n, sizeof (float) * taps);
    }
}
