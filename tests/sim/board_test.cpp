// The simulated board's driver side: opens, request dispatch by open,
// failure injection, absent devices, injected records, the request log.

#include "hardware/device_fd.hpp"
#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/dsp.hpp"
#include "sim/hal.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Sim::Hal;

class SimBoard : public SimTest::BoardTest {};

int Disable(int fd, std::uint32_t output)
{
    return Driver::Ioctl(fd, Hal::kDisable, &output);
}

TEST_F(SimBoard, OpenHonoursFlagsAndRefusesUnknownPaths)
{
    errno = 0;
    EXPECT_EQ(Driver::Open("/dev/nosuch", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);

    int plain = Driver::Open("/dev/hal", O_RDWR);
    ASSERT_GE(plain, 0);
    EXPECT_EQ(::fcntl(plain, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(::fcntl(plain, F_GETFD) & FD_CLOEXEC, 0);

    int nb = Driver::Open("/dev/hal", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(nb, 0);
    EXPECT_NE(::fcntl(nb, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(nb, F_GETFD) & FD_CLOEXEC, 0);
    // Nothing to read yet: a real EAGAIN, not a block.
    char c;
    EXPECT_EQ(::read(nb, &c, 1), -1);
    EXPECT_EQ(errno, EAGAIN);

    EXPECT_EQ(board().OpenCount("/dev/hal"), 2u);
    EXPECT_EQ(board().Count("/dev/hal", Sim::kOpen), 2u);
    EXPECT_EQ(board().Count("/dev/nosuch", Sim::kOpen), 1u);
    Driver::Close(plain);
    Driver::Close(nb);
    EXPECT_EQ(board().OpenCount("/dev/hal"), 0u);
}

TEST_F(SimBoard, DuplicatesReachTheSameOpen)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int dup = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    ASSERT_GE(dup, 0);
    Driver::Close(fd);
    // The original is gone; its duplicate still commands the device.
    EXPECT_EQ(Disable(dup, 8192), 0);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).state, Hal::State::Disabled);
    EXPECT_EQ(board().OpenCount("/dev/hal"), 1u);
    Driver::Close(dup);
    EXPECT_EQ(board().OpenCount("/dev/hal"), 0u);
}

TEST_F(SimBoard, RequestsOnForeignDescriptorsAndUnknownRequests)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::uint32_t words[2] = {8192, 0};
    EXPECT_EQ(Driver::Ioctl(fd, 0xc0084d7f, words), -1);
    EXPECT_EQ(errno, ENOTTY);
    // A record request without its record.
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kDisable, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(Driver::IoctlValue(fd, Hal::kDisable, 8192), -1);
    EXPECT_EQ(errno, EFAULT);
    // Every argument in the form its number encodes: a size needs a
    // direction, and the VAD version, which the driver takes by value,
    // no record.
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kDisable & 0x1FFFFFFFu, words), -1);
    EXPECT_EQ(errno, EINVAL);
    const int dsp = Driver::Open("/dev/dsp", O_RDWR | O_CLOEXEC);
    EXPECT_EQ(Driver::Ioctl(dsp, Sim::Dsp::kVadVersion, words), -1);
    EXPECT_EQ(errno, EINVAL);
    Driver::Close(dsp);
    EXPECT_EQ(board().FormMismatches(), 3u);

    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    EXPECT_EQ(Disable(sv[0], 8192), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(sv[0]);
    ::close(sv[1]);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    EXPECT_EQ(Disable(p[0], 8192), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(p[0]);
    ::close(p[1]);
    Driver::Close(fd);
    EXPECT_EQ(Disable(fd, 8192), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(SimBoard, InjectedFailuresHitTheNamedRequestsOnly)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    board().Fail("/dev/hal", Hal::kDisable, 2, EIO);
    std::uint32_t w[2] = {8193, 7};
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kWrite, w), 0);
    EXPECT_EQ(Disable(fd, 8192), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Disable(fd, 8192), -1);
    EXPECT_EQ(Disable(fd, 8192), 0);
    // A failed request changes nothing on the board, and is counted.
    EXPECT_EQ(board().Count("/dev/hal", Hal::kDisable), 3u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).disables, 1u);

    board().Fail("/dev/hal", Sim::kAny, 1, EBUSY);
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kWrite, w), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kWrite, w), 0);

    board().Fail("/dev/hal", Sim::kOpen, 1, EACCES);
    EXPECT_EQ(Driver::Open("/dev/hal", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    int again = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    EXPECT_GE(again, 0);
    Driver::Close(again);
    Driver::Close(fd);
}

TEST_F(SimBoard, AbsentDeviceRefusesOpensAndRequests)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    board().SetPresent("/dev/hal", false);
    EXPECT_EQ(Driver::Open("/dev/hal", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Disable(fd, 8192), -1);
    EXPECT_EQ(errno, ENODEV);
    board().SetPresent("/dev/hal", true);
    EXPECT_EQ(Disable(fd, 8192), 0);
    Driver::Close(fd);
}

TEST_F(SimBoard, InjectedRecordsAreReadOneAtATimeAndWrittenOnesDrained)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    const unsigned char a[3] = {1, 2, 3}, b[2] = {9, 8};
    EXPECT_EQ(board().Inject("/dev/hal", a, sizeof a), 1);
    EXPECT_EQ(board().Inject("/dev/hal", b, sizeof b), 1);
    EXPECT_EQ(board().Inject("/dev/other", b, sizeof b), 0);
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    unsigned char buf[16];
    ASSERT_EQ(::read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(std::memcmp(buf, a, 3), 0);
    ASSERT_EQ(::read(fd, buf, sizeof buf), 2);
    EXPECT_EQ(::read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);

    ASSERT_EQ(::write(fd, "xyz", 3), 3);
    ASSERT_EQ(::write(fd, "q", 1), 1);
    auto written = board().Drain("/dev/hal");
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(std::string(written[0].begin(), written[0].end()), "xyz");
    EXPECT_EQ(std::string(written[1].begin(), written[1].end()), "q");
    EXPECT_TRUE(board().Drain("/dev/hal").empty());

    // Reset forgets the open: the program sees the device end.
    board().Reset();
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    Driver::Close(fd);
}

TEST_F(SimBoard, LogKeepsChangesAndCountsEverything)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Disable(fd, 8192), 0);
    EXPECT_EQ(Disable(fd, 8192), 0); // changes nothing: counted, not logged
    std::uint32_t r[2] = {8192, 255};
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kRead, r), 0);
    board().Fail("/dev/hal", Hal::kDisable, 1, EIO);
    EXPECT_EQ(Disable(fd, 8193), -1);

    auto log = board().Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(Sim::Format(log[0]), "/dev/hal open = " + std::to_string(fd));
    EXPECT_EQ(Sim::Format(log[1]), "/dev/hal 0x80044d03 8192 = 0");
    EXPECT_EQ(Sim::Format(log[2]), "/dev/hal 0xc0084d05 8192 255 -> 8192 255 = 0");
    EXPECT_EQ(Sim::Format(log[3]), "/dev/hal 0x80044d03 8193 = -1 EIO");
    EXPECT_EQ(board().Count("/dev/hal", Hal::kDisable), 3u);

    board().LogQuiet(true);
    EXPECT_EQ(Disable(fd, 8192), 0);
    EXPECT_EQ(board().Log().size(), 5u);

    board().SetLogLimit(2);
    log = board().Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].in, std::vector<std::uint32_t>{8192});
    board().ClearLog();
    EXPECT_TRUE(board().Log().empty());
    Driver::Close(fd);
}

