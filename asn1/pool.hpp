#pragma once
// Size-class free lists for the ASN.1 value objects and their field, element
// and bitmap storage. A decoded message is a tree of small objects that live
// for one message; taking them from the general-purpose allocator cost more
// than the coding itself. Blocks come in steps of the default new alignment
// up to `limit` bytes; a freed block goes to the head of its class's list and
// is the next one handed out, so a steady stream of messages reuses the same
// few blocks. Larger requests go to the general-purpose allocator.
//
// The lists are used from the event loop's thread only, like the packet
// pool. Under AddressSanitizer every block is its own allocation and a freed
// block is poisoned while it waits for reuse: a use after free is reported,
// and a value never freed is a leak the leak checker sees.

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define GW_ASN1_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GW_ASN1_POOL_ASAN 1
#endif
#endif
namespace ASN1::detail {

class Pool {
public:
    static constexpr std::size_t step = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
    static constexpr std::size_t limit = 512;

    [[gnu::always_inline]] static void* allocate(std::size_t size)
    {
        if (size == 0 || size > limit)
            return ::operator new(size);
#ifdef GW_ASN1_POOL_ASAN
        if (void* block = takeChecked(size))
            return block;
#else
        Free*& head = heads_[index(size)];
        if (Free* block = head) {
            head = block->next;
            return block;
        }
#endif
        return refill(size);
    }

    [[gnu::always_inline]] static void deallocate(void* p, std::size_t size) noexcept
    {
        if (p == nullptr)
            return;
        if (size == 0 || size > limit) {
            ::operator delete(p);
            return;
        }
#ifdef GW_ASN1_POOL_ASAN
        putChecked(p, size);
#else
        Free*& head = heads_[index(size)];
        Free* block = static_cast<Free*>(p);
        block->next = head;
        head = block;
#endif
    }

    // Calls made into the general-purpose allocator for small blocks since
    // the program started (tests prove with it that a message reuses blocks).
    static std::uint64_t refills() noexcept
    {
        return refills_;
    }

private:
    struct Free {
        Free* next;
    };
    static constexpr std::size_t classes = limit / step;

    static constexpr std::size_t index(std::size_t size) noexcept
    {
        return (size - 1) / step;
    }
    static constexpr std::size_t classSize(std::size_t size) noexcept
    {
        return (index(size) + 1) * step;
    }
    static void* refill(std::size_t size);
#ifdef GW_ASN1_POOL_ASAN
    // The lists live outside the blocks, which stay poisoned while free (the
    // leak checker does not follow pointers through poisoned memory).
    static void* takeChecked(std::size_t size);
    static void putChecked(void* p, std::size_t size) noexcept;
#endif

    // Constant-initialised: values may be built during static initialisation.
    static constinit Free* heads_[classes];
    static constinit std::uint64_t refills_;
};

// std::allocator over the pool, for the containers of the value objects.
template <class T>
struct PoolAllocator {
    using value_type = T;
    PoolAllocator() noexcept = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept
    {}
    T* allocate(std::size_t n) { return static_cast<T*>(Pool::allocate(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { Pool::deallocate(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const PoolAllocator<U>&) const noexcept
    {
        return true;
    }
};

} // namespace ASN1::detail
