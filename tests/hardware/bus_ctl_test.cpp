// Clock source control: the fall-back to the free-running oscillator on
// every connect and disconnect, the sources `clockCfg` selects, and the
// answers when the service is disabled or the driver is missing or refuses.

#include "support/board_services.hpp"
#include "hardware/bus_ctl.hpp"
#include "sim/hal.hpp"

#include <fcntl.h>

#include <memory>
#include <sstream>

using namespace BoardServicesTest;

namespace {

constexpr std::uint32_t kSelect = BusCtl::HW_CLOCK_SELECT;

class BusCtlTest : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        clk = std::make_unique<BusCtl>();
        Bind(clk.get());
    }
    void TearDown() override
    {
        clk.reset();
        ServiceTest::TearDown();
    }
    int clock() { return board().device<Sim::Hal>().clock_spi().clock(); }
    std::unique_ptr<BusCtl> clk;
};

TEST_F(BusCtlTest, ConnectAndDisconnectSelectTheFreeRunningOscillator)
{
    SimTest::Capture err(std::cerr);
    clk->OnConnect();
    EXPECT_EQ(clock(), BusCtl::kFreeRun);
    EXPECT_NE(err.str().find("clkctl: set clock source cmd: {\n  clkSel0 internal,\n  bextEn "
                             "disabled,\n  source -1\n}\n"),
              std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("clkctl: clock source = freerun\n"), std::string::npos);

    clk->OnCommand(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 1));
    EXPECT_EQ(clock(), 1);
    clk->OnDisconnect();
    EXPECT_EQ(clock(), BusCtl::kFreeRun);
    EXPECT_EQ(board().Count("/dev/hal", kSelect), 3u);
    EXPECT_EQ(board().Count("/dev/hal", Sim::kOpen), 1u) << "opened once and kept";
}

TEST_F(BusCtlTest, ClockCfgSelectsTheSourceAndAlwaysAnswersSuccess)
{
    SimTest::Capture err(std::cerr);
    struct Case {
        int sel, ext, source, expected;
    } cases[] = {
        {LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2, 2},
        {LGCP::ClkSel0::external, LGCP::BExtEn::disabled, 3, BusCtl::kX3},
        {LGCP::ClkSel0::external, LGCP::BExtEn::disabled, -7, BusCtl::kX3},
        {LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 2, BusCtl::kFreeRun},
        {LGCP::ClkSel0::internal, LGCP::BExtEn::disabled, 0, BusCtl::kFreeRun},
    };
    for (const Case& c : cases) {
        err.clear();
        board().device<Sim::Hal>().clock_spi().Reset();
        ASSERT_TRUE(clk->OnCommand(ClockCfg(c.sel, c.ext, c.source)));
        EXPECT_EQ(clock(), c.expected);
        EXPECT_EQ(server.response_state(), CtrlSrv::Server::SuccessSent);
        std::ostringstream name;
        BusCtl::PutSourceName(name, c.expected);
        EXPECT_NE(err.str().find("clkctl: clock source = " + name.str() + "\n"), std::string::npos)
            << err.str();
    }
    EXPECT_NE(err.str().find("clkctl: clock source = freerun"), std::string::npos);

    // An external source with a negative number writes nothing.
    std::uint64_t before = board().Count("/dev/hal", kSelect);
    clk->OnCommand(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, -1));
    EXPECT_EQ(board().Count("/dev/hal", kSelect), before);
}

TEST_F(BusCtlTest, OtherCommandsGoOn)
{
    EXPECT_FALSE(clk->OnCommand(TrunkCfg(0, 0)));
    LGCP::Command ping;
    ping.select_ping();
    EXPECT_FALSE(clk->OnCommand(ping));
}

TEST_F(BusCtlTest, DisabledNeverTouchesTheClockAndRefusesClockCfg)
{
    SimTest::Capture log(std::clog);
    clk->DisableControl();
    EXPECT_EQ(log.str(), "clock control disabled.\n");
    clk->OnConnect();
    ASSERT_TRUE(clk->OnCommand(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2)));
    EXPECT_EQ(server.response_state(), CtrlSrv::Server::ErrorSent);
    clk->OnDisconnect();
    EXPECT_FALSE(clk->IsOpen());
    EXPECT_EQ(board().Count("/dev/hal", Sim::kOpen), 0u);
    EXPECT_EQ(board().Count("/dev/hal", kSelect), 0u);
}

TEST_F(BusCtlTest, DriverMissingOrRefusingStillAnswersSuccess)
{
    SimTest::Capture err(std::cerr);
    board().SetPresent("/dev/hal", false);
    ASSERT_TRUE(clk->OnCommand(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2)));
    EXPECT_EQ(server.response_state(), CtrlSrv::Server::SuccessSent);
    EXPECT_NE(err.str().find("clkctl: set clock source fail: code 1.\n"), std::string::npos);

    board().SetPresent("/dev/hal", true);
    err.clear();
    board().Fail("/dev/hal", kSelect, 1, EIO);
    clk->OnCommand(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2));
    EXPECT_EQ(server.response_state(), CtrlSrv::Server::SuccessSent);
    EXPECT_NE(err.str().find("clkctl: HW_CLOCK_SELECT fail.\n"), std::string::npos);
    EXPECT_EQ(err.str().find("clock source ="), std::string::npos);
}

TEST(BusCtlNames, SourcesPastTheTableShowTheirNumber)
{
    auto name = [](int v) {
        std::ostringstream os;
        BusCtl::PutSourceName(os, v);
        return os.str();
    };
    EXPECT_EQ(name(0), "f0");
    EXPECT_EQ(name(2), "f2");
    EXPECT_EQ(name(4), "freerun");
    EXPECT_EQ(name(5), "X3");
    EXPECT_EQ(name(7), "?2");
    EXPECT_EQ(name(8), "?8");
    EXPECT_EQ(name(1000), "?1000");
    EXPECT_EQ(name(-3), "?-3");
}

} // namespace
