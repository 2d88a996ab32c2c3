#include "processor/TruePeakMeter.h"

#include <algorithm>
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

float TruePeakMeter::measureRow (const float* row, int numSamples) const noexcept
{
    float peak = 1e-10f;

    // Each block evaluates its own samples (row positions 12 .. n + 11); the 12 kept
    // samples supply the taps that reach back into the previous block.
    for (int q = taps; q < numSamples + taps; ++q)
    {
        for (int p = 0; p < phases; ++p)
        {
            float y = 0.0f;

            for (int k = 0; k < taps; ++k)
                y += coefficients[p][k] * row[q - k];

            // Written so that a NaN output fails the comparison and never enters the peak.
            const float magnitude = std::abs (y);
            if (magnitude > peak)
                peak = magnitude;
        }
    }

    return 20.0f * std::log10 (peak);
}

void TruePeakMeter::GetTruePeak (const juce::AudioBuffer<float>& buffer, int which, int) noexcept
{
    if (which != 0 && which != 1)
        return;

    const int rowLength = historyBuffer.getNumSamples();

    if (rowLength < taps || historyBuffer.getNumChannels() < 2 * numChannels)
        return;

    // The caller passes blocks of the prepared size; a longer one is measured only as
    // far as the row reaches rather than written past it.
    const int n = std::min (buffer.getNumSamples(), rowLength - taps);
    const int channels = std::min (numChannels, buffer.getNumChannels());

    for (int ch = 0; ch < channels; ++ch)
    {
        const int r = which * numChannels + ch;
        float* row = historyBuffer.getWritePointer (r);

        if (n <= 0)
        {
            peakDb.set (r, floorDb);
            continue;
        }

        if (buffer.hasBeenCleared())
            std::fill (row + taps, row + taps + n, 0.0f);
        else
            std::memcpy (row + taps, buffer.getReadPointer (ch), sizeof (float) * (size_t) n);

        peakDb.set (r, measureRow (row, n));

        // The history is this block's last samples, wherever a shorter block ended.
        // Overlapping ranges for blocks shorter than 12 samples: memmove, not memcpy.
        std::memmove (row, row + n, sizeof (float) * taps);
    }
}
