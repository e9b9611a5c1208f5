// The ED-137 gateway controller over the simulated radio-extension driver,
// on the test clock: read bursts, reports to the host, host commands on the
// wire, keep-alive and loss supervision (across the wrap of the millisecond
// clock too), the access filter, and host values that do not fit the wire.

#include "radio/ed137_control.hpp"
#include "radio/ed137_messages.hpp"
#include "radio/radio_fixture.hpp"
#include "support/rtp_ext_signal.hpp"

#include <functional>

#include <poll.h>

namespace {

using RadioTest::Header;
using RadioTest::Sqi;
using RTPSignalling::ED137RadioGWControl;
using RTPSignalling::ED137RadioState;

class ED137Test : public RadioTest::Fixture {
protected:
    std::unique_ptr<ED137RadioGWControl> Make(rtp_ext_init_params const& init = RadioTest::ED137Init())
    {
        auto c = std::make_unique<ED137RadioGWControl>(7, Attach(), init);
        c->SetNotify(&sink);
        return c;
    }
    static TERM::ED137RadioHeader const& Reported(TERM::RtpRadioRequest const& r)
    {
        return r.get_request().get_ed_137().get_params().get_tx().get_header();
    }
    static r2s_proto UnpackRx(RadioTest::Bytes const& b)
    {
        r2s_proto p;
        r2s_proto_init(&p, 0);
        EXPECT_EQ(r2s_proto_unpack_rx(&p, b.data(), static_cast<int>(b.size())), 0);
        return p;
    }

    RadioTest::Sink sink;
};

TEST_F(ED137Test, ReadBurstHandsOnTheLastHeaderOfEachRunFromOneSource)
{
    auto c = Make();
    Inject(RadioTest::Tx(1, 1), "10.0.0.1");
    Inject(RadioTest::Tx(1, 2), "10.0.0.1");
    Inject(RadioTest::Tx(1, 3), "10.0.0.2");
    Inject(RadioTest::Tx(1, 4), "10.0.0.2");
    Mux::test::run_once();
    ASSERT_EQ(sink.requests.size(), 2u);
    EXPECT_EQ(Reported(sink.requests[0]).get_ptt_id().getValue(), 2u);
    EXPECT_EQ(Reported(sink.requests[1]).get_ptt_id().getValue(), 4u);

    for (unsigned id : {5u, 6u, 7u})
        Inject(RadioTest::Tx(1, id), "10.0.0.2");
    Mux::test::run_once();
    ASSERT_EQ(sink.requests.size(), 3u);
    EXPECT_EQ(Reported(sink.requests[2]).get_ptt_id().getValue(), 7u);

    // A last header that does not decode: the last good one is handed on.
    Inject(RadioTest::Tx(1, 8), "10.0.0.2");
    Inject({0x20}, "10.0.0.2");
    Mux::test::run_once();
    ASSERT_EQ(sink.requests.size(), 4u);
    EXPECT_EQ(Reported(sink.requests[3]).get_ptt_id().getValue(), 8u);
    EXPECT_EQ(c->counters().unpack_error, -9);
    EXPECT_EQ(c->counters().decoded, 8u);

    // A wake-up with nothing queued returns at once.
    c->OnRtpExtEvent(c->ext_fd(), POLLIN);
    EXPECT_EQ(sink.requests.size(), 4u);
    EXPECT_EQ(c->counters().info_errno, EAGAIN);
    EXPECT_EQ(c->counters().read_errno, EAGAIN);
}

TEST_F(ED137Test, ReportCarriesTheSentStateAndTheReceivedHeader)
{
    auto c = Make();
    Sqi const sqi{2, 17};
    ASSERT_TRUE(c->SendASNToChan(RadioTest::Status({1, 1, 33, false, true, true}, &sqi)));
    Inject(RadioTest::Tx(2, 9, 1, 1), "172.16.5.6", 0xFEDCBA98u);
    Mux::test::run_once();
    ASSERT_EQ(sink.requests.size(), 1u);
    TERM::RtpRadioRequest const& r = sink.requests[0];

    TERM::ED137RadioStatus const& status = r.get_status().get_ed_137();
    EXPECT_EQ(status.get_header().get_ptt().getValue(), 1);
    EXPECT_EQ(status.get_header().get_squ().getValue(), 1);
    EXPECT_EQ(status.get_header().get_ptt_id().getValue(), 33u);
    EXPECT_FALSE(status.get_header().get_ptt_mute().getValue());
    EXPECT_TRUE(status.get_header().get_ptt_summation().getValue());
    EXPECT_TRUE(status.get_header().get_sct().getValue());
    EXPECT_FALSE(status.has_radio_response());
    ASSERT_TRUE(status.has_sqi());
    EXPECT_EQ(status.get_sqi().get_bss_method().getValue(), 2);
    EXPECT_EQ(status.get_sqi().get_bss_quality().getValue(), 17u);

    ASSERT_TRUE(r.has_request());
    TERM::ED137RadioModifier const& m = r.get_request().get_ed_137();
    EXPECT_EQ(std::string(m.get_addr().get_session_addr()), "172.16.5.6");
    EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 0xFEDCBA98u);
    ASSERT_TRUE(m.get_params().is_tx());
    TERM::ED137RadioHeader const& h = m.get_params().get_tx().get_header();
    EXPECT_EQ(h.get_ptt().getValue(), 2);
    EXPECT_EQ(h.get_squ().getValue(), 0);
    EXPECT_EQ(h.get_ptt_id().getValue(), 9u);
    EXPECT_TRUE(h.get_ptt_mute().getValue());
    EXPECT_TRUE(h.get_ptt_summation().getValue());
    EXPECT_FALSE(h.get_sct().getValue());
}

