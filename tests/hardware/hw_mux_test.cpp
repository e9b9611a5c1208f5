// The TDM switch against the simulated "/dev/hal": the first use clears the
// backplane, each operation's request and shadow entry, the refresh, and the
// failure texts.

#include "hardware/hw_mux.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/hal.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Sim::Hal;
using SimTest::Capture;

class HwMuxTest : public SimTest::BoardTest {
protected:
    std::vector<Sim::Request> HalRequests()
    {
        std::vector<Sim::Request> out;
        for (auto& r : board().Log())
            if (r.device == "/dev/hal" && r.request != Sim::kOpen)
                out.push_back(r);
        return out;
    }
};

TEST_F(HwMuxTest, FirstUseDisablesTheWholeBackplaneFirst)
{
    Capture log(std::clog);
    HwMux mux;
    EXPECT_EQ(log.str(), "hwMux: init\nhwMux: device opened\n");
    EXPECT_TRUE(mux.IsOpened());
    EXPECT_TRUE(mux.Connect(5, 8200));

    auto requests = HalRequests();
    ASSERT_EQ(requests.size(), 2049u);
    for (int i = 0; i < 2048; ++i) {
        ASSERT_EQ(requests[i].request, Hal::kDisable) << i;
        ASSERT_EQ(requests[i].in, std::vector<std::uint32_t>{8192u + i});
    }
    EXPECT_EQ(requests[2048].request, Hal::kConnect);
    EXPECT_EQ(board().Count("/dev/hal", Sim::kOpen), 1u);
    EXPECT_EQ(mux.Shadow(8192), HwMux::kDisabled);
    EXPECT_EQ(mux.RefreshCursor(), 0u);
}

TEST_F(HwMuxTest, OperationsKeepTheShadowOfTheBackplaneOnly)
{
    HwMux mux;
    board().ClearLog();
    EXPECT_TRUE(mux.Connect(5, 8200));
    EXPECT_EQ(mux.Shadow(8200), 5);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8200).state, Hal::State::Connected);
    // An output below the backplane reaches the driver unrecorded.
    EXPECT_TRUE(mux.Connect(8200, 5));
    EXPECT_EQ(board().device<Sim::Hal>().Get(5).value, 8200u);
    EXPECT_EQ(mux.Shadow(8200), 5);

    EXPECT_TRUE(mux.Disconnect(8192));
    EXPECT_EQ(mux.Shadow(8192), HwMux::kConstant);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192).state, Hal::State::Constant);
    EXPECT_EQ(mux.Read(8192), 0xD5);

    EXPECT_TRUE(mux.Write(10239, 0x3C));
    EXPECT_EQ(mux.Shadow(10239), HwMux::kConstant);
    EXPECT_EQ(mux.Read(10239), 0x3C);
    EXPECT_EQ(mux.Read(8200), 0xFF); // source 5 is driven by nothing

    EXPECT_TRUE(mux.Disable(8200));
    EXPECT_EQ(mux.Shadow(8200), HwMux::kDisabled);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8200).state, Hal::State::Disabled);

    auto requests = HalRequests();
    std::vector<std::string> text;
    for (auto& r : requests)
        text.push_back(Sim::Format(r));
    EXPECT_EQ(text, (std::vector<std::string>{
                        "/dev/hal 0x80084d02 8200 5 = 0",
                        "/dev/hal 0x80084d02 5 8200 = 0",
                        "/dev/hal 0xc0084d04 8192 213 -> 8192 213 = 0",
                        "/dev/hal 0xc0084d05 8192 255 -> 8192 213 = 0",
                        "/dev/hal 0xc0084d04 10239 60 -> 10239 60 = 0",
                        "/dev/hal 0xc0084d05 10239 255 -> 10239 60 = 0",
                        "/dev/hal 0xc0084d05 8200 255 -> 8200 255 = 0",
                        "/dev/hal 0x80044d03 8200 = 0",
                    }));
}

TEST_F(HwMuxTest, RefreshDisablesOnlyUnusedOutputsOneSixteenthAtATime)
{
    Capture log(std::clog);
    HwMux mux;
    mux.Disconnect(8192 + 5);
    mux.Connect(3, 8192 + 6);
    mux.Disable(8192 + 7);
    // One call looks at entries 1..128.
    mux.OnDPC();
    EXPECT_EQ(mux.RefreshCursor(), 128u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 0).disables, 1u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 1).disables, 2u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 128).disables, 2u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 129).disables, 1u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 5).state, Hal::State::Constant);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 6).state, Hal::State::Connected);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 7).disables, 3u);
    // Sixteen calls go round once, wrapping from 2047 to 0.
    for (int i = 0; i < 15; ++i)
        mux.OnDPC();
    EXPECT_EQ(mux.RefreshCursor(), 0u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 0).disables, 2u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(10239).disables, 2u);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 5).state, Hal::State::Constant);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8192 + 6).state, Hal::State::Connected);
    // Every output but the constant and the connected one, once per round.
    // The refresh changes nothing, so the log leaves it out (and the disable
    // of 8199, which was disabled already).
    EXPECT_EQ(board().Count("/dev/hal", Hal::kDisable), 2048u + 1 + 2046);
    EXPECT_EQ(board().Log().size(), 1u + 2048 + 2);
}

