#include "signalling/isdn_slot.hpp"

#include "core/ext.hpp"
#include "core/traces.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"
#include "hardware/mcc_channel.hpp"
#include "signalling/hdlc_link_info.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// The allocation record of a D channel: 1 basic rate or 0 primary rate,
// then the driver's fixed words.
constexpr std::uint32_t kMccBri = 1;
constexpr std::uint32_t kMccPri = 0;

// B channels of a QSIG line the host may name (subslots 1..3).
constexpr unsigned int kBChannels = 3;
constexpr std::uint32_t kLastSlot = 1023;

bool Traced()
{
    return traces[TraceCtl::signalling_isdn];
}

std::unique_ptr<ISDN::LAPD> NewLink(LGCP::IsdnSide const& side, long long log)
{
    auto lapd = std::make_unique<ISDN::LAPD>(ISDN::Side::user, 0);
    lapd->log = static_cast<unsigned int>(log);
    lapd->side = side.is_network() ? ISDN::Side::network : ISDN::Side::user;
    return lapd;
}

std::uint32_t NextSerial()
{
    static std::uint32_t serial = 0;
    return ++serial;
}

} // namespace

// ---------------------------------------------------------------- IsdnSlot

IsdnSlot::IsdnSlot(DeviceFd channel, int timeslot, ISDN::LAPD* lapd, char const* event_name)
    : channel_(std::move(channel)), lapd_(lapd), timeslot_(timeslot)
{
    lapd_->notify = this;
    lapd_->hdlc = this;
    event_.Bind(event_name, &IsdnSlot::OnEvent, this);
    event_.Schedule(channel_.fd(), POLLIN | POLLOUT);
    add_protocol_tail(lapd_);
}

IsdnSlot::~IsdnSlot()
{
    event_.Release();
    // The family deletes the link; nothing it does on the way may reach the
    // channel of a slot that is going.
    lapd_->hdlc = nullptr;
    lapd_->notify = nullptr;
}

void IsdnSlot::PutHeader(std::ostream& os) const
{
    os << "isdn-slot[" << timeslot_ << "]: ";
}

bool IsdnSlot::IActivate(TERM::TermActivateParams const&)
{
    ProtocolsFamily::activate();
    return true;
}

bool IsdnSlot::IDeactivate()
{
    ProtocolsFamily::deactivate();
    return true;
}

bool IsdnSlot::IUserData(std::vector<char> const& data)
{
    // One message is one I frame, whose information field a peer takes up
    // to N201 octets (Q.921 5.9.3).
    if (data.size() > ISDN::LAPD::N201) {
        std::cerr << ext::header(this) << "user data of " << data.size()
                  << " octets is longer than an information field (" << ISDN::LAPD::N201
                  << " octets), refused" << std::endl;
        return false;
    }
    Packet message;
    prepare_head(message);
    message.put(data.data(), static_cast<unsigned int>(data.size()));
    ProtocolsFamily::message(message);
    return true;
}

void IsdnSlot::SendStatistics()
{
    LGCP::IoctlResponse response;
    if (MakeIsdnLinkInfo(*lapd_, response.select_isdnLinkInfo()))
        OnIoctlResponse(response);
}

void IsdnSlot::on_activated(Protocol*)
{
    SendStatistics();
    OnActivated();
}

void IsdnSlot::on_deactivated(Protocol*, Protocol_status)
{
    SendStatistics();
    OnDeactivated();
}

void IsdnSlot::on_message(Packet& pkt)
{
    pkt.passert(!pkt.null(), "null packet");
    OnUserData(std::vector<char>(pkt.data(), pkt.data() + pkt.length()));
}

void IsdnSlot::OnEvent(int fd, short revents)
{
    if (revents & POLLIN) {
        Read(fd);
    } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        // Nothing to read would report the failure, and poll reports the
        // same condition on every pass.
        char what[32];
        std::snprintf(what, sizeof what, "poll events 0x%x", static_cast<unsigned>(revents & 0xFFFF));
        Ended(what);
    }
    if (ended_)
        return;
    if ((revents & POLLOUT) && !ready_) {
        ready_ = true;
        event_.Schedule(event_.fd(), POLLIN);
        lapd_->on_hdlc_ready();
    }
}

