#pragma once
// Intrusive counted handle shared by packet buffers and protocol status
// objects. The object carries its own count; the handle finds the hooks
// smart_pointer_add_ref(T*) and smart_pointer_release(T*) by argument-dependent
// lookup, so each kind decides what "last reference gone" means (back to the
// pool for a buffer, delete for a status).

#include <type_traits>
#include <utility>

// Both write "... POINTER ASSERTION!" to the log stream and end the process.
[[noreturn]] void SmartPtrAssertion();
[[noreturn]] void SharedPtrAssertion();

template <class T>
class Smart_pointer {
public:
    Smart_pointer() noexcept = default;
    Smart_pointer(T* p) noexcept : ptr(p)
    {
        if (ptr)
            smart_pointer_add_ref(ptr);
    }
    Smart_pointer(Smart_pointer const& o) noexcept : Smart_pointer(o.ptr) {}
    Smart_pointer(Smart_pointer&& o) noexcept : ptr(std::exchange(o.ptr, nullptr)) {}
    ~Smart_pointer() { reset(); }

    Smart_pointer& operator=(T* p) noexcept
    {
        if (p)
            smart_pointer_add_ref(p);
        T* old = std::exchange(ptr, p);
        if (old)
            smart_pointer_release(old);
        return *this;
    }
    Smart_pointer& operator=(Smart_pointer const& o) noexcept { return *this = o.ptr; }
    Smart_pointer& operator=(Smart_pointer&& o) noexcept
    {
        if (this != &o) {
            T* old = std::exchange(ptr, std::exchange(o.ptr, nullptr));
            if (old)
                smart_pointer_release(old);
        }
        return *this;
    }

    void reset() noexcept
    {
        if (T* old = std::exchange(ptr, nullptr))
            smart_pointer_release(old);
    }

    // Every access through a non-const handle is a write access: a shared
    // object that copies on write gets its private copy here.
    T* operator->()
    {
        if (!ptr)
            SmartPtrAssertion();
        prepare_for_modify();
        return ptr;
    }
    T const* operator->() const
    {
        if (!ptr)
            SmartPtrAssertion();
        return ptr;
    }
    T& operator*() { return *operator->(); }
    T const& operator*() const { return *operator->(); }

    T* get() const noexcept { return ptr; }
    explicit operator bool() const noexcept { return ptr != nullptr; }

    // No-op unless the object kind copies on write (packet buffers).
    void prepare_for_modify() {}

private:
    T* ptr = nullptr;
};
