#include "radio/veze_control.hpp"

#include "asn1/modules/TERM.hpp"
#include "asn1/valuenotation.hpp"
#include "core/clock.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <arpa/inet.h>

namespace RTPSignalling {

namespace {

// Highest values of the TERM enumerations that the packets carry in octets.
constexpr int kSquelsheMax = 103; // TERM::RadioSquelshe percent-100
constexpr int kRteMax = 7;        // TERM::RadioRTE j3e
constexpr int kStandbyMax = 1;    // TERM::RadioStandby standby
constexpr int kStandbyMin = -1;   // TERM::RadioStandby not-use

constexpr std::uint32_t kRepeatAfter = 999;   // ms
constexpr std::uint32_t kDropLogEvery = 1000; // ms

// Frequencies and qualities travel towards the host as "%4.6f" text. A
// float from the network may be as large as 3.4e38: 47 characters.
std::string FloatText(float f)
{
    char text[64];
    std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(f));
    return text;
}

// strtod, narrowed to float: a value beyond the float range becomes an
// infinity (the plain conversion of such a double is undefined).
float FloatFrom(std::string const& text)
{
    double const d = std::strtod(text.c_str(), nullptr);
    if (d > FLT_MAX)
        return HUGE_VALF;
    if (d < -FLT_MAX)
        return -HUGE_VALF;
    return static_cast<float>(d);
}

std::string Dotted(std::uint32_t network_order)
{
    in_addr a{};
    a.s_addr = network_order;
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// What the host gives as an address: inet_addr's reading, whatever the text
// (an empty session address is normal where it does not matter).
std::uint32_t AddressOf(std::string const& text)
{
    return static_cast<std::uint32_t>(::inet_addr(text.c_str()));
}

// A value still unset (-1) goes to the host as 0: `no-config` for squelch
// and RTE, `active` for a standby state, group 0.
int TermValue(std::int32_t v)
{
    return v < 0 ? 0 : v;
}

std::uint8_t Octet(std::int32_t v)
{
    return static_cast<std::uint8_t>(v);
}

void FlagsTo(VezeRadioState const& s, TERM::RadioFlags& f)
{
    f.set_prio(static_cast<int>(s.priority));
    f.set_ptt(s.ptt != 0);
    f.set_bss(s.bss != 0);
    f.set_vad_rx(s.vad_rx != 0);
    f.set_vad_tx(s.vad_tx != 0);
    f.set_sql(s.sql != 0);
    f.set_sh(s.sh != 0);
    f.set_pwr(s.pwr != 0);
    f.set_rv(s.rv != 0);
    f.set_resv(s.resv != 0);
    f.set_selcall(s.selcall);
    f.set_li(s.li);
}

void FlagsFrom(TERM::RadioFlags const& f, VezeRadioState& s)
{
    s.priority = static_cast<std::uint32_t>(f.get_prio().getValue());
    s.ptt = f.get_ptt().getValue() ? 1 : 0;
    s.bss = f.get_bss().getValue() ? 1 : 0;
    s.vad_rx = f.get_vad_rx().getValue() ? 1 : 0;
    s.vad_tx = f.get_vad_tx().getValue() ? 1 : 0;
    s.sql = f.get_sql().getValue() ? 1 : 0;
    s.sh = f.get_sh().getValue() ? 1 : 0;
    s.pwr = f.get_pwr().getValue() ? 1 : 0;
    s.rv = f.get_rv().getValue() ? 1 : 0;
    s.resv = f.get_resv().getValue() ? 1 : 0;
    s.selcall = f.get_selcall().getValue();
    s.li = f.get_li().getValue();
}

void FreqTo(VezeRadioState const& s, TERM::RadioFrequency& f)
{
    f.set_channel(s.channel);
    f.set_frequency(FloatText(s.frequency));
}

void FreqFrom(TERM::RadioFrequency const& f, VezeRadioState& s)
{
    s.channel = f.get_channel().getValue();
    s.frequency = FloatFrom(f.get_frequency());
}

void RemoteTo(VezeRadioState const& s, TERM::RadioRemote& r)
{
    r.set_no(static_cast<std::uint32_t>(s.remote_no));
    r.set_ch(static_cast<std::uint32_t>(s.remote_ch));
}

void RemoteFrom(TERM::RadioRemote const& r, VezeRadioState& s)
{
    s.remote_no = static_cast<std::int32_t>(r.get_no().getValue());
    s.remote_ch = static_cast<std::int32_t>(r.get_ch().getValue());
}

template <class Command>
void SessionTo(VezeRadioState const& s, Command& c)
{
    FlagsTo(s, c.get_flags());
    c.set_ip(Dotted(s.session_addr));
    c.set_ssrc(s.session_ssrc);
}

template <class Command>
void SessionFrom(Command const& c, VezeRadioState& s)
{
    FlagsFrom(c.get_flags(), s);
    s.session_addr = AddressOf(c.get_ip());
    s.session_ssrc = c.get_ssrc().getValue();
}

// The modifier alternative of a command, filled from the state; false for
// a command outside the table.
bool ParamsTo(VezeRadioState const& s, TERM::VezeRadioModifierParams& p)
{
    switch (s.command) {
    case SIG_PROTO_GW_FLAG:
        FlagsTo(s, p.select_gw_set_flags().get_flags());
        return true;
    case SIG_PROTO_GW_ADJUST_CHAN:
        FreqTo(s, p.select_gw_set_freq().get_freq());
        return true;
    case SIG_PROTO_GW_FLAG_PTT:
        FlagsTo(s, p.select_gw_set_ptt().get_flags());
        return true;
    case SIG_PROTO_GW_FLAG_BSS:
        FlagsTo(s, p.select_gw_set_bss().get_flags());
        return true;
    case SIG_PROTO_GW_FLAG_RV:
        FlagsTo(s, p.select_gw_set_rv().get_flags());
        return true;
    case SIG_PROTO_GW_FLAG_SH:
        FlagsTo(s, p.select_gw_set_sh().get_flags());
        return true;
    case SIG_PROTO_GW_FLAG_PW:
        FlagsTo(s, p.select_gw_set_pwr().get_flags());
        return true;
    case SIG_PROTO_GW_FLAG_RS:
        FlagsTo(s, p.select_gw_set_resv().get_flags());
        return true;
    case SIG_PROTO_GW_SEL_CALL: {
        TERM::RadioCommandGWSetSelCall& c = p.select_gw_set_selcall();
        SessionTo(s, c);
        c.set_cid(s.caller_id);
        return true;
    }
    case SIG_PROTO_GW_SELECT_RC_CHAN:
        RemoteTo(s, p.select_gw_set_remote().get_remote());
        return true;
    case SIG_PROTO_GW_ADJUST_SQUELSHE:
        p.select_gw_set_squelshe().get_squelshe().setValue(TermValue(s.squelshe));
        return true;
    case SIG_PROTO_GW_ADJUST_RTE:
        p.select_gw_set_rte().get_rte().setValue(TermValue(s.rte));
        return true;
    case SIG_PROTO_GW_ADJUST_STANDBY:
        p.select_gw_set_standby().get_state().setValue(TermValue(s.standby_state_channel));
        return true;
    case SIG_PROTO_WM_FLAG:
        FlagsTo(s, p.select_wm_flags().get_flags());
        return true;
    case SIG_PROTO_WM_TRANS:
        SessionTo(s, p.select_wm_trans());
        return true;
    case SIG_PROTO_WM_RADIO_QUALITY:
        p.select_wm_quality().set_bss_val(FloatText(s.quality));
        return true;
    case SIG_PROTO_WM_CHAN: {
        TERM::RadioCommandWMChan& c = p.select_wm_chan();
        FreqTo(s, c.get_freq());
        c.get_squelshe().setValue(TermValue(s.squelshe));
        c.get_rte().setValue(TermValue(s.rte));
        return true;
    }
    case SIG_PROTO_WM_SEL_CALL_TRANS: {
        TERM::RadioCommandWMSelCall& c = p.select_wm_selcall();
        SessionTo(s, c);
        c.set_cid(s.caller_id);
        return true;
    }
    case SIG_PROTO_WM_SELECT_RC_CHAN:
        RemoteTo(s, p.select_wm_remote().get_remote());
        return true;
    case SIG_PROTO_WM_STANDBY: {
        TERM::RadioCommandWMStandby& c = p.select_wm_standby();
        c.get_state_channel().setValue(TermValue(s.standby_state_channel));
        c.set_group(static_cast<std::uint32_t>(TermValue(s.standby_group)));
        c.get_state_receiver().setValue(TermValue(s.standby_state_receiver));
        return true;
    }
    default:
        return false;
    }
}

bool Outside(int value, int low, int high)
{
    return value < low || value > high;
}

} // namespace

bool isPTTCommand(int command)
{
    sig_proto p{};
    p.type = static_cast<std::uint32_t>(command);
    return sig_proto_is_ptt_command(&p) != 0;
}

bool isDefaultInitCommand(int command)
{
    return command <= 0;
}

void VezeRadioState::SetCallerId(char const* text)
{
    std::memset(caller_id, 0, sizeof caller_id);
    if (text != nullptr)
        std::memcpy(caller_id, text, strnlen(text, sizeof caller_id - 1));
}

char const* VezeUnfitField(TERM::VezeRadioStatus const& s)
{
    if (Outside(s.get_squelshe().getValue(), 0, kSquelsheMax))
        return "squelshe";
    if (Outside(s.get_rte().getValue(), 0, kRteMax))
        return "rte";
    if (Outside(s.get_standby_state_channel().getValue(), kStandbyMin, kStandbyMax))
        return "standby-state-channel";
    if (Outside(s.get_standby_state_receiver().getValue(), kStandbyMin, kStandbyMax))
        return "standby-state-receiver";
    return nullptr;
}

char const* VezeUnfitField(TERM::VezeRadioModifier const& m)
{
    TERM::VezeRadioModifierParams const& p = m.get_params();
    if (p.is_gw_set_squelshe())
        return Outside(p.get_gw_set_squelshe().get_squelshe().getValue(), 0, kSquelsheMax) ? "squelshe"
                                                                                           : nullptr;
    if (p.is_gw_set_rte())
        return Outside(p.get_gw_set_rte().get_rte().getValue(), 0, kRteMax) ? "rte" : nullptr;
    if (p.is_gw_set_standby())
        return Outside(p.get_gw_set_standby().get_state().getValue(), kStandbyMin, kStandbyMax) ? "state"
                                                                                                : nullptr;
    if (p.is_wm_chan()) {
        if (Outside(p.get_wm_chan().get_squelshe().getValue(), 0, kSquelsheMax))
            return "squelshe";
        return Outside(p.get_wm_chan().get_rte().getValue(), 0, kRteMax) ? "rte" : nullptr;
    }
    if (p.is_wm_standby()) {
        if (Outside(p.get_wm_standby().get_state_channel().getValue(), kStandbyMin, kStandbyMax))
            return "state-channel";
        return Outside(p.get_wm_standby().get_state_receiver().getValue(), kStandbyMin, kStandbyMax)
                   ? "state-receiver"
                   : nullptr;
    }
    return nullptr;
}

VezeRadioControl::VezeRadioControl(int channel, rtp_ext_attach_session_params const& attach,
                                   rtp_ext_init_params const& init)
    : RadioControl(channel, attach, init)
{
    Init();
}

VezeRadioControl::VezeRadioControl(rtp_ext_init_params const& init) : RadioControl(init)
{
    Init();
}

VezeRadioControl::VezeRadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(channel, rtp, attach)
{
    Init();
}

void VezeRadioControl::Init()
{
    // Every VEZE value lies in the root of its type: a report must be
    // strictly valid.
    strict_requests_ = true;
    chan_ = VezeRadioState{};
    radio_ = VezeRadioState{};
    std::uint32_t const now = Mux::milliseconds();
    last_activity_ = now;
    sent_ = SendTimes{now, now, now, now};
    sig_proto_init(&current_);
    sig_proto_init(&previous_);
}

void VezeRadioControl::OnRtpExtEvent(int, short events)
{
    if (!WakeUp(events))
        return;
    if (verbose_)
        std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
    sig_proto_init(&previous_);
    unsigned count = 0;
    unsigned char buf[1024];
    for (;;) {
        int const n = ReadOne(buf, sizeof buf);
        if (n <= 0)
            break;
        sig_proto_init(&current_);
        int const r = sig_proto_unpack(&current_, buf, n);
        if (r != 0) {
            counters_.unpack_error = r;
            continue;
        }
        ++counters_.decoded;
        current_.src_ssrc = packet_info().ssrc;
        current_.src_addr = packet_info().src_addr;
        // A run of packets of one type from one source is handled once, by
        // its last.
        if (count > 0 && cmp_sig_proto_header(&previous_, &current_) != 0)
            OnRtpProtoRXEvent(previous_);
        previous_ = current_;
        ++count;
    }
    if (count > 0)
        OnRtpProtoRXEvent(previous_);
}

void VezeRadioControl::DecodeProto(sig_proto const& p, VezeRadioState& s) const
{
    s.command = static_cast<std::int32_t>(p.type);
    s.priority = p.priority;
    s.vad_tx = p.flag_t;
    s.ptt = p.flag_p;
    s.vad_rx = p.flag_r;
    s.sql = p.flag_s;
    s.bss = p.flag_b;
    s.rv = p.flag_rv;
    s.sh = p.flag_sh;
    s.pwr = p.flag_pw;
    s.resv = p.flag_rs;
    s.selcall = p.flag_c;
    s.li = p.status;
    s.src_addr = p.src_addr;
    s.src_ssrc = p.src_ssrc;
    switch (p.type) {
    case SIG_PROTO_GW_ADJUST_CHAN:
        s.channel = static_cast<std::int32_t>(p.gw_adjust_chan.id);
        s.frequency = p.gw_adjust_chan.freq;
        break;
    case SIG_PROTO_GW_SEL_CALL:
        s.SetCallerId(reinterpret_cast<char const*>(p.gw_sel_call.callerID));
        break;
    case SIG_PROTO_GW_SELECT_RC_CHAN:
        s.remote_no = p.gw_select_rc_chan.interface;
        s.remote_ch = p.gw_select_rc_chan.channel;
        break;
    case SIG_PROTO_GW_ADJUST_SQUELSHE:
        s.squelshe = p.gw_adjust_squelsh.squelsh;
        break;
    case SIG_PROTO_GW_ADJUST_RTE:
        s.rte = p.gw_adjust_rte.rte;
        break;
    case SIG_PROTO_GW_ADJUST_STANDBY:
        s.standby_state_channel = p.gw_adjust_standby.state;
        break;
    case SIG_PROTO_WM_TRANS:
        s.session_addr = p.wm_trans.session_addr.s_addr;
        s.session_ssrc = p.wm_trans.ssrc;
        break;
    case SIG_PROTO_WM_RADIO_QUALITY:
        s.quality = p.wm_radio_quality.radio_quality;
        break;
    case SIG_PROTO_WM_CHAN:
        s.channel = static_cast<std::int32_t>(p.wm_chan.id);
        s.frequency = p.wm_chan.freq;
        s.squelshe = p.wm_chan.squelsh;
        s.rte = p.wm_chan.rte;
        break;
    case SIG_PROTO_WM_SEL_CALL_TRANS:
        s.session_addr = p.wm_sel_call_trans.session_addr.s_addr;
        s.session_ssrc = p.wm_sel_call_trans.ssrc;
        s.SetCallerId(reinterpret_cast<char const*>(p.wm_sel_call_trans.callerID));
        break;
    case SIG_PROTO_WM_SELECT_RC_CHAN:
        s.remote_no = p.wm_select_rc_chan.interface;
        s.remote_ch = p.wm_select_rc_chan.channel;
        break;
    case SIG_PROTO_WM_STANDBY:
        s.standby_state_channel = p.wm_standby.state;
        s.standby_group = p.wm_standby.group;
        s.standby_state_receiver = p.wm_standby.receiver_state;
        break;
    default:
        break;
    }
}

bool VezeRadioControl::UnfitReceived(VezeRadioState const& s, char const*& field, unsigned& value)
{
    auto check = [&](char const* name, std::int32_t v, int high) {
        if (v <= high)
            return false;
        field = name;
        value = static_cast<unsigned>(v);
        return true;
    };
    switch (s.command) {
    case SIG_PROTO_GW_ADJUST_SQUELSHE:
        return check("squelsh", s.squelshe, kSquelsheMax);
    case SIG_PROTO_GW_ADJUST_RTE:
        return check("rte", s.rte, kRteMax);
    case SIG_PROTO_WM_CHAN:
        return check("squelsh", s.squelshe, kSquelsheMax) || check("rte", s.rte, kRteMax);
    case SIG_PROTO_GW_ADJUST_STANDBY:
        return check("state", s.standby_state_channel, kStandbyMax);
    case SIG_PROTO_WM_STANDBY:
        return check("state", s.standby_state_channel, kStandbyMax) ||
               check("receiver_state", s.standby_state_receiver, kStandbyMax);
    case SIG_PROTO_GW_SEL_CALL:
    case SIG_PROTO_WM_SEL_CALL_TRANS:
        // TERM's `cid` is an IA5String: seven-bit characters only.
        for (char const* c = s.caller_id; *c != '\0'; ++c)
            if (check("callerID byte", static_cast<unsigned char>(*c), 127))
                return true;
        return false;
    default:
        return false;
    }
}

void VezeRadioControl::Dropped(VezeRadioState const& s, char const* field, unsigned value)
{
    ++dropped_;
    std::uint32_t const now = Mux::milliseconds();
    if (drop_logged_ && now - drop_log_time_ < kDropLogEvery)
        return;
    char const* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, s.command);
    std::cerr << GetPrefix() << " " << (name != nullptr ? name : "?") << " " << field << " " << value
              << " outside its TERM type: packet dropped (" << dropped_ << " dropped since the last line)"
              << std::endl;
    drop_logged_ = true;
    drop_log_time_ = now;
    dropped_ = 0;
}

