// The Q.921 data link on the test clock: a user side and a network side over
// the kit's loopback pair (establishment, collision, release, loss and
// duplication), and one side against a scripted far end (timers, queue
// limits, DM and UA handling, malformed frames, refused sends, link
// information and logs).

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/lapd_helper.hpp"
#include "signalling/q931_trace.hpp"
#include "sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ISDN::Side;
using LapdTest::Bytes;
using LapdTest::Decode;
using LapdTest::Link;
using LapdTest::NowMs;
using LapdTest::Numbered;
using LapdTest::Script;

constexpr char kT200N200[] = "link error (T200 expired N200 times)";
constexpr char kErrorG[] = "Unsuccessful retransmission (N200 times) - SABME";
constexpr char kErrorI[] = "Unsuccessful retransmission (N200 times) - Status enquiry";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class LapdBase : public ::testing::Test {
protected:
    void SetUp() override { Mux::test::freeze_at(LapdTest::kStartUs); }

    SimTest::Capture log{std::clog};
    SigTest::LoopbackHdlc pair{"user", "network"};
};

// ---------------------------------------------------------------- user and network

class LapdPair : public LapdBase {
protected:
    void SetUp() override
    {
        LapdBase::SetUp();
        pair.a.direction = 'O';
        pair.b.direction = 'I';
        pair.SetTap(&tap);
    }
    void Establish()
    {
        user.activate();
        ASSERT_TRUE(SigTest::Settle());
        ASSERT_EQ(user.lapd().full_state().state, 6u);
        ASSERT_EQ(net.lapd().full_state().state, 6u);
    }

    SigTest::Tap tap;
    Link user{pair.a, Side::user};
    Link net{pair.b, Side::network};
};

TEST_F(LapdPair, EstablishAndReleaseFromEitherSide)
{
    Establish();
    EXPECT_EQ(user.activations, 1u);
    EXPECT_EQ(net.activations, 1u);
    user.Send(Numbered(1));
    net.Send(Numbered(2));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(net.received, std::vector<Bytes>{Numbered(1)});
    EXPECT_EQ(user.received, std::vector<Bytes>{Numbered(2)});

    user.deactivate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.releases, std::vector<std::string>{"+success (UA received)"});
    EXPECT_EQ(net.releases, std::vector<std::string>{"-remote error (DISC received)"});
    EXPECT_EQ(user.lapd().full_state().state, 3u);
    EXPECT_EQ(net.lapd().full_state().state, 3u);

    net.activate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.activations, 2u);
    EXPECT_EQ(net.activations, 2u);
    net.deactivate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(net.releases.back(), "+success (UA received)");
    EXPECT_EQ(user.releases.back(), "-remote error (DISC received)");
    EXPECT_TRUE(user.reports.empty());
    EXPECT_TRUE(net.reports.empty());

    // A release of a link that is down is answered at once.
    user.deactivate();
    EXPECT_EQ(user.releases.back(), "+success (deactivated locally)");
}

TEST_F(LapdPair, SabmeCollision)
{
    user.activate();
    net.activate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.lapd().full_state().state, 6u);
    EXPECT_EQ(net.lapd().full_state().state, 6u);
    EXPECT_EQ(user.activations, 1u);
    EXPECT_EQ(net.activations, 1u);
    std::vector<std::string> kinds;
    for (const auto& f : tap.frames())
        kinds.push_back(f.from + " " + Decode(f.bytes).kind);
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, (std::vector<std::string>{"network SABME", "network UA", "user SABME", "user UA"}));
    user.Send(Numbered(7));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(net.received, std::vector<Bytes>{Numbered(7)});
}

