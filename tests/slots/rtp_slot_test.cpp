// RTP slots through `Slots` in process, on the simulated RTP, voice, tone
// and DSP drivers: create, RTCP, destroy, detector and driver events, the
// codec change, the refusals, the capacities, and the creation helper that
// the radio factories share.

#include "rtp_fixture.hpp"

#include "sim/dsp.hpp"
#include "sim/dtmf.hpp"
#include "sim/hal.hpp"
#include "sim/voice.hpp"

#include <algorithm>
#include <cstring>

namespace RtpTest {
namespace {

using SlotsTest::Texts;
using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSsrc = 0x5EC0FFEE;

void Append(Bytes& b, std::string const& text)
{
    b.insert(b.end(), text.begin(), text.end());
}

Bytes Ssrc(std::uint32_t v)
{
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

// The SDES of every session start: CNAME, EMAIL and PHONE.
Bytes Sdes(std::uint32_t ssrc)
{
    Bytes b{0x81, 202, 0, 15};
    Bytes s = Ssrc(ssrc);
    b.insert(b.end(), s.begin(), s.end());
    b.insert(b.end(), {1, 17});
    Append(b, "Dakvune Torvalisk");
    b.insert(b.end(), {3, 19});
    Append(b, "support@example.com");
    b.insert(b.end(), {4, 12});
    Append(b, "+15555550100");
    b.insert(b.end(), {0, 0});
    return b;
}

Bytes Bye(std::uint32_t ssrc)
{
    Bytes b{0x81, 203, 0, 4};
    Bytes s = Ssrc(ssrc);
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(11);
    Append(b, "session end");
    return b;
}

LGCP::CreateParams WithSsrc(LGCP::CreateParams c, std::uint32_t ssrc = kSsrc)
{
    c.get_rtp().get_codecRTP().set_ssrc(ssrc);
    return c;
}

Bytes PdEvent(std::uint32_t type, std::uint32_t value, std::uint32_t timeout, std::size_t length = 36)
{
    std::uint32_t words[9] = {type, value, timeout};
    Bytes b(length);
    std::memcpy(b.data(), words, std::min(length, sizeof words));
    return b;
}

// A factory of the kind the radio factories are: no address reuse, word 3
// of the add-channel record set, its own slot or a refusal.
class HelperSlot : public RtpSlot {
public:
    using RtpSlot::RtpSlot;
    const char* GetName() const override { return "rtp helper"; }
    using Hardware::DSProcReceiver::enableBSS;
    int Reuse() const
    {
        int on = -1;
        socklen_t n = sizeof on;
        ::getsockopt(rtcp.get(), SOL_SOCKET, SO_REUSEADDR, &on, &n);
        return on;
    }
};

class HelperFactory : public RtpFactoryBase {
public:
    HelperFactory() : RtpFactoryBase("rtp helper") {}
    const char* GetName() const override { return "Helper"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override
    {
        if (!params.is_rtp())
            return nullptr;
        RtpCreateOptions options;
        options.word = "rtp helper";
        options.reuseAddress = false;
        options.channelWord3 = 1;
        return CreateRtpSlot(params.get_rtp(), options,
                             [this](int channel, Fd rtp, rtp_connection_params const& record) -> RtpSlot* {
                                 built.push_back(channel);
                                 return refuse ? nullptr : new HelperSlot(channel, rtp, record);
                             });
    }
    bool refuse = false;
    std::vector<int> built;
};

class RtpSlotTest : public Fixture {
protected:
    // A G.729 slot 3 towards `peer`, answered success and its two signals.
    void CreateSlot3(Peer& peer)
    {
        auto r = host().Create(3, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort())));
        ASSERT_EQ(Texts(r), (Lines{"success seq=1 slot=3", "signal slot=3 transmitter : active : 1024",
                                   "signal slot=3 receiver : active : 1024"}));
        peer.Take();
        board().ClearLog();
    }
    std::vector<SlotsTest::Received> IoctlOn(unsigned int slot, LGCP::IoctlParams const& p)
    {
        return host().Exchange(Ioctl(p), slot);
    }
    // One loop pass: the drivers' events are read.
    void Pass() { Mux::test::run_once(0); }
};

TEST_F(RtpSlotTest, CreateSendsSdesAndDestroyEndsTheSession)
{
    Peer peer;
    std::uint16_t q = FreeRtpPort();
    SimTest::Capture log(std::clog);
    auto r = host().Create(3, WithSsrc(RtpCreate(peer.rtp(), q)));
    EXPECT_EQ(Texts(r), (Lines{"success seq=1 slot=3", "signal slot=3 transmitter : active : 1024",
                               "signal slot=3 receiver : active : 1024"}));
    EXPECT_NE(log.str().find("rtp[60,60,30,120,120,30]: do create rtp: {"), std::string::npos) << log.str();

    bool found = false;
    Sim::Rtp::Session s = driver().Get(1024, &found);
    ASSERT_TRUE(found);
    EXPECT_EQ(Sim::Rtp::Describe(s),
              "channel 1024 remote 127.0.0.1:" + std::to_string(peer.rtp()) +
                  " local 127.0.0.1:" + std::to_string(q) + " rxpt 18 txpt 18 pfactor 0 vad 0 crate 0 ssrc " +
                  std::to_string(kSsrc) +
                  " ttl 0 tos 0xffffffff rxmap 0/0/0 txmap 0/0/0 word3 0 rx off pd off");
    // The factory's descriptor is gone; the slot's keeps the one session.
    EXPECT_EQ(RtpOpens(), 1u);

    auto sent = peer.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].from, q + 1);
    EXPECT_EQ(sent[0].bytes, Sdes(kSsrc));

