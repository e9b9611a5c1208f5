#pragma once

// The clock runner: link timers in simulated time, with the answers to each
// timer's frames delivered before the next timer fires.
//
// Mux::test::advance fires due timers back to back with no loop pass in
// between, so a frame sent by one timer is still on its way when the next
// one fires. The runner instead moves the manual loop clock from one expiry
// to the next (the loop's timers and every hooked TimerPoolPlugin), and at
// each stop runs loop passes, pumping the simulated board, until nothing is
// in flight. A 45-second timer costs microseconds of real time.

#include <cstdint>
#include <functional>

namespace SigTest {

// Runs loop passes until nothing moves: no kit frame or notice on its way,
// no frame taken by the simulated board or waiting at a switch port, no
// descriptor ready, no timer or plugin due now. Takes the loop clock over
// (manual mode) if a test has not. False when it does not settle within a
// bound (two sides answering each other forever at one instant).
bool Settle();

// Moves the manual loop clock `ms` on, stopping at every expiry on the way
// and settling at each; the clock ends exactly `ms` later.
bool RunFor(std::uint32_t ms);

// Calls `check` after every loop pass that the runner runs (an invariant
// that must hold between passes, such as a window limit), while it lives.
class PassCheck {
public:
    explicit PassCheck(std::function<void()> check);
    ~PassCheck();
    PassCheck(const PassCheck&) = delete;
    PassCheck& operator=(const PassCheck&) = delete;

private:
    std::function<void()> previous_;
};

} // namespace SigTest