// 1000 messages each way through 10 % loss and 5 % duplication: each one
// arrives once and in order, the send window never opens past k = 7, and
// both REJ and timer recovery are exercised. The seed gives a run in which
// no timer recovery runs out (that would re-establish and, by design, drop
// the unacknowledged frames).
TEST_F(LapdPair, ThousandMessagesEachWayThroughLossAndDuplication)
{
    constexpr unsigned int kMessages = 1000;
    pair.a.Seed(11);
    pair.b.Seed(12);
    for (SigTest::End* e : {&pair.a, &pair.b}) {
        e->DropFraction(0.10);
        e->DuplicateFraction(0.05);
    }
    unsigned int widest = 0;
    SigTest::PassCheck window([&] {
        for (Link* l : {&user, &net}) {
            const auto& s = l->lapd().full_state();
            widest = std::max(widest, (s.vs - s.va).value());
        }
    });
    user.activate();
    unsigned int sent_user = 0, sent_net = 0;
    for (int round = 0; round < 5000; ++round) {
        if (user.received.size() == kMessages && net.received.size() == kMessages)
            break;
        while (sent_user < kMessages && user.lapd().queue_out() < 20)
            user.Send(Numbered(sent_user++));
        while (sent_net < kMessages && net.lapd().queue_out() < 20)
            net.Send(Numbered(10000 + sent_net++));
        ASSERT_TRUE(SigTest::RunFor(100));
    }
    ASSERT_EQ(net.received.size(), kMessages);
    ASSERT_EQ(user.received.size(), kMessages);
    for (unsigned int i = 0; i < kMessages; ++i) {
        ASSERT_EQ(net.received[i], Numbered(i)) << "message " << i << " from the user";
        ASSERT_EQ(user.received[i], Numbered(10000 + i)) << "message " << i << " from the network";
    }
    EXPECT_LE(widest, 7u);
    EXPECT_GT(pair.a.counters.lost + pair.b.counters.lost, 100u);
    EXPECT_GT(pair.a.counters.duplicated + pair.b.counters.duplicated, 50u);
    for (Link* l : {&user, &net}) {
        EXPECT_EQ(l->Reports(kErrorI), 0u);
        EXPECT_EQ(l->Reports(kErrorG), 0u);
        EXPECT_TRUE(l->releases.empty());
        EXPECT_EQ(l->lapd().stats().out_overflows, 0u);
    }
    const auto& us = user.lapd().stats();
    const auto& ns = net.lapd().stats();
    EXPECT_GT(us.rejected + ns.rejected, 0u) << "no REJ sent";
    EXPECT_GT(us.retrains + ns.retrains, 0u) << "nothing retransmitted";
    EXPECT_GT(us.t200_expired + ns.t200_expired, 0u) << "no timer recovery";
    bool rej = false;
    for (const auto& f : tap.frames())
        rej = rej || Decode(f.bytes).kind == "REJ";
    EXPECT_TRUE(rej);
}

// Messages queued before the link is up leave as it comes up, not at the
// next poll; a UA repeated while three of them wait for acknowledgement
// (a peer answering both a SABME and its repetition) loses none of them.
TEST_F(LapdPair, RepeatedUaKeepsUnacknowledgedFrames)
{
    for (unsigned int i = 0; i < 3; ++i)
        user.Send(Numbered(i));
    pair.b.DuplicateNext(1); // the network's UA
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(pair.b.counters.duplicated, 1u);
    EXPECT_EQ(NowMs(), 0u);
    EXPECT_EQ(user.Reports("UA (F = 1)"), 1u);
    EXPECT_EQ(net.received, (std::vector<Bytes>{Numbered(0), Numbered(1), Numbered(2)}));
    const auto& s = user.lapd().full_state();
    EXPECT_EQ(s.state, 6u);
    EXPECT_EQ(s.vs.value(), 3u);
    EXPECT_EQ(s.va.value(), 3u);
    EXPECT_EQ(user.lapd().queue_ack(), 0u);
    // The numbers stay in step: more traffic passes without an N(R) error.
    user.Send(Numbered(3));
    net.Send(Numbered(4));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(net.received.back(), Numbered(3));
    EXPECT_EQ(user.received, std::vector<Bytes>{Numbered(4)});
    EXPECT_EQ(user.Reports("Other - N(R) error") + net.Reports("Other - N(R) error"), 0u);
}

TEST_F(LapdPair, IdleLinkPollsAfterT203)
{
    Establish();
    tap.clear();
    ASSERT_TRUE(SigTest::RunFor(9999));
    EXPECT_TRUE(tap.frames().empty());
    ASSERT_TRUE(SigTest::RunFor(1));
    ASSERT_FALSE(tap.From("user").empty());
    const auto poll = tap.From("user").front();
    EXPECT_EQ(poll.time_us - LapdTest::kStartUs, 10000000u);
    EXPECT_EQ(poll.bytes, (Bytes{0x00, 0x01, 0x01, 0x01})); // RR command, N(R) 0, P 1
    EXPECT_EQ(user.lapd().full_state().state, 6u) << "the answer ends timer recovery";
    EXPECT_EQ(user.lapd().stats().t203_expired, 1u);
    EXPECT_TRUE(user.reports.empty());
}

