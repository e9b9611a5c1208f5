#pragma once

// The line framers on the SPI bus behind "/dev/hal": their registers are set
// up at start, and while a controller is connected each framer's status
// register is read once a second and reported as an ACP::TrunkStatus of type
// `bri`, trunks 0..7. A board whose driver has no SPI is left alone for the
// rest of the process. Bound sixth; takes no command.

#include "control/ctrl_service.hpp"
#include "core/singleton.hpp"
#include "core/timer.hpp"

#include <cstdint>

class spiCtrl : public CtrlSrv::Service {
public:
    // "/dev/hal": argument a pointer to {channel, register, value}.
    static constexpr std::uint32_t SPI_WRITE = 0xc0034204;
    // {channel, register, 0xFF}; the register's value is the low byte of
    // the request's result.
    static constexpr std::uint32_t SPI_READ = 0xc0034203;

    static constexpr int kFramers = 8;
    static constexpr unsigned kRegStatus = 51;
    static constexpr unsigned kRegChannel = 50;
    static constexpr unsigned kRegClock = 87;
    static constexpr unsigned kClockSlave = 48;
    static constexpr unsigned kClockMaster = 56;
    static constexpr unsigned status_ms = 1000;

    struct spi_reg {
        std::uint8_t channel;
        std::uint8_t reg;
        std::uint8_t value;
    };

    static spiCtrl* instance() { return &Singleton<spiCtrl>::Get(); }
    // The process uses instance(); tests build their own.
    spiCtrl();
    ~spiCtrl() override;

    void init_device_and_channels();
    void init_channel(int channel);
    void enable_channel(int channel);
    void disable_channel(int channel);
    // -1: no framer is clock master; 0..7: that one is.
    void clock(int channel);
    // False when the register was not written.
    bool write(unsigned int channel, unsigned int reg, unsigned int value);
    // The register's value, or 0 when it could not be read.
    unsigned int read(unsigned int channel, unsigned int reg);
    // The same, telling a failed read apart from a zero register.
    bool read(unsigned int channel, unsigned int reg, std::uint8_t& value);
    void status();

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const&) override { return false; }

    bool opened() const noexcept { return fd_ >= 0; }
    bool present() const noexcept { return present_; }
    bool reporting() const noexcept { return static_cast<bool>(timer_); }

    // ACP::TrunkState number of a status register value.
    static int StateOf(std::uint8_t status);

private:
    void NoSpi();

    int fd_ = -1;
    Timer timer_;
    bool present_ = true;
    bool slip_edge_ = false;
};

static_assert(sizeof(spiCtrl::spi_reg) == 3, "SPI register request is three bytes");
