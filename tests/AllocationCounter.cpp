#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

// glibc lets a program define its own malloc family; the originals stay reachable
// under their __libc_ names. Every C++ allocation (operator new, Eigen's aligned
// allocator, std::vector) ends up here, so counting at this level misses nothing.
#if defined(__GLIBC__)
  #define TESSALINE_COUNTS_MALLOC 1
#else
  #define TESSALINE_COUNTS_MALLOC 0
#endif

namespace
{
// Constant-initialised thread-locals in the executable need no allocation of their own.
thread_local bool counting = false;
thread_local std::size_t allocations = 0;
thread_local std::size_t freed = 0;

inline void noteAllocation() noexcept
{
    if (counting)
        ++allocations;
}

inline void noteFree (const void* pointer) noexcept
{
    if (counting && pointer != nullptr)
        ++freed;
}
} // namespace

namespace tessaline::testing
{
AllocationCounter::AllocationCounter()
{
    allocations = 0;
    freed = 0;
    counting = true;
}

AllocationCounter::~AllocationCounter()
{
    counting = false;
}

std::size_t AllocationCounter::count() const
{
    return allocations;
}

std::size_t AllocationCounter::frees() const
{
    return freed;
}

bool AllocationCounter::isSupported()
{
    return TESSALINE_COUNTS_MALLOC != 0;
}
} // namespace tessaline::testing

#if TESSALINE_COUNTS_MALLOC
extern "C"
{
void* __libc_malloc (std::size_t);
void* __libc_calloc (std::size_t, std::size_t);
void* __libc_realloc (void*, std::size_t);
void* __libc_memalign (std::size_t, std::size_t);
void __libc_free (void*);

void* malloc (std::size_t size)
{
    noteAllocation();
    return __libc_malloc (size);
}

void* calloc (std::size_t count, std::size_t size)
{
    noteAllocation();
    return __libc_calloc (count, size);
}

void* realloc (void* pointer, std::size_t size)
{
    noteAllocation();
    return __libc_realloc (pointer, size);
}

void* memalign (std::size_t alignment, std::size_t size)
{
    noteAllocation();
    return __libc_memalign (alignment, size);
}

void* aligned_alloc (std::size_t alignment, std::size_t size)
{
    noteAllocation();
    return __libc_memalign (alignment, size);
}

int posix_memalign (void** result, std::size_t alignment, std::size_t size)
{
    noteAllocation();
    void* pointer = __libc_memalign (alignment, size);
    if (pointer == nullptr)
        return 12; // ENOMEM
    *result = pointer;
    return 0;
}

void free (void* pointer)
{
    noteFree (pointer);
    __libc_free (pointer);
}
}
#else
// Elsewhere only operator new can be replaced portably; Eigen's malloc calls go unseen.
void* operator new (std::size_t size)
{
    noteAllocation();
    if (void* pointer = std::malloc (size == 0 ? 1 : size))
        return pointer;
    throw std::bad_alloc();
}

void operator delete (void* pointer) noexcept
{
    noteFree (pointer);
    std::free (pointer);
}

void operator delete (void* pointer, std::size_t) noexcept
{
    noteFree (pointer);
    std::free (pointer);
}
#endif
