#include "support/leak_check.hpp"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Every test ends by proving that nothing leaked.
    InstallLeakChecks();
    return RUN_ALL_TESTS();
}