    board().ClearLog();
    EXPECT_EQ(Texts(host().Destroy(3)), Lines{"success seq=2 slot=3"});
    EXPECT_EQ(Requests("/dev/rtp"), (Lines{"/dev/rtp 0x2000520a = 0", "/dev/rtp 0x20005203 = 0",
                                           "/dev/rtp 0x2000520b = 0", "/dev/rtp 0x8004520d 1 = 0"}));
    EXPECT_EQ(Requests("/dev/hal").back(), "/dev/hal 0x80044d03 1024 = 0");
    EXPECT_EQ(board().device<Sim::Hal>().Get(1024).state, Sim::Hal::State::Disabled);
    sent = peer.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].from, q + 1);
    EXPECT_EQ(sent[0].bytes, Bye(kSsrc));
    EXPECT_EQ(RtpOpens(), 0u);
    EXPECT_TRUE(driver().Sessions().empty());
}

TEST_F(RtpSlotTest, WithoutShostRtcpIsBoundToTheRemotePortPlusOne)
{
    // The server binds any address at P + 1; the far end 127.0.0.2:P + 1.
    std::uint16_t p = FreeRtpPort();
    OwnedFd far = BindUdp("127.0.0.2", static_cast<std::uint16_t>(p + 1), true);
    ASSERT_TRUE(far);
    Peer peer("127.0.0.2");
    peer.fd = std::move(far);
    auto r = host().Create(4, WithSsrc(RtpCreate(p, std::nullopt, TERM::Payload::ptG711_Ulaw, "127.0.0.2")));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(Sim::Rtp::Describe(driver().Get(1024)).substr(0, 80),
              ("channel 1024 remote 127.0.0.2:" + std::to_string(p) + " local 0.0.0.0:" + std::to_string(p) +
               " rxpt 0 txpt 0 pfactor 0 vad 0 crate 0")
                  .substr(0, 80));
    auto sent = peer.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].from, p + 1);
    EXPECT_EQ(sent[0].bytes, Sdes(kSsrc));
}

