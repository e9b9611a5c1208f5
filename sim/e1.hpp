#pragma once

// Models of the E1 trunk drivers: "/dev/maintenance" (each trunk's
// synchronisation state and error counters, and the transmit-clock mask)
// and "/dev/e1-cas" (channel-associated signalling per trunk and time
// slot). The board has four trunks, 0..3; time slots 0 (framing) and 16
// (the signalling multiframe) are no channels.
//
// A trunk's line has one state, held here: the status request reports it
// and the framer's status file (BoardFiles) shows it, so the two never tell
// the program different things about one line.

#include "sim/device.hpp"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace Sim {

class Maintenance final : public Device {
public:
    static constexpr std::uint32_t kStatus = 0xc0504d03; // 80-byte trunk status
    static constexpr std::uint32_t kTclk = 0xc0044d0b;   // the mask, by value
    static constexpr unsigned kTrunks = 4;

    struct Trunk {
        std::uint32_t state = 0; // ACP::TrunkState number; the driver may say anything
        std::uint32_t slips = 0, lossBF = 0, lossCarrier = 0, ais = 0, rai = 0;
        // The framer's loss indications, which only its status file shows.
        bool signal_loss = false, frame_loss = false;
    };

    // The framer's text of a line state: 0 "Synchronized", 1 "FAS Loss",
    // 2 "No Carrier", 3 "AIS", 4 "RAI", any other "Unknown".
    static const char* StateText(std::uint32_t state);
    // The state of one of those texts ("Unknown" is 5); false for any other.
    static bool StateOfText(const std::string& text, std::uint32_t& state);

    Maintenance();
    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    bool TakesValue(std::uint32_t request) const override { return request == kTclk; }
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    Trunk& trunk(unsigned n) { return trunks_[n % kTrunks]; }
    const Trunk& trunk(unsigned n) const { return trunks_[n % kTrunks]; }
    // The last mask written, -1 when none since Reset.
    long long tclk() const noexcept { return tclk_; }

    // Called after the control language changed a line (the framer files
    // are written again).
    void OnLineChange(std::function<void()> changed) { line_changed_ = std::move(changed); }
    void LineChanged() const
    {
        if (line_changed_)
            line_changed_();
    }

private:
    Trunk trunks_[kTrunks];
    long long tclk_ = -1;
    std::function<void()> line_changed_;
};

class E1Cas final : public Device {
public:
    static constexpr std::uint32_t kOpenTrunk = 0x80044300;  // trunk, by value
    static constexpr std::uint32_t kCloseTrunk = 0x80044301; // trunk, by value
    static constexpr std::uint32_t kSet = 0xc00c4302;        // 12-byte channel
    static constexpr std::uint32_t kGet = 0xc00c4303;        // 12-byte channel
    static constexpr std::uint32_t kChannel = 0xc0104304;    // channel + operation
    static constexpr unsigned kTrunks = 4;
    static constexpr unsigned kSlots = 32;

    struct Channel {
        bool open = false;
        std::uint8_t rx = 0; // what the line sends
        std::uint8_t tx = 0;
    };

    E1Cas();
    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    bool TakesValue(std::uint32_t request) const override
    {
        return request == kOpenTrunk || request == kCloseTrunk;
    }
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    bool trunk_open(unsigned t) const { return t < kTrunks && open_[t]; }
    Channel& channel(unsigned t, unsigned s) { return channels_[t % kTrunks][s % kSlots]; }

    // The 12-byte event record of a change of received bits (native order),
    // as the driver queues it for reading.
    static std::vector<unsigned char> Event(std::uint32_t trunk, std::uint32_t timeslot, std::uint8_t rx,
                                            std::uint8_t tx);

private:
    bool open_[kTrunks] = {};
    Channel channels_[kTrunks][kSlots];
};

} // namespace Sim
