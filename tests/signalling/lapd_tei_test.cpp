// TEI management of a basic-rate user side against a scripted network end:
// identity request with the injected Ri (low octet first), assignment that
// goes on to establish the link, the T202 retries, check, remove and
// denial, and the TEI filter on received frames.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/lapd_helper.hpp"
#include "sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

using ISDN::Side;
using LapdTest::Bytes;
using LapdTest::Link;
using LapdTest::Management;
using LapdTest::Numbered;
using LapdTest::Script;

// From the terminal (SAPI 63, C/R 0).
Bytes FromUser(std::uint16_t ri, std::uint8_t type, int ai)
{
    return Management(0xFC, ri, type, ai);
}

// From the network (SAPI 63, C/R 1).
Bytes FromNetwork(std::uint16_t ri, std::uint8_t type, int ai)
{
    return Management(0xFE, ri, type, ai);
}

constexpr std::uint8_t kRequest = 1, kAssigned = 2, kDenied = 3, kCheck = 4, kCheckResponse = 5, kRemove = 6;

class LapdTei : public ::testing::Test {
protected:
    void SetUp() override
    {
        Mux::test::freeze_at(LapdTest::kStartUs);
        user.lapd().change_to_bri();
        user.lapd().ri_source = [this] { return next_ri++; };
    }

    // Takes TEI 0 away, as the network does before it assigns TEIs.
    void Unassign()
    {
        user.lapd().mdl_remove();
        ASSERT_EQ(user.lapd().full_state().state, 0u);
    }
    void Deliver(const Bytes& frame)
    {
        ASSERT_TRUE(net.Send(frame));
        ASSERT_TRUE(SigTest::Settle());
    }
    unsigned int State() const { return user.lapd().full_state().state; }

    std::uint16_t next_ri = 0x1234;
    SimTest::Capture log{std::clog};
    SigTest::LoopbackHdlc pair{"user", "network"};
    Script net{pair.b};
    Link user{pair.a, Side::user};
};

// A DL-ESTABLISH without a TEI waits in state 2 while the TEI is assigned,
// then establishes; a frame for another TEI is not ours, a broadcast is.
TEST_F(LapdTei, EstablishRequestWaitsForItsTei)
{
    Unassign();
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(State(), 2u);
    ASSERT_EQ(net.frames, std::vector<Bytes>{FromUser(0x1234, kRequest, 127)});
    EXPECT_EQ(net.frames[0][4], 0x34) << "Ri goes low octet first";

    Deliver(FromNetwork(0x1235, kAssigned, 64)); // someone else's
    EXPECT_EQ(State(), 2u);
    EXPECT_EQ(net.frames.size(), 1u);

    Deliver(FromNetwork(0x1234, kAssigned, 64));
    EXPECT_EQ(State(), 4u);
    EXPECT_EQ(user.lapd().full_state().self_tei, 64);
    ASSERT_EQ(net.frames.size(), 2u);
    EXPECT_EQ(net.frames[1], (Bytes{0x00, 0x81, 0x7F})); // SABME on TEI 64
    // The identity-assigned path starts T200 while T202 runs, as it always
    // did; T202 is then stopped already.
    EXPECT_EQ(user.Reports("trying to start T200 while T202 running"), 1u);
    EXPECT_EQ(user.Reports("trying to stop T202 while T200 running"), 0u);

    Deliver({0x00, 0x81, 0x73}); // UA
    EXPECT_EQ(State(), 6u);
    EXPECT_EQ(user.activations, 1u);
    user.Send(Numbered(1));
    Deliver({0x02, 0x81, 0x00, 0x02, 0x08, 0x01, 0x01, 0x7D}); // I, N(S) 0, N(R) 1
    EXPECT_EQ(user.received, (std::vector<Bytes>{{0x08, 0x01, 0x01, 0x7D}}));
    ASSERT_GE(net.frames.size(), 3u);
    EXPECT_EQ(net.frames[2][1], 0x81);

    const auto frames = net.frames.size();
    const auto received = user.received.size();
    Deliver({0x02, 0x83, 0x01, 0x01});                         // RR command with P to TEI 65
    Deliver({0x02, 0x83, 0x02, 0x02, 0x08, 0x01, 0x01, 0x7D}); // I frame to TEI 65
    EXPECT_EQ(net.frames.size(), frames);
    EXPECT_EQ(user.received.size(), received);
    EXPECT_EQ(user.lapd().full_state().vr.value(), 1u);
    Deliver({0x02, 0xFF, 0x03, 0x08, 0x01, 0x02, 0x05}); // a broadcast SETUP
    ASSERT_EQ(user.received.size(), received + 1);
    EXPECT_EQ(user.received.back(), (Bytes{0x08, 0x01, 0x02, 0x05}));
    Deliver({0x02, 0xFF, 0x01, 0x03}); // RR command with P to TEI 127: answered
    ASSERT_EQ(net.frames.size(), frames + 1);
    EXPECT_EQ(net.frames.back(), (Bytes{0x02, 0x81, 0x01, 0x03}));
}

