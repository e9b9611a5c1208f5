// The tshark recipes on tapped frames: LAPD with its direction (so that a
// wrong C/R bit shows as a command taken for a response), and MTP2 signal
// units, including one whose wrong LI the oracle must catch.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/oracle.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "support/tshark.hpp"

#include <gtest/gtest.h>

namespace {

using SigTest::Bytes;

void Send(SigTest::End& end, const Bytes& frame)
{
    Packet p;
    p.reserve_head(0);
    p.put(frame.data(), static_cast<unsigned int>(frame.size()));
    ASSERT_TRUE(end.hdlc_transmit(p));
}

TEST(KitTshark, LapdFramesWithTheirDirection)
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze();
    SigTest::LoopbackHdlc pair("user", "network");
    pair.a.direction = 'O';
    pair.b.direction = 'I';
    SigTest::Tap tap;
    pair.SetTap(&tap);
    Send(pair.a, {0x00, 0x01, 0x7F});       // SABME, P 1 (command from the user side: C/R 0)
    Send(pair.b, {0x00, 0x01, 0x73});       // UA, F 1 (response from the network side: C/R 0)
    Send(pair.b, {0x02, 0x01, 0x01, 0x01}); // RR, N(R) 0, P 1 (command from the network side: C/R 1)
    ASSERT_TRUE(SigTest::Settle());

    std::string errors;
    auto rows = SigTest::LapdFields(tap.frames(), true, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]["lapd.direction"], "0");
    EXPECT_EQ(rows[0]["lapd.cr"], "0");
    EXPECT_EQ(rows[0]["lapd.control.u_modifier_cmd"], "0x1b");
    EXPECT_EQ(rows[0]["lapd.control.p"], "1");
    EXPECT_EQ(rows[1]["lapd.direction"], "1");
    EXPECT_EQ(rows[1]["lapd.control.u_modifier_resp"], "0x18");
    EXPECT_EQ(rows[1]["lapd.control.f"], "1");
    EXPECT_EQ(rows[2]["lapd.cr"], "1");
    EXPECT_EQ(rows[2]["lapd.control.s_ftype"], "0x0000");
    EXPECT_EQ(rows[2]["lapd.control.n_r"], "0");
    EXPECT_EQ(rows[2]["lapd.control.p"], "1");
    for (auto& r : rows) {
        EXPECT_EQ(r["lapd.sapi"], "0");
        EXPECT_EQ(r["lapd.tei"], "0");
        EXPECT_EQ(r["_ws.expert.message"], "");
    }

    // The same UA labelled as sent by the user side reads as a command:
    // the oracle sees a C/R bit that does not fit its sender.
    SigTest::TapFrame wrong = tap.frames()[1];
    wrong.direction = 'O';
    rows = SigTest::LapdFields({wrong});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["lapd.control.u_modifier_resp"], "");
    EXPECT_EQ(rows[0]["lapd.control.p"], "1");
}

TEST(KitTshark, Mtp2SignalUnits)
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze();
    SigTest::LoopbackHdlc pair;
    SigTest::Tap tap;
    pair.SetTap(&tap);
    Send(pair.a, {0x85, 0x83, 0x00});                               // FISU: BSN 5, BIB 1, FSN 3, FIB 1
    Send(pair.a, {0x85, 0x83, 0x01, 0x01});                         // LSSU SIN
    Send(pair.b, {0x03, 0x04, 0x05, 0x83, 0x01, 0x02, 0x03, 0x04}); // MSU: BSN 3, FSN 4, LI 5
    Send(pair.b, {0x03, 0x85, 0x0A, 0x83, 0x01, 0x02});             // LI 10 over 3 octets
    ASSERT_TRUE(SigTest::Settle());

    std::string errors;
    auto rows = SigTest::Mtp2Fields(tap.frames(), &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), 4u);
    auto expect = [&](std::size_t i, const char* bsn, const char* fsn, const char* li) {
        EXPECT_EQ(rows[i]["mtp2.bsn"], bsn) << i;
        EXPECT_EQ(rows[i]["mtp2.fsn"], fsn) << i;
        EXPECT_EQ(rows[i]["mtp2.li"], li) << i;
    };
    expect(0, "5", "3", "0");
    expect(1, "5", "3", "1");
    expect(2, "3", "4", "5");
    EXPECT_EQ(rows[1]["mtp2.sf"], "1");
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i]["mtp2.li.bad"], "") << i;
        EXPECT_EQ(rows[i]["_ws.expert.message"], "") << i;
    }
    EXPECT_EQ(rows[3]["mtp2.li.bad"], "1");
    EXPECT_EQ(rows[3]["_ws.expert.message"].rfind("Bad length value 10 != payload length", 0), 0u);
}

} // namespace
