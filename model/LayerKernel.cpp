#include "model/LayerKernel.h"

#include <atomic>

namespace Morvel
{
namespace
{
LayerKernel::Function detectFastestLayer() noexcept
{
#if defined(TESSALINE_LAYER_AVX2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    // The compiler's probe also checks that the operating system saves the AVX registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma"))
        return &LayerKernel::evaluateAvx2;
#endif
    return nullptr;
}

std::atomic<bool> portableForced { false };
} // namespace

LayerKernel::Function LayerKernel::select() noexcept
{
    static const Function detected = detectFastestLayer();
    return portableForced.load (std::memory_order_relaxed) ? nullptr : detected;
}

void LayerKernel::forcePortable (bool portableOnly) noexcept
{
    portableForced.store (portableOnly, std::memory_order_relaxed);
}

} // namespace Morvel
