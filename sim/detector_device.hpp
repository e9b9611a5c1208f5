#pragma once

// What the models of the two detector DSPs ("/dev/dtmf", "/dev/dsp") share:
// every open receives the event records the board injects, requests name a
// time slot (which can be made to fail), and requests are stamped with the
// time of a clock that tests may replace by the loop's test clock.

#include "sim/device.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>

namespace Sim {

class DetectorDevice : public Device {
public:
    // Milliseconds; the default reads CLOCK_MONOTONIC, the loop's own clock.
    using Clock = std::uint64_t (*)();

    explicit DetectorDevice(std::string path) : Device(std::move(path)) {}

    void Opened(int open, int program) override;
    void Closed(int open) override;

    void SetClock(Clock clock) noexcept { clock_ = clock; }
    std::uint64_t Now() const { return clock_(); }

    // The next `count` requests naming `timeslot` fail with `error`.
    void FailTimeslot(std::uint32_t timeslot, int count, int error);

    // Queues one record to be read on every open; returns how many got it.
    int Inject(const void* record, std::size_t length);

protected:
    // Common part of Reset: failures forgotten, the clock back to its default.
    void ResetCommon();
    // True (with the error) when a request naming `timeslot` is to fail.
    bool TakeFailure(std::uint32_t timeslot, int& error);

private:
    struct Failure {
        int count = 0;
        int error = 0;
    };
    static std::uint64_t MonotonicMs();

    Clock clock_ = &MonotonicMs;
    std::set<int> opens_;
    std::map<std::uint32_t, Failure> failures_;
};

} // namespace Sim
