// What the ED-137 gateway controller writes and reports, read by
// independent decoders: tshark's ED-137 dissector reads a commanded RX
// header, and Erlang's aligned-PER coder reads every report as the host
// receives it (an LGCP rtpExt signal). Host only.

#include "radio/ed137_control.hpp"
#include "radio/ed137_messages.hpp"
#include "radio/radio_fixture.hpp"
#include "support/rtp_ext_capture.hpp"
#include "support/rtp_ext_signal.hpp"

namespace {

using RadioTest::Header;
using RadioTest::Sqi;
using RTPSignalling::ED137RadioGWControl;

class ED137HostTest : public RadioTest::Fixture {
protected:
    std::unique_ptr<ED137RadioGWControl> Make()
    {
        auto c = std::make_unique<ED137RadioGWControl>(7, Attach(), RadioTest::ED137Init());
        c->SetNotify(&sink);
        return c;
    }
    RadioTest::Sink sink;
};

TEST_F(ED137HostTest, DissectorReadsTheCommandedRxHeader)
{
    if (!TestTshark::Available())
        GTEST_SKIP() << "text2pcap or tshark not installed";
    auto c = Make();
    Sqi const sqi{0, 31};
    ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({3, 1, 42, true, false, true}, &sqi)));
    auto const written = Written();
    ASSERT_EQ(written.size(), 1u);
    std::string errors;
    auto const rows = TestRtpExt::Fields({std::vector<std::uint8_t>(written[0].begin(), written[0].end())},
                                         {"rtp.ext.ed137a.ptt_type", "rtp.ext.ed137a.squ",
                                          "rtp.ext.ed137a.ptt_id", "rtp.ext.ed137a.pm", "rtp.ext.ed137a.ptts",
                                          "rtp.ext.ed137a.sct", "rtp.ext.ed137a.ft.type",
                                          "rtp.ext.ed137a.ft.sqi.qidx", "rtp.ext.ed137a.ft.sqi.qidx-ml"},
                                         &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"3", "1", "42", "1", "0", "1", "0x01", "31", "0"}));
}

TEST_F(ED137HostTest, ErlangReadsEveryReportByteForByte)
{
    auto c = Make();
    std::vector<LGCP::Message> messages;
    Sqi const sqi{3, 31};
    ASSERT_TRUE(c->SendASNToChan(RadioTest::Status({4, 1, 63, true, true, true}, &sqi)));
    // Every PTT type of the enumeration's root (the values beyond it travel
    // in this coder's own extension form, which Erlang reads otherwise; the
    // in-process tests round-trip them), from sources at the ends of the
    // address and SSRC ranges.
    char const* const sources[] = {"0.0.0.0", "10.0.0.1", "192.168.255.254", "255.255.255.255"};
    std::uint32_t const ssrcs[] = {0, 1, 0x7FFFFFFFu, 0xFFFFFFFFu};
    for (unsigned i = 0; i < 8; ++i) {
        unsigned const ptt = i % 5;
        Inject(RadioTest::Tx(ptt, i * 9, i & 1, (i >> 1) & 1), sources[i % 4], ssrcs[i % 4]);
        Mux::test::run_once();
    }
    ASSERT_EQ(sink.requests.size(), 8u);
    // The status alone, as a slot reports its first state.
    TERM::RtpRadioRequest status;
    ED137RadioGWControl::EncodeStatusASN(c->sent_state(), status);
    sink.requests.push_back(status);
    for (auto const& r : sink.requests)
        messages.push_back(TestRtpExt::RtpExtSignal(r));

    std::string report;
    EXPECT_TRUE(TestRtpExt::ErlangRoundTrip(messages, &report)) << report;
    EXPECT_NE(report.find("9 passed, 0 failed"), std::string::npos) << report;
}

} // namespace
