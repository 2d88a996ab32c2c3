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
    struct Specification
    {
        double passbandEdge = 0.4;
        double stopbandEdge = 0.6;
        double attenuationDb = 110.0;
    };

    /** Half the kernel's length, in input samples, that reaches the attenuation over the transition. */
    static int halfWidthFor (const Specification& specification);

    /**
        Designs the table for the specification with the given half width (at least
        halfWidthFor (specification); a longer one adds delay, which may align the
        chain's delays on whole samples). Allocates.
    */
    void design (const Specification& specification, int halfWidth);

    /** One tap of one at every position: the input passes through with no delay. Allocates. */
    void makePassThrough();

    /**
        The designed low-pass at a distance of u input samples from its centre, before
        the rows' scaling: 2 fc sinc (2 fc u) times a Kaiser window that falls to zero
        at the half width. Its samples at whole-sample distances form the symmetric FIR
        that the resampler applies where an output falls on an input sample.
    */
    double prototype (double u) const noexcept;

    int getTaps() const noexcept { return taps; }
    int getPhases() const noexcept { return phases; }

    /** The kernel's delay in input samples: its centre lies this far behind the newest sample it reads. */
    int getHalfWidth() const noexcept { return halfWidth; }

    /** The taps of row `phase` (0 to getPhases()), oldest input sample first. */
    const float* row (int phase) const noexcept { return table.data() + (std::size_t) phase * (std::size_t) taps; }

    /**
        The tap of row `phase` that is one where all others are zero, or -1. A low-pass
        cut at the input's Nyquist frequency has such rows on whole samples: an output
        there is a copy of one input sample.
    */
    int unitTap (int phase) const noexcept { return unitTaps[(std::size_t) phase]; }

private:
    void findUnitTaps();

    int taps = 1;
    int phases = 1;
    int halfWidth = 0;
    double cutoff = 0.5;
    double beta = 0.0;
    double windowScale = 1.0;
    std::vector<float> table { 1.0f, 1.0f };
    std::vector<int> unitTaps { 0, 0 };
};
