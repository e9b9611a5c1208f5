#pragma once

// Model of "/dev/mixer": the conference mixer units. A list of units
// {number, TDM channels, mixer inputs} that the control language changes
// between enumerations; the unit walk (MIX_UNIT_INFO) answers them in list
// order and fails after the last, unless the model is told to keep
// answering with new units for ever. MIX_TDM gives each (unit, channel) a
// switch channel of its own, handed out in the order asked from a range no
// other model uses. Each receiving point keeps its sources with their gains.
//
// Like the board's driver, MIX_UNIT_INFO fills its record and MIX_TDM
// answers in its result although their numbers say "write".

#include "sim/device.hpp"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace Sim {

class MixerDev final : public Device {
public:
    static constexpr std::uint32_t kRxClear = 0x800c4d02;  // dev_no, type, number
    static constexpr std::uint32_t kRxAdd = 0x801c4d03;    // rx slot, tx slot, gain
    static constexpr std::uint32_t kRxRemove = 0x801c4d04; // rx slot, tx slot, gain unused
    static constexpr std::uint32_t kTdm = 0x800c4d06;      // dev_no, type, number; result: switch channel
    static constexpr std::uint32_t kUnitInfo = 0x80104d07; // unit, tdm, reserved, inputs

    // The switch channels MIX_TDM hands out.
    static constexpr std::uint32_t kFirstTimeslot = 4096;
    static constexpr std::uint32_t kTimeslots = 4096;

    struct Unit {
        std::int32_t unit = 0;
        std::int32_t tdm = 0;
        std::int32_t inputs = 0;
    };
    // A source of a receiving point: (unit, channel) and its gain.
    struct Source {
        std::int32_t unit = 0;
        std::int32_t channel = 0;
        std::int32_t gain = 0;
    };

    MixerDev();

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // Replaces a unit of the same number, or joins the end of the list.
    void AddUnit(Unit const& unit);
    void RemoveUnit(std::int32_t unit);
    const std::vector<Unit>& Units() const noexcept { return units_; }
    // After the last unit, answer unit + 1 with these counts, for ever.
    void Forever(bool on, std::int32_t tdm = 32, std::int32_t inputs = 16);
    // The sources of one receiving point, in the order added.
    std::vector<Source> Sources(std::int32_t unit, std::int32_t point) const;
    // One line per receiving point of the unit that has sources:
    // "5: 0.3@32767 0.4@100" (unit.channel@gain).
    std::vector<std::string> Sums(std::int32_t unit) const;
    // The switch channel MIX_TDM gave (unit, channel); -1 when never asked.
    int Timeslot(std::int32_t unit, std::int32_t channel) const;

private:
    const Unit* Find(std::int32_t unit) const;
    bool Valid(std::int32_t unit, std::int32_t type, std::int32_t channel) const;

    std::vector<Unit> units_;
    bool forever_ = false;
    Unit forever_counts_;
    std::map<std::pair<std::int32_t, std::int32_t>, std::vector<Source>> sums_;
    std::map<std::pair<std::int32_t, std::int32_t>, std::uint32_t> timeslots_;
};

} // namespace Sim
