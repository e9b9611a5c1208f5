// The VEZE gateway and workstation controllers over the simulated
// radio-extension driver, on the test clock: the gateway's access rule, what
// each role stores of a packet and of a host message, the packets the host's
// commands produce, the gateway's repeats (across the wrap of the
// millisecond clock too), the round trip of every command between TERM and
// the wire, and the values that no TERM type holds, from either side.

#include "radio/radio_fixture.hpp"
#include "radio/veze_control.hpp"
#include "radio/veze_messages.hpp"
#include "support/rtp_ext_signal.hpp"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <set>

#include <poll.h>

namespace {

using RadioTest::Flags;
using RadioTest::Pack;
using RadioTest::VezeModifier;
using RadioTest::VezePacket;
using RTPSignalling::VezeRadioControl;
using RTPSignalling::VezeRadioState;
using Params = TERM::VezeRadioModifierParams;

rtp_ext_init_params VezeInit()
{
    return rtp_ext_init_params{0x1337, 0, {0, 0, 0, 0}};
}

// The roles with their hooks in reach.
struct GW : RTPSignalling::VezeRadioGWControl {
    using VezeRadioGWControl::EncodeProto;
    using VezeRadioGWControl::PutProtoFromChanToRadio;
    using VezeRadioGWControl::PutProtoFromRadioToChan;
    using VezeRadioGWControl::VezeRadioGWControl;
};

struct WS : RTPSignalling::VezeRadioWSControl {
    using VezeRadioWSControl::EncodeProto;
    using VezeRadioWSControl::PutProtoFromChanToRadio;
    using VezeRadioWSControl::PutProtoFromRadioToChan;
    using VezeRadioWSControl::VezeRadioWSControl;
};

// The names of the fields in which two states differ.
std::set<std::string> Changed(VezeRadioState const& a, VezeRadioState const& b)
{
    std::set<std::string> d;
#define GW_FIELD(f)                                                                                          \
    if (!(a.f == b.f))                                                                                       \
        d.insert(#f);
    GW_FIELD(command)
    GW_FIELD(priority)
    GW_FIELD(ptt)
    GW_FIELD(session_addr)
    GW_FIELD(session_ssrc)
    GW_FIELD(bss)
    GW_FIELD(vad_rx)
    GW_FIELD(vad_tx)
    GW_FIELD(sql)
    GW_FIELD(sh)
    GW_FIELD(pwr)
    GW_FIELD(rv)
    GW_FIELD(resv)
    GW_FIELD(selcall)
    GW_FIELD(li)
    GW_FIELD(remote_no)
    GW_FIELD(remote_ch)
    GW_FIELD(channel)
    GW_FIELD(frequency)
    GW_FIELD(squelshe)
    GW_FIELD(rte)
    GW_FIELD(standby_state_channel)
    GW_FIELD(standby_group)
    GW_FIELD(standby_state_receiver)
    GW_FIELD(quality)
    GW_FIELD(src_addr)
    GW_FIELD(src_ssrc)
#undef GW_FIELD
    if (std::strcmp(a.caller_id, b.caller_id) != 0)
        d.insert("caller_id");
    return d;
}

// A packet with every header field set, so that any field a rule takes
// shows as a change.
sig_proto Busy(std::uint32_t type)
{
    sig_proto p = VezePacket(type, 6, 1);
    sig_proto_set_base(&p, -1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 300);
    switch (type) {
    case SIG_PROTO_GW_ADJUST_CHAN:
        sig_proto_set_gw_adjust_chan(&p, 12, 125.5f);
        break;
    case SIG_PROTO_GW_SEL_CALL:
        sig_proto_set_gw_selcall(&p, "4711", 4);
        break;
    case SIG_PROTO_GW_SELECT_RC_CHAN:
        sig_proto_set_gw_select_rc_chan(&p, 4, 5);
        break;
    case SIG_PROTO_GW_ADJUST_SQUELSHE:
        sig_proto_set_gw_adjust_squelsh(&p, 60);
        break;
    case SIG_PROTO_GW_ADJUST_RTE:
        sig_proto_set_gw_adjust_rte(&p, 6);
        break;
    case SIG_PROTO_GW_ADJUST_STANDBY:
        sig_proto_set_gw_adjust_standby(&p, 1);
        break;
    case SIG_PROTO_WM_TRANS:
        sig_proto_set_wm_transmite(&p, RadioTest::InAddr("10.2.2.2"), 0x2222);
        break;
    case SIG_PROTO_WM_RADIO_QUALITY:
        sig_proto_set_wm_radio_quality(&p, 0.75f);
        break;
    case SIG_PROTO_WM_CHAN:
        sig_proto_set_wm_chan(&p, 12, 125.5f, 60, 6);
        break;
    case SIG_PROTO_WM_SEL_CALL_TRANS:
        sig_proto_set_wm_selcall_transmite(&p, RadioTest::InAddr("10.2.2.2"), 0x2222, "4711", 4);
        break;
    case SIG_PROTO_WM_SELECT_RC_CHAN:
        sig_proto_set_wm_select_rc_chan(&p, 4, 5);
        break;
    case SIG_PROTO_WM_STANDBY:
        sig_proto_set_wm_standby(&p, 1, 9, 1);
        break;
    default:
        break;
    }
    return p;
}

class VezeTest : public RadioTest::Fixture {
protected:
    template <class C = GW>
    std::unique_ptr<C> Make()
    {
        auto c = std::make_unique<C>(7, Attach(), VezeInit());
        c->SetNotify(&sink);
        return c;
    }
    // One packet in one read burst.
    void Receive(sig_proto const& p, char const* from = "10.0.0.1", std::uint32_t ssrc = 0x1111)
    {
        Inject(Pack(p), from, ssrc);
        Mux::test::run_once();
    }
    // The types of the packets written since the last call.
    std::vector<int> NewTypes()
    {
        std::vector<int> types;
        auto const w = Written();
        for (std::size_t i = seen_; i < w.size(); ++i)
            types.push_back(w[i].empty() ? -1 : w[i][0]);
        seen_ = w.size();
        return types;
    }
    RadioTest::Bytes LastWritten()
    {
        auto const w = Written();
        return w.empty() ? RadioTest::Bytes{} : w.back();
    }
    static TERM::VezeRadioModifierParams const& Reported(TERM::RtpRadioRequest const& r)
    {
        return r.get_request().get_veze().get_params();
    }

    RadioTest::Sink sink;
    std::size_t seen_ = 0;
};

TEST_F(VezeTest, GatewayAccessRule)
{
    auto c = Make();
    // Nobody transmits: anyone.
    Receive(VezePacket(SIG_PROTO_GW_FLAG_BSS), "10.0.0.99");
    EXPECT_EQ(sink.requests.size(), 1u);

    // Push-to-talk of the session at 10.5.5.5.
    ASSERT_TRUE(c->SendASNToChan(RadioTest::WmTrans(Flags{.ptt = true}, "10.5.5.5", 9)));
    struct Case {
        std::uint32_t type, priority, ptt;
        char const* from;
        bool accepted;
    };
    Case const cases[] = {
        {SIG_PROTO_GW_FLAG_PTT, 3, 1, "10.0.0.99", true},   // a higher priority breaks in
        {SIG_PROTO_GW_FLAG_PTT, 15, 1, "10.0.0.99", false}, // the same priority does not
        {SIG_PROTO_GW_FLAG_PTT, 15, 1, "10.5.5.5", true},   // the transmitting session may
        {SIG_PROTO_GW_FLAG_PTT, 3, 0, "10.0.0.99", false},  // releasing is not breaking in
        {SIG_PROTO_GW_SEL_CALL, 3, 1, "10.0.0.98", true},   // another push-to-talk command
        {SIG_PROTO_GW_FLAG_BSS, 3, 1, "10.0.0.99", false},  // not a push-to-talk command
        {SIG_PROTO_GW_FLAG_BSS, 3, 1, "10.5.5.5", true},
    };
    for (Case const& k : cases) {
        std::size_t const before = sink.requests.size();
        Receive(VezePacket(k.type, k.priority, k.ptt), k.from);
        EXPECT_EQ(sink.requests.size(), before + (k.accepted ? 1 : 0))
            << k.type << " prio " << k.priority << " ptt " << k.ptt << " from " << k.from;
    }

    // The transmitting session is this gateway's own: anyone again.
    c.reset();
    private_addresses = {"192.168.7.7"};
    sink = {};
    auto own = Make();
    ASSERT_TRUE(own->SendASNToChan(RadioTest::WmTrans(Flags{.ptt = true}, "192.168.7.7", 9)));
    board().ClearLog();
    Inject(Pack(VezePacket(SIG_PROTO_GW_FLAG_BSS, 15, 0)), "10.0.0.99");
    own->OnRtpExtEvent(own->ext_fd(), POLLIN);
    EXPECT_EQ(sink.requests.size(), 1u);
}

TEST_F(VezeTest, GatewayStoresOnlyTheLineOfEachCommand)
{
    std::set<std::string> const session = {"command", "priority", "session_addr", "session_ssrc"};
    auto with = [&](std::set<std::string> fields) {
        fields.insert(session.begin(), session.end());
        return fields;
    };
    struct Case {
        std::uint32_t type;
        std::set<std::string> changed;
    };
    Case const cases[] = {
        {SIG_PROTO_GW_FLAG, with({"ptt", "bss", "rv", "sh", "pwr", "resv"})},
        {SIG_PROTO_GW_ADJUST_CHAN, with({"channel", "frequency"})},
        {SIG_PROTO_GW_FLAG_PTT, with({"ptt"})},
        {SIG_PROTO_GW_FLAG_BSS, with({"bss"})},
        {SIG_PROTO_GW_FLAG_RV, with({"rv"})},
        {SIG_PROTO_GW_FLAG_SH, with({"sh"})},
        {SIG_PROTO_GW_FLAG_PW, with({"pwr"})},
        {SIG_PROTO_GW_FLAG_RS, with({"resv"})},
        {SIG_PROTO_GW_SEL_CALL, with({"caller_id"})},
        {SIG_PROTO_GW_SELECT_RC_CHAN, with({"remote_no", "remote_ch"})},
        {SIG_PROTO_GW_ADJUST_SQUELSHE, with({"squelshe"})},
        {SIG_PROTO_GW_ADJUST_RTE, with({"rte"})},
        {SIG_PROTO_GW_ADJUST_STANDBY, with({"standby_state_channel"})},
        {SIG_PROTO_WM_CHAN, session},
        {SIG_PROTO_WM_STANDBY, session},
    };
    for (Case const& k : cases) {
        auto c = Make();
        Receive(Busy(k.type), "10.0.0.1", 0x1111);
        EXPECT_EQ(Changed(VezeRadioState{}, c->channel_state()), k.changed) << k.type;
        EXPECT_EQ(c->channel_state().session_addr, RadioTest::Addr("10.0.0.1"));
        EXPECT_EQ(c->channel_state().session_ssrc, 0x1111u);
        EXPECT_EQ(c->radio_state().command, 0) << "the radio state is the host's";
        ASSERT_FALSE(sink.requests.empty());
        sink = {};
    }
    auto c = Make();
    VezeRadioState whole;
    whole.ptt = 1;
    whole.channel = 9;
    EXPECT_EQ(c->PutProtoFromChanToRadio(whole), -1);
    EXPECT_EQ(Changed(VezeRadioState{}, c->channel_state()), (std::set<std::string>{"ptt", "channel"}));
    whole.command = SIG_PROTO_GW_FLAG;
    EXPECT_EQ(c->PutProtoFromChanToRadio(whole), 0);
}

TEST_F(VezeTest, WorkstationStoresTheFlagsAlwaysAndThePayloadOfItsCommand)
{
    std::set<std::string> const base = {"command", "priority", "session_addr", "session_ssrc", "li",
                                        "ptt",     "bss",      "vad_rx",       "vad_tx",       "sql",
                                        "sh",      "pwr",      "rv",           "resv",         "selcall"};
    auto with = [&](std::set<std::string> fields) {
        fields.insert(base.begin(), base.end());
        return fields;
    };
    struct Case {
        std::uint32_t type;
        std::set<std::string> changed;
        char const* session;
    };
    Case const cases[] = {
        {SIG_PROTO_WM_FLAG, base, "10.0.0.1"},
        {SIG_PROTO_WM_TRANS, base, "10.0.0.1"},
        {SIG_PROTO_WM_RADIO_QUALITY, with({"quality"}), "10.0.0.1"},
        {SIG_PROTO_WM_CHAN, with({"channel", "frequency", "squelshe", "rte"}), "10.0.0.1"},
        {SIG_PROTO_WM_SEL_CALL_TRANS, base, "10.2.2.2"},
        {SIG_PROTO_WM_SELECT_RC_CHAN, with({"remote_no", "remote_ch"}), "10.0.0.1"},
        {SIG_PROTO_WM_STANDBY, with({"standby_state_channel", "standby_group", "standby_state_receiver"}),
         "10.0.0.1"},
        {SIG_PROTO_GW_ADJUST_CHAN, base, "10.0.0.1"},
    };
    for (Case const& k : cases) {
        auto c = Make<WS>();
        Receive(Busy(k.type), "10.0.0.1", 0x1111);
        EXPECT_EQ(Changed(VezeRadioState{}, c->channel_state()), k.changed) << k.type;
        EXPECT_EQ(c->channel_state().session_addr, RadioTest::Addr(k.session)) << k.type;
        // The workstation takes every packet.
        EXPECT_EQ(sink.requests.size(), 1u);
        sink = {};
    }
    auto c = Make<WS>();
    EXPECT_EQ(c->PutProtoFromChanToRadio(VezeRadioState{}), -1);
    EXPECT_EQ(c->PutProtoFromRadioToChan(VezeRadioState{}), -1);
}

TEST_F(VezeTest, HostStatusIsStoredWithoutAPacketAndEachCommandWritesItsPacket)
{
    auto c = Make();
    Mux::test::step(250);
    ASSERT_TRUE(c->SendASNToChan(RadioTest::VezeStatus()));
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(c->radio_state().channel, 3);
    EXPECT_EQ(c->radio_state().frequency, 118.5f);
    EXPECT_EQ(c->radio_state().standby_group, 7);
    EXPECT_EQ(c->radio_state().command, 0);

    ASSERT_TRUE(c->SendASNToChan(VezeModifier([](Params& p) {
        TERM::RadioCommandWMChan& w = p.select_wm_chan();
        w.get_freq().set_channel(4);
        w.get_freq().set_frequency("121.125");
        w.get_squelshe().setValue(40);
        w.get_rte().setValue(3);
    })));
    auto const w = Written();
    ASSERT_EQ(w.size(), 1u);
    sig_proto expected = VezePacket(SIG_PROTO_WM_CHAN);
    sig_proto_set_wm_chan(&expected, 4, 121.125f, 40, 3);
    EXPECT_EQ(w[0], Pack(expected));
    EXPECT_EQ(w[0].size(), 16u);
    EXPECT_EQ(c->send_times().chan, Mux::milliseconds());
    EXPECT_NE(c->send_times().flags, Mux::milliseconds());
}

// Every command of a role's direction, the packet it must produce (header
// from a fresh radio state unless the command carries flags).
struct Command {
    std::function<void(Params&)> fill;
    sig_proto packet;
};

Flags const kFlags{.prio = 5, .ptt = true, .bss = true, .sh = true, .resv = true, .selcall = 2, .li = 300};

sig_proto FlagsPacket(std::uint32_t type)
{
    sig_proto p = VezePacket(type, 5, 1);
    sig_proto_set_base(&p, -1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 2, 300);
    return p;
}

template <class Alt>
std::function<void(Params&)> WithFlags(Alt (Params::*select)())
{
    return [select](Params& p) { RadioTest::Fill((p.*select)().get_flags(), kFlags); };
}

std::vector<Command> GatewayCommands()
{
    std::vector<Command> v;
    v.push_back({WithFlags(&Params::select_wm_flags), FlagsPacket(SIG_PROTO_WM_FLAG)});
    sig_proto trans = FlagsPacket(SIG_PROTO_WM_TRANS);
    sig_proto_set_wm_transmite(&trans, RadioTest::InAddr("10.1.2.3"), 0x11223344);
    v.push_back({[](Params& p) {
                     TERM::RadioCommandWMTrans& c = p.select_wm_trans();
                     RadioTest::Fill(c.get_flags(), kFlags);
                     c.set_ip("10.1.2.3");
                     c.set_ssrc(0x11223344);
                 },
                 trans});
    sig_proto quality = VezePacket(SIG_PROTO_WM_RADIO_QUALITY);
    sig_proto_set_wm_radio_quality(&quality, -12.25f);
    v.push_back({[](Params& p) { p.select_wm_quality().set_bss_val("-12.250000"); }, quality});
    sig_proto chan = VezePacket(SIG_PROTO_WM_CHAN);
    sig_proto_set_wm_chan(&chan, 4, 121.125f, 103, 7);
    v.push_back({[](Params& p) {
                     TERM::RadioCommandWMChan& c = p.select_wm_chan();
                     c.get_freq().set_channel(4);
                     c.get_freq().set_frequency("121.125000");
                     c.get_squelshe().setValue(103);
                     c.get_rte().setValue(7);
                 },
                 chan});
    sig_proto selcall = FlagsPacket(SIG_PROTO_WM_SEL_CALL_TRANS);
    sig_proto_set_wm_selcall_transmite(&selcall, RadioTest::InAddr("10.1.2.3"), 0x11223344, "AB12", 4);
    v.push_back({[](Params& p) {
                     TERM::RadioCommandWMSelCall& c = p.select_wm_selcall();
                     RadioTest::Fill(c.get_flags(), kFlags);
                     c.set_ip("10.1.2.3");
                     c.set_ssrc(0x11223344);
                     c.set_cid("AB12");
                 },
                 selcall});
    sig_proto remote = VezePacket(SIG_PROTO_WM_SELECT_RC_CHAN);
    sig_proto_set_wm_select_rc_chan(&remote, 9, 255);
    v.push_back({[](Params& p) {
                     p.select_wm_remote().get_remote().set_no(9);
                     p.select_wm_remote().get_remote().set_ch(255);
                 },
                 remote});
    sig_proto standby = VezePacket(SIG_PROTO_WM_STANDBY);
    sig_proto_set_wm_standby(&standby, 1, 200, 1);
    v.push_back({[](Params& p) {
                     TERM::RadioCommandWMStandby& c = p.select_wm_standby();
                     c.get_state_channel().setValue(1);
                     c.set_group(200);
                     c.get_state_receiver().setValue(1);
                 },
                 standby});
    return v;
}

std::vector<Command> WorkstationCommands()
{
    std::vector<Command> v;
    v.push_back({WithFlags(&Params::select_gw_set_flags), FlagsPacket(SIG_PROTO_GW_FLAG)});
    sig_proto freq = VezePacket(SIG_PROTO_GW_ADJUST_CHAN);
    sig_proto_set_gw_adjust_chan(&freq, 4, 121.125f);
    v.push_back({[](Params& p) {
                     p.select_gw_set_freq().get_freq().set_channel(4);
                     p.select_gw_set_freq().get_freq().set_frequency("121.125000");
                 },
                 freq});
    v.push_back({WithFlags(&Params::select_gw_set_ptt), FlagsPacket(SIG_PROTO_GW_FLAG_PTT)});
    v.push_back({WithFlags(&Params::select_gw_set_bss), FlagsPacket(SIG_PROTO_GW_FLAG_BSS)});
    v.push_back({WithFlags(&Params::select_gw_set_rv), FlagsPacket(SIG_PROTO_GW_FLAG_RV)});
    v.push_back({WithFlags(&Params::select_gw_set_sh), FlagsPacket(SIG_PROTO_GW_FLAG_SH)});
    v.push_back({WithFlags(&Params::select_gw_set_pwr), FlagsPacket(SIG_PROTO_GW_FLAG_PW)});
    v.push_back({WithFlags(&Params::select_gw_set_resv), FlagsPacket(SIG_PROTO_GW_FLAG_RS)});
    // The packet carries no session: the round trip gives 0.0.0.0 and 0.
    sig_proto selcall = FlagsPacket(SIG_PROTO_GW_SEL_CALL);
    sig_proto_set_gw_selcall(&selcall, "AB12", 4);
    v.push_back({[](Params& p) {
                     TERM::RadioCommandGWSetSelCall& c = p.select_gw_set_selcall();
                     RadioTest::Fill(c.get_flags(), kFlags);
                     c.set_ip("0.0.0.0");
                     c.set_ssrc(0);
                     c.set_cid("AB12");
                 },
                 selcall});
    sig_proto remote = VezePacket(SIG_PROTO_GW_SELECT_RC_CHAN);
    sig_proto_set_gw_select_rc_chan(&remote, 0, 17);
    v.push_back({[](Params& p) { p.select_gw_set_remote().get_remote().set_ch(17); }, remote});
    sig_proto squelshe = VezePacket(SIG_PROTO_GW_ADJUST_SQUELSHE);
    sig_proto_set_gw_adjust_squelsh(&squelshe, 2);
    v.push_back({[](Params& p) { p.select_gw_set_squelshe().get_squelshe().setValue(2); }, squelshe});
    sig_proto rte = VezePacket(SIG_PROTO_GW_ADJUST_RTE);
    sig_proto_set_gw_adjust_rte(&rte, 1);
    v.push_back({[](Params& p) { p.select_gw_set_rte().get_rte().setValue(1); }, rte});
    sig_proto standby = VezePacket(SIG_PROTO_GW_ADJUST_STANDBY);
    sig_proto_set_gw_adjust_standby(&standby, 1);
    v.push_back({[](Params& p) { p.select_gw_set_standby().get_state().setValue(1); }, standby});
    return v;
}

TEST_F(VezeTest, EachRoleWritesItsCommandsByteForByteAndRefusesTheOtherDirection)
{
    for (Command const& k : GatewayCommands()) {
        auto c = Make();
        ASSERT_TRUE(c->SendASNToChan(VezeModifier(k.fill)));
        EXPECT_EQ(Written(), std::vector<RadioTest::Bytes>{Pack(k.packet)}) << k.packet.type;
    }
    for (Command const& k : WorkstationCommands()) {
        auto c = Make<WS>();
        ASSERT_TRUE(c->SendASNToChan(VezeModifier(k.fill)));
        EXPECT_EQ(Written(), std::vector<RadioTest::Bytes>{Pack(k.packet)}) << k.packet.type;
    }
    // The other direction: stored, not sent.
    auto g = Make();
    ASSERT_TRUE(g->SendASNToChan(VezeModifier(WorkstationCommands()[2].fill)));
    EXPECT_EQ(g->radio_state().ptt, 1u);
    VezeRadioState ws_command = g->radio_state();
    sig_proto unused;
    EXPECT_EQ(g->EncodeProto(ws_command, unused), -1);
    auto w = Make<WS>();
    ASSERT_TRUE(w->SendASNToChan(VezeModifier(GatewayCommands()[0].fill)));
    ws_command.command = SIG_PROTO_WM_FLAG;
    EXPECT_EQ(w->EncodeProto(ws_command, unused), -1);
    EXPECT_TRUE(Written().empty());
}

TEST_F(VezeTest, EveryCommandRoundTripsBetweenTermAndTheWire)
{
    auto gw = Make();
    auto ws = Make<WS>();
    std::vector<Command> commands = GatewayCommands();
    for (Command& k : WorkstationCommands())
        commands.push_back(k);
    ASSERT_EQ(commands.size(), 20u);
    for (Command const& k : commands) {
        TERM::RadioModifier const m = VezeModifier(k.fill, "10.20.30.40", 0xDEADBEEF);
        VezeRadioState s;
        VezeRadioControl::DecodeASN(m.get_veze(), s);
        ASSERT_EQ(s.command, static_cast<int>(k.packet.type));
        sig_proto p;
        int const r = k.packet.type > 128 ? gw->EncodeProto(s, p) : ws->EncodeProto(s, p);
        ASSERT_EQ(r, 0) << k.packet.type;
        RadioTest::Bytes bytes = Pack(p);
        sig_proto back;
        sig_proto_init(&back);
        ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), static_cast<int>(bytes.size())), 0);
        back.src_addr = p.src_addr;
        back.src_ssrc = p.src_ssrc;
        VezeRadioState received;
        gw->DecodeProto(back, received);
        TERM::RtpRadioRequest request;
        VezeRadioControl::EncodeASN(VezeRadioState{}, received, request);
        ASSERT_TRUE(request.has_request());
        EXPECT_EQ(request.get_request().do_compare(m), 0)
            << k.packet.type << "\nsent " << m << "\ngot  " << request.get_request();
    }
}

