// SS7 signalling link control on the loop's test clock: alignment and
// proving, the level-2 timers, MSU transfer under loss, flow control
// against a refusing channel, error handling and the LI rules.

#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "ss7_fixture.hpp"

#include "core/clock.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using namespace Ss7Test;
using SS7::SLC;
using St = SLC::State;

const Bytes kSios = Lssu(SLC::SIOS);

std::size_t CountOf(const std::vector<Bytes>& units, const Bytes& u)
{
    return static_cast<std::size_t>(std::count(units.begin(), units.end(), u));
}

class Ss7Slc : public ::testing::Test {
protected:
    void SetUp() override { Mux::test::freeze_at(1000000000ull); }
};

// ---------------------------------------------------------------------------
// Two instances over the loopback pair

class Ss7Pair : public Ss7Slc {
protected:
    SigTest::LoopbackHdlc pair{"a", "b"};
    Link a{pair.a};
    Link b{pair.b};
};

TEST_F(Ss7Pair, NormalAlignmentEntersServiceAfterProving)
{
    LogCapture log;
    a.slc.log.state = true;
    b.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    a.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    // b's SIO found a idle; a: SIO; b answers with SIN; a skips aligned on SIN.
    EXPECT_TRUE(log.Has("change state from \"not aligned\" to \"proving\""));
    ASSERT_EQ(a.slc.state(), St::proving);
    ASSERT_EQ(b.slc.state(), St::proving);
    ASSERT_TRUE(SigTest::RunFor(SLC::T4n - 1));
    EXPECT_EQ(a.slc.state(), St::proving);
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(a.slc.state(), St::worked);
    EXPECT_EQ(b.slc.state(), St::worked);
    EXPECT_EQ(a.l3.activations, 1);
    EXPECT_EQ(b.l3.activations, 1);
}

TEST_F(Ss7Pair, EmergencyAlignmentProvesFor500ms)
{
    a.slc.emergency = b.slc.emergency = true;
    b.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    a.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(a.slc.state(), St::proving);
    ASSERT_TRUE(SigTest::RunFor(SLC::T4e - 1));
    EXPECT_EQ(b.slc.state(), St::proving);
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(a.slc.state(), St::worked);
    EXPECT_EQ(b.slc.state(), St::worked);
}

// A host deactivation takes both ends down without a loop of status units,
// and a far end that restarts alignment does not bring the idle link back:
// only a start from level 3 does.
TEST_F(Ss7Pair, DeactivationHoldsAgainstTheFarEndsRestart)
{
    LogCapture quiet;
    b.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    a.slc.local_activate();
    ASSERT_TRUE(SigTest::RunFor(SLC::T4n));
    ASSERT_EQ(a.slc.state(), St::worked);
    a.slc.local_deactivate();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(a.slc.state(), St::idle);
    EXPECT_EQ(b.slc.state(), St::idle);
    EXPECT_EQ(b.l3.deactivations.back(), "impossible phasing");

    b.slc.local_activate();
    ASSERT_TRUE(SigTest::RunFor(60000));
    EXPECT_EQ(a.slc.state(), St::idle);
    EXPECT_EQ(b.slc.state(), St::idle); // T2
    EXPECT_EQ(a.l3.activations, 1);

    a.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    b.slc.local_activate();
    ASSERT_TRUE(SigTest::RunFor(SLC::T4n));
    EXPECT_EQ(a.slc.state(), St::worked);
    EXPECT_EQ(a.l3.activations, 2);
}

