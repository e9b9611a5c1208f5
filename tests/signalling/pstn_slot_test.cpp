// The PSTN signalling link slot in process, on the simulated board and the
// frozen loop clock: the layer and channel mode of each link kind, when the
// link starts and stops with the slot's connections, trunk status, the
// periodic and event reports, the ioctls, user data, and the basic-rate
// network side's frames over the simulated switch.

#include "signalling/pstn_slot.hpp"

#include "slots/slots_fixture.hpp"

#include "sim/mcc.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

LGCP::CreateParams Ss7(int trunk, bool emergency = false)
{
    LGCP::CreateParams p;
    LGCP::SS7Params& s = p.select_pstn().select_ss7();
    s.set_trunk(trunk);
    s.set_slc(0);
    s.set_dpc(2);
    s.set_opc(1);
    s.set_emergency(emergency);
    return p;
}

LGCP::CreateParams Isdn(LGCP::IsdnType::NamedNumber type, bool network, int trunk = 1, int log = 0)
{
    LGCP::CreateParams p;
    LGCP::IsdnParams& i = p.select_pstn().select_isdn();
    i.set_type(type);
    i.set_trunk(trunk);
    i.set_log(log);
    if (network)
        i.get_side().select_network();
    else
        i.get_side().select_user();
    return p;
}

LGCP::CreateParams Cas(int trunk)
{
    LGCP::CreateParams p;
    p.select_pstn().select_cas().set_trunk(trunk);
    return p;
}

LGCP::Command Ioctl(LGCP::IoctlParams const& params)
{
    LGCP::Command c;
    c.set_ioctl(params);
    return c;
}

LGCP::Command Activate()
{
    LGCP::Command c;
    c.select_activate().select_empty();
    return c;
}

LGCP::Command Deactivate()
{
    LGCP::Command c;
    c.set_deactivate();
    return c;
}

LGCP::Command UserData(Bytes const& bytes)
{
    LGCP::Command c;
    c.select_userData().assign(bytes.begin(), bytes.end());
    return c;
}

// The reports and link signals of a slot, in order: "hdlc", "isdn user",
// "isdn network", "ss7 <state>", "bsn <n>", "status <n>", "activated",
// "deactivated", "data <octets>".
Lines Reports(std::vector<Received> const& messages)
{
    Lines out;
    for (auto const& m : messages) {
        if (m.kind != Received::Signal)
            continue;
        LGCP::Signal const& s = m.signal;
        if (s.is_activated()) {
            out.push_back("activated");
        } else if (s.is_deactivated()) {
            out.push_back("deactivated");
        } else if (s.is_userData()) {
            out.push_back("data " + std::to_string(s.get_userData().size()));
        } else if (s.is_ioctl()) {
            LGCP::IoctlResponse const& r = s.get_ioctl();
            if (r.is_hdlcLinkInfo())
                out.push_back("hdlc");
            else if (r.is_isdnLinkInfo())
                out.push_back(r.get_isdnLinkInfo().get_side().getValue() == ACP::IsdnSide::network
                                  ? "isdn network"
                                  : "isdn user");
            else if (r.is_ss7LinkInfo())
                out.push_back("ss7 " + std::to_string(r.get_ss7LinkInfo().get_ss7state().getValue()));
            else if (r.is_ss7BSN())
                out.push_back("bsn " + std::to_string(r.get_ss7BSN().getValue()));
            else if (r.is_isdnLinkStatus())
                out.push_back("status " + std::to_string(r.get_isdnLinkStatus().getValue()));
        }
    }
    return out;
}

LGCP::Signal TrunkStatus(int trunk, ACP::TrunkState::NamedNumber state)
{
    LGCP::Signal s;
    ACP::TrunkStatus& t = s.select_trunkStatus();
    t.set_trunk(trunk);
    t.set_state(state);
    return s;
}

