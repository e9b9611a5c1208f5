// The radio-extension driver's model through the driver port and the
// control language: sessions, attachment by descriptor, packets described
// before they are read, the latest writes taken as they come and kept in
// order, and a hang-up from the board.

#include "sim/board_fixture.hpp"
#include "sim/rtp_ext.hpp"

#include "hardware/driver_port.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

class RtpExtModelTest : public SimTest::BoardTest {};

TEST_F(RtpExtModelTest, SessionRecordsItsInitialisationAttachmentAndFilter)
{
    int const rtp = Driver::Open("/dev/mcc/ctl", O_RDWR | O_CLOEXEC);
    int const fd = Driver::Open("/dev/rtp_ext", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    unsigned char init[20] = {};
    std::uint16_t const etype = 0x0167;
    std::memcpy(init, &etype, 2);
    std::uint32_t const words[4] = {1, 123, 5, 2};
    std::memcpy(init + 4, words, sizeof words);
    EXPECT_EQ(Driver::Ioctl(fd, 0xc0144500, init), 0);

    std::int32_t attach[2] = {9999, -1};
    EXPECT_EQ(Driver::Ioctl(fd, 0xc0084501, attach), -1);
    EXPECT_EQ(errno, EBADF);
    attach[0] = rtp;
    attach[1] = 1;
    EXPECT_EQ(Driver::Ioctl(fd, 0xc0084501, attach), -1);
    EXPECT_EQ(errno, ESRCH);
    attach[1] = static_cast<std::int32_t>(::getpid());
    EXPECT_EQ(Driver::Ioctl(fd, 0xc0084501, attach), 0);

    std::uint32_t filter[2] = {0, 0};
    ::inet_pton(AF_INET, "10.4.5.6", &filter[0]);
    EXPECT_EQ(Driver::Ioctl(fd, 0xc0084504, filter), 0);

    auto const sessions = board().device<Sim::RtpExt>().Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    int const open = sessions.begin()->first;
    auto const line = board().Command("/dev/rtp_ext sessions");
    std::string const expected = std::to_string(open) + " init 0x167 1 123 5 2 attached /dev/mcc/ctl " +
                                 std::to_string(sessions.begin()->second.device_open) + " pid " +
                                 std::to_string(::getpid()) + " filter 10.4.5.6 queued 0 written 0\nok 1\n";
    EXPECT_EQ(line, expected);

    EXPECT_EQ(Driver::Ioctl(fd, 0x20004502), 0);
    EXPECT_EQ(Driver::Ioctl(fd, 0x20004505), 0);
    EXPECT_EQ(Driver::Ioctl(fd, 0x20004505), -1);
    EXPECT_FALSE(board().device<Sim::RtpExt>().Sessions().begin()->second.attached);
    ::close(fd);
    ::close(rtp);
    EXPECT_TRUE(board().device<Sim::RtpExt>().Sessions().empty());
}

TEST_F(RtpExtModelTest, PacketsAreDescribedOldestFirstThenRead)
{
    int const fd = Driver::Open("/dev/rtp_ext", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int const open = board().device<Sim::RtpExt>().Sessions().begin()->first;
    std::uint32_t info[3] = {};
    EXPECT_EQ(Driver::Ioctl(fd, 0xc00c4503, info), -1);
    EXPECT_EQ(errno, EAGAIN);

    std::string const o = std::to_string(open);
    EXPECT_EQ(board().Command("/dev/rtp_ext inject " + o + " 0x1234 10.1.2.3 a0b1"), "ok\n");
    EXPECT_EQ(board().Command("/dev/rtp_ext inject " + o + " 7 10.1.2.4 c0d1e2"), "ok\n");
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 0), 1);

    unsigned char buf[1024];
    EXPECT_EQ(Driver::Ioctl(fd, 0xc00c4503, info), 2);
    EXPECT_EQ(info[0], 0x1234u);
    EXPECT_EQ(info[1], htonl(0x0A010203));
    EXPECT_EQ(::read(fd, buf, sizeof buf), 2);
    EXPECT_EQ(buf[0], 0xa0);
    EXPECT_EQ(Driver::Ioctl(fd, 0xc00c4503, info), 3);
    EXPECT_EQ(info[0], 7u);
    EXPECT_EQ(::read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(::read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);

    unsigned char const one[] = {1, 2}, two[] = {3};
    ASSERT_EQ(::write(fd, one, sizeof one), 2);
    ASSERT_EQ(::write(fd, two, sizeof two), 1);
    EXPECT_EQ(board().Command("/dev/rtp_ext written " + o), "0102\n03\nok 2\n");
    // A long session keeps its last 256 writes and counts them all. The
    // board takes each as it comes: however long nobody asks, the
    // program's side never stays full.
    for (int i = 0; i < 1000; ++i) {
        unsigned char const b = static_cast<unsigned char>(i);
        pollfd room{fd, POLLOUT, 0};
        ASSERT_EQ(::poll(&room, 1, 10000), 1) << "write " << i << " waits for a reader";
        ASSERT_EQ(::write(fd, &b, 1), 1) << i;
    }
    auto const kept = board().device<Sim::RtpExt>().Written(open);
    ASSERT_EQ(kept.size(), 256u);
    EXPECT_EQ(kept.front(), Sim::RtpExt::Bytes{(1000 - 256) & 255});
    EXPECT_NE(board().Command("/dev/rtp_ext sessions").find(" written 1002\n"), std::string::npos);

    EXPECT_EQ(board().Command("/dev/rtp_ext hangup " + o), "ok\n");
    p = pollfd{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(board().Command("/dev/rtp_ext inject 99999 1 10.0.0.1 00"), "error no such open\n");
    ::close(fd);
}

} // namespace