TEST_F(ED137Test, RepeatedHeaderIsReportedOncePerIntervalAndAChangeAtOnce)
{
    auto c = Make();
    for (int i = 0; i < 100; ++i) {
        Inject(RadioTest::Tx(1, 3));
        Mux::test::run_once();
        Mux::test::step(20);
    }
    EXPECT_EQ(sink.requests.size(), 2u); // at 0 and 1000 ms
    Inject(RadioTest::Tx(0, 3));
    Mux::test::run_once();
    ASSERT_EQ(sink.requests.size(), 3u);
    EXPECT_EQ(Reported(sink.requests[2]).get_ptt().getValue(), 0);
}

TEST_F(ED137Test, RadioThatMayNotTransmitReportsNothingButStillSupervises)
{
    struct Case {
        std::uint32_t type, mode;
    };
    for (Case const k : {Case{1, 2}, Case{2, 1}}) {
        sink = {};
        auto c = Make();
        RTPSignalling::ED137RadioParams p;
        p.radio_type = k.type;
        p.txrx_mode = k.mode;
        c->SetParams(p);
        c->SetTimerEnable(true);
        for (int i = 0; i < 75; ++i) {
            Inject(RadioTest::Tx(1, 3));
            Mux::test::run_once();
            Mux::test::advance(20);
        }
        EXPECT_TRUE(sink.requests.empty());
        EXPECT_TRUE(sink.codes.empty());
        // Silent from 1480 ms on (the last header): the first tick at least
        // 2000 ms later reports.
        Mux::test::advance(2000);
        EXPECT_TRUE(sink.codes.empty());
        Mux::test::advance(1000);
        EXPECT_EQ(sink.codes, std::vector<int>{151});
    }
}

TEST_F(ED137Test, PttTypesBeyondTheEnumerationRootAreForwarded)
{
    auto c = Make();
    for (unsigned ptt : {5u, 7u}) {
        Inject(RadioTest::Tx(ptt, 1), ptt == 5 ? "10.0.0.5" : "10.0.0.7");
        Mux::test::run_once();
    }
    ASSERT_EQ(sink.requests.size(), 2u);
    EXPECT_EQ(Reported(sink.requests[0]).get_ptt().getValue(), 5);
    EXPECT_EQ(Reported(sink.requests[1]).get_ptt().getValue(), 7);
    // As extension values they reach the host and read back the same.
    for (auto const& r : sink.requests) {
        LGCP::Message const m = TestRtpExt::RtpExtSignal(r);
        std::vector<char> bytes;
        ASSERT_TRUE(ASN1Test::EncodePer(m, bytes));
        LGCP::Message back;
        ASSERT_TRUE(ASN1Test::DecodePer(bytes, back));
        EXPECT_EQ(back.do_compare(m), 0);
    }
}

