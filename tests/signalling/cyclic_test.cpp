// Sequence numbers modulo 128 and the window test of the link layers, and
// the printed side of an ISDN link.

#include "signalling/cyclic.hpp"
#include "signalling/isdn_side.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using Seq = Cyclic<unsigned int, 127u>;

TEST(Cyclic, WrapsAt127)
{
    EXPECT_EQ(Seq(200).value(), 200u & 127u);
    Seq s(127);
    EXPECT_EQ((++s).value(), 0u);
    EXPECT_EQ((s++).value(), 0u);
    EXPECT_EQ(s.value(), 1u);
    Seq z(0);
    EXPECT_EQ((--z).value(), 127u);
    EXPECT_EQ((z--).value(), 127u);
    EXPECT_EQ(z.value(), 126u);

    // Sums and differences modulo 128.
    EXPECT_EQ((Seq(120) + Seq(10)).value(), 2u);
    EXPECT_EQ((Seq(3) - Seq(5)).value(), 126u);
    EXPECT_EQ((Seq(5) - Seq(120)).value(), 13u);
    EXPECT_EQ(Seq(130), Seq(2));
}

TEST(Cyclic, WindowAcrossTheWrap)
{
    const Seq x(120), z(5);
    for (unsigned int y : {120u, 127u, 0u, 5u})
        EXPECT_TRUE((x <= Seq(y)) <= z) << y;
    for (unsigned int y : {6u, 119u, 64u})
        EXPECT_FALSE((x <= Seq(y)) <= z) << y;
    // An empty window holds only its one number.
    EXPECT_TRUE((Seq(7) <= Seq(7)) <= Seq(7));
    EXPECT_FALSE((Seq(7) <= Seq(8)) <= Seq(7));
}

TEST(IsdnSide, Printed)
{
    std::ostringstream s;
    s << ISDN::Side::user << ' ' << ISDN::Side::network << ' ' << static_cast<ISDN::Side::type>(5);
    EXPECT_EQ(s.str(), "user network 5");
}

} // namespace