// A peer on whatever trunk and time slot the test names.
class Peer : public Slot {
public:
    Peer(int trunk, int timeslot) : trunk_(trunk), timeslot_(timeslot) {}
    int GetTrunk() override { return trunk_; }
    int GetTrunkTimeSlot() override { return timeslot_; }
    int IGetTransmitChannel() override { return 5; }
    int IGetReceiveChannel() override { return 5; }
    const char* GetName() const override { return "peer"; }

private:
    int trunk_;
    int timeslot_;
};

class PstnSlots : public Fixture {
protected:
    PstnSlot* pstn(unsigned int n = 10) { return dynamic_cast<PstnSlot*>(slot(n)); }
    Sim::Mcc& mcc() { return board().device<Sim::Mcc>(); }

    // Slot 10 of the given kind, and slot 3 on trunk 0, time slot 3 (switch
    // channel 3), or on basic-rate line 1, channel 1 (switch channel 5).
    void Make(LGCP::CreateParams const& params, bool bri = false)
    {
        auto const created = host().Create(10, params);
        ASSERT_EQ(Texts(created), Lines{"success seq=" + std::to_string(host().LastSeq()) + " slot=10"});
        host().Create(3, bri ? TrunkBRI(1, 1) : Trunk(0, 3));
        host().Take();
    }
    // Both directions: the peer feeds the link, the link feeds the peer.
    // What the host got meanwhile.
    std::vector<Received> ConnectBoth()
    {
        auto got = host().Connect(3, 10);
        auto const more = host().Connect(10, 3);
        got.insert(got.end(), more.begin(), more.end());
        Pass();
        auto const later = host().Take();
        got.insert(got.end(), later.begin(), later.end());
        return got;
    }
    void Pass(int n = 3)
    {
        for (int i = 0; i < n && multiplexer.event_count() > 0; ++i)
            Mux::test::run_once(0);
    }
    // Frames the link wrote that reached switch channel `channel`.
    std::vector<Bytes> Sent(std::uint32_t channel)
    {
        mcc().Pump();
        std::vector<Bytes> out;
        for (auto const& f : mcc().TakeSent(channel))
            out.emplace_back(f.begin(), f.end());
        return out;
    }
    void Arrive(std::uint32_t channel, Bytes const& frame)
    {
        mcc().Receive(channel, frame.data(), frame.size());
        Pass();
    }
    // The driver mode of the one controller allocated, -1 when none.
    int DriverMode()
    {
        auto const controllers = mcc().Controllers();
        if (controllers.size() != 1)
            return -1;
        return static_cast<int>(controllers.begin()->second.words[0]);
    }

    PstnFactory factory_;
};

TEST_F(PstnSlots, EachKindMakesItsLayerAndChannelMode)
{
    struct Case {
        LGCP::CreateParams params;
        bool bri;
        PstnSlot::Kind kind;
        char const* layer;
        int driver_mode;
    };
    Case const cases[] = {
        {Ss7(1), false, PstnSlot::ss7_or_cas, "ss7", 3},
        {Isdn(LGCP::IsdnType::pri, false), false, PstnSlot::isdn_pri, "lapd user", 0},
        {Isdn(LGCP::IsdnType::pri, true), false, PstnSlot::isdn_pri, "lapd network", 0},
        {Isdn(LGCP::IsdnType::bri, false), true, PstnSlot::isdn_bri_user, "lapd user bri", 1},
        {Isdn(LGCP::IsdnType::bri, true), true, PstnSlot::isdn_bri_network, "nt", 1},
        {Cas(1), false, PstnSlot::ss7_or_cas, "none", 3},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.layer);
        Make(c.params, c.bri);
        PstnSlot* p = pstn();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->kind(), c.kind);
        std::string layer = "none";
        if (p->ss7())
            layer = "ss7";
        else if (p->lapd_nt())
            layer = "nt";
        else if (p->lapd())
            layer = std::string("lapd ") + (p->lapd()->side == ISDN::Side::network ? "network" : "user") +
                    (p->lapd()->is_bri() ? " bri" : "");
        EXPECT_EQ(layer, c.layer);
        ConnectBoth();
        EXPECT_TRUE(p->channel().is_open());
        EXPECT_EQ(DriverMode(), c.driver_mode);
        // The time slot of the peer feeds the controller.
        EXPECT_EQ(p->channel().rx_channel, c.bri ? 5 : 3);
        host().Destroy(10);
        host().Destroy(3);
        host().Take();
        EXPECT_TRUE(mcc().Controllers().empty());
    }
}

