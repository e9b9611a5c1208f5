#include "hardware/e1_ctl.hpp"

#include "asn1/modules/ACP.hpp"
#include "core/ext.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

using Hardware::cas_channel;
using Hardware::cas_channel_request;

namespace {

// A trunk number from the controller that can index the trunk tables.
bool ValidTrunk(long long trunk)
{
    return trunk >= 0 && trunk < E1Ctl::kTrunks;
}

cas_channel Channel(int trunk, int timeslot)
{
    cas_channel ch{};
    ch.trunk = static_cast<std::uint32_t>(trunk);
    ch.timeslot = static_cast<std::uint32_t>(timeslot);
    return ch;
}

} // namespace

E1Ctl::E1Ctl() = default;

E1Ctl::~E1Ctl()
{
    cas_event_.Release();
    if (maint_fd_ >= 0)
        Driver::Close(maint_fd_);
}

void E1Ctl::PutHeader(std::ostream& os) const
{
    os << "E1: ";
}

void E1Ctl::DriverMissing(bool& said, const char* path)
{
    // Opens are retried at every status tick: one line per absence, not per
    // attempt.
    int cause = errno;
    if (!said)
        std::cerr << ext::header(this) << "cannot open " << path << " [cause=" << std::strerror(cause) << "]"
                  << std::endl;
    said = true;
    errno = cause;
}

