#include "signalling/peers/interop.hpp"

#include "core/clock.hpp"
#include "signalling/kit/oracle.hpp"
#include "support/tshark.hpp"

namespace SigTest {

InteropTest::InteropTest(std::string user, std::string network) : pair(std::move(user), std::move(network))
{
    pair.a.direction = 'O';
    pair.b.direction = 'I';
    pair.SetTap(&tap);
}

void InteropTest::SetUp()
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze();
}

void ExpectCleanLapd(const std::vector<TapFrame>& frames, bool q931)
{
    std::string errors;
    const auto rows = LapdFields(frames, q931, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), frames.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].at("_ws.expert.message"), "") << "frame " << i << " from " << frames[i].from;
}

} // namespace SigTest
