// Looped switch time slots and the autopump of the MCC model: their words
// of the control language, frames between two controllers over a loop, and
// frames that move with nobody pumping.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/mcc.hpp"
#include "sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Sim::Mcc;

class MccLoop : public SimTest::BoardTest {
protected:
    void TearDown() override
    {
        for (int fd : {a_, b_, hal_})
            if (fd >= 0)
                ::close(fd);
        BoardTest::TearDown();
    }
    // Controller 300 sends to switch output 1; controller 301 listens to
    // channel 2.
    void TwoControllers()
    {
        std::uint32_t rec[5] = {0, 512, 0, 1, 4};
        a_ = Driver::Open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        b_ = Driver::Open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ASSERT_EQ(Driver::Ioctl(a_, Mcc::kAllocate, rec), 0);
        ASSERT_EQ(Driver::Ioctl(b_, Mcc::kAllocate, rec), 0);
        hal_ = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
        std::uint32_t c1[2] = {1, 300}, c2[2] = {301, 2};
        ASSERT_EQ(Driver::Ioctl(hal_, 0x80084d02, c1), 0);
        ASSERT_EQ(Driver::Ioctl(hal_, 0x80084d02, c2), 0);
    }
    std::string Ask(const std::string& words) { return board().Command("/dev/mcc/ctl " + words); }

    int a_ = -1, b_ = -1, hal_ = -1;
};

TEST_F(MccLoop, Words)
{
    EXPECT_EQ(Ask("loops"), "ok 0\n");
    EXPECT_EQ(Ask("loop 1 2"), "ok\n");
    EXPECT_EQ(Ask("loops"), "1 2\nok 1\n");
    // Channel 2 leaves 1 for 3.
    EXPECT_EQ(Ask("loop 3 2"), "ok\n");
    EXPECT_EQ(Ask("loops"), "2 3\nok 1\n");
    EXPECT_EQ(Ask("unloop 3"), "ok\n");
    EXPECT_EQ(Ask("unloop 3"), "error channel not looped\n");
    EXPECT_EQ(Ask("unloop 1"), "error channel not looped\n");
    EXPECT_EQ(Ask("loop 1 10240"), "error no such switch channel\n");
    EXPECT_EQ(Ask("loop 1"), "error unknown request for /dev/mcc/ctl\n");
    EXPECT_EQ(Ask("loop -1 2"), "error unknown request for /dev/mcc/ctl\n");

    EXPECT_EQ(Ask("autopump"), "ok off\n");
    EXPECT_EQ(Ask("autopump on"), "ok\n");
    EXPECT_EQ(Ask("autopump on"), "ok\n");
    EXPECT_EQ(Ask("autopump"), "ok on\n");
    EXPECT_EQ(Ask("autopump maybe"), "error unknown request for /dev/mcc/ctl\n");
    EXPECT_EQ(Ask("autopump off"), "ok\n");
    EXPECT_EQ(Ask("autopump"), "ok off\n");

    // A healthy board has neither.
    EXPECT_EQ(Ask("loop 5 6"), "ok\n");
    EXPECT_EQ(Ask("autopump on"), "ok\n");
    EXPECT_EQ(board().Command("reset"), "ok\n");
    EXPECT_EQ(Ask("loops"), "ok 0\n");
    EXPECT_EQ(Ask("autopump"), "ok off\n");
}

TEST_F(MccLoop, FramesCrossTheLoopAndAreNotKept)
{
    TwoControllers();
    ASSERT_EQ(Ask("loop 1 2"), "ok\n");
    ASSERT_EQ(::write(a_, "\x01\x02\x03", 3), 3);
    EXPECT_EQ(Ask("pump"), "ok 1\n");
    unsigned char buf[16];
    ASSERT_EQ(::read(b_, buf, sizeof buf), 3);
    EXPECT_EQ(buf[2], 0x03);
    EXPECT_EQ(Ask("sent 1"), "ok 0\n");
    EXPECT_EQ(Ask("sent 2"), "ok 0\n");

    ASSERT_EQ(Ask("unloop 1"), "ok\n");
    ASSERT_EQ(::write(a_, "\x04", 1), 1);
    EXPECT_EQ(Ask("pump"), "ok 1\n");
    EXPECT_EQ(Ask("sent 1"), "04\nok 1\n");
}

// The board's own thread moves the frame: nobody pumps.
TEST_F(MccLoop, AutopumpMovesFramesAsTheyAreWritten)
{
    TwoControllers();
    ASSERT_EQ(Ask("loop 1 2"), "ok\n");
    ASSERT_EQ(Ask("autopump on"), "ok\n");
    for (unsigned char i = 0; i < 3; ++i) {
        ASSERT_EQ(::write(a_, &i, 1), 1);
        pollfd p{b_, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 10000), 1) << "frame " << int(i) << " not moved";
        unsigned char got = 0xFF;
        ASSERT_EQ(::read(b_, &got, 1), 1);
        EXPECT_EQ(got, i);
    }
    // Opens made while it runs are watched too.
    int c = Driver::Open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    std::uint32_t rec[5] = {0, 512, 0, 1, 4};
    ASSERT_EQ(Driver::Ioctl(c, Mcc::kAllocate, rec), 0);
    std::uint32_t c3[2] = {7, 302};
    ASSERT_EQ(Driver::Ioctl(hal_, 0x80084d02, c3), 0);
    ASSERT_EQ(::write(c, "\x55", 1), 1);
    std::string sent;
    for (int i = 0; i < 1000 && sent != "55\nok 1\n"; ++i) {
        ::poll(nullptr, 0, 10);
        sent = Ask("sent 7");
    }
    EXPECT_EQ(sent, "55\nok 1\n");
    ::close(c);
}

// A program that shuts its sending side down leaves the board's end reading
// end of file for good, while the open still looks alive: the pump must not
// take that for a frame and read on.
TEST_F(MccLoop, PumpStopsAtEndOfFile)
{
    a_ = Driver::Open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(a_, 0);
    ASSERT_EQ(::shutdown(a_, SHUT_WR), 0);
    EXPECT_EQ(Ask("pump"), "ok 0\n");
}

} // namespace