TEST_F(PstnSlots, PrimaryRateStartsOnItsReceiveSideAndBasicRateOnBoth)
{
    // Kind 1: the link feeding the peer is not enough; the peer feeding the
    // link starts it (SABME on the peer's channel).
    Make(Isdn(LGCP::IsdnType::pri, false));
    host().Connect(10, 3);
    EXPECT_FALSE(pstn()->channel().is_open());
    host().Connect(3, 10);
    Pass();
    EXPECT_TRUE(pstn()->channel().is_open());
    EXPECT_EQ(Sent(3), (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
    host().Destroy(10);
    host().Destroy(3);

    // Basic rate, either order.
    for (bool receive_first : {true, false}) {
        SCOPED_TRACE(receive_first);
        Make(Isdn(LGCP::IsdnType::bri, false), true);
        host().Connect(receive_first ? 3 : 10, receive_first ? 10 : 3);
        EXPECT_FALSE(pstn()->channel().is_open());
        host().Connect(receive_first ? 10 : 3, receive_first ? 3 : 10);
        EXPECT_TRUE(pstn()->channel().is_open());
        EXPECT_EQ(pstn()->channel().rx_channel, 5);
        EXPECT_EQ(pstn()->channel().tx_channel, 5);
        host().Destroy(10);
        host().Destroy(3);
        host().Take();
    }
}

TEST_F(PstnSlots, PeerBeyondTheTrunksOrTimeSlotsIsRefused)
{
    Make(Isdn(LGCP::IsdnType::pri, false));
    Capture err(std::cerr);
    Peer fifth(4, 1);
    EXPECT_FALSE(pstn()->IHwConnectReceiver(fifth));
    EXPECT_EQ(err.str(), "pstn-slot: invalid trunk number: 4\n");
    EXPECT_FALSE(pstn()->channel().is_open());

    err.clear();
    Peer past(0, 32);
    EXPECT_FALSE(pstn()->IHwConnectReceiver(past));
    EXPECT_EQ(err.str(), "pstn-slot: invalid timeslot: 32\n");
    EXPECT_FALSE(pstn()->channel().is_open());
    EXPECT_EQ(pstn()->channel().rx_channel, -1);

    // Not a trunk at all (-1, -1): the channel still connects.
    Peer backplane(-1, -1);
    EXPECT_TRUE(pstn()->IHwConnectReceiver(backplane));
    EXPECT_TRUE(pstn()->channel().is_open());
    EXPECT_EQ(pstn()->channel().source_trunk, -1);
    pstn()->channel().deactivate();
}

TEST_F(PstnSlots, DisconnectsStopTheLinkByKind)
{
    // SS7: the send side's disconnect leaves the link aligning; the receive
    // side's stops it.
    Make(Ss7(1));
    ConnectBoth();
    EXPECT_EQ(pstn()->ss7()->state(), SS7::SLC::State::not_aligned);
    host().Disconnect(3); // the link no longer feeds the peer
    EXPECT_EQ(pstn()->ss7()->state(), SS7::SLC::State::not_aligned);
    host().Take();
    auto const stopped = host().Disconnect(10); // the peer no longer feeds the link
    EXPECT_EQ(pstn()->ss7()->state(), SS7::SLC::State::idle);
    EXPECT_EQ(Reports(stopped), (Lines{"ss7 0", "hdlc", "ss7 0", "deactivated"}));
    host().Destroy(10);
    host().Destroy(3);

    // Basic rate: either side's disconnect stops it.
    for (unsigned int gone : {3u, 10u}) {
        SCOPED_TRACE(gone);
        Make(Isdn(LGCP::IsdnType::bri, false), true);
        ConnectBoth();
        ASSERT_EQ(pstn()->lapd()->full_state().state, 4u); // SABME sent
        host().Take();
        auto const stopped = host().Disconnect(gone);
        EXPECT_EQ(pstn()->lapd()->full_state().state, 3u);
        Lines const reports = Reports(stopped);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), "deactivated");
        host().Destroy(10);
        host().Destroy(3);
        host().Take();
    }
}

