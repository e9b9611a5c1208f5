#include "sim/hal_clock_spi.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace Sim {

namespace {

bool Number(const std::string& text, unsigned long limit, unsigned& out)
{
    if (text.empty() || text[0] == '-')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > limit)
        return false;
    out = static_cast<unsigned>(v);
    return true;
}

std::string Hex2(unsigned v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v & 0xFF);
    return text;
}

} // namespace

void HalClockSpi::Reset()
{
    clock_ = -1;
    clock_selects_ = 0;
    spi_present_ = true;
    std::memset(regs_, 0, sizeof regs_);
    // Framers with a healthy line: carrier, frame, no alarm.
    for (auto& framer : regs_)
        framer[kStatusRegister] = 0xC5;
    writes_.clear();
    dip_ = 0;
    power_ = 2;
    led_ = 0;
    led_writes_.clear();
}

void HalClockSpi::SetRegister(unsigned channel, unsigned reg, std::uint8_t value)
{
    if (channel < kFramers && reg < 256)
        regs_[channel][reg] = value;
}

std::uint8_t HalClockSpi::Register(unsigned channel, unsigned reg) const
{
    return channel < kFramers && reg < 256 ? regs_[channel][reg] : 0;
}

bool HalClockSpi::Ioctl(std::uint32_t request, void* arg, Outcome& out)
{
    switch (request) {
    case kClockSelect: {
        std::int32_t source;
        std::memcpy(&source, arg, sizeof source);
        ++clock_selects_;
        // The selector has eight inputs.
        if (source < 0 || source > 7) {
            out = Outcome{-1, EINVAL, false};
            return true;
        }
        clock_ = source;
        out = Outcome{};
        return true;
    }
    case kSpiWrite:
    case kSpiRead: {
        const unsigned char* b = static_cast<const unsigned char*>(arg);
        if (!spi_present_) {
            out = Outcome{-1, request == kSpiWrite ? ENODEV : EINTR, false};
            return true;
        }
        unsigned channel = b[0], reg = b[1];
        if (channel >= kFramers) {
            out = Outcome{-1, EINVAL, false};
            return true;
        }
        if (request == kSpiWrite) {
            regs_[channel][reg] = b[2];
            writes_.push_back(Write{channel, reg, b[2]});
            out = Outcome{};
        } else {
            out = Outcome{regs_[channel][reg], 0, true};
        }
        return true;
    }
    case kDip:
    case kPower:
        // The board watch polls these every two seconds: reads, not logged.
        *static_cast<std::uint8_t*>(arg) = request == kDip ? dip_ : power_;
        out = Outcome{0, 0, true};
        return true;
    case kLed: {
        const std::uint8_t led = *static_cast<const std::uint8_t*>(arg);
        out = Outcome{0, 0, led == led_};
        led_ = led;
        led_writes_.push_back(led_);
        return true;
    }
    default:
        return false;
    }
}

bool HalClockSpi::Control(const std::vector<std::string>& words, std::ostream& out)
{
    unsigned ch = 0, reg = 0, value = 0;
    if (words.size() == 1 && words[0] == "clock") {
        if (clock_ < 0)
            out << "ok none\n";
        else
            out << "ok " << clock_ << '\n';
        return true;
    }
    if (words.size() == 2 && (words[0] == "dip" || words[0] == "power") && Number(words[1], 255, value)) {
        (words[0] == "dip" ? dip_ : power_) = static_cast<std::uint8_t>(value);
        out << "ok\n";
        return true;
    }
    if (words.size() == 1 && words[0] == "led") {
        out << "ok " << Hex2(led_) << '\n';
        return true;
    }
    if (words.empty() || words[0] != "spi")
        return false;
    if (words.size() == 4 && words[1] == "status" && Number(words[2], kFramers - 1, ch) &&
        Number(words[3], 255, value)) {
        regs_[ch][kStatusRegister] = static_cast<std::uint8_t>(value);
        out << "ok\n";
        return true;
    }
    if (words.size() == 4 && words[1] == "reg" && Number(words[2], kFramers - 1, ch) &&
        Number(words[3], 255, reg)) {
        out << "ok " << Hex2(regs_[ch][reg]) << '\n';
        return true;
    }
    if (words.size() == 2 && (words[1] == "absent" || words[1] == "present")) {
        spi_present_ = words[1] == "present";
        out << "ok\n";
        return true;
    }
    if (words.size() == 2 && words[1] == "writes") {
        for (const Write& w : writes_)
            out << w.channel << ' ' << w.reg << ' ' << w.value << '\n';
        out << "ok " << writes_.size() << '\n';
        return true;
    }
    if (words.size() == 2 && words[1] == "clear") {
        writes_.clear();
        out << "ok\n";
        return true;
    }
    return false;
}

void HalClockSpi::Help(std::ostream& out) const
{
    out << "clock  \"ok N\": the last clock source selected, \"ok none\" when none\n"
           "spi status CH VALUE  the status register of framer CH (0..7)\n"
           "spi reg CH REG  \"ok 0xNN\": a framer register\n"
           "spi absent | spi present  a board without SPI: writes fail with ENODEV, reads with EINTR\n"
           "spi writes  one line \"CH REG VALUE\" per register write, then \"ok N\"\n"
           "spi clear  forgets the register writes\n"
           "dip N | power N  the DIP switch byte, the raw power supply byte\n"
           "led  \"ok 0xNN\": the LED byte last written\n";
}

} // namespace Sim
