#include "signalling/pstn_slot.hpp"

#include "core/ext.hpp"
#include "signalling/hdlc_link_info.hpp"

#include <iostream>

namespace {

// The channel mode each link kind needs: SS7 and CAS on one switch channel
// both ways, primary rate likewise, basic rate sends on B and receives on A.
std::int32_t ModeOf(PstnSlot::Kind kind)
{
    switch (kind) {
    case PstnSlot::ss7_or_cas:
        return 0;
    case PstnSlot::isdn_pri:
        return 1;
    case PstnSlot::isdn_bri_user:
    case PstnSlot::isdn_bri_network:
        break;
    }
    return 2;
}

bool BasicRate(PstnSlot::Kind kind)
{
    return kind == PstnSlot::isdn_bri_user || kind == PstnSlot::isdn_bri_network;
}

} // namespace

const TimerSpec<PstnSlot>::Spec PstnSlot::TUpdatespec{&PstnSlot::update_timer_, &PstnSlot::OnUpdateTimer,
                                                      PstnSlot::StatisticsMs};

PstnSlot::PstnSlot(LGCP::PstnParams const& params) : channel_(std::make_unique<HDLC>())
{
    channel_->notify = this;
    long long trunk = 0;
    if (params.is_ss7()) {
        LGCP::SS7Params const& p = params.get_ss7();
        trunk = p.get_trunk().getValue();
        ss7_ = new SS7::SLC;
        ss7_->hdlc = channel_.get();
        ss7_->trunk = static_cast<unsigned int>(trunk);
        ss7_->slc = static_cast<unsigned int>(p.get_slc().getValue());
        ss7_->dpc = static_cast<unsigned int>(p.get_dpc().getValue());
        ss7_->emergency = static_cast<bool>(p.get_emergency());
        add_protocol_tail(ss7_);
    } else if (params.is_isdn()) {
        LGCP::IsdnParams const& p = params.get_isdn();
        trunk = p.get_trunk().getValue();
        auto const log = static_cast<unsigned int>(p.get_log().getValue());
        bool const bri = p.get_type().getValue() == LGCP::IsdnType::bri;
        bool const network = p.get_side().is_network();
        channel_->log_level = static_cast<std::int32_t>(log);
        if (bri && network) {
            kind_ = isdn_bri_network;
            lapd_nt_ = new ISDN::LAPD_NT;
            lapd_nt_->set_log(log);
            add_protocol_tail(lapd_nt_);
        } else {
            kind_ = bri ? isdn_bri_user : isdn_pri;
            lapd_ = new ISDN::LAPD(ISDN::Side::user, 0);
            lapd_->side = network ? ISDN::Side::network : ISDN::Side::user;
            lapd_->id = static_cast<unsigned int>(trunk);
            lapd_->log = log;
            lapd_->notify = this;
            lapd_->hdlc = channel_.get();
            if (bri)
                lapd_->change_to_bri();
            add_protocol_tail(lapd_);
        }
    } else {
        trunk = params.get_cas().get_trunk().getValue();
    }
    // The header id is the host's trunk number as it is; trunk status
    // reports count trunks from 0.
    if (kind_ != isdn_bri_network)
        channel_->trunk = static_cast<std::int32_t>(trunk);
    trunk_index_ = trunk - 1;
    channel_->mode = ModeOf(kind_);
    TimerSpec<PstnSlot>::SpecTimer<TUpdatespec>::set(this);
}

PstnSlot::~PstnSlot()
{
    // The channel goes first, so that nothing it reports reaches a layer
    // that is going.
    channel_->unbind();
    channel_.reset();
    delete ss7_;
    delete lapd_;
    delete lapd_nt_;
    update_timer_.reset();
}

void PstnSlot::PutHeader(std::ostream& os) const
{
    os << "pstn-slot[" << Label() << "]: ";
}

HDLC::Notify* PstnSlot::Listener()
{
    if (ss7_)
        return ss7_;
    return lapd_;
}

void PstnSlot::OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state)
{
    if (ss7_ == nullptr || static_cast<long long>(trunk) != trunk_index_)
        return;
    if (state == trunk_state_)
        return;
    ss7_->OnTrunkHardStatus(state == ACP::TrunkState::normal);
    trunk_state_ = state;
}

bool PstnSlot::Activate()
{
    // Frames held for a channel that has since been closed belong to an
    // earlier life of the link.
    queue_.clear();
    if (!channel_->activate()) {
        OnDeactivated();
        return false;
    }
    ProtocolsFamily::activate();
    return true;
}

