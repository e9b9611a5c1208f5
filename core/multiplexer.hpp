#pragma once

#include "core/dpc.hpp"
#include "core/dual_list.hpp"
#include "core/event.hpp"
#include "core/measure.hpp"
#include "core/timer.hpp"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/epoll.h>

class Multiplexer;

// An external timer pool that the loop asks for its shortest wait.
class TimerPoolPlugin {
public:
    TimerPoolPlugin() noexcept = default;
    virtual ~TimerPoolPlugin();
    // Milliseconds until the pool needs the loop again; negative for none.
    virtual int poll_wait() = 0;

    void timerHook();
    void timerUnhook();

private:
    bool hooked_ = false;
};

// The single event loop of the process (global `multiplexer`).
class Multiplexer {
public:
    // The plugin pass in progress.
    struct TimerPollNotify {
        std::vector<TimerPoolPlugin*> pending;
    };

    constexpr Multiplexer() noexcept = default;
    Multiplexer(const Multiplexer&) = delete;
    Multiplexer& operator=(const Multiplexer&) = delete;

    // Runs passes until terminate(). A stop requested before run() was
    // entered ends it after no pass at all.
    void run(bool watchdog, bool live_clock);
    // Safe from a signal handler.
    void terminate() noexcept { stop_ = 1; }
    bool stopping() const noexcept { return stop_ != 0; }

    void attach(EventHandler* h);
    void detach(EventHandler* h);
    bool event_exists(const EventHandler* h) const;

    void set(TimerEvent* t);
    void reset(TimerEvent* t);

    void attach(Dpc* d);
    void dettach(Dpc* d);

    void hook(TimerPoolPlugin* p);
    void unhook(TimerPoolPlugin* p);

    void resetWD();
    // How run() opens and closes the watchdog device: open(2) of its path
    // below the GW_ROOT folder and close(2) unless the program names another
    // way (the driver port, so that a simulated board provides the device
    // too; what it opened goes back through it).
    using DeviceOpen = int (*)(const char* path, int flags);
    using DeviceClose = int (*)(int fd);
    void watchdog_device(DeviceOpen open, DeviceClose close) noexcept
    {
        wd_open_ = open;
        wd_close_ = close;
    }
    void dump(std::ostream& os) const;

    // Fires the due timers, runs the deferred calls once; returns the
    // milliseconds to the next expiry, or -1 when no timer is armed.
    int timers_schedule();
    void execute_dpc();
    // The plugins' shortest wait, or -1 when none has one.
    int timerPoll_schedule();

    // One pass; poll waits at most `max_wait_ms` when that is 0 or more.
    int run_once(int max_wait_ms);
    // Moves the manual loop clock (test seam) on by `ms`, firing the
    // timers due on the way, each with the clock at its expiry.
    void advance_clock(std::uint32_t ms);

    // Introspection, for the status dump and leak checks.
    std::size_t event_count() const noexcept
    {
        return attaching_.count() + served_.count() + active_.count();
    }
    std::size_t timer_count() const noexcept { return timers_.count(); }
    std::size_t dpc_count() const noexcept { return dpcs_.size(); }
    std::size_t plugin_count() const noexcept { return plugins_.size(); }
    bool watchdog_open() const noexcept { return wd_ >= 0; }
    const Measure& dpc_measure() const noexcept { return dpc_measure_; }
    const Measure& event_measure() const noexcept { return event_measure_; }
    const Measure& timer_measure() const noexcept { return timer_measure_; }
    // Drops the kernel's copy of the poll set; the next pass hands the set
    // over anew (a forked child must not change its parent's).
    void forget_kernel_set() noexcept;

private:
    // `clock_us` comes in as the loop-clock reading to start from (or
    // UINT64_MAX for none) and goes out as the last reading of the pass.
    int pass(int max_wait_ms, bool virtual_sleep, std::uint64_t& clock_us);
    int timers_schedule(std::uint64_t now_us);
    // The sweeps below time each call from the loop-clock reading that
    // ended the one before (`now_us`, read by the caller just before when
    // given) and return the reading taken after the last call: a pass reads
    // the clock once per call rather than twice.
    std::uint64_t fire_due(std::uint64_t now_us);
    std::uint64_t sweep_dpc(std::uint64_t now_us);
    std::uint64_t dispatch(std::uint64_t now_us);
    int wait_for_head(std::uint32_t now) const;
    void watchdog_open_device();
    void watchdog_close_device();
    void watchdog_close(int fd) const;

    F_sorted_list<TimerEvent> timers_;
    F_dual_list<EventHandler> attaching_;
    F_dual_list<EventHandler> served_;
    F_dual_list<EventHandler> active_;
    std::vector<pollfd> pollfds_;
    // The handler behind each poll entry, by position. A handler that leaves
    // between the filling of the entries and the copy of the results is
    // nulled here (and its entry disabled), so no handler ever receives the
    // events of another descriptor.
    std::vector<EventHandler*> polled_;
    // The kernel's copy of the poll array (epoll): handed over once and
    // changed only where a registration changes, so that a wait costs what
    // the ready descriptors cost rather than every registered one. The array
    // stays the truth; where epoll cannot stand in for it (a descriptor it
    // refuses, one number polled twice) the pass polls the array itself.
    bool sync_kernel_set();
    int wait_kernel_set(int timeout);
    void unwatch(int fd) noexcept;
    int ep_ = -1;
    bool ep_refused_ = false;         // until the next change of the set
    std::vector<int> watched_;        // by descriptor: events in the set, -1 none
    std::vector<std::uint32_t> seen_; // by descriptor: pass it was last in the array
    std::vector<std::size_t> slot_;   // by descriptor: its position in the array
    std::vector<epoll_event> ready_;  // epoll_wait's output
    std::size_t watched_count_ = 0;
    std::uint32_t stamp_ = 0;
    std::vector<pollfd> synced_; // the array as last handed over
    bool in_sync_ = false;       // and nothing changed the set since
    std::vector<Dpc*> dpcs_;
    std::vector<Dpc*> dpc_sweep_;
    std::size_t dpc_cursor_ = 0;
    volatile std::sig_atomic_t stop_ = 0;
    Measure dpc_measure_;
    Measure event_measure_;
    Measure timer_measure_;
    std::vector<TimerPoolPlugin*> plugins_;
    TimerPollNotify plugin_sweep_;
    TimerPollNotify* plugin_pass_ = nullptr;
    int wd_ = -1;
    DeviceOpen wd_open_ = nullptr;
    DeviceClose wd_close_ = nullptr;
    bool wd_pinged_ = false;
    std::uint32_t wd_last_ping_ = 0;
    bool live_clock_ = true;
};

extern Multiplexer& multiplexer;

// "POLLIN|POLLOUT" etc.; empty for no bit.
std::string PollEventAsText(short events);
