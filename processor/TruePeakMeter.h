#pragma once

#include "processor/PeakValueStore.h"

#include <juce_audio_basics/juce_audio_basics.h>

/**
    Measures the true peak of every channel once per block at two points of the
    chain (0: after the input gain, 1: after the output gain), by four-times
    oversampling with the interpolation filter of ITU-R BS.1770-4, Annex 2.
    Each value is the peak of the last measured block: no hold, no decay.

    The processor sets the fields during preparation (or calls prepare(), which does
    the same in the same order); GetTruePeak then runs on the audio thread.
*/
class TruePeakMeter
{
public:
    static constexpr int maxChannels = PeakValueStore::capacity / 2;
    static constexpr int taps = 12;
    static constexpr int phases = 4;

    /** The value stored for silence and for an empty block: 20 log10(1e-10). */
    static constexpr float floorDb = -200.0f;

    /** The value of every point after a preparation. */
    static constexpr float preparedDb = -60.0f;

    /** Interpolation filter, phase by phase; tap k multiplies the sample k positions earlier. */
    static const float coefficients[phases][taps];

    TruePeakMeter();

    /**
        Sizes and clears the history and sets every value to -60 dB: numChannels, then
        historyBuffer (2 x channels rows of blockSize + 12 samples, reallocated only when
        a size changes), then peakDb. Preparation only (allocates when sizes change).
        channels is clamped to 0..maxChannels.
    */
    void prepare (int channels, int blockSize);

    /**
        Measures buffer's first numChannels channels into the row set `which` (0 or 1).
        The buffer's sample count may be anything up to the prepared block size, or 0 (every
        row of the point then reads -200 dB). Phase outputs that are NaN are ignored.

        [audio thread] No allocation, no lock; 48 multiply-adds per sample and row, in
        vector instructions sixteen positions at a time.
        The third argument is not used.
    */
    void GetTruePeak (const juce::AudioBuffer<float>& buffer, int which, int unused = 0) noexcept;

    /**
        As GetTruePeak, for a further piece of a host block that is measured in pieces
        (one larger than the prepared size): each value becomes the larger of the one
        stored and this piece's peak, so that it is the whole block's.
        [audio thread] As GetTruePeak.
    */
    void measureFurtherPiece (const juce::AudioBuffer<float>& buffer, int which) noexcept;

    /** For tests and measurements: true runs the filter's baseline code on any processor. */
    static void forcePortable (bool portableOnly) noexcept;

    /**
        Copies the current values into dest (room for PeakValueStore::capacity floats)
        and returns their number. Safe on the message thread while the audio thread
        measures.
    */
    int copyPeakDb (float* dest) const noexcept { return peakDb.copyTo (dest); }

    /** 2 x numChannels rows: the last 12 samples of the previous block, then the current block. */
    juce::AudioBuffer<float> historyBuffer;

    /** True-peak values in dB: input channels 0..numChannels-1, then output channels. */
    PeakValueStore peakDb;

    /** Channels per metering point (the output channel count of the last preparation). */
    int numChannels = 0;

private:
    float measureRow (const float* row, int numSamples) const noexcept;
    void measure (const juce::AudioBuffer<float>& buffer, int which, bool keepLarger) noexcept;
};