void VezeRadioControl::OnRtpProtoRXEvent(sig_proto const& packet)
{
    VezeRadioState state;
    DecodeProto(packet, state);
    char const* field = nullptr;
    unsigned value = 0;
    if (UnfitReceived(state, field, value)) {
        // Reporting a substitute would report a command the far side never
        // gave.
        Dropped(state, field, value);
    } else if (AccessFormChanToRadio(state)) {
        PutProtoFromChanToRadio(state);
        TERM::RtpRadioRequest request;
        EncodeASN(radio_, state, request);
        if (verbose_)
            std::clog << GetPrefix() << " command=0x" << std::hex << state.command << std::dec
                      << " send extension to controller: " << request << std::endl;
        Notify(request);
    }
    in_addr addr{};
    addr.s_addr = radio_.session_addr;
    UpdateAccess(radio_.ptt != 0, addr);
}

void VezeRadioControl::EncodeStatusASN(VezeRadioState const& s, TERM::RtpRadioRequest& request)
{
    TERM::VezeRadioStatus& status = request.get_status().select_veze();
    FlagsTo(s, status.get_flags());
    FreqTo(s, status.get_freq());
    RemoteTo(s, status.get_remote());
    status.get_squelshe().setValue(TermValue(s.squelshe));
    status.get_rte().setValue(TermValue(s.rte));
    status.get_standby_state_channel().setValue(TermValue(s.standby_state_channel));
    status.set_standby_group(static_cast<std::uint32_t>(TermValue(s.standby_group)));
    status.get_standby_state_receiver().setValue(TermValue(s.standby_state_receiver));
}

