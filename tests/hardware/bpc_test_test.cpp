// Backplane bus tests through the switch on the simulated board.

#include "hardware/bpc_test.hpp"
#include "hardware/hw_mux.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/hal.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using Hardware::BpcTest;
using Mode = Hardware::BpcTest::Mode;
using Result = Hardware::BpcTest::Result;
using Sim::Hal;
using SimTest::Capture;

class BpcTestTest : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        Capture quiet(std::clog);
        mux_ = std::make_unique<HwMux>();
        board().ClearLog();
    }
    void TearDown() override
    {
        mux_.reset();
        BoardTest::TearDown();
    }
    Result Run(unsigned bus, std::uint32_t seed, Mode mode, unsigned start, unsigned length)
    {
        BpcTest test(*mux_);
        return test.Run(bus, seed, mode, start, length);
    }
    std::vector<std::uint32_t> Touched(std::uint32_t request)
    {
        std::vector<std::uint32_t> out;
        for (auto& r : board().Log())
            if (r.request == request)
                out.push_back(r.in[0]);
        return out;
    }
    std::unique_ptr<HwMux> mux_;
};

// The pattern of a seed, computed here from the C library directly.
std::vector<unsigned> Pattern(unsigned seed, int n)
{
    ::srandom(seed);
    std::vector<unsigned> p;
    for (int i = 0; i < n; ++i)
        p.push_back(static_cast<unsigned>(::random() & 255));
    return p;
}

TEST_F(BpcTestTest, WriteTouchesItsChannelsAndLeavesThePattern)
{
    EXPECT_EQ(Run(2, 7, Mode::Write, 10, 3), Result::Success);
    EXPECT_EQ(Touched(Hal::kWrite), (std::vector<std::uint32_t>{8458, 8459, 8460}));
    EXPECT_EQ(Touched(Hal::kRead), (std::vector<std::uint32_t>{8458, 8459, 8460}));
    auto p = Pattern(7, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(board().device<Sim::Hal>().ReadChannel(8458 + i), p[i]);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8457).state, Hal::State::Disabled);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8461).state, Hal::State::Disabled);

    EXPECT_EQ(Run(2, 7, Mode::Read, 10, 3), Result::Success);
    Capture err(std::cerr);
    EXPECT_EQ(Run(2, 8, Mode::Read, 10, 3), Result::BusError);
    auto q = Pattern(8, 1);
    char line[96];
    std::snprintf(line, sizeof line, "bus 2: test failed on channel 10 expected %02X  read %02X \n", q[0],
                  p[0]);
    ASSERT_NE(q[0], p[0]);
    EXPECT_EQ(err.str(), line);
}

TEST_F(BpcTestTest, MismatchReportsTheTimeSlotOfTheFirstBadChannel)
{
    auto p = Pattern(99, 4);
    ASSERT_NE(p[2], 0x5A);
    EXPECT_EQ(Run(15, 99, Mode::Write, 120, 4), Result::Success);
    // Spoil the third channel behind the test's back.
    mux_->Write(10239 - 8 + 2 + 1, 0x5A); // bus 15 slot 123
    Capture err(std::cerr);
    EXPECT_EQ(Run(15, 99, Mode::Read, 120, 4), Result::BusError);
    char line[96];
    std::snprintf(line, sizeof line, "bus 15: test failed on channel 122 expected %02X  read 5A \n", p[2]);
    EXPECT_EQ(err.str(), line);
}

TEST_F(BpcTestTest, AWriteThatDoesNotStickIsABusError)
{
    auto p = Pattern(3, 2);
    ASSERT_NE(p[1], 0xFF);
    board().Fail("/dev/hal", Hal::kWrite, 1, EIO);
    Capture err(std::cerr);
    Capture log(std::clog);
    // The first write fails (logged by the switch), the test goes on and the
    // read-back of a never-written channel gives 0xFF.
    EXPECT_EQ(Run(0, 3, Mode::Write, 0, 2), Result::BusError);
    char line[96];
    std::snprintf(line, sizeof line, "bus 0: write failed on channel 0 write %02X  written FF \n", p[0]);
    EXPECT_EQ(err.str(), line);
    EXPECT_EQ(Touched(Hal::kWrite), (std::vector<std::uint32_t>{8192, 8193}));
}

