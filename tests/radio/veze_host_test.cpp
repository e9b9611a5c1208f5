// What the VEZE controllers report, read by an independent decoder: every
// report as the host receives it (an LGCP rtpExt signal) decodes with
// Erlang's aligned-PER coder and encodes back to the very same octets.
// Host only.

#include "radio/radio_fixture.hpp"
#include "radio/veze_control.hpp"
#include "radio/veze_messages.hpp"
#include "support/rtp_ext_signal.hpp"

#include <cfloat>

namespace {

using RadioTest::Pack;
using RadioTest::VezePacket;
using RTPSignalling::VezeRadioControl;

class VezeHostTest : public RadioTest::Fixture {
protected:
    template <class C>
    std::unique_ptr<C> Make()
    {
        auto c = std::make_unique<C>(7, Attach(), rtp_ext_init_params{0x1337, 0, {0, 0, 0, 0}});
        c->SetNotify(&sink);
        return c;
    }
    void Receive(sig_proto p, char const* from, std::uint32_t ssrc)
    {
        Inject(Pack(p), from, ssrc);
        Mux::test::run_once();
    }
    RadioTest::Sink sink;
};

// Every packet type with payload values at the ends of their ranges.
std::vector<sig_proto> Packets(std::uint32_t first, std::uint32_t last)
{
    std::vector<sig_proto> v;
    for (std::uint32_t type = first; type <= last; ++type) {
        sig_proto p = VezePacket(type, type % 16, type & 1);
        sig_proto_set_base(&p, -1, 1, -1, 1, 0, 1, 0, 1, 0, 1, type % 4, 511 - type);
        std::string const id(255, '~');
        switch (type) {
        case SIG_PROTO_GW_ADJUST_CHAN:
            sig_proto_set_gw_adjust_chan(&p, 0xFFFFFFFFu, FLT_MAX);
            break;
        case SIG_PROTO_GW_SEL_CALL:
            sig_proto_set_gw_selcall(&p, id.c_str(), 255);
            break;
        case SIG_PROTO_GW_SELECT_RC_CHAN:
            sig_proto_set_gw_select_rc_chan(&p, 255, 0);
            break;
        case SIG_PROTO_GW_ADJUST_SQUELSHE:
            sig_proto_set_gw_adjust_squelsh(&p, 103);
            break;
        case SIG_PROTO_GW_ADJUST_RTE:
            sig_proto_set_gw_adjust_rte(&p, 7);
            break;
        case SIG_PROTO_GW_ADJUST_STANDBY:
            sig_proto_set_gw_adjust_standby(&p, 1);
            break;
        case SIG_PROTO_WM_TRANS:
            sig_proto_set_wm_transmite(&p, RadioTest::InAddr("255.255.255.255"), 0xFFFFFFFFu);
            break;
        case SIG_PROTO_WM_RADIO_QUALITY:
            sig_proto_set_wm_radio_quality(&p, -FLT_MAX);
            break;
        case SIG_PROTO_WM_CHAN:
            sig_proto_set_wm_chan(&p, 0, 0.000001f, 0, 0);
            break;
        case SIG_PROTO_WM_SEL_CALL_TRANS:
            sig_proto_set_wm_selcall_transmite(&p, RadioTest::InAddr("10.0.0.1"), 1, "", 0);
            break;
        case SIG_PROTO_WM_SELECT_RC_CHAN:
            sig_proto_set_wm_select_rc_chan(&p, 0, 255);
            break;
        case SIG_PROTO_WM_STANDBY:
            sig_proto_set_wm_standby(&p, 1, 255, 1);
            break;
        default:
            break;
        }
        v.push_back(p);
    }
    return v;
}

TEST_F(VezeHostTest, ErlangReadsEveryReportByteForByte)
{
    std::vector<LGCP::Message> messages;
    {
        // The gateway without a host status (unset values), then with one.
        auto gw = Make<RTPSignalling::VezeRadioGWControl>();
        for (sig_proto const& p : Packets(SIG_PROTO_GW_FLAG, SIG_PROTO_GW_ADJUST_STANDBY))
            Receive(p, "192.168.255.254", 0x7FFFFFFFu);
        RadioTest::VezeStatusValues v;
        v.flags.prio = -1;
        v.flags.li = 511;
        v.flags.selcall = 3;
        v.channel = -2147483647 - 1;
        v.frequency = "0.000000";
        v.squelshe = 103;
        v.rte = 7;
        ASSERT_TRUE(gw->SendASNToChan(RadioTest::VezeStatus(v)));
        Receive(VezePacket(SIG_PROTO_GW_FLAG_PTT, 0, 1), "0.0.0.0", 0);
        ASSERT_EQ(sink.requests.size(), 14u);
    }
    {
        auto ws = Make<RTPSignalling::VezeRadioWSControl>();
        ASSERT_TRUE(ws->SendASNToChan(RadioTest::VezeStatus()));
        for (sig_proto const& p : Packets(SIG_PROTO_WM_FLAG, SIG_PROTO_WM_STANDBY))
            Receive(p, "10.0.0.1", 1);
        ASSERT_EQ(sink.requests.size(), 21u);
    }
    for (auto const& r : sink.requests)
        messages.push_back(TestRtpExt::RtpExtSignal(r));
    // The status alone, as a slot reports its first state.
    TERM::RtpRadioRequest status;
    VezeRadioControl::EncodeStatusASN(RTPSignalling::VezeRadioState{}, status);
    messages.push_back(TestRtpExt::RtpExtSignal(status));

    std::string report;
    EXPECT_TRUE(TestRtpExt::ErlangRoundTrip(messages, &report)) << report;
    EXPECT_NE(report.find("22 passed, 0 failed"), std::string::npos) << report;
}

} // namespace
