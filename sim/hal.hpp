#pragma once

// Model of "/dev/hal": the TDM switch. Every output is unset (never
// programmed since power-up), disabled, connected to a source channel, or
// sending a constant byte. Channels 0..10239 exist (local time slots below
// 8192, the sixteen backplane buses of 128 channels from 8192); a request
// for any other channel fails with EINVAL, as on the board.

#include "sim/device.hpp"
#include "sim/hal_clock_spi.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Sim {

class Hal final : public Device {
public:
    // Switch requests (board encoding).
    static constexpr std::uint32_t kConnect = 0x80084d02; // {output, source}
    static constexpr std::uint32_t kDisable = 0x80044d03; // {output}
    static constexpr std::uint32_t kWrite = 0xc0084d04;   // {output, value}
    static constexpr std::uint32_t kRead = 0xc0084d05;    // {channel, value out}

    static constexpr std::uint32_t kChannels = 10240;
    // What a channel that nothing drives reads as: the bus floats high.
    static constexpr std::uint8_t kIdleRead = 0xFF;

    enum class State { Unset = 0, Disabled, Connected, Constant };
    struct Output {
        State state = State::Unset;
        std::uint32_t value = 0;    // the source, or the constant byte
        std::uint64_t disables = 0; // disable requests received
    };

    Hal();

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    // The switch's and the board watch's own descriptors.
    bool SharedOpens() const override { return true; }
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // The state of one output (Unset for one never programmed).
    Output Get(std::uint32_t output) const;
    // The byte that a read request of this channel returns.
    std::uint8_t ReadChannel(std::uint32_t channel) const;
    // One line per programmed output in [first, last]: "8192 disabled",
    // "8200 connected 5", "8193 constant 0xD5"; returns the number of lines.
    std::size_t Dump(std::ostream& out, std::uint32_t first, std::uint32_t last) const;

    // The clock selector and the SPI framers behind the same device.
    HalClockSpi& clock_spi() noexcept { return clock_spi_; }

private:
    struct Free {
        void operator()(Output* p) const noexcept;
    };
    // Every channel by number: a request finds its output in one step (the
    // program's switch refresh sends thousands a second). Zeroed pages from
    // calloc: only the channels the program uses take memory.
    std::unique_ptr<Output[], Free> outputs_;
    HalClockSpi clock_spi_;
};

} // namespace Sim