TEST_F(HwMuxTest, NegativeNumbersAreRefusedWithoutARequest)
{
    HwMux mux;
    board().ClearLog();
    Capture log(std::clog);
    EXPECT_FALSE(mux.Connect(-1, 8192));
    EXPECT_FALSE(mux.Connect(8192, -1));
    // The switch is open: the line names the channel, not the device.
    EXPECT_EQ(log.str(), "hwMux: ERROR negative channel: connect -1 -> 8192\n"
                         "hwMux: ERROR negative channel: connect 8192 -> -1\n");
    log.clear();
    EXPECT_FALSE(mux.Disconnect(-1));
    EXPECT_FALSE(mux.Write(-5, 1));
    EXPECT_FALSE(mux.Disable(-1));
    EXPECT_EQ(mux.Read(-1), 255);
    EXPECT_EQ(log.str(), "");
    EXPECT_TRUE(HalRequests().empty());
    // Channel 0 (the first trunk's first time slot) is a channel.
    EXPECT_TRUE(mux.Connect(0, 8192));
    EXPECT_EQ(HalRequests().size(), 1u);
    EXPECT_EQ(log.str(), "");
}

TEST_F(HwMuxTest, DriverFailuresAreLoggedAndReported)
{
    HwMux mux;
    Capture log(std::clog);
    board().Fail("/dev/hal", Hal::kConnect, 1, EIO);
    EXPECT_FALSE(mux.Connect(7, 8300));
    EXPECT_EQ(mux.Shadow(8300), 7); // recorded before the request
    board().Fail("/dev/hal", Hal::kWrite, 2, EBUSY);
    EXPECT_FALSE(mux.Disconnect(8301));
    EXPECT_FALSE(mux.Write(8302, 0xAB));
    board().Fail("/dev/hal", Hal::kDisable, 1, ENODEV);
    EXPECT_FALSE(mux.Disable(8303));
    EXPECT_EQ(mux.Shadow(8303), HwMux::kDisabled);
    // A failed read gives 255, the same as a channel that carries 0xFF.
    mux.Write(8304, 0x11);
    board().Fail("/dev/hal", Hal::kRead, 1, EIO);
    EXPECT_EQ(mux.Read(8304), 255);
    EXPECT_EQ(mux.Read(8304), 0x11);
    EXPECT_EQ(log.str(), "hwMux: connect 7 -> 8300 failed: Input/output error\n"
                         "hwMux: disconnect failed 8301 : Device or resource busy\n"
                         "hwMux: write failed 8302 <- 0xab : Device or resource busy\n"
                         "hwMux: disable failed 8303 : No such device\n"
                         "hwMux: read failed 8304 -> 0xff : Input/output error\n");
}

TEST_F(HwMuxTest, AFailedOpenIsRetriedByTheNextOperation)
{
    board().SetPresent("/dev/hal", false);
    Capture log(std::clog);
    HwMux mux;
    EXPECT_FALSE(mux.Disable(8192));
    EXPECT_FALSE(mux.Connect(1, 8192));
    EXPECT_EQ(mux.Read(8192), 255);
    mux.OnDPC(); // closed: nothing to refresh
    EXPECT_EQ(log.str(), "hwMux: init\n"
                         "hwMux: can't open device: No such file or directory\n"
                         "hwMux: can't open device: No such file or directory\n"
                         "hwMux: can't open device: No such file or directory\n"
                         "hwMux: ERROR not opened\n"
                         "hwMux: can't open device: No such file or directory\n");
    EXPECT_EQ(board().Count("/dev/hal", Sim::kOpen), 4u);
    board().SetPresent("/dev/hal", true);
    log.clear();
    EXPECT_TRUE(mux.Write(8192, 1));
    EXPECT_EQ(log.str(), "hwMux: device opened\n");
    EXPECT_EQ(board().Count("/dev/hal", Hal::kDisable), 2048u);
    EXPECT_EQ(mux.Read(8192), 1);
}

} // namespace

namespace {

TEST(HwMuxTrace, PrintsTheCallStack)
{
    ::testing::internal::CaptureStdout();
    print_trace();
    std::fflush(stdout);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Obtained ", 0), 0u) << out;
    EXPECT_NE(out.find(" stack frames.\n"), std::string::npos);
}

} // namespace