TEST_F(RtpSlotTest, RefusalsOpenNothingAndLeaveNothingOpen)
{
    Peer peer;
    SimTest::Capture log(std::clog), errors(std::cerr);
    auto refused = [&](LGCP::CreateParams const& c) {
        board().ClearLog();
        auto r = host().Create(5, c);
        EXPECT_EQ(r.size(), 1u);
        EXPECT_TRUE(r.size() == 1 && r[0].IsError(LGCP::ErrorCause::insufficientResources));
        EXPECT_EQ(RtpOpens(), 0u);
        EXPECT_TRUE(peer.Take().empty());
        return Requests("/dev/rtp");
    };

    for (auto payload : {TERM::Payload::ptT38_UDP_TL, TERM::Payload::ptT38_TCP_TPKT, TERM::Payload::reserv_1,
                         TERM::Payload::reserv_3, TERM::Payload::reserv_5, TERM::Payload::ptR2S})
        EXPECT_TRUE(refused(RtpCreate(peer.rtp(), FreeRtpPort(), payload)).empty());
    EXPECT_NE(log.str().find("]: rtp do not created: payload ptT38-UDP-TLnot found\n"), std::string::npos);

    LGCP::CreateParams c = RtpCreate(peer.rtp(), FreeRtpPort());
    c.get_rtp().get_codecRTP().set_pfactor(70000);
    EXPECT_TRUE(refused(c).empty());
    EXPECT_NE(log.str().find("]: rtp do not created: packet factor 70000 out of range\n"), std::string::npos);
    c = RtpCreate(peer.rtp(), FreeRtpPort());
    c.get_rtp().get_codecRTP().get_dhost().set_iaddr("255.255.255.256");
    EXPECT_TRUE(refused(c).empty());

    // The RTCP port is taken (without address reuse on our side).
    std::uint16_t q = FreeRtpPort();
    OwnedFd taken = BindUdp("127.0.0.1", static_cast<std::uint16_t>(q + 1));
    ASSERT_TRUE(taken);
    EXPECT_TRUE(refused(RtpCreate(peer.rtp(), q)).empty());
    EXPECT_NE(log.str().find("rtp do not created: can not bind socket [errno=Address already in use, port=" +
                             std::to_string(q + 1) + "]"),
              std::string::npos);

    board().SetPresent("/dev/rtp", false);
    EXPECT_EQ(refused(RtpCreate(peer.rtp(), FreeRtpPort())), Lines{"/dev/rtp open = -1 ENOENT"});
    EXPECT_NE(errors.str().find("]: device \"/dev/rtp\" open fail: No such file or directory\n"),
              std::string::npos);
    board().SetPresent("/dev/rtp", true);

    // A driver failure ends the create at once: no further request.
    board().Fail("/dev/rtp", Sim::Rtp::kBegin, 1, EIO);
    Lines begin = refused(RtpCreate(peer.rtp(), FreeRtpPort()));
    ASSERT_EQ(begin.size(), 2u);
    EXPECT_EQ(begin[1].substr(begin[1].size() - 8), "= -1 EIO");
    EXPECT_NE(errors.str().find("]: begin session fail !!! Input/output error\n"), std::string::npos);

    board().Fail("/dev/rtp", Sim::Rtp::kAddChannel, 1, ENOSPC);
    Lines add = refused(RtpCreate(peer.rtp(), FreeRtpPort()));
    ASSERT_EQ(add.size(), 3u);
    EXPECT_NE(errors.str().find("]: add channel fail !!!\n"), std::string::npos);

    // Not taken at all: the radio factories' requests.
    c = RtpCreate(peer.rtp(), FreeRtpPort());
    c.get_rtp().get_codecRTP().include_radio();
    EXPECT_TRUE(refused(c).empty());
    // The slot number stays free after every refusal.
    EXPECT_EQ(slot(5), nullptr);
}

TEST_F(RtpSlotTest, QueryReportsTheVoiceCapacities)
{
    Sim::Voice& voice = board().device<Sim::Voice>();
    voice.SetCapacity(4, 11);
    voice.SetCapacity(2, 12);
    voice.SetCapacity(256, 13);
    voice.SetCapacity(1, 14);
    voice.SetCapacity(8, 15);
    voice.SetCapacity(65, 16);
    voice.SetCapacity(128, 0);
    auto r = host().Query();
    ASSERT_EQ(r.size(), 2u);
    ASSERT_TRUE(r[1].signal.is_query());
    LGCP::Resources const& res = r[1].signal.get_query();
    EXPECT_EQ(res.get_rtp_g729().getValue(), 11);
    EXPECT_EQ(res.get_rtp_g723().getValue(), 12);
    EXPECT_EQ(res.get_rtp_g722().getValue(), 13);
    EXPECT_EQ(res.get_rtp_g711().getValue(), 14);
    EXPECT_EQ(res.get_rtp_g711mcc().getValue(), 15);
    EXPECT_EQ(res.get_universal().getValue(), 16);
    EXPECT_EQ(res.get_lin16().getValue(), 0);
    EXPECT_EQ(board().OpenCount("/dev/voice"), 0u);
    EXPECT_EQ(board().Count("/dev/voice", Sim::kOpen), 1u);

    // A board without the voice driver reports none.
    board().SetPresent("/dev/voice", false);
    SimTest::Capture errors(std::cerr);
    r = host().Query();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].signal.get_query().get_rtp_g711().getValue(), 0);
    EXPECT_NE(errors.str().find("device \"/dev/voice\" open fail: "), std::string::npos);
}