// ---------------------------------------------------------------- scripted far end

class LapdScript : public LapdBase {
protected:
    // The far end asks for the link: the user side answers UA.
    void EstablishByPeer()
    {
        ASSERT_TRUE(peer.Send({0x02, 0x01, 0x7F}));
        ASSERT_TRUE(SigTest::Settle());
        ASSERT_EQ(user.lapd().full_state().state, 6u);
        peer.frames.clear();
        peer.times_ms.clear();
    }
    ACP::IsdnLinkInfo Info()
    {
        ACP::IsdnLinkInfo info;
        user.lapd().GetInfo(info);
        return info;
    }

    Script peer{pair.b};
    Link user{pair.a, Side::user};
};

TEST_F(LapdScript, UnansweredSabmeReleasesAfterN200)
{
    user.activate();
    ASSERT_TRUE(SigTest::RunFor(3999));
    EXPECT_EQ(peer.frames, std::vector<Bytes>(4, Bytes{0x00, 0x01, 0x7F}));
    EXPECT_EQ(peer.times_ms, (std::vector<std::uint32_t>{0, 1000, 2000, 3000}));
    EXPECT_TRUE(user.releases.empty());
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(user.Reports(kErrorG), 1u);
    EXPECT_EQ(user.releases, std::vector<std::string>{std::string("-") + kT200N200});
    EXPECT_EQ(user.lapd().full_state().state, 3u);
    EXPECT_EQ(user.lapd().stats().t200_expired, 4u);
    ASSERT_TRUE(SigTest::RunFor(10000));
    EXPECT_EQ(peer.frames.size(), 4u);
}

TEST_F(LapdScript, TimerRecoveryRunsOutAndReestablishes)
{
    EstablishByPeer();
    user.Send(Numbered(1));
    ASSERT_TRUE(SigTest::RunFor(3999));
    const Bytes enquiry{0x00, 0x01, 0x01, 0x01}; // RR command, N(R) 0, P 1
    ASSERT_EQ(peer.frames.size(), 4u);
    EXPECT_EQ(Decode(peer.frames[0]).kind, "I");
    EXPECT_EQ(std::vector<Bytes>(peer.frames.begin() + 1, peer.frames.end()), std::vector<Bytes>(3, enquiry));
    EXPECT_EQ(peer.times_ms, (std::vector<std::uint32_t>{0, 1000, 2000, 3000}));
    EXPECT_EQ(user.lapd().full_state().state, 7u);
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(user.Reports(kErrorI), 1u);
    EXPECT_EQ(peer.frames.back(), (Bytes{0x00, 0x01, 0x7F}));
    EXPECT_EQ(peer.times_ms.back(), 4000u);
    EXPECT_EQ(user.lapd().full_state().state, 4u);
    EXPECT_FALSE(user.lapd().full_state().l3_initiated);
}

// A timer that takes the one Timer over ends the one it replaces: after a
// release in state 4 (T200) and the peer's SABME (T203), an unanswered I
// frame is enquired after T200, not after T203.
TEST_F(LapdScript, StartedTimerEndsTheOneItReplaces)
{
    user.activate();
    user.deactivate();
    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x7F}));
    ASSERT_TRUE(SigTest::RunFor(500));
    ASSERT_EQ(user.lapd().full_state().state, 6u);
    peer.frames.clear();
    peer.times_ms.clear();
    user.Send(Numbered(1));
    ASSERT_TRUE(SigTest::RunFor(1000));
    ASSERT_EQ(peer.frames.size(), 2u);
    EXPECT_EQ(peer.frames[1], (Bytes{0x00, 0x01, 0x01, 0x01}));
    EXPECT_EQ(peer.times_ms, (std::vector<std::uint32_t>{500, 1500}));
}

