#include "processor/PeakValueStore.h"

#include <algorithm>

PeakValueStore::PeakValueStore() noexcept
{
    for (auto& v : values)
        v.store (0.0f, std::memory_order_relaxed);

    // Until the first preparation the editor, which takes half the count as its
    // channels per side, sees one channel per side at 0 dB.
    count.store (2, std::memory_order_release);
}

float PeakValueStore::operator[] (int index) const noexcept
{
    return values[(size_t) index].load (std::memory_order_relaxed);
}

void PeakValueStore::set (int index, float value) noexcept
{
    values[(size_t) index].store (value, std::memory_order_relaxed);
}

void PeakValueStore::assign (int newSize, float value) noexcept
{
    newSize = std::clamp (newSize, 0, capacity);

    for (int i = 0; i < capacity; ++i)
        set (i, value);

    count.store (newSize, std::memory_order_release);
}

int PeakValueStore::copyTo (float* dest) const noexcept
{
    const int n = size();

    for (int i = 0; i < n; ++i)
        dest[i] = (*this)[i];

    return n;
}

std::vector<float> PeakValueStore::snapshot() const
{
    std::array<float, capacity> copy {};
    const int n = copyTo (copy.data());
    return { copy.begin(), copy.begin() + n };
}
