#pragma once

#include <juce_dsp/juce_dsp.h>

/**
    A whole-sample delay of a dry signal, block by block: the dry path in front of the
    dry/wet mixer, and the input that a bypassed block passes on.

    The framework's mixer delays its dry input itself, through a fractional delay line
    that costs a function call and an interpolation per sample and channel. For a delay
    of whole samples that line passes the samples through unchanged, only later; so the
    chain delays the dry signal here with block copies and gives the mixer no latency of
    its own, with the same samples reaching the mix.
*/
class DryDelay
{
public:
    /** Room for `channels` channels, blocks of up to maxBlock samples and a delay of
        `delay` samples; starts from silence. Preparation only: allocates. */
    void prepare (int channels, int maxBlock, int delay);

    /** Silence in the line, as after preparation. */
    void reset() noexcept;

    /**
        Pushes the block `input` (at most the prepared size and channels), delayed by the
        prepared delay, into `mixer` as its dry samples: what the mixer's own delay line
        would push at that latency.
        [audio thread] No allocation: block copies only.
    */
    void pushDelayed (const juce::dsp::AudioBlock<const float>& input, juce::dsp::DryWetMixer<float>& mixer) noexcept;

    /**
        Replaces the block's samples with those the prepared delay earlier, of any length
        (in pieces of the prepared size). Channels beyond the prepared ones are left as
        they are. Before any preparation the delay is none.
        [audio thread] No allocation: block copies only.
    */
    void process (const juce::dsp::AudioBlock<float>& block) noexcept;

    /**
        Takes the block in without giving anything out, so that the delayed signal has
        its history when it is next needed.
        [audio thread] No allocation: block copies only.
    */
    void push (const juce::dsp::AudioBlock<const float>& input) noexcept;

    int getDelay() const noexcept { return delay; }

private:
    // Per channel: the last `delay` samples of earlier blocks, then room for a block.
    juce::AudioBuffer<float> line;
    int delay = 0;

    /** Takes input in piece by piece and hands use() each piece delayed, with where the piece starts. */
    template <typename UseDelayed>
    void pass (const juce::dsp::AudioBlock<const float>& input, UseDelayed&& use) noexcept;
};