// Repeats on the clock from the controller's creation: WM_FLAG, WM_CHAN
// (squelch and RTE unset: 0xFF) and WM_SELECT_RC_CHAN each second; once the
// standby fields are set WM_STANDBY too; a commanded WM_TRANS moves its kind
// off the second and the next tick comes when the oldest kind is due.
void RepeatSchedule(VezeTest& t, GW& c, std::function<std::vector<int>()> types,
                    std::function<RadioTest::Bytes()> last)
{
    std::uint32_t const t0 = Mux::milliseconds();
    c.SetTimerEnable(true);
    Mux::test::advance(999);
    EXPECT_EQ(types(), std::vector<int>{});
    Mux::test::advance(1); // 1000
    EXPECT_EQ(types(), (std::vector<int>{SIG_PROTO_WM_FLAG, SIG_PROTO_WM_CHAN, SIG_PROTO_WM_SELECT_RC_CHAN}));
    Mux::test::advance(500); // 1500
    ASSERT_TRUE(c.SendASNToChan(RadioTest::VezeStatus()));
    EXPECT_EQ(types(), std::vector<int>{});
    Mux::test::advance(500); // 2000
    EXPECT_EQ(types(), (std::vector<int>{SIG_PROTO_WM_FLAG, SIG_PROTO_WM_CHAN, SIG_PROTO_WM_SELECT_RC_CHAN,
                                         SIG_PROTO_WM_STANDBY}));
    Mux::test::advance(300); // 2300
    ASSERT_TRUE(c.SendASNToChan(RadioTest::WmTrans(Flags{.ptt = true}, "10.4.4.4", 0xABCD)));
    EXPECT_EQ(types(), std::vector<int>{SIG_PROTO_WM_TRANS});
    Mux::test::advance(700); // 3000: the flags kind is 700 ms old
    EXPECT_EQ(types(),
              (std::vector<int>{SIG_PROTO_WM_CHAN, SIG_PROTO_WM_SELECT_RC_CHAN, SIG_PROTO_WM_STANDBY}));
    Mux::test::advance(309);
    EXPECT_EQ(types(), std::vector<int>{});
    Mux::test::advance(1); // 3310 = 3000 + 1000 - 700 + 10
    EXPECT_EQ(types(), (std::vector<int>{SIG_PROTO_WM_TRANS, SIG_PROTO_WM_SELECT_RC_CHAN}));
    RadioTest::Bytes const trans = last();
    (void)trans;
    Mux::test::advance(699);
    EXPECT_EQ(types(), std::vector<int>{});
    Mux::test::advance(1); // 4010 = 3310 + 1000 - 310 + 10
    EXPECT_EQ(types(),
              (std::vector<int>{SIG_PROTO_WM_CHAN, SIG_PROTO_WM_SELECT_RC_CHAN, SIG_PROTO_WM_STANDBY}));
    EXPECT_EQ(Mux::milliseconds() - t0, 4010u);
    (void)t;
}