TEST_F(ED137Test, RxCommandIsWrittenOnceUnlessKeepAlivesAreOff)
{
    Sqi const sqi{0, 31};
    auto const command = RadioTest::RxCommand({3, 1, 42, true, false, true}, &sqi);
    {
        auto c = Make();
        ASSERT_TRUE(c->SendASNToChan(command));
        ASSERT_TRUE(c->SendASNToChan(command));
        auto w = Written();
        ASSERT_EQ(w.size(), 1u);
        r2s_proto p = UnpackRx(w[0]);
        EXPECT_EQ(p.rx.ptt_type, 3u);
        EXPECT_EQ(p.rx.squ, 1u);
        EXPECT_EQ(p.rx.ptt_id, 42u);
        EXPECT_EQ(p.rx.ptt_mute, 1u);
        EXPECT_EQ(p.rx.ptt_summation, 0u);
        EXPECT_EQ(p.rx.sct, 1u);
        ASSERT_EQ(p.additional_count, 1u);
        EXPECT_EQ(p.additional[0].rx_sqi.qidx, 31u);
        EXPECT_EQ(p.additional[0].rx_sqi.method, 0u);
        EXPECT_TRUE(c->GetSQU());
    }
    auto c = Make(RadioTest::ED137Init(0, 1));
    ASSERT_TRUE(c->SendASNToChan(command));
    ASSERT_TRUE(c->SendASNToChan(command));
    EXPECT_EQ(Written().size(), 2u);
}

TEST_F(ED137Test, KeepAliveKeepsTheSqiAndFollowsATxCommandAsAnRxHeader)
{
    auto c = Make();
    c->SetTimerEnable(true);
    Sqi const sqi{1, 9};
    ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({0, 1, 5}, &sqi)));
    Mux::test::advance(1000);
    auto w = Written();
    ASSERT_EQ(w.size(), 2u);
    r2s_proto p = UnpackRx(w[1]);
    ASSERT_EQ(p.additional_count, 1u);
    EXPECT_EQ(p.additional[0].type, R2S_PROTO_RX_SQI);
    EXPECT_EQ(p.additional[0].rx_sqi.qidx, 9u);
    EXPECT_EQ(p.additional[0].rx_sqi.method, 1u);

    ASSERT_TRUE(c->SendASNToChan(RadioTest::TxCommand({1, 1, 5})));
    w = Written();
    ASSERT_EQ(w.size(), 3u);
    // On a TX header the SQU bit is zero; the RX header carries it.
    EXPECT_EQ(w[2][0] & 0x10, 0);
    Mux::test::advance(1000);
    w = Written();
    ASSERT_EQ(w.size(), 4u);
    p = UnpackRx(w[3]);
    EXPECT_EQ(w[3][0] & 0x10, 0x10);
    EXPECT_EQ(p.rx.ptt_type, 1u);
    EXPECT_EQ(c->sent_state().flags & ED137RadioState::kKindMask, ED137RadioState::kRx);
    // And the next one too: keep-alives never stop.
    Mux::test::advance(1000);
    EXPECT_EQ(Written().size(), 5u);
}