TEST_F(RtpSlotTest, DetectorEventsBecomeSignals)
{
    // The helper's slot is an RTP slot that can switch BSS on, as the radio
    // slots do.
    HelperFactory helper;
    Peer peer;
    CreateSlot3(peer);
    auto* s = dynamic_cast<HelperSlot*>(slot(3));
    ASSERT_NE(s, nullptr);
    LGCP::IoctlParams p;
    p.set_dtmf_enable(true);
    ASSERT_EQ(Texts(IoctlOn(3, p)), Lines{"success seq=2 slot=3"});
    Sim::Dtmf& dtmf = board().device<Sim::Dtmf>();
    ASSERT_TRUE(dtmf.Get(1024).detector);
    std::uint32_t id = dtmf.Get(1024).id;
    dtmf.Event(1024, 5, 77, id);
    dtmf.Event(1024, 6, 78, id + 1); // a stale enable's
    Pass();
    EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=3 tonec : { timestamp 77, event dtmf : 5 }"});

    Sim::Dsp& dsp = board().device<Sim::Dsp>();
    p.set_vad_enable(true);
    IoctlOn(3, p);
    p.set_sd_enable(true);
    IoctlOn(3, p);
    ASSERT_TRUE(s->enableBSS(true));
    host().Take();
    Sim::Dsp::Slot ds = dsp.Get(1024);
    dsp.VadEvent(1024, ds.ids[Sim::Dsp::kVad], 1, 1, -1);
    dsp.SdEvent(1024, ds.ids[Sim::Dsp::kSd], 1);
    dsp.BssEvent(1024, ds.ids[Sim::Dsp::kBss], 1.5f);
    dsp.ToneEvent(1024, 0, 2100, 1);
    dsp.FlagsEvent(1024, 0, (1u << 31) | (1u << 29), (1u << 31) | (1u << 29));
    Pass();
    EXPECT_EQ(Texts(host().Take()),
              (Lines{"signal slot=3 vad : { vad-rx TRUE }", "signal slot=3 sd : { sd-rx TRUE }",
                     "signal slot=3 bss : { score \"1.500000\" }",
                     "signal slot=3 tonec : { timestamp 0, event tone-presence : { freq "
                     "2100, presence TRUE } }",
                     "signal slot=3 vad : { vad-rx TRUE }", "signal slot=3 selcal : { in-progress TRUE }"}));
    host().Destroy(3);
}

TEST_F(RtpSlotTest, PacketDetection)
{
    Peer peer;
    CreateSlot3(peer);
    SimTest::Capture log(std::clog), errors(std::cerr);
    LGCP::IoctlParams p;
    p.select_pd_enable().set_timeout(3000);
    EXPECT_EQ(Texts(IoctlOn(3, p)), Lines{"success seq=2 slot=3"});
    EXPECT_EQ(Requests("/dev/rtp"),
              Lines{"/dev/rtp 0xc024520c 1 0 3000 0 0 3000 0 0 0 -> 1 0 3000 0 0 3000 0 0 0 = 0"});
    EXPECT_NE(log.str().find("rtp[1024]: RTP SET EVENT PD timeout=3000\n"), std::string::npos);

    Bytes e = PdEvent(1, 7, 3000);
    EXPECT_EQ(driver().Event(1024, e.data(), e.size()), 1);
    e = PdEvent(2, 8, 3000);
    driver().Event(1024, e.data(), e.size());
    e = PdEvent(1, 9, 3000, 20);
    driver().Event(1024, e.data(), e.size());
    Pass();
    EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=3 rtp : pd : { value 7, timeout 3000 }"});
    EXPECT_NE(log.str().find("rtp[1024]: rtp event:  type=2\n"), std::string::npos);
    EXPECT_NE(errors.str().find("rtp[1024]: short record from rtp (20 bytes), dropped\n"), std::string::npos);

    board().ClearLog();
    p.set_pd_disable();
    EXPECT_EQ(Texts(IoctlOn(3, p)), Lines{"success seq=3 slot=3"});
    EXPECT_EQ(Requests("/dev/rtp"), Lines{"/dev/rtp 0x8004520d 1 = 0"});

    board().Fail("/dev/rtp", Sim::Rtp::kSetEvent, 1, EIO);
    p.select_pd_enable().set_timeout(10);
    EXPECT_TRUE(IoctlOn(3, p)[0].IsError(LGCP::ErrorCause::unsupported));
    EXPECT_NE(errors.str().find("rtp[1024]: RTP SET EVENT PD fail: errno=\"Input/output error\"\n"),
              std::string::npos);
}

