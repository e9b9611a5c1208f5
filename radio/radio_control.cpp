#include "radio/radio_control.hpp"

#include "asn1/valid.hpp"
#include "asn1/valuenotation.hpp"
#include "core/clock.hpp"
#include "asn1/modules/TERM.hpp"
#include "hardware/driver_port.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace RTPSignalling {

RadioControl::RadioControl(int channel, rtp_ext_attach_session_params const& attach,
                           rtp_ext_init_params const& init)
    : type_(kOwnAttached), ext_attach_(attach), ext_init_(init), channel_(channel)
{
    Init(kOwnAttached);
}

RadioControl::RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach)
    : type_(kRtpAttached), rtp_(rtp.dup()), rtp_attach_(attach), channel_(channel)
{
    Init(kRtpAttached);
}

RadioControl::RadioControl(rtp_ext_init_params const& init) : type_(kOwnDetached), ext_init_(init)
{
    Init(kOwnDetached);
}

// No detach here: the slot detaches (RtpExtStop) before it lets go; closing
// the descriptors ends the session in the driver all the same.
RadioControl::~RadioControl() = default;

void RadioControl::Init(RadioControlType type)
{
    type_ = type;
    interval_ = 1000;
    last_activity_ = Mux::milliseconds();
    verbose_ = false;
    timer_enabled_ = false;
    filter_active_ = false;
    notify_ = nullptr;
    event_.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnRtpExtEvent, this);
    // Forms 0 and 2 watch their descriptor from RtpExtStart on; form 1 has
    // no extension descriptor of its own.
    set_up_ = RtpExtStart(true);
    local_ = Net::first_private_address();
    local_.SetPort(0);
}

int RadioControl::OpenSession()
{
    int fd = Driver::Open(GetRtpExtDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << GetPrefix() << " create rtp_ext session fail !!!" << std::endl;
        return -1;
    }
    rtp_ext_init_params init = ext_init_;
    if (Driver::Ioctl(fd, RTP_EXT_INIT, &init) < 0) {
        std::cerr << GetPrefix() << " init rtp_ext session fail !!!" << std::endl;
        Driver::Close(fd);
        return -1;
    }
    return fd;
}

bool RadioControl::RtpExtStart(bool init)
{
    switch (type_) {
    case kOwnAttached: {
        int fd = OpenSession();
        if (fd < 0)
            return false;
        rtp_ext_attach_session_params attach = ext_attach_;
        if (Driver::Ioctl(fd, RTP_EXT_ATTACH, &attach) < 0) {
            std::cerr << GetPrefix() << " attach rtp_ext session fail !!!" << std::endl;
            Driver::Close(fd);
            return false;
        }
        ext_.reset(fd);
        return WatchSession();
    }
    case kRtpAttached: {
        if (!rtp_) {
            // The duplicate of the slot's session could not be had: there
            // is nothing to attach.
            std::cerr << GetPrefix() << " attach rtp session fail: no descriptor of the session" << std::endl;
            return false;
        }
        rtp_attach_session_params attach = rtp_attach_;
        if (Driver::Ioctl(rtp_.get(), RTP_ATTACH_EXT_SESSION, &attach) < 0) {
            std::cerr << GetPrefix() << " attach rtp session fail !!!" << std::endl;
            return false;
        }
        return true;
    }
    case kOwnDetached:
        if (init) {
            int fd = OpenSession();
            if (fd < 0)
                return false;
            ext_.reset(fd);
            return WatchSession();
        }
        return true;
    }
    return true;
}

bool RadioControl::WatchSession()
{
    if (event_.Schedule(ext_.fd(), POLLIN))
        return true;
    // Unread, the session's packets would pile up in the driver unseen.
    std::cerr << GetPrefix() << " watch rtp_ext session fail: " << std::strerror(errno) << std::endl;
    ext_.reset();
    return false;
}

bool RadioControl::RtpExtStop()
{
    if (type_ != kOwnAttached)
        return true;
    // Without a session (it could not be had, or is stopped already) there
    // is nothing to detach: a request on no descriptor would only log.
    rtp_ext_attach_session_params attach = ext_attach_;
    if (ext_ && Driver::Ioctl(ext_.get(), RTP_EXT_DETACH, &attach) < 0)
        std::cerr << GetPrefix() << " detach rtp_ext session fail !!!" << std::endl;
    // The watch's duplicate goes first, so that the driver's close takes
    // the session's last descriptor and the session ends there.
    event_.Release();
    ext_.reset();
    return true;
}

void RadioControl::SetRtpSession(Fd rtp)
{
    if (type_ == kOwnAttached)
        ext_attach_.fd_rtp = rtp.get();
    else if (type_ == kRtpAttached)
        rtp_.reset(rtp.dup());
}

void RadioControl::SetTimerEnable(bool enable)
{
    timer_enabled_ = enable;
    if (enable)
        SetTimer(interval_);
    else
        timer_.reset();
}

void RadioControl::SetTimer(unsigned long ms)
{
    timer_.set(static_cast<unsigned int>(ms), &RadioControl::OnProcessStatus, this);
}