TEST_F(LapdScript, QueueLimitsAndFlowStatus)
{
    // Not established: everything stays queued.
    for (unsigned int i = 1; i <= 128; ++i) {
        user.Send(Numbered(i));
        EXPECT_EQ(user.flow.size(), i < 89 ? 0u : 1u) << "message " << i;
    }
    EXPECT_EQ(user.flow, std::vector<int>{ISDN::LAPD::FlowStatus::congested});
    EXPECT_EQ(user.lapd().queue_out(), 128u);
    EXPECT_FALSE(Contains(log.str(), "buffer overflow"));
    user.Send(Numbered(129));
    EXPECT_EQ(user.lapd().queue_out(), 128u);
    EXPECT_EQ(user.lapd().stats().out_overflows, 1u);
    EXPECT_EQ(user.lapd().stats().tx_messages, 129u);
    EXPECT_TRUE(Contains(log.str(), "LAPD[0] (TEI assigned): discard outgoing message: buffer overflow\n"));

    // The far end takes the link and acknowledges each I frame as it comes.
    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x7F}));
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(user.lapd().full_state().state, 6u);
    for (int round = 0; round < 200 && user.lapd().queue_out() + user.lapd().queue_ack() > 0; ++round) {
        std::vector<Bytes> frames;
        frames.swap(peer.frames);
        for (const auto& f : frames) {
            const auto d = Decode(f);
            if (d.kind == "I")
                peer.Send({0x00, 0x01, 0x01, static_cast<std::uint8_t>(((d.ns + 1) & 127) << 1)});
        }
        ASSERT_TRUE(SigTest::Settle());
    }
    EXPECT_EQ(user.lapd().full_state().vs.value(), 0u) << "128 frames sent: V(S) wrapped to 0";
    EXPECT_EQ(user.flow,
              (std::vector<int>{ISDN::LAPD::FlowStatus::congested, ISDN::LAPD::FlowStatus::normal}));
    ASSERT_EQ(user.flow_queue.size(), 2u);
    EXPECT_EQ(user.flow_queue[0], 89u);
    EXPECT_EQ(user.flow_queue[1], 64u);
}

TEST_F(LapdScript, DmAndUa)
{
    // Awaiting establishment: a DM command is no answer; a DM response with
    // F = 1 is a refusal.
    user.activate();
    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x1F}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.lapd().full_state().state, 4u);
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x1F}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.lapd().full_state().state, 3u);
    EXPECT_EQ(user.releases, std::vector<std::string>{"-error (DM received)"});

    // A UA nobody asked for, in state 3.
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x73}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.Reports("Other - Unknown"), 1u);

    // Established with two frames unacknowledged: a UA is reported with its
    // F bit and changes nothing.
    EstablishByPeer();
    user.Send(Numbered(1));
    user.Send(Numbered(2));
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x73}));
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x63}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.Reports("UA (F = 1)"), 1u);
    EXPECT_EQ(user.Reports("UA (F = 0)"), 1u);
    EXPECT_EQ(user.lapd().full_state().vs.value(), 2u);
    EXPECT_EQ(user.lapd().queue_ack(), 2u);

    // DM response with F = 1: reported; with F = 0: re-establishment.
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x1F}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.Reports("DM (F = 1)"), 1u);
    EXPECT_EQ(user.lapd().full_state().state, 6u);
    peer.frames.clear();
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x0F}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.Reports("Receipt of DM response (F = 0)"), 1u);
    EXPECT_EQ(user.lapd().full_state().state, 4u);
    EXPECT_EQ(peer.frames, (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));

    // In timer recovery any DM re-establishes, reported by its F bit.
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x73}));
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_TRUE(SigTest::RunFor(10000));
    ASSERT_EQ(user.lapd().full_state().state, 7u);
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x1F}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(user.Reports("DM (F = 1)"), 2u);
    EXPECT_EQ(user.lapd().full_state().state, 4u);
}

