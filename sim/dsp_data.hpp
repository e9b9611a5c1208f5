#pragma once

// Model of "/dev/dsp-data": the DSP data driver's QSIG lines. Each open is
// one D channel on a switch channel from a pool of its own, carrying whole
// frames both ways like an MCC controller (the frames move through the
// switch with the controllers', see mcc.hpp: pump, autopump, eof and error
// apply). An open may add up to three B channels of its line; each gets a
// switch channel of its own, and closing the open's last descriptor gives
// them all back.

#include "sim/device.hpp"

#include <cstdint>
#include <map>
#include <vector>

namespace Sim {

class Mcc;

class DspData final : public Device {
public:
    // Result: the D channel's switch channel (also written into the 4-byte
    // record the number names).
    static constexpr std::uint32_t kTimeslot = 0x40044211;
    // {index, -1}: index 0..2; the driver writes the B channel's switch
    // channel into the second word, although the number's direction says
    // "write".
    static constexpr std::uint32_t kAddB = 0x8008420f;
    // {index, time slot}: gives the B channel back.
    static constexpr std::uint32_t kRemoveB = 0x80084210;

    // D channels on 400..407; the B channels of the line on 400 + k are
    // 416 + 3k + index.
    static constexpr std::uint32_t kFirstSlot = 400;
    static constexpr std::uint32_t kSlots = 8;
    static constexpr std::uint32_t kFirstB = 416;
    static constexpr unsigned int kBChannels = 3;

    explicit DspData(Mcc& mcc);

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    Outcome IoctlOn(int open, std::uint32_t request, void* arg, unsigned long value) override;
    void Opened(int open, int program) override;
    void Closed(int open) override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    struct BChannel {
        std::uint32_t line = 0; // the D channel's switch channel
        unsigned int index = 0;
        std::uint32_t timeslot = 0;
    };
    // The B channels held by live opens, by line and index.
    std::vector<BChannel> BChannels();
    // The next `count` B-channel additions succeed (the channel is held)
    // without writing its switch channel: the program's -1 stays.
    void LeaveTimeslotUnset(int count) { unset_ = count; }

private:
    struct Line {
        bool has_slot = false; // false: the pool was empty at the open
        std::uint32_t timeslot = 0;
        bool held[kBChannels] = {};
    };

    void ForgetDead();

    Mcc& mcc_;
    std::map<int, Line> lines_; // by the board's end of the open
    int unset_ = 0;
};

} // namespace Sim
