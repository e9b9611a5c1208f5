// The simulated E1 drivers ("/dev/maintenance", "/dev/e1-cas") and the
// clock and SPI part of "/dev/hal": what a request does to the model, what
// the control language shows and changes, and the records as the program
// lays them out.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/e1.hpp"
#include "sim/hal_clock_spi.hpp"
#include "sim/board_fixture.hpp"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using SimTest::BoardTest;

class E1Models : public BoardTest {};

TEST_F(E1Models, MaintenanceReportsTheTrunkAndTakesTheMaskByValue)
{
    ASSERT_EQ(board().Command("/dev/maintenance trunk 2 state 2 slips 7 rai 9"), "ok\n");
    EXPECT_EQ(board().Command("/dev/maintenance trunk 4 state 0"),
              "error unknown request for /dev/maintenance\n");
    EXPECT_EQ(board().Command("/dev/maintenance trunk 1 state 0 bogus 1"),
              "error unknown request for /dev/maintenance\n");
    int fd = Driver::Open("/dev/maintenance", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::uint32_t record[20];
    std::memset(record, 0xAB, sizeof record);
    record[0] = 2;
    ASSERT_EQ(Driver::Ioctl(fd, Sim::Maintenance::kStatus, record), 0);
    EXPECT_EQ(record[9], 7u);  // slips, offset 36
    EXPECT_EQ(record[13], 9u); // RAI, offset 52
    EXPECT_EQ(record[19], 2u); // state, offset 76
    record[0] = 4;
    EXPECT_EQ(Driver::Ioctl(fd, Sim::Maintenance::kStatus, record), -1);
    EXPECT_EQ(errno, EINVAL);

    // A line has one state, which the framer's file shows and either
    // device's words change; a text the status cannot report is refused.
    auto shows = [this](int framer, std::string const& state) {
        return board()
                   .Command("files show")
                   .find("/proc/driver/hdlc/peb22554/" + std::to_string(framer) +
                         " Current state           : " + state + "|") != std::string::npos;
    };
    EXPECT_TRUE(shows(2, "No Carrier"));
    ASSERT_EQ(board().Command("files framer 1 state FAS Loss"), "ok\n");
    record[0] = 1;
    ASSERT_EQ(Driver::Ioctl(fd, Sim::Maintenance::kStatus, record), 0);
    EXPECT_EQ(record[19], 1u);
    EXPECT_EQ(board().Command("files framer 1 state Sleeping"), "error unknown line state Sleeping\n");
    EXPECT_TRUE(shows(1, "FAS Loss"));

    EXPECT_EQ(board().Command("/dev/maintenance tclk"), "ok none\n");
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Maintenance::kTclk, 0xa), 0);
    EXPECT_EQ(board().Command("/dev/maintenance tclk"), "ok 0xa\n");
    // The status request takes a record: by value it is refused.
    EXPECT_EQ(Driver::IoctlValue(fd, Sim::Maintenance::kStatus, 2), -1);
    EXPECT_EQ(errno, EFAULT);
    Driver::Close(fd);
}

