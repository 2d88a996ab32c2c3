#pragma once

#include <cstddef>
#include <vector>

/**
    The interpolation kernel of a BandLimitedResampler: a Kaiser-windowed sinc low-pass,
    symmetric (linear phase), tabulated at `phases` fractional positions per input
    sample. Row p holds the taps for an output that lies p / phases of a sample after
    an input sample; rows 0 to phases are stored, so that a position between two rows
    blends its two neighbours. Every row is scaled to a sum of exactly one, so every
    position passes DC at unity gain.

    Designing computes the whole table (sines and Bessel functions, and it allocates):
    preparation only. The resamplers of all channels share one kernel read-only.
*/
class ResamplingKernel
{
public:
    /** Band edges in cycles per input sample, and the stop-band attenuation in dB. */
    struct Targets
    {
        double passbandEdge = 0.4;
        double stopbandEdge = 0.6;
        double attenuationDb = 110.0;
    };

    /** Half the kernel's length, in input samples, that reaches the attenuation over the transition. */
    static int halfWidthFor (const Targets& targets);

    /**
        Designs the table for the targets with the given half width (at least
        halfWidthFor (targets); a longer one adds delay, which may align the
        chain's delays on whole samples). Allocates.
    */
    void design (const Targets& targets, int halfWidth);

    /** One tap of one at every position: the input passes through with no delay. Allocates. */
    void makePassThrough();

    /**
        Also tabulates the exact taps of every position that a conversion in the ratio
        inputStep : outputStep visits: output k lies at the fraction
        (k inputStep mod outputStep) / outputStep of a sample, so the positions repeat
        every getPositionCycle() outputs. Done only when the table takes at most
        maxBytes (the cycle is short for the common rates: 320 positions from 44.1 to
        96 kHz, two for a whole-number ratio); otherwise, as for a host rate that is not
        a round number, the resampler blends phase rows. Outputs from
        this table need one inner product instead of two and carry no blending error.
        Call after design(). Allocates.
    */
    void tabulatePositions (int inputStep, int outputStep, std::size_t maxBytes);

    /** Outputs per cycle of tabulated positions, or 0 when none are tabulated. */
    int getPositionCycle() const noexcept { return positionCycle; }

    /** The exact taps for output k of a cycle (k = output index mod getPositionCycle()). */
    const float* positionRow (int k) const noexcept { return positionTable.data() + (std::size_t) k * (std::size_t) stride; }

    /** As unitTap(), for a tabulated position. */
    const int& positionUnitTap (int k) const noexcept { return positionUnitTaps[(std::size_t) k]; }

    /** Whole input samples from output k's newest sample to output k + 1's. */
    const int& positionAdvance (int k) const noexcept { return positionAdvances[(std::size_t) k]; }

    /**
        The designed low-pass at a distance of u input samples from its centre, before
        the rows' scaling: 2 fc sinc (2 fc u) times a Kaiser window that falls to zero
        at the half width. Its samples at whole-sample distances form the symmetric FIR
        that the resampler applies where an output falls on an input sample.
    */
    double prototype (double u) const noexcept;

    int getTaps() const noexcept { return taps; }

    /**
        Length of every stored row: the taps, then zeros up to a whole number of vector
        widths, so that inner products over a row need no scalar remainder. An inner
        product over the stride reads getStride() - getTaps() samples beyond the newest
        one, which the zeros cancel.
    */
    int getStride() const noexcept { return stride; }
    int getPhases() const noexcept { return phases; }

    /** The kernel's delay in input samples: its centre lies this far behind the newest sample it reads. */
    int getHalfWidth() const noexcept { return halfWidth; }

    /** The taps of row `phase` (0 to getPhases()), oldest input sample first. */
    const float* row (int phase) const noexcept { return table.data() + (std::size_t) phase * (std::size_t) stride; }

    /**
        The tap of row `phase` that is one where all others are zero, or -1. A low-pass
        cut at the input's Nyquist frequency has such rows on whole samples: an output
        there is a copy of one input sample.
    */
    int unitTap (int phase) const noexcept { return unitTaps[(std::size_t) phase]; }

private:
    /** Writes the taps for an output `fraction` of a sample after the newest input; `values` is scratch. */
    void fillRow (double fraction, float* destination, std::vector<double>& values) const;
    int findUnitTap (const float* values) const noexcept;

    static constexpr int rowAlignment = 8;

    int taps = 1;
    int stride = 1;
    int phases = 1;
    int halfWidth = 0;
    double cutoff = 0.5;
    double beta = 0.0;
    double windowScale = 1.0;
    std::vector<float> table { 1.0f, 1.0f };
    std::vector<int> unitTaps { 0, 0 };
    int positionCycle = 0;
    std::vector<float> positionTable;
    std::vector<int> positionUnitTaps;
    std::vector<int> positionAdvances;
};
