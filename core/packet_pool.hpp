#pragma once
// Fixed pool of N equal blocks. Blocks never handed out yet are taken in
// address order before any returned block, and returned blocks are reused in
// the order they came back: the same order as one free list holding every
// block at start with returns appended at its tail. Handing out fresh blocks
// by index keeps the pool's storage untouched (and so uncommitted) until it is
// needed.

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define GW_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define GW_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define GW_POOL_POISON(p, n) ((void)(p), (void)(n))
#define GW_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

// The pool is used from the event loop's thread only.
struct Dummy_critical_section {
    void enter() noexcept {}
    void leave() noexcept {}
};

// Every member is trivially constructible on purpose: a pool with static
// storage duration is then zero-initialised before any constructor of any
// translation unit runs, so packets can be used during static initialisation.
template <class T, std::size_t N, class CS>
class List_allocator {
public:
    // Raw storage for one T, not (re)initialised; null when exhausted.
    T* allocate() noexcept
    {
        lock.enter();
        Block* b = nullptr;
        if (fresh < N) {
            b = &blocks[fresh++];
        } else if (head) {
            b = head;
            head = b->next;
            if (head)
                head->prev = nullptr;
            else
                tail = nullptr;
            --returned;
        }
        lock.leave();
        if (!b)
            return nullptr;
        GW_POOL_UNPOISON(b->storage, sizeof(T));
        return reinterpret_cast<T*>(b->storage);
    }

    void deallocate(T* p) noexcept
    {
        Block* b = block_of(p);
        // A released buffer read or written through a stale pointer is a
        // use-after-free; let the address sanitizer say so.
        GW_POOL_POISON(b->storage, sizeof(T));
        lock.enter();
        b->next = nullptr;
        b->prev = tail;
        if (tail)
            tail->next = b;
        else
            head = b;
        tail = b;
        ++returned;
        lock.leave();
    }

    std::size_t free_count() const noexcept { return (N - fresh) + returned; }
    static constexpr std::size_t size() noexcept { return N; }

private:
    struct Block {
        Block* next;
        Block* prev;
        alignas(T) unsigned char storage[sizeof(T)];
    };

    static Block* block_of(T* p) noexcept
    {
        auto* bytes = reinterpret_cast<unsigned char*>(p) - offsetof(Block, storage);
        return reinterpret_cast<Block*>(bytes);
    }

    Block blocks[N];
    std::size_t fresh; // blocks[fresh..N) have never been handed out
    Block* head;       // returned blocks, oldest first
    Block* tail;
    std::size_t returned;
    CS lock;
};