// A channel that ends takes the link out of service, and the host hears it.
TEST_F(PstnSlots, Ss7LinkOnADeadChannelGoesOutOfService)
{
    Make(Ss7(1));
    ConnectBoth();
    Arrive(3, {0xFF, 0xFF, 0x01, SS7::SLC::SIN});
    Arrive(3, {0xFF, 0xFF, 0x00});
    ASSERT_EQ(pstn()->ss7()->state(), SS7::SLC::State::worked);
    host().Take();
    Capture err(std::cerr);
    ASSERT_TRUE(mcc().Eof(mcc().Controllers().begin()->first));
    Pass();
    EXPECT_EQ(pstn()->ss7()->state(), SS7::SLC::State::idle);
    EXPECT_EQ(Reports(host().Take()), (Lines{"ss7 0", "hdlc", "ss7 0", "deactivated"}));
}

TEST_F(PstnSlots, TrunkStatusReachesTheSs7LinkOnChangeForItsTrunk)
{
    Make(Ss7(2)); // trunk status index 1
    ConnectBoth();
    host().Take();
    auto const running = [&] { return pstn()->ss7()->state() != SS7::SLC::State::idle; };
    // The first `unknown` is no change: the link keeps aligning.
    factory_.SelfSignal(TrunkStatus(1, ACP::TrunkState::unknown));
    EXPECT_TRUE(running());
    factory_.SelfSignal(TrunkStatus(0, ACP::TrunkState::lossCarrier)); // another trunk
    EXPECT_TRUE(running());
    LGCP::Signal basicRate = TrunkStatus(1, ACP::TrunkState::lossCarrier); // an SPI framer's line
    basicRate.get_trunkStatus().set_type(ACP::TrunkType::bri);
    factory_.SelfSignal(basicRate);
    EXPECT_TRUE(running());
    factory_.SelfSignal(TrunkStatus(1, ACP::TrunkState::lossCarrier));
    EXPECT_FALSE(running());
    host().Exchange(Activate(), 10);
    ASSERT_TRUE(running());
    // The same state again does not reach the link; another one does.
    factory_.SelfSignal(TrunkStatus(1, ACP::TrunkState::lossCarrier));
    EXPECT_TRUE(running());
    factory_.SelfSignal(TrunkStatus(1, ACP::TrunkState::ais));
    EXPECT_FALSE(running());

    // A slot without an SS7 layer ignores trunk status.
    host().Destroy(10);
    Make(Cas(2));
    factory_.SelfSignal(TrunkStatus(1, ACP::TrunkState::lossCarrier));
}