void VezeRadioControl::EncodeASN(VezeRadioState const& radio, VezeRadioState const& received,
                                 TERM::RtpRadioRequest& request)
{
    EncodeStatusASN(radio, request);
    TERM::RadioModifier modifier;
    TERM::VezeRadioModifier& m = modifier.select_veze();
    m.get_addr().set_session_addr(Dotted(received.src_addr));
    m.get_addr().set_session_ssrc(received.src_ssrc);
    // A command outside the table has no alternative: the status goes alone.
    if (ParamsTo(received, m.get_params())) {
        request.include_request();
        request.get_request() = modifier;
    }
}

void VezeRadioControl::DecodeASN(TERM::VezeRadioStatus const& status, VezeRadioState& s)
{
    s.command = 0;
    FlagsFrom(status.get_flags(), s);
    FreqFrom(status.get_freq(), s);
    RemoteFrom(status.get_remote(), s);
    s.squelshe = status.get_squelshe().getValue();
    s.rte = status.get_rte().getValue();
    s.standby_state_channel = status.get_standby_state_channel().getValue();
    s.standby_group = static_cast<std::int32_t>(status.get_standby_group().getValue());
    s.standby_state_receiver = status.get_standby_state_receiver().getValue();
}

void VezeRadioControl::DecodeASN(TERM::VezeRadioModifier const& m, VezeRadioState& s)
{
    s.command = 0;
    s.src_addr = AddressOf(m.get_addr().get_session_addr());
    s.src_ssrc = m.get_addr().get_session_ssrc().getValue();
    TERM::VezeRadioModifierParams const& p = m.get_params();
    auto flags = [&s](std::int32_t command, TERM::RadioFlags const& f) {
        s.command = command;
        FlagsFrom(f, s);
    };
    if (p.is_gw_set_flags()) {
        flags(SIG_PROTO_GW_FLAG, p.get_gw_set_flags().get_flags());
    } else if (p.is_gw_set_freq()) {
        s.command = SIG_PROTO_GW_ADJUST_CHAN;
        FreqFrom(p.get_gw_set_freq().get_freq(), s);
    } else if (p.is_gw_set_ptt()) {
        flags(SIG_PROTO_GW_FLAG_PTT, p.get_gw_set_ptt().get_flags());
    } else if (p.is_gw_set_bss()) {
        flags(SIG_PROTO_GW_FLAG_BSS, p.get_gw_set_bss().get_flags());
    } else if (p.is_gw_set_rv()) {
        flags(SIG_PROTO_GW_FLAG_RV, p.get_gw_set_rv().get_flags());
    } else if (p.is_gw_set_sh()) {
        flags(SIG_PROTO_GW_FLAG_SH, p.get_gw_set_sh().get_flags());
    } else if (p.is_gw_set_pwr()) {
        flags(SIG_PROTO_GW_FLAG_PW, p.get_gw_set_pwr().get_flags());
    } else if (p.is_gw_set_resv()) {
        flags(SIG_PROTO_GW_FLAG_RS, p.get_gw_set_resv().get_flags());
    } else if (p.is_gw_set_selcall()) {
        s.command = SIG_PROTO_GW_SEL_CALL;
        SessionFrom(p.get_gw_set_selcall(), s);
        s.SetCallerId(p.get_gw_set_selcall().get_cid().c_str());
    } else if (p.is_gw_set_remote()) {
        s.command = SIG_PROTO_GW_SELECT_RC_CHAN;
        RemoteFrom(p.get_gw_set_remote().get_remote(), s);
    } else if (p.is_gw_set_squelshe()) {
        s.command = SIG_PROTO_GW_ADJUST_SQUELSHE;
        s.squelshe = p.get_gw_set_squelshe().get_squelshe().getValue();
    } else if (p.is_gw_set_rte()) {
        s.command = SIG_PROTO_GW_ADJUST_RTE;
        s.rte = p.get_gw_set_rte().get_rte().getValue();
    } else if (p.is_gw_set_standby()) {
        s.command = SIG_PROTO_GW_ADJUST_STANDBY;
        s.standby_state_channel = p.get_gw_set_standby().get_state().getValue();
    } else if (p.is_wm_flags()) {
        flags(SIG_PROTO_WM_FLAG, p.get_wm_flags().get_flags());
    } else if (p.is_wm_trans()) {
        s.command = SIG_PROTO_WM_TRANS;
        SessionFrom(p.get_wm_trans(), s);
    } else if (p.is_wm_quality()) {
        s.command = SIG_PROTO_WM_RADIO_QUALITY;
        s.quality = FloatFrom(p.get_wm_quality().get_bss_val());
    } else if (p.is_wm_chan()) {
        s.command = SIG_PROTO_WM_CHAN;
        FreqFrom(p.get_wm_chan().get_freq(), s);
        s.squelshe = p.get_wm_chan().get_squelshe().getValue();
        s.rte = p.get_wm_chan().get_rte().getValue();
    } else if (p.is_wm_selcall()) {
        s.command = SIG_PROTO_WM_SEL_CALL_TRANS;
        SessionFrom(p.get_wm_selcall(), s);
        s.SetCallerId(p.get_wm_selcall().get_cid().c_str());
    } else if (p.is_wm_remote()) {
        s.command = SIG_PROTO_WM_SELECT_RC_CHAN;
        RemoteFrom(p.get_wm_remote().get_remote(), s);
    } else if (p.is_wm_standby()) {
        s.command = SIG_PROTO_WM_STANDBY;
        TERM::RadioCommandWMStandby const& c = p.get_wm_standby();
        s.standby_state_channel = c.get_state_channel().getValue();
        s.standby_group = static_cast<std::int32_t>(c.get_group().getValue());
        s.standby_state_receiver = c.get_state_receiver().getValue();
    }
}

