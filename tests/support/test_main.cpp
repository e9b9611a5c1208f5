#include "support/leak_check.hpp"
#include "support/netns.hpp"

#include "core/packet.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TestNet::EnterPrivate();
    // The process is single-threaded, so a death test may simply fork. The
    // default style re-executes the test binary, which the board's test build
    // cannot do under qemu-user (the kernel does not know the format).
    GTEST_FLAG_SET(death_test_style, "fast");
    // Every test ends by proving that nothing leaked.
    static std::size_t packets_free = 0;
    AddLeakCheck(
        [] {
            std::size_t after = Packet::pool_free();
            if (after == packets_free)
                return std::string();
            return "packet pool: " + std::to_string(packets_free) + " buffers free before the test, " +
                   std::to_string(after) + " after it";
        },
        [] { packets_free = Packet::pool_free(); });
    InstallLeakChecks();
    return RUN_ALL_TESTS();
}