TEST_F(PstnSlots, ReportsEveryThreeSecondsByKind)
{
    struct Case {
        LGCP::CreateParams params;
        bool bri;
        Lines first;  // at 3000 ms
        Lines second; // at 6000 ms
    };
    Case const cases[] = {
        {Cas(1), false, {"hdlc"}, {"hdlc"}},
        {Ss7(1), false, {"hdlc", "ss7 0"}, {"hdlc", "ss7 0"}},
        // The LAPD report only when it changed, with the layer's side.
        {Isdn(LGCP::IsdnType::pri, true), false, {"hdlc", "isdn network"}, {"hdlc"}},
        {Isdn(LGCP::IsdnType::bri, false), true, {"hdlc", "isdn user"}, {"hdlc"}},
        // The basic-rate network side has no LAPD report.
        {Isdn(LGCP::IsdnType::bri, true), true, {"hdlc"}, {"hdlc"}},
    };
    for (Case const& c : cases) {
        Make(c.params, c.bri);
        Mux::test::advance(2999);
        EXPECT_TRUE(Reports(host().Take()).empty());
        Mux::test::advance(1);
        EXPECT_EQ(Reports(host().Take()), c.first);
        Mux::test::advance(3000);
        EXPECT_EQ(Reports(host().Take()), c.second);
        host().Destroy(10);
        host().Destroy(3);
        host().Take();
    }
}

TEST_F(PstnSlots, Ss7ReportCarriesNoSpeedAndTheRetransmissionBufferAsItIs)
{
    Make(Ss7(1));
    Mux::test::advance(3000);
    auto const messages = host().Take();
    bool seen = false;
    for (auto const& m : messages) {
        if (m.kind != Received::Signal || !m.signal.is_ioctl() || !m.signal.get_ioctl().is_ss7LinkInfo())
            continue;
        ACP::SS7LinkInfo const& info = m.signal.get_ioctl().get_ss7LinkInfo();
        EXPECT_EQ(info.get_speedRx().getValue(), 0);
        EXPECT_EQ(info.get_speedTx().getValue(), 0);
        EXPECT_EQ(info.get_rtbSize().getValue(), static_cast<long long>(pstn()->ss7()->statistics().rtbSize));
        EXPECT_EQ(info.get_ss7state().getValue(), ACP::SS7State::idle);
        seen = true;
    }
    EXPECT_TRUE(seen);
}

TEST_F(PstnSlots, LapdEstablishmentAndReleaseReportInOrder)
{
    Make(Isdn(LGCP::IsdnType::pri, false));
    ConnectBoth();
    ASSERT_EQ(Sent(3), (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
    host().Take();
    // UA from the network (Q.921 3.6.2: a response from the network side
    // carries C/R 0).
    Arrive(3, {0x00, 0x01, 0x73});
    EXPECT_EQ(Reports(host().Take()), (Lines{"isdn user", "activated"}));

    // A layer-3 message each way.
    host().Exchange(UserData({0x08, 0x01, 0x01, 0x05}), 10);
    auto const out = Sent(3);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], (Bytes{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05}));
    Arrive(3, {0x02, 0x01, 0x00, 0x02, 0x08, 0x01, 0x81, 0x02});
    EXPECT_EQ(Reports(host().Take()), (Lines{"data 4"}));

    // Release: DISC out, UA in; the reports before `deactivated`.
    host().Exchange(Deactivate(), 10);
    host().Take();
    Sent(3);
    Arrive(3, {0x00, 0x01, 0x73});
    EXPECT_EQ(Reports(host().Take()), (Lines{"isdn user", "hdlc", "deactivated"}));
}

TEST_F(PstnSlots, FailedChannelStartSaysDeactivatedAndTheSlotStaysUsable)
{
    Make(Ss7(1));
    board().Fail("/dev/mcc/ctl", Sim::kOpen, 1, EMFILE);
    auto const got = ConnectBoth();
    EXPECT_FALSE(pstn()->channel().is_open());
    EXPECT_EQ(pstn()->ss7()->state(), SS7::SLC::State::idle);
    EXPECT_EQ(Reports(got), Lines{"deactivated"});
    host().Exchange(Activate(), 10);
    EXPECT_TRUE(pstn()->channel().is_open());
    EXPECT_EQ(pstn()->ss7()->state(), SS7::SLC::State::not_aligned);
}

