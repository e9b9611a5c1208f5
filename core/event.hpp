#pragma once

#include "core/dual_list.hpp"
#include "core/fd.hpp"
#include "core/measure.hpp"

#include <cstdint>
#include <memory>
#include <string>

struct pollfd;

// A registration with the event loop. The loop keeps it in one of its
// handler lists through the intrusive links of the base.
class EventHandler : public F_dual_list_item<EventHandler> {
public:
    EventHandler() noexcept = default;
    virtual ~EventHandler();

    // Fills the loop's poll entry.
    virtual void shedule_event(pollfd& entry) = 0;
    // Serves the events poll returned (called also when they are 0).
    virtual void svc_event(short revents) = 0;
    virtual std::string event_name() const { return "unknown"; }
    virtual bool is_named() const { return false; }

    void mux_attach();
    void mux_detach();
    // Serves the events stored by the loop.
    void svc_event() { svc_event(revents); }

    bool attached = false;
    short revents = 0;
};

// A named poll registration of one descriptor with a member-function callback
// that receives the descriptor and the returned events. The event keeps its
// own close-on-exec duplicate of the descriptor.
class Event : public EventHandler {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(int fd, short revents) = 0;
    };

    template <class X>
    class THandler : public Handler {
    public:
        using Action = void (X::*)(int, short);
        THandler(Action action, X* obj) : action_(action), obj_(obj) {}
        void Invoke(int fd, short revents) override
        {
            if (action_ != nullptr)
                (obj_->*action_)(fd, revents);
        }

    private:
        Action action_;
        X* obj_;
    };

    Event() = default;
    ~Event() override;

    void Bind(Handler* handler) { handler_.reset(handler); }
    template <class X>
    void Bind(const std::string& name, typename THandler<X>::Action action, X* obj)
    {
        name_ = name;
        Bind(new THandler<X>(action, obj));
    }
    void UnBind() { handler_.reset(); }

    // (Re)registers on a duplicate of `fd` for `events`. False when the
    // event is left unregistered: `fd` is invalid, or no duplicate could be
    // had (errno says why; the caller reports it as its own failure).
    bool Schedule(Fd fd, short events);
    // Leaves the loop and closes the duplicate; handler and name stay.
    void Release();

    void shedule_event(pollfd& entry) override;
    void svc_event(short revents) override;
    std::string event_name() const override { return name_; }
    bool is_named() const override { return true; }

    Fd fd() const noexcept { return fd_.fd(); }
    short events() const noexcept { return events_; }
    std::uint32_t count() const noexcept { return count_; }
    bool bound() const noexcept { return handler_ != nullptr; }
    Measure& measure() noexcept { return measure_; }
    const Measure& measure() const noexcept { return measure_; }

private:
    std::unique_ptr<Handler> handler_;
    OwnedFd fd_;
    short events_ = 0;
    std::string name_ = "Unknown";
    std::uint32_t count_ = 0;
    Measure measure_;
};