// 2000 MSUs each way with 5 % of the units lost while both sides still have
// MSUs to send: each arrives once and in order, through retransmissions.
TEST_F(Ss7Pair, TransferUnderLossDeliversEachMsuOnceInOrder)
{
    SigTest::Tap tap;
    pair.SetTap(&tap);
    b.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    a.slc.local_activate();
    ASSERT_TRUE(SigTest::RunFor(SLC::T4n));
    ASSERT_EQ(a.slc.state(), St::worked);
    tap.clear();

    constexpr unsigned int total = 2000;
    auto msu = [](unsigned int side, unsigned int i) {
        Bytes m(20, static_cast<std::uint8_t>(side));
        m[0] = 0x83; // SIO: national, SCCP
        m[1] = static_cast<std::uint8_t>(i >> 8);
        m[2] = static_cast<std::uint8_t>(i);
        return m;
    };
    pair.a.Seed(7);
    pair.b.Seed(11);
    pair.a.DropFraction(0.05);
    pair.b.DropFraction(0.05);
    unsigned int queued_a = 0, queued_b = 0;
    LogCapture quiet;
    for (int round = 0; round < 20000 && (a.l3.got.size() < total || b.l3.got.size() < total); ++round) {
        while (queued_a < total && a.slc.tb_count() < 20)
            a.Send(msu(1, queued_a++));
        while (queued_b < total && b.slc.tb_count() < 20)
            b.Send(msu(2, queued_b++));
        if (queued_a == total || queued_b == total) {
            pair.a.DropFraction(0);
            pair.b.DropFraction(0);
        }
        ASSERT_TRUE(SigTest::RunFor(5));
        ASSERT_EQ(a.slc.state(), St::worked) << "round " << round;
        ASSERT_EQ(b.slc.state(), St::worked) << "round " << round;
    }
    ASSERT_EQ(a.l3.got.size(), total);
    ASSERT_EQ(b.l3.got.size(), total);
    for (unsigned int i = 0; i < total; ++i) {
        ASSERT_EQ(b.l3.got[i], msu(1, i)) << i;
        ASSERT_EQ(a.l3.got[i], msu(2, i)) << i;
    }
    for (const Link* l : {&a, &b}) {
        EXPECT_GT(l->slc.statistics().repeatCntr, 0u);
        EXPECT_GT(l->slc.statistics().badSeqCntr, 0u);
        EXPECT_EQ(l->slc.statistics().overflowCntr, 0u);
    }
    EXPECT_GT(pair.a.counters.lost, 0u);

    // The FSN runs 126, 127, 0 in the units a sent.
    bool wrapped = false;
    unsigned int last = 0;
    for (const auto& f : tap.From("a")) {
        if ((f.bytes[2] & 0x3F) < 3)
            continue;
        const unsigned int fsn = f.bytes[1] & 0x7Fu;
        wrapped = wrapped || (last == 127 && fsn == 0);
        last = fsn;
    }
    EXPECT_TRUE(wrapped);
}

// ---------------------------------------------------------------------------
// One instance against a raw far end

class Ss7Raw : public Ss7Slc {
protected:
    void InService()
    {
        link.slc.local_activate();
        ASSERT_TRUE(SigTest::Settle());
        peer.Send(Lssu(SLC::SIN));
        ASSERT_TRUE(SigTest::Settle());
        ASSERT_EQ(link.slc.state(), St::proving);
        // A FISU ends proving at once, without waiting for T4.
        peer.Send(Unit(127, 1, 127, 1));
        ASSERT_TRUE(SigTest::Settle());
        ASSERT_EQ(link.slc.state(), St::worked);
        peer.units.clear();
    }
    // An MSU from the far end, acknowledging up to `bsn`.
    void Msu(unsigned int fsn, const Bytes& sif, unsigned int bsn = 127)
    {
        peer.Send(Unit(bsn, 1, fsn, 1, sif));
        ASSERT_TRUE(SigTest::Settle());
    }
    void Raw(const Bytes& unit)
    {
        peer.Send(unit);
        ASSERT_TRUE(SigTest::Settle());
    }

    SigTest::LoopbackHdlc pair{"slc", "peer"};
    Link link{pair.a};
    RawPeer peer{pair.b};
};

// Out of service, the far end's alignment goes unanswered (Q.703 7.2).
TEST_F(Ss7Raw, IdleIgnoresTheFarEndsAlignment)
{
    for (std::uint8_t status : {SLC::SIO, SLC::SIN, SLC::SIE, SLC::SIOS}) {
        Raw(Lssu(status));
        EXPECT_EQ(link.slc.state(), St::idle);
    }
    EXPECT_TRUE(peer.units.empty());
    EXPECT_TRUE(link.l3.deactivations.empty());
}