TEST_F(RtpSlotTest, DriverEndOfFileReleasesTheWatchOnce)
{
    Peer peer;
    CreateSlot3(peer);
    std::size_t events = multiplexer.event_count();
    SimTest::Capture errors(std::cerr);
    ASSERT_TRUE(driver().Hangup(1024));
    Pass();
    Pass();
    EXPECT_EQ(errors.str(), "rtp[1024]: fail to read from rtp: end of file\n");
    EXPECT_EQ(multiplexer.event_count(), events - 1);
    EXPECT_EQ(Texts(host().Destroy(3)), Lines{"success seq=2 slot=3"});
}

TEST_F(RtpSlotTest, CodecChangeRestartsOnTheSameChannel)
{
    Peer peer;
    auto r = host().Create(3, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort(), TERM::Payload::ptG711_Alaw)));
    ASSERT_EQ(r.size(), 3u);
    board().ClearLog();
    SimTest::Capture log(std::clog);

    LGCP::IoctlParams p;
    p.set_decoder_mode(LGCP::CodecMode::alaw);
    EXPECT_EQ(Texts(IoctlOn(3, p)), Lines{"success seq=2 slot=3"});
    EXPECT_NE(log.str().find("rtp[1024]: do restart RTP session (change tx payload):decoder-mode : alaw - "
                             "Nothing to do\n"),
              std::string::npos)
        << log.str();
    EXPECT_TRUE(board().Log().empty());

    p.set_decoder_mode(LGCP::CodecMode::ulaw);
    EXPECT_EQ(Texts(IoctlOn(3, p)), Lines{"success seq=3 slot=3"});
    Lines requests = Requests("/dev/rtp");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].substr(0, 14), "/dev/rtp open ");
    EXPECT_EQ(requests[2],
              "/dev/rtp 0xc0105202 1024 4294967295 4294967295 0 -> 1024 4294967295 4294967295 0 = 0");
    EXPECT_NE(log.str().find(" - OK\n"), std::string::npos);
    auto sessions = driver().Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].record.rx_pt, 0u);
    EXPECT_EQ(sessions[0].record.tx_pt, 8u);

    // The watch follows the new session.
    p.select_pd_enable().set_timeout(100);
    IoctlOn(3, p);
    Bytes e = PdEvent(1, 4, 100);
    driver().Event(1024, e.data(), e.size());
    Pass();
    EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=3 rtp : pd : { value 4, timeout 100 }"});

    // encoder-mode alike, on the transmit side; lbrc is the create's type.
    p.set_encoder_mode(LGCP::CodecMode::ulaw);
    IoctlOn(3, p);
    EXPECT_EQ(driver().Get(1024).record.tx_pt, 0u);
    p.set_decoder_mode(LGCP::CodecMode::lbrc);
    IoctlOn(3, p);
    EXPECT_EQ(driver().Get(1024).record.rx_pt, 8u);
    EXPECT_EQ(RtpOpens(), 1u);
}

