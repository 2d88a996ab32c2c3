#pragma once

#include <array>
#include <atomic>
#include <vector>

/**
    True-peak values in dB, one per channel and metering point: all input-point
    values first, then all output-point values. Written by the audio thread (and by
    preparation), read by the editor's meter on the message thread without a lock.

    The store has a fixed capacity, so a reader can never touch freed memory while
    a preparation changes the channel count; every value is an atomic float, so a
    read sees either the old or the new value, never a torn one. A reader that races
    a preparation may see a mix of old and new values for one tick, never garbage.
*/
class PeakValueStore
{
public:
    static constexpr int capacity = 24;

    PeakValueStore() noexcept;

    /** Number of values in use (at most capacity). Any thread. */
    int size() const noexcept { return count.load (std::memory_order_acquire); }

    /** Value at index (0 <= index < capacity). Any thread. */
    float operator[] (int index) const noexcept;

    /** Stores one value (0 <= index < capacity). Audio thread or preparation. */
    void set (int index, float value) noexcept;

    /** Sets the number of values in use (clamped to 0..capacity) and gives each the value. Preparation only. */
    void assign (int newSize, float value) noexcept;

    /**
        Copies the values in use into dest (room for capacity values) and returns how
        many were copied. Allocation-free; safe on any thread while the audio thread writes.
    */
    int copyTo (float* dest) const noexcept;

    /** A copy of the values in use. Allocates: message thread only. */
    std::vector<float> snapshot() const;

private:
    std::array<std::atomic<float>, capacity> values;
    std::atomic<int> count { 0 };
};
