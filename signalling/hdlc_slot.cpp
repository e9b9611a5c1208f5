#include "signalling/hdlc_slot.hpp"

#include "core/ext.hpp"
#include "core/traces.hpp"
#include "signalling/hdlc_link_info.hpp"

#include <iostream>

namespace {

// Bound of the octets of the `ioctl` signal around its packages (slot
// number, the choice indices, the count of the SEQUENCE OF), and of each
// package's own (its body's length determinant, X.691 11.9.3.7).
constexpr std::size_t Envelope = 16;
constexpr std::size_t PerPackage = 2;

// Frame layout: address, control, body.
constexpr unsigned int HeaderOctets = 3;
// Bit 7 of the body's second octet: more frames of the batch follow.
constexpr unsigned int MoreOffset = HeaderOctets + 1;
constexpr std::uint8_t MoreBit = 0x80;

} // namespace

const TimerSpec<HdlcSlot>::Spec HdlcSlot::TUpdatespec{&HdlcSlot::update_timer_, &HdlcSlot::OnUpdateTimer,
                                                      HdlcSlot::StatisticsMs};

HdlcSlot::HdlcSlot(LGCP::HdlcParams const& params)
{
    channel_.notify = this;
    pending_.select_hdlcPackages();
    pending_octets_ = Envelope;

    // The header id is the host's trunk number as it is; the log header
    // counts trunks from 0.
    long long const trunk = params.get_trunk().getValue();
    channel_.trunk = static_cast<std::int32_t>(trunk);
    trunk_index_ = trunk - 1;
    address_ = static_cast<std::uint16_t>(params.get_address().getValue());
    if (Traced())
        std::clog << ext::header(this) << "trunk=" << trunk_index_ << ", address=" << address_ << std::endl;

    TimerSpec<HdlcSlot>::SpecTimer<TUpdatespec>::set(this);
}

HdlcSlot::~HdlcSlot()
{
    // The channel is closed with the slot; nothing it reports may reach a
    // slot that is going.
    channel_.unbind();
    channel_.deactivate();
}

bool HdlcSlot::Traced() const
{
    return traces[TraceCtl::signalling_hdlc];
}

void HdlcSlot::PutHeader(std::ostream& os) const
{
    os << "HdlcSlot[" << trunk_index_ << "/*]: ";
}

void HdlcSlot::OnTrunkStatus(unsigned int, ACP::TrunkState::NamedNumber const&)
{}

bool HdlcSlot::Activate()
{
    if (Traced())
        std::clog << ext::header(this) << "Try to activate HDCL, params.tdm = " << channel_.rx_channel
                  << std::endl;
    if (!channel_.activate()) {
        OnDeactivated();
        return false;
    }
    if (Traced())
        std::clog << ext::header(this) << "HDLC activated successfully" << std::endl;
    return true;
}

bool HdlcSlot::IActivate(TERM::TermActivateParams const&)
{
    if (Traced())
        std::clog << ext::header(this) << "IActivate" << std::endl;
    // A channel that is not open, or not watched, would never hear the
    // link: the host must not take the activation for done.
    return Activate();
}

bool HdlcSlot::IDeactivate()
{
    // A report at once; the channel stays open.
    OnUpdateTimer();
    return true;
}

void HdlcSlot::Connected(int channel)
{
    channel_.rx_channel = channel;
    channel_.mode = 1;
    if (channel != -1)
        Activate();
}

bool HdlcSlot::IHwConnectTransmitter(Slot& peer)
{
    if (Traced())
        std::clog << ext::header(this) << "IHwConnectTransmitter" << std::endl;
    Connected(peer.IGetReceiveChannel());
    return true;
}

bool HdlcSlot::IHwConnectReceiver(Slot& peer)
{
    if (Traced())
        std::clog << ext::header(this) << "IHwConnectReceiver" << std::endl;
    Connected(peer.IGetTransmitChannel());
    return true;
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot& peer)
{
    if (Traced())
        std::clog << ext::header(this) << "IHwDisconnectTransmitter" << std::endl;
    Slot::IHwDisconnectTransmitter(peer);
    channel_.deactivate();
    Disconnected(peer);
    return true;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot& peer)
{
    if (Traced())
        std::clog << ext::header(this) << "IHwDisconnectReceiver" << std::endl;
    Slot::IHwDisconnectReceiver(peer);
    channel_.deactivate();
    Disconnected(peer);
    return true;
}

void HdlcSlot::Disconnected(Slot& peer)
{
    // The peer's channel is another slot's now: a later activate must not
    // take it over.
    if (!peer.IHoldsChannels())
        channel_.rx_channel = -1;
}

