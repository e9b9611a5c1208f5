#pragma once

// Model of "/dev/dsp": the voice-processing DSP. Per time slot it keeps the
// enabled feature mask with the id of each enable, and the parameters of the
// last configuration of each feature (the 12 bytes after the feature word,
// as the program wrote them). The VAD version that the driver reports can
// be set. Event records (24 bytes) are injected to be read on every open.

#include "sim/detector_device.hpp"

#include <array>
#include <cstdint>
#include <map>
#include <optional>

namespace Sim {

class Dsp final : public DetectorDevice {
public:
    static constexpr std::uint32_t kConfigure = 0x40146401;  // ts, feature, 12 bytes
    static constexpr std::uint32_t kEnable = 0x400c6402;     // ts, id, mask
    static constexpr std::uint32_t kDisable = 0x400c6403;    // ts, 0, mask
    static constexpr std::uint32_t kVadVersion = 0x40046404; // value 0; result: the version

    // Features (bits of the enable mask; configure names one).
    static constexpr std::uint32_t kVad = 1, kSd = 2, kMuteRx = 4, kMuteTx = 8, kBss = 0x10, kDelays = 32,
                                   kRxGain = 64, kNg = 128, kToneFilter = 256, kSelcalSh = 1024, kSh = 2048;
    // Event types.
    static constexpr std::uint32_t kEventVad = 1, kEventSd = 2, kEventBss = 0x10, kEventTone = 0x100,
                                   kEventFlags = 0x200;

    using Params = std::array<unsigned char, 12>;

    struct Slot {
        std::uint32_t enabled = 0;                  // feature mask
        std::map<std::uint32_t, std::uint32_t> ids; // feature bit -> id of its last enable
        std::map<std::uint32_t, Params> config;     // feature -> parameters of its last configure
    };

    Dsp();

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    bool TakesValue(std::uint32_t request) const override { return request == kVadVersion; }
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    Slot Get(std::uint32_t timeslot) const;
    // The parameters of the last configure of `feature`, if any.
    std::optional<Params> Config(std::uint32_t timeslot, std::uint32_t feature) const;
    // What the VAD version request answers (1 after Reset).
    void SetVadVersion(int version) noexcept { vad_version_ = version; }

    // One 24-byte event record with a 12-byte payload.
    int Event(std::uint32_t timeslot, std::uint32_t id, std::uint32_t type, const void* payload);
    int VadEvent(std::uint32_t timeslot, std::uint32_t id, std::uint32_t mask, std::int32_t rx,
                 std::int32_t tx);
    int SdEvent(std::uint32_t timeslot, std::uint32_t id, std::int32_t rx);
    int BssEvent(std::uint32_t timeslot, std::uint32_t id, float score);
    int ToneEvent(std::uint32_t timeslot, std::uint32_t id, std::uint32_t freq, std::uint32_t present);
    int FlagsEvent(std::uint32_t timeslot, std::uint32_t id, std::uint32_t flags, std::uint32_t mask);

private:
    std::map<std::uint32_t, Slot> slots_;
    int vad_version_ = 1;
};

} // namespace Sim