// Frames the line mangled change neither the state nor the numbers nor any
// counter, and nothing is reported. The N(R) of an I or S frame cut after
// its first control octet would read as 0, which, with the numbers wrapped
// as here (V(A) 126, V(S) 1), lies in the window and would acknowledge two
// frames the peer never received.
TEST_F(LapdScript, MalformedFramesChangeNothing)
{
    EstablishByPeer();
    for (unsigned int i = 0; i < 126; ++i) {
        const auto n = static_cast<std::uint8_t>(i << 1);
        ASSERT_TRUE(peer.Send({0x02, 0x01, n, n, 0x08, 0x00, 0x7D})); // I, N(S) = N(R) = i
        ASSERT_TRUE(SigTest::Settle());
        user.Send(Numbered(i));
        ASSERT_TRUE(SigTest::Settle());
        ASSERT_TRUE(peer.Send({0x00, 0x01, 0x01, static_cast<std::uint8_t>(((i + 1) & 127) << 1)}));
        ASSERT_TRUE(SigTest::Settle());
    }
    for (unsigned int i = 0; i < 3; ++i)
        user.Send(Numbered(200 + i));
    ASSERT_TRUE(SigTest::Settle());
    const auto& s = user.lapd().full_state();
    ASSERT_EQ(s.va.value(), 126u);
    ASSERT_EQ(s.vs.value(), 1u);
    ASSERT_EQ(s.vr.value(), 126u);
    ACP::IsdnLinkInfo before = Info();
    const auto reports = user.reports.size();
    const auto received = user.received.size();
    peer.frames.clear();

    const std::vector<Bytes> bad = {
        {0x02},                         // one octet
        {0x02, 0x01},                   // no control octet
        {0x02, 0x01, 0x00},             // I frame without N(R)
        {0x02, 0x01, 0x01},             // RR without N(R)
        {0x00, 0x01, 0x09},             // REJ without N(R)
        {0x03, 0x01, 0x7F},             // EA 1 in octet 1
        {0x02, 0x00, 0x00, 0x00, 0x08}, // EA 0 in octet 2
        {0x02, 0x00, 0x7F},             // SABME, EA 0 in octet 2
        {0x02, 0x01, 0x0D, 0x00},       // S frame of type 3
        {0x02, 0x01, 0xE3},             // no U frame of LAPD
        {0x02, 0x01, 0x8F},             // nor this
        {0x02, 0x01, 0xBF, 0x01, 0x02}, // XID
    };
    for (const auto& f : bad)
        ASSERT_TRUE(peer.Send(f));
    ASSERT_TRUE(SigTest::Settle());
    ACP::IsdnLinkInfo after = Info();
    EXPECT_EQ(after.do_compare(before), 0);
    EXPECT_FALSE(user.lapd().GetInfo(after));
    EXPECT_EQ(s.va.value(), 126u);
    EXPECT_EQ(s.vs.value(), 1u);
    EXPECT_EQ(user.reports.size(), reports);
    EXPECT_EQ(user.received.size(), received);
    EXPECT_TRUE(peer.frames.empty());
}

// A send the channel refuses is retried when the channel is ready again: an
// I frame stays queued and a pending acknowledgement stays pending. One the
// channel failed to write is dropped and counted, and does not hold the
// messages behind it.
TEST_F(LapdScript, RefusedSendsLeaveWhenTheChannelIsReadyAndFailedOnesAreDropped)
{
    EstablishByPeer();
    pair.a.Refuse();
    user.Send(Numbered(1));
    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x7D})); // I, N(S) 0, N(R) 0, P 0
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_TRUE(Contains(log.str(), "LAPD[0] (Multiple frame established): tx full\n"));
    EXPECT_EQ(user.lapd().queue_out(), 1u);
    EXPECT_EQ(user.lapd().queue_ack(), 0u);
    EXPECT_TRUE(user.lapd().full_state().ack_rq);
    EXPECT_TRUE(peer.frames.empty());
    pair.a.Release();
    ASSERT_TRUE(SigTest::Settle());
    // The I frame carries the acknowledgement (N(R) 1), so no RR is needed.
    ASSERT_EQ(peer.frames.size(), 1u);
    const auto d = Decode(peer.frames[0]);
    EXPECT_EQ(d.kind, "I");
    EXPECT_EQ(d.nr, 1);
    EXPECT_FALSE(user.lapd().full_state().ack_rq);

    // Only an acknowledgement pending.
    pair.a.Refuse();
    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x02, 0x02, 0x08, 0x01, 0x01, 0x7D})); // I, N(S) 1, N(R) 1
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_TRUE(user.lapd().full_state().ack_rq);
    pair.a.Release();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(peer.frames.back(), (Bytes{0x02, 0x01, 0x01, 0x04})); // RR response, N(R) 2, F 0
    EXPECT_FALSE(user.lapd().full_state().ack_rq);

    pair.a.FailNext(1);
    user.Send(Numbered(2));
    user.Send(Numbered(3));
    user.Send(Bytes(ISDN::LAPD::N201 + 1, 0x55)); // longer than a peer takes: never queued
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(peer.frames.size(), 3u);
    EXPECT_EQ(Decode(peer.frames[2]).ns, 1);
    EXPECT_EQ(LapdTest::NumberOf(Bytes(peer.frames[2].begin() + 4, peer.frames[2].end())), 3u);
    EXPECT_EQ(user.lapd().queue_out(), 0u);
    EXPECT_EQ(user.lapd().stats().errors, 1u);
    EXPECT_TRUE(Contains(log.str(), "tx failed, frame of 34 octets dropped\n"));
}

