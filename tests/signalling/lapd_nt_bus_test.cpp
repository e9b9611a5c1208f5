// The basic-rate network side with the project's own basic-rate user sides
// on the kit's multipoint bus: TEI assignment, link establishment and data
// both ways, on the test clock.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/lapd_helper.hpp"
#include "signalling/lapd_nt.hpp"
#include "sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <vector>

namespace {

using LapdTest::Bytes;

class LapdNtBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        Mux::test::freeze_at(LapdTest::kStartUs);
        net.activate();
        ASSERT_TRUE(SigTest::Settle());
    }
    void TearDown() override
    {
        for (auto& t : terms)
            t->deactivate();
        net.deactivate();
        SigTest::Settle();
    }
    LapdTest::Link& Start(unsigned int i)
    {
        auto& l = *terms.emplace_back(std::make_unique<LapdTest::Link>(bus.terminal(i), ISDN::Side::user));
        l.StartBasicRate(static_cast<std::uint16_t>(0x1000 + i));
        return l;
    }

    // Terminals in multiple-frame operation, each on a TEI of its own that
    // the network side holds for it.
    unsigned int Established() const
    {
        unsigned int n = 0;
        for (auto const& t : terms) {
            auto const& s = t->lapd().full_state();
            bool shared = false;
            for (auto const& o : terms)
                shared = shared || (o != t && o->lapd().full_state().self_tei == s.self_tei);
            n += s.state == 6u && !shared ? 1u : 0u;
        }
        return n;
    }
    void StartEight()
    {
        for (unsigned int i = 0; i < 8; ++i) {
            Start(i);
            ASSERT_TRUE(SigTest::RunFor(100));
        }
        ASSERT_EQ(Established(), 8u);
    }
    // Runs to `ms` after the start less one, then loses the next `n` frames
    // of the network side, all sent at that instant.
    void LoseAt(std::uint32_t ms, unsigned int n)
    {
        ASSERT_TRUE(SigTest::RunFor(ms - 1 - LapdTest::NowMs()));
        auto const lost = bus.network().counters.lost;
        bus.network().DropNext(n);
        ASSERT_TRUE(SigTest::RunFor(1));
        ASSERT_EQ(bus.network().counters.lost, lost + n);
    }

    SimTest::Capture log{std::clog};
    SigTest::MultipointHdlc bus{9};
    LapdTest::NtLink net{bus.network()};
    std::vector<std::unique_ptr<LapdTest::Link>> terms;
};

TEST_F(LapdNtBus, EightTerminalsEstablishAndExchange)
{
    for (unsigned int i = 0; i < 8; ++i) {
        auto& t = Start(i);
        ASSERT_TRUE(SigTest::RunFor(100));
        EXPECT_EQ(t.lapd().full_state().self_tei, static_cast<int>(64 + i));
        EXPECT_EQ(t.lapd().full_state().state, 6u) << "terminal " << i; // multiple frame established
    }
    // The ninth is denied: it stays without a TEI.
    auto& ninth = Start(8);
    ASSERT_TRUE(SigTest::RunFor(100));
    EXPECT_NE(ninth.lapd().full_state().state, 6u);

    // Terminal 2's first message binds call reference 5; the answer goes
    // to it only.
    terms[2]->Send({0x08, 0x01, 0x05, 0x05, 0x04});
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(net.up.size(), 1u);
    EXPECT_EQ(net.up[0], (Bytes{0x08, 0x01, 0x05, 0x05, 0x04}));
    net.Send({0x08, 0x01, 0x85, 0x02, 0x18});
    ASSERT_TRUE(SigTest::RunFor(100));
    for (unsigned int i = 0; i < 8; ++i)
        EXPECT_EQ(terms[i]->received.size(), i == 2 ? 1u : 0u) << "terminal " << i;

    // Terminal 2's RELEASE COMPLETE releases 5; terminal 5's refusal of a
    // call it never held leaves its own 5 bound. The host's 5 with the flag
    // clear names a call the host offered: nobody's.
    auto& a = *terms[2];
    auto& b = *terms[5];
    a.Send({0x08, 0x01, 0x05, 0x5A});
    b.Send({0x08, 0x01, 0x05, 0x05, 0x04});
    b.Send({0x08, 0x01, 0x81, 0x5A});
    ASSERT_TRUE(SigTest::RunFor(100));
    std::vector<Bytes> const to_b{
        {0x08, 0x01, 0x85, 0x02}, {0x08, 0x01, 0x85, 0x07}, {0x08, 0x01, 0x85, 0x5A}};
    for (auto const& m : to_b)
        net.Send(m);
    net.Send({0x08, 0x01, 0x05, 0x07});
    a.Send({0x08, 0x01, 0x05, 0x05, 0x04});
    ASSERT_TRUE(SigTest::RunFor(100));
    net.Send({0x08, 0x01, 0x85, 0x02, 0x18});
    ASSERT_TRUE(SigTest::RunFor(100));
    EXPECT_EQ(b.received, to_b);
    EXPECT_EQ(a.received, std::vector<Bytes>(2, Bytes{0x08, 0x01, 0x85, 0x02, 0x18}));
}

