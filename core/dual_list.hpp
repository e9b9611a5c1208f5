#pragma once

#include <cstddef>

// Intrusive doubly linked list: items carry their own links, so an item is in
// at most one list of its kind at a time, and insertion or removal never
// allocates. Each item also remembers the list that holds it, which makes
// membership tests and removal of a given item O(1).

template <class T>
class F_dual_list;

template <class T>
class F_dual_list_item {
public:
    constexpr F_dual_list_item() noexcept = default;
    F_dual_list_item(const F_dual_list_item&) = delete;
    F_dual_list_item& operator=(const F_dual_list_item&) = delete;

    const F_dual_list<T>* owner_list() const noexcept { return list_; }
    T* next_item() const noexcept { return next_; }

private:
    friend class F_dual_list<T>;
    T* next_ = nullptr;
    T* prev_ = nullptr;
    F_dual_list<T>* list_ = nullptr;
};

template <class T>
class F_dual_list {
public:
    constexpr F_dual_list() noexcept = default;
    F_dual_list(const F_dual_list&) = delete;
    F_dual_list& operator=(const F_dual_list&) = delete;

    T* head() const noexcept { return head_; }
    T* tail() const noexcept { return tail_; }
    std::size_t count() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    bool contains(const T* item) const noexcept { return link(item).list_ == this; }

    static T* next(const T* item) noexcept { return link(item).next_; }
    static T* prev(const T* item) noexcept { return link(item).prev_; }

    void push_back(T* item) noexcept { insert_after(tail_, item); }
    void push_front(T* item) noexcept { insert_after(nullptr, item); }

    // Inserts after `pos`; a null `pos` inserts at the head.
    void insert_after(T* pos, T* item) noexcept
    {
        auto& l = link(item);
        l.list_ = this;
        l.prev_ = pos;
        if (pos == nullptr) {
            l.next_ = head_;
            head_ = item;
        } else {
            l.next_ = link(pos).next_;
            link(pos).next_ = item;
        }
        if (l.next_ != nullptr)
            link(l.next_).prev_ = item;
        else
            tail_ = item;
        ++count_;
    }

    // Removes an item of this list; false when it is not in this list.
    bool remove(T* item) noexcept
    {
        auto& l = link(item);
        if (l.list_ != this)
            return false;
        if (l.prev_ != nullptr)
            link(l.prev_).next_ = l.next_;
        else
            head_ = l.next_;
        if (l.next_ != nullptr)
            link(l.next_).prev_ = l.prev_;
        else
            tail_ = l.prev_;
        l.next_ = l.prev_ = nullptr;
        l.list_ = nullptr;
        --count_;
        return true;
    }

    T* pop_front() noexcept
    {
        T* item = head_;
        if (item != nullptr)
            remove(item);
        return item;
    }

    T* pop_back() noexcept
    {
        T* item = tail_;
        if (item != nullptr)
            remove(item);
        return item;
    }

    // Exchanges the contents of the two lists.
    void merge(F_dual_list& other) noexcept
    {
        T* h = head_;
        T* t = tail_;
        std::size_t c = count_;
        head_ = other.head_;
        tail_ = other.tail_;
        count_ = other.count_;
        other.head_ = h;
        other.tail_ = t;
        other.count_ = c;
        for (T* p = head_; p != nullptr; p = link(p).next_)
            link(p).list_ = this;
        for (T* p = other.head_; p != nullptr; p = link(p).next_)
            link(p).list_ = &other;
    }

    // Moves every item of `other` to the tail of this list, in order.
    void splice_back(F_dual_list& other) noexcept
    {
        while (T* item = other.pop_front())
            push_back(item);
    }

private:
    static F_dual_list_item<T>& link(T* item) noexcept { return *item; }
    static const F_dual_list_item<T>& link(const T* item) noexcept { return *item; }

    T* head_ = nullptr;
    T* tail_ = nullptr;
    std::size_t count_ = 0;
};

// The timer list: the same list, kept sorted by its user.
template <class T>
using F_sorted_list = F_dual_list<T>;
