// The models of the MCC controllers, the tone DSP and the voice DSP as a
// driver user sees them: allocation rules and the slot pool, requests by
// value, event records, and their words of the control language.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/dsp.hpp"
#include "sim/dtmf.hpp"
#include "sim/mcc.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Sim::Mcc;

int OpenMcc()
{
    return Driver::Open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

int Allocate(int fd, std::uint32_t mode)
{
    std::uint32_t rec[5] = {mode, 512, 0, 1, 4};
    return Driver::Ioctl(fd, Mcc::kAllocate, rec);
}

using SimModels = SimTest::BoardTest;

TEST_F(SimModels, MccAllocationRulesAndThePool)
{
    board().device<Sim::Mcc>().SetPool(300, 2);
    int a = OpenMcc(), b = OpenMcc(), c = OpenMcc();
    ASSERT_GE(c, 0);
    EXPECT_EQ(Driver::Ioctl(a, Mcc::kTimeslot), -1);
    EXPECT_EQ(errno, EINVAL); // nothing allocated yet
    EXPECT_EQ(Allocate(a, 4), -1);
    EXPECT_EQ(errno, EINVAL); // no such driver mode
    EXPECT_EQ(Allocate(a, 3), 0);
    EXPECT_EQ(Allocate(a, 3), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(Allocate(b, 0), 0);
    EXPECT_EQ(Allocate(c, 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(Driver::Ioctl(a, Mcc::kTimeslot), 300);
    EXPECT_EQ(Driver::Ioctl(b, Mcc::kTimeslot), 301);

    // A duplicate keeps the controller; the last close frees it.
    int dup = ::dup(a);
    ::close(a);
    EXPECT_EQ(Allocate(c, 1), -1);
    ::close(dup);
    EXPECT_EQ(Allocate(c, 1), 0);
    EXPECT_EQ(Driver::Ioctl(c, Mcc::kTimeslot), 300);
    EXPECT_EQ(board().Command("/dev/mcc/ctl slots"),
              "300 mode 1 written 0 delivered 0\n301 mode 0 written 0 delivered 0\nok 2\n");
    ::close(b);
    ::close(c);
}

TEST_F(SimModels, MccFramesThroughTheSwitchControlLanguage)
{
    int fd = OpenMcc();
    ASSERT_EQ(Allocate(fd, 0), 0);
    // Output 77 <- controller 300; controller 300 <- channel 12.
    std::uint32_t c1[2] = {77, 300}, c2[2] = {300, 12};
    int hal = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_EQ(Driver::Ioctl(hal, 0x80084d02, c1), 0);
    ASSERT_EQ(Driver::Ioctl(hal, 0x80084d02, c2), 0);
    ASSERT_EQ(::write(fd, "\x01\x02", 2), 2);
    EXPECT_EQ(board().Command("/dev/mcc/ctl pump"), "ok 1\n");
    EXPECT_EQ(board().Command("/dev/mcc/ctl sent 77"), "0102\nok 1\n");
    EXPECT_EQ(board().Command("/dev/mcc/ctl receive 12 a0b1"), "ok 1\n");
    unsigned char buf[16];
    ASSERT_EQ(::read(fd, buf, sizeof buf), 2);
    EXPECT_EQ(buf[0], 0xA0);
    EXPECT_EQ(board().Command("/dev/mcc/ctl eof 300"), "ok\n");
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(board().Command("/dev/mcc/ctl error 301"), "error no controller on that time slot\n");
    ::close(fd);
    Driver::Close(hal);
}

TEST_F(SimModels, MccCapacityAndTransparentControllers)
{
    int fd = OpenMcc();
    // Filled although the number's direction bits say "write"; the fourth
    // word is left as the program gave it.
    std::uint32_t caps[4] = {9, 9, 9, 77};
    ASSERT_EQ(Driver::Ioctl(fd, Mcc::kCapacity, caps), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(caps, caps + 4), (std::vector<std::uint32_t>{32, 8, 32, 77}));
    EXPECT_EQ(board().Command("/dev/mcc/ctl caps 3 0 5"), "ok\n");
    ASSERT_EQ(Driver::Ioctl(fd, Mcc::kCapacity, caps), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(caps, caps + 3), (std::vector<std::uint32_t>{3, 0, 5}));
    EXPECT_EQ(board().Command("/dev/mcc/ctl caps 3 x 5"), "error unknown request for /dev/mcc/ctl\n");
    EXPECT_EQ(Driver::Ioctl(fd, Mcc::kCapacity), -1);
    EXPECT_EQ(errno, EFAULT);

    // A transparent controller takes a voice player's 8192-byte block in one
    // write, where a frame controller's small buffer refuses it.
    std::vector<unsigned char> block(8192, 0x5A);
    int frames = OpenMcc();
    ASSERT_EQ(Allocate(frames, 0), 0);
    EXPECT_EQ(::write(frames, block.data(), block.size()), -1);
    EXPECT_EQ(errno, EMSGSIZE);
    ASSERT_EQ(Allocate(fd, 2), 0);
    EXPECT_EQ(::write(fd, block.data(), block.size()), 8192);
    EXPECT_EQ(board().Command("/dev/mcc/ctl pump"), "ok 1\n");
    ::close(frames);
    ::close(fd);
}

TEST_F(SimModels, DtmfRequestsByValueAndEvents)
{
    int fd = Driver::Open("/dev/dtmf", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Dtmf::kLmsOn, 9), 0);
    EXPECT_TRUE(board().device<Sim::Dtmf>().Get(9).lms);
    // A record request still needs its record.
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Dtmf::kEnable, 9), -1);
    EXPECT_EQ(errno, EFAULT);
    board().device<Sim::Dtmf>().FailTimeslot(9, 1, EIO);
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Dtmf::kLmsOff, 9), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(board().device<Sim::Dtmf>().Get(9).lms);
    EXPECT_EQ(board().Command("/dev/dtmf event 9 4 1000 7"), "ok 1\n");
    std::uint32_t rec[4];
    ASSERT_EQ(::read(fd, rec, sizeof rec), 16);
    EXPECT_EQ(rec[0], 4u);
    EXPECT_EQ(rec[1], 9u);
    EXPECT_EQ(rec[3], 7u);
    Driver::Close(fd);
}

TEST_F(SimModels, DspVersionFeaturesAndEvents)
{
    int fd = Driver::Open("/dev/dsp", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Dsp::kVadVersion, 0), 1);
    EXPECT_EQ(board().Command("/dev/dsp vad-version 2"), "ok\n");
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Dsp::kVadVersion, 0), 2);
    std::uint32_t en[3] = {4, 9, Sim::Dsp::kVad | Sim::Dsp::kBss};
    ASSERT_EQ(Driver::Ioctl(fd, Sim::Dsp::kEnable, en), 0);
    std::uint32_t dis[3] = {4, 0, Sim::Dsp::kVad};
    ASSERT_EQ(Driver::Ioctl(fd, Sim::Dsp::kDisable, dis), 0);
    EXPECT_EQ(board().Command("/dev/dsp slot 4"), "enabled 0x10\nok\n");
    EXPECT_EQ(board().device<Sim::Dsp>().Get(4).ids.at(Sim::Dsp::kVad), 9u);
    EXPECT_EQ(board().Command("/dev/dsp event 4 9 1 2 0 5"), "ok 1\n");
    std::uint32_t rec[6];
    ASSERT_EQ(::read(fd, rec, sizeof rec), 24);
    EXPECT_EQ(rec[2], 1u);
    EXPECT_EQ(rec[5], 5u);
    Driver::Close(fd);
}

} // namespace
