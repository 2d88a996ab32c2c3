#include "model/CellStepKernel.h"

#include <atomic>

namespace Morvel
{
namespace
{
CellStepKernel::Function detectFastestStep() noexcept
{
#if defined(TESSALINE_CELL_STEP_AVX2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    // The compiler's probe also checks that the operating system saves the AVX registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma"))
        return &CellStepKernel::stepAvx2;
#endif
    return nullptr;
}

CellStepKernel::Function fastestStep() noexcept
{
    static const CellStepKernel::Function detected = detectFastestStep();
    return detected;
}

#if defined(TESSALINE_CELL_STEP_AVX512) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
bool detectAvx512() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports ("avx512f") && __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma");
}

bool hasAvx512() noexcept
{
    static const bool detected = detectAvx512();
    return detected;
}
#endif

std::atomic<bool> portableForced { false };
std::atomic<bool> avx512Forbidden { false };
} // namespace

CellStepKernel::Function CellStepKernel::select() noexcept
{
    return portableForced.load (std::memory_order_relaxed) ? nullptr : fastestStep();
}

CellStepKernel::BlockFunction CellStepKernel::selectBlock() noexcept
{
#if defined(TESSALINE_CELL_STEP_AVX2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    if (select() != &CellStepKernel::stepAvx2)
        return nullptr;
#if defined(TESSALINE_CELL_STEP_AVX512)
    if (hasAvx512() && ! avx512Forbidden.load (std::memory_order_relaxed))
        return &CellStepKernel::runAvx512;
#endif
    return &CellStepKernel::runAvx2;
#endif
    return nullptr;
}

void CellStepKernel::forcePortable (bool portableOnly) noexcept
{
    portableForced.store (portableOnly, std::memory_order_relaxed);
}

void CellStepKernel::forbidAvx512 (bool forbidden) noexcept
{
    avx512Forbidden.store (forbidden, std::memory_order_relaxed);
}

} // namespace Morvel
