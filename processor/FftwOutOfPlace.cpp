// The framework's FFTW engine plans every real transform in place with FFTW_ESTIMATE.
// For such problems FFTW picks "buffered" solvers, which allocate a buffer on every
// transform: the convolution engines would allocate on the audio thread in every block.
// Out-of-place plans of the same sizes allocate nothing, so the linker routes the
// framework's FFTW calls here (--wrap, see processor/CMakeLists.txt): each plan is made
// out of place into a scratch array of its own, and a transform asked for in place runs
// into that array and is copied back. The numbers are FFTW's, unchanged.
//
// Plans are made and destroyed where the framework does it (preparation and the engines'
// background thread, under its own lock, and FFTW's planner made thread-safe for the rest
// of the process); the transforms run on the audio thread and
// touch only their plan's scratch array, which no two threads share: each engine owns
// its plans.

#include <fftw3.h>

#include <cstring>
#include <new>

namespace
{
struct OutOfPlacePlan
{
    fftwf_plan plan = nullptr;
    void* scratch = nullptr;
    std::size_t scratchBytes = 0;
};

fftwf_plan toHandle (OutOfPlacePlan* p) { return reinterpret_cast<fftwf_plan> (p); }
OutOfPlacePlan* fromHandle (fftwf_plan handle) { return reinterpret_cast<OutOfPlacePlan*> (handle); }

template <typename MakePlan>
fftwf_plan makeOutOfPlace (std::size_t scratchBytes, MakePlan&& makePlan)
{
    // The framework locks its own planning, but FFTW's planner is shared with every
    // other user of the library in the host's process.
    static const bool plannerShared = (fftwf_make_planner_thread_safe(), true);
    (void) plannerShared;

    auto* p = new (std::nothrow) OutOfPlacePlan;
    if (p == nullptr)
        return nullptr;

    p->scratchBytes = scratchBytes;
    p->scratch = fftwf_malloc (scratchBytes);
    p->plan = p->scratch != nullptr ? makePlan (p->scratch) : nullptr;

    if (p->plan == nullptr)
    {
        fftwf_free (p->scratch);
        delete p;
        return nullptr;
    }

    return toHandle (p);
}

std::size_t complexBytes (int n) { return sizeof (fftwf_complex) * (std::size_t) n; }
} // namespace

extern "C"
{
fftwf_plan __real_fftwf_plan_dft_1d (int, fftwf_complex*, fftwf_complex*, int, unsigned);
fftwf_plan __real_fftwf_plan_dft_r2c_1d (int, float*, fftwf_complex*, unsigned);
fftwf_plan __real_fftwf_plan_dft_c2r_1d (int, fftwf_complex*, float*, unsigned);
void __real_fftwf_destroy_plan (fftwf_plan);
void __real_fftwf_execute_dft (fftwf_plan, fftwf_complex*, fftwf_complex*);
void __real_fftwf_execute_dft_r2c (fftwf_plan, float*, fftwf_complex*);
void __real_fftwf_execute_dft_c2r (fftwf_plan, fftwf_complex*, float*);

fftwf_plan __wrap_fftwf_plan_dft_1d (int n, fftwf_complex* in, fftwf_complex*, int sign, unsigned flags)
{
    return makeOutOfPlace (complexBytes (n), [&] (void* scratch)
    {
        return __real_fftwf_plan_dft_1d (n, in, static_cast<fftwf_complex*> (scratch), sign, flags | FFTW_UNALIGNED);
    });
}

fftwf_plan __wrap_fftwf_plan_dft_r2c_1d (int n, float* in, fftwf_complex*, unsigned flags)
{
    return makeOutOfPlace (complexBytes (n / 2 + 1), [&] (void* scratch)
    {
        return __real_fftwf_plan_dft_r2c_1d (n, in, static_cast<fftwf_complex*> (scratch), flags | FFTW_UNALIGNED);
    });
}

fftwf_plan __wrap_fftwf_plan_dft_c2r_1d (int n, fftwf_complex* in, float*, unsigned flags)
{
    return makeOutOfPlace (sizeof (float) * (std::size_t) n, [&] (void* scratch)
    {
        return __real_fftwf_plan_dft_c2r_1d (n, in, static_cast<float*> (scratch), flags | FFTW_UNALIGNED);
    });
}

void __wrap_fftwf_destroy_plan (fftwf_plan handle)
{
    if (auto* p = fromHandle (handle))
    {
        __real_fftwf_destroy_plan (p->plan);
        fftwf_free (p->scratch);
        delete p;
    }
}

void __wrap_fftwf_execute_dft (fftwf_plan handle, fftwf_complex* in, fftwf_complex* out)
{
    auto* p = fromHandle (handle);
    __real_fftwf_execute_dft (p->plan, in, static_cast<fftwf_complex*> (p->scratch));
    std::memcpy (out, p->scratch, p->scratchBytes);
}

void __wrap_fftwf_execute_dft_r2c (fftwf_plan handle, float* in, fftwf_complex* out)
{
    auto* p = fromHandle (handle);
    __real_fftwf_execute_dft_r2c (p->plan, in, static_cast<fftwf_complex*> (p->scratch));
    std::memcpy (out, p->scratch, p->scratchBytes);
}

void __wrap_fftwf_execute_dft_c2r (fftwf_plan handle, fftwf_complex* in, float* out)
{
    auto* p = fromHandle (handle);
    __real_fftwf_execute_dft_c2r (p->plan, in, static_cast<float*> (p->scratch));
    std::memcpy (out, p->scratch, p->scratchBytes);
}
}