TEST_F(VezeTest, GatewayRepeatsItsStateOnSchedule)
{
    auto c = Make();
    RepeatSchedule(
        *this, *c, [this] { return NewTypes(); }, [this] { return LastWritten(); });
    auto const w = Written();
    // Before the host's status: squelch and RTE unset.
    sig_proto chan = VezePacket(SIG_PROTO_WM_CHAN);
    sig_proto_set_wm_chan(&chan, 0, 0.0f, 0xFF, 0xFF);
    EXPECT_EQ(w[1], Pack(chan));
    EXPECT_EQ(w[0], Pack(VezePacket(SIG_PROTO_WM_FLAG)));
    // With push-to-talk the flags kind is WM_TRANS with the session.
    RadioTest::Bytes trans;
    for (auto const& b : w)
        if (b[0] == SIG_PROTO_WM_TRANS)
            trans = b;
    sig_proto expected = VezePacket(SIG_PROTO_WM_TRANS, 15, 1);
    sig_proto_set_wm_transmite(&expected, RadioTest::InAddr("10.4.4.4"), 0xABCD);
    EXPECT_EQ(trans, Pack(expected));
}

TEST_F(VezeTest, GatewayRepeatsStayOnScheduleAcrossTheClockWrap)
{
    // 500 ms before the 32-bit millisecond clock wraps.
    Mux::test::freeze_at((std::uint64_t{1} << 32) * 1000u - 500u * 1000u);
    std::uint32_t const t0 = Mux::milliseconds();
    auto c = Make();
    RepeatSchedule(
        *this, *c, [this] { return NewTypes(); }, [this] { return LastWritten(); });
    EXPECT_LT(Mux::milliseconds(), t0);
}

