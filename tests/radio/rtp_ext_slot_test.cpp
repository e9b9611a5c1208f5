// Radio RTP slots through Slots in process: which factory takes a create,
// what reaches the radio-extension driver, and how the extension session
// follows the RTP session.

#include "ed137_messages.hpp"
#include "radio_fixture.hpp"
#include "sim/voice.hpp"
#include "rtp_ext_slot_fixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace RadioSlotTest;

TEST_F(RtpExtSlotTest, VezeCreateAttachesToTheSlotsOwnSessionAndDetachesOnDestroy)
{
    Peer peer;
    auto r = host().Create(3, RadioCreate(peer.rtp(), RadioTest::VezeStatus(),
                                          [](TERM::RtpRadioRequest& q) { q.set_bss_enable(true); }));
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, SlotsTest::Received::Success);
    RtpExtSlot* s = ext_slot(3);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->GetName(), "rtp ext VEZE (GW)");
    EXPECT_TRUE(s->controller()->timer_enabled());

    Sim::RtpExt::Session e = Only();
    EXPECT_EQ(e.etype, 0x1337);
    EXPECT_EQ(e.words[0], 0u);
    EXPECT_TRUE(e.attached);
    EXPECT_EQ(e.pid, ::getpid());
    // The factory's descriptor is closed by now: the record names the
    // slot's, which is the one "/dev/rtp" open left.
    EXPECT_EQ(e.device, "/dev/rtp");
    EXPECT_EQ(RtpOpens(), 1u);
    EXPECT_NE(Sim::Rtp::Describe(driver().Get(1024)).find("word3 1"), std::string::npos);
    // A VEZE slot stores the status and writes nothing.
    EXPECT_TRUE(e.written.empty());
    // The board names the RTP session by the channel the slot announced.
    EXPECT_NE(board().Command("/dev/rtp_ext sessions").find(" channel 1024 "), std::string::npos);

    board().ClearLog();
    host().Destroy(3);
    auto log = board().Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().device, "/dev/rtp_ext");
    EXPECT_TRUE(ext().Sessions().empty());
    EXPECT_EQ(RtpOpens(), 0u);
}

