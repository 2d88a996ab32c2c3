#pragma once

#include <cstddef>

namespace tessaline::testing
{

/**
    Counts heap allocations (malloc, calloc, realloc, the aligned variants and every
    operator new, which go through them) and frees of memory (free and every operator
    delete) made by the calling thread while a scope is active. Those of other threads
    (for instance a convolution engine's loader) are not counted.

    Link AllocationCounter.cpp into the test executable itself, and into no other: it
    replaces the C library's allocation functions for the whole program. Only one
    counting scope per thread may be active at a time.
*/
class AllocationCounter
{
public:
    /** Starts counting on this thread from zero. */
    AllocationCounter();

    /** Stops counting on this thread. */
    ~AllocationCounter();

    AllocationCounter (const AllocationCounter&) = delete;
    AllocationCounter& operator= (const AllocationCounter&) = delete;

    /** Allocations made by this thread since construction. */
    std::size_t count() const;

    /** Blocks of memory freed by this thread since construction (freeing nothing not counted). */
    std::size_t frees() const;

    /** True when this build can see allocations at all (glibc's malloc is replaceable). */
    static bool isSupported();
};

/** Runs f on this thread and returns how many allocations it made. */
template <typename Function>
std::size_t countAllocations (Function&& f)
{
    AllocationCounter counter;
    f();
    return counter.count();
}

} // namespace tessaline::testing