TEST_F(Ss7Raw, AlignmentTimersEndInIdle)
{
    LogCapture log;
    link.slc.log.timers = true;

    link.slc.local_activate(); // T2: the far end never answers
    ASSERT_TRUE(SigTest::RunFor(SLC::T2 - 1));
    EXPECT_EQ(link.slc.state(), St::not_aligned);
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(link.slc.state(), St::idle);
    EXPECT_TRUE(log.Has("SS7/L2 [dpc=0, slc=0, trunk=0] (not aligned): T2 expired\n"));
    EXPECT_EQ(peer.units, (std::vector<Bytes>{Lssu(SLC::SIO), kSios}));
    EXPECT_EQ(link.l3.deactivations, std::vector<std::string>{"impossible phasing"});

    peer.units.clear();
    link.slc.local_activate();
    Raw(Lssu(SLC::SIO)); // T3: aligned, and proving never starts
    ASSERT_EQ(link.slc.state(), St::aligned);
    EXPECT_TRUE(log.Has("set T3"));
    ASSERT_TRUE(SigTest::RunFor(SLC::T3));
    EXPECT_EQ(link.slc.state(), St::idle);
    EXPECT_TRUE(log.Has("T3 expired"));
    EXPECT_EQ(CountOf(peer.units, kSios), 1u);

    peer.units.clear();
    link.slc.local_activate(); // T4 ends proving, T1 aligned ready
    Raw(Lssu(SLC::SIN));
    ASSERT_TRUE(SigTest::RunFor(SLC::T4n));
    EXPECT_TRUE(log.Has("set T4"));
    EXPECT_TRUE(log.Has("(proving): T4 expired.\n"));
    ASSERT_EQ(link.slc.state(), St::aligned_ready);
    EXPECT_EQ(peer.units.back(), Unit(127, 1, 127, 1));
    ASSERT_TRUE(SigTest::RunFor(SLC::T1 - 1));
    EXPECT_EQ(link.slc.state(), St::aligned_ready);
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(link.slc.state(), St::idle);
    EXPECT_TRUE(log.Has("(aligned ready): T1 expired\n"));
    EXPECT_EQ(CountOf(peer.units, kSios), 1u);
    EXPECT_EQ(link.l3.deactivations.size(), 3u);
}

TEST_F(Ss7Raw, T7FollowsTheRetransmissionBuffer)
{
    InService();
    LogCapture log;
    link.slc.log.timers = true;
    link.Send({0x83, 1, 2, 3});
    ASSERT_TRUE(SigTest::RunFor(6000));
    link.Send({0x83, 4, 5, 6});
    ASSERT_TRUE(SigTest::RunFor(4000));
    EXPECT_EQ(link.slc.statistics().rtbSize, 2u);
    // The first acknowledgement re-arms T7 for the second MSU.
    Raw(Unit(0, 1, 127, 1));
    EXPECT_EQ(link.slc.statistics().rtbSize, 1u);
    ASSERT_TRUE(SigTest::RunFor(SLC::T7 - 1));
    EXPECT_EQ(link.slc.state(), St::worked);
    ASSERT_TRUE(SigTest::RunFor(1));
    EXPECT_EQ(link.slc.state(), St::idle);
    EXPECT_TRUE(log.Has("T7 expired: 1 packets in RTB.\n"));

    // Cancelled when the RTB empties.
    InService();
    link.Send({0x83, 7});
    ASSERT_TRUE(SigTest::Settle());
    Raw(Unit(0, 1, 127, 1));
    EXPECT_EQ(link.slc.statistics().rtbSize, 0u);
    ASSERT_TRUE(SigTest::RunFor(60000));
    EXPECT_EQ(link.slc.state(), St::worked);
}

TEST_F(Ss7Raw, LengthIndicatorOfSentUnits)
{
    InService();
    link.Send(Bytes(62, 0x55));
    link.Send(Bytes(63, 0x55));
    link.Send(Bytes(200, 0x55));
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(peer.units.size(), 3u);
    EXPECT_EQ(peer.units[0], Unit(127, 1, 0, 1, Bytes(62, 0x55)));
    EXPECT_EQ(peer.units[1][2], 63);
    EXPECT_EQ(peer.units[1].size(), 66u);
    EXPECT_EQ(peer.units[2][2], 63);
    EXPECT_EQ(peer.units[2].size(), 203u);
    const auto s = link.slc.statistics();
    EXPECT_EQ(s.octetsTx - 3 * 2, 62u + 63 + 200 + 9); // two FISUs on entering service
}

