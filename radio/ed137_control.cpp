#include "radio/ed137_control.hpp"

#include "asn1/modules/TERM.hpp"
#include "asn1/valuenotation.hpp"
#include "core/clock.hpp"

#include <iostream>

#include <arpa/inet.h>
#include <poll.h>

namespace RTPSignalling {

namespace {

constexpr std::uint32_t kAbortSilence = 151;

std::uint32_t AddressOf(std::string const& dotted)
{
    in_addr a{};
    return ::inet_pton(AF_INET, dotted.c_str(), &a) == 1 ? a.s_addr : 0;
}

std::string Dotted(std::uint32_t network_order)
{
    INet4::Addr a;
    a.Assign(network_order);
    return a.GetDotted();
}

// What a controller keeps of a header it takes: the SQI words only when
// the header carries them.
void Keep(ED137RadioState const& from, ED137RadioState& to)
{
    to.addr = from.addr;
    to.ssrc = from.ssrc;
    to.flags = from.flags;
    to.ptt = from.ptt;
    to.squ = from.squ;
    to.ptt_id = from.ptt_id;
    to.ptt_mute = from.ptt_mute;
    to.ptt_summation = from.ptt_summation;
    to.sct = from.sct;
    if (from.HasSqi()) {
        to.bss_method = from.bss_method;
        to.bss_quality = from.bss_quality;
    }
}

void HeaderFrom(TERM::ED137RadioHeader const& h, ED137RadioState& s)
{
    s.ptt = static_cast<std::uint32_t>(h.get_ptt().getValue());
    s.squ = static_cast<std::uint32_t>(h.get_squ().getValue());
    s.ptt_id = h.get_ptt_id().getValue();
    s.ptt_mute = h.get_ptt_mute().getValue() ? 1 : 0;
    s.ptt_summation = h.get_ptt_summation().getValue() ? 1 : 0;
    s.sct = h.get_sct().getValue() ? 1 : 0;
}

void SqiFrom(TERM::ED137RadioExtensionSQI const& q, ED137RadioState& s)
{
    s.flags |= ED137RadioState::kRx | ED137RadioState::kSqi;
    s.bss_method = static_cast<std::uint32_t>(q.get_bss_method().getValue());
    s.bss_quality = q.get_bss_quality().getValue();
}

void HeaderTo(ED137RadioState const& s, TERM::ED137RadioHeader& h)
{
    h.get_ptt().setValue(static_cast<int>(s.ptt));
    h.get_squ().setValue(static_cast<int>(s.squ));
    h.set_ptt_id(s.ptt_id);
    h.set_ptt_mute(s.ptt_mute != 0);
    h.set_ptt_summation(s.ptt_summation != 0);
    h.set_sct(s.sct != 0);
}

// Wire widths: PTT type 3 bits, SQU 1, PTT id 6; SQI method 3, quality 5.
char const* UnfitHeader(TERM::ED137RadioHeader const& h)
{
    if (static_cast<unsigned>(h.get_ptt().getValue()) > 7)
        return "ptt";
    if (static_cast<unsigned>(h.get_squ().getValue()) > 1)
        return "squ";
    if (h.get_ptt_id().getValue() > 63)
        return "ptt-id";
    return nullptr;
}

char const* UnfitSqi(TERM::ED137RadioExtensionSQI const& q)
{
    if (static_cast<unsigned>(q.get_bss_method().getValue()) > 7)
        return "bss-method";
    if (q.get_bss_quality().getValue() > 31)
        return "bss-quality";
    return nullptr;
}

} // namespace

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r)
{
    if (r.has_transmission_depend_on_squ())
        transmission_depend_on_squ = r.get_transmission_depend_on_squ().getValue() ? 1 : 0;
    if (r.has_sigtime())
        sigtime = r.get_sigtime().getValue();
    if (r.has_r2s_keepalive_period())
        r2s_keepalive_period = r.get_r2s_keepalive_period().getValue();
    if (r.has_r2s_keepalive_multiplier())
        r2s_keepalive_multiplier = r.get_r2s_keepalive_multiplier().getValue();
    radio_type = static_cast<std::uint32_t>(r.get_type().getValue());
    txrx_mode = static_cast<std::uint32_t>(r.get_txrxmode().getValue());
}

bool ED137RadioState::IsEqual(ED137RadioState const& o) const
{
    return flags == o.flags && ptt == o.ptt && squ == o.squ && ptt_id == o.ptt_id && ptt_mute == o.ptt_mute &&
           ptt_summation == o.ptt_summation && sct == o.sct && bss_method == o.bss_method &&
           bss_quality == o.bss_quality && addr == o.addr && ssrc == o.ssrc;
}

