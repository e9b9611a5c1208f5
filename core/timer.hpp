#pragma once

#include "core/dual_list.hpp"

#include <cstdint>
#include <type_traits>

// One-shot timers on the loop clock (milliseconds). Periodic work re-arms
// its timer from the callback.

class TimerEvent : public F_dual_list_item<TimerEvent> {
public:
    TimerEvent() noexcept = default;
    virtual ~TimerEvent();
    virtual void fire() = 0;

    // Arms (or re-arms) the event `ms` milliseconds from now.
    void schedule(unsigned int ms);
    // Cancels it when armed.
    void reset();
    // Signed 32-bit difference of the expiries: negative when this is earlier.
    std::int32_t compare(const TimerEvent* other) const noexcept
    {
        return static_cast<std::int32_t>(expiry - other->expiry);
    }
    bool armed() const noexcept;

    std::uint32_t expiry = 0;
};

// Holder of at most one pending timer event. Replacing, resetting or
// destroying the holder deletes the pending event, which cancels it.
class Timer {
public:
    Timer() noexcept = default;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { reset(); }

    TimerEvent* get() const noexcept { return event_; }
    TimerEvent* release() noexcept
    {
        TimerEvent* e = event_;
        event_ = nullptr;
        return e;
    }
    void reset(TimerEvent* e = nullptr) noexcept
    {
        TimerEvent* old = event_;
        event_ = e;
        if (old != nullptr && old != e)
            delete old;
    }
    explicit operator bool() const noexcept { return event_ != nullptr; }

    template <class X>
    void set(unsigned int ms, void (X::*action)(), X* obj);
    template <class X>
    void set(unsigned int ms, void (X::*action)(Timer*), X* obj);

private:
    TimerEvent* event_ = nullptr;
};

// Calls a member of X: one without arguments (ObjTimerEvent1) or one that
// receives the holder (ObjTimerEvent2).
template <class X, class Action>
class ObjTimerEvent : public TimerEvent {
public:
    // Arms itself, then becomes the holder's pending event (the event held
    // before is deleted after this one is armed).
    ObjTimerEvent(Timer* holder, Action action, X* obj, unsigned int ms)
        : holder_(holder), action_(action), obj_(obj)
    {
        schedule(ms);
        holder_->reset(this);
    }
    void fire() override
    {
        // The holder lets go first, so the action may arm the same Timer.
        if (holder_->get() == this)
            holder_->release();
        if constexpr (std::is_invocable_v<Action, X*, Timer*>)
            (obj_->*action_)(holder_);
        else
            (obj_->*action_)();
        delete this;
    }

private:
    Timer* holder_;
    Action action_;
    X* obj_;
};

template <class X>
using ObjTimerEvent1 = ObjTimerEvent<X, void (X::*)()>;
template <class X>
using ObjTimerEvent2 = ObjTimerEvent<X, void (X::*)(Timer*)>;

// Calls a plain function.
class SimpleTimerEvent1 : public TimerEvent {
public:
    SimpleTimerEvent1(Timer* holder, void (*fn)(), unsigned int ms);
    void fire() override;

private:
    Timer* holder_;
    void (*fn_)();
};

template <class X>
void Timer::set(unsigned int ms, void (X::*action)(), X* obj)
{
    new ObjTimerEvent1<X>(this, action, obj, ms);
}

template <class X>
void Timer::set(unsigned int ms, void (X::*action)(Timer*), X* obj)
{
    new ObjTimerEvent2<X>(this, action, obj, ms);
}

// A timer armed from a constant: which Timer member, which member function,
// how many milliseconds.
//
//     static constexpr TimerSpec<Slot>::Spec TUpdatespec{&Slot::updateTimer,
//                                                       &Slot::OnUpdateTimer, 3000};
//     TimerSpec<Slot>::SpecTimer<TUpdatespec>::set(this);
template <class X>
struct TimerSpec {
    struct Spec {
        Timer X::*timer;
        void (X::*action)();
        unsigned int ms;
    };
    template <const Spec& S>
    struct SpecTimer {
        static void set(X* obj) { (obj->*(S.timer)).set(S.ms, S.action, obj); }
    };
};
