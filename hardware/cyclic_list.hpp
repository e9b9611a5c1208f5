#pragma once

// An intrusive circular doubly linked list: the head is a node that points
// to itself while the list is empty, and each element carries its node as a
// base class, from which the element is found again by a static_cast (the
// compiler subtracts the node's position in the element). Linking and
// unlinking never allocate and an element unlinks itself in constant time.

namespace Containers {

class CyclicNode {
public:
    CyclicNode() noexcept = default;
    CyclicNode(const CyclicNode&) = delete;
    CyclicNode& operator=(const CyclicNode&) = delete;
    ~CyclicNode() { unlink(); }

    bool linked() const noexcept { return next_ != this; }
    void unlink() noexcept
    {
        prev_->next_ = next_;
        next_->prev_ = prev_;
        next_ = prev_ = this;
    }
    // Puts this node just before `pos` (at the tail when `pos` is the head).
    void link_before(CyclicNode& pos) noexcept
    {
        unlink();
        next_ = &pos;
        prev_ = pos.prev_;
        pos.prev_->next_ = this;
        pos.prev_ = this;
    }
    CyclicNode* next() const noexcept { return next_; }

private:
    CyclicNode* next_ = this;
    CyclicNode* prev_ = this;
};

// Node is the base of T (derived from CyclicNode) that links T into this
// list; a class in two lists has two such bases.
template <class T, class Node>
class CyclicList {
public:
    class iterator {
    public:
        explicit iterator(CyclicNode* n) noexcept : n_(n) {}
        T& operator*() const noexcept { return static_cast<T&>(static_cast<Node&>(*n_)); }
        T* operator->() const noexcept { return &**this; }
        iterator& operator++() noexcept
        {
            n_ = n_->next();
            return *this;
        }
        bool operator==(const iterator& o) const noexcept { return n_ == o.n_; }
        bool operator!=(const iterator& o) const noexcept { return n_ != o.n_; }

    private:
        CyclicNode* n_;
    };

    CyclicList() noexcept = default;
    CyclicList(const CyclicList&) = delete;
    CyclicList& operator=(const CyclicList&) = delete;

    bool empty() const noexcept { return !head_.linked(); }
    void push_back(T& item) noexcept { static_cast<Node&>(item).link_before(head_); }
    static void remove(T& item) noexcept { static_cast<Node&>(item).unlink(); }

    iterator begin() noexcept { return iterator(head_.next()); }
    iterator end() noexcept { return iterator(&head_); }

private:
    CyclicNode head_;
};

} // namespace Containers