void ED137RadioState::DecodeASN(TERM::ED137RadioModifier const& m)
{
    flags = 0;
    addr = AddressOf(m.get_addr().get_session_addr());
    ssrc = m.get_addr().get_session_ssrc().getValue();
    TERM::ED137RadioModifierParams const& p = m.get_params();
    if (p.is_tx()) {
        flags |= kTx | kHeader;
        HeaderFrom(p.get_tx().get_header(), *this);
    } else if (p.is_rx()) {
        flags |= kRx | kHeader;
        HeaderFrom(p.get_rx().get_header(), *this);
        if (p.get_rx().has_sqi())
            SqiFrom(p.get_rx().get_sqi(), *this);
    }
}

void ED137RadioState::DecodeASN(TERM::ED137RadioStatus const& s)
{
    flags = kRx | kHeader;
    HeaderFrom(s.get_header(), *this);
    if (s.has_sqi())
        SqiFrom(s.get_sqi(), *this);
}

void ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& params) const
{
    std::uint32_t const kind = flags & kKindMask;
    if (kind == kRx) {
        TERM::ED137RadioRxCommand& rx = params.select_rx();
        HeaderTo(*this, rx.get_header());
        if (HasSqi()) {
            rx.include_sqi();
            rx.get_sqi().get_bss_method().setValue(static_cast<int>(bss_method));
            rx.get_sqi().set_bss_quality(bss_quality);
        }
    } else if (kind == kTx) {
        HeaderTo(*this, params.select_tx().get_header());
    }
}

char const* ED137UnfitField(TERM::ED137RadioStatus const& status)
{
    if (char const* f = UnfitHeader(status.get_header()))
        return f;
    return status.has_sqi() ? UnfitSqi(status.get_sqi()) : nullptr;
}

char const* ED137UnfitField(TERM::ED137RadioModifier const& modifier)
{
    TERM::ED137RadioModifierParams const& p = modifier.get_params();
    if (p.is_tx())
        return UnfitHeader(p.get_tx().get_header());
    if (!p.is_rx())
        return nullptr;
    if (char const* f = UnfitHeader(p.get_rx().get_header()))
        return f;
    return p.get_rx().has_sqi() ? UnfitSqi(p.get_rx().get_sqi()) : nullptr;
}

ED137RadioControl::ED137RadioControl(int channel, rtp_ext_attach_session_params const& attach,
                                     rtp_ext_init_params const& init)
    : RadioControl(channel, attach, init)
{
    Init();
}

ED137RadioControl::ED137RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(channel, rtp, attach)
{
    Init();
}

ED137RadioControl::ED137RadioControl(rtp_ext_init_params const& init) : RadioControl(init)
{
    Init();
}

void ED137RadioControl::Init()
{
    params_ = ED137RadioParams{};
    received_ = ED137RadioState{};
    sent_ = ED137RadioState{};
    r2s_proto_init(&current_, 0);
    r2s_proto_init(&previous_, 0);
    std::uint32_t const now = Mux::milliseconds();
    keepalive_time_ = notify_time_ = good_header_time_ = last_activity_ = now;
}

int ED137RadioControl::DecodeProto(r2s_proto const& p, ED137RadioState& s) const
{
    s.addr = p.src_addr;
    s.ssrc = p.src_ssrc;
    if (p.type == R2S_PROTO_TYPE_TX) {
        // SQU and SCT are not on a TX header; its features are not used.
        s.flags |= ED137RadioState::kTx | ED137RadioState::kHeader;
        s.ptt = p.tx.ptt_type;
        s.ptt_id = p.tx.ptt_id;
        s.ptt_mute = p.tx.ptt_mute;
        s.ptt_summation = p.tx.ptt_summation;
        return 0;
    }
    if (p.type == R2S_PROTO_TYPE_RX) {
        s.flags |= ED137RadioState::kRx | ED137RadioState::kHeader;
        s.ptt = p.rx.ptt_type;
        s.squ = p.rx.squ;
        s.ptt_id = p.rx.ptt_id;
        s.ptt_mute = p.rx.ptt_mute;
        s.ptt_summation = p.rx.ptt_summation;
        s.sct = p.rx.sct;
        std::uint32_t const n =
            p.additional_count < R2S_PROTO_MAX_ADDITIONALS ? p.additional_count : R2S_PROTO_MAX_ADDITIONALS;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (p.additional[i].type != R2S_PROTO_RX_SQI)
                continue;
            s.flags |= ED137RadioState::kSqi;
            s.bss_quality = p.additional[i].rx_sqi.qidx;
            s.bss_method = p.additional[i].rx_sqi.method;
        }
        return 0;
    }
    return -1;
}

