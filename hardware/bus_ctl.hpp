#pragma once

// The LGCP `clockCfg` command: which clock drives the board's TDM buses,
// written to "/dev/hal". Every controller connect and disconnect falls back
// to the free-running oscillator. Started with --disable-clock the service
// never touches the clock and refuses `clockCfg`. Bound fourth.

#include "control/ctrl_service.hpp"
#include "core/singleton.hpp"

#include <cstdint>
#include <iosfwd>

class BusCtl : public CtrlSrv::Service {
public:
    // "/dev/hal": argument a pointer to the 32-bit source number.
    static constexpr std::uint32_t HW_CLOCK_SELECT = 0x80044301;
    // Source numbers the driver knows.
    static constexpr int kFreeRun = 4;
    static constexpr int kX3 = 5;

    static BusCtl* instance() { return &Singleton<BusCtl>::Get(); }
    // The process uses instance(); tests build their own.
    BusCtl() = default;
    ~BusCtl() override;

    // For good: no driver request ever again, `clockCfg` refused.
    void DisableControl();
    bool enabled() const noexcept { return enabled_; }

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;

    void SetDefaultClock();
    void SetClockSrc(LGCP::ClockCfg const& cfg);
    bool DrvSetClkSrc(int source);
    bool IsOpen();
    void PutHeader(std::ostream& os) const;

    // The name logged for a source number ("f2", "freerun", "?9").
    static void PutSourceName(std::ostream& os, int source);

private:
    int fd_ = -1;
    bool enabled_ = true;
};