void IsdnSlot::Read(int fd)
{
    Packet frame;
    frame.reserve_head(0);
    ssize_t n;
    do {
        n = ::read(fd, frame.tail_space(), frame.tailroom());
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        frame.extend(static_cast<unsigned int>(n));
        if (Traced())
            std::clog << ext::header(this) << ": rx " << frame.text() << std::endl;
        ProtocolsFamily::receive(frame);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    // The end of the stream stays readable for ever: going back to poll
    // would spin.
    Ended(n == 0 ? "end of file" : std::strerror(errno));
}

void IsdnSlot::Ended(char const* why)
{
    if (ended_)
        return;
    std::cerr << ext::header(this) << "read stopped: " << why << std::endl;
    ended_ = true;
    ready_ = false;
    event_.Release();
    ProtocolsFamily::deactivate();
}

bool IsdnSlot::hdlc_transmit(Packet& frame)
{
    failed_ = false;
    if (frame.null() || frame.length() == 0)
        return true;
    if (!is_open())
        return false;
    for (;;) {
        ssize_t n = ::write(channel_.get(), frame.data(), frame.length());
        if (n >= 0) {
            if (Traced())
                std::clog << ext::header(this) << ": tx " << frame.text() << std::endl;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // The link keeps the frame and sends it on on_hdlc_ready().
            ready_ = false;
            event_.Schedule(event_.fd(), POLLIN | POLLOUT);
            return false;
        }
        // No readiness follows for this frame: the link drops it
        // (transmit_failed()) instead of holding its queue behind it.
        char const* const why = std::strerror(errno);
        failed_ = true;
        std::cerr << ext::header(this) << "write error: " << why << ", frame of " << frame.length()
                  << " octets dropped" << std::endl;
        return false;
    }
}

// ---------------------------------------------------------------- QSIG

AtsQsigSlot::AtsQsigSlot(DeviceFd channel, int timeslot, ISDN::LAPD* lapd)
    : IsdnSlot(std::move(channel), timeslot, lapd, "AtsQsigSlot::OnEvent"), serial(NextSerial())
{}

bool AtsQsigSlot::IBeforeDestroy()
{
    StopWatching();
    return true;
}

AtsQsigBSlot* AtsQsigSlot::NewBChannel(unsigned int index)
{
    dsp_data_bchannel b{static_cast<std::int32_t>(index), -1};
    if (Driver::Ioctl(descriptor(), DSP_DATA_ADD_B, &b) < 0) {
        std::cerr << "ats-qsig: "
                  << "add B channel fail !!!" << std::endl;
        return nullptr;
    }
    if (b.timeslot < 0) {
        // A channel nobody can connect to: given back at once.
        std::cerr << "ats-qsig: "
                  << "add B channel fail !!! (no time slot)" << std::endl;
        ReleaseBChannel(index, b.timeslot);
        return nullptr;
    }
    return new AtsQsigBSlot(id, serial, index, b.timeslot);
}

void AtsQsigSlot::ReleaseBChannel(unsigned int index, int timeslot)
{
    dsp_data_bchannel b{static_cast<std::int32_t>(index), timeslot};
    if (Driver::Ioctl(descriptor(), DSP_DATA_REMOVE_B, &b) < 0)
        std::cerr << "ats-qsig: remove B channel " << index << " fail: " << std::strerror(errno) << std::endl;
}

AtsQsigBSlot::AtsQsigBSlot(std::uint32_t signalling, std::uint32_t serial, unsigned int index, int timeslot)
    : signalling(signalling), serial(serial), index(index), timeslot(timeslot)
{}

AtsQsigBSlot::~AtsQsigBSlot() = default;

bool AtsQsigBSlot::IBeforeDestroy()
{
    auto* isdn = dynamic_cast<IsdnFactory*>(factory);
    Slot* found = (isdn != nullptr ? isdn : IsdnFactory::instance())->FindSlot(signalling);
    auto* qsig = dynamic_cast<AtsQsigSlot*>(found);
    // A signalling slot made later on the same number holds B channels of
    // its own: this one's went with the slot that added it.
    if (qsig != nullptr && qsig->serial == serial)
        qsig->ReleaseBChannel(index, timeslot);
    else
        std::clog << "ats-qsig-b: "
                  << "Can't find signalling slot" << std::endl;
    return true;
}

// ---------------------------------------------------------------- factory

IsdnFactory* IsdnFactory::instance()
{
    static IsdnFactory factory;
    return &factory;
}

void IsdnFactory::PutHeader(std::ostream& os) const
{
    os << "mcc/isdn: ";
}

Slot* IsdnFactory::FindSlot(std::uint32_t id) const
{
    for (Slot* s : slots)
        if (s->id == id)
            return s;
    return nullptr;
}

Slot* IsdnFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (params.is_isdn())
        return NewIsdnSlot(params.get_isdn());
    if (params.is_ats_qsig())
        return NewAtsQsigSlot(params.get_ats_qsig());
    if (params.is_ats_qsig_b())
        return NewAtsQsigBSlot(params.get_ats_qsig_b());
    return nullptr;
}

