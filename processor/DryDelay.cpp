#include "processor/DryDelay.h"

#include <algorithm>
#include <cstring>

void DryDelay::prepare (int channels, int maxBlock, int newDelay)
{
    delay = std::max (0, newDelay);
    line.setSize (std::max (0, channels), delay + std::max (0, maxBlock));
    reset();
}

void DryDelay::reset() noexcept
{
    line.clear();
}

template <typename UseDelayed>
void DryDelay::pass (const juce::dsp::AudioBlock<const float>& input, UseDelayed&& use) noexcept
{
    const auto channels = std::min (input.getNumChannels(), (size_t) line.getNumChannels());
    const auto room = (size_t) (line.getNumSamples() - delay);

    for (size_t start = 0; room > 0 && start < input.getNumSamples(); start += room)
    {
        const auto samples = std::min (room, input.getNumSamples() - start);

        for (size_t ch = 0; ch < channels; ++ch)
            std::memcpy (line.getWritePointer ((int) ch) + delay, input.getChannelPointer (ch) + start, sizeof (float) * samples);

        use (juce::dsp::AudioBlock<const float> (line.getArrayOfReadPointers(), channels, samples), start);

        // The newest `delay` samples become the next piece's history; for pieces shorter
        // than the delay the ranges overlap.
        for (size_t ch = 0; ch < channels; ++ch)
        {
            float* data = line.getWritePointer ((int) ch);
            std::memmove (data, data + samples, sizeof (float) * (size_t) delay);
        }
    }
}

void DryDelay::pushDelayed (const juce::dsp::AudioBlock<const float>& input, juce::dsp::DryWetMixer<float>& mixer) noexcept
{
    const auto room = (size_t) std::max (0, line.getNumSamples() - delay);
    pass (input.getSubBlock (0, std::min (input.getNumSamples(), room)),
          [&mixer] (const juce::dsp::AudioBlock<const float>& delayed, size_t) { mixer.pushDrySamples (delayed); });
}

void DryDelay::process (const juce::dsp::AudioBlock<float>& block) noexcept
{
    pass (block, [&block] (const juce::dsp::AudioBlock<const float>& delayed, size_t start)
    {
        block.getSubsetChannelBlock (0, delayed.getNumChannels()).getSubBlock (start, delayed.getNumSamples()).copyFrom (delayed);
    });
}

void DryDelay::push (const juce::dsp::AudioBlock<const float>& input) noexcept
{
    pass (input, [] (const juce::dsp::AudioBlock<const float>&, size_t) {});
}