bool HdlcSlot::Ioctl(LGCP::IoctlParams const& params)
{
    if (!params.is_hdlcPackages())
        return false;
    // A body the channel would never take is refused with the command,
    // before any package of the list is queued.
    for (LGCP::HdlcPackage const& package : params.get_hdlcPackages()) {
        std::size_t const size = package.get_body().size();
        if (size > HDLC::MaxFrame - HeaderOctets) {
            std::cerr << ext::header(this) << "package of " << size << " octets does not fit a frame, refused"
                      << std::endl;
            return false;
        }
    }
    for (LGCP::HdlcPackage const& package : params.get_hdlcPackages()) {
        ASN1::OCTET_STRING const& body = package.get_body();
        // The host still gets its success (it has always taken the ioctl
        // as accepted); the line tells what was lost.
        if (queue_.count() >= QueueSize) {
            std::cerr << ext::header(this) << "send queue full (" << queue_.count() << "), package dropped"
                      << std::endl;
            continue;
        }
        if (Packet::pool_free() <= PoolReserve) {
            std::cerr << ext::header(this) << "packet buffers low (" << Packet::pool_free()
                      << " free), package dropped" << std::endl;
            continue;
        }
        Packet frame;
        frame.reserve_head(0);
        frame.put16_b(address_);
        frame.put8(static_cast<std::uint8_t>(((send_seq_ * 32) & 0xE0) | received_seq_));
        ++send_seq_;
        frame.put(body.data(), static_cast<unsigned int>(body.size()));
        if (Traced())
            std::clog << ext::header(this) << "enqueue package: " << frame.text() << std::endl;
        queue_.put(frame);
        if (!queue_.empty() && channel_.is_ready())
            on_hdlc_ready();
    }
    return true;
}

void HdlcSlot::on_hdlc_ready()
{
    Packet head;
    while (queue_.preview(&head)) {
        // The channel may refuse it (flow control): it stays first and goes
        // on the next ready notification. One it failed to write never
        // goes: it has been counted and logged, and the next one follows.
        if (!channel_.hdlc_transmit(head)) {
            if (!channel_.transmit_failed())
                break;
            queue_.get(nullptr);
            continue;
        }
        queue_.get(nullptr);
        if (Traced())
            std::clog << ext::header(this) << "on_hdlc_ready " << head.text() << std::endl;
    }
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type)
{
    std::clog << ext::header(this) << "on_hdlc_error" << std::endl;
}

void HdlcSlot::on_hdlc_receive(Packet& frame)
{
    if (Traced())
        std::clog << ext::header(this) << "on_hdlc_receive " << frame.text() << std::endl;
    // Address and control must be there; anything shorter is line noise
    // and does not touch the batch.
    if (frame.length() < HeaderOctets) {
        std::cerr << ext::header(this) << "frame of " << frame.length() << " octets dropped" << std::endl;
        return;
    }
    // A frame without the octet that carries the batch bit cannot say that
    // more follows: it ends its batch.
    bool const more = frame.length() > MoreOffset && (frame[MoreOffset] & MoreBit) != 0;
    enqResponce(frame);
    if (!more) {
        flush_timer_.reset();
        flushResponce();
    } else if (!flush_timer_) {
        flush_timer_.set(FlushMs, &HdlcSlot::OnFlushTimer, this);
    }
}

void HdlcSlot::enqResponce(Packet& frame)
{
    std::uint16_t const address = frame.pull16_b();
    std::uint8_t const control = frame.pull8();
    if (address != address_)
        return;
    received_seq_ = static_cast<std::uint8_t>(control >> 5);
    if (frame.length() > MaxReceivedBody) {
        std::cerr << ext::header(this) << "received package of " << frame.length()
                  << " octets is too long for the host, dropped" << std::endl;
        return;
    }
    AddReceived(frame.data(), frame.length());
}

void HdlcSlot::AddReceived(std::uint8_t const* body, std::size_t length)
{
    auto& list = pending_.get_hdlcPackages();
    if (list.size() >= MaxBatchPackages || pending_octets_ + PerPackage + length > MaxBatchOctets)
        flushResponce();
    auto& packages = pending_.get_hdlcPackages();
    packages.resize(packages.size() + 1);
    packages.back().get_body().assign(body, body + length);
    pending_octets_ += PerPackage + length;
}

void HdlcSlot::OnFlushTimer()
{
    flushResponce();
}

void HdlcSlot::flushResponce()
{
    auto const& list = pending_.get_hdlcPackages();
    if (Traced())
        std::clog << ext::header(this) << "flushResponce: " << list.size() << std::endl;
    if (!list.empty())
        OnIoctlResponse(pending_);
    pending_.select_hdlcPackages().clear();
    pending_octets_ = Envelope;
}

void HdlcSlot::UpdateHDLC_Statistics()
{
    LGCP::IoctlResponse response;
    response.set_hdlcLinkInfo(MakeHdlcLinkInfo(channel_));
    OnIoctlResponse(response);
}

void HdlcSlot::OnUpdateTimer()
{
    TimerSpec<HdlcSlot>::SpecTimer<TUpdatespec>::set(this);
    UpdateHDLC_Statistics();
}

HdlcSlotFactory* HdlcSlotFactory::instance()
{
    static HdlcSlotFactory factory;
    return &factory;
}

Slot* HdlcSlotFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (traces[TraceCtl::signalling_hdlc])
        std::clog << "\n\nHdlcSlotFactory.INewSlot\n\n" << std::endl;
    if (!params.is_hdlcParams())
        return nullptr;
    return new HdlcSlot(params.get_hdlcParams());
}

void HdlcSlotFactory::SelfSignal(LGCP::Signal const& signal)
{
    PassTrunkStatus(signal);
}
