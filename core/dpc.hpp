#pragma once

#include <memory>

// Deferred calls: an active Dpc runs on every loop pass (twice: after the
// timers and just before poll), in ascending order of the Dpc objects'
// addresses.

class DpcHandler {
public:
    virtual void Invoke() = 0;
    virtual ~DpcHandler() = default;
};

class DpcHandler1 : public DpcHandler {
public:
    explicit DpcHandler1(void (*fn)()) : fn_(fn) {}
    void Invoke() override
    {
        if (fn_ != nullptr)
            fn_();
    }

private:
    void (*fn_)();
};

template <class X>
class TDpcHandler : public DpcHandler {
public:
    using Action = void (X::*)();
    TDpcHandler(X* obj, Action action) : obj_(obj), action_(action) {}
    void Invoke() override
    {
        if (action_ != nullptr)
            (obj_->*action_)();
    }

private:
    X* obj_;
    Action action_;
};

class Dpc {
public:
    Dpc() noexcept = default;
    Dpc(const Dpc&) = delete;
    Dpc& operator=(const Dpc&) = delete;
    ~Dpc();

    // Replaces (and deletes) the handler bound before; does not activate.
    void Bind(DpcHandler* handler) { handler_.reset(handler); }
    template <class X>
    void Bind(X* obj, void (X::*action)())
    {
        Bind(new TDpcHandler<X>(obj, action));
    }

    void Activate();
    void Deactivate();
    bool active() const noexcept { return active_; }
    DpcHandler* handler() const noexcept { return handler_.get(); }

private:
    std::unique_ptr<DpcHandler> handler_;
    bool active_ = false;
};