void RadioControl::OnProcessStatus(Timer*)
{
    std::uint32_t now = Mux::milliseconds();
    last_activity_ = now;
    unsigned long next = ProcessRadioStatus(now, interval_);
    // The tick may have led the sink to disable the timer.
    if (timer_enabled_)
        SetTimer(next);
}

int RadioControl::UpdateAccess(bool enable, in_addr const& addr)
{
    if (enable) {
        if (filter_active_ && filter_.addr == addr.s_addr)
            return 0;
        filter_ = rtp_ext_filter{addr.s_addr, 0};
        filter_active_ = true;
        rtp_ext_filter f = filter_;
        if (Driver::Ioctl(ext_.get(), RTP_EXT_SET_FILTER, &f) < 0)
            std::cerr << GetPrefix() << " set filer rtp_ext session fail !!!" << std::endl;
    } else if (filter_active_) {
        filter_ = rtp_ext_filter{};
        filter_active_ = false;
        rtp_ext_filter f = filter_;
        if (Driver::Ioctl(ext_.get(), RTP_EXT_RESET_FILTER, &f) < 0)
            std::cerr << GetPrefix() << " reset filer rtp_ext session fail !!!" << std::endl;
    }
    return 0;
}

std::string const& RadioControl::GetPrefix()
{
    Mux::timeval tv;
    Mux::gettimeval(tv);
    std::string const time = Mux::timevaltostring(tv);
    char text[255];
    if (type_ == kOwnDetached)
        std::snprintf(text, sizeof text, "rtp_ext %s:", time.c_str());
    else
        std::snprintf(text, sizeof text, "rtp_ext[%lu] %s:", static_cast<unsigned long>(channel_),
                      time.c_str());
    prefix_ = text;
    return prefix_;
}

void RadioControl::OnRtpExtEvent(int, short events)
{
    if (WakeUp(events) && verbose_)
        std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
}

void RadioControl::StopReading(char const* why)
{
    std::cerr << GetPrefix() << " rtp_ext session " << why << ": reading stopped" << std::endl;
    event_.Release();
}

bool RadioControl::WakeUp(short events)
{
    wake_events_ = events;
    if ((events & POLLIN) != 0)
        return true;
    // Without data to read, these stay set on every poll: keep watching and
    // the loop would spin.
    if ((events & POLLNVAL) != 0)
        StopReading("invalid");
    else if ((events & (POLLHUP | POLLERR)) != 0)
        StopReading("hung up");
    return false;
}

int RadioControl::ReadOne(unsigned char* buf, int size)
{
    if (!event_.fd())
        return 0; // reading stopped within this burst
    int r = Driver::Ioctl(ext_.get(), RTP_EXT_PACKET_INFO, &packet_info_);
    if (r > 0)
        ++counters_.infos;
    else if (r < 0)
        counters_.info_errno = errno;
    ssize_t n = ::read(ext_.get(), buf, static_cast<std::size_t>(size));
    if (n > 0) {
        counters_.bytes_read += static_cast<std::uint32_t>(n);
        return static_cast<int>(n);
    }
    if (n < 0) {
        counters_.read_errno = errno;
        if (errno != EAGAIN && errno != EINTR)
            StopReading("read error");
    } else if ((wake_events_ & (POLLHUP | POLLERR)) != 0) {
        // End of file after a hang-up: the driver ended the session.
        StopReading("hung up");
    }
    return 0;
}

int RadioControl::WriteExtension(unsigned char const* buf, int length)
{
    ssize_t n = ::write(ext_.get(), buf, static_cast<std::size_t>(length));
    if (n < 0) {
        int const error = errno;
        counters_.write_errno = error;
        ++counters_.write_failures;
        // A driver that refuses one write usually refuses the next ones too
        // (one a second on an ED-137 session): one line, not one a second.
        if (failing_writes_++ == 0)
            std::cerr << GetPrefix() << " write rtp_ext session fail !!! (" << std::strerror(error)
                      << "), later failures counted until a write goes through" << std::endl;
        return -1;
    }
    if (failing_writes_ != 0) {
        std::cerr << GetPrefix() << " write rtp_ext session ok again after " << failing_writes_
                  << " failed writes" << std::endl;
        failing_writes_ = 0;
    }
    ++counters_.written;
    counters_.bytes_written += static_cast<std::uint32_t>(n);
    return static_cast<int>(n);
}

int RadioControl::WritePacked(unsigned char const* buf, int packed)
{
    if (packed < 1) {
        counters_.pack_error = packed;
        return packed;
    }
    return WriteExtension(buf, packed);
}

void RadioControl::Notify(TERM::RtpRadioRequest const& request)
{
    bool const valid = strict_requests_ ? ASN1::isStrictlyValid(request) : ASN1::isValid(request);
    if (!valid) {
        std::ostringstream why;
        ASN1::ConstraintChecker trace(strict_requests_, &why);
        request.accept(trace);
        std::cerr << GetPrefix() << " invalid request not sent (" << why.str() << "): " << request
                  << std::endl;
        return;
    }
    if (notify_ != nullptr)
        notify_->RadioControlNotify(request);
}

void RadioControl::Notify(int code)
{
    if (notify_ != nullptr)
        notify_->RadioControlNotify(code);
}

} // namespace RTPSignalling
