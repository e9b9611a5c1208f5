// The models of the RTP driver and the voice capacity as a driver user sees
// them: the channel pool and taking a channel back, the per-open session,
// events to the open that holds a channel, and their control words.

#include "hardware/driver_port.hpp"
#include "sim/board_fixture.hpp"
#include "sim/mcc.hpp"
#include "sim/rtp.hpp"
#include "sim/voice.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Sim::Rtp;
using RtpModels = SimTest::BoardTest;

int OpenRtp()
{
    return Driver::Open("/dev/rtp", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

int Begin(int fd)
{
    std::uint32_t record[17] = {};
    const std::uint16_t remote_port = 4000; // a native half-word at offset 4
    std::memcpy(reinterpret_cast<unsigned char*>(record) + 4, &remote_port, sizeof remote_port);
    return Driver::Ioctl(fd, Rtp::kBegin, record);
}

// The channel the driver gave, or -1.
int AddChannel(int fd, std::uint32_t channel = 0xFFFFFFFFu, std::uint32_t word3 = 0)
{
    std::uint32_t record[4] = {channel, 0xFFFFFFFFu, 0xFFFFFFFFu, word3};
    return Driver::Ioctl(fd, Rtp::kAddChannel, record) < 0 ? -1 : static_cast<int>(record[0]);
}

TEST_F(RtpModels, ChannelsComeFromTheirOwnPoolAndGoBackOnClose)
{
    // Apart from the MCC controllers' pool.
    EXPECT_GE(Rtp::kFirstChannel, Sim::Mcc::kFirstSlot + Sim::Mcc::kSlots);
    board().device<Rtp>().SetPool(1024, 2);
    int a = OpenRtp(), b = OpenRtp(), c = OpenRtp();
    ASSERT_GE(c, 0);
    EXPECT_EQ(AddChannel(a), -1);
    EXPECT_EQ(errno, EINVAL); // no session begun
    ASSERT_EQ(Begin(a), 0);
    ASSERT_EQ(Begin(b), 0);
    ASSERT_EQ(Begin(c), 0);
    EXPECT_EQ(AddChannel(a, 0xFFFFFFFFu, 1), 1024);
    EXPECT_EQ(AddChannel(a), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(AddChannel(b), 1025);
    EXPECT_EQ(AddChannel(c), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(board().device<Rtp>().Get(1024).channelWord3, 1u);

    // A session restarted on its channel takes it back once the old open
    // has gone; a channel held or outside the pool is refused.
    EXPECT_EQ(AddChannel(c, 1024), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(AddChannel(c, 1030), -1);
    EXPECT_EQ(errno, EINVAL);
    int dup = ::dup(a);
    ::close(a);
    EXPECT_EQ(AddChannel(c, 1024), -1); // the duplicate keeps the session
    ::close(dup);
    EXPECT_EQ(AddChannel(c, 1024), 1024);
    ::close(b);
    ::close(c);
    EXPECT_EQ(board().OpenCount("/dev/rtp"), 0u);
}

TEST_F(RtpModels, SessionsEventsAndControlWords)
{
    int fd = OpenRtp();
    ASSERT_EQ(Begin(fd), 0);
    ASSERT_EQ(AddChannel(fd), 1024);
    EXPECT_EQ(Driver::Ioctl(fd, Rtp::kRxOn), 0);
    std::uint32_t pd[9] = {1, 0, 3000, 0, 0, 3000, 0, 0, 0};
    EXPECT_EQ(Driver::Ioctl(fd, Rtp::kSetEvent, pd), 0);
    std::uint32_t attach[2] = {7, 1234};
    EXPECT_EQ(Driver::Ioctl(fd, Rtp::kAttach, attach), 0);
    std::string sessions = board().Command("/dev/rtp sessions");
    EXPECT_NE(sessions.find("channel 1024 remote 0.0.0.0:4000 local 0.0.0.0:0 rxpt 0 txpt 0"),
              std::string::npos)
        << sessions;
    EXPECT_NE(sessions.find(" word3 0 rx on pd 3000 attach 7/1234\nok 1\n"), std::string::npos) << sessions;
    std::uint32_t reset[1] = {1};
    EXPECT_EQ(Driver::Ioctl(fd, Rtp::kResetEvent, reset), 0);
    EXPECT_EQ(Driver::Ioctl(fd, Rtp::kEnd1), 0);
    sessions = board().Command("/dev/rtp sessions");
    EXPECT_NE(sessions.find(" pd off attach 7/1234 ended\n"), std::string::npos) << sessions;

    // An event of any length reaches the open that holds the channel.
    EXPECT_EQ(board().Command("/dev/rtp event 1024 01000000aabb"), "ok 1\n");
    EXPECT_EQ(board().Command("/dev/rtp event 1025 01"), "ok 0\n");
    unsigned char buf[64];
    EXPECT_EQ(::read(fd, buf, sizeof buf), 6);
    EXPECT_EQ(board().Command("/dev/rtp hangup 1024"), "ok\n");
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(board().Command("/dev/rtp hangup 1025"), "error no open holds that channel\n");
    ::close(fd);
    EXPECT_EQ(board().Command("/dev/rtp sessions"), "ok 0\n");
}

TEST_F(RtpModels, VoiceCapacityPerCodecMask)
{
    int fd = Driver::Open("/dev/voice", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // The mask is the request's one-word record, as its number says.
    const auto capacity = [fd](std::uint32_t mask) {
        return Driver::Ioctl(fd, Sim::Voice::kCapacity, &mask);
    };
    EXPECT_EQ(capacity(4), 60);
    EXPECT_EQ(capacity(3), 0);
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Voice::kCapacity, 4), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(board().Command("/dev/voice caps 4 7"), "ok\n");
    EXPECT_EQ(capacity(4), 7);
    EXPECT_NE(board().Command("/dev/voice caps").find("4 7\n"), std::string::npos);
    ::close(fd);
    EXPECT_EQ(board().Command("absent /dev/voice"), "ok\n");
    EXPECT_EQ(Driver::Open("/dev/voice", O_RDONLY | O_CLOEXEC), -1);
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
