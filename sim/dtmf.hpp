#pragma once

// Model of "/dev/dtmf": the tone DSP. Per time slot it keeps the DTMF
// detector's configuration and enable id, the echo LMS filter, DTMF
// rejection, the IVA detector, the tone generator and the last SELCAL
// sequence; every generator request is kept in a history stamped with the
// model's clock, so that tests can check a cadence against the loop's test
// clock. Event records (16 bytes) are injected to be read on every open.

#include "sim/detector_device.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace Sim {

class Dtmf final : public DetectorDevice {
public:
    static constexpr std::uint32_t kConfigure = 0x40144202;    // ts, twist, ratio, silence, noise
    static constexpr std::uint32_t kEnable = 0x40084203;       // ts, id
    static constexpr std::uint32_t kDisable = 0x40044204;      // ts by value
    static constexpr std::uint32_t kDial = 0x400c4205;         // ts, u16 f1, f2, l1, l2
    static constexpr std::uint32_t kLmsOn = 0x40044206;        // ts by value
    static constexpr std::uint32_t kLmsOff = 0x40044207;       // ts by value
    static constexpr std::uint32_t kRejectionOn = 0x40044209;  // ts by value
    static constexpr std::uint32_t kRejectionOff = 0x4004420a; // ts by value
    static constexpr std::uint32_t kIvaOn = 0x4004420b;        // ts by value
    static constexpr std::uint32_t kIvaOff = 0x4004420c;       // ts by value
    static constexpr std::uint32_t kIvaConfigure = 0x4008420d; // i32 ts, i32 level
    static constexpr std::uint32_t kSelcal = 0x400c420e;       // i32 ts, u16 amp, 4 signs, 2 zero

    struct Slot {
        bool configured = false;
        std::uint32_t twist = 0, ratio = 0, silence = 0, noise = 0;
        bool detector = false;
        std::uint32_t id = 0;
        bool lms = false;
        bool rejection = false;
        bool iva = false;
        bool iva_configured = false;
        std::int32_t iva_level = 0;
        std::uint16_t tone[4] = {}; // f1, f2, l1, l2 of the generator; all 0: off
        std::uint16_t selcal_amp = 0;
        std::string selcal_signs; // the four signs of the last SELCAL request
        unsigned char selcal_pad[2] = {};
    };

    // One generator request.
    struct Dial {
        std::uint64_t ms = 0; // the model's clock when it arrived
        std::uint32_t timeslot = 0;
        std::uint16_t f1 = 0, f2 = 0, l1 = 0, l2 = 0;
        bool off() const { return f1 == 0 && f2 == 0 && l1 == 0 && l2 == 0; }
    };

    Dtmf();

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    bool TakesValue(std::uint32_t request) const override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    Slot Get(std::uint32_t timeslot) const;
    const std::vector<Dial>& Dials() const noexcept { return dials_; }
    void ClearDials() { dials_.clear(); }

    // One 16-byte event record to be read on every open.
    int Event(std::uint32_t timeslot, std::uint32_t code, std::uint32_t timestamp, std::uint32_t id);

private:
    std::map<std::uint32_t, Slot> slots_;
    std::vector<Dial> dials_;
};

} // namespace Sim