// Keep-alive every interval, pushed back by a commanded RX header; abort
// 151 from the first tick 2000 ms after the last good header, at every tick
// until one arrives. `start_us` places the loop clock.
void KeepAliveAndSupervision(ED137Test& t, std::unique_ptr<ED137RadioGWControl> c, RadioTest::Sink& sink,
                             std::function<std::size_t()> written, std::function<void()> inject)
{
    std::uint32_t const t0 = Mux::milliseconds();
    c->SetTimerInterval(200 * 10 / 2);
    c->SetTimerEnable(true);
    Mux::test::advance(999);
    EXPECT_EQ(written(), 0u);
    Mux::test::advance(1);
    EXPECT_EQ(written(), 1u); // 1000: keep-alive
    Mux::test::advance(300);
    ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({0, 1, 2})));
    EXPECT_EQ(written(), 2u); // 1300: commanded
    Mux::test::advance(700);  // 2000: tick, no keep-alive, loss
    EXPECT_EQ(written(), 2u);
    EXPECT_EQ(sink.codes, std::vector<int>{151});
    Mux::test::advance(309);
    EXPECT_EQ(written(), 2u);
    Mux::test::advance(1); // 2310: keep-alive, loss again
    EXPECT_EQ(written(), 3u);
    EXPECT_EQ(sink.codes.size(), 2u);
    Mux::test::advance(190);
    inject(); // 2500: a header
    Mux::test::run_once();
    Mux::test::advance(2809); // keep-alives at 3310 and 4310, no loss
    EXPECT_EQ(sink.codes.size(), 2u);
    EXPECT_EQ(written(), 5u);
    Mux::test::advance(1); // 5310: 2810 ms after the header
    EXPECT_EQ(sink.codes.size(), 3u);
    EXPECT_EQ(written(), 6u);
    EXPECT_EQ(Mux::milliseconds() - t0, 5310u);
    (void)t;
}

TEST_F(ED137Test, KeepAliveAndLossReportOnSchedule)
{
    KeepAliveAndSupervision(
        *this, Make(), sink, [this] { return Written().size(); }, [this] { Inject(RadioTest::Tx(1, 1)); });
}

TEST_F(ED137Test, KeepAliveAndLossReportStayOnScheduleAcrossTheClockWrap)
{
    // 500 ms before the 32-bit millisecond clock wraps.
    Mux::test::freeze_at((std::uint64_t{1} << 32) * 1000u - 500u * 1000u);
    std::uint32_t const t0 = Mux::milliseconds();
    KeepAliveAndSupervision(
        *this, Make(), sink, [this] { return Written().size(); }, [this] { Inject(RadioTest::Tx(1, 1)); });
    EXPECT_LT(Mux::milliseconds(), t0);
}

TEST_F(ED137Test, NoLossReportWithoutAKeepAlivePeriod)
{
    auto c = Make();
    RTPSignalling::ED137RadioParams p;
    p.r2s_keepalive_period = 0;
    c->SetParams(p);
    c->SetTimerEnable(true);
    Mux::test::advance(10000);
    EXPECT_TRUE(sink.codes.empty());
}

TEST_F(ED137Test, HostValuesThatDoNotFitTheWireAreRefused)
{
    auto c = Make();
    ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({1, 1, 4})));
    ED137RadioState const before = c->sent_state();
    Sqi const method8{8, 3};
    struct Case {
        TERM::RadioStatus status;
        TERM::RadioModifier modifier;
        char const* field;
    };
    Case const cases[] = {
        {RadioTest::Status({8, 0, 1}), RadioTest::TxCommand({9, 0, 1}), "ptt"},
        {RadioTest::Status({1, 2, 1}), RadioTest::RxCommand({1, 2, 1}), "squ"},
        {RadioTest::Status({1, 1, 1}, &method8), RadioTest::RxCommand({1, 1, 1}, &method8), "bss-method"},
    };
    for (Case const& k : cases) {
        clear_errors();
        EXPECT_STREQ(RTPSignalling::ED137UnfitField(k.status.get_ed_137()), k.field);
        EXPECT_FALSE(c->SendASNToChan(k.status)) << k.field;
        EXPECT_FALSE(c->SendASNToChan(k.modifier)) << k.field;
        EXPECT_NE(errors().find(std::string(" ed-137 ") + k.field + " does not fit"), std::string::npos)
            << errors();
        EXPECT_TRUE(c->sent_state().IsEqual(before)) << k.field;
    }
    EXPECT_EQ(Written().size(), 1u);
    EXPECT_EQ(RTPSignalling::ED137UnfitField(RadioTest::Status({7, 1, 63}).get_ed_137()), nullptr);
    // The other family's messages are not ours.
    TERM::RadioStatus veze;
    veze.select_veze();
    EXPECT_FALSE(c->SendASNToChan(veze));
}