// A DISC releases the terminal's link, not its TEI: the next terminal gets
// another TEI, and the first brings its link up again on its own.
TEST_F(LapdNtBus, DiscKeepsTheTeiBooked)
{
    auto& a = Start(0);
    ASSERT_TRUE(SigTest::RunFor(1000));
    a.deactivate();
    ASSERT_TRUE(SigTest::RunFor(1000));
    auto& b = Start(1);
    ASSERT_TRUE(SigTest::RunFor(100));
    EXPECT_EQ(b.lapd().full_state().self_tei, 65);
    a.activate();
    b.Send({0x08, 0x01, 0x05, 0x05, 0x04});
    ASSERT_TRUE(SigTest::RunFor(20000));
    EXPECT_EQ(Established(), 2u);
    EXPECT_EQ(net.up.size(), 1u);
}

// The network's check request lost once: it is repeated and every terminal
// stays. Lost with its repeats: each TEI is removed (twice) and each
// terminal asks once for a new one.
TEST_F(LapdNtBus, LostCheckRequest)
{
    ASSERT_TRUE(SigTest::RunFor(500)); // polls apart from the checks
    StartEight();
    LoseAt(60000, 1);
    ASSERT_TRUE(SigTest::RunFor(24000));
    EXPECT_EQ(Established(), 8u);
    for (auto const& t : terms)
        EXPECT_TRUE(t->releases.empty()); // no TEI was removed
    LoseAt(120000, 1);
    LoseAt(122000, 8);
    ASSERT_TRUE(SigTest::RunFor(24000));
    EXPECT_EQ(Established(), 8u);
}

// A check response for the group TEI is nobody's answer.
TEST_F(LapdNtBus, CheckResponseForGroupTeiIgnored)
{
    StartEight();
    ASSERT_TRUE(bus.terminal(8).Send(LapdTest::Management(0xFC, 0x7777, 5, 127)));
    ASSERT_TRUE(SigTest::RunFor(100));
    EXPECT_EQ(Established(), 8u);
}

// Neither the dummy nor the global call reference rebinds the terminal.
TEST_F(LapdNtBus, DummyAndGlobalCallReferencesBindNothing)
{
    auto& t = Start(0);
    ASSERT_TRUE(SigTest::RunFor(100));
    t.Send({0x08, 0x01, 0x05, 0x05, 0x04});
    t.Send({0x08, 0x00, 0x7B, 0x2C, 0x01, 0x31});
    t.Send({0x08, 0x01, 0x00, 0x7D, 0x14, 0x01, 0x00});
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(net.up.size(), 3u);
    net.Send({0x08, 0x01, 0x85, 0x07});
    ASSERT_TRUE(SigTest::RunFor(100));
    EXPECT_EQ(t.received, std::vector<Bytes>{Bytes({0x08, 0x01, 0x85, 0x07})});
}

} // namespace
