#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The process is single-threaded, so a death test may simply fork. The
    // default style re-executes the test binary, which the board's test build
    // cannot do under qemu-user (the kernel does not know the format).
    GTEST_FLAG_SET(death_test_style, "fast");
    return RUN_ALL_TESTS();
}