// The channel takes status units but not MSUs (a transmit FIFO with room for
// a short frame only).
class MsuRefusing : public GenericHDLC {
public:
    explicit MsuRefusing(GenericHDLC& inner) : inner_(inner) {}
    bool hdlc_transmit(Packet& frame) override
    {
        return (refuse && frame.length() > 3) ? false : inner_.hdlc_transmit(frame);
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refuse; }
    bool refuse = false;

private:
    GenericHDLC& inner_;
};

TEST_F(Ss7Raw, RefusedMsuWaitsAndItsFsnIsNotAnnounced)
{
    InService();
    MsuRefusing channel(pair.a);
    link.slc.hdlc = &channel;
    channel.refuse = true;
    link.Send({0x83, 0xAA});
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(link.slc.tb_count(), 1u);
    EXPECT_EQ(link.slc.rtb_count(), 0u);
    // The acknowledgement of the far end's MSU carries FSN 127, not the
    // waiting MSU's 0: the far end must not expect an MSU it never got.
    Msu(0, {0x83, 0x01, 0x02});
    ASSERT_FALSE(peer.units.empty());
    EXPECT_EQ(peer.units.back(), Unit(0, 1, 127, 1));
    EXPECT_EQ(link.slc.statistics().badSeqCntr, 0u);

    channel.refuse = false;
    peer.units.clear();
    LogCapture quiet;
    link.slc.on_hdlc_ready();
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(peer.units.size(), 1u);
    EXPECT_EQ(peer.units[0], Unit(0, 1, 0, 1, {0x83, 0xAA}));
    EXPECT_EQ(link.slc.tb_count(), 0u);
    EXPECT_EQ(link.slc.rtb_count(), 1u);
}

TEST_F(Ss7Raw, FullTransmissionBufferRefusesThe201stMsu)
{
    InService();
    pair.a.Refuse();
    LogCapture log;
    for (int i = 0; i < 201; ++i)
        link.Send({0x83, static_cast<std::uint8_t>(i)});
    EXPECT_EQ(link.slc.tb_count(), 200u);
    EXPECT_EQ(link.slc.statistics().overflowCntr, 1u);
    EXPECT_TRUE(log.Has("no space in TB buffer, TB=200 RTB=0 ignoring msu: "));

    // Readiness resumes sending: 127 go out, the RTB is full.
    pair.a.Release();
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_TRUE(log.Has("hdlc ready"));
    EXPECT_EQ(link.slc.rtb_count(), 127u);
    EXPECT_EQ(link.slc.tb_count(), 73u);
    EXPECT_EQ(peer.units.size(), 127u);
    // Acknowledging them lets the rest go.
    Raw(Unit(126, 1, 127, 1));
    EXPECT_EQ(link.slc.tb_count(), 0u);
    EXPECT_EQ(link.slc.rtb_count(), 73u);
}

// One unacceptable BSN, or one unexpected FIB, is tolerated; a second one
// with no good unit in between ends the link.
TEST_F(Ss7Raw, TwoBadUnitsInARowEndTheLink)
{
    struct Case {
        Bytes bad, good, second;
        std::string line;
    };
    const Case cases[] = {
        {Unit(50, 1, 127, 1), Unit(127, 1, 127, 1), Unit(51, 1, 127, 1),
         "bad su acknowledgement received:  BSN=51 BIB=1 FSN=127 FIB=1\n"},
        {Unit(127, 1, 127, 0), Unit(127, 1, 127, 1), Unit(127, 1, 0, 0, {0x83, 1, 2}),
         "bad start of a retransmission:  BSN=127 BIB=1 FSN=0 FIB=0\n"},
    };
    for (const Case& c : cases) {
        InService();
        LogCapture log;
        link.slc.log.msu_processing = true;
        Raw(c.bad);
        EXPECT_EQ(link.slc.state(), St::worked);
        Raw(c.good); // clears the memory
        Raw(c.bad);
        EXPECT_EQ(link.slc.state(), St::worked);
        Raw(c.second);
        EXPECT_EQ(link.slc.state(), St::idle);
        EXPECT_TRUE(log.Has(c.line));
    }
}