TEST_F(RtpExtSlotTest, RoutingAndRefusalsThatLeaveNothingUpToTheLastDescriptor)
{
    Peer peer;
    // No radio part: the plain RTP slot.
    host().Create(1, RtpCreate(peer.rtp(), FreeRtpPort()));
    ASSERT_NE(slot(1), nullptr);
    EXPECT_STREQ(slot(1)->GetName(), "rtp");

    // A squelch level that no VEZE packet carries: refused before anything
    // is opened, and no other factory takes it.
    SimTest::Capture log(std::clog);
    board().ClearLog();
    RadioTest::VezeStatusValues unfit;
    unfit.squelshe = 110;
    auto r = host().Create(2, RadioCreate(peer.rtp(), RadioTest::VezeStatus(unfit)));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));
    EXPECT_NE(log.str().find("rtp do not created: radio status"), std::string::npos) << log.str();
    EXPECT_EQ(RtpOpens(), 1u);
    EXPECT_TRUE(ext().Sessions().empty());

    auto c = OnlyRtpCreate(peer.rtp());
    board().ClearLog();
    r = host().Create(4, c);
    ASSERT_FALSE(r.empty());
    ASSERT_NE(ext_slot(4), nullptr);
    // only-rtp: the RTP device joins the given extension session; no
    // extension open of our own and no status timer.
    EXPECT_TRUE(ext().Sessions().empty());
    EXPECT_FALSE(ext_slot(4)->controller()->timer_enabled());
    // No bss-enable in the radio part: add-channel word 3 stays 0.
    bool found = false;
    auto const session = driver().Get(static_cast<std::uint32_t>(ext_slot(4)->IGetTransmitChannel()), &found);
    EXPECT_TRUE(found);
    EXPECT_NE(Sim::Rtp::Describe(session).find("word3 0"), std::string::npos) << Sim::Rtp::Describe(session);
    EXPECT_EQ(RtpOpens(), 2u); // the controller's duplicate shares slot 4's open
    auto attached = [&] {
        for (std::string const& line : Requests("/dev/rtp"))
            if (line.find("0xc0085209") != std::string::npos && line.find("= 0") != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(attached());
    host().Destroy(1);
    host().Destroy(4);

    // Descriptors one by one, for each kind: a create is refused with one
    // line, leaving no session, open, port or descriptor behind, until the
    // first that holds every part: its RTCP port bound, its SDES sent and,
    // for a radio slot, its extension session on the board (attached to its
    // RTP session, or the RTP session to the one named).
    enum Radio { None, Own, Joins };
    struct Kind {
        const char* name;
        LGCP::CreateParams create;
        Radio radio;
    };
    Peer far;
    std::vector<Kind> const kinds{
        Kind{"rtp", RtpCreate(far.rtp(), FreeRtpPort()), None},
        Kind{"ed137", RadioCreate(far.rtp(), RadioTest::Status(RadioTest::Header{})), Own},
        Kind{"veze", RadioCreate(far.rtp(), RadioTest::VezeStatus()), Own},
        Kind{"veze only-rtp", OnlyRtpCreate(far.rtp()), Joins}};
    // Each kind made once with descriptors to spare: the board's reader of
    // the extension driver stays from the first radio slot on, and the
    // sanitizers, which check a call's types once, need a pipe of their own
    // to do so.
    for (Kind const& kind : kinds) {
        ASSERT_EQ(host().Create(7, kind.create)[0].kind, SlotsTest::Received::Success);
        host().Destroy(7);
    }
    far.Take();
    for (Kind const& kind : kinds) {
        SCOPED_TRACE(kind.name);
        auto const rtcp = static_cast<std::uint16_t>(
            kind.create.get_rtp().get_codecRTP().get_shost().get_port().getValue() + 1);
        int free = 0;
        for (;; ++free) {
            ASSERT_LT(free, 16);
            // The board lets go of its ends of the opens closed so far.
            ASSERT_EQ(RtpOpens(), 0u);
            std::set<int> const before = SimTest::OpenDescriptors();
            board().ClearLog();
            std::vector<SlotsTest::Received> answer;
            SimTest::Capture info(std::clog), errors(std::cerr);
            {
                SimTest::DescriptorLimit low(free);
                answer = host().Create(7, kind.create);
            }
            ASSERT_FALSE(answer.empty());
            if (slot(7) == nullptr) {
                EXPECT_TRUE(answer[0].IsError(LGCP::ErrorCause::insufficientResources)) << answer[0].Text();
                // On the error stream, or a refusal on the information stream.
                std::string const text = errors.str();
                std::istringstream lines(info.str());
                auto said = std::count(text.begin(), text.end(), '\n');
                for (std::string line; std::getline(lines, line);)
                    said += line.find("rtp do not created: ") != std::string::npos;
                EXPECT_EQ(said, 1) << free << ": " << text << info.str();
                EXPECT_EQ(RtpOpens(), 0u);
                EXPECT_TRUE(ext().Sessions().empty());
                EXPECT_TRUE(BindUdp("0.0.0.0", rtcp)) << free << ": RTCP port " << rtcp << " still bound";
                EXPECT_TRUE(far.Take().empty());
                EXPECT_EQ(SimTest::OpenDescriptors(), before) << free;
                continue;
            }
            EXPECT_EQ(answer[0].kind, SlotsTest::Received::Success);
            EXPECT_FALSE(BindUdp("0.0.0.0", rtcp)) << "RTCP port " << rtcp << " not bound";
            EXPECT_EQ(far.Take().size(), 1u) << "SDES";
            if (kind.radio == Own) {
                ASSERT_EQ(ext().Sessions().size(), 1u);
                EXPECT_TRUE(Only().attached);
            }
            EXPECT_EQ(attached(), kind.radio == Joins);
            EXPECT_TRUE(errors.str().empty()) << errors.str();
            break;
        }
        EXPECT_GT(free, 0);
        host().Destroy(7);
        far.Take(); // its BYE
    }
}

TEST_F(RtpExtSlotTest, Ed137InitRecordFollowsKeepAliveAndPacketFactor)
{
    RTPSignalling::ED137RadioParams d;
    rtp_ext_init_params a = RtpED137Factory::InitRecord(d, 0);
    EXPECT_EQ(a.etype, 0x0167);
    EXPECT_EQ(a.words[0], 1u);
    EXPECT_EQ(a.words[1], 123u);
    EXPECT_EQ(a.words[2], 10u);
    EXPECT_EQ(a.words[3], 1u);
    d.r2s_keepalive_period = 400;
    d.sigtime = 2;
    a = RtpED137Factory::InitRecord(d, 2);
    EXPECT_EQ(a.words[2], 40u);
    EXPECT_EQ(a.words[3], 2u);
    d.sigtime = 0;
    a = RtpED137Factory::InitRecord(d, 2);
    EXPECT_EQ(a.words[2], 20u);
    EXPECT_EQ(a.words[3], 1u);
}

TEST_F(RtpExtSlotTest, CodecChangeReattachesToTheRestartedSession)
{
    Peer peer;
    auto c = RadioCreate(peer.rtp(), RadioTest::VezeStatus());
    c.get_rtp().get_codecRTP().set_payload(TERM::Payload::ptG711_Alaw);
    c.get_rtp().set_txPayload(TERM::Payload::ptG711_Alaw);
    c.get_rtp().set_rxPayload(TERM::Payload::ptG711_Alaw);
    host().Create(3, c);
    ASSERT_NE(ext_slot(3), nullptr);
    auto requests = [this](std::string const& device) {
        std::string out;
        for (std::string const& line : Requests(device)) {
            std::istringstream words(line);
            std::string name, request;
            words >> name >> request;
            out += request + " ";
        }
        return out;
    };

    // The payload it has: the RTP session stays, and the extension session
    // is detached, begun again and attached to it.
    int const open = Only().device_open;
    LGCP::IoctlParams p;
    p.set_encoder_mode(LGCP::CodecMode::alaw);
    board().ClearLog();
    auto r = host().Exchange(Ioctl(p), 3);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, SlotsTest::Received::Success);
    EXPECT_EQ(requests("/dev/rtp_ext"), "0x20004502 open 0xc0144500 0xc0084501 ");
    EXPECT_EQ(requests("/dev/rtp").find("0xc0445200"), std::string::npos);
    EXPECT_TRUE(Only().attached);
    EXPECT_EQ(Only().device_open, open);

    // A new payload: detached, the RTP session begun again, and attached to
    // the new session (the old one is closed by then).
    p.set_encoder_mode(LGCP::CodecMode::ulaw);
    board().ClearLog();
    r = host().Exchange(Ioctl(p), 3);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, SlotsTest::Received::Success);
    EXPECT_EQ(requests("/dev/rtp_ext"), "0x20004502 open 0xc0144500 0xc0084501 ");
    EXPECT_NE(requests("/dev/rtp").find("0xc0445200"), std::string::npos);
    Sim::RtpExt::Session e = Only();
    EXPECT_TRUE(e.attached);
    EXPECT_EQ(e.device, "/dev/rtp");
    EXPECT_EQ(RtpOpens(), 1u);
    EXPECT_NE(board().Command("/dev/rtp_ext sessions").find(" channel 1024 "), std::string::npos);
}

