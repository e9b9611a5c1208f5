#include "hardware/bus_ctl.hpp"

#include "asn1/valuenotation.hpp"
#include "core/ext.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"
#include "hardware/spi_ctrl.hpp"

#include <fcntl.h>

#include <iostream>

BusCtl::~BusCtl()
{
    if (fd_ >= 0)
        Driver::Close(fd_);
}

void BusCtl::PutHeader(std::ostream& os) const
{
    os << "clkctl: ";
}

void BusCtl::PutSourceName(std::ostream& os, int source)
{
    static const char* const names[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
    // The controller's number reaches the driver unchecked; a source the
    // table does not name is shown by its number.
    if (source >= 0 && source < 8)
        os << names[source];
    else
        os << '?' << source;
}

void BusCtl::DisableControl()
{
    std::clog << "clock control disabled." << std::endl;
    enabled_ = false;
}

void BusCtl::OnConnect()
{
    if (enabled_)
        SetDefaultClock();
}

void BusCtl::OnDisconnect()
{
    if (enabled_)
        SetDefaultClock();
}

bool BusCtl::OnCommand(LGCP::Command const& command)
{
    if (!command.is_clockCfg())
        return false;
    if (!enabled_) {
        Error(LGCP::ErrorCause::unsupported);
        return true;
    }
    SetClockSrc(command.get_clockCfg());
    // The outcome shows only in the log: the controller is always told yes.
    Success();
    return true;
}

void BusCtl::SetDefaultClock()
{
    LGCP::ClockCfg cfg;
    cfg.set_clkSel0(LGCP::ClkSel0::internal);
    cfg.set_bextEn(LGCP::BExtEn::disabled);
    cfg.set_source(-1);
    SetClockSrc(cfg);
}

bool BusCtl::IsOpen()
{
    if (fd_ >= 0)
        return true;
    if (!enabled_)
        return false;
    fd_ = Driver::Open(GetHalDevName(), O_RDWR | O_CLOEXEC);
    return fd_ >= 0;
}

void BusCtl::SetClockSrc(LGCP::ClockCfg const& cfg)
{
    if (!IsOpen()) {
        // Without a clock selector the framers must not drive the clock either.
        spiCtrl::instance()->clock(-1);
        std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
        return;
    }
    std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;

    int source;
    if (cfg.get_clkSel0().getValue() == LGCP::ClkSel0::internal)
        source = kFreeRun;
    else if (cfg.get_bextEn().getValue() == LGCP::BExtEn::disabled)
        source = kX3;
    else if (cfg.get_source().getValue() >= 0)
        source = cfg.get_source().getValue();
    else
        return;

    if (DrvSetClkSrc(source)) {
        std::cerr << ext::header(this) << "clock source = ";
        PutSourceName(std::cerr, source);
        std::cerr << std::endl;
    } else {
        std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
    }
}

bool BusCtl::DrvSetClkSrc(int source)
{
    if (!IsOpen())
        return false;
    std::int32_t value = source;
    return Driver::Ioctl(fd_, HW_CLOCK_SELECT, &value) >= 0;
}