template <class Message>
bool VezeRadioControl::SendVeze(Message const& message)
{
    if (char const* unfit = VezeUnfitField(message)) {
        std::cerr << GetPrefix() << " veze " << unfit << " outside its TERM type: nothing sent" << std::endl;
        return false;
    }
    VezeRadioState state = radio_;
    DecodeASN(message, state);
    SendRadioStateToChan(state);
    return true;
}

bool VezeRadioControl::SendASNToChan(TERM::RadioStatus const& status)
{
    return status.is_veze() && SendVeze(status.get_veze());
}

bool VezeRadioControl::SendASNToChan(TERM::RadioModifier const& modifier)
{
    return modifier.is_veze() && SendVeze(modifier.get_veze());
}

bool VezeRadioControl::Takes(TERM::RadioModifier const& modifier) const
{
    return modifier.is_veze() && VezeUnfitField(modifier.get_veze()) == nullptr;
}

void VezeRadioControl::SendRadioStateToChan(VezeRadioState const& state)
{
    if (PutProtoFromRadioToChan(state) == 0) {
        sig_proto packet;
        sig_proto_init(&packet);
        if (EncodeProto(state, packet) == 0) {
            SendProtoToChan(packet);
            std::uint32_t const now = Mux::milliseconds();
            last_activity_ = now;
            if (workstation_ == 0) {
                switch (state.command) {
                case SIG_PROTO_WM_FLAG:
                case SIG_PROTO_WM_TRANS:
                case SIG_PROTO_WM_SEL_CALL_TRANS:
                    sent_.flags = now;
                    break;
                case SIG_PROTO_WM_CHAN:
                    sent_.chan = now;
                    break;
                case SIG_PROTO_WM_SELECT_RC_CHAN:
                    sent_.remote = now;
                    break;
                case SIG_PROTO_WM_STANDBY:
                    sent_.standby = now;
                    break;
                default:
                    break;
                }
            }
        }
    }
    if (verbose_) {
        TERM::RtpRadioRequest request;
        EncodeStatusASN(radio_, request);
        std::clog << GetPrefix() << "command=0x" << std::hex << state.command << std::dec
                  << " receive extension from controller: " << request << std::endl;
    }
    in_addr addr{};
    addr.s_addr = radio_.session_addr;
    UpdateAccess(radio_.ptt != 0, addr);
}

