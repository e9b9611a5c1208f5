#pragma once

// A backplane bus test: a run of time slots of one of the sixteen buses,
// tested through the TDM switch. A write test puts a seeded pseudo-random
// pattern on the time slots and reads it back; a read test compares the
// time slots with the pattern of a seed; a disconnect test releases them.
// The pattern is the low byte of successive random() values after
// srandom(seed), one per channel in ascending order, so that two boards with
// the same C library agree on it.

#include <cstdint>
#include <iosfwd>

class HwMux;

namespace Hardware {

class BpcTest {
public:
    enum class Mode { Read, Write, Disconnect };
    enum class Result { Success, BusError, InvalidParams };

    static constexpr unsigned kBuses = 16;
    static constexpr unsigned kSlots = 128; // time slots per bus

    explicit BpcTest(HwMux& mux) : mux_(mux) {}

    // Sets the test up and runs the mode's test to completion. A range that
    // runs past the last time slot of its bus is refused: those channels
    // belong to the next bus, or, past bus 15, do not exist.
    Result Run(unsigned bus, std::uint32_t seed, Mode mode, unsigned start, unsigned length);

    Result TestRead();
    Result TestWrite();
    Result TestDisconnect();

    // "bus " and the bus number and ": ".
    void PutHeader(std::ostream& os) const;

    std::uint32_t bus() const noexcept { return bus_; }
    std::uint32_t first() const noexcept { return first_; }
    std::uint32_t end() const noexcept { return end_; }
    std::uint32_t seed() const noexcept { return seed_; }

private:
    Result Compare(const char* failed, const char* expected, const char* got);

    HwMux& mux_;
    std::uint32_t bus_ = 0;
    std::uint32_t first_ = 0;
    std::uint32_t end_ = 0;
    std::uint32_t seed_ = 0;
};

} // namespace Hardware