TEST_F(Ss7Raw, RepeatedMsuIsDroppedWithoutBsnProcessing)
{
    InService();
    LogCapture log;
    link.slc.log.msu_processing = true;
    Msu(0, {0x83, 0x10, 0x20});
    EXPECT_EQ(link.slc.bsn(), 0u);
    // Twice with a BSN that would be unacceptable: not judged at all.
    Msu(0, {0x83, 0x10, 0x20}, 60);
    Msu(0, {0x83, 0x10, 0x20}, 60);
    EXPECT_EQ(link.slc.state(), St::worked);
    EXPECT_EQ(link.l3.got.size(), 1u);
    EXPECT_TRUE(log.Has("discard msu due to 5.2.2/i Q.702 fsnr=0 fsnx=0\n"));

    // A gap: negative acknowledgement with the BIB inverted.
    peer.units.clear();
    Msu(2, {0x83, 0x30, 0x40});
    EXPECT_TRUE(log.Has("discard msu due to 5.2.2/ii Q.702 fsnr=2 fsnx=0\n"));
    EXPECT_TRUE(log.Has("nack!"));
    EXPECT_EQ(peer.units.back(), Unit(0, 0, 127, 1));
    EXPECT_EQ(link.slc.statistics().badSeqCntr, 1u);
    EXPECT_EQ(link.l3.got.size(), 1u);
}

TEST_F(Ss7Raw, NegativeAcknowledgementRetransmitsFromTheOldest)
{
    InService();
    for (std::uint8_t i = 0; i < 3; ++i)
        link.Send({0x83, i});
    ASSERT_TRUE(SigTest::Settle());
    peer.units.clear();
    // The far end got MSU 0 only: BSN 0 with its BIB inverted.
    Raw(Unit(0, 0, 127, 1));
    ASSERT_EQ(peer.units.size(), 2u);
    EXPECT_EQ(peer.units[0], Unit(127, 1, 1, 0, {0x83, 1}));
    EXPECT_EQ(peer.units[1], Unit(127, 1, 2, 0, {0x83, 2}));
    EXPECT_EQ(link.slc.statistics().repeatCntr, 1u);
    EXPECT_EQ(link.slc.rtb_count(), 2u);
}

TEST_F(Ss7Raw, StatusUnitInServiceEndsTheLink)
{
    InService();
    LogCapture log;
    Raw(Lssu(SLC::SIO));
    EXPECT_EQ(link.slc.state(), St::idle);
    EXPECT_TRUE(log.Has("(worked): receive lssu: out of alignment  BSN=127 BIB=1 FSN=127 FIB=1\n"));
    EXPECT_EQ(link.l3.deactivations.back(), "impossible phasing");

    // SIPO (Q.703 11.1.2) too, printed as unknown.
    InService();
    Raw(Lssu(4));
    EXPECT_EQ(link.slc.state(), St::idle);
    EXPECT_TRUE(log.Has("receive lssu: unknown:4 "));
}

TEST_F(Ss7Raw, MsusLeftFromAnEarlierPeriodAreDiscarded)
{
    InService();
    pair.a.Refuse();
    for (std::uint8_t i = 0; i < 3; ++i)
        link.Send({0x83, i});
    LogCapture quiet;
    link.slc.local_deactivate();
    pair.a.Release();
    ASSERT_TRUE(SigTest::Settle());
    quiet.clear();
    InService();
    EXPECT_TRUE(quiet.Has("(worked): discard 3 msu in TB\n"));
    EXPECT_EQ(link.slc.tb_count(), 0u);
    EXPECT_TRUE(peer.units.empty());
}