// A message built without the layer's head room still leaves with its
// I-frame header in front (pushing the header would otherwise run out of
// room); one too long to take the header is discarded, not sent cut.
TEST_F(LapdScript, MessagesWithoutHeadRoom)
{
    EstablishByPeer();
    Packet bare;
    bare.reserve_head(0);
    bare.put8(0x08);
    bare.put8(0x01);
    bare.put8(0x01);
    bare.put8(0x7D);
    ASSERT_EQ(bare.headroom(), 0u);
    user.lapd().message(bare);
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(peer.frames.size(), 1u);
    EXPECT_EQ(peer.frames[0], (Bytes{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x7D}));
    EXPECT_EQ(bare.length(), 4u) << "the caller's packet is left as it was";

    Packet huge;
    huge.reserve_head(0);
    const Bytes filler(packet_max_size, 0x55);
    huge.put(filler.data(), packet_max_size);
    user.lapd().message(huge);
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(peer.frames.size(), 1u);
    EXPECT_EQ(user.lapd().queue_out(), 0u);
    EXPECT_TRUE(Contains(log.str(), "discard outgoing message: too long (65536 octets)\n"));
}

// GetInfo answers true only on a change, and each field shows its source.
TEST_F(LapdScript, LinkInformation)
{
    ACP::IsdnLinkInfo info;
    info.set_side(ACP::IsdnSide::network);
    EXPECT_TRUE(user.lapd().GetInfo(info));
    EXPECT_FALSE(user.lapd().GetInfo(info));
    EXPECT_EQ(info.get_side().getValue(), ACP::IsdnSide::network) << "side is the caller's";
    EXPECT_EQ(info.get_lapdState().getValue(), ACP::LAPDState::tei_assigned);
    EXPECT_TRUE(info.get_establishable().getValue());
    EXPECT_FALSE(info.get_l3Initiated().getValue());

    EstablishByPeer();
    ASSERT_TRUE(SigTest::RunFor(10000)); // T203: poll, answered
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x01, 0x01}));
    ASSERT_TRUE(SigTest::Settle());
    for (int i = 0; i < 3; ++i)
        user.Send(Numbered(i));
    ASSERT_TRUE(SigTest::Settle());
    pair.a.Refuse();
    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x00, 0x02, 0x08, 0x00, 0x7D})); // I 0, N(R) 1: the RR waits
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_TRUE(user.lapd().GetInfo(info));
    EXPECT_EQ(info.get_msuTxCount().getValue(), 3);
    EXPECT_EQ(info.get_msuRxCount().getValue(), 1);
    EXPECT_EQ(info.get_mT203().getValue(), 1);
    EXPECT_EQ(info.get_mT200().getValue(), 0);
    EXPECT_EQ(info.get_lapdState().getValue(), ACP::LAPDState::multiple_frame_established);
    EXPECT_EQ(info.get_vs().getValue(), 3);
    EXPECT_EQ(info.get_va().getValue(), 1);
    EXPECT_EQ(info.get_vr().getValue(), 1);
    EXPECT_EQ(info.get_queueAck().getValue(), 2);
    EXPECT_EQ(info.get_queueOut().getValue(), 0);
    EXPECT_TRUE(info.get_ackRQ().getValue());
    EXPECT_TRUE(info.get_t200run().getValue());
    EXPECT_FALSE(info.get_t203run().getValue());
    EXPECT_FALSE(info.get_rejException().getValue());
    pair.a.Release();
    ASSERT_TRUE(SigTest::Settle());

    // Out of sequence, then REJ from the peer, then the peer busy.
    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x04, 0x02, 0x08, 0x00, 0x7D})); // I 2: one lost
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x09, 0x02}));                   // REJ, N(R) 1
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x05, 0x04}));                   // RNR, N(R) 2
    ASSERT_TRUE(SigTest::Settle());
    user.Send(Numbered(3));
    EXPECT_TRUE(user.lapd().GetInfo(info));
    EXPECT_EQ(info.get_rejected().getValue(), 1);
    EXPECT_TRUE(info.get_rejException().getValue());
    EXPECT_EQ(info.get_retrains().getValue(), 2);
    EXPECT_TRUE(info.get_peerBusy().getValue());
    EXPECT_TRUE(info.get_queuedUpRQ().getValue());
    EXPECT_EQ(info.get_queueOut().getValue(), 1);
    EXPECT_EQ(info.get_va().getValue(), 2);
    EXPECT_FALSE(info.get_ackRQ().getValue());

    ASSERT_TRUE(SigTest::RunFor(1000)); // T200 while the peer is busy
    EXPECT_TRUE(user.lapd().GetInfo(info));
    EXPECT_EQ(info.get_mT200().getValue(), 1);
    EXPECT_EQ(info.get_lapdState().getValue(), ACP::LAPDState::timer_recovery);
    EXPECT_EQ(info.get_rc().getValue(), 1);

    ASSERT_TRUE(peer.Send({0x02, 0x01, 0x01, 0x64})); // RR command, N(R) 50: outside the window
    ASSERT_TRUE(SigTest::Settle());
    for (int i = 0; i < 200; ++i)
        user.Send(Numbered(i));
    EXPECT_TRUE(user.lapd().GetInfo(info));
    EXPECT_EQ(info.get_badconfirm().getValue(), 1);
    EXPECT_EQ(info.get_lapdState().getValue(), ACP::LAPDState::awaiting_establishment);
    EXPECT_FALSE(info.get_l3Initiated().getValue());
    EXPECT_EQ(info.get_queueOut().getValue(), 128);
    EXPECT_EQ(info.get_outOverflows().getValue(), 73);
    EXPECT_EQ(info.get_msuTxCount().getValue(), 204);
    EXPECT_EQ(info.get_errors().getValue(), 0);
    EXPECT_EQ(info.get_ackOverflows().getValue(), 0);
    EXPECT_FALSE(info.get_ownBusy().getValue());
    EXPECT_FALSE(info.get_ackPending().getValue());
    EXPECT_FALSE(info.get_retrRQ().getValue());
    EXPECT_FALSE(user.lapd().GetInfo(info));
}