// An ED-137 status whose radio response asks the receive direction to
// follow the radio's squelch.
TERM::RadioStatus SquelchGatedStatus()
{
    TERM::RadioStatus s = RadioTest::Status(RadioTest::Header{});
    TERM::ED137RadioStatus& e = s.get_ed_137();
    e.include_radio_response();
    TERM::ED137RadioResponse& r = e.get_radio_response();
    r.get_type().setValue(2);
    r.get_txrxmode().setValue(2);
    r.set_ptt_id(0);
    r.set_r2s_keepalive_period(400);
    r.set_r2s_keepalive_multiplier(3);
    r.set_sigtime(2);
    r.set_transmission_depend_on_squ(true);
    return s;
}

TEST_F(RtpExtSlotTest, Ed137CreateAnnouncesItsStatusAndGatesReceiveBySquelch)
{
    Peer peer;
    auto r = host().Create(5, RadioCreate(peer.rtp(), SquelchGatedStatus()));
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, SlotsTest::Received::Success);
    RtpExtSlot* s = ext_slot(5);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->GetName(), "rtp ext ED137 (GW)");
    EXPECT_TRUE(s->receiveExternal());
    EXPECT_FALSE(s->receiveOn());
    EXPECT_EQ(s->controller()->interval(), 600u);

    Sim::RtpExt::Session e = Only();
    EXPECT_EQ(e.etype, 0x0167);
    EXPECT_EQ(e.words[0], 1u);
    EXPECT_EQ(e.words[1], 123u);
    EXPECT_EQ(e.words[2], 40u); // 400 / (2 * 10) * sigtime 2
    EXPECT_EQ(e.words[3], 2u);
    EXPECT_EQ(e.pid, -1);
    EXPECT_EQ(e.device, "/dev/rtp");
    // The create's status goes out at once as one header.
    EXPECT_EQ(e.written.size(), 1u);
    std::string written = board().Command("/dev/rtp_ext written channel 1024");
    EXPECT_NE(written.find("ok 1"), std::string::npos) << written;
    EXPECT_NE(board().Command("/dev/rtp_ext written channel 1099").find("error no such channel"),
              std::string::npos);

    // A VEZE modifier on an ED-137 slot: refused, nothing written.
    LGCP::IoctlParams wrong;
    wrong.set_rtpExt(RadioTest::WmTrans({}, "10.9.9.9", 77));
    r = host().Exchange(Ioctl(wrong), 5);
    ASSERT_FALSE(r.empty());
    EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::unsupported));
    EXPECT_EQ(Only().written.size(), 1u);
    // A refused VEZE wm-flags leaves the DSP's Sh as it was.
    board().ClearLog();
    wrong.set_rtpExt(RadioTest::VezeModifier(
        [](TERM::VezeRadioModifierParams& m) { m.select_wm_flags().get_flags().set_sh(true); }));
    r = host().Exchange(Ioctl(wrong), 5);
    ASSERT_FALSE(r.empty());
    EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::unsupported));
    EXPECT_TRUE(Requests("/dev/dsp").empty());

    // SQU on switches receive on once; the first ioctl that finds it off
    // switches it off again.
    RadioTest::Header on;
    on.squ = 1;
    LGCP::IoctlParams rx;
    rx.set_rtpExt(RadioTest::RxCommand(on));
    board().ClearLog();
    r = host().Exchange(Ioctl(rx), 5);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, SlotsTest::Received::Success);
    EXPECT_TRUE(s->receiveOn());
    EXPECT_EQ(Requests("/dev/rtp"), std::vector<std::string>{"/dev/rtp 0x20005204 = 0"});
    board().ClearLog();
    rx.set_rtpExt(RadioTest::RxCommand(RadioTest::Header{}));
    host().Exchange(Ioctl(rx), 5);
    EXPECT_FALSE(s->receiveOn());
    EXPECT_EQ(Requests("/dev/rtp"), std::vector<std::string>{"/dev/rtp 0x20005205 = 0"});
}