int VezeRadioControl::SendProtoToChan(sig_proto& packet)
{
    unsigned char buf[1024];
    return WritePacked(buf, sig_proto_pack(&packet, buf, sizeof buf));
}

void VezeRadioControl::StoreFlags(VezeRadioState const& from, VezeRadioState& to)
{
    to.li = from.li;
    to.ptt = from.ptt;
    to.bss = from.bss;
    to.vad_rx = from.vad_rx;
    to.vad_tx = from.vad_tx;
    to.sql = from.sql;
    to.sh = from.sh;
    to.pwr = from.pwr;
    to.rv = from.rv;
    to.resv = from.resv;
    to.selcall = from.selcall;
}

void VezeRadioControl::StoreCommandLines(VezeRadioState const& s, VezeRadioState& to)
{
    bool const all = isDefaultInitCommand(s.command);
    auto is = [&](int a, int b = -1) { return all || s.command == a || s.command == b; };
    if (is(SIG_PROTO_GW_FLAG, SIG_PROTO_GW_FLAG_PTT))
        to.ptt = s.ptt;
    if (is(SIG_PROTO_GW_FLAG, SIG_PROTO_GW_FLAG_BSS))
        to.bss = s.bss;
    if (is(SIG_PROTO_GW_FLAG, SIG_PROTO_GW_FLAG_RV))
        to.rv = s.rv;
    if (is(SIG_PROTO_GW_FLAG, SIG_PROTO_GW_FLAG_SH))
        to.sh = s.sh;
    if (is(SIG_PROTO_GW_FLAG, SIG_PROTO_GW_FLAG_PW))
        to.pwr = s.pwr;
    if (is(SIG_PROTO_GW_FLAG, SIG_PROTO_GW_FLAG_RS))
        to.resv = s.resv;
    if (is(SIG_PROTO_GW_ADJUST_CHAN)) {
        to.channel = s.channel;
        to.frequency = s.frequency;
    }
    if (is(SIG_PROTO_GW_SEL_CALL))
        std::memcpy(to.caller_id, s.caller_id, sizeof to.caller_id);
    if (is(SIG_PROTO_GW_SELECT_RC_CHAN)) {
        to.remote_no = s.remote_no;
        to.remote_ch = s.remote_ch;
    }
    if (is(SIG_PROTO_GW_ADJUST_SQUELSHE))
        to.squelshe = s.squelshe;
    if (is(SIG_PROTO_GW_ADJUST_RTE))
        to.rte = s.rte;
    if (is(SIG_PROTO_GW_ADJUST_STANDBY))
        to.standby_state_channel = s.standby_state_channel;
}