TEST_F(LapdScript, StatusDumpAndStatistics)
{
    static const char kEstablished[] = "\n   - state: Multiple frame established"
                                       "\n   - self: TEI=0, SAPI=0, busy=0"
                                       "\n   - peer: TEI=0, SAPI=0, busy=0"
                                       "\n   - counters: VS=0, VA=0, VR=0, RC=0"
                                       "\n   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=0"
                                       "\n   - flags: L3Initiated=0, Establishable=1, RejectException=0"
                                       "\n   - timers: T200 stopped, T202 stopped, T203 running";
    user.lapd().id = 3;
    EstablishByPeer();
    std::ostringstream dump;
    user.lapd().status()->out(dump);
    EXPECT_EQ(dump.str(), std::string("current status") + kEstablished);
    EXPECT_FALSE(user.lapd().status()->success());
    EXPECT_STREQ(user.lapd().state_text(), "Multiple frame established");
    EXPECT_STREQ(ISDN::statetext(0), "TEI unassigned");
    EXPECT_STREQ(ISDN::statetext(8), "(unknown)");

    SimTest::Capture out(std::cout);
    user.lapd().show_stat();
    EXPECT_EQ(out.str(), std::string(" - current state: ") + kEstablished +
                             "\n - statistics: "
                             "\n   - timers expire count: T200: 0, T202: 0, T203: 0"
                             "\n   - errors: 0, retrains: 0"
                             "\n   - queue overflows: out: 0, ack: 0\n");
}

