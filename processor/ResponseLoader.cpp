#include "processor/ResponseLoader.h"

#include <algorithm>

namespace
{
// At this rate an engine's 50 ms crossfade lasts one sample (1.5 rounded down), so the
// marker adopts a new response, and lets go of the old one, within the call that finds
// it built. (At none at all the engine would never finish a crossfade, and never adopt
// another response.)
constexpr double markerRate = 30.0;

/** A buffer that refers to `samples` (one channel) instead of owning a copy: moving and
    destroying it touch no heap. */
juce::AudioBuffer<float> referTo (float* samples, int length) noexcept
{
    float* channels[] = { samples };
    return juce::AudioBuffer<float> (channels, 1, length);
}

void queueResponse (juce::dsp::Convolution& engine, juce::AudioBuffer<float>&& response, double sampleRate)
{
    engine.loadImpulseResponse (std::move (response), sampleRate, juce::dsp::Convolution::Stereo::no,
                                juce::dsp::Convolution::Trim::no, juce::dsp::Convolution::Normalise::no);
}
} // namespace

void ResponseLoader::prepare()
{
    // An engine's prepare() runs every queued command itself, once the loader has
    // finished the one it is running: no response is read after this.
    marker.prepare ({ markerRate, 1, 1 });
    marker.reset();
    setInFlight = false;
    responseWaiting = false;
}

void ResponseLoader::handOver (juce::dsp::Convolution* engines, int count, const float* kernel, int length, double sampleRate)
{
    if (setInFlight && loaderTookTheSet())
        setInFlight = false;

    if (setInFlight || ! responseWaiting)
        return;

    length = juce::jlimit (1, maxLength, length);
    std::reverse_copy (kernel, kernel + length, response.begin());

    for (int i = 0; i < count; ++i)
        queueResponse (engines[i], referTo (response.data(), length), sampleRate);

    // Lengths 1 and 2 take turns, so the marker's length changes exactly when it adopts this one.
    markerLength = marker.getCurrentIRSize() == 1 ? 2 : 1;
    queueResponse (marker, referTo (markerTaps.data(), markerLength), markerRate);

    setInFlight = true;
    responseWaiting = false;
}

bool ResponseLoader::loaderTookTheSet()
{
    // The marker adopts a built response only while processing.
    float sample = 0.0f;
    float* channels[] = { &sample };
    juce::dsp::AudioBlock<float> block (channels, 1, 1);
    marker.process (juce::dsp::ProcessContextReplacing<float> (block));
    return marker.getCurrentIRSize() == markerLength;
}