TEST_F(E1Models, CasTrunksChannelsAndBits)
{
    using Sim::E1Cas;
    int fd = Driver::Open("/dev/e1-cas", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::uint8_t ch[16] = {};
    auto channel = [&](std::uint32_t trunk, std::uint32_t slot, std::uint8_t tx, std::uint32_t op) {
        std::memset(ch, 0, sizeof ch);
        std::memcpy(ch, &trunk, 4);
        std::memcpy(ch + 4, &slot, 4);
        ch[9] = tx;
        std::memcpy(ch + 12, &op, 4);
    };
    channel(0, 1, 5, 0);
    EXPECT_EQ(Driver::Ioctl(fd, E1Cas::kChannel, ch), -1) << "trunk not open";
    EXPECT_EQ(Driver::IoctlValue(fd, E1Cas::kOpenTrunk, 4), -1);
    ASSERT_EQ(Driver::IoctlValue(fd, E1Cas::kOpenTrunk, 0), 0);
    ASSERT_EQ(Driver::Ioctl(fd, E1Cas::kChannel, ch), 0);
    for (std::uint32_t bad : {0u, 16u, 32u}) {
        channel(0, bad, 5, 0);
        EXPECT_EQ(Driver::Ioctl(fd, E1Cas::kChannel, ch), -1) << bad;
    }
    ASSERT_EQ(board().Command("/dev/e1-cas rx 0 1 9"), "ok\n");
    channel(0, 1, 0, 0);
    ASSERT_EQ(Driver::Ioctl(fd, E1Cas::kGet, ch), 0);
    EXPECT_EQ(ch[8], 9);
    EXPECT_EQ(ch[9], 5);
    EXPECT_EQ(board().Command("/dev/e1-cas state"), "trunk 0 open\n0 1 rx 9 tx 5\nok 2\n");

    // Closing the trunk closes its channels.
    ASSERT_EQ(Driver::IoctlValue(fd, E1Cas::kCloseTrunk, 0), 0);
    EXPECT_EQ(Driver::IoctlValue(fd, E1Cas::kCloseTrunk, 0), -1);
    EXPECT_EQ(board().Command("/dev/e1-cas state"), "ok 0\n");

    // An event record reaches the program as one 12-byte read.
    auto event = E1Cas::Event(3, 30, 0xA, 0x5);
    ASSERT_EQ(event.size(), 12u);
    ASSERT_EQ(board().Inject("/dev/e1-cas", event.data(), event.size()), 1);
    std::uint8_t got[64];
    ASSERT_EQ(::read(fd, got, sizeof got), 12);
    EXPECT_EQ(std::memcmp(got, event.data(), 12), 0);
    Driver::Close(fd);
}

TEST_F(E1Models, HalClockAndSpiFramers)
{
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(board().Command("/dev/hal clock"), "ok none\n");
    std::int32_t source = 2;
    EXPECT_EQ(Driver::Ioctl(fd, Sim::HalClockSpi::kClockSelect, &source), 0);
    source = 8;
    EXPECT_EQ(Driver::Ioctl(fd, Sim::HalClockSpi::kClockSelect, &source), -1);
    EXPECT_EQ(board().Command("/dev/hal clock"), "ok 2\n");

    std::uint8_t w[3] = {3, 87, 56};
    EXPECT_EQ(Driver::Ioctl(fd, Sim::HalClockSpi::kSpiWrite, w), 0);
    EXPECT_EQ(board().Command("/dev/hal spi reg 3 87"), "ok 0x38\n");
    EXPECT_EQ(board().Command("/dev/hal spi writes"), "3 87 56\nok 1\n");
    ASSERT_EQ(board().Command("/dev/hal spi status 5 0x85"), "ok\n");
    std::uint8_t r[3] = {5, 51, 0xFF};
    EXPECT_EQ(Driver::Ioctl(fd, Sim::HalClockSpi::kSpiRead, r), 0x85);
    r[0] = 8;
    EXPECT_EQ(Driver::Ioctl(fd, Sim::HalClockSpi::kSpiRead, r), -1);
    EXPECT_EQ(errno, EINVAL);

    // The driver's answers on a board without SPI.
    ASSERT_EQ(board().Command("/dev/hal spi absent"), "ok\n");
    EXPECT_EQ(Driver::Ioctl(fd, Sim::HalClockSpi::kSpiWrite, w), -1);
    EXPECT_EQ(errno, ENODEV);
    r[0] = 5;
    EXPECT_EQ(Driver::Ioctl(fd, Sim::HalClockSpi::kSpiRead, r), -1);
    EXPECT_EQ(errno, EINTR);
    // The switch is still there.
    EXPECT_EQ(board().Command("/dev/hal switch 8192"), "ok 0\n");
    Driver::Close(fd);

    board().Reset();
    EXPECT_EQ(board().Command("/dev/hal clock"), "ok none\n");
    EXPECT_EQ(board().Command("/dev/hal spi reg 0 51"), "ok 0xC5\n");
}

} // namespace
