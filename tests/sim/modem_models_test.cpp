// The modem driver and the HDLC network interfaces as the program sees
// them: a modem per open, requests by value and by records whose length
// only the model knows, and the interfaces behind Driver::NetIoctl.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/mctl.hpp"
#include "sim/netifs.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Sim::Mctl;
using Sim::NetIfs;
using SimModels = SimTest::BoardTest;

int OpenMctl()
{
    return Driver::Open("/dev/mctl", O_RDONLY | O_CLOEXEC);
}

std::string LastLog()
{
    auto log = Sim::Board::instance().Log();
    return log.empty() ? "" : Sim::Format(log.back());
}

TEST_F(SimModels, MctlModemPerOpenRecordsAndEnumeration)
{
    int a = OpenMctl(), b = OpenMctl();
    ASSERT_GE(b, 0);
    board().device<Mctl>().SetModems(2);
    EXPECT_EQ(Driver::IoctlValue(a, Mctl::kTimeslot, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Driver::IoctlValue(a, Mctl::kAllocate, 0), 0);
    EXPECT_EQ(Driver::IoctlValue(a, Mctl::kAllocate, 0), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(Driver::IoctlValue(b, Mctl::kAllocate, 0), 1);
    EXPECT_EQ(Driver::IoctlValue(b, Mctl::kTimeslot, 0), 1601);

    // Records: the length comes from the model, and the log shows them.
    std::int32_t ddm[2] = {0, 3};
    EXPECT_EQ(Driver::Ioctl(a, Mctl::kSetDdm, ddm), 0);
    EXPECT_EQ(LastLog(), "/dev/mctl 0x0000bb16 0 3 = 0");
    std::int32_t dmp[3] = {0, 63, -5};
    EXPECT_EQ(Driver::Ioctl(a, Mctl::kSetDmp, dmp), 0);
    dmp[1] = 64;
    EXPECT_EQ(Driver::Ioctl(a, Mctl::kSetDmp, dmp), -1);
    EXPECT_EQ(errno, EINVAL);
    // Another open's modem, and a record given as a value, are refused.
    EXPECT_EQ(Driver::Ioctl(b, Mctl::kSetDdm, ddm), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Driver::IoctlValue(a, Mctl::kAnswer, 0), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(board().Command("/dev/mctl modem 0"),
              "channel 1600\nallocated yes\n0xbb16 0 3\n0xbb38 0 63 -5\nok 4\n");

    // Enumeration by value, ENODEV after the last.
    EXPECT_EQ(Driver::IoctlValue(a, Mctl::kEnumerate, static_cast<unsigned long>(-1)), 0);
    EXPECT_EQ(Driver::IoctlValue(a, Mctl::kEnumerate, 0), 1);
    EXPECT_EQ(Driver::IoctlValue(a, Mctl::kEnumerate, 1), -1);
    EXPECT_EQ(errno, ENODEV);

    // Closing the open frees its modem.
    Driver::Close(a);
    EXPECT_FALSE(board().device<Mctl>().Allocated(0));
    EXPECT_EQ(board().Command("/dev/mctl modem 0"),
              "channel 1600\nallocated no\n0xbb16 0 3\n0xbb38 0 63 -5\nok 4\n");
    EXPECT_EQ(board().Command("/dev/mctl modems 7"), "ok\n");
    EXPECT_EQ(board().Command("/dev/mctl modems"), "ok 7\n");
    EXPECT_EQ(board().Command("/dev/mctl modems 1025").rfind("error", 0), 0u);
    Driver::Close(b);
}

ifreq Named(char const* name)
{
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ifr_name, name, IFNAMSIZ - 1);
    return r;
}

TEST_F(SimModels, NetIfsAnswerForHdlcNamesOnly)
{
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    ifreq r = Named("hdlc1");
    ASSERT_EQ(Driver::NetIoctl(s, SIOCGIFFLAGS, &r), 0);
    EXPECT_EQ(r.ifr_flags, NetIfs::kUp | NetIfs::kPointToPoint | NetIfs::kRunning);
    r = Named("hdlc2");
    EXPECT_EQ(Driver::NetIoctl(s, SIOCGIFINDEX, &r), -1);
    EXPECT_EQ(errno, ENODEV);
    // Another name goes to the kernel, which knows the loopback interface.
    r = Named("lo");
    ASSERT_EQ(Driver::NetIoctl(s, SIOCGIFFLAGS, &r), 0);
    EXPECT_NE(r.ifr_flags & IFF_LOOPBACK, 0);
    EXPECT_EQ(board().Count("netif", SIOCGIFFLAGS), 1u);

    // The physical settings, and too small a buffer.
    unsigned char te1[128] = {};
    struct {
        std::uint32_t type, size;
        void* data;
    } settings{1, 8, te1};
    r = Named("hdlc0");
    std::memcpy(&r.ifr_ifru, &settings, sizeof settings);
    EXPECT_EQ(Driver::NetIoctl(s, NetIfs::kWanDev, &r), -1);
    EXPECT_EQ(errno, ENOBUFS);
    settings.size = sizeof te1;
    std::memcpy(&r.ifr_ifru, &settings, sizeof settings);
    ASSERT_EQ(Driver::NetIoctl(s, NetIfs::kWanDev, &r), 0);
    std::uint32_t slot_map;
    std::memcpy(&slot_map, te1 + 12, 4);
    EXPECT_EQ(slot_map, 1700u);
    EXPECT_EQ(LastLog(), "netif 0x0000894a hdlc0 1 128 -> 4100 1700 = 0");

    // Failures and the control words.
    board().Fail("netif", NetIfs::kWanDev, 1, EIO);
    EXPECT_EQ(Driver::NetIoctl(s, NetIfs::kWanDev, &r), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(board().Command("netif add hdlc5 0x11 700"), "ok\n");
    EXPECT_EQ(board().Command("netif remove hdlc1"), "ok\n");
    EXPECT_EQ(board().Command("netif add eth0 1 2").rfind("error", 0), 0u);
    EXPECT_EQ(board().Command("netifs"), "hdlc0 flags 0x51 slotmap 1700 proto hdlc\n"
                                         "hdlc5 flags 0x11 slotmap 700 proto hdlc\nok 2\n");
    EXPECT_NE(board().Command("help").find("netif add NAME FLAGS SLOTMAP"), std::string::npos);
    ::close(s);
}

} // namespace