bool PstnSlot::IActivate(TERM::TermActivateParams const&)
{
    // The link cannot start without its channel: the host hears so in the
    // answer, not only from `deactivated`.
    return Activate();
}

bool PstnSlot::IDeactivate()
{
    ProtocolsFamily::deactivate();
    return true;
}

bool PstnSlot::IUserData(std::vector<char> const& data)
{
    // CAS runs no layer: the message has nowhere to go.
    if (top() == nullptr)
        return true;
    if (ss7_ != nullptr && (data.size() < SS7::SLC::msu_min || data.size() > SS7::SLC::msu_max)) {
        std::cerr << ext::header(this) << "user data of " << data.size()
                  << " octets is no message signal unit (" << SS7::SLC::msu_min << " to " << SS7::SLC::msu_max
                  << " octets), refused" << std::endl;
        return false;
    }
    // Q.921 5.9.3: a LAPD information field holds at most N201 octets, on
    // either side and in I and UI frames alike.
    if ((lapd_ != nullptr || lapd_nt_ != nullptr) && data.size() > ISDN::LAPD::N201) {
        std::cerr << ext::header(this) << "user data of " << data.size()
                  << " octets is longer than an information field (" << ISDN::LAPD::N201
                  << " octets), refused" << std::endl;
        return false;
    }
    Packet pkt;
    prepare_head(pkt);
    if (pkt.null())
        pkt.reserve_head(0);
    // The layers' headers and the message make one frame of the channel.
    if (data.size() > pkt.tailroom() || data.size() + pkt.headroom() > HDLC::MaxFrame) {
        std::cerr << ext::header(this) << "user data of " << data.size()
                  << " octets does not fit one frame, refused" << std::endl;
        return false;
    }
    pkt.put(data.data(), static_cast<unsigned int>(data.size()));
    ProtocolsFamily::message(pkt);
    return true;
}

bool PstnSlot::Ioctl(LGCP::IoctlParams const& params)
{
    if (ss7_ == nullptr)
        return false;
    if (params.is_ss7RqBSN()) {
        LGCP::IoctlResponse response;
        response.set_ss7BSN(static_cast<int>(ss7_->bsn()));
        OnIoctlResponse(response);
        return true;
    }
    if (params.is_ss7Log()) {
        LGCP::SS7L2Log const& l = params.get_ss7Log();
        ss7_->log.state = static_cast<bool>(l.get_state());
        ss7_->log.raw_receive = static_cast<bool>(l.get_raw_receive());
        ss7_->log.raw_transmit = static_cast<bool>(l.get_raw_transmit());
        ss7_->log.mtp_transmit = static_cast<bool>(l.get_mtp_transmit());
        ss7_->log.mtp_receive = static_cast<bool>(l.get_mtp_receive());
        ss7_->log.mtp_activate = static_cast<bool>(l.get_mtp_activate());
        ss7_->log.timers = static_cast<bool>(l.get_timers());
        ss7_->log.msu_processing = static_cast<bool>(l.get_msu_processing());
        return true;
    }
    return false;
}

bool PstnSlot::IHwConnectReceiver(Slot& peer)
{
    std::int32_t source_trunk = channel_->source_trunk;
    std::int32_t timeslot = channel_->timeslot;
    if (!BasicRate(kind_)) {
        // The channel uses these only in its log header: a peer that is no
        // trunk time slot (-1) still connects.
        int const trunk = peer.GetTrunk();
        if (trunk > 3) {
            std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
            return false;
        }
        int const ts = peer.GetTrunkTimeSlot();
        if (ts > 31) {
            std::cerr << "pstn-slot: invalid timeslot: " << ts << std::endl;
            return false;
        }
        source_trunk = trunk;
        timeslot = ts;
    }
    channel_->source_trunk = source_trunk;
    channel_->timeslot = timeslot;
    channel_->mode = ModeOf(kind_);
    channel_->rx_channel = peer.IGetTransmitChannel();
    if (BasicRate(kind_) && channel_->tx_channel == -1)
        return true;
    Activate();
    return true;
}

bool PstnSlot::IHwConnectTransmitter(Slot& peer)
{
    if (!BasicRate(kind_))
        return true;
    channel_->tx_channel = peer.IGetReceiveChannel();
    if (channel_->rx_channel == -1)
        return true;
    Activate();
    return true;
}

// A peer whose channel is another slot's now (a port of a mixer unit that
// came back) leaves nothing for a later activate to take over.
bool PstnSlot::IHwDisconnectTransmitter(Slot& peer)
{
    if (BasicRate(kind_))
        ProtocolsFamily::deactivate();
    Slot::IHwDisconnectTransmitter(peer);
    if (!peer.IHoldsChannels())
        channel_->tx_channel = -1;
    return true;
}

