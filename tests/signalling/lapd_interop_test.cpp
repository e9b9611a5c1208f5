// The data link against two independent Q.921 stacks on the loop's test
// clock: libpri's network side and CPE on a primary-rate link (with Q.931
// messages each way), libosmo-abis's user side, and libpri's basic-rate
// point-to-multipoint network assigning the project's terminal a TEI.
// tshark reads every frame and must find nothing to complain about.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/lapd_helper.hpp"
#include "signalling/peers/interop.hpp"
#include "signalling/peers/osmo_peer.hpp"
#include "signalling/peers/pri_peer.hpp"
#include "support/tshark.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

extern "C" {
#include <osmocom/gsm/lapd_core.h>
}

namespace {

using ISDN::Side;
using LapdTest::Bytes;
using LapdTest::Link;
using SigTest::ExpectCleanLapd;
using SigTest::PriPeer;

// A Q.931 SETUP (Q.931 3.1.14): speech bearer, B channel 1 exclusive, called
// number 1234. A primary-rate link uses two-octet call references and the
// primary-rate form of the channel identification (Q.931 4.3, 4.5.13).
Bytes SetupMessage(bool primary)
{
    Bytes m = primary ? Bytes{0x08, 0x02, 0x00, 0x05, 0x05} : Bytes{0x08, 0x01, 0x05, 0x05};
    const Bytes bearer{0x04, 0x03, 0x80, 0x90, 0xA3};
    const Bytes channel = primary ? Bytes{0x18, 0x03, 0xA9, 0x83, 0x81} : Bytes{0x18, 0x01, 0x89};
    const Bytes called{0x70, 0x05, 0x81, '1', '2', '3', '4'};
    for (const Bytes* ie : {&bearer, &channel, &called})
        m.insert(m.end(), ie->begin(), ie->end());
    return m;
}

// The message type of a Q.931 message (after its call reference).
int MessageType(const Bytes& m)
{
    if (m.size() < 2 || m.size() < 3u + (m[1] & 0x0F))
        return -1;
    return m[2u + (m[1] & 0x0F)];
}

bool HasSetup(const std::vector<Bytes>& messages)
{
    return std::any_of(messages.begin(), messages.end(),
                       [](const Bytes& m) { return m[0] == 0x08 && MessageType(m) == 0x05; });
}

// libpri answers every SETUP with CALL PROCEEDING, an I frame towards the
// side that called.
void ProceedOnRing(PriPeer& peer)
{
    peer.on_event = [&peer](pri_event& e) {
        if (e.e == PRI_EVENT_RING)
            pri_proceeding(peer.pri(), e.ring.call, e.ring.channel, 0);
    };
}

class LapdInterop : public SigTest::InteropTest {};

// The project's side `ours` and libpri's `peer` on a primary-rate link:
// establishment, a SETUP each way, the idle link's poll answered, and a
// release by the project's side.
void PrimaryRateExchange(Link& ours, PriPeer& peer)
{
    ASSERT_TRUE(SigTest::RunFor(1000));
    ASSERT_EQ(ours.lapd().full_state().state, 6u);
    ASSERT_TRUE(peer.up());
    EXPECT_EQ(ours.activations, 1u);

    ASSERT_NE(peer.Call(1, "5551234"), nullptr);
    ASSERT_TRUE(SigTest::RunFor(100));
    EXPECT_TRUE(HasSetup(ours.received)) << "libpri's SETUP did not reach layer 3";
    ours.Send(SetupMessage(true));
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(peer.Count(PRI_EVENT_RING), 1);
    EXPECT_STREQ(peer.last_ring->callednum, "1234");

    // Idle: whichever T203 runs out first polls, and the other answers.
    const auto polls = ours.lapd().stats().t203_expired;
    ASSERT_TRUE(SigTest::RunFor(25000));
    EXPECT_GT(ours.lapd().stats().t203_expired, polls);
    EXPECT_EQ(ours.lapd().full_state().state, 6u);
    EXPECT_EQ(ours.lapd().stats().t200_expired, 0u) << "a poll went unanswered";
    EXPECT_TRUE(ours.reports.empty());
    EXPECT_TRUE(peer.up());

    ours.deactivate();
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_FALSE(ours.releases.empty());
    EXPECT_EQ(ours.releases.front(), "+success (UA received)");
    EXPECT_GE(peer.Count(PRI_EVENT_DCHAN_DOWN), 1);
}

TEST_F(LapdInterop, UserSideWithLibpriNetwork)
{
    Link user(pair.a, Side::user);
    PriPeer net(pair.b, PRI_NETWORK);
    user.activate();
    PrimaryRateExchange(user, net);
    ExpectCleanLapd(tap.frames());
}

// The project's end goes on the pair first: the CPE sends its SABME from
// its constructor.
TEST_F(LapdInterop, NetworkSideWithLibpriCpe)
{
    Link net(pair.b, Side::network);
    PriPeer cpe(pair.a, PRI_CPE);
    PrimaryRateExchange(net, cpe);
    ExpectCleanLapd(tap.frames());
}

// libosmo-abis's user side (profile lapd_profile_isdn) against the
// project's network side.
TEST_F(LapdInterop, NetworkSideWithLibosmoUser)
{
    Link net(pair.b, Side::network);
    {
        SigTest::OsmoLapdPeer user(pair.a, SigTest::OsmoLapdPeer::Side::user);
        ASSERT_EQ(user.Start(0, 0), 0);
        ASSERT_TRUE(SigTest::RunFor(1000));
        ASSERT_TRUE(user.established());
        ASSERT_EQ(net.lapd().full_state().state, 6u);

        const Bytes from_user{0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3};
        const Bytes from_net{0x08, 0x01, 0x81, 0x0D};
        for (int i = 0; i < 3; ++i) {
            user.Send(from_user);
            net.Send(from_net);
        }
        ASSERT_TRUE(SigTest::RunFor(100));
        EXPECT_EQ(net.received, std::vector<Bytes>(3, from_user));
        EXPECT_EQ(user.received, std::vector<Bytes>(3, from_net));

        const auto polls = net.lapd().stats().t203_expired;
        ASSERT_TRUE(SigTest::RunFor(25000));
        EXPECT_GT(net.lapd().stats().t203_expired, polls);
        EXPECT_EQ(net.lapd().full_state().state, 6u);
        EXPECT_EQ(net.lapd().stats().t200_expired, 0u) << "a poll went unanswered";
        EXPECT_TRUE(user.established());
        EXPECT_EQ(user.Count(PRIM_MDL_ERROR), 0);
        EXPECT_TRUE(net.reports.empty());
    }
    EXPECT_EQ(SigTest::OsmoMsgbsInUse(), 0u);
    ExpectCleanLapd(tap.frames());
}

// A basic-rate terminal on libpri's point-to-multipoint network: once TEI 0
// is taken away, a DL-ESTABLISH asks for a TEI and goes on to establish.
TEST_F(LapdInterop, BasicRateUserGetsItsTeiFromLibpri)
{
    SigTest::MultipointHdlc bus(1);
    bus.network().direction = 'I';
    bus.terminal(0).direction = 'O';
    bus.SetTap(&tap);
    PriPeer net(bus.network(), PRI_NETWORK, PriPeer::Interface::basic_rate_multipoint);
    ProceedOnRing(net);
    Link user(bus.terminal(0), Side::user);
    user.lapd().change_to_bri();
    user.lapd().mdl_remove();
    user.activate();
    ASSERT_TRUE(SigTest::RunFor(2000));
    const auto& s = user.lapd().full_state();
    ASSERT_EQ(s.state, 6u);
    EXPECT_GE(s.self_tei, 64);
    EXPECT_LE(s.self_tei, 126);
    EXPECT_EQ(user.activations, 1u);

    // SETUP in an I frame from the terminal; CALL PROCEEDING in one back.
    user.Send(SetupMessage(false));
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(net.Count(PRI_EVENT_RING), 1);
    EXPECT_STREQ(net.last_ring->callednum, "1234");
    ASSERT_EQ(user.received.size(), 1u);
    EXPECT_EQ(MessageType(user.received[0]), 0x02);
    bool i_from_net = false;
    for (const auto& f : tap.From("network"))
        i_from_net = i_from_net || (f.bytes.size() > 4 && (f.bytes[2] & 1) == 0);
    EXPECT_TRUE(i_from_net);
    EXPECT_EQ(user.lapd().stats().rx_iframes, 1u);
    ExpectCleanLapd(tap.frames());
}

// The basic-rate network side serves a full bus: three libpri basic-rate
// CPEs and five of the project's user sides get TEIs 64 to 71 in the order
// of their requests and establish their links; a ninth is denied. Polls of
// the idle links are answered by every terminal.
TEST(LapdNtInterop, EightTerminalsOnOneBus)
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze();
    SigTest::MultipointHdlc bus{9};
    SigTest::Tap tap;
    bus.SetTap(&tap);
    LapdTest::NtLink net{bus.network(), 0};
    net.activate();
    std::vector<std::unique_ptr<PriPeer>> cpes;
    std::vector<std::unique_ptr<Link>> users;
    for (unsigned int i = 0; i < 8; ++i) {
        if (i % 3 == 0 && cpes.size() < 3) {
            cpes.push_back(std::make_unique<PriPeer>(bus.terminal(i), PRI_CPE,
                                                     PriPeer::Interface::basic_rate_multipoint));
        } else {
            auto& u = *users.emplace_back(std::make_unique<Link>(bus.terminal(i), Side::user));
            u.StartBasicRate(static_cast<std::uint16_t>(0x3100 + i));
        }
        ASSERT_TRUE(SigTest::RunFor(1000));
        ASSERT_NE(net.nt().find_Tei(static_cast<unsigned char>(64 + i)), nullptr) << "terminal " << i;
    }
    ASSERT_TRUE(SigTest::RunFor(25000));
    for (auto& c : cpes)
        EXPECT_TRUE(c->up()) << c->name();
    for (auto& u : users)
        EXPECT_EQ(u->lapd().full_state().state, 6u);
    for (unsigned int t = 64; t < 72; ++t)
        EXPECT_NE(net.nt().find_Tei(static_cast<unsigned char>(t)), nullptr) << "TEI " << t;

    auto& ninth = *users.emplace_back(std::make_unique<Link>(bus.terminal(8), Side::user));
    ninth.StartBasicRate(0x3108);
    ASSERT_TRUE(SigTest::RunFor(1000));
    EXPECT_NE(ninth.lapd().full_state().state, 6u);
    ExpectCleanLapd(tap.frames(), false);
    users.clear();
    cpes.clear();
    net.deactivate();
}

} // namespace
