#pragma once
// Bounded ring of N items (packets in every use). The link layers keep their
// send and retransmission queues in these instead of allocating nodes.
// A slot that holds no item holds an empty T, so a queue never keeps a packet
// buffer alive that it no longer lists.

#include <cstdint>

template <class T, unsigned int N>
class CleanQueue {
    static_assert(N > 0);

public:
    CleanQueue() = default;
    CleanQueue(CleanQueue const&) = delete;
    CleanQueue& operator=(CleanQueue const&) = delete;

    // Behind the newest item; false when full.
    bool put(T const& item)
    {
        if (count_ >= N)
            return false;
        slots[wr] = item;
        wr = inc_index(wr);
        ++count_;
        return true;
    }

    // In front of the oldest item, so that it is the next one read.
    bool append(T const& item)
    {
        if (count_ >= N)
            return false;
        rd = dec_index(rd);
        slots[rd] = item;
        ++count_;
        return true;
    }

    // Removes the oldest item.
    bool get(T* out)
    {
        if (count_ == 0)
            return false;
        if (out)
            *out = slots[rd];
        slots[rd] = T();
        --count_;
        rd = inc_index(rd);
        return true;
    }
    bool get(T& out) { return get(&out); }

    // Removes the newest item.
    bool get_last(T* out)
    {
        if (count_ == 0)
            return false;
        wr = dec_index(wr);
        if (out)
            *out = slots[wr];
        slots[wr] = T();
        --count_;
        return true;
    }

    // The oldest item, left in place; a null output only asks for one.
    bool preview(T* out) const
    {
        if (count_ == 0)
            return false;
        if (out)
            *out = slots[rd];
        return true;
    }

    // Drops every item and releases what they held.
    void clear()
    {
        for (unsigned int i = 0; i < N; ++i)
            slots[i] = T();
        rd = wr = count_ = 0;
    }

    unsigned int count() const { return count_; }
    static constexpr unsigned int size() { return N; }
    bool empty() const { return count_ == 0; }
    static unsigned int inc_index(unsigned int i) { return i == N - 1 ? 0 : i + 1; }

private:
    static unsigned int dec_index(unsigned int i) { return i == 0 ? N - 1 : i - 1; }

    T slots[N]{};
    std::uint32_t rd = 0;
    std::uint32_t wr = 0;
    std::uint32_t count_ = 0;
};