TEST_F(RtpExtSlotTest, RadioExtrasReachTheDspInOrderAndWmFlagsEnablesShFirst)
{
    Peer peer;
    board().ClearLog();
    host().Create(3, RadioCreate(peer.rtp(), RadioTest::VezeStatus(), [](TERM::RtpRadioRequest& q) {
                      q.set_rx_delay(20);
                      q.set_bss_enable(true);
                      q.set_ng_enable(true);
                      q.set_selcal_sh_enable(true);
                  }));
    ASSERT_NE(ext_slot(3), nullptr);
    std::vector<std::string> dsp = Requests("/dev/dsp");
    ASSERT_EQ(dsp.size(), 4u) << ::testing::PrintToString(dsp);
    // Delays first (rx 20, tx and selcal 0), then BSS, NG and selcal-sh on.
    EXPECT_NE(dsp[0].find(" 20 0 0"), std::string::npos) << dsp[0];

    board().ClearLog();
    LGCP::IoctlParams flags;
    flags.set_rtpExt(RadioTest::VezeModifier(
        [](TERM::VezeRadioModifierParams& m) { m.select_wm_flags().get_flags().set_sh(true); }));
    host().Exchange(Ioctl(flags), 3);
    auto log = board().Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().device, "/dev/dsp");

    // An ED-137 modifier on a VEZE slot: refused, nothing written.
    std::size_t const written = Only().written.size();
    LGCP::IoctlParams wrong;
    wrong.set_rtpExt(RadioTest::RxCommand(RadioTest::Header{}));
    auto r = host().Exchange(Ioctl(wrong), 3);
    ASSERT_FALSE(r.empty());
    EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::unsupported));
    EXPECT_EQ(Only().written.size(), written);
}