TEST_F(VezeTest, SelectiveCallIsSentOnceAndNotKept)
{
    auto c = Make();
    c->SetTimerEnable(true);
    ASSERT_TRUE(c->SendASNToChan(VezeModifier(GatewayCommands()[4].fill)));
    EXPECT_EQ(NewTypes(), std::vector<int>{SIG_PROTO_WM_SEL_CALL_TRANS});
    EXPECT_STREQ(c->radio_state().caller_id, "");
    EXPECT_EQ(c->radio_state().session_addr, RadioTest::Addr("10.1.2.3"));
    Mux::test::advance(1010);
    EXPECT_EQ(NewTypes(),
              (std::vector<int>{SIG_PROTO_WM_TRANS, SIG_PROTO_WM_CHAN, SIG_PROTO_WM_SELECT_RC_CHAN}));
}

TEST_F(VezeTest, ReadBurstHandsOnTheLastPacketOfEachRunOfOneTypeFromOneSource)
{
    auto c = Make();
    auto prio = [](TERM::RtpRadioRequest const& r) {
        return Reported(r).get_gw_set_ptt().get_flags().get_prio().getValue();
    };
    for (std::uint32_t p : {1u, 2u, 3u})
        Inject(Pack(VezePacket(SIG_PROTO_GW_FLAG_PTT, p)), "10.0.0.1");
    Mux::test::run_once();
    ASSERT_EQ(sink.requests.size(), 1u);
    EXPECT_EQ(prio(sink.requests[0]), 3);

    sink = {};
    Inject(Pack(VezePacket(SIG_PROTO_GW_FLAG_PTT, 4)), "10.0.0.1");
    Inject(Pack(VezePacket(SIG_PROTO_GW_FLAG_PTT, 5)), "10.0.0.1");
    Inject(Pack(VezePacket(SIG_PROTO_GW_FLAG_PTT, 6)), "10.0.0.2");
    Inject(Pack(VezePacket(SIG_PROTO_GW_FLAG_PTT, 7)), "10.0.0.2");
    Inject({SIG_PROTO_WM_CHAN, 0, 0, 0}, "10.0.0.2"); // short: does not decode
    Mux::test::run_once();
    ASSERT_EQ(sink.requests.size(), 2u);
    EXPECT_EQ(prio(sink.requests[0]), 5);
    EXPECT_EQ(prio(sink.requests[1]), 7);
    EXPECT_EQ(c->counters().unpack_error, -9);
    EXPECT_EQ(c->counters().decoded, 7u);
}