void VezeRadioControl::FillHeader(VezeRadioState const& s, sig_proto& p)
{
    sig_proto_init(&p);
    p.type = static_cast<std::uint32_t>(s.command);
    p.src_addr = s.src_addr;
    p.src_ssrc = s.src_ssrc;
    p.priority = s.priority;
    p.flag_t = s.vad_tx;
    p.flag_p = s.ptt;
    p.flag_r = s.vad_rx;
    p.flag_s = s.sql;
    p.flag_b = s.bss;
    p.flag_rv = s.rv;
    p.flag_sh = s.sh;
    p.flag_pw = s.pwr;
    p.flag_rs = s.resv;
    p.flag_c = s.selcall;
    p.status = s.li;
}

// Gateway ------------------------------------------------------------------

bool VezeRadioGWControl::AccessFormChanToRadio(VezeRadioState const& received)
{
    // Nobody transmits, or this gateway's own session does: anyone may.
    if (radio_.ptt == 0 || radio_.session_addr == local_address().in().sin_addr.s_addr)
        return true;
    // Push-to-talk of a higher priority (a lower number) breaks in.
    if (isPTTCommand(received.command) && received.priority < radio_.priority && received.ptt != 0)
        return true;
    return received.src_addr == radio_.session_addr;
}

int VezeRadioGWControl::PutProtoFromChanToRadio(VezeRadioState const& s)
{
    chan_.session_addr = s.src_addr;
    chan_.session_ssrc = s.src_ssrc;
    chan_.command = s.command;
    chan_.priority = s.priority;
    StoreCommandLines(s, chan_);
    return isDefaultInitCommand(s.command) ? -1 : 0;
}

