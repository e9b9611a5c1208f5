#include "hardware/spi_ctrl.hpp"

#include "asn1/modules/ACP.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"

#include <fcntl.h>

#include <cerrno>
#include <iostream>

namespace {

// Status register bits.
constexpr std::uint8_t kCarrier = 0x01;
constexpr std::uint8_t kFrame = 0x04;
constexpr std::uint8_t kSlip = 0x20;

} // namespace

spiCtrl::spiCtrl()
{
    init_device_and_channels();
}

spiCtrl::~spiCtrl()
{
    if (fd_ < 0)
        return;
    timer_.reset();
    for (int n = 0; n < kFramers; ++n)
        disable_channel(n);
    clock(-1);
    Driver::Close(fd_);
    fd_ = -1;
}

void spiCtrl::init_device_and_channels()
{
    if (fd_ >= 0 || !present_)
        return;
    std::clog << "spi: try init" << std::endl;
    fd_ = Driver::Open(GetHalDevName(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        std::clog << "spi: /dev/hal open fail" << std::endl;
        return;
    }
    // The eighth framer is never set up here: the board has seven lines.
    for (int n = 0; n < 7; ++n) {
        init_channel(n);
        enable_channel(n);
    }
}

void spiCtrl::init_channel(int channel)
{
    if (!present_)
        return;
    if (channel < 0 || channel >= kFramers) {
        std::clog << "spi: bad channel for init " << channel << std::endl;
        return;
    }
    init_device_and_channels();
    unsigned ch = static_cast<unsigned>(channel);
    write(ch, kRegChannel, 128);
    write(ch, 48, 8);
    write(ch, kRegClock, kClockSlave);
    write(ch, 52, 96);
    write(ch, 53, 0);
    write(ch, 54, 0);
    write(ch, 55, 0);
    std::clog << "spi: init channel " << channel << std::endl;
}

void spiCtrl::enable_channel(int channel)
{
    if (!present_)
        return;
    if (channel < 0 || channel >= kFramers) {
        std::clog << "spi: bad channel for enable " << channel << std::endl;
        return;
    }
    init_device_and_channels();
    write(static_cast<unsigned>(channel), kRegChannel, 0);
    std::clog << "spi: enable channel " << channel << std::endl;
}

void spiCtrl::disable_channel(int channel)
{
    if (!present_)
        return;
    if (channel < 0 || channel >= kFramers) {
        std::clog << "spi: bad channel for disable " << channel << std::endl;
        return;
    }
    init_device_and_channels();
    write(static_cast<unsigned>(channel), kRegChannel, 128);
    std::clog << "spi: disable channel " << channel << std::endl;
}

void spiCtrl::clock(int channel)
{
    if (!present_)
        return;
    if (channel < -1 || channel >= kFramers) {
        std::clog << "spi: bad channel for set clock master " << channel << std::endl;
        return;
    }
    init_device_and_channels();
    // Every framer slave first, so that two masters never drive the clock.
    bool written = true;
    for (unsigned n = 0; n < kFramers; ++n)
        written = write(n, kRegClock, kClockSlave) && written;
    if (channel >= 0)
        written = write(static_cast<unsigned>(channel), kRegClock, kClockMaster) && written;
    if (!written) {
        // A failed write has said why, unless nothing could be tried.
        if (fd_ < 0 && channel < 0)
            std::clog << "spi: clock master not disabled: /dev/hal not open" << std::endl;
        else if (fd_ < 0)
            std::clog << "spi: clock master not set on channel " << channel << ": /dev/hal not open"
                      << std::endl;
        return;
    }
    if (channel < 0)
        std::clog << "spi: clock master disabled" << std::endl;
    else
        std::clog << "spi: set clock master on channel " << channel << std::endl;
}

void spiCtrl::NoSpi()
{
    present_ = false;
    timer_.reset();
    std::clog << "spi: hal without spi" << std::endl;
}

bool spiCtrl::write(unsigned int channel, unsigned int reg, unsigned int value)
{
    if (fd_ < 0 || !present_)
        return false;
    spi_reg r{static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(reg),
              static_cast<std::uint8_t>(value)};
    if (Driver::Ioctl(fd_, SPI_WRITE, &r) >= 0)
        return true;
    // The driver's way of saying that this board has no SPI bus.
    if (errno == ENODEV)
        NoSpi();
    else
        std::clog << "spi: write error: channel=" << channel << " addr=" << reg << " data=" << value
                  << std::endl;
    return false;
}

bool spiCtrl::read(unsigned int channel, unsigned int reg, std::uint8_t& value)
{
    value = 0;
    if (fd_ < 0 || !present_)
        return false;
    spi_reg r{static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(reg), 0xFF};
    int result = Driver::Ioctl(fd_, SPI_READ, &r);
    if (result >= 0) {
        value = static_cast<std::uint8_t>(result & 0xFF);
        return true;
    }
    // A read answers "no SPI" with EINTR, unlike a write.
    if (errno == EINTR)
        NoSpi();
    else
        std::clog << "spi: read error: channel=" << channel << " addr=" << reg << std::endl;
    return false;
}

unsigned int spiCtrl::read(unsigned int channel, unsigned int reg)
{
    std::uint8_t value;
    return read(channel, reg, value) ? value : 0;
}

int spiCtrl::StateOf(std::uint8_t status)
{
    if (!(status & kCarrier))
        return ACP::TrunkState::lossCarrier;
    if (!(status & kFrame))
        return ACP::TrunkState::lossBF;
    switch (status >> 6) {
    case 2:
        return ACP::TrunkState::rai;
    case 3:
        return ACP::TrunkState::normal;
    default:
        return ACP::TrunkState::ais;
    }
}

void spiCtrl::status()
{
    if (!present_)
        return;
    LGCP::Signal signal;
    ACP::TrunkStatus& ts = signal.select_trunkStatus();
    ts.set_lossBF(0);
    ts.set_lossCarrier(0);
    ts.set_lossAIS(0);
    ts.set_lossRAI(0);
    ts.set_name("");
    ts.set_clockMaster(false);
    ts.set_type(ACP::TrunkType::bri);
    for (int n = 0; n < kFramers; ++n) {
        std::uint8_t value;
        if (!read(static_cast<unsigned>(n), kRegStatus, value)) {
            // A register that could not be read says nothing about the
            // line: no report rather than a false loss of carrier.
            if (!present_)
                return;
            continue;
        }
        ts.set_trunk(n);
        ts.set_state(static_cast<ACP::TrunkState::NamedNumber>(StateOf(value)));
        // One edge flag for all framers: a slip counts once where bit 5
        // rises from the framer examined just before.
        int slips = 0;
        if (!(value & kSlip)) {
            slip_edge_ = false;
        } else if (!slip_edge_) {
            slip_edge_ = true;
            slips = 1;
        }
        ts.set_slips(slips);
        SendSignal(signal);
    }
    timer_.set(status_ms, &spiCtrl::status, this);
}

void spiCtrl::OnConnect()
{
    if (fd_ >= 0 && present_)
        timer_.set(status_ms, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect()
{
    timer_.reset();
}
