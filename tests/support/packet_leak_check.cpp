// Fails any test that ends holding more (or fewer) packet buffers than it
// started with: every packet a test takes from the pool must be back by the
// end of the test.

#include <gtest/gtest.h>

#include "core/packet.hpp"

namespace {

class PacketLeakCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(::testing::TestInfo const&) override { before = Packet::pool_free(); }

    void OnTestEnd(::testing::TestInfo const&) override
    {
        std::size_t after = Packet::pool_free();
        if (after != before)
            ADD_FAILURE() << "packet pool: " << before << " buffers free before the test, "
                          << after << " after it";
    }

    std::size_t before = 0;
};

// Installed from an environment, after InitGoogleTest has set up the result
// printer: listeners hear OnTestEnd in reverse order, so the check reports
// before the printer closes the test.
class PacketLeakEnvironment : public ::testing::Environment {
    void SetUp() override
    {
        ::testing::UnitTest::GetInstance()->listeners().Append(new PacketLeakCheck);
    }
};

[[maybe_unused]] ::testing::Environment* const installed =
    ::testing::AddGlobalTestEnvironment(new PacketLeakEnvironment);

} // namespace
