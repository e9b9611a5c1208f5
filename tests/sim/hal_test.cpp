// The switch model of "/dev/hal": what each request leaves in the table and
// what a read of a channel then returns.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/hal.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <sstream>

#include <fcntl.h>

namespace {

using Sim::Hal;

class SimHal : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        fd_ = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override
    {
        Driver::Close(fd_);
        BoardTest::TearDown();
    }
    int Req(std::uint32_t request, std::uint32_t a, std::uint32_t b = 0)
    {
        std::uint32_t w[2] = {a, b};
        return Driver::Ioctl(fd_, request, w);
    }
    // The read request as the program issues it: value 255 on entry.
    long ReadReq(std::uint32_t channel)
    {
        std::uint32_t w[2] = {channel, 255};
        if (Driver::Ioctl(fd_, Hal::kRead, w) < 0)
            return -1;
        return w[1];
    }
    int fd_ = -1;
};

TEST_F(SimHal, OutputsFollowTheirLastRequest)
{
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).state, Hal::State::Unset);
    EXPECT_EQ(ReadReq(8192), 0xFF);

    ASSERT_EQ(Req(Hal::kWrite, 8192, 0x1D5), 0); // only the low byte is sent
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).state, Hal::State::Constant);
    EXPECT_EQ(ReadReq(8192), 0xD5);

    // A connected output carries what its source carries.
    ASSERT_EQ(Req(Hal::kConnect, 8300, 8192), 0);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8300).state, Hal::State::Connected);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8300).value, 8192u);
    EXPECT_EQ(ReadReq(8300), 0xD5);
    ASSERT_EQ(Req(Hal::kConnect, 8301, 5), 0); // an undriven source floats high
    EXPECT_EQ(ReadReq(8301), 0xFF);
    // Two outputs fed from each other read as undriven, not for ever.
    ASSERT_EQ(Req(Hal::kConnect, 8400, 8401), 0);
    ASSERT_EQ(Req(Hal::kConnect, 8401, 8400), 0);
    EXPECT_EQ(ReadReq(8400), 0xFF);

    ASSERT_EQ(Req(Hal::kDisable, 8192), 0);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).state, Hal::State::Disabled);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).disables, 1u);
    EXPECT_EQ(ReadReq(8192), 0xFF);
    EXPECT_EQ(ReadReq(8300), 0xFF);
}

TEST_F(SimHal, ChannelsPastTheLastBusDoNotExist)
{
    EXPECT_EQ(Req(Hal::kWrite, 10239, 1), 0);
    EXPECT_EQ(Req(Hal::kWrite, 10240, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Req(Hal::kConnect, 10240, 0), -1);
    EXPECT_EQ(Req(Hal::kConnect, 0, 10240), -1);
    EXPECT_EQ(Req(Hal::kDisable, 0xFFFFFFFF), -1);
    EXPECT_EQ(ReadReq(10240), -1);
    EXPECT_EQ(board().device<Sim::Hal>().Get(10240).state, Hal::State::Unset);
}

TEST_F(SimHal, DumpAndControlRequests)
{
    ASSERT_EQ(Req(Hal::kDisable, 8192), 0);
    ASSERT_EQ(Req(Hal::kWrite, 8193, 0xD5), 0);
    ASSERT_EQ(Req(Hal::kConnect, 8200, 5), 0);
    ASSERT_EQ(Req(Hal::kConnect, 9000, 8193), 0);
    EXPECT_EQ(board().Command("/dev/hal switch 8192 8200"),
              "8192 disabled\n8193 constant 0xD5\n8200 connected 5\nok 3\n");
    EXPECT_EQ(board().Command("/dev/hal switch 9000"), "9000 connected 8193\nok 1\n");
    EXPECT_EQ(board().Command("/dev/hal switch"),
              "8192 disabled\n8193 constant 0xD5\n8200 connected 5\n9000 connected 8193\nok 4\n");
    EXPECT_EQ(board().Command("/dev/hal read 9000"), "ok 0xD5\n");
    EXPECT_EQ(board().Command("/dev/hal read 1"), "ok 0xFF\n");
    EXPECT_EQ(board().Command("/dev/hal read"), "error unknown request for /dev/hal\n");
    EXPECT_EQ(board().Command("/dev/hal switch x"), "error unknown request for /dev/hal\n");
    EXPECT_EQ(board().Command("/dev/hal switch -1"), "error unknown request for /dev/hal\n");
}

TEST_F(SimHal, ResetLeavesAnUnprogrammedSwitch)
{
    ASSERT_EQ(Req(Hal::kWrite, 8192, 1), 0);
    board().device<Sim::Hal>().Reset();
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).state, Hal::State::Unset);
    EXPECT_EQ(board().Command("/dev/hal switch"), "ok 0\n");
}

} // namespace