TEST_F(PstnSlots, IoctlsNeedTheSs7Layer)
{
    Make(Ss7(1));
    LGCP::IoctlParams bsn;
    bsn.select_ss7RqBSN();
    auto answer = host().Exchange(Ioctl(bsn), 10);
    EXPECT_EQ(Reports(answer), Lines{"bsn 127"});
    EXPECT_EQ(answer.back().kind, Received::Success);

    LGCP::IoctlParams log;
    LGCP::SS7L2Log& l = log.select_ss7Log();
    l.set_state(true);
    l.set_raw_receive(false);
    l.set_raw_transmit(true);
    l.set_mtp_transmit(false);
    l.set_mtp_receive(true);
    l.set_mtp_activate(false);
    l.set_timers(true);
    l.set_msu_processing(true);
    EXPECT_EQ(host().Exchange(Ioctl(log), 10).back().kind, Received::Success);
    SS7::SLC::LogSwitches const& s = pstn()->ss7()->log;
    EXPECT_EQ((std::vector<bool>{s.state, s.raw_receive, s.raw_transmit, s.mtp_transmit, s.mtp_receive,
                                 s.mtp_activate, s.timers, s.msu_processing}),
              (std::vector<bool>{true, false, true, false, true, false, true, true}));

    LGCP::IoctlParams other;
    other.select_deactivateTonec();
    EXPECT_TRUE(host().Exchange(Ioctl(other), 10).back().IsError(LGCP::ErrorCause::unsupported));
    host().Destroy(10);

    for (auto const& params : {Cas(1), Isdn(LGCP::IsdnType::pri, false)}) {
        host().Create(10, params);
        EXPECT_TRUE(host().Exchange(Ioctl(bsn), 10).back().IsError(LGCP::ErrorCause::unsupported));
        EXPECT_TRUE(host().Exchange(Ioctl(log), 10).back().IsError(LGCP::ErrorCause::unsupported));
        host().Destroy(10);
    }
}

TEST_F(PstnSlots, UserDataThatCannotFitIsRefusedAndCasDropsIt)
{
    // Every ISDN kind: an I or UI frame carries at most N201 octets.
    for (bool const bri : {false, true})
        for (bool const network : {false, bri}) {
            Make(Isdn(bri ? LGCP::IsdnType::bri : LGCP::IsdnType::pri, network), bri);
            EXPECT_FALSE(pstn()->IUserData(std::vector<char>(ISDN::LAPD::N201 + 1)));
            EXPECT_TRUE(pstn()->IUserData(std::vector<char>(ISDN::LAPD::N201)));
            host().Destroy(10);
        }

    Make(Cas(1));
    auto const got = ConnectBoth();
    EXPECT_EQ(host().Exchange(UserData({1, 2, 3}), 10).back().kind, Received::Success);
    EXPECT_TRUE(Sent(3).empty());
    // No layer: the channel opens and nothing says `activated`.
    EXPECT_TRUE(pstn()->channel().is_open());
    EXPECT_EQ(Reports(got), Lines{});
}

TEST_F(PstnSlots, FlowStatusGoesToTheHost)
{
    Make(Isdn(LGCP::IsdnType::pri, false));
    ConnectBoth();
    Sent(3);
    Arrive(3, {0x00, 0x01, 0x73});
    host().Take();
    // Without acknowledgements the window fills and the outgoing queue grows
    // past its congestion mark; one RR for everything sent drains it.
    for (int i = 0; i < 100; ++i)
        pstn()->IUserData(std::vector<char>{0x08, 0x01, 0x01, 0x05});
    EXPECT_EQ(Reports(host().Take()), Lines{"status 1"});
    for (int round = 0; round < 20 && pstn()->lapd()->flow_status() != ISDN::LAPD::FlowStatus::normal;
         ++round) {
        Sent(3);
        unsigned int const vs = pstn()->lapd()->full_state().vs.value();
        Arrive(3, {0x00, 0x01, 0x01, static_cast<unsigned char>(vs << 1)});
    }
    Lines const reports = Reports(host().Take());
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), "status 0");
}

