#pragma once

// The clock selector and the SPI framers of "/dev/hal". The clock selector
// remembers the last source written. Eight framers hold 256 byte registers
// each; a register read answers with the value in the low byte of the
// request's result. A board without SPI answers every write with ENODEV and
// every read with EINTR, as the board's driver does.

#include "sim/device.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace Sim {

class HalClockSpi {
public:
    static constexpr std::uint32_t kClockSelect = 0x80044301; // int* source
    static constexpr std::uint32_t kSpiRead = 0xc0034203;     // {channel, register, 0xFF}
    static constexpr std::uint32_t kSpiWrite = 0xc0034204;    // {channel, register, value}
    static constexpr std::uint32_t kDip = 0xc0014205;         // u8* DIP switches
    static constexpr std::uint32_t kPower = 0xc0014206;       // u8* raw supply state
    static constexpr std::uint32_t kLed = 0xc0014207;         // u8* LED register
    static constexpr unsigned kFramers = 8;
    static constexpr unsigned kStatusRegister = 51;

    // One register write as the program made it.
    struct Write {
        unsigned channel, reg, value;
    };

    HalClockSpi() { Reset(); }

    // True when the request is one of these; `out` is then its outcome.
    bool Ioctl(std::uint32_t request, void* arg, Outcome& out);
    void Reset();
    bool Control(const std::vector<std::string>& words, std::ostream& out);
    void Help(std::ostream& out) const;

    // The last source selected, -1 when none since Reset.
    int clock() const noexcept { return clock_; }
    std::uint64_t clock_selects() const noexcept { return clock_selects_; }
    void SetSpiPresent(bool present) noexcept { spi_present_ = present; }
    void SetRegister(unsigned channel, unsigned reg, std::uint8_t value);
    std::uint8_t Register(unsigned channel, unsigned reg) const;
    const std::vector<Write>& writes() const noexcept { return writes_; }
    void SetDip(std::uint8_t value) noexcept { dip_ = value; }
    void SetPower(std::uint8_t value) noexcept { power_ = value; }
    std::uint8_t led() const noexcept { return led_; }
    // Every LED byte written, oldest first.
    const std::vector<std::uint8_t>& led_writes() const noexcept { return led_writes_; }
    void ClearWrites() { writes_.clear(); }

private:
    int clock_ = -1;
    std::uint64_t clock_selects_ = 0;
    bool spi_present_ = true;
    std::uint8_t regs_[kFramers][256];
    std::vector<Write> writes_;
    std::uint8_t dip_ = 0;
    std::uint8_t power_ = 2;
    std::uint8_t led_ = 0;
    std::vector<std::uint8_t> led_writes_;
};

} // namespace Sim