TEST_F(RtpSlotTest, AFailedRestartLetsGoOfTheTimeSlotFirstAndOneThatSucceedsKeepsItsStringThere)
{
    Peer peer;
    CreateSlot3(peer);
    std::size_t events = multiplexer.event_count();
    SimTest::Capture errors(std::cerr);
    ASSERT_EQ(board().Command("fail /dev/rtp 0xc0445200 1 EIO"), "ok\n");
    LGCP::IoctlParams p;
    p.set_decoder_mode(LGCP::CodecMode::ulaw);
    const Lines lost{"signal slot=3 receiver : inactive : NULL",
                     "signal slot=3 transmitter : inactive : NULL"};
    auto refused = [&](std::vector<SlotsTest::Received> const& r, Lines const& signals) {
        Lines texts = Texts(r);
        EXPECT_TRUE(!r.empty() && r.back().IsError(LGCP::ErrorCause::unsupported))
            << ::testing::PrintToString(texts);
        if (!r.empty())
            texts.pop_back();
        EXPECT_EQ(texts, signals);
    };
    refused(IoctlOn(3, p), lost);
    EXPECT_NE(errors.str().find("rtp[1024]: fail to restart RTP session!\n"), std::string::npos);
    EXPECT_EQ(multiplexer.event_count(), events - 1);
    EXPECT_EQ(RtpOpens(), 0u);
    Pass();

    p.select_pd_enable().set_timeout(100);
    refused(IoctlOn(3, p), {});
    EXPECT_NE(errors.str().find("rtp[1024]: no session since a restart failed: time slot 1024 may be another "
                                "slot's, request refused\n"),
              std::string::npos);
    board().ClearLog();
    EXPECT_EQ(Texts(host().Destroy(3)), Lines{"success seq=4 slot=3"});
    EXPECT_TRUE(Requests("/dev/rtp").empty());
    EXPECT_EQ(peer.Take().size(), 1u); // the BYE

    // Ten digits of 500 ms, each with 1209 Hz; the restart fails 200 ms in
    // (a tone) or 700 ms in (a pause). The slot is trunk 1's listener and
    // trunk 2's source, and its DTMF detector is on.
    Sim::Dtmf& dtmf = board().device<Sim::Dtmf>();
    dtmf.SetClock([]() -> std::uint64_t { return Mux::milliseconds(); });
    Sim::Hal& hal = board().device<Sim::Hal>();
    host().Create(1, SlotsTest::Trunk(0, 5));
    host().Create(2, SlotsTest::Trunk(0, 6));
    auto digits = [](int count, int f2, int ms) {
        LGCP::TranslateDtmfParams d;
        for (int i = 0; i < count; ++i) {
            LGCP::DualTone t;
            t.set_freq1(697 + i);
            t.set_freq2(f2);
            d.get_digits().push_back(t);
        }
        d.set_toneDuration(ms);
        d.set_pauseDuration(ms);
        return d;
    };
    // The generator requests on the time slot since the dials were cleared
    // at `t0`: ms after it, f1, f2, l1, l2.
    using Dials = std::vector<std::vector<unsigned>>;
    auto heard = [&](std::uint64_t t0) {
        Dials out;
        for (auto const& d : dtmf.Dials())
            if (d.timeslot == 1024)
                out.push_back({static_cast<unsigned>(d.ms - t0), d.f1, d.f2, d.l1, d.l2});
        return out;
    };
    // Three digits of 400 ms with 1477 Hz, played from `t0` undisturbed.
    Dials three;
    for (unsigned i = 0; i < 3; ++i) {
        three.push_back({800 * i, 697 + i, 1477, 16384, 16384});
        three.push_back({800 * i + 400, 1000, 1000, 0, 0});
    }
    three.push_back({2400, 0, 0, 0, 0});
    auto run = [&](int ms) {
        for (int t = 0; t < ms; t += 100) {
            Mux::test::advance(100);
            Pass();
        }
    };
    for (int cut : {200, 700}) {
        SCOPED_TRACE(cut);
        host().Create(3, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort())));
        host().Connect(1, 3);
        host().Connect(3, 2);
        ASSERT_EQ(hal.Get(1024).value, 5u);
        ASSERT_EQ(hal.Get(6).value, 1024u);
        p.set_dtmf_enable(true);
        IoctlOn(3, p);
        p.set_translateDTMF(digits(10, 1209, 500));
        IoctlOn(3, p);
        Mux::test::advance(cut);
        Pass();
        host().Take();
        dtmf.ClearDials();
        std::uint64_t t0 = Mux::milliseconds();
        ASSERT_EQ(board().Command("fail /dev/rtp 0xc0445200 1 EIO"), "ok\n");
        p.set_decoder_mode(LGCP::CodecMode::ulaw);
        refused(IoctlOn(3, p), lost);
        // While the time slot was still its own: the switch output, the
        // generator (silence, then off), the detector; the paths of both
        // connections are gone.
        EXPECT_EQ(heard(t0), (Dials{{0, 1000, 1000, 0, 0}, {0, 0, 0, 0, 0}}));
        EXPECT_FALSE(dtmf.Get(1024).detector);
        EXPECT_EQ(hal.Get(1024).state, Sim::Hal::State::Disabled);
        EXPECT_EQ(hal.Get(6).state, Sim::Hal::State::Constant);
        EXPECT_EQ(Texts(host().Connect(1, 3)).back().substr(0, 17), "error connectFail");

        // Slot 4 takes the time slot and plays its own string; slot 3's
        // requests, timers and destroy leave it alone.
        host().Create(4, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort())));
        ASSERT_EQ(rtp_slot(4)->IGetTransmitChannel(), 1024);
        dtmf.ClearDials();
        t0 = Mux::milliseconds();
        p.set_dtmf_enable(true);
        IoctlOn(4, p);
        p.set_translateDTMF(digits(3, 1477, 400));
        IoctlOn(4, p);
        // 1000 ms in, inside slot 4's second tone.
        run(1000);
        p.set_activateWaitTone();
        refused(IoctlOn(3, p), {});
        board().ClearLog();
        host().Take();
        EXPECT_EQ(Texts(host().Destroy(3)).size(), 1u);
        for (auto const& r : board().Log())
            ADD_FAILURE() << "the destroy of slot 3: " << Sim::Format(r);
        dtmf.Event(1024, 5, 7, dtmf.Get(1024).id);
        Pass();
        EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=4 tonec : { timestamp 7, event dtmf : 5 }"});
        run(10000);
        EXPECT_EQ(heard(t0), three);
        EXPECT_TRUE(dtmf.Get(1024).detector);
        host().Destroy(4);
        peer.Take();
    }

    // A restart that succeeds, 500 ms in (a pause), keeps the time slot and
    // so the string it plays there: the cadence goes on undisturbed.
    host().Create(3, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort())));
    dtmf.ClearDials();
    std::uint64_t t0 = Mux::milliseconds();
    p.set_translateDTMF(digits(3, 1477, 400));
    IoctlOn(3, p);
    run(500);
    p.set_decoder_mode(LGCP::CodecMode::ulaw);
    EXPECT_EQ(Texts(IoctlOn(3, p)).back().substr(0, 7), "success");
    EXPECT_EQ(driver().Get(1024).record.rx_pt, 0u);
    run(3000);
    EXPECT_EQ(heard(t0), three);
}