TEST_F(VezeTest, UnsetValuesReachTheHostAsTheirTermDefaults)
{
    auto check = [](TERM::VezeRadioStatus const& s, int squelshe, int channel_standby) {
        EXPECT_EQ(s.get_squelshe().getValue(), squelshe);
        EXPECT_EQ(s.get_rte().getValue(), squelshe == 0 ? 0 : 5);
        EXPECT_EQ(s.get_standby_state_channel().getValue(), channel_standby);
        EXPECT_EQ(s.get_standby_group().getValue(), 0u);
        EXPECT_EQ(s.get_standby_state_receiver().getValue(), 0);
    };
    // No status from the host yet.
    auto c = Make();
    Receive(VezePacket(SIG_PROTO_GW_FLAG_PTT, 3, 1));
    ASSERT_EQ(sink.requests.size(), 1u);
    check(sink.requests[0].get_status().get_veze(), 0, 0);

    // After the host's status, the report's status is that status.
    sink = {};
    c.reset();
    auto g = Make();
    TERM::RadioStatus const status = RadioTest::VezeStatus();
    ASSERT_TRUE(g->SendASNToChan(status));
    Receive(VezePacket(SIG_PROTO_GW_FLAG_PTT, 3, 1));
    ASSERT_EQ(sink.requests.size(), 1u);
    EXPECT_EQ(sink.requests[0].get_status().do_compare(status), 0) << sink.requests[0].get_status();

    // The workstation keeps neither group nor receiver state of a status.
    sink = {};
    g.reset();
    auto w = Make<WS>();
    ASSERT_TRUE(w->SendASNToChan(status));
    EXPECT_EQ(w->radio_state().standby_group, -1);
    Receive(VezePacket(SIG_PROTO_WM_FLAG));
    ASSERT_EQ(sink.requests.size(), 1u);
    check(sink.requests[0].get_status().get_veze(), 50, 1);
}