TEST_F(BpcTestTest, DisconnectReleasesTheChannels)
{
    ASSERT_EQ(Run(1, 5, Mode::Write, 0, 2), Result::Success);
    board().ClearLog();
    EXPECT_EQ(Run(1, 5, Mode::Disconnect, 0, 2), Result::Success);
    EXPECT_EQ(Touched(Hal::kDisable), (std::vector<std::uint32_t>{8320, 8321}));
    EXPECT_EQ(board().device<Sim::Hal>().Get(8320).state, Hal::State::Disabled);
    EXPECT_EQ(mux_->Shadow(8321), HwMux::kDisabled);
}

TEST_F(BpcTestTest, DisconnectThatCannotReleaseAChannelIsABusError)
{
    Capture err(std::cerr);
    Capture log(std::clog);
    ASSERT_EQ(Run(1, 5, Mode::Write, 3, 2), Result::Success);
    board().Fail("/dev/hal", Hal::kDisable, 1, EIO);
    EXPECT_EQ(Run(1, 5, Mode::Disconnect, 3, 2), Result::BusError);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8323).state, Hal::State::Constant);
    EXPECT_EQ(board().device<Sim::Hal>().Get(8324).state, Hal::State::Disabled) << "the rest is released";
    // The switch itself gone: the first channel is named.
    board().SetPresent("/dev/hal", false);
    EXPECT_EQ(Run(1, 5, Mode::Disconnect, 4, 3), Result::BusError);
    EXPECT_EQ(err.str(), "bus 1: disconnect failed on channel 3\nbus 1: disconnect failed on channel 4\n");
}

TEST_F(BpcTestTest, EmptyRangeSucceedsWithoutTheSwitch)
{
    for (Mode m : {Mode::Read, Mode::Write, Mode::Disconnect})
        EXPECT_EQ(Run(2, 7, m, 10, 0), Result::Success);
    EXPECT_TRUE(board().Log().empty());
}

TEST_F(BpcTestTest, RangesPastTheBusAndUnknownModesAreInvalid)
{
    // Slots 126, 127 and then 128, which is bus 3's slot 0: refused whole.
    EXPECT_EQ(Run(2, 7, Mode::Write, 126, 3), Result::InvalidParams);
    // Past bus 15 there are no channels at all.
    EXPECT_EQ(Run(15, 7, Mode::Read, 127, 127), Result::InvalidParams);
    EXPECT_EQ(Run(16, 7, Mode::Read, 0, 1), Result::InvalidParams);
    EXPECT_EQ(Run(0, 7, Mode::Read, 128, 0), Result::InvalidParams);
    BpcTest test(*mux_);
    EXPECT_EQ(test.Run(0, 7, static_cast<Mode>(3), 0, 1), Result::InvalidParams);
    EXPECT_TRUE(board().Log().empty());
    // The last slot of the last bus is still a channel.
    EXPECT_EQ(Run(15, 7, Mode::Write, 127, 1), Result::Success);
    EXPECT_EQ(Touched(Hal::kWrite), (std::vector<std::uint32_t>{10239}));
}

TEST_F(BpcTestTest, Header)
{
    BpcTest test(*mux_);
    test.Run(11, 1, Mode::Disconnect, 5, 0);
    std::ostringstream s;
    test.PutHeader(s);
    EXPECT_EQ(s.str(), "bus 11: ");
    EXPECT_EQ(test.first(), 8192u + 11 * 128 + 5);
    EXPECT_EQ(test.end(), test.first());
}

} // namespace