TEST_F(LapdTei, IdentityRequestsEveryT202ThenGiveUp)
{
    Unassign();
    user.activate();
    ASSERT_TRUE(SigTest::RunFor(9999));
    ASSERT_EQ(net.frames.size(), 5u);
    EXPECT_EQ(net.times_ms, (std::vector<std::uint32_t>{0, 2000, 4000, 6000, 8000}));
    for (unsigned int i = 0; i < 5; ++i)
        EXPECT_EQ(net.frames[i], FromUser(static_cast<std::uint16_t>(0x1234 + i), kRequest, 127));
    EXPECT_EQ(State(), 2u);
    EXPECT_TRUE(user.releases.empty());
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(State(), 0u);
    EXPECT_EQ(user.releases, std::vector<std::string>{"-link error (T202 expired N202 times)"});
    EXPECT_EQ(user.lapd().stats().t202_expired, 5u);
    ASSERT_TRUE(SigTest::RunFor(20000));
    EXPECT_EQ(net.frames.size(), 5u);
}

TEST_F(LapdTei, CheckRemoveAndReassignment)
{
    Unassign();
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    Deliver(FromNetwork(0x1234, kAssigned, 64));
    Deliver({0x00, 0x81, 0x73});
    ASSERT_EQ(State(), 6u);
    net.frames.clear();

    Deliver(FromNetwork(0, kCheck, 127));
    Deliver(FromNetwork(0, kCheck, 64));
    Deliver(FromNetwork(0, kCheck, 65)); // not ours
    EXPECT_EQ(net.frames, std::vector<Bytes>(2, FromUser(0x1234, kCheckResponse, 64)));

    net.frames.clear();
    Deliver(FromNetwork(0, kRemove, 65)); // not ours
    EXPECT_EQ(State(), 6u);
    Deliver(FromNetwork(0, kRemove, 64));
    EXPECT_EQ(user.releases, std::vector<std::string>{"-error (MDL-REMOVE received)"});
    EXPECT_EQ(State(), 1u);
    EXPECT_EQ(net.frames, std::vector<Bytes>{FromUser(0x1235, kRequest, 127)});
    Deliver(FromNetwork(0x1235, kAssigned, 70));
    EXPECT_EQ(State(), 3u);
    EXPECT_EQ(user.lapd().full_state().self_tei, 70);
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(net.frames.back(), (Bytes{0x00, 0x8D, 0x7F})); // SABME on TEI 70
    EXPECT_TRUE(SigTest::RunFor(3000));
    EXPECT_TRUE(log.str().find("MDL-REMOVE") != std::string::npos);
}

// A DL-DATA without a TEI asks for one and keeps the message; on a link
// without TEI management the state stays 0.
TEST_F(LapdTei, DataRequestWithoutTeiAsksForOne)
{
    Unassign();
    user.Send(Numbered(1));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(State(), 1u);
    EXPECT_EQ(net.frames, std::vector<Bytes>{FromUser(0x1234, kRequest, 127)});
    EXPECT_EQ(user.lapd().queue_out(), 1u);
    Deliver(FromNetwork(0x1234, kAssigned, 66));
    EXPECT_EQ(State(), 3u);
    EXPECT_EQ(user.lapd().queue_out(), 1u);

    SigTest::LoopbackHdlc pri;
    Script far(pri.b);
    Link plain(pri.a, Side::user);
    plain.lapd().mdl_remove();
    plain.Send(Numbered(2));
    ASSERT_TRUE(SigTest::RunFor(5000));
    EXPECT_EQ(plain.lapd().full_state().state, 0u);
    EXPECT_TRUE(far.frames.empty());
}

TEST_F(LapdTei, IdentityDenied)
{
    Unassign();
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    Deliver(FromNetwork(0x1234, kDenied, 70));
    Deliver(FromNetwork(0x1234, kDenied, 127));
    Deliver(FromNetwork(0x9999, kDenied, 127)); // not our request
    EXPECT_EQ(user.Reports("Tei Assign - Tei denied"), 2u);
    EXPECT_NE(log.str().find("LAPD[0] (Establish awaiting TEI): ASP returned: TEI 70 denied\n"),
              std::string::npos);
    EXPECT_NE(log.str().find("LAPD[0] (Establish awaiting TEI): ASP returned: All TEI's used\n"),
              std::string::npos);
    EXPECT_EQ(State(), 2u);
    // The requests go on.
    ASSERT_TRUE(SigTest::RunFor(2000));
    EXPECT_EQ(net.frames.back(), FromUser(0x1235, kRequest, 127));
}

TEST_F(LapdTei, BasicRateUserStartsWithTeiZero)
{
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(net.frames, (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
    Deliver({0x00, 0x01, 0x73});
    EXPECT_EQ(State(), 6u);
}

} // namespace
