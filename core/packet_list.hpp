#pragma once
// Intrusive doubly linked list. The packet pool keeps its free blocks in one
// and every protocol stack keeps its layers in one: neither may allocate
// list nodes, and both need constant-time unlinking from the middle.

#include <cstddef>

template <class T>
class F_packet_list;

template <class T>
class F_packet_list_item {
public:
    constexpr F_packet_list_item() noexcept = default;
    F_packet_list_item(F_packet_list_item const&) = delete;
    F_packet_list_item& operator=(F_packet_list_item const&) = delete;

protected:
    // Towards the tail and towards the head of the list that holds the item.
    T* f_next = nullptr;
    T* f_prev = nullptr;

    friend class F_packet_list<T>;
};

template <class T>
class F_packet_list {
public:
    constexpr F_packet_list() noexcept = default;
    F_packet_list(F_packet_list const&) = delete;
    F_packet_list& operator=(F_packet_list const&) = delete;

    T* head() const noexcept { return f_head; }
    T* tail() const noexcept { return f_tail; }
    bool empty() const noexcept { return f_head == nullptr; }
    std::size_t count() const noexcept { return f_count; }

    static T* next_of(T const* p) noexcept { return link(p)->f_next; }
    static T* prev_of(T const* p) noexcept { return link(p)->f_prev; }

    void push_head(T* p) noexcept
    {
        auto* l = link(p);
        l->f_prev = nullptr;
        l->f_next = f_head;
        if (f_head)
            link(f_head)->f_prev = p;
        else
            f_tail = p;
        f_head = p;
        ++f_count;
    }

    void push_tail(T* p) noexcept
    {
        auto* l = link(p);
        l->f_next = nullptr;
        l->f_prev = f_tail;
        if (f_tail)
            link(f_tail)->f_next = p;
        else
            f_head = p;
        f_tail = p;
        ++f_count;
    }

    // The item must be on this list.
    void remove(T* p) noexcept
    {
        auto* l = link(p);
        if (l->f_prev)
            link(l->f_prev)->f_next = l->f_next;
        else
            f_head = l->f_next;
        if (l->f_next)
            link(l->f_next)->f_prev = l->f_prev;
        else
            f_tail = l->f_prev;
        l->f_next = l->f_prev = nullptr;
        --f_count;
    }

    T* pop_head() noexcept
    {
        T* p = f_head;
        if (p)
            remove(p);
        return p;
    }

    T* pop_tail() noexcept
    {
        T* p = f_tail;
        if (p)
            remove(p);
        return p;
    }

private:
    static F_packet_list_item<T>* link(T* p) noexcept { return p; }
    static F_packet_list_item<T> const* link(T const* p) noexcept { return p; }

    T* f_head = nullptr;
    T* f_tail = nullptr;
    std::size_t f_count = 0;
};
