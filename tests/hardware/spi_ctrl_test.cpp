// SPI line framers: the register set-up at start, the clock-master role,
// the status reports of the eight framers while a controller is connected,
// and a board whose driver has no SPI.

#include "support/board_services.hpp"
#include "hardware/bus_ctl.hpp"
#include "hardware/e1_ctl.hpp"
#include "hardware/spi_ctrl.hpp"
#include "sim/hal.hpp"

#include <memory>

#include <fcntl.h>

using namespace BoardServicesTest;

namespace {

using Write = Sim::HalClockSpi::Write;

class SpiCtrlTest : public ServiceTest {
protected:
    Sim::HalClockSpi& spi() { return board().device<Sim::Hal>().clock_spi(); }
    std::vector<std::string> Writes()
    {
        std::vector<std::string> out;
        for (const Write& w : spi().writes())
            out.push_back(std::to_string(w.channel) + " " + std::to_string(w.reg) + "=" +
                          std::to_string(w.value));
        return out;
    }
    std::unique_ptr<spiCtrl> Make()
    {
        auto s = std::make_unique<spiCtrl>();
        Bind(s.get());
        return s;
    }
};

TEST_F(SpiCtrlTest, StartSetsUpAndEnablesSevenFramers)
{
    SimTest::Capture log(std::clog);
    auto s = Make();
    ASSERT_TRUE(s->opened());
    std::vector<std::string> expected;
    std::string lines = "spi: try init\n";
    for (int n = 0; n < 7; ++n) {
        for (const char* w : {" 50=128", " 48=8", " 87=48", " 52=96", " 53=0", " 54=0", " 55=0", " 50=0"})
            expected.push_back(std::to_string(n) + w);
        lines +=
            "spi: init channel " + std::to_string(n) + "\nspi: enable channel " + std::to_string(n) + "\n";
    }
    EXPECT_EQ(Writes(), expected);
    EXPECT_EQ(log.str(), lines);

    // Taken away at exit: every framer off, none clock master.
    spi().ClearWrites();
    log.clear();
    s.reset();
    ASSERT_EQ(spi().writes().size(), 16u);
    for (unsigned n = 0; n < 8; ++n) {
        EXPECT_EQ(Writes()[n], std::to_string(n) + " 50=128");
        EXPECT_EQ(Writes()[8 + n], std::to_string(n) + " 87=48");
    }
    EXPECT_NE(log.str().find("spi: disable channel 7\nspi: clock master disabled\n"), std::string::npos);
}

TEST_F(SpiCtrlTest, ClockMasterRole)
{
    auto s = Make();
    spi().ClearWrites();
    SimTest::Capture log(std::clog);
    s->clock(-1);
    s->clock(3);
    s->clock(8);
    s->clock(-2);
    auto w = Writes();
    ASSERT_EQ(w.size(), 17u);
    for (unsigned n = 0; n < 8; ++n) {
        EXPECT_EQ(w[n], std::to_string(n) + " 87=48");
        EXPECT_EQ(w[8 + n], std::to_string(n) + " 87=48");
    }
    EXPECT_EQ(w[16], "3 87=56");
    EXPECT_EQ(log.str(), "spi: clock master disabled\nspi: set clock master on channel 3\n"
                         "spi: bad channel for set clock master 8\n"
                         "spi: bad channel for set clock master -2\n");
    log.clear();
    s->init_channel(8);
    s->enable_channel(9);
    s->disable_channel(-1);
    EXPECT_EQ(log.str(), "spi: bad channel for init 8\nspi: bad channel for enable 9\n"
                         "spi: bad channel for disable -1\n");
    EXPECT_EQ(spi().writes().size(), 17u);
}

TEST_F(SpiCtrlTest, StatusBitsMapToTrunkStates)
{
    auto s = Make();
    const std::uint8_t status[8] = {0x00, 0x01, 0x85, 0xC5, 0x05, 0x45, 0x04, 0xFF};
    const int states[8] = {ACP::TrunkState::lossCarrier, ACP::TrunkState::lossBF, ACP::TrunkState::rai,
                           ACP::TrunkState::normal,      ACP::TrunkState::ais,    ACP::TrunkState::ais,
                           ACP::TrunkState::lossCarrier, ACP::TrunkState::normal};
    for (unsigned n = 0; n < 8; ++n)
        spi().SetRegister(n, 51, status[n]);
    s->OnConnect();
    Advance(1000);
    ASSERT_EQ(listener.trunks.size(), 8u);
    for (int n = 0; n < 8; ++n) {
        const TrunkReport& r = listener.trunks[n];
        EXPECT_EQ(r.trunk, n);
        EXPECT_EQ(r.state, states[n]) << "status 0x" << std::hex << unsigned{status[n]};
        EXPECT_EQ(r.type, ACP::TrunkType::bri);
        EXPECT_EQ(r.lossBF + r.lossCarrier + r.lossAIS + r.lossRAI, 0);
    }
    Advance(2000);
    EXPECT_EQ(listener.trunks.size(), 24u);

    // None while no controller is connected.
    s->OnDisconnect();
    listener.clear();
    Advance(5000);
    EXPECT_TRUE(listener.trunks.empty());
    EXPECT_FALSE(s->OnCommand(ClockCfg(0, 0, 0)));
}

TEST_F(SpiCtrlTest, SlipCountsTheRisingEdgeAcrossFramers)
{
    auto s = Make();
    // Framers 1, 2 and 3 slip, 5 slips, 7 slips: 1 and 5 report the edge;
    // 7 does, and then framer 0 of the next cycle does not, as 7 was set.
    for (unsigned n : {1u, 2u, 3u, 5u, 7u, 0u})
        spi().SetRegister(n, 51, 0xC5 | 0x20);
    spi().SetRegister(0, 51, 0xC5);
    s->OnConnect();
    Advance(1000);
    ASSERT_EQ(listener.trunks.size(), 8u);
    std::vector<int> slips;
    for (const auto& r : listener.trunks)
        slips.push_back(r.slips);
    EXPECT_EQ(slips, (std::vector<int>{0, 1, 0, 0, 0, 1, 0, 1}));
    spi().SetRegister(0, 51, 0xC5 | 0x20);
    listener.clear();
    Advance(1000);
    slips.clear();
    for (const auto& r : listener.trunks)
        slips.push_back(r.slips);
    EXPECT_EQ(slips, (std::vector<int>{0, 0, 0, 0, 0, 1, 0, 1}));
}

TEST_F(SpiCtrlTest, AFailedReadReportsNothingForThatFramer)
{
    auto s = Make();
    SimTest::Capture log(std::clog);
    s->OnConnect();
    board().Fail("/dev/hal", spiCtrl::SPI_READ, 1, EIO);
    Advance(1000);
    ASSERT_EQ(listener.trunks.size(), 7u);
    EXPECT_EQ(listener.trunks[0].trunk, 1);
    EXPECT_EQ(log.str(), "spi: read error: channel=0 addr=51\n");
    EXPECT_EQ(s->read(0, 51), 0xC5u);

    // A read that finds the SPI gone ends the cycle and the reports.
    listener.clear();
    log.clear();
    board().Fail("/dev/hal", spiCtrl::SPI_READ, 1, EINTR);
    Advance(1000);
    EXPECT_TRUE(listener.trunks.empty());
    EXPECT_EQ(log.str(), "spi: hal without spi\n");
    EXPECT_FALSE(s->present());
    EXPECT_FALSE(s->reporting());
    Advance(3000);
    EXPECT_TRUE(listener.trunks.empty());
    EXPECT_EQ(s->read(0, 51), 0u);
}

TEST_F(SpiCtrlTest, BoardWithoutSpiStaysQuiet)
{
    spi().SetSpiPresent(false);
    SimTest::Capture log(std::clog);
    auto s = Make();
    EXPECT_EQ(log.str(), "spi: try init\nspi: hal without spi\nspi: init channel 0\n");
    EXPECT_EQ(board().Count("/dev/hal", spiCtrl::SPI_WRITE), 1u);
    s->OnConnect();
    Advance(5000);
    EXPECT_TRUE(listener.trunks.empty());
    s->clock(2);
    s.reset();
    EXPECT_EQ(board().Count("/dev/hal", spiCtrl::SPI_WRITE), 1u);
    EXPECT_EQ(board().Count("/dev/hal", spiCtrl::SPI_READ), 0u);
}

TEST_F(SpiCtrlTest, HalThatDoesNotOpenIsTriedAgain)
{
    board().SetPresent("/dev/hal", false);
    SimTest::Capture log(std::clog);
    auto s = Make();
    EXPECT_EQ(log.str(), "spi: try init\nspi: /dev/hal open fail\n");
    s->OnConnect();
    EXPECT_FALSE(s->reporting());
    board().SetPresent("/dev/hal", true);
    s->clock(-1);
    EXPECT_TRUE(s->opened());
    EXPECT_EQ(board().Count("/dev/hal", spiCtrl::SPI_WRITE), 7u * 8u + 8u);
}

TEST_F(SpiCtrlTest, ClockMasterIsClaimedOnlyWhenTheFramersWereWritten)
{
    board().SetPresent("/dev/hal", false);
    auto s = Make();
    SimTest::Capture log(std::clog);
    s->clock(-1);
    s->clock(2);
    EXPECT_EQ(log.str(), "spi: try init\nspi: /dev/hal open fail\n"
                         "spi: clock master not disabled: /dev/hal not open\n"
                         "spi: try init\nspi: /dev/hal open fail\n"
                         "spi: clock master not set on channel 2: /dev/hal not open\n");

    // A register that cannot be written says so itself; the others are
    // still written, and nothing claims the role was taken away.
    board().SetPresent("/dev/hal", true);
    s->init_device_and_channels();
    ASSERT_TRUE(s->opened());
    spi().ClearWrites();
    log.clear();
    board().Fail("/dev/hal", spiCtrl::SPI_WRITE, 1, EIO);
    s->clock(-1);
    EXPECT_EQ(log.str(), "spi: write error: channel=0 addr=87 data=48\n");
    EXPECT_EQ(spi().writes().size(), 7u);
    log.clear();
    s->clock(-1);
    EXPECT_EQ(log.str(), "spi: clock master disabled\n");
}

// The board's end of each simulated open lives in this process too, and
// is close-on-exec itself; everything new must be.
TEST_F(SpiCtrlTest, EveryDriverDescriptorOfTheServicesIsCloseOnExec)
{
    auto before = SimTest::OpenDescriptors();
    auto s = Make();
    BusCtl clk;
    E1Ctl e1;
    clk.OnConnect();
    e1.OnConnect();
    int found = 0;
    for (int fd : SimTest::OpenDescriptors())
        if (!before.count(fd)) {
            ++found;
            EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
        }
    // "/dev/hal" twice, "/dev/maintenance", "/dev/e1-cas" and the event's copy.
    EXPECT_GE(found, 5);
}

} // namespace
