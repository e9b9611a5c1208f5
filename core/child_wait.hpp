#pragma once

// Exits of child processes, delivered on the event loop.
//
// SIGCHLD only wakes the loop (one byte on a socket pair, never blocking);
// the loop then reaps every exited child with waitpid and calls the waiter
// registered for its pid. Nothing else in the process calls wait.

#include "core/dual_list.hpp"
#include "core/event.hpp"
#include "core/fd.hpp"

#include <csignal>
#include <cstddef>
#include <new>

class ChildWaitService;

class ChildWait : public F_dual_list_item<ChildWait> {
public:
    // Lives in the waiter's storage: destroyed in place, never freed.
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(ChildWait& waiter, int status) = 0;
        static void operator delete(void*) noexcept {}
    };

    class DummyHandler : public Handler {
    public:
        void Invoke(ChildWait&, int) override {}
    };

    template <class X>
    class THandler1 : public Handler {
    public:
        using Action = void (X::*)(int);
        THandler1(X& obj, Action action) : obj_(obj), action_(action) {}
        void Invoke(ChildWait&, int status) override { (obj_.*action_)(status); }

    private:
        X& obj_;
        Action action_;
    };

    ChildWait();
    ChildWait(const ChildWait&) = delete;
    ChildWait& operator=(const ChildWait&) = delete;
    ~ChildWait();

    template <class X>
    void Bind(X* obj, void (X::*action)(int))
    {
        static_assert(sizeof(THandler1<X>) <= kStorage, "handler does not fit the waiter");
        handler_->~Handler();
        handler_ = new (storage_) THandler1<X>(*obj, action);
    }

    // Watches `pid`; the waiter goes to the tail of the list (once).
    void Attach(int pid);
    void Detach();
    int pid() const noexcept { return pid_; }
    bool listed() const noexcept;

    static void Initialize();
    static void Cleanup();
    // Connects the service to the loop and installs the SIGCHLD handler.
    static void Activate();
    // Undoes Activate: SIGCHLD back to its default, the loop registration
    // and the socket pair released. Lets a test leave the process as it
    // found it.
    static void Deactivate();

private:
    friend class ChildWaitService;
    static constexpr std::size_t kStorage = 64;

    int pid_ = 0;
    alignas(std::max_align_t) unsigned char storage_[kStorage];
    Handler* handler_;
};

class ChildWaitService : public Event {
public:
    static ChildWaitService* childWaitService;

    static void SigChldHandlerWrapper(int, siginfo_t*, void*);
    void OnChildEvent(int fd, short revents);

    std::size_t waiter_count() const noexcept { return waiters_.count(); }

private:
    friend class ChildWait;
    OwnedFd write_;
    F_dual_list<ChildWait> waiters_;
};

// Every unit that uses ChildWait counts itself here during static
// initialisation, so the service exists before main and outlives every
// static user.
struct ChildWaitUsage {
    ChildWaitUsage();
    ~ChildWaitUsage();
};
static ChildWaitUsage childWaitUsage;