TEST_F(VezeTest, PacketValuesOutsideTheirTermTypesAreDroppedWithARateLimitedLine)
{
    struct Case {
        sig_proto packet;
        char const* line;
    };
    auto drop = [this](VezeRadioControl const& c, std::vector<Case> const& cases) {
        for (Case const& k : cases) {
            clear_errors();
            Mux::test::step(1000);
            VezeRadioState const before = c.channel_state();
            Receive(k.packet);
            EXPECT_TRUE(sink.requests.empty()) << k.line;
            EXPECT_TRUE(Changed(before, c.channel_state()).empty()) << k.line;
            EXPECT_NE(errors().find(std::string(k.line) + ": packet dropped (1 dropped since the last line)"),
                      std::string::npos)
                << errors();
        }
    };
    sig_proto squelshe = VezePacket(SIG_PROTO_GW_ADJUST_SQUELSHE);
    sig_proto_set_gw_adjust_squelsh(&squelshe, 200);
    sig_proto rte = VezePacket(SIG_PROTO_GW_ADJUST_RTE);
    sig_proto_set_gw_adjust_rte(&rte, 9);
    sig_proto standby = VezePacket(SIG_PROTO_GW_ADJUST_STANDBY);
    sig_proto_set_gw_adjust_standby(&standby, 2);
    sig_proto selcall = VezePacket(SIG_PROTO_GW_SEL_CALL);
    sig_proto_set_gw_selcall(&selcall, "Ren\xE9", 4);
    {
        auto w = Make<WS>();
        sig_proto chan = VezePacket(SIG_PROTO_WM_CHAN);
        sig_proto_set_wm_chan(&chan, 1, 1.0f, 103, 8);
        sig_proto receiver = VezePacket(SIG_PROTO_WM_STANDBY);
        sig_proto_set_wm_standby(&receiver, 1, 255, 2);
        sig_proto trans = VezePacket(SIG_PROTO_WM_SEL_CALL_TRANS);
        sig_proto_set_wm_selcall_transmite(&trans, RadioTest::InAddr("10.1.1.1"), 1, "\x80", 1);
        drop(*w, {{chan, "WM_CHAN rte 8 outside its TERM type"},
                  {receiver, "WM_STANDBY receiver_state 2 outside its TERM type"},
                  {trans, "WM_SEL_CALL_TRANS callerID byte 128 outside its TERM type"}});
    }
    auto c = Make();
    drop(*c, {{squelshe, "GW_ADJUST_SQUELSHE squelsh 200 outside its TERM type"},
              {rte, "GW_ADJUST_RTE rte 9 outside its TERM type"},
              {standby, "GW_ADJUST_STANDBY state 2 outside its TERM type"},
              {selcall, "GW_SEL_CALL callerID byte 233 outside its TERM type"}});

    // Within a second the line is held back and counted.
    clear_errors();
    Mux::test::step(1000);
    Receive(squelshe);
    Mux::test::step(10);
    Receive(rte);
    Mux::test::step(10);
    Receive(standby);
    EXPECT_EQ(errors().find("GW_ADJUST_RTE"), std::string::npos) << errors();
    Mux::test::step(980);
    Receive(selcall);
    EXPECT_NE(errors().find("GW_SEL_CALL callerID byte 233 outside its TERM type: packet dropped (3 dropped"),
              std::string::npos)
        << errors();
    EXPECT_TRUE(sink.requests.empty());
    // The edges of the types pass.
    sig_proto_set_gw_adjust_squelsh(&squelshe, 103);
    Receive(squelshe);
    EXPECT_EQ(sink.requests.size(), 1u);
}