// Whether one of `messages` is a signal of slot `slot` whose text holds `what`.
bool HasSignal(std::vector<SlotsTest::Received> const& messages, unsigned slot, std::string const& what)
{
    for (auto const& m : messages)
        if (m.kind == SlotsTest::Received::Signal && m.slot == slot &&
            m.Text().find(what) != std::string::npos)
            return true;
    return false;
}

TEST_F(RtpExtSlotTest, Ed137SilenceAbortsAndInjectedVezeBecomesASignal)
{
    Peer peer;
    host().Create(5, RadioCreate(peer.rtp(), RadioTest::Status(RadioTest::Header{})));
    host().Create(6, RadioCreate(peer.rtp(), RadioTest::VezeStatus()));
    ASSERT_NE(ext_slot(5), nullptr);
    ASSERT_NE(ext_slot(6), nullptr);
    host().Discard();
    int ed137 = -1, veze = -1;
    for (auto const& [o, session] : ext().Sessions())
        (session.etype == 0x1337 ? veze : ed137) = o;
    ASSERT_GE(ed137, 0);
    ASSERT_GE(veze, 0);

    // Nothing heard from the ED-137 radio: abort 151 two seconds after the
    // create, then every second until a header comes; the next only when
    // the channel has been silent two seconds again.
    std::vector<unsigned> aborts;
    for (unsigned t = 100; t <= 6900; t += 100) {
        Mux::test::advance(100);
        if (HasSignal(host().Take(), 5, "abort : 151"))
            aborts.push_back(t);
        if (t == 4500) {
            ASSERT_TRUE(ext().Inject(ed137, 9, RadioTest::InAddr("10.9.9.9").s_addr, RadioTest::Tx(0)));
            Mux::test::run_once(0);
        }
    }
    EXPECT_EQ(aborts, (std::vector<unsigned>{2000, 3000, 4000}));

    // A VEZE packet from the channel reaches the host with the slot's number.
    sig_proto ptt = RadioTest::VezePacket(SIG_PROTO_GW_FLAG_PTT, 15, 1);
    ASSERT_TRUE(ext().Inject(veze, 77, RadioTest::InAddr("10.9.9.9").s_addr, RadioTest::Pack(ptt)));
    Mux::test::run_once(0);
    auto got = host().Take();
    EXPECT_TRUE(HasSignal(got, 6, "rtpExt")) << ::testing::PrintToString(SlotsTest::Texts(got));
}

// The value notation of `v`.
template <class T>
std::string Notation(T const& v)
{
    std::ostringstream os;
    ASN1::operator<<(os, v);
    return os.str();
}