TEST_F(Ss7Raw, ReceivedLengthIndicator)
{
    InService();
    LogCapture log;
    const auto rx = [&] { return link.slc.statistics().msuRxCount; };

    // LI 5, 7 octets: cut to 5.
    Raw({0xFF, 0x80, 5, 0x83, 1, 2, 3, 4, 5, 6});
    ASSERT_EQ(link.l3.got.size(), 1u);
    EXPECT_EQ(link.l3.got[0], (Bytes{0x83, 1, 2, 3, 4}));
    EXPECT_TRUE(log.Has("invalid packet length, expected = 5, received = 7\n"));
    EXPECT_TRUE(log.Has("truncate 2 octet(s) : "));

    // LI 10, 5 octets: discarded, counted in octetsRx only.
    const auto before = link.slc.statistics();
    log.clear();
    Raw({0xFF, 0x81, 10, 0x83, 1, 2, 3, 4});
    EXPECT_EQ(link.l3.got.size(), 1u);
    EXPECT_EQ(rx(), before.msuRxCount);
    EXPECT_EQ(link.slc.statistics().octetsRx, before.octetsRx + 8);
    EXPECT_TRUE(log.Has("invalid packet length, expected = 10, received = 5\n"));
    EXPECT_EQ(link.slc.bsn(), 0u);

    // 70 octets: LI 63 is right; LI 5 cannot be cut.
    log.clear();
    Bytes sif(70, 0x44);
    sif[0] = 0x83;
    Raw(Unit(127, 1, 1, 1, sif));
    ASSERT_EQ(link.l3.got.size(), 2u);
    EXPECT_EQ(link.l3.got[1], sif);
    EXPECT_EQ(log.text(), "");
    Bytes li5 = Unit(127, 1, 2, 1, sif);
    li5[2] = 5;
    Raw(li5);
    EXPECT_EQ(log.text(),
              "SS7/L2 [dpc=0, slc=0, trunk=0] (worked): invalid packet length, expected = 5, received = 70\n"
              "SS7/L2 [dpc=0, slc=0, trunk=0] (worked): can't truncate signalling unit.\n");
    ASSERT_EQ(link.l3.got.size(), 3u);
    EXPECT_EQ(link.l3.got[2].size(), 70u);

    // Spare bits set: LI is bits 5..0.
    Raw({0xFF, 0x83, 0xC3, 0x83, 7, 8});
    ASSERT_EQ(link.l3.got.size(), 4u);
    EXPECT_EQ(link.l3.got[3], (Bytes{0x83, 7, 8}));

    // Shorter than 3 octets.
    log.clear();
    Raw({0xFF, 0x80});
    EXPECT_TRUE(log.Has("ignore packet, length too small "));
    EXPECT_EQ(link.slc.state(), St::worked);
}

TEST_F(Ss7Raw, QueriesAndRepeatedCommands)
{
    LogCapture log;
    link.slc.log.mtp_activate = true;
    link.slc.trunk = 1;
    link.slc.slc = 3;
    link.slc.dpc = 2;
    link.slc.local_deactivate(); // in idle: one more SIOS, reported again
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(peer.units, std::vector<Bytes>{kSios});
    EXPECT_EQ(link.l3.deactivations, std::vector<std::string>{"impossible phasing"});
    EXPECT_TRUE(log.Has("SS7/L2 [dpc=2, slc=3, trunk=1] (idle): local_deactivate()\n"));

    InService();
    EXPECT_TRUE(log.Has("local_activate: executing..."));
    link.slc.local_activate();
    EXPECT_TRUE(log.Has("local_activate: ignored."));
    EXPECT_EQ(link.l3.activations, 2);

    Msu(0, {0x83, 1, 2});
    Msu(1, {0x83, 1, 2});
    EXPECT_EQ(link.slc.bsn(), 1u);
    link.Send({0x83, 9});
    link.Send({0x83, 9});
    EXPECT_EQ(link.slc.statistics().rtbSize, 2u);
    Raw(Unit(1, 1, 1, 1));
    EXPECT_EQ(link.slc.statistics().rtbSize, 0u);

    std::ostringstream info;
    link.slc.protocol_info(info);
    EXPECT_EQ(info.str(), "MTP/L2");

    link.slc.OnTrunkHardStatus(true);
    EXPECT_EQ(link.slc.state(), St::worked);
    link.slc.OnTrunkHardStatus(false);
    EXPECT_EQ(link.slc.state(), St::idle);
    EXPECT_TRUE(log.Has("(worked):  transport OFF by low level terminated\n"));
    log.clear();
    link.slc.OnTrunkHardStatus(false);
    EXPECT_EQ(log.text(), "");
}

} // namespace
