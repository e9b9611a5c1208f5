// Radio slots read by independent decoders: tshark's ED-137 dissector reads
// what an ED-137 slot writes to its channel, and Erlang's aligned-PER coder
// reads every payload the host received from the radio slots. Host only.

#include "ed137_messages.hpp"
#include "radio_fixture.hpp"
#include "rtp_ext_slot_fixture.hpp"
#include "support/rtp_ext_capture.hpp"
#include "support/rtp_ext_signal.hpp"

namespace {

using namespace RadioSlotTest;

std::vector<std::string> const kHeaderFields = {"rtp.ext.ed137a.ptt_type", "rtp.ext.ed137a.squ",
                                                "rtp.ext.ed137a.ptt_id",   "rtp.ext.ed137a.pm",
                                                "rtp.ext.ed137a.ptts",     "rtp.ext.ed137a.sct"};

TEST_F(RtpExtSlotTest, DissectorReadsTheAnnouncedStatusAndTheCommandedHeader)
{
    if (!TestTshark::Available())
        GTEST_SKIP() << "text2pcap or tshark not installed";
    Peer peer;
    host().Create(5, RadioCreate(peer.rtp(), RadioTest::Status({2, 0, 42, true, false, true})));
    ASSERT_NE(ext_slot(5), nullptr);
    LGCP::IoctlParams rx;
    rx.set_rtpExt(RadioTest::RxCommand({3, 1, 17, false, true, false}));
    auto r = host().Exchange(Ioctl(rx), 5);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, SlotsTest::Received::Success);

    std::vector<std::vector<std::uint8_t>> written;
    for (auto const& w : Only().written)
        written.emplace_back(w.begin(), w.end());
    ASSERT_EQ(written.size(), 2u);
    std::string errors;
    auto const rows = TestRtpExt::Fields(written, kHeaderFields, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), 2u);
    // The create's status at once, then the host's RX command.
    EXPECT_EQ(rows[0], (std::vector<std::string>{"2", "0", "42", "1", "0", "1"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"3", "1", "17", "0", "1", "0"}));
}

TEST_F(RtpExtSlotTest, ErlangReadsEveryPayloadTheHostReceived)
{
    host().keep_payloads = true;
    Peer peer;
    host().Create(5, RadioCreate(peer.rtp(), RadioTest::Status({1, 1, 5, false, false, false})));
    host().Create(6, RadioCreate(peer.rtp(), RadioTest::VezeStatus()));
    ASSERT_NE(ext_slot(5), nullptr);
    ASSERT_NE(ext_slot(6), nullptr);
    // Silence aborts, then a report from each channel.
    Mux::test::advance(3000);
    for (auto const& [open, session] : ext().Sessions())
        ASSERT_TRUE(ext().Inject(open, 0xFFFFFFFFu, RadioTest::InAddr("192.168.255.254").s_addr,
                                 session.etype == 0x1337
                                     ? RadioTest::Pack(RadioTest::VezePacket(SIG_PROTO_GW_FLAG_PTT, 3, 1))
                                     : RadioTest::Tx(1, 63, 1, 1)));
    Mux::test::run_once(0);
    // A refused modifier, a query and the destroys.
    LGCP::IoctlParams wrong;
    wrong.set_rtpExt(RadioTest::WmTrans({}, "10.9.9.9", 77));
    host().Exchange(Ioctl(wrong), 5);
    host().Query();
    host().Destroy(5);
    host().Destroy(6);
    host().Take();

    std::size_t reports = 0, aborts = 0;
    for (auto const& p : host().payloads) {
        LGCP::Message m;
        ASSERT_TRUE(CtrlSrv::lgcp_decode(reinterpret_cast<char const*>(p.data()), p.size(), m));
        if (m.get_pdu().is_signal()) {
            reports += m.get_pdu().get_signal().is_rtpExt();
            aborts += m.get_pdu().get_signal().is_abort();
        }
    }
    EXPECT_EQ(reports, 2u);
    EXPECT_GE(aborts, 2u);
    std::string report;
    EXPECT_TRUE(TestRtpExt::ErlangRoundTrip(host().payloads, &report)) << report;
    EXPECT_NE(report.find(std::to_string(host().payloads.size()) + " passed, 0 failed"), std::string::npos)
        << report;
}

} // namespace
