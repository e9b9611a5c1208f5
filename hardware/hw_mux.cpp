#include "hardware/hw_mux.hpp"

#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct OutputSource {
    std::uint32_t output;
    std::uint32_t source;
};
struct OutputValue {
    std::uint32_t output;
    std::uint32_t value;
};
static_assert(sizeof(OutputSource) == Driver::RequestSize(HwMux::MUX_CONNECT));
static_assert(sizeof(std::uint32_t) == Driver::RequestSize(HwMux::MUX_DISABLE));
static_assert(sizeof(OutputValue) == Driver::RequestSize(HwMux::MUX_WRITE));
static_assert(sizeof(OutputValue) == Driver::RequestSize(HwMux::MUX_READ));
static_assert(offsetof(OutputValue, value) == 4);

// "0x" and the value in hexadecimal, leaving the stream's flags as they were.
struct Hex {
    unsigned value;
};
std::ostream& operator<<(std::ostream& os, Hex h)
{
    auto flags = os.flags();
    os << "0x" << std::hex << h.value;
    os.flags(flags);
    return os;
}

} // namespace

HwMux::HwMux()
{
    for (auto& e : shadow_)
        e = kDisabled;
    std::clog << "hwMux: init" << std::endl;
    dpc_.Bind(this, &HwMux::OnDPC);
    IsOpened();
}

HwMux::~HwMux()
{
    if (fd_ >= 0)
        Driver::Close(fd_);
    dpc_.Deactivate();
}

bool HwMux::IsOpened()
{
    if (fd_ >= 0)
        return true;
    int fd = Driver::Open(GetHalDevName(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::clog << "hwMux: can't open device: " << std::strerror(errno) << std::endl;
        return false;
    }
    fd_ = fd;
    std::clog << "hwMux: device opened" << std::endl;
    // Nothing may be left driving the backplane from before we started.
    for (int i = 0; i < kOutputs; ++i) {
        std::uint32_t output = static_cast<std::uint32_t>(kFirstOutput + i);
        Driver::Ioctl(fd_, MUX_DISABLE, &output);
        shadow_[i] = kDisabled;
    }
    cursor_ = 0;
    dpc_.Activate();
    ::usleep(500);
    return true;
}

void HwMux::Record(int output, std::uint16_t entry)
{
    if (output >= kFirstOutput && output < kFirstOutput + kOutputs)
        shadow_[output - kFirstOutput] = entry;
}

std::uint16_t HwMux::Shadow(int output) const
{
    if (output >= kFirstOutput && output < kFirstOutput + kOutputs)
        return shadow_[output - kFirstOutput];
    return kDisabled;
}

bool HwMux::Connect(int source, int output)
{
    if (!IsOpened()) {
        std::clog << "hwMux: ERROR not opened" << std::endl;
        return false;
    }
    if (source < 0 || output < 0) {
        std::clog << "hwMux: ERROR negative channel: connect " << source << " -> " << output << std::endl;
        return false;
    }
    Record(output, static_cast<std::uint16_t>(source));
    OutputSource arg{static_cast<std::uint32_t>(output), static_cast<std::uint32_t>(source)};
    if (Driver::Ioctl(fd_, MUX_CONNECT, &arg) < 0) {
        std::clog << "hwMux: connect " << source << " -> " << output << " failed: " << std::strerror(errno)
                  << std::endl;
        return false;
    }
    return true;
}

bool HwMux::Disconnect(int output)
{
    if (!IsOpened() || output < 0)
        return false;
    Record(output, kConstant);
    OutputValue arg{static_cast<std::uint32_t>(output), kIdle};
    if (Driver::Ioctl(fd_, MUX_WRITE, &arg) < 0) {
        std::clog << "hwMux: disconnect failed " << output << " : " << std::strerror(errno) << std::endl;
        return false;
    }
    return true;
}

bool HwMux::Write(int output, unsigned char value)
{
    if (!IsOpened() || output < 0)
        return false;
    Record(output, kConstant);
    OutputValue arg{static_cast<std::uint32_t>(output), value};
    if (Driver::Ioctl(fd_, MUX_WRITE, &arg) < 0) {
        std::clog << "hwMux: write failed " << output << " <- " << Hex{value} << " : " << std::strerror(errno)
                  << std::endl;
        return false;
    }
    return true;
}

unsigned char HwMux::Read(int channel)
{
    if (!IsOpened() || channel < 0)
        return 255;
    OutputValue arg{static_cast<std::uint32_t>(channel), 255};
    if (Driver::Ioctl(fd_, MUX_READ, &arg) < 0) {
        std::clog << "hwMux: read failed " << channel << " -> " << Hex{arg.value} << " : "
                  << std::strerror(errno) << std::endl;
        return 255;
    }
    return static_cast<unsigned char>(arg.value & 0xFF);
}

bool HwMux::Disable(int output)
{
    if (!IsOpened() || output < 0)
        return false;
    Record(output, kDisabled);
    std::uint32_t arg = static_cast<std::uint32_t>(output);
    if (Driver::Ioctl(fd_, MUX_DISABLE, &arg) < 0) {
        std::clog << "hwMux: disable failed " << output << " : " << std::strerror(errno) << std::endl;
        return false;
    }
    return true;
}

void HwMux::OnDPC()
{
    if (fd_ < 0)
        return;
    // A sixteenth of the outputs per call, so that no loop pass walks all.
    for (int i = 0; i < 128; ++i) {
        cursor_ = (cursor_ + 1) % kOutputs;
        if (shadow_[cursor_] == kDisabled) {
            std::uint32_t output = static_cast<std::uint32_t>(kFirstOutput) + cursor_;
            Driver::Ioctl(fd_, MUX_DISABLE, &output);
        }
    }
}

void print_trace()
{
    void* frames[10];
    int n = ::backtrace(frames, 10);
    char** names = ::backtrace_symbols(frames, n);
    std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(n));
    for (int i = 0; i < n; ++i)
        std::printf("%s\n", names != nullptr ? names[i] : "?");
    std::free(names);
}
