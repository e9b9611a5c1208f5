// libpri against libpri over the kit's channels, on the loop's test clock:
// primary rate point-to-point and basic rate point-to-multipoint with TEI
// assignment. Every frame is read back by tshark, which must find nothing
// to complain about.

#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/peers/interop.hpp"
#include "signalling/peers/pri_peer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using SigTest::ExpectCleanLapd;
using SigTest::PriPeer;
using SigTest::TapFrame;

// The Q.921 RR command with P of the user side on SAPI 0 (C/R 0 from the
// user side, Q.921 3.3.2): what T203 sends on an idle link.
bool IsUserPoll(const TapFrame& f)
{
    return f.from == "cpe" && f.bytes.size() == 4 && (f.bytes[0] & 0x02) == 0 && f.bytes[2] == 0x01 &&
           (f.bytes[3] & 0x01) != 0;
}

class PriInterop : public SigTest::InteropTest {
protected:
    PriInterop() : InteropTest("cpe", "network") {}
};

TEST_F(PriInterop, PrimaryRateLinkComesUpAndT203PollsTheIdleLink)
{
    PriPeer network(pair.b, PRI_NETWORK);
    PriPeer cpe(pair.a, PRI_CPE);
    ASSERT_TRUE(SigTest::RunFor(1000));
    EXPECT_TRUE(cpe.up());
    EXPECT_TRUE(network.up());
    EXPECT_EQ(cpe.Count(PRI_EVENT_DCHAN_UP), 1);
    EXPECT_EQ(network.Count(PRI_EVENT_DCHAN_UP), 1);
    // The CPE opens with SABME, P 1 (Q.921 5.5.1.2).
    ASSERT_FALSE(tap.From("cpe").empty());
    EXPECT_EQ(tap.From("cpe").front().bytes, (SigTest::Bytes{0x00, 0x01, 0x7F}));

    const std::size_t before = tap.frames().size();
    ASSERT_TRUE(SigTest::RunFor(15000));
    const auto& frames = tap.frames();
    std::size_t poll = before;
    while (poll < frames.size() && !IsUserPoll(frames[poll]))
        ++poll;
    ASSERT_LT(poll, frames.size()) << "no RR command with P from the CPE";
    // T203 runs from the last frame of the link (Q.921 5.6.1); the
    // network's own T203 may poll at the same instant.
    std::size_t last = poll;
    while (last > 0 && frames[last - 1].time_us == frames[poll].time_us)
        --last;
    ASSERT_GT(last, 0u);
    EXPECT_EQ(frames[poll].time_us - frames[last - 1].time_us, 10000000u);
    EXPECT_TRUE(cpe.up());
    EXPECT_TRUE(network.up());
    ExpectCleanLapd(frames);
}

TEST_F(PriInterop, CallsArriveAsRingEachWay)
{
    PriPeer network(pair.b, PRI_NETWORK);
    PriPeer cpe(pair.a, PRI_CPE);
    ASSERT_TRUE(SigTest::RunFor(1000));
    ASSERT_TRUE(cpe.up() && network.up());

    ASSERT_NE(cpe.Call(1, "5551234", "4000"), nullptr);
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(network.Count(PRI_EVENT_RING), 1);
    ASSERT_TRUE(network.last_ring.has_value());
    EXPECT_STREQ(network.last_ring->callednum, "5551234");
    EXPECT_STREQ(network.last_ring->callingnum, "4000");
    EXPECT_EQ(network.last_ring->channel & 0xff, 1);

    ASSERT_NE(network.Call(2, "4000"), nullptr);
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(cpe.Count(PRI_EVENT_RING), 1);
    EXPECT_STREQ(cpe.last_ring->callednum, "4000");
    EXPECT_EQ(cpe.last_ring->channel & 0xff, 2);
    ExpectCleanLapd(tap.frames());
}

// Two terminals on one bus, as a basic-rate line carries them.
TEST_F(PriInterop, BasicRateTerminalsAskForTeisAndComeUp)
{
    SigTest::MultipointHdlc bus(2);
    bus.network().direction = 'I';
    bus.SetTap(&tap);
    PriPeer network(bus.network(), PRI_NETWORK, PriPeer::Interface::basic_rate_multipoint);
    std::vector<std::unique_ptr<PriPeer>> cpes;
    for (unsigned int i = 0; i < bus.terminals(); ++i) {
        bus.terminal(i).direction = 'O';
        cpes.push_back(
            std::make_unique<PriPeer>(bus.terminal(i), PRI_CPE, PriPeer::Interface::basic_rate_multipoint));
    }
    ASSERT_TRUE(SigTest::RunFor(2000));

    const auto& frames = tap.frames();
    std::vector<unsigned int> teis;
    for (unsigned int i = 0; i < bus.terminals(); ++i) {
        SCOPED_TRACE(bus.terminal(i).name());
        const auto sent = tap.From(bus.terminal(i).name());
        ASSERT_FALSE(sent.empty());
        // Identity request (Q.921 5.3.2): SAPI 63, TEI 127, UI; management
        // entity 0F, Ri, message type 01, Ai 127.
        const auto first = sent.front().bytes;
        ASSERT_EQ(first.size(), 8u);
        EXPECT_EQ(SigTest::Bytes(first.begin(), first.begin() + 4), (SigTest::Bytes{0xFC, 0xFF, 0x03, 0x0F}));
        EXPECT_EQ(SigTest::Bytes(first.begin() + 6, first.end()), (SigTest::Bytes{0x01, 0xFF}));

        // The network's identity assigned (message type 02) echoes the
        // terminal's Ri with a TEI from the automatic range.
        auto assigned = std::find_if(frames.begin(), frames.end(), [&](const TapFrame& f) {
            return f.from == "network" && f.bytes.size() == 8 && f.bytes[6] == 0x02 &&
                   f.bytes[4] == first[4] && f.bytes[5] == first[5];
        });
        ASSERT_NE(assigned, frames.end()) << "no identity assigned";
        const unsigned int tei = assigned->bytes[7] >> 1;
        EXPECT_GE(tei, 64u);
        EXPECT_LE(tei, 126u);
        teis.push_back(tei);
        EXPECT_TRUE(cpes[i]->up());
    }
    ASSERT_EQ(teis.size(), 2u);
    EXPECT_NE(teis[0], teis[1]);
    // The network reports its own start and each terminal's link.
    EXPECT_EQ(network.Count(PRI_EVENT_DCHAN_UP), 3);
    ExpectCleanLapd(frames);
}

} // namespace