TEST_F(VezeTest, HostValuesOutsideTheirTermTypesAreRefused)
{
    auto c = Make();
    ASSERT_TRUE(c->SendASNToChan(RadioTest::VezeStatus()));
    VezeRadioState const before = c->radio_state();
    RadioTest::VezeStatusValues v;
    v.squelshe = 110;
    TERM::RadioStatus const status = RadioTest::VezeStatus(v);
    EXPECT_STREQ(RTPSignalling::VezeUnfitField(status.get_veze()), "squelshe");
    EXPECT_FALSE(c->SendASNToChan(status));
    TERM::RadioModifier const modifier =
        VezeModifier([](Params& p) { p.select_gw_set_squelshe().get_squelshe().setValue(110); });
    EXPECT_STREQ(RTPSignalling::VezeUnfitField(modifier.get_veze()), "squelshe");
    EXPECT_FALSE(c->SendASNToChan(modifier));
    EXPECT_FALSE(c->SendASNToChan(VezeModifier([](Params& p) {
        TERM::RadioCommandWMChan& w = p.select_wm_chan();
        w.get_squelshe().setValue(110);
    })));
    EXPECT_NE(errors().find(" veze squelshe outside its TERM type: nothing sent"), std::string::npos)
        << errors();
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(Changed(before, c->radio_state()).empty());

    RadioTest::VezeStatusValues r;
    r.rte = 8;
    EXPECT_STREQ(RTPSignalling::VezeUnfitField(RadioTest::VezeStatus(r).get_veze()), "rte");
    RadioTest::VezeStatusValues s;
    s.standby_receiver = 2;
    EXPECT_STREQ(RTPSignalling::VezeUnfitField(RadioTest::VezeStatus(s).get_veze()),
                 "standby-state-receiver");
    EXPECT_EQ(RTPSignalling::VezeUnfitField(RadioTest::VezeStatus().get_veze()), nullptr);
    EXPECT_STREQ(RTPSignalling::VezeUnfitField(VezeModifier([](Params& p) {
                                                   p.select_wm_standby().get_state_receiver().setValue(2);
                                               }).get_veze()),
                 "state-receiver");
    // An unknown alternative sends nothing; the other family is not ours.
    EXPECT_TRUE(c->SendASNToChan(VezeModifier([](Params&) {})));
    TERM::RadioStatus ed137;
    ed137.select_ed_137();
    EXPECT_FALSE(c->SendASNToChan(ed137));
    EXPECT_TRUE(Written().empty());
}