int VezeRadioGWControl::PutProtoFromRadioToChan(VezeRadioState const& s)
{
    bool const all = isDefaultInitCommand(s.command);
    radio_.command = s.command;
    radio_.priority = s.priority;
    StoreFlags(s, radio_);
    if (all || s.command == SIG_PROTO_WM_CHAN) {
        radio_.channel = s.channel;
        radio_.frequency = s.frequency;
        radio_.rte = s.rte;
        radio_.squelshe = s.squelshe;
    }
    if (all || s.command == SIG_PROTO_WM_SELECT_RC_CHAN) {
        radio_.remote_no = s.remote_no;
        radio_.remote_ch = s.remote_ch;
    }
    // The caller ID of a WM_SEL_CALL_TRANS is sent once and not kept.
    if (all || s.command == SIG_PROTO_WM_TRANS || s.command == SIG_PROTO_WM_SEL_CALL_TRANS) {
        radio_.session_addr = s.session_addr;
        radio_.session_ssrc = s.session_ssrc;
    }
    if (all || s.command == SIG_PROTO_WM_RADIO_QUALITY)
        radio_.quality = s.quality;
    if (all || s.command == SIG_PROTO_WM_STANDBY) {
        radio_.standby_state_channel = s.standby_state_channel;
        radio_.standby_group = s.standby_group;
        radio_.standby_state_receiver = s.standby_state_receiver;
    }
    return all ? -1 : 0;
}

int VezeRadioGWControl::EncodeProto(VezeRadioState const& s, sig_proto& p)
{
    FillHeader(s, p);
    in_addr session{};
    session.s_addr = s.session_addr;
    std::uint8_t const id_length = static_cast<std::uint8_t>(strnlen(s.caller_id, sizeof s.caller_id - 1));
    switch (s.command) {
    case SIG_PROTO_WM_FLAG:
        return 0;
    case SIG_PROTO_WM_TRANS:
        sig_proto_set_wm_transmite(&p, session, s.session_ssrc);
        return 0;
    case SIG_PROTO_WM_RADIO_QUALITY:
        sig_proto_set_wm_radio_quality(&p, s.quality);
        return 0;
    case SIG_PROTO_WM_CHAN:
        // An unset squelch or RTE (-1) travels as 0xFF.
        sig_proto_set_wm_chan(&p, static_cast<unsigned>(s.channel), s.frequency, Octet(s.squelshe),
                              Octet(s.rte));
        return 0;
    case SIG_PROTO_WM_SEL_CALL_TRANS:
        sig_proto_set_wm_selcall_transmite(&p, session, s.session_ssrc, s.caller_id, id_length);
        return 0;
    case SIG_PROTO_WM_SELECT_RC_CHAN:
        sig_proto_set_wm_select_rc_chan(&p, Octet(s.remote_no), Octet(s.remote_ch));
        return 0;
    case SIG_PROTO_WM_STANDBY:
        sig_proto_set_wm_standby(&p, Octet(s.standby_state_channel), Octet(s.standby_group),
                                 Octet(s.standby_state_receiver));
        return 0;
    default:
        return -1;
    }
}

void VezeRadioGWControl::Repeat(std::int32_t command, std::uint32_t now, std::uint32_t& time)
{
    radio_.command = command;
    sig_proto packet;
    if (EncodeProto(radio_, packet) == 0) {
        SendProtoToChan(packet);
        time = now;
    }
}

