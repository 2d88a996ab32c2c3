#pragma once

#include <juce_dsp/juce_dsp.h>

#include <array>

/**
    Hands the tone's impulse response to the convolution engines, which build it on
    one shared loader thread, without the audio thread ever doing the loader's work.

    Each engine queues every response it is given on the loader's first-in, first-out
    queue, and the loader builds one engine per response. Given new responses in every
    short block it falls behind, and once its queue is full an engine frees the
    response it could not queue, and destroys its outgoing engine, on the caller's
    thread: the latter under the FFT planner's lock, which the loader holds while it
    plans. So here at most one set of responses is in flight; a newer response waits
    (the newest only) until the loader has taken the set before it, and then goes out.
    The queue then holds a few dozen commands at most (the set, and the engines'
    outgoing engines to destroy), against its room for a thousand.

    The loader runs its commands one at a time, in the order queued. A marker engine,
    given a response after each set and prepared at a rate at which its crossfade lasts
    one sample, adopts that response as soon as the loader has built it: its response's
    length then shows that every response queued before has been taken.

    The buffers handed over refer to one copy of the response kept here, which the
    engines copy when the loader takes them, and which changes only while nothing is
    in flight; so handing over neither allocates nor frees.
*/
class ResponseLoader
{
public:
    /** The longest response: the high-rate model's kernel. */
    static constexpr int maxLength = 2048;

    /** Starts the loader thread. Allocates. */
    ResponseLoader() = default;

    /** The loader's queue: every engine handed responses here must be built on it. */
    juce::dsp::ConvolutionMessageQueue& getQueue() noexcept { return queue; }

    /**
        Runs whatever the queue still holds on this thread (after the command the loader
        is running), prepares the marker and forgets any waiting response: afterwards
        nothing is in flight. Preparation only: allocates.
    */
    void prepare();

    /** [audio thread] A new response is due: the next handOver() sends it out when it can. */
    void responseChanged() noexcept { responseWaiting = true; }

    /**
        Every block: once the loader has taken the set in flight, queues a waiting
        response (`length` taps of `kernel`, reversed, at `sampleRate`) for the first
        `count` engines, followed by the marker.
        [audio thread] Never waits; allocates and frees nothing. Also called during
        preparation, after prepare(), where the engines' prepare() then builds the set.
    */
    void handOver (juce::dsp::Convolution* engines, int count, const float* kernel, int length, double sampleRate);

    /** True from a hand-over until the next handOver() that finds the set taken. */
    bool isSetInFlight() const noexcept { return setInFlight; }

private:
    bool loaderTookTheSet();

    // Declared before the queue, so that they outlive the loader thread that reads them.
    std::array<float, maxLength> response {};
    std::array<float, 2> markerTaps {};

    juce::dsp::ConvolutionMessageQueue queue;
    juce::dsp::Convolution marker { queue };
    int markerLength = 1;
    bool setInFlight = false;
    bool responseWaiting = false;
};
