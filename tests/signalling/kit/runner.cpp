#include "signalling/kit/runner.hpp"

#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "sim/board.hpp"
#include "sim/mcc.hpp"
#include "signalling/kit/channel.hpp"

#include <iostream>

namespace SigTest {

namespace {

// Passes without rest at one instant before the runner gives up; a real
// exchange settles in a few dozen.
constexpr int kMaxPasses = 100000;
// Stops on the way through one RunFor.
constexpr int kMaxStops = 1000000;

void TakeClock()
{
    if (!Mux::test::manual())
        Mux::test::freeze();
}

// A pass that has nothing to wait for is the loop's "hang" and aborts, and
// a pass that fires the last timer of a test is one. While the runner runs
// a pass it keeps this plugin hooked, which asks for nothing within the
// loop's longest wait.
class KeepAlive : public TimerPoolPlugin {
public:
    int poll_wait() override { return 7200000; }
};

std::function<void()> g_check;

int Pass()
{
    static KeepAlive keep;
    keep.timerHook();
    const int ready = Mux::test::run_once(0);
    keep.timerUnhook();
    if (g_check)
        g_check();
    return ready;
}

bool Registered()
{
    return multiplexer.event_count() != 0 || multiplexer.timer_count() != 0 ||
           multiplexer.plugin_count() != 0;
}

// Frames moved by the board or waiting at a port.
bool Moved()
{
    bool moved = Sim::Board::instance().device<Sim::Mcc>().Pump() > 0;
    if (CollectPorts() > 0)
        moved = true;
    return moved;
}

int MinWait(int a, int b)
{
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    return a < b ? a : b;
}

// Milliseconds to the next expiry of the loop's timers and plugins (-1:
// none); fires what is due now, as a pass would.
int NextWait()
{
    const int timers = multiplexer.timers_schedule();
    return MinWait(timers, multiplexer.timerPoll_schedule());
}

} // namespace

bool Settle()
{
    TakeClock();
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        bool busy = false;
        if (Pass() > 0)
            busy = true;
        if (Moved() || InFlight())
            busy = true;
        if (busy)
            continue;
        if (!Registered())
            return true;
        // Quiet: unless a timer or plugin is due now, or a callback of theirs
        // sent something, nothing is left at this instant.
        if (NextWait() != 0 && !InFlight() && !Moved())
            return true;
    }
    std::cerr << "SigTest::Settle: still busy after " << kMaxPasses << " passes" << std::endl;
    return false;
}

bool RunFor(std::uint32_t ms)
{
    TakeClock();
    const std::uint64_t target = Mux::test::now_us() + std::uint64_t{ms} * 1000u;
    for (int stop = 0; stop < kMaxStops; ++stop) {
        if (!Settle())
            return false;
        const int wait = Registered() ? NextWait() : -1;
        // NextWait fires what is due now: settle what that sent first.
        if (wait == 0 || InFlight() || Moved())
            continue;
        if (wait < 0 || Mux::test::now_us() + std::uint64_t(wait) * 1000u > target) {
            const std::uint64_t now = Mux::test::now_us();
            if (target > now)
                Mux::test::step(static_cast<std::uint32_t>((target - now) / 1000u));
            return Settle();
        }
        Mux::test::step(static_cast<std::uint32_t>(wait));
    }
    std::cerr << "SigTest::RunFor: more than " << kMaxStops << " stops" << std::endl;
    return false;
}

PassCheck::PassCheck(std::function<void()> check) : previous_(std::move(g_check))
{
    g_check = std::move(check);
}

PassCheck::~PassCheck()
{
    g_check = std::move(previous_);
}

} // namespace SigTest
