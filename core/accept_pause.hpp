#pragma once

// What a listener does when accept fails for want of descriptors or memory.
// The connection stays queued, so the listener stays readable and a
// level-triggered loop would call it again at once, for ever. Instead the
// listener's event polls for nothing for a short while, and, when
// descriptors ran out, the process's spare one is given up for a moment to
// accept and close the queued newcomers: they see their connection closed
// instead of waiting in the queue, and the descriptors the rest of the
// server needs are not theirs.

#include "core/event.hpp"
#include "core/timer.hpp"

class AcceptPause {
public:
    static constexpr unsigned int kPauseMs = 100;

    // Reserves the spare descriptor when the process has none yet.
    AcceptPause();
    AcceptPause(AcceptPause const&) = delete;
    AcceptPause& operator=(AcceptPause const&) = delete;

    // True when `error` (errno of a failed accept on the listener that
    // `event` polls for input) is a shortage (EMFILE, ENFILE, ENOBUFS,
    // ENOMEM): the event then polls for nothing until kPauseMs have passed
    // (an event released or rescheduled meanwhile is left as it is then).
    bool Failed(Event& event, int error);
    // After Failed: whether this shortage is the first since an accept went
    // through, the one to log.
    bool first() const { return first_; }
    // An accept went through.
    void Accepted() { logged_ = false; }
    bool paused() const { return static_cast<bool>(timer_); }

    // The process's spare descriptor; -1 while it is not held.
    static int spare();

private:
    void OnTimeout(Timer*);

    Timer timer_;
    Event* event_ = nullptr;
    bool logged_ = false;
    bool first_ = false;
};
