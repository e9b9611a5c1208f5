// libosmo-abis's Q.921 user side against a scripted network end, on the
// loop's test clock: establishment, an I frame each way, T203 on the idle
// link, and every message buffer given back.

#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/peers/interop.hpp"
#include "signalling/peers/osmo_peer.hpp"

#include <gtest/gtest.h>

#include <memory>

extern "C" {
#include <osmocom/gsm/lapd_core.h>
}

namespace {

using SigTest::Bytes;
using SigTest::OsmoLapdPeer;

class OsmoInterop : public SigTest::InteropTest {
protected:
    void TearDown() override
    {
        user.reset();
        EXPECT_EQ(SigTest::OsmoMsgbsInUse(), 0u);
    }

    std::unique_ptr<OsmoLapdPeer> user = std::make_unique<OsmoLapdPeer>(pair.a, OsmoLapdPeer::Side::user);
};

TEST_F(OsmoInterop, UserSideEstablishesExchangesIFramesAndPollsTheIdleLink)
{
    ASSERT_EQ(user->Start(0, 0), 0);
    ASSERT_TRUE(SigTest::Settle());
    // SABME, P 1, as a command from the user side (Q.921 3.3.2, 5.5.1.2).
    ASSERT_EQ(tap.From("user").size(), 1u);
    EXPECT_EQ(tap.From("user")[0].bytes, (Bytes{0x00, 0x01, 0x7F}));
    EXPECT_FALSE(user->established());

    pair.b.Send({0x00, 0x01, 0x73}); // UA, F 1
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_TRUE(user->established());
    EXPECT_EQ(user->Count(PRIM_DL_EST), 1);

    user->Send({0x08, 0x01, 0x01, 0x05});
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(tap.From("user").size(), 2u);
    // I frame N(S) 0, N(R) 0.
    EXPECT_EQ(tap.From("user")[1].bytes, (Bytes{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05}));

    // The network's I frame N(S) 0 acknowledges the user's (N(R) 1).
    pair.b.Send({0x02, 0x01, 0x00, 0x02, 0x08, 0x01, 0x81, 0x0D});
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(user->received.size(), 1u);
    EXPECT_EQ(user->received[0], (Bytes{0x08, 0x01, 0x81, 0x0D}));
    // Acknowledged with RR response N(R) 1 (Q.921 5.6.2.1; C/R 1 from the
    // user side).
    ASSERT_EQ(tap.From("user").size(), 3u);
    EXPECT_EQ(tap.From("user")[2].bytes, (Bytes{0x02, 0x01, 0x01, 0x02}));

    // Idle now: T203 (10 s) polls with RR command, P 1 (Q.921 5.6.1).
    const std::uint64_t idle = tap.frames().back().time_us;
    ASSERT_TRUE(SigTest::RunFor(10500));
    const auto sent = tap.From("user");
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].bytes, (Bytes{0x00, 0x01, 0x01, 0x03}));
    EXPECT_EQ(sent[3].time_us - idle, 10000000u);

    SigTest::ExpectCleanLapd(tap.frames(), false);
}

// A frame the library cannot take is refused and counted, and its buffer
// does not leak (the fixture checks).
TEST_F(OsmoInterop, RefusedFramesAreCounted)
{
    pair.b.Send({0x00}); // no control octet
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user->rejected, 1u);
    EXPECT_EQ(SigTest::OsmoMsgbsInUse(), 0u);
    pair.b.Send({0x00, 0x01, 0xEF}); // unknown TEI
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user->rejected, 2u);
    EXPECT_TRUE(user->prims.empty());
}

} // namespace