TEST_F(RtpExtSlotTest, FirstReportCarriesTheCreatesStatus)
{
    Peer peer;
    TERM::RadioStatus const veze = RadioTest::VezeStatus();
    TERM::RadioStatus ed137 = SquelchGatedStatus();
    RadioTest::Fill(ed137.get_ed_137().get_header(), RadioTest::Header{2, 0, 42, true, false, true});
    host().Create(5, RadioCreate(peer.rtp(), ed137));
    host().Create(6, RadioCreate(peer.rtp(), veze));
    ASSERT_NE(ext_slot(5), nullptr);
    ASSERT_NE(ext_slot(6), nullptr);
    host().Discard();
    for (auto const& [open, session] : ext().Sessions())
        ASSERT_TRUE(ext().Inject(open, 77, RadioTest::InAddr("10.9.9.9").s_addr,
                                 session.etype == 0x1337
                                     ? RadioTest::Pack(RadioTest::VezePacket(SIG_PROTO_GW_FLAG_PTT, 15, 1))
                                     : RadioTest::Tx(0)));
    Mux::test::run_once(0);
    std::map<unsigned, TERM::RadioStatus> first;
    for (auto const& m : host().Take())
        if (m.kind == SlotsTest::Received::Signal && m.signal.is_rtpExt() && m.slot)
            first.emplace(*m.slot, m.signal.get_rtpExt().get_status());
    ASSERT_EQ(first.size(), 2u);

    // VEZE: the very status, its frequency text as "%4.6f" writes it.
    EXPECT_EQ(Notation(first[6]), Notation(veze));
    // ED-137: the header, always an SQI (zeros here), never the response.
    ASSERT_TRUE(first[5].is_ed_137());
    TERM::ED137RadioStatus const& e = first[5].get_ed_137();
    EXPECT_EQ(Notation(e.get_header()), Notation(ed137.get_ed_137().get_header()));
    EXPECT_FALSE(e.has_radio_response());
    ASSERT_TRUE(e.has_sqi());
    TERM::ED137RadioExtensionSQI zero;
    RadioTest::Fill(zero, RadioTest::Sqi{});
    EXPECT_EQ(Notation(e.get_sqi()), Notation(zero));
}

TEST_F(RtpExtSlotTest, QueryStillAnswersTheCodecCapacities)
{
    Sim::Voice& voice = board().device<Sim::Voice>();
    voice.SetCapacity(4, 11);
    voice.SetCapacity(1, 14);
    board().ClearLog();
    auto r = host().Query();
    ASSERT_EQ(r.size(), 2u);
    ASSERT_TRUE(r[1].signal.is_query());
    LGCP::Resources const& res = r[1].signal.get_query();
    EXPECT_EQ(res.get_rtp_g729().getValue(), 11);
    EXPECT_EQ(res.get_rtp_g711().getValue(), 14);
    // The radio factories asked the voice driver again, as the RTP one did.
    EXPECT_EQ(board().Count("/dev/voice", Sim::kOpen), 3u);
    EXPECT_EQ(board().OpenCount("/dev/voice"), 0u);
}

TEST_F(RtpExtSlotTest, FailedRestartLeavesTheExtensionSessionDetachedAndTheTimeSlotAlone)
{
    Peer peer;
    host().Create(3, RadioCreate(peer.rtp(), RadioTest::VezeStatus()));
    ASSERT_NE(ext_slot(3), nullptr);
    board().Fail("/dev/rtp", Sim::Rtp::kBegin, 1, EIO);
    LGCP::IoctlParams p;
    p.set_encoder_mode(LGCP::CodecMode::ulaw);
    auto r = host().Exchange(Ioctl(p), 3);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back().kind, SlotsTest::Received::Error);
    EXPECT_TRUE(ext().Sessions().empty());
    // The time slot may be another slot's now: not even Sh reaches it.
    board().ClearLog();
    LGCP::IoctlParams flags;
    flags.set_rtpExt(RadioTest::VezeModifier(
        [](TERM::VezeRadioModifierParams& m) { m.select_wm_flags().get_flags().set_sh(true); }));
    r = host().Exchange(Ioctl(flags), 3);
    EXPECT_TRUE(r.size() == 1 && r[0].IsError(LGCP::ErrorCause::unsupported));
    EXPECT_TRUE(board().Log().empty());
}

TEST_F(RtpExtSlotTest, OnlyRtpCodecChangeKeepsNoDuplicateOfTheOldSession)
{
    Peer peer;
    auto c = OnlyRtpCreate(peer.rtp());
    host().Create(4, c);
    ASSERT_NE(ext_slot(4), nullptr);
    board().ClearLog();
    LGCP::IoctlParams p;
    p.set_encoder_mode(LGCP::CodecMode::ulaw);
    auto r = host().Exchange(Ioctl(p), 4);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, SlotsTest::Received::Success);
    // The restarted session is attached again, and the old open is gone:
    // the controller no longer holds a duplicate of it.
    EXPECT_EQ(Requests("/dev/rtp").back().rfind("/dev/rtp 0xc0085209", 0), 0u);
    EXPECT_EQ(RtpOpens(), 1u);
}

} // namespace