void ED137RadioControl::EncodeStatusASN(ED137RadioState const& state, TERM::RtpRadioRequest& request)
{
    TERM::ED137RadioStatus& status = request.get_status().select_ed_137();
    HeaderTo(state, status.get_header());
    status.include_sqi();
    bool const sqi = (state.flags & ED137RadioState::kSqi) != 0;
    status.get_sqi().get_bss_method().setValue(sqi ? static_cast<int>(state.bss_method) : 0);
    status.get_sqi().set_bss_quality(sqi ? state.bss_quality : 0);
}

void ED137RadioControl::EncodeASN(ED137RadioState const& sent, ED137RadioState const& received,
                                  TERM::RtpRadioRequest& request)
{
    EncodeStatusASN(sent, request);
    request.include_request();
    TERM::ED137RadioModifier& m = request.get_request().select_ed_137();
    m.get_addr().set_session_addr(Dotted(received.addr));
    m.get_addr().set_session_ssrc(received.ssrc);
    received.EncodeASN(m.get_params());
}

void ED137RadioControl::OnRtpExtEvent(int, short events)
{
    if (!WakeUp(events))
        return;
    if (verbose_)
        std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
    std::uint32_t const now = Mux::milliseconds();
    last_activity_ = now;
    r2s_proto_init(&previous_, 0);
    unsigned count = 0;
    unsigned char buf[1024];
    for (;;) {
        int const n = ReadOne(buf, sizeof buf);
        if (n <= 0)
            break;
        r2s_proto_init(&current_, 0);
        int const r = r2s_proto_unpack_tx(&current_, buf, n);
        if (r != 0) {
            counters_.unpack_error = r;
            continue;
        }
        ++counters_.decoded;
        good_header_time_ = now;
        current_.src_ssrc = packet_info().ssrc;
        current_.src_addr = packet_info().src_addr;
        // A run of headers from one source is handled once, by its last.
        if (count > 0 && cmp_r2s_proto_source(&previous_, &current_) != 0)
            OnRtpProtoRXEvent(previous_);
        previous_ = current_;
        ++count;
    }
    if (count > 0)
        OnRtpProtoRXEvent(previous_);
}

void ED137RadioControl::OnRtpProtoRXEvent(r2s_proto const& packet)
{
    ED137RadioState state;
    DecodeProto(packet, state);
    if (!AccessFormChanToRadio(state))
        return;
    // A repeated header is reported at most once per interval.
    std::uint32_t const since = last_activity_ - notify_time_;
    if (state.IsEqual(received_) && since < interval())
        return;
    PutProtoFromChanToRadio(state);
    TERM::RtpRadioRequest request;
    EncodeASN(sent_, state, request);
    if (verbose_)
        std::clog << GetPrefix() << " command=0x" << std::hex << state.flags << std::dec
                  << " send extension to controller: " << request << std::endl;
    notify_time_ = last_activity_;
    Notify(request);
}

template <class Message>
bool ED137RadioControl::SendED137(Message const& message)
{
    if (char const* unfit = ED137UnfitField(message)) {
        std::cerr << GetPrefix() << " ed-137 " << unfit << " does not fit its wire field: nothing sent"
                  << std::endl;
        return false;
    }
    ED137RadioState state = sent_;
    DecodeASN(message, state);
    SendRadioStateToChan(state);
    return true;
}

bool ED137RadioControl::SendASNToChan(TERM::RadioStatus const& status)
{
    return status.is_ed_137() && SendED137(status.get_ed_137());
}

bool ED137RadioControl::SendASNToChan(TERM::RadioModifier const& modifier)
{
    return modifier.is_ed_137() && SendED137(modifier.get_ed_137());
}

bool ED137RadioControl::Takes(TERM::RadioModifier const& modifier) const
{
    return modifier.is_ed_137() && ED137UnfitField(modifier.get_ed_137()) == nullptr;
}

bool ED137RadioControl::NeedSendProto(ED137RadioState const& state) const
{
    // Words 3 and 4 of the session record: keep-alive count and sigtime.
    rtp_ext_init_params const& init = init_params();
    if (init.words[2] < 1 || init.words[3] < 1)
        return true;
    return !state.IsEqual(sent_);
}