unsigned long VezeRadioGWControl::ProcessRadioStatus(unsigned long now_arg, unsigned long interval_arg)
{
    // Elapsed times are 32-bit differences, so the repeats go on across the
    // wrap of the millisecond clock.
    std::uint32_t const now = static_cast<std::uint32_t>(now_arg);
    auto elapsed = [now](std::uint32_t t) -> std::uint32_t { return now - t; };

    if (elapsed(sent_.flags) > kRepeatAfter) {
        std::int32_t command = SIG_PROTO_WM_FLAG;
        if (radio_.ptt != 0)
            command = radio_.caller_id[0] != '\0' ? SIG_PROTO_WM_SEL_CALL_TRANS : SIG_PROTO_WM_TRANS;
        Repeat(command, now, sent_.flags);
    }
    if (elapsed(sent_.chan) > kRepeatAfter && radio_.channel >= 0 && radio_.frequency >= 0.0f)
        Repeat(SIG_PROTO_WM_CHAN, now, sent_.chan);
    // The remote channel goes out at every tick.
    if (radio_.remote_no >= 0 && radio_.remote_ch >= 0)
        Repeat(SIG_PROTO_WM_SELECT_RC_CHAN, now, sent_.remote);
    if (elapsed(sent_.standby) > kRepeatAfter && radio_.standby_state_channel >= 0 &&
        radio_.standby_group >= 0 && radio_.standby_state_receiver >= 0)
        Repeat(SIG_PROTO_WM_STANDBY, now, sent_.standby);

    // Wake up again when the oldest kind falls due.
    std::uint32_t const e =
        std::max({elapsed(sent_.flags), elapsed(sent_.chan), elapsed(sent_.remote), elapsed(sent_.standby)});
    if (e > 0 && e < interval_arg)
        return interval_arg - e + 10;
    return interval_arg;
}

// Workstation --------------------------------------------------------------

int VezeRadioWSControl::PutProtoFromChanToRadio(VezeRadioState const& s)
{
    bool const all = isDefaultInitCommand(s.command);
    chan_.session_addr = s.src_addr;
    chan_.session_ssrc = s.src_ssrc;
    chan_.command = s.command;
    chan_.priority = s.priority;
    StoreFlags(s, chan_);
    if (all || s.command == SIG_PROTO_WM_CHAN) {
        chan_.channel = s.channel;
        chan_.frequency = s.frequency;
        chan_.rte = s.rte;
        chan_.squelshe = s.squelshe;
    }
    if (all || s.command == SIG_PROTO_WM_SELECT_RC_CHAN) {
        chan_.remote_no = s.remote_no;
        chan_.remote_ch = s.remote_ch;
    }
    if (all || s.command == SIG_PROTO_WM_SEL_CALL_TRANS) {
        chan_.session_addr = s.session_addr;
        chan_.session_ssrc = s.session_ssrc;
    }
    if (all || s.command == SIG_PROTO_WM_RADIO_QUALITY)
        chan_.quality = s.quality;
    if (all || s.command == SIG_PROTO_WM_STANDBY) {
        chan_.standby_state_channel = s.standby_state_channel;
        chan_.standby_group = s.standby_group;
        chan_.standby_state_receiver = s.standby_state_receiver;
    }
    return all ? -1 : 0;
}

int VezeRadioWSControl::PutProtoFromRadioToChan(VezeRadioState const& s)
{
    radio_.command = s.command;
    radio_.priority = s.priority;
    StoreCommandLines(s, radio_);
    return isDefaultInitCommand(s.command) ? -1 : 0;
}

int VezeRadioWSControl::EncodeProto(VezeRadioState const& s, sig_proto& p)
{
    FillHeader(s, p);
    switch (s.command) {
    case SIG_PROTO_GW_FLAG:
    case SIG_PROTO_GW_FLAG_PTT:
    case SIG_PROTO_GW_FLAG_BSS:
    case SIG_PROTO_GW_FLAG_RV:
    case SIG_PROTO_GW_FLAG_SH:
    case SIG_PROTO_GW_FLAG_PW:
    case SIG_PROTO_GW_FLAG_RS:
        return 0;
    case SIG_PROTO_GW_ADJUST_CHAN:
        sig_proto_set_gw_adjust_chan(&p, static_cast<unsigned>(s.channel), s.frequency);
        return 0;
    case SIG_PROTO_GW_SEL_CALL:
        sig_proto_set_gw_selcall(&p, s.caller_id,
                                 static_cast<std::uint8_t>(strnlen(s.caller_id, sizeof s.caller_id - 1)));
        return 0;
    case SIG_PROTO_GW_SELECT_RC_CHAN:
        sig_proto_set_gw_select_rc_chan(&p, Octet(s.remote_no), Octet(s.remote_ch));
        return 0;
    case SIG_PROTO_GW_ADJUST_SQUELSHE:
        sig_proto_set_gw_adjust_squelsh(&p, Octet(s.squelshe));
        return 0;
    case SIG_PROTO_GW_ADJUST_RTE:
        sig_proto_set_gw_adjust_rte(&p, Octet(s.rte));
        return 0;
    case SIG_PROTO_GW_ADJUST_STANDBY:
        sig_proto_set_gw_adjust_standby(&p, Octet(s.standby_state_channel));
        return 0;
    default:
        return -1;
    }
}

} // namespace RTPSignalling
