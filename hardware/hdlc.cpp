#include "hardware/hdlc.hpp"

#include "core/ext.hpp"
#include "core/traces.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"
#include "hardware/hw_mux.hpp"
#include "hardware/mcc_channel.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// The controller's mode codes, by link mode 0 (SS7), 1 (ISDN PRI), 2 (BRI).
constexpr std::uint32_t kDriverMode[3] = {3, 0, 1};

class NullNotify : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet&) override {}
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}
};

HDLC::Notify* SharedNullNotify()
{
    static NullNotify null_notify;
    return &null_notify;
}

bool Traced()
{
    return traces[TraceCtl::signalling_hdlc];
}

} // namespace

HDLC::HDLC()
{
    unbind();
}

HDLC::~HDLC()
{
    m_event.Release();
}

void HDLC::unbind()
{
    notify = SharedNullNotify();
}

void HDLC::PutHeader(std::ostream& os) const
{
    os << "hdlc"
       << " [" << trunk << "/" << timeslot << "]: ";
}

bool HDLC::is_open() const
{
    return m_event.fd().get() >= 0;
}

void HDLC::deactivate()
{
    m_event.Release();
    ready = false;
    ++m_generation;
    if (Traced())
        std::clog << ext::header(this) << "deactivated" << std::endl;
}

bool HDLC::activate()
{
    deactivate();
    txSU = txDiscard = txError = txOverflow = rxSU = 0;

    // Modes without a controller code are refused before the device is
    // touched: an out-of-range mode must not pick an arbitrary code.
    if (mode < 0 || mode > 2) {
        std::cerr << ext::header(this) << "invalid mode: " << mode << std::endl;
        return false;
    }

    MccRawChannel ch = AllocateMccChannel(O_RDWR | O_NONBLOCK, {{kDriverMode[mode], 512, 0, 1, 4}});
    switch (ch.failed) {
    case MccRawChannel::Step::None:
        break;
    case MccRawChannel::Step::Open:
        std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(ch.error) << std::endl;
        return false;
    case MccRawChannel::Step::Allocate:
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(ch.error) << std::endl;
        return false;
    case MccRawChannel::Step::Timeslot:
        std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << std::strerror(ch.error) << std::endl;
        return false;
    }
    const int t = ch.timeslot;

    // The event keeps its own duplicate; without it the channel would be
    // neither read nor written.
    m_event.Bind("HDLC::OnEvent", &HDLC::on_event, this);
    if (!m_event.Schedule(ch.fd.fd(), POLLIN | POLLOUT)) {
        std::cerr << ext::header(this) << "fail to watch MCC channel: " << std::strerror(errno) << std::endl;
        return false;
    }

    // The controller's transmit time slot feeds the link's output; the link
    // feeds the controller's receive time slot.
    HwMux& mux = HwMux::instance();
    mux.Connect(t, mode == 2 ? tx_channel : rx_channel);
    mux.Connect(rx_channel, t);

    ready = false;
    if (Traced())
        std::clog << ext::header(this) << "activated" << std::endl;
    return true;
}

void HDLC::on_event(int, short revents)
{
    const std::uint32_t generation = m_generation;
    if (revents & POLLIN) {
        do_read();
    } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        // Without POLLIN there is nothing to read that would report the
        // failure, and poll would report the same condition on every pass.
        char what[32];
        std::snprintf(what, sizeof what, "poll events 0x%x", static_cast<unsigned>(revents & 0xFFFF));
        read_failed(what);
        return;
    }
    // The listener may have closed the channel from inside a callback.
    if (generation != m_generation || !is_open())
        return;
    if ((revents & POLLOUT) && !ready) {
        ready = true;
        m_event.Schedule(m_event.fd(), POLLIN);
        notify->on_hdlc_ready();
    }
}

bool HDLC::hdlc_transmit(Packet& frame)
{
    m_failed = false;
    if (frame.null() || frame.length() == 0)
        return true;
    const int fd = m_event.fd().get();
    if (fd < 0) {
        ++txDiscard;
        return false;
    }
    if (Traced())
        std::clog << "HDLC[" << trunk << "]: tx " << frame.text() << std::endl;
    if (frame.length() > MaxFrame)
        return transmit_error(frame, "longer than the channel takes");
    for (;;) {
        ssize_t n = ::write(fd, frame.data(), frame.length());
        if (n >= 0) {
            ++txSU;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Flow control: the listener hears on_hdlc_ready() when the
            // controller takes frames again.
            ready = false;
            m_event.Schedule(m_event.fd(), POLLIN | POLLOUT);
            return false;
        }
        return transmit_error(frame, std::strerror(errno));
    }
}

// No readiness will ever bring this frame out: the caller drops it and
// goes on with the next (transmit_failed()).
bool HDLC::transmit_error(const Packet& frame, const char* why)
{
    ++txError;
    m_failed = true;
    std::cerr << ext::header(this) << "write error: " << why << ", frame of " << frame.length()
              << " octets dropped" << std::endl;
    return false;
}

void HDLC::read_failed(const char* what)
{
    std::cerr << ext::header(this) << "read error: " << what << std::endl;
    deactivate();
    notify->on_hdlc_error(Notify::Cause::read_error);
}

void HDLC::do_read()
{
    if (Traced())
        std::clog << ext::header(this) << "do_read" << std::endl;
    const int fd = m_event.fd().get();
    if (fd < 0) {
        std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
        return;
    }
    Packet frame;
    frame.reserve_head(0);
    ssize_t n = ::read(fd, frame.tail_space(), frame.tailroom());
    if (n > 0) {
        frame.extend(static_cast<unsigned int>(n));
        if (Traced())
            std::clog << "HDLC[" << trunk << "]: rx " << frame.text() << std::endl;
        ++rxSU;
        notify->on_hdlc_receive(frame);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    // A read of nothing is the end of the controller's stream, not a quiet
    // "try again": poll keeps reporting it, and returning would spin.
    read_failed(n == 0 ? "end of file" : std::strerror(errno));
}