void ED137RadioControl::SendRadioStateToChan(ED137RadioState const& state)
{
    if (!NeedSendProto(state))
        return;
    if (PutProtoFromRadioToChan(state) == 0) {
        r2s_proto packet;
        r2s_proto_init(&packet, 0);
        if (EncodeProto(state, packet) == 0) {
            SendProtoToChan(packet);
            std::uint32_t const now = Mux::milliseconds();
            last_activity_ = now;
            if (workstation_ == 0 && (state.flags & ED137RadioState::kKindMask) == ED137RadioState::kRx)
                keepalive_time_ = now;
        }
    }
    if (verbose_) {
        TERM::RtpRadioRequest request;
        EncodeStatusASN(sent_, request);
        std::clog << GetPrefix() << "command=0x" << std::hex << state.flags << std::dec
                  << " receive extension from controller: " << request << std::endl;
    }
    in_addr addr{};
    addr.s_addr = sent_.addr;
    UpdateAccess(sent_.ptt != 0, addr);
}

int ED137RadioControl::SendProtoToChan(r2s_proto& packet)
{
    unsigned char buf[1024];
    return WritePacked(buf, r2s_proto_pack(&packet, buf, sizeof buf));
}

unsigned long ED137RadioGWControl::ProcessRadioStatus(unsigned long now_arg, unsigned long interval_arg)
{
    // Elapsed times are 32-bit differences, so they keep counting across
    // the wrap of the millisecond clock.
    std::uint32_t const now = static_cast<std::uint32_t>(now_arg);
    std::uint32_t const interval = static_cast<std::uint32_t>(interval_arg);
    std::uint32_t const limit = params_.r2s_keepalive_period * params_.r2s_keepalive_multiplier;
    if (limit != 0 && now - good_header_time_ >= limit && HasNotify())
        Notify(static_cast<int>(kAbortSilence));

    std::uint32_t s = now - keepalive_time_;
    if (s >= interval) {
        // An RX header whatever the host last sent; the SQI bit stays.
        sent_.flags =
            (sent_.flags & ~ED137RadioState::kKindMask) | ED137RadioState::kRx | ED137RadioState::kHeader;
        r2s_proto packet;
        r2s_proto_init(&packet, 0);
        if (EncodeProto(sent_, packet) == 0) {
            SendProtoToChan(packet);
            keepalive_time_ = now;
        }
    }
    s = now - keepalive_time_;
    if (s > 0 && s < interval)
        return interval - s + 10;
    return interval;
}

int ED137RadioGWControl::PutProtoFromRadioToChan(ED137RadioState const& state)
{
    Keep(state, sent_);
    return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(ED137RadioState const& state)
{
    Keep(state, received_);
    return 0;
}

bool ED137RadioGWControl::AccessFormChanToRadio(ED137RadioState const&)
{
    // Only a radio that may transmit takes push-to-talk from the channel.
    bool const type = params_.radio_type == 2 || params_.radio_type == 3 || params_.radio_type == 4;
    bool const mode = params_.txrx_mode == 0 || params_.txrx_mode == 2;
    return type && mode;
}

int ED137RadioGWControl::EncodeProto(ED137RadioState const& state, r2s_proto& packet)
{
    packet.src_addr = state.addr;
    packet.src_ssrc = state.ssrc;
    std::uint32_t const kind = state.flags & ED137RadioState::kKindMask;
    if (kind == ED137RadioState::kRx) {
        r2s_proto_init(&packet, R2S_PROTO_TYPE_RX);
        packet.src_addr = state.addr;
        packet.src_ssrc = state.ssrc;
        r2s_proto_set_rx_header(&packet, state.ptt, state.squ, state.ptt_id, state.ptt_mute,
                                state.ptt_summation, state.sct);
        if (state.HasSqi())
            r2s_proto_add_rx_sqi(&packet, state.bss_quality, state.bss_method);
        return 0;
    }
    if (kind == ED137RadioState::kTx) {
        r2s_proto_init(&packet, R2S_PROTO_TYPE_TX);
        packet.src_addr = state.addr;
        packet.src_ssrc = state.ssrc;
        r2s_proto_set_tx_header(&packet, state.ptt, state.ptt_id, state.ptt_mute, state.ptt_summation);
        return 0;
    }
    return -1;
}

} // namespace RTPSignalling
