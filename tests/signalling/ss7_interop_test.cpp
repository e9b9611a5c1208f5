// libss7 against libss7 over the kit's loopback pair, on the loop's test
// clock: MTP2 alignment and proving, then MTP3's signalling link test, with
// every signal unit read back by tshark. Then libss7 against the project's
// SLC: alignment, the link test answered by the test's layer 3, and one
// message each way.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/oracle.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/peers/ss7_peer.hpp"
#include "ss7_fixture.hpp"
#include "support/tshark.hpp"

#include <gtest/gtest.h>

extern "C" {
#include <libss7.h>
}

namespace {

using SigTest::Ss7Peer;

// Without and with the status-unit repetition of an SS7-mode controller:
// with it, each side puts a status unit on the wire only when it changes,
// and the far adapter repeats it to its libss7.
class Ss7Interop : public ::testing::TestWithParam<bool> {};

TEST_P(Ss7Interop, TwoSignallingPointsAlignAndPassTheLinkTest)
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze();
    const bool repeat = GetParam();
    SigTest::LoopbackHdlc pair("pc1", "pc2");
    SigTest::Tap tap;
    pair.SetTap(&tap);
    Ss7Peer one(pair.a, {.pc = 1, .adjacent_pc = 2, .repeat_status = repeat});
    Ss7Peer two(pair.b, {.pc = 2, .adjacent_pc = 1, .repeat_status = repeat});
    ASSERT_EQ(one.Start(), 0);
    ASSERT_EQ(two.Start(), 0);
    ASSERT_TRUE(SigTest::RunFor(30000));

    for (const Ss7Peer* p : {&one, &two}) {
        EXPECT_TRUE(p->mtp2_up()) << p->name();
        EXPECT_TRUE(p->up()) << p->name();
        EXPECT_EQ(p->Count(MTP2_LINK_UP), 1) << p->name();
        EXPECT_EQ(p->Count(SS7_EVENT_UP), 1) << p->name();
        EXPECT_EQ(p->Count(MTP2_LINK_DOWN), 0) << p->name();
        EXPECT_EQ(p->bad_frames, 0u) << p->name();
    }

    std::string errors;
    const auto rows = SigTest::Mtp2Fields(tap.frames(), &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), tap.frames().size());
    std::size_t msus = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at("_ws.expert.message"), "") << "unit " << i;
        if (std::stoul(rows[i].at("mtp2.li")) > 2)
            ++msus;
    }
    // At least each side's SLTM and SLTA (Q.707 2.2).
    EXPECT_GE(msus, 4u);

    for (const char* side : {"pc1", "pc2"}) {
        const auto units = tap.From(side);
        // Paced: one unit per 10 ms at most, so 30 s hold no more than 3001.
        EXPECT_LE(units.size(), 3001u) << side;
        std::size_t repeated = 0;
        for (std::size_t i = 1; i < units.size(); ++i)
            if (units[i].bytes == units[i - 1].bytes && (units[i].bytes[2] & 0x3F) <= 2)
                ++repeated;
        if (repeat)
            EXPECT_EQ(repeated, 0u) << side;
        else
            EXPECT_GT(repeated, 100u) << side;
    }
}

// ITU routing label (Q.704 2.2): DPC, OPC and SLS, least significant first.
struct Label {
    unsigned int dpc, opc, sls;
};

Label ReadLabel(const SigTest::Bytes& msu)
{
    const std::uint32_t l = msu[1] | msu[2] << 8 | msu[3] << 16 | std::uint32_t(msu[4]) << 24;
    return {l & 0x3FFF, (l >> 14) & 0x3FFF, l >> 28};
}

SigTest::Bytes WithLabel(std::uint8_t sio, Label l, const SigTest::Bytes& rest)
{
    const std::uint32_t v = l.dpc | l.opc << 14 | l.sls << 28;
    SigTest::Bytes m = {sio, std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                        std::uint8_t(v >> 24)};
    m.insert(m.end(), rest.begin(), rest.end());
    return m;
}

// The SLC sends each status unit once: on the board, the HDLC controller
// in SS7 mode repeats the last one on the line, and the adapter's
// repetition plays that controller (the first case). Without it libss7
// sees each status unit once and must align all the same.
class Ss7SlcInterop : public ::testing::TestWithParam<bool> {};