TEST_F(ED137Test, FilterFollowsThePushToTalkOfTheSentState)
{
    auto c = Make();
    ASSERT_TRUE(c->SendASNToChan(RadioTest::Status({1, 1, 2})));
    // No modifier yet: the sent state's address is 0.0.0.0.
    auto s = board().device<Sim::RtpExt>().Sessions().begin()->second;
    EXPECT_TRUE(s.filter);
    EXPECT_EQ(s.filter_addr, 0u);
    ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({2, 1, 2}, nullptr, "10.1.1.1")));
    s = board().device<Sim::RtpExt>().Sessions().begin()->second;
    EXPECT_EQ(s.filter_addr, RadioTest::Addr("10.1.1.1"));
    ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({0, 1, 2}, nullptr, "10.1.1.1")));
    EXPECT_FALSE(board().device<Sim::RtpExt>().Sessions().begin()->second.filter);
    EXPECT_EQ(Count(RTP_EXT_SET_FILTER), 2u);
    EXPECT_EQ(Count(RTP_EXT_RESET_FILTER), 1u);
}

TEST_F(ED137Test, HangUpStopsReadingWithOneLine)
{
    auto c = Make();
    c->SetTimerEnable(true); // keeps the loop busy once the descriptor is let go
    Inject(RadioTest::Tx(1, 1));
    ASSERT_TRUE(board().device<Sim::RtpExt>().Hangup(Session()));
    for (int i = 0; i < 5; ++i)
        Mux::test::run_once();
    std::string const e = errors();
    EXPECT_NE(e.find("rtp_ext[7] "), std::string::npos) << e;
    EXPECT_NE(e.find("reading stopped"), std::string::npos) << e;
    EXPECT_EQ(e.find("reading stopped"), e.rfind("reading stopped")) << e;
    EXPECT_FALSE(c->reading());
    // The next start opens a fresh session.
    EXPECT_TRUE(c->RtpExtStart(false));
    EXPECT_TRUE(c->reading());
    EXPECT_EQ(board().OpenCount("/dev/rtp_ext"), 1u);
}

// A write the driver refuses is counted and logged once until one goes
// through again: in the form with no extension descriptor of its own, and
// in a session that did not start again after a stop.
TEST_F(ED137Test, FailedWritesAreCountedAndLoggedOnceUntilOneGoesThrough)
{
    auto const lines = [this](char const* text) {
        std::string const e = errors();
        int n = 0;
        for (auto at = e.find(text); at != std::string::npos; at = e.find(text, at + 1))
            ++n;
        return n;
    };
    {
        ED137RadioGWControl c(4, Fd(rtp_), rtp_attach_session_params{12, 345});
        ASSERT_TRUE(c.SendASNToChan(RadioTest::RxCommand({1, 1, 2})));
        ASSERT_TRUE(c.SendASNToChan(RadioTest::RxCommand({2, 1, 2})));
        EXPECT_EQ(c.counters().written, 0u);
        EXPECT_EQ(c.counters().write_failures, 2u);
        EXPECT_EQ(c.counters().write_errno, EBADF);
        EXPECT_EQ(board().OpenCount("/dev/rtp_ext"), 0u);
        EXPECT_EQ(lines("write rtp_ext session fail !!! (Bad file descriptor)"), 1) << errors();
    }
    clear_errors();
    auto c = Make();
    c->RtpExtStop();
    for (int ptt : {1, 2, 0})
        ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({ptt, 1, 2})));
    EXPECT_EQ(c->counters().write_failures, 3u);
    EXPECT_EQ(lines("write rtp_ext session fail"), 1) << errors();
    ASSERT_TRUE(c->RtpExtStart(false));
    ASSERT_TRUE(c->SendASNToChan(RadioTest::RxCommand({1, 1, 2})));
    EXPECT_EQ(Written().size(), 1u);
    EXPECT_EQ(lines("write rtp_ext session ok again after 3 failed writes"), 1) << errors();
}

} // namespace
