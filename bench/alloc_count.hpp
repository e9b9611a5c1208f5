#pragma once
// Counts the calls into the general-purpose allocator of the program that
// includes this header (once, in one file): every operator new is replaced
// by one that counts and then takes malloc.

#include <cstddef>
#include <cstdlib>
#include <new>

namespace Bench {
inline std::size_t allocations = 0;
}

// g++ inlines these pairs and then takes free() for a mismatch of the
// replaced operator new; the pairing is right by construction.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size)
{
    ++Bench::allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop
