#pragma once

// Model of "/dev/voice": the voice DSPs' capacity. The program asks, per
// codec mask (the request's one-word record), how many sessions the board can
// carry; the answer is the request's result. A healthy board answers the
// masks the program uses with the counts below; a test sets its own.

#include "sim/device.hpp"

#include <cstdint>
#include <map>

namespace Sim {

class Voice final : public Device {
public:
    static constexpr std::uint32_t kCapacity = 0x40045602; // one word: the codec mask

    Voice();

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // The count the board answers for `mask` (0 for a mask it does not know).
    void SetCapacity(std::uint32_t mask, std::uint32_t count) { caps_[mask] = count; }
    std::uint32_t Capacity(std::uint32_t mask) const;

private:
    std::map<std::uint32_t, std::uint32_t> caps_;
};

} // namespace Sim
