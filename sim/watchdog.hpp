#pragma once

// Model of "/dev/misc/gw-wd": the board's hardware watchdog. The program
// writes "START", "PING" and "STOP" to it and reads nothing back; this
// board's watchdog takes the writes and never bites.

#include "sim/device.hpp"

#include <cerrno>

namespace Sim {

class Watchdog final : public Device {
public:
    Watchdog() : Device("/dev/misc/gw-wd") {}

    Outcome Ioctl(std::uint32_t, void*, unsigned long) override { return Outcome{-1, ENOTTY, false}; }
    bool WriteOnly() const override { return true; }
    void Reset() override {}
};

} // namespace Sim
