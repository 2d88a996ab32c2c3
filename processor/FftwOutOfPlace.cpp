// The framework's FFTW engine plans every real transform in place, unaligned, with
// FFTW_ESTIMATE. For such problems FFTW picks "buffered" solvers, which allocate a buffer
// on every transform: the convolution engines would allocate on the audio thread in
// every block; and a plan for unaligned arrays may not use FFTW's vector code, which
// made the transforms two thirds of the convolution's cost. So the linker routes the
// framework's FFTW calls here (--wrap, see processor/CMakeLists.txt): each plan is made
// out of place between two aligned arrays of its own, and a transform copies its input
// into the first and its result out of the second. Copying costs far less than the
// vector code saves, and the numbers are FFTW's own.
//
// Plans are made and destroyed where the framework does it (preparation and the engines'
// background thread, under its own lock, and FFTW's planner made thread-safe for the rest
// of the process); the transforms run on the audio thread and touch only their plan's
// arrays, which no two threads share: each engine owns its plans.

#include <fftw3.h>

#include <cstring>
#include <new>

extern "C"
{
fftwf_plan __real_fftwf_plan_dft_1d (int, fftwf_complex*, fftwf_complex*, int, unsigned);
fftwf_plan __real_fftwf_plan_dft_r2c_1d (int, float*, fftwf_complex*, unsigned);
fftwf_plan __real_fftwf_plan_dft_c2r_1d (int, fftwf_complex*, float*, unsigned);
void __real_fftwf_destroy_plan (fftwf_plan);
}

namespace
{
struct OutOfPlacePlan
{
    fftwf_plan plan = nullptr;
    void* input = nullptr;
    std::size_t inputBytes = 0;
    void* scratch = nullptr;
    std::size_t scratchBytes = 0;
};

fftwf_plan toHandle (OutOfPlacePlan* p) { return reinterpret_cast<fftwf_plan> (p); }
OutOfPlacePlan* fromHandle (fftwf_plan handle) { return reinterpret_cast<OutOfPlacePlan*> (handle); }

void freePlan (OutOfPlacePlan* p)
{
    if (p->plan != nullptr)
        __real_fftwf_destroy_plan (p->plan);
    fftwf_free (p->input);
    fftwf_free (p->scratch);
    delete p;
}

template <typename MakePlan>
fftwf_plan makeOutOfPlace (std::size_t inputBytes, std::size_t scratchBytes, MakePlan&& makePlan)
{
    // The framework locks its own planning, but FFTW's planner is shared with every
    // other user of the library in the host's process.
    static const bool plannerShared = (fftwf_make_planner_thread_safe(), true);
    (void) plannerShared;

    auto* p = new (std::nothrow) OutOfPlacePlan;
    if (p == nullptr)
        return nullptr;

    p->inputBytes = inputBytes;
    p->input = fftwf_malloc (inputBytes);
    p->scratchBytes = scratchBytes;
    p->scratch = fftwf_malloc (scratchBytes);
    p->plan = p->input != nullptr && p->scratch != nullptr ? makePlan (p->input, p->scratch) : nullptr;

    if (p->plan == nullptr)
    {
        freePlan (p);
        return nullptr;
    }

    return toHandle (p);
}

std::size_t complexBytes (int n) { return sizeof (fftwf_complex) * (std::size_t) n; }

unsigned alignedFlags (unsigned flags) { return flags & ~(unsigned) FFTW_UNALIGNED; }

void run (OutOfPlacePlan* p, const void* in, void* out)
{
    std::memcpy (p->input, in, p->inputBytes);
    fftwf_execute (p->plan);
    std::memcpy (out, p->scratch, p->scratchBytes);
}
} // namespace

extern "C"
{
// Planned on the plan's own aligned arrays, so that FFTW may choose its vector code; a
// call copies its data in and the result out, whatever the caller's alignment.
fftwf_plan __wrap_fftwf_plan_dft_1d (int n, fftwf_complex*, fftwf_complex*, int sign, unsigned flags)
{
    return makeOutOfPlace (complexBytes (n), complexBytes (n), [&] (void* input, void* scratch)
    {
        return __real_fftwf_plan_dft_1d (n, static_cast<fftwf_complex*> (input), static_cast<fftwf_complex*> (scratch), sign,
                                         alignedFlags (flags));
    });
}

fftwf_plan __wrap_fftwf_plan_dft_r2c_1d (int n, float*, fftwf_complex*, unsigned flags)
{
    return makeOutOfPlace (sizeof (float) * (std::size_t) n, complexBytes (n / 2 + 1), [&] (void* input, void* scratch)
    {
        return __real_fftwf_plan_dft_r2c_1d (n, static_cast<float*> (input), static_cast<fftwf_complex*> (scratch), alignedFlags (flags));
    });
}

fftwf_plan __wrap_fftwf_plan_dft_c2r_1d (int n, fftwf_complex*, float*, unsigned flags)
{
    return makeOutOfPlace (complexBytes (n / 2 + 1), sizeof (float) * (std::size_t) n, [&] (void* input, void* scratch)
    {
        return __real_fftwf_plan_dft_c2r_1d (n, static_cast<fftwf_complex*> (input), static_cast<float*> (scratch), alignedFlags (flags));
    });
}

void __wrap_fftwf_destroy_plan (fftwf_plan handle)
{
    if (auto* p = fromHandle (handle))
        freePlan (p);
}

void __wrap_fftwf_execute_dft (fftwf_plan handle, fftwf_complex* in, fftwf_complex* out)
{
    run (fromHandle (handle), in, out);
}

void __wrap_fftwf_execute_dft_r2c (fftwf_plan handle, float* in, fftwf_complex* out)
{
    run (fromHandle (handle), in, out);
}

void __wrap_fftwf_execute_dft_c2r (fftwf_plan handle, fftwf_complex* in, float* out)
{
    run (fromHandle (handle), in, out);
}
}