// The network side of a basic-rate line over the simulated switch: a
// terminal's identity request is answered, and frames the channel refuses
// wait and leave in order.
TEST_F(PstnSlots, BasicRateNetworkSideRunsOverTheChannel)
{
    Make(Isdn(LGCP::IsdnType::bri, true), true);
    auto const got = ConnectBoth();
    // On activation: an identity check request to every terminal (Q.921
    // 5.3.5.2), and `activated` at once.
    EXPECT_EQ(Sent(5), (std::vector<Bytes>{{0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x04, 0xFF}}));
    EXPECT_EQ(Reports(got), Lines{"activated"});

    // Identity request, Ri 0x1234, Ai 127 (Q.921 5.3.2): TEI 64 assigned,
    // then SABME to the new terminal.
    Arrive(5, {0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF});
    EXPECT_EQ(Sent(5),
              (std::vector<Bytes>{{0xFE, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x02, 0x81}, {0x02, 0x81, 0x7F}}));
    EXPECT_EQ(pstn()->lapd_nt()->user(0).tei(), 64);
    // The terminal's I frame comes up to the host.
    Arrive(5, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x07, 0x05});
    EXPECT_EQ(Reports(host().Take()), Lines{"data 4"});
    Sent(5);

    // Broadcast SETUPs while the board takes nothing: the channel refuses
    // after a few, the rest wait, and all leave in order once it takes them.
    for (unsigned char i = 0; i < 40; ++i)
        host().Exchange(UserData({0x08, 0x01, i, 0x05}), 10);
    EXPECT_GT(pstn()->queued(), 0u);
    std::vector<Bytes> out;
    for (int round = 0; round < 40 && (pstn()->queued() > 0 || out.size() < 40); ++round) {
        auto const more = Sent(5);
        out.insert(out.end(), more.begin(), more.end());
        Pass();
    }
    ASSERT_EQ(out.size(), 40u);
    for (unsigned char i = 0; i < 40; ++i)
        EXPECT_EQ(out[i], (Bytes{0x02, 0xFF, 0x03, 0x08, 0x01, i, 0x05}));
    EXPECT_EQ(pstn()->queued(), 0u);
    EXPECT_EQ(pstn()->channel().txOverflow, 0u);
}

// A message too long for one frame is refused at the host's command; a
// frame the channel fails to write is dropped, counted and logged once, and
// the frames behind it still leave.
TEST_F(PstnSlots, FrameTheChannelCannotWriteNeitherWaitsNorBlocks)
{
    Make(Isdn(LGCP::IsdnType::bri, true), true);
    ConnectBoth();
    Sent(5);
    Capture err(std::cerr);
    Bytes setup(9000, 0x55);
    setup[3] = 0x05;
    EXPECT_TRUE(host().Exchange(UserData(setup), 10).back().IsError(LGCP::ErrorCause::unsupported));
    Packet frame;
    frame.reserve_head(0);
    frame.put(setup.data(), static_cast<unsigned int>(setup.size()));
    pstn()->transmit(frame);
    for (unsigned char i = 1; i <= 2; ++i)
        EXPECT_EQ(host().Exchange(UserData({0x08, 0x01, i, 0x05}), 10).back().kind, Received::Success);
    EXPECT_EQ(Sent(5), (std::vector<Bytes>{{0x02, 0xFF, 0x03, 0x08, 0x01, 0x01, 0x05},
                                           {0x02, 0xFF, 0x03, 0x08, 0x01, 0x02, 0x05}}));
    EXPECT_EQ(pstn()->queued(), 0u);
    EXPECT_EQ(pstn()->channel().txError, 1u);
    EXPECT_EQ(
        err.str(),
        "pstn-slot[10:pstn]: user data of 9000 octets is longer than an information field (260 octets), "
        "refused\n"
        "hdlc [0/0]: write error: longer than the channel takes, frame of 9000 octets dropped\n");
}

} // namespace
