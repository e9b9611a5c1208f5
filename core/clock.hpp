#pragma once

// The loop clock and the time-value helpers of namespace Mux.
//
// Timers, the watchdog cadence, Measure and Profile durations all read the
// LOOP CLOCK: a monotonic clock (CLOCK_MONOTONIC), so that a step of the
// wall clock (an operator's `date`, an NTP jump) never fires a timer early
// nor holds one up. Time stamps meant for people (log prefixes, the status
// dump) read the wall clock through Mux::gettimeval / mux_gettimeofday.
//
// Test seam
// ---------
// Tests never sleep to wait for a timer. They take the loop clock over:
//
//     Mux::test::freeze();          // loop clock stands still (manual mode)
//     timer.set(250, &X::OnTick, &x);
//     Mux::test::advance(1000);     // fires every timer due within the next
//                                   // 1000 ms in expiry order, each with the
//                                   // clock at its own expiry, so timers
//                                   // re-armed by callbacks fire too
//     Mux::test::run_once();        // one loop pass; poll does not block
//     Mux::test::thaw();            // back to the live monotonic clock
//
// In manual mode Multiplexer::run() treats a wait for a timer as virtual
// time: poll does not block, and when nothing was ready the clock jumps by
// the wait. A whole run() (watchdog cadence included) thus plays out in
// simulated time, in a few microseconds of real time.

#include <cstdint>
#include <string>
#include <sys/select.h>

namespace Mux {

struct timeval {
    std::int32_t tv_sec = 0;
    std::int32_t tv_usec = 0;
};

// The frozen loop time; all zero when the loop clock is live.
extern timeval g_tv_time;

// Loop clock (monotonic; frozen when g_tv_time is set).
void loop_time(timeval& t);
// Freezes the loop clock at the current monotonic time (used by the loop
// when its live clock is off). Does nothing in the test seam's manual mode.
void mux_settimeofday();
// Milliseconds of the loop clock, truncated to 32 bits (wraps after ~49.7 d).
std::uint32_t milliseconds();
// Microseconds of the loop clock, truncated to 32 bits (wraps after ~71.6 min).
std::uint32_t microseconds();
std::int32_t seconds();
// The loop clock in microseconds, 64 bits: one reading gives both the
// milliseconds() and the microseconds() of the same instant.
std::uint64_t loop_us();
inline std::uint32_t milliseconds_of(std::uint64_t us)
{
    return static_cast<std::uint32_t>(us / 1000u);
}
inline std::uint32_t microseconds_of(std::uint64_t us)
{
    return static_cast<std::uint32_t>(us);
}

// Wall clock, for time stamps that people read.
void mux_gettimeofday(timeval& t);
int gettimeval(timeval& t);

void timevaladd(timeval& a, const timeval& b);
void timevalsub(timeval& a, const timeval& b);
void timevaladd2(const timeval& a, const timeval& b, timeval& r);
void timevalsub2(const timeval& a, const timeval& b, timeval& r);
void timevalset(timeval& t, unsigned long long ms);
// Milliseconds from a to b; 0 when b is before a.
std::uint64_t timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);
// Local time "%Y-%m-%d %H:%M:%S.%06ld".
std::string timevaltostring(const timeval& t);
timeval make_from_usec(unsigned int usec);
timeval make_from_msec(unsigned int msec);

struct timeval_timer {
    timeval start;
    int period = 0;

    void init(const timeval& s, int p)
    {
        start = s;
        period = p;
    }
    void init_now(const timeval& s) { start = s; }
    bool is_expired(const timeval& now) const
    {
        if (period < 1)
            return false;
        return timevaldiff(start, now) > static_cast<std::uint64_t>(period);
    }
    void inc() { timevaladd(start, make_from_msec(static_cast<unsigned>(period))); }
};

// A select() descriptor set with the highest descriptor it holds.
struct Set {
    fd_set set;
    int max = -1;

    Set() { FD_ZERO(&set); }
    void clear()
    {
        FD_ZERO(&set);
        max = -1;
    }
    // False for a descriptor that fd_set cannot hold.
    bool add(int fd);
    bool has(int fd) const;
};

int max_fd(const Set* a, const Set* b = nullptr, const Set* c = nullptr);
int select(Set* rd, Set* wr, Set* ex, const timeval* timeout);
int select(Set* rd, Set* wr = nullptr, Set* ex = nullptr);
int select_rd(Set& rd, const timeval* timeout = nullptr);
int select_wr(Set& wr, const timeval* timeout = nullptr);

namespace test {
// Enters manual mode with the loop clock standing at the current monotonic
// time (or at `start_us` microseconds of loop time when given).
void freeze();
void freeze_at(std::uint64_t start_us);
// Moves the manual clock without firing anything.
void step(std::uint32_t ms);
// Moves the manual clock by `ms`, firing every timer due on the way in
// expiry order, with the clock at each timer's expiry. Defined with the loop.
void advance(std::uint32_t ms);
// One loop pass (timers, deferred calls, poll, dispatch); poll waits at most
// `max_wait_ms` (0: never blocks). Returns poll's result. Defined with the loop.
int run_once(int max_wait_ms = 0);
// Back to the live monotonic clock.
void thaw();
bool manual();
std::uint64_t now_us();
} // namespace test

} // namespace Mux