TEST_F(VezeTest, TextsFromTheNetworkAndTheHostAreBounded)
{
    auto c = Make();
    sig_proto chan = VezePacket(SIG_PROTO_GW_ADJUST_CHAN);
    sig_proto_set_gw_adjust_chan(&chan, 0xFFFFFFFFu, -FLT_MAX);
    Receive(chan);
    ASSERT_EQ(sink.requests.size(), 1u);
    TERM::RadioFrequency const& f = Reported(sink.requests[0]).get_gw_set_freq().get_freq();
    EXPECT_EQ(std::string(f.get_frequency()), "-340282346638528859811704183484516925440.000000");
    EXPECT_EQ(f.get_channel().getValue(), -1);

    std::string const id(255, 'x');
    sig_proto selcall = VezePacket(SIG_PROTO_GW_SEL_CALL);
    sig_proto_set_gw_selcall(&selcall, id.c_str(), 255);
    Receive(selcall);
    ASSERT_EQ(sink.requests.size(), 2u);
    EXPECT_EQ(std::string(Reported(sink.requests[1]).get_gw_set_selcall().get_cid()), id);

    // A float beyond the float range reads as an infinity.
    ASSERT_TRUE(c->SendASNToChan(VezeModifier([](Params& p) {
        p.select_wm_chan().get_freq().set_frequency("1e300");
        p.get_wm_chan().get_squelshe().setValue(1);
    })));
    EXPECT_TRUE(std::isinf(c->radio_state().frequency));
    c.reset();

    // The host's caller ID: at most 255 characters go out.
    auto w = Make<WS>();
    ASSERT_TRUE(w->SendASNToChan(VezeModifier([](Params& p) {
        p.select_gw_set_selcall().set_cid(std::string(300, 'y'));
        p.get_gw_set_selcall().set_ip("10.1.1.1");
    })));
    auto const written = Written();
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written[0].size(), 260u);
    EXPECT_EQ(written[0][4], 255);
    EXPECT_EQ(std::string(written[0].begin() + 5, written[0].end()), std::string(255, 'y'));
    EXPECT_EQ(std::strlen(w->radio_state().caller_id), 255u);
}

TEST_F(VezeTest, SquelchAndFilterFollowTheRadioState)
{
    auto c = Make();
    RadioTest::VezeStatusValues v;
    v.flags.sql = true;
    ASSERT_TRUE(c->SendASNToChan(RadioTest::VezeStatus(v)));
    EXPECT_TRUE(c->GetSQU());
    EXPECT_FALSE(c->filter_active());
    ASSERT_TRUE(c->SendASNToChan(RadioTest::WmTrans(Flags{.ptt = true}, "10.4.4.4", 1)));
    EXPECT_TRUE(c->filter_active());
    EXPECT_EQ(c->filter().addr, RadioTest::Addr("10.4.4.4"));
    EXPECT_FALSE(c->GetSQU());
    ASSERT_TRUE(c->SendASNToChan(VezeModifier(WithFlags(&Params::select_wm_flags))));
    EXPECT_TRUE(c->filter_active()); // kFlags holds push-to-talk
    ASSERT_TRUE(c->SendASNToChan(VezeModifier([](Params& p) { p.select_wm_flags(); })));
    EXPECT_FALSE(c->filter_active());
    EXPECT_EQ(Count(RTP_EXT_SET_FILTER), 1u);
    EXPECT_EQ(Count(RTP_EXT_RESET_FILTER), 1u);
}

} // namespace