TEST_F(RtpSlotTest, TheReceiveDirectionFollowsTheConnection)
{
    Peer peer;
    CreateSlot3(peer);
    host().Create(1, SlotsTest::Trunk(0, 5));
    board().ClearLog();
    EXPECT_EQ(Texts(host().Connect(1, 3)), Lines{"success seq=3 slot=1"});
    EXPECT_EQ(Requests("/dev/rtp"), Lines{"/dev/rtp 0x20005204 = 0"});
    EXPECT_EQ(board().device<Sim::Hal>().Get(1024).value, 5u);
    EXPECT_TRUE(driver().Get(1024).rx);
    board().ClearLog();
    EXPECT_EQ(Texts(host().Disconnect(3)), Lines{"success seq=4 slot=3"});
    EXPECT_EQ(Requests("/dev/rtp"), Lines{"/dev/rtp 0x20005205 = 0"});
    EXPECT_FALSE(driver().Get(1024).rx);
}

TEST_F(RtpSlotTest, IoctlsReachTheirReceivers)
{
    Peer peer;
    CreateSlot3(peer);
    Sim::Dtmf& dtmf = board().device<Sim::Dtmf>();
    Sim::Dsp& dsp = board().device<Sim::Dsp>();
    LGCP::IoctlParams p;
    p.set_echoSuppressor(true);
    EXPECT_EQ(Texts(IoctlOn(3, p)), Lines{"success seq=2 slot=3"});
    EXPECT_TRUE(dtmf.Get(1024).lms);
    p.set_dtmf_reject_enable(true);
    IoctlOn(3, p);
    EXPECT_TRUE(dtmf.Get(1024).rejection);
    p.select_rx_gain().set_gainDB(-6);
    IoctlOn(3, p);
    ASSERT_TRUE(dsp.Config(1024, Sim::Dsp::kRxGain));
    LGCP::ToneFilter& f = p.select_tone_filter();
    f.set_freq(2100);
    f.set_enable(true);
    f.set_duration_th_msec(40);
    f.set_det_level_dB(-30);
    EXPECT_EQ(Texts(IoctlOn(3, p)), Lines{"success seq=5 slot=3"});
    EXPECT_TRUE(dsp.Config(1024, Sim::Dsp::kToneFilter));
    p.set_activateWaitTone();
    IoctlOn(3, p);
    EXPECT_EQ(dtmf.Get(1024).tone[0], 425);
    p.set_deactivateWaitTone();
    IoctlOn(3, p);
    EXPECT_EQ(dtmf.Get(1024).tone[0], 0);
    host().Take();

    // What an RTP slot does not do.
    std::vector<LGCP::IoctlParams> others(6);
    others[0].set_deactivateRecord();
    others[1].set_dtmf_disable();
    others[2].set_mute_disable();
    others[3].set_iva_enable(true);
    others[4].set_tone_gen_disable();
    others[5].select_delays();
    for (auto const& o : others) {
        auto r = IoctlOn(3, o);
        EXPECT_TRUE(r.size() == 1 && r[0].IsError(LGCP::ErrorCause::unsupported)) << o;
    }

    // A destroy inside the wait tone, or inside its pause, leaves the
    // generator off for the time slot's next user, and nothing switches it
    // on again later.
    auto generator = [&] {
        auto const& t = dtmf.Get(1024).tone;
        return std::vector<int>(t, t + 4);
    };
    for (int pause : {0, 1}) {
        if (pause == 1)
            host().Create(3, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort())));
        p.set_activateWaitTone();
        IoctlOn(3, p);
        Mux::test::advance(pause * 1500);
        Pass();
        EXPECT_EQ(generator(),
                  pause == 1 ? (std::vector<int>{1000, 1000, 0, 0}) : (std::vector<int>{425, 0, 2048, 2048}));
        host().Destroy(3);
        EXPECT_EQ(generator(), (std::vector<int>{0, 0, 0, 0})) << pause;
        Mux::test::advance(10000);
        Pass();
        EXPECT_EQ(generator(), (std::vector<int>{0, 0, 0, 0})) << pause;
    }
}

