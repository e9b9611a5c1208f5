// libss7 against libss7 over the kit's loopback pair, on the loop's test
// clock: MTP2 alignment and proving, then MTP3's signalling link test, with
// every signal unit read back by tshark.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/oracle.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/peers/ss7_peer.hpp"
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

INSTANTIATE_TEST_SUITE_P(StatusUnits, Ss7Interop, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return i.param ? "RepeatedByTheAdapter" : "AsLibss7SendsThem";
                         });

} // namespace