// ---------------------------------------------------------------- logs

// Level 0 writes failures and the lines written at every level, nothing else.
TEST_F(LapdScript, LevelZeroWritesOnlyFailures)
{
    EstablishByPeer();
    user.Send(Numbered(1));
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x01, 0x02}));
    ASSERT_TRUE(SigTest::RunFor(10000));
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x01, 0x03}));
    ASSERT_TRUE(SigTest::Settle());
    pair.a.Refuse();
    user.Send(Numbered(2));
    pair.a.Release();
    ASSERT_TRUE(SigTest::Settle());
    for (int i = 0; i < 140; ++i) // 7 in flight, 128 queued, 5 discarded
        user.Send(Numbered(i));
    ASSERT_TRUE(peer.Send({0x00, 0x01, 0x73})); // reported, not logged
    ASSERT_TRUE(SigTest::Settle());
    user.lapd().mdl_remove();
    user.lapd().change_to_bri();
    ASSERT_TRUE(SigTest::Settle());
    const auto lines = Lines(log.str());
    const std::vector<std::string> allowed = {"T203.", "tx full", "discard outgoing message: buffer overflow",
                                              "MDL-REMOVE"};
    std::vector<std::string> seen;
    for (const auto& line : lines) {
        bool ok = false;
        for (const auto& a : allowed)
            if (Contains(line, a)) {
                ok = true;
                if (std::find(seen.begin(), seen.end(), a) == seen.end())
                    seen.push_back(a);
            }
        EXPECT_TRUE(ok) << "unexpected at level 0: " << line;
    }
    EXPECT_EQ(seen.size(), allowed.size()) << log.str();
    EXPECT_TRUE(Contains(log.str(), "LAPD[0] (Multiple frame established): T203.\n"));
    EXPECT_TRUE(Contains(log.str(), "LAPD[0] (Multiple frame established): MDL-REMOVE\n"));
}

TEST_F(LapdScript, LevelThreeTracesReceivedFrames)
{
    user.lapd().log = 3;
    user.lapd().id = 7;
    const Bytes sabme{0x02, 0x01, 0x7F};
    ASSERT_TRUE(peer.Send(sabme));
    ASSERT_TRUE(SigTest::Settle());
    char text[ISDN::logbuf_size];
    Bytes copy = sabme;
    dlogframe(copy.data(), static_cast<unsigned int>(copy.size()), 1, text);
    EXPECT_TRUE(Contains(log.str(), std::string("LAPD[7] (TEI assigned): rx:") + text)) << log.str();
    const Bytes ua{0x02, 0x01, 0x73};
    copy = ua;
    dlogframe(copy.data(), static_cast<unsigned int>(copy.size()), 0, text);
    EXPECT_TRUE(Contains(log.str(), std::string("LAPD[7] (TEI assigned): tx: ") + text)) << log.str();
    EXPECT_TRUE(
        Contains(log.str(), "LAPD[7] : change state \"TEI assigned\" -> \"Multiple frame established\"\n"));
}

TEST_F(LapdScript, SwingsBetweenSixAndSevenAreLoggedOnlyFromLevelFour)
{
    const std::string to7 = "change state \"Multiple frame established\" -> \"Timer recovery\"";
    const std::string to6 = "change state \"Timer recovery\" -> \"Multiple frame established\"";
    EstablishByPeer();
    for (unsigned int level : {2u, 3u, 4u}) {
        user.lapd().log = level;
        log.clear();
        ASSERT_TRUE(SigTest::RunFor(10000));
        ASSERT_EQ(user.lapd().full_state().state, 7u);
        ASSERT_TRUE(peer.Send({0x00, 0x01, 0x01, 0x01}));
        ASSERT_TRUE(SigTest::Settle());
        ASSERT_EQ(user.lapd().full_state().state, 6u);
        EXPECT_EQ(Contains(log.str(), to7), level >= 4) << "level " << level;
        EXPECT_EQ(Contains(log.str(), to6), level >= 4) << "level " << level;
    }
}

} // namespace