bool E1Ctl::OpenMaintenance()
{
    if (maint_fd_ >= 0)
        return true;
    maint_fd_ = Driver::Open(GetMaintenance(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (maint_fd_ < 0) {
        DriverMissing(maint_missing_, GetMaintenance());
        return false;
    }
    maint_missing_ = false;
    // The controller's last word on trunk timing, held back while the driver
    // was missing.
    if (tclk_pending_)
        UpdateTclk();
    return true;
}

void E1Ctl::OnConnect()
{
    SendStatus();
    timer_.set(status_ms, &E1Ctl::OnCheckStatus, this);
    // Every trunk master until the controller says otherwise.
    tclk_ = 0;
    UpdateTclk();
    CheckOpenCas();
}

void E1Ctl::OnDisconnect()
{
    // The status timer keeps running: the other services still learn the
    // trunk states from its reports.
    for (int trunk = 0; trunk < kTrunks; ++trunk)
        if (cas_open_[trunk])
            HandleCasClose(Channel(trunk, 0));
}

bool E1Ctl::OnCommand(LGCP::Command const& command)
{
    if (command.is_ioctl()) {
        // An ioctl with a slot number belongs to that slot.
        if (IsSlotPresent())
            return false;
        HandleCas(command.get_ioctl());
        // The outcome travels in the `cas` signals.
        Success();
        return true;
    }
    if (command.is_trunkCfg()) {
        SetMode(command.get_trunkCfg());
        Success();
        return true;
    }
    return false;
}

void E1Ctl::OnCheckStatus(Timer*)
{
    SendStatus();
    CheckOpenCas();
    timer_.set(status_ms, &E1Ctl::OnCheckStatus, this);
}

void E1Ctl::SendStatus()
{
    if (!OpenMaintenance())
        return;
    LGCP::Signal signal;
    ACP::TrunkStatus& ts = signal.select_trunkStatus();
    ts.set_name("");
    ts.set_clockMaster(false);
    ts.set_type(ACP::TrunkType::e1);
    for (int trunk = 0; trunk < kTrunks; ++trunk) {
        Hardware::e1_trunk_status record;
        std::memset(&record, 0, sizeof record);
        record.trunk = static_cast<std::uint32_t>(trunk);
        if (Driver::Ioctl(maint_fd_, E1_STATUS, &record) < 0) {
            std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << trunk
                      << " cause = " << std::strerror(errno) << std::endl;
            continue;
        }
        ts.set_trunk(trunk);
        // A state the driver should never give must not reach the wire as
        // a number the enumeration does not have.
        std::uint32_t state = record.state;
        if (state > ACP::TrunkState::disabled)
            state = ACP::TrunkState::unknown;
        ts.set_state(static_cast<ACP::TrunkState::NamedNumber>(state));
        ts.set_slips(static_cast<int>(record.slips));
        ts.set_lossBF(static_cast<int>(record.lossBF));
        ts.set_lossCarrier(static_cast<int>(record.lossCarrier));
        ts.set_lossAIS(static_cast<int>(record.ais));
        ts.set_lossRAI(static_cast<int>(record.rai));
        SendSignal(signal);
    }
}

void E1Ctl::SetMode(LGCP::TrunkCfg const& cfg)
{
    int trunk = cfg.get_trunk().getValue();
    if (trunk < 0)
        return;
    // The mask has one bit per trunk: a larger number has no bit to set,
    // and shifting by it would be undefined.
    if (trunk >= 32) {
        std::cerr << ext::header(this) << "trunk config: trunk " << trunk << " out of range, ignored"
                  << std::endl;
        return;
    }
    std::uint32_t bit = std::uint32_t{1} << trunk;
    switch (cfg.get_mode().getValue()) {
    case LGCP::TrunkMode::slave:
        tclk_ |= bit;
        break;
    case LGCP::TrunkMode::master:
        tclk_ &= ~bit;
        break;
    default:
        return;
    }
    UpdateTclk();
}

void E1Ctl::UpdateTclk()
{
    if (!OpenMaintenance()) {
        std::cerr << ext::header(this) << "fail to set TCLK [cause=" << std::strerror(errno)
                  << "], written when the driver opens" << std::endl;
        tclk_pending_ = true;
        return;
    }
    tclk_pending_ = false;
    if (Driver::IoctlValue(maint_fd_, E1_TCLK, tclk_) < 0) {
        std::cerr << ext::header(this) << "fail to set TCLK [cause=" << std::strerror(errno) << "]"
                  << std::endl;
        return;
    }
    std::clog << ext::header(this) << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
}

bool E1Ctl::CheckOpenCas()
{
    if (cas_fd_)
        return true;
    int fd = Driver::Open(GetCasDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        DriverMissing(cas_missing_, GetCasDevName());
        return false;
    }
    cas_fd_.reset(fd);
    cas_event_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
    // Unwatched, the interface would never deliver a signalling change; the
    // next use opens it again.
    if (!cas_event_.Schedule(cas_fd_.fd(), POLLIN)) {
        const int error = errno;
        CloseCasDriver();
        errno = error;
        DriverMissing(cas_missing_, GetCasDevName());
        return false;
    }
    cas_missing_ = false;
    std::clog << ext::header(this) << "cas interface opened!" << std::endl;
    return true;
}

void E1Ctl::CloseCasDriver()
{
    cas_event_.Release();
    cas_fd_.reset();
    // Whatever the driver had open went with it.
    for (auto& open : cas_open_)
        open = 0;
}

void E1Ctl::OnUpdateCas(int fd, short revents)
{
    if (!(revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
        return;
    unsigned char buf[sizeof(cas_channel)];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == static_cast<ssize_t>(sizeof buf)) {
        cas_channel ev;
        std::memcpy(&ev, buf, sizeof ev);
        SendCASSignal(static_cast<int>(ev.trunk), static_cast<int>(ev.timeslot), ev.rx, ev.tx);
        return;
    }
    // A short record carries nothing. A driver that has gone away would
    // keep the descriptor readable for ever: drop it, and the next status
    // tick opens it again.
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        CloseCasDriver();
}

void E1Ctl::HandleCas(LGCP::IoctlParams const& params)
{
    if (!CheckOpenCas() || !params.is_cas())
        return;
    LGCP::CasCommand const& cas = params.get_cas();
    long long path = cas.get_channel().get_path().getValue();
    // Only trunks 0..3 have CAS; any other number, negative ones too,
    // touches nothing.
    if (!ValidTrunk(path))
        return;
    cas_channel ch = Channel(static_cast<int>(path), cas.get_channel().get_timeslot().getValue());
    LGCP::CasCommandSignal const& cmd = cas.get_cmd();
    if (cmd.is_open())
        HandleCasOpen(ch, cmd.get_open().getValue());
    else if (cmd.is_close())
        HandleCasClose(ch);
    else if (cmd.is_set())
        HandleCasSet(ch, cmd.get_set().getValue());
    else if (cmd.is_get())
        HandleCasGet(ch);
}

void E1Ctl::HandleCasOpen(cas_channel const& ch, int bits)
{
    int trunk = static_cast<int>(ch.trunk), ts = static_cast<int>(ch.timeslot);
    if (!ValidTrunk(ch.trunk) || !cas_fd_)
        return;
    if (!cas_open_[trunk]) {
        int result = Driver::IoctlValue(cas_fd_.get(), CAS_OPEN, ch.trunk);
        SendCASTrunkStatus(trunk, result);
        if (result < 0) {
            std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - fail("
                      << result << ")" << std::endl;
            return;
        }
        std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - ok" << std::endl;
        cas_open_[trunk] = 1;
    } else {
        SendCASTrunkStatus(trunk, 0);
    }
    // Time slots 0 and 16 carry framing and the signalling multiframe.
    if (ts == 0 || ts == 16)
        return;
    cas_channel_request req{};
    req.channel = ch;
    req.channel.rx = 0;
    req.channel.tx = static_cast<std::uint8_t>(bits & 15);
    req.operation = Hardware::kCasChannelOpen;
    if (Driver::Ioctl(cas_fd_.get(), CAS_CHANNEL, &req) < 0) {
        SendCASSignal(trunk, ts, -1, 0);
        return;
    }
    cas_channel got = Channel(trunk, ts);
    if (Driver::Ioctl(cas_fd_.get(), CAS_GET, &got) < 0)
        SendCASSignal(trunk, ts, -1, 0);
    else
        SendCASSignal(trunk, ts, got.rx, got.tx);
}

void E1Ctl::HandleCasClose(cas_channel const& ch)
{
    int trunk = static_cast<int>(ch.trunk), ts = static_cast<int>(ch.timeslot);
    if (!ValidTrunk(ch.trunk) || !cas_fd_ || !cas_open_[trunk])
        return;
    if (ts == 0) {
        int result = Driver::IoctlValue(cas_fd_.get(), CAS_CLOSE, ch.trunk);
        SendCASTrunkStatus(trunk, result == 0 ? 1 : result);
        if (result < 0)
            return;
        cas_open_[trunk] = 0;
        return;
    }
    if (ts == 16)
        return;
    cas_channel_request req{};
    req.channel = ch;
    req.channel.rx = 0;
    req.channel.tx = 0;
    req.operation = Hardware::kCasChannelClose;
    int result = Driver::Ioctl(cas_fd_.get(), CAS_CHANNEL, &req);
    SendCASSignal(trunk, ts, -1, result < 0 ? 0 : 1);
}

void E1Ctl::HandleCasSet(cas_channel const& ch, int bits)
{
    int trunk = static_cast<int>(ch.trunk), ts = static_cast<int>(ch.timeslot);
    if (!ValidTrunk(ch.trunk) || !cas_fd_ || !cas_open_[trunk])
        return;
    cas_channel c = ch;
    c.rx = 0;
    c.tx = static_cast<std::uint8_t>(bits & 15);
    if (Driver::Ioctl(cas_fd_.get(), CAS_SET, &c) < 0) {
        SendCASSignal(trunk, ts, -1, 0);
        return;
    }
    c.rx = 0;
    c.tx = 0;
    if (Driver::Ioctl(cas_fd_.get(), CAS_GET, &c) < 0)
        SendCASSignal(trunk, ts, -1, 0);
    else
        SendCASSignal(trunk, ts, c.rx, c.tx);
}

void E1Ctl::HandleCasGet(cas_channel const& ch)
{
    int trunk = static_cast<int>(ch.trunk), ts = static_cast<int>(ch.timeslot);
    if (!ValidTrunk(ch.trunk) || !cas_fd_ || !cas_open_[trunk])
        return;
    cas_channel c = Channel(trunk, ts);
    if (Driver::Ioctl(cas_fd_.get(), CAS_GET, &c) < 0)
        SendCASSignal(trunk, ts, -1, 0);
    else
        SendCASSignal(trunk, ts, c.rx, c.tx);
}

void E1Ctl::SendCASSignal(int trunk, int timeslot, int rx, int tx)
{
    LGCP::Signal signal;
    LGCP::CasSignalling& cas = signal.select_cas();
    LGCP::CasChannel channel;
    channel.set_path(trunk);
    channel.set_timeslot(timeslot);
    cas.set_channel(channel);
    cas.set_rx(rx);
    cas.set_tx(tx);
    SendSignal(signal);
}

void E1Ctl::SendCASTrunkStatus(int trunk, int result)
{
    SendCASSignal(trunk, 0, result, 0);
}
