// tshark's MTP2 dissector reads every signal unit two SLCs exchange while
// they align, prove and carry MSUs (short and longer than LI can count),
// with two units a test made bad on the line among them.

#include "core/clock.hpp"
#include "signalling/kit/oracle.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "ss7_fixture.hpp"
#include "support/tshark.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace Ss7Test;
using SS7::SLC;

TEST(Ss7Tshark, FieldsAgreeWithEveryTappedUnit)
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze();
    SigTest::LoopbackHdlc pair("a", "b");
    SigTest::Tap tap;
    pair.SetTap(&tap);
    Link a(pair.a), b(pair.b);
    LogCapture quiet;

    b.slc.local_activate();
    ASSERT_TRUE(SigTest::Settle());
    a.slc.local_activate();
    ASSERT_TRUE(SigTest::RunFor(SLC::T4n));
    ASSERT_EQ(a.slc.state(), SLC::State::worked);
    for (unsigned int n : {3u, 20u, 62u, 63u, 100u}) {
        Bytes m(n, 0x5A);
        m[0] = 0x83;
        a.Send(m);
        b.Send(m);
        ASSERT_TRUE(SigTest::Settle());
    }
    // Made bad on the line: LI above the octets present, both discarded.
    std::set<std::size_t> bad;
    bad.insert(tap.frames().size());
    pair.b.Send({0x84, 0x85, 10, 0x83, 1, 2, 3, 4});
    ASSERT_TRUE(SigTest::Settle());
    bad.insert(tap.frames().size());
    pair.b.Send({0x84, 0x85, 40, 0x83, 1});
    ASSERT_TRUE(SigTest::Settle());
    a.Send({0x83, 9, 9, 9});
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(a.slc.state(), SLC::State::worked);
    ASSERT_EQ(b.l3.got.size(), 6u);

    std::string errors;
    const auto rows = SigTest::Mtp2Fields(tap.frames(), &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), tap.frames().size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Bytes& u = tap.frames()[i].bytes;
        auto row = rows[i];
        EXPECT_EQ(row["mtp2.bsn"], std::to_string(u[0] & 0x7F)) << i;
        EXPECT_EQ(row["mtp2.bib"], std::to_string(u[0] >> 7)) << i;
        EXPECT_EQ(row["mtp2.fsn"], std::to_string(u[1] & 0x7F)) << i;
        EXPECT_EQ(row["mtp2.fib"], std::to_string(u[1] >> 7)) << i;
        EXPECT_EQ(row["mtp2.li"], std::to_string(u[2] & 0x3F)) << i;
        if ((u[2] & 0x3F) == 1 || (u[2] & 0x3F) == 2) {
            EXPECT_EQ(row["mtp2.sf"], std::to_string(u[3])) << i;
        }
        if (bad.count(i) != 0) {
            EXPECT_EQ(row["mtp2.li.bad"], "1") << i;
        } else {
            EXPECT_EQ(row["mtp2.li.bad"], "") << i;
            EXPECT_EQ(row["_ws.expert.message"], "") << i;
        }
    }
}

} // namespace