TEST_P(Ss7SlcInterop, Libss7AlignsPassesTheLinkTestAndExchangesMessages)
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze();
    SigTest::LoopbackHdlc pair("slc", "libss7");
    SigTest::Tap tap;
    pair.SetTap(&tap);
    Ss7Test::LogCapture quiet;
    Ss7Test::Link ours(pair.a);
    ours.slc.dpc = 2;
    Ss7Peer peer(pair.b, {.pc = 2, .adjacent_pc = 1, .repeat_status = GetParam()});

    ASSERT_EQ(peer.Start(), 0);
    ours.slc.local_activate();
    ASSERT_TRUE(SigTest::RunFor(20000));
    ASSERT_TRUE(peer.mtp2_up());
    EXPECT_EQ(peer.Count(MTP2_LINK_UP), 1);
    ASSERT_EQ(ours.slc.state(), SS7::SLC::State::worked);
    EXPECT_EQ(ours.l3.activations, 1);

    // libss7's SLTM (Q.707 2.2): SI 1, heading 0x11, length, test pattern.
    ASSERT_GE(ours.l3.got.size(), 1u);
    const SigTest::Bytes sltm = ours.l3.got[0];
    ASSERT_GE(sltm.size(), 7u);
    EXPECT_EQ(sltm[0] & 0x0F, 1);
    EXPECT_EQ(sltm[5], 0x11);
    const Label l = ReadLabel(sltm);
    EXPECT_EQ(l.dpc, 1u);
    EXPECT_EQ(l.opc, 2u);
    const unsigned int length = sltm[6] >> 4;
    ASSERT_EQ(sltm.size(), 7u + length);
    // What arrived is what libss7 wrote, octet for octet.
    bool written = false;
    for (const auto& f : tap.From("libss7"))
        written = written || SigTest::Bytes(f.bytes.begin() + 3, f.bytes.end()) == sltm;
    EXPECT_TRUE(written);

    SigTest::Bytes slta_rest(sltm.begin() + 5, sltm.end());
    slta_rest[0] = 0x21;
    ours.Send(WithLabel(sltm[0], {l.opc, l.dpc, l.sls}, slta_rest));
    ASSERT_TRUE(SigTest::RunFor(100));
    // The link test passed, libss7 allows traffic (Q.704 9.2, TRA: SI 0,
    // heading 0x17) and waits for the same from its neighbour.
    ASSERT_EQ(ours.l3.got.size(), 2u);
    EXPECT_EQ(ours.l3.got[1], WithLabel(0x00, {1, 2, 0}, {0x17}));
    EXPECT_FALSE(peer.up());
    ours.Send(WithLabel(0x00, {2, 1, 0}, {0x17}));
    ASSERT_TRUE(SigTest::RunFor(5000));
    ASSERT_TRUE(peer.up());
    EXPECT_EQ(peer.Count(SS7_EVENT_UP), 1);

    // One message each way: the test's own SLTM, and libss7's SLTA, which
    // echoes the label and the test pattern it read.
    const std::size_t before = ours.l3.got.size();
    const SigTest::Bytes pattern = {0x5A, 0x00, 0xFF, 0x33, 0xC1};
    SigTest::Bytes test = {0x11, 0x50};
    test.insert(test.end(), pattern.begin(), pattern.end());
    ours.Send(WithLabel(0x01, {2, 1, 0}, test));
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(ours.l3.got.size(), before + 1);
    test[0] = 0x21;
    EXPECT_EQ(ours.l3.got.back(), WithLabel(0x01, {1, 2, 0}, test));
    const auto sent = tap.From("libss7");
    ASSERT_FALSE(sent.empty());
    bool seen = false;
    for (const auto& f : sent)
        seen = seen || SigTest::Bytes(f.bytes.begin() + 3, f.bytes.end()) == ours.l3.got.back();
    EXPECT_TRUE(seen);

    EXPECT_EQ(peer.Count(MTP2_LINK_DOWN), 0);
    EXPECT_EQ(peer.Count(SS7_EVENT_DOWN), 0);
    EXPECT_EQ(ours.slc.state(), SS7::SLC::State::worked);
    EXPECT_EQ(ours.l3.deactivations.size(), 0u);

    // The host takes the link out of service: libss7 loses it and retries
    // alignment, and the link stays out of service until level 3 starts it
    // again (Q.703 7.2).
    const std::size_t before_stop = tap.From("libss7").size();
    ours.slc.local_deactivate();
    ASSERT_TRUE(SigTest::RunFor(30000));
    EXPECT_EQ(peer.Count(MTP2_LINK_DOWN), 1);
    EXPECT_FALSE(peer.mtp2_up());
    EXPECT_EQ(ours.slc.state(), SS7::SLC::State::idle);
    EXPECT_EQ(ours.l3.activations, 1);
    const auto retried = tap.From("libss7");
    std::size_t alignments = 0;
    for (std::size_t i = before_stop; i < retried.size(); ++i)
        if (retried[i].bytes.size() > 3 && (retried[i].bytes[2] & 0x3F) == 1 &&
            retried[i].bytes[3] == SS7::SLC::SIO)
            ++alignments;
    EXPECT_GT(alignments, 0u);
    ours.slc.local_activate();
    ASSERT_TRUE(SigTest::RunFor(20000));
    EXPECT_TRUE(peer.mtp2_up());
    EXPECT_EQ(ours.l3.activations, 2);
    EXPECT_EQ(peer.bad_frames, 0u);

    std::string errors;
    const auto rows = SigTest::Mtp2Fields(tap.frames(), &errors);
    EXPECT_EQ(errors, "");
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].at("mtp2.li.bad"), "") << "unit " << i;
}

INSTANTIATE_TEST_SUITE_P(StatusUnits, Ss7SlcInterop, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return i.param ? "RepeatedAsTheBoardsController" : "SentOnce";
                         });

INSTANTIATE_TEST_SUITE_P(StatusUnits, Ss7Interop, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return i.param ? "RepeatedByTheAdapter" : "AsLibss7SendsThem";
                         });

} // namespace
