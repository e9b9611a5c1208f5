#pragma once

// Model of "/dev/mctl": the DSP modems. A pool of modems, each with its own
// TDM switch channel; an open takes one (allocate) and holds it until the
// program closes its last descriptor of the open. The requests carry no
// size in their numbers: allocate, enumerate and get-time-slot take a
// value, the others a record of 32-bit words whose first word names the
// modem, which must be the one this open holds. The model keeps, per modem,
// the last record of each request, and restates the request numbers rather
// than taking the hardware code's.

#include "sim/device.hpp"

#include <cstdint>
#include <map>
#include <vector>

namespace Sim {

class Mctl final : public Device {
public:
    static constexpr std::uint32_t kAnswer = 0xBB03;       // {modem, -1}
    static constexpr std::uint32_t kOriginate = 0xBB04;    // {modem, -1}
    static constexpr std::uint32_t kAllocate = 0xBB0B;     // value 0 -> modem
    static constexpr std::uint32_t kEnumerate = 0xBB0C;    // value: previous -> next, ENODEV after the last
    static constexpr std::uint32_t kTimeslot = 0xBB15;     // value 0 -> switch channel
    static constexpr std::uint32_t kSetDdm = 0xBB16;       // {modem, flags}
    static constexpr std::uint32_t kSetDmp = 0xBB38;       // {modem, index, value}
    static constexpr std::uint32_t kResetDmp = 0xBB3A;     // {modem, -1}
    static constexpr std::uint32_t kFaxOriginate = 0xBB40; // {modem, -1}

    // After Reset: four modems on channels 1600.., a range that no other
    // model uses. The data-mode parameters are indexed below kDmpParams.
    static constexpr std::uint32_t kModems = 4;
    static constexpr std::uint32_t kMaxModems = 1024;
    static constexpr std::uint32_t kFirstChannel = 1600;
    static constexpr std::uint32_t kDmpParams = 64;

    Mctl();

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    Outcome IoctlOn(int open, std::uint32_t request, void* arg, unsigned long value) override;
    std::uint32_t RecordSize(std::uint32_t request) const override;
    void Opened(int open, int program) override;
    void Closed(int open) override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // The pool holds `count` modems (at most kMaxModems); modems past it
    // are forgotten.
    void SetModems(std::uint32_t count);
    std::uint32_t Modems() const { return count_; }
    static std::uint32_t Channel(std::uint32_t modem) { return kFirstChannel + modem; }
    // Whether a live open holds the modem.
    bool Allocated(std::uint32_t modem);
    // The last record of each request for the modem since it was last
    // taken, by request number.
    std::map<std::uint32_t, std::vector<std::uint32_t>> Records(std::uint32_t modem) const;

private:
    void ForgetDead();

    std::uint32_t count_ = kModems;
    std::map<int, int> opens_; // board end of the open -> its modem, -1 when none
    std::map<std::uint32_t, std::map<std::uint32_t, std::vector<std::uint32_t>>> records_;
};

} // namespace Sim