bool PstnSlot::IHwDisconnectReceiver(Slot& peer)
{
    ProtocolsFamily::deactivate();
    Slot::IHwDisconnectReceiver(peer);
    if (!peer.IHoldsChannels())
        channel_->rx_channel = -1;
    return true;
}

void PstnSlot::on_hdlc_receive(Packet& frame)
{
    if (HDLC::Notify* listener = Listener())
        listener->on_hdlc_receive(frame);
    else if (lapd_nt_)
        ProtocolsFamily::receive(frame);
}

void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause)
{
    if (HDLC::Notify* listener = Listener())
        listener->on_hdlc_error(cause);
}

void PstnSlot::on_hdlc_ready()
{
    if (HDLC::Notify* listener = Listener()) {
        listener->on_hdlc_ready();
        return;
    }
    Packet head;
    while (queue_.preview(&head)) {
        // Refused again: it stays first and waits for the next readiness,
        // unless the channel failed to write it (counted and logged there).
        if (!channel_->hdlc_transmit(head) && !channel_->transmit_failed())
            break;
        queue_.get(nullptr);
    }
}

void PstnSlot::transmit(Packet& pkt)
{
    if (!channel_)
        return;
    // Behind frames that wait: the terminals see them in the order sent.
    if (queue_.empty() && (channel_->hdlc_transmit(pkt) || channel_->transmit_failed()))
        return;
    // A closed channel has counted the frame as discarded; nothing waits
    // for a channel that does not run.
    if (!channel_->is_open())
        return;
    if (!queue_.put(pkt))
        std::cerr << ext::header(this) << "send queue full (" << queue_.count() << "), frame dropped"
                  << std::endl;
}

void PstnSlot::on_activated(Protocol*)
{
    SendIsdnInfo();
    SendSS7Info();
    OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, Protocol_status)
{
    SendIsdnInfo();
    SendSS7Info();
    OnUpdateTimer();
    OnDeactivated();
}

void PstnSlot::on_message(Packet& pkt)
{
    if (pkt.null()) {
        std::cerr << ext::header(this) << "null packet from the link, dropped" << std::endl;
        return;
    }
    std::vector<char> data(pkt.data(), pkt.data() + pkt.length());
    OnUserData(data);
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* lapd)
{
    LGCP::IoctlResponse response;
    response.set_isdnLinkStatus(lapd->flow_status() == ISDN::LAPD::FlowStatus::congested
                                    ? LGCP::IsdnLinkStatus::congested
                                    : LGCP::IsdnLinkStatus::normal);
    OnIoctlResponse(response);
}

void PstnSlot::SendIsdnInfo()
{
    if (lapd_ == nullptr)
        return;
    LGCP::IoctlResponse response;
    if (MakeIsdnLinkInfo(*lapd_, response.select_isdnLinkInfo()))
        OnIoctlResponse(response);
}

void PstnSlot::SendSS7Info()
{
    if (ss7_ == nullptr)
        return;
    SS7::SLC::Statistics const s = ss7_->statistics();
    LGCP::IoctlResponse response;
    ACP::SS7LinkInfo& info = response.select_ss7LinkInfo();
    info.set_msuTxCount(static_cast<int>(s.msuTxCount));
    info.set_msuRxCount(static_cast<int>(s.msuRxCount));
    info.set_octetsTx(static_cast<int>(s.octetsTx));
    info.set_octetsRx(static_cast<int>(s.octetsRx));
    // The link does not measure its speed.
    info.set_speedRx(0);
    info.set_speedTx(0);
    info.set_overflowCntr(static_cast<int>(s.overflowCntr));
    info.set_rtbSize(static_cast<int>(s.rtbSize));
    info.set_repeatCntr(static_cast<int>(s.repeatCntr));
    info.set_badSeqCntr(static_cast<int>(s.badSeqCntr));
    info.set_ss7state(static_cast<ACP::SS7State::NamedNumber>(ss7_->state()));
    OnIoctlResponse(response);
}

void PstnSlot::OnUpdateTimer()
{
    TimerSpec<PstnSlot>::SpecTimer<TUpdatespec>::set(this);
    LGCP::IoctlResponse response;
    response.set_hdlcLinkInfo(MakeHdlcLinkInfo(*channel_));
    OnIoctlResponse(response);
    SendIsdnInfo();
    SendSS7Info();
}

PstnFactory* PstnFactory::instance()
{
    static PstnFactory factory;
    return &factory;
}

Slot* PstnFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_pstn())
        return nullptr;
    return new PstnSlot(params.get_pstn());
}