TEST_F(RtpSlotTest, EchoAtCreateAndTheRandomSsrc)
{
    Peer peer;
    LGCP::CreateParams c = RtpCreate(peer.rtp(), FreeRtpPort());
    TERM::RtpEcho echo;
    echo.set_suppressor(true);
    echo.set_canceller(true);
    c.get_rtp().get_codecRTP().set_echo(echo);
    host().Create(3, c);
    EXPECT_TRUE(board().device<Sim::Dtmf>().Get(1024).lms);
    // Without an SSRC the session draws one, and so does the next.
    c.get_rtp().get_codecRTP().remove_echo();
    c.get_rtp().get_codecRTP().get_shost().set_port(FreeRtpPort());
    host().Create(4, c);
    EXPECT_NE(driver().Get(1024).record.ssrc, driver().Get(1025).record.ssrc);
    auto sent = peer.Take();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, Sdes(driver().Get(1024).record.ssrc));
}

TEST_F(RtpSlotTest, TheCreationHelperServesOtherFactories)
{
    Peer peer;
    SimTest::Capture log(std::clog);
    {
        HelperFactory helper;
        helper.refuse = true;
        auto r = host().Create(6, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort())));
        // The helper's refusal passes the request on: the RTP factory takes it.
        EXPECT_EQ(r.size(), 3u);
        EXPECT_EQ(helper.built, std::vector<int>{1024});
        EXPECT_NE(log.str().find("rtp helper[60,60,30,120,120,30]: do create rtp helper: {"),
                  std::string::npos);
        Lines requests = Requests("/dev/rtp");
        ASSERT_GE(requests.size(), 3u);
        EXPECT_EQ(requests[2], "/dev/rtp 0xc0105202 4294967295 4294967295 4294967295 1 -> 1024 4294967295 "
                               "4294967295 1 = 0");
        // Nothing of the refused session stays: the RTP slot got channel
        // 1024 back, and one SDES went out (the RTP slot's).
        EXPECT_EQ(RtpOpens(), 1u);
        EXPECT_EQ(peer.Take().size(), 1u);
        host().Destroy(6);
        peer.Take();

        helper.refuse = false;
        r = host().Create(7, WithSsrc(RtpCreate(peer.rtp(), FreeRtpPort())));
        ASSERT_EQ(r.size(), 3u);
        auto* s = dynamic_cast<HelperSlot*>(slot(7));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->Reuse(), 0);
        EXPECT_EQ(driver().Get(1024).channelWord3, 1u);
        EXPECT_EQ(peer.Take().size(), 1u);
        host().Destroy(7);
    }
    EXPECT_EQ(RtpOpens(), 0u);
}

} // namespace
} // namespace RtpTest
