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

void DryDelay::pushDelayed (const juce::dsp::AudioBlock<const float>& input, juce::dsp::DryWetMixer<float>& mixer) noexcept
{
    const auto channels = std::min (input.getNumChannels(), (size_t) line.getNumChannels());
    const auto samples = std::min (input.getNumSamples(), (size_t) (line.getNumSamples() - delay));

    for (size_t ch = 0; ch < channels; ++ch)
        std::memcpy (line.getWritePointer ((int) ch) + delay, input.getChannelPointer (ch), sizeof (float) * samples);

    mixer.pushDrySamples (juce::dsp::AudioBlock<const float> (line.getArrayOfReadPointers(), channels, samples));

    // The newest `delay` samples become the next block's history; for blocks shorter
    // than the delay the ranges overlap.
    for (size_t ch = 0; ch < channels; ++ch)
    {
        float* data = line.getWritePointer ((int) ch);
        std::memmove (data, data + samples, sizeof (float) * (size_t) delay);
    }
}