Slot* IsdnFactory::NewIsdnSlot(LGCP::IsdnParams const& params)
{
    bool const bri = params.get_type().getValue() == LGCP::IsdnType::bri;
    std::unique_ptr<ISDN::LAPD> lapd = NewLink(params.get_side(), params.get_log().getValue());
    if (bri)
        lapd->change_to_bri();
    lapd->id = static_cast<unsigned int>(params.get_trunk().getValue());

    MccRawChannel ch = AllocateMccChannel(O_RDWR | O_NONBLOCK, {{bri ? kMccBri : kMccPri, 512, 0, 1, 1}});
    switch (ch.failed) {
    case MccRawChannel::Step::None:
        break;
    case MccRawChannel::Step::Open:
        std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(ch.error) << std::endl;
        return nullptr;
    case MccRawChannel::Step::Allocate:
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(ch.error) << std::endl;
        return nullptr;
    case MccRawChannel::Step::Timeslot:
        // A channel without a switch channel reaches nobody (the helper has
        // closed it).
        std::cerr << ext::header(this)
                  << "MCC_TIMESLOT fail: " << (ch.error != 0 ? std::strerror(ch.error) : "no time slot")
                  << std::endl;
        return nullptr;
    }
    return Watched(new IsdnSlot(std::move(ch.fd), ch.timeslot, lapd.release()));
}

Slot* IsdnFactory::Watched(IsdnSlot* slot)
{
    if (slot->watched())
        return slot;
    std::cerr << ext::header(this) << "fail to watch channel: " << std::strerror(errno) << std::endl;
    delete slot;
    return nullptr;
}

Slot* IsdnFactory::NewAtsQsigSlot(LGCP::AtsQsigParams const& params)
{
    DeviceFd fd(Driver::Open(GetDspDataDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        std::cerr << ext::header(this) << "fail to open dsp-data device: " << std::strerror(errno)
                  << std::endl;
        return nullptr;
    }
    std::unique_ptr<ISDN::LAPD> lapd = NewLink(params.get_side(), params.get_log().getValue());
    std::uint32_t scratch = 0;
    errno = 0;
    int const timeslot = Driver::Ioctl(fd.get(), DSP_DATA_TIMESLOT, &scratch);
    if (timeslot < 0) {
        std::cerr << ext::header(this)
                  << "dsp-data time slot fail: " << (errno != 0 ? std::strerror(errno) : "no time slot")
                  << std::endl;
        return nullptr;
    }
    lapd->id = static_cast<unsigned int>(timeslot);
    return Watched(new AtsQsigSlot(std::move(fd), timeslot, lapd.release()));
}

Slot* IsdnFactory::NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params)
{
    // The decoder lets a constrained number past its bound through: no
    // driver request for a B channel the line does not have.
    auto const slot = static_cast<long long>(params.get_slot().getValue());
    auto const subslot = static_cast<long long>(params.get_subslot().getValue());
    if (slot < 0 || slot > kLastSlot || subslot < 1 || subslot > kBChannels)
        return nullptr;
    auto* qsig = dynamic_cast<AtsQsigSlot*>(FindSlot(static_cast<std::uint32_t>(slot)));
    if (qsig == nullptr)
        return nullptr;
    return qsig->NewBChannel(static_cast<unsigned int>(subslot - 1));
}