// The log is a ring once full: the newest entries, oldest first, whatever
// the number of turns it made.
TEST_F(SimBoard, FullLogKeepsTheNewestInOrder)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    board().SetLogLimit(3);
    for (std::uint32_t output = 8192; output < 8192 + 10; ++output)
        EXPECT_EQ(Disable(fd, output), 0);
    auto log = board().Log();
    ASSERT_EQ(log.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(log[i].in, std::vector<std::uint32_t>{8192 + 7 + static_cast<std::uint32_t>(i)}) << i;
    board().SetLogLimit(2);
    log = board().Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].in, std::vector<std::uint32_t>{8192 + 8});
    EXPECT_EQ(Disable(fd, 8300), 0);
    log = board().Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].in, std::vector<std::uint32_t>{8300});
    Driver::Close(fd);
}

// Requests find the open by the descriptor Open gave until Close; a number
// closed and given to something else is no device, and a device's number
// given to a new open reaches that open. The last descriptor of an open,
// closed through Close, ends the open there.
TEST_F(SimBoard, ClosedDescriptorNumbersLeaveTheDeviceAndTheLastEndsTheOpen)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int dup = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    Driver::Close(fd);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    ASSERT_EQ(p[0], fd) << "the lowest free number is reused";
    EXPECT_EQ(Disable(p[0], 8192), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(Disable(dup, 8192), 0);
    ::close(p[0]);
    ::close(p[1]);
    int mcc = Driver::Open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(mcc, fd);
    EXPECT_EQ(Disable(mcc, 8193), -1);
    EXPECT_EQ(errno, ENOTTY) << "the switch request reached another device";
    EXPECT_EQ(board().Count("/dev/mcc/ctl", Hal::kDisable), 1u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8193).state, Hal::State::Unset);

    // A number freed while another descriptor keeps the open alive (as a
    // slot's watch does), and taken by a duplicate of another device's open:
    // that device answers. The number Open returned is freed by its owner's
    // close (every such number is closed through the driver); a duplicate's
    // by close(2), as a watch's is.
    for (bool owner : {true, false}) {
        DeviceFd hal(Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC));
        ASSERT_TRUE(hal);
        const int watch = hal.fd().dup();
        const int number = owner ? hal.get() : watch;
        const int kept = owner ? watch : hal.get();
        if (owner)
            hal.reset();
        else
            ::close(watch);
        const int other = Fd(mcc).dup();
        ASSERT_EQ(other, number);
        EXPECT_EQ(Disable(other, 8194), -1);
        EXPECT_EQ(errno, ENOTTY) << (owner ? "owner's close" : "close(2)");
        EXPECT_EQ(Disable(kept, 8195), 0);
        ::close(other);
        if (owner)
            ::close(kept);
    }
    EXPECT_EQ(board().Count("/dev/mcc/ctl", Hal::kDisable), 3u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8194).state, Hal::State::Unset);
    Driver::Close(mcc);
    Driver::Close(dup);

    // No open nor query comes between a close and the check of the
    // descriptors: the board closed its end in Close, not in a sweep. The
    // original goes; the duplicate keeps the open and commands it; its
    // Close, the open's last descriptor, ends it.
    const std::set<int> none = SimTest::OpenDescriptors();
    {
        const int original = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
        ASSERT_GE(original, 0);
        const int duplicate = Fd(original).dup();
        EXPECT_EQ(Driver::Close(original), 0);
        EXPECT_EQ(SimTest::OpenDescriptors().size(), none.size() + 2) << "the duplicate and the board's end";
        EXPECT_EQ(Disable(duplicate, 8196), 0);
        EXPECT_EQ(board().device<Sim::Hal>().Get(8196).state, Hal::State::Disabled);
        EXPECT_EQ(Driver::Close(duplicate), 0);
        EXPECT_EQ(SimTest::OpenDescriptors(), none);
        EXPECT_EQ(board().OpenCount("/dev/hal"), 0u);
    }
    // The moment next to it: a duplicate closed through Close while the
    // original lives leaves the open to the original, still in the table.
    const int original = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(original, 0);
    EXPECT_EQ(Driver::Close(Fd(original).dup()), 0);
    EXPECT_EQ(SimTest::OpenDescriptors().size(), none.size() + 2) << "the original and the board's end";
    EXPECT_EQ(Disable(original, 8198), 0);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8198).state, Hal::State::Disabled);
    EXPECT_EQ(Driver::Close(original), 0);
    EXPECT_EQ(SimTest::OpenDescriptors(), none);
    EXPECT_EQ(board().OpenCount("/dev/hal"), 0u);
}

} // namespace
