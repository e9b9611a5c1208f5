// The model of "/dev/mixer" as a driver user sees it: the unit walk and its
// endless mode, the switch channels of the mixer channels, the sources of
// each receiving point, and its words of the control language.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/mixer.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>

namespace {

using Sim::MixerDev;

class MixerModel : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        fd_ = Driver::Open("/dev/mixer", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override
    {
        Driver::Close(fd_);
        BoardTest::TearDown();
    }
    // The units the walk gives, as {unit, tdm, inputs}, until it fails.
    std::vector<std::vector<std::int32_t>> Walk(int limit = 1000)
    {
        std::vector<std::vector<std::int32_t>> out;
        std::int32_t rec[4] = {-1, 0, 0, 0};
        while (limit-- > 0 && Driver::Ioctl(fd_, MixerDev::kUnitInfo, rec) == 0)
            out.push_back({rec[0], rec[1], rec[3]});
        return out;
    }
    int Slot(std::uint32_t request, std::int32_t unit, std::int32_t number, std::int32_t type = 0)
    {
        std::int32_t rec[3] = {unit, type, number};
        return Driver::Ioctl(fd_, request, rec);
    }
    int Rx(std::uint32_t request, std::int32_t unit, std::int32_t rx, std::int32_t tx, std::int32_t gain)
    {
        std::int32_t rec[7] = {unit, 0, rx, unit, 0, tx, gain};
        return Driver::Ioctl(fd_, request, rec);
    }
    MixerDev& model() { return board().device<MixerDev>(); }

    int fd_ = -1;
};

TEST_F(MixerModel, WalkAnswersTheListInOrderThenFailsOrGoesOnForEver)
{
    using Units = std::vector<std::vector<std::int32_t>>;
    EXPECT_EQ(Walk(), (Units{{0, 32, 16}, {1, 32, 16}}));
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(board().Command("/dev/mixer unit remove 0"), "ok\n");
    EXPECT_EQ(board().Command("/dev/mixer unit add 7 1000000 -3"), "ok\n");
    EXPECT_EQ(board().Command("/dev/mixer unit add 1 24 8"), "ok\n"); // replaces, keeps its place
    EXPECT_EQ(Walk(), (Units{{1, 24, 8}, {7, 1000000, -3}}));
    EXPECT_EQ(board().Command("/dev/mixer units"), "1 24 8\n7 1000000 -3\nok 2\n");
    // A unit that left the list loses the walk its place.
    std::int32_t rec[4] = {5, 0, 0, 0};
    EXPECT_EQ(Driver::Ioctl(fd_, MixerDev::kUnitInfo, rec), -1);
    EXPECT_EQ(errno, ENODEV);

    EXPECT_EQ(board().Command("/dev/mixer forever on 4 2"), "ok\n");
    auto units = Walk(50);
    ASSERT_EQ(units.size(), 50u);
    EXPECT_EQ(units[2], (std::vector<std::int32_t>{8, 4, 2}));
    EXPECT_EQ(units[49], (std::vector<std::int32_t>{55, 4, 2}));
    EXPECT_EQ(board().Command("/dev/mixer forever off"), "ok\n");
    EXPECT_EQ(Walk().size(), 2u);
    EXPECT_EQ(board().Command("/dev/mixer unit add x 1 1"), "error unknown request for /dev/mixer\n");

    board().Reset();
    Driver::Close(fd_);
    fd_ = Driver::Open("/dev/mixer", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(Walk(), (Units{{0, 32, 16}, {1, 32, 16}}));
}

TEST_F(MixerModel, EachMixerChannelHasItsOwnSwitchChannel)
{
    const int a = Slot(MixerDev::kTdm, 0, 3);
    const int b = Slot(MixerDev::kTdm, 1, 3);
    EXPECT_EQ(a, 4096);
    EXPECT_EQ(b, 4097);
    EXPECT_EQ(Slot(MixerDev::kTdm, 0, 3), a); // stable
    EXPECT_EQ(board().Command("/dev/mixer timeslot 1 3"), "ok 4097\n");
    EXPECT_EQ(board().Command("/dev/mixer timeslot 1 4"), "ok -1\n");
    // Only channels of a listed unit, of type 0.
    for (auto [unit, number, type] : {std::tuple{0, 32, 0}, {0, -1, 0}, {2, 0, 0}, {0, 1, 1}}) {
        EXPECT_EQ(Slot(MixerDev::kTdm, unit, number, type), -1) << unit << " " << number << " " << type;
        EXPECT_EQ(errno, EINVAL);
    }
}

TEST_F(MixerModel, ReceivingPointsKeepTheirSourcesWithGains)
{
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, 5, 1, 100), 0);
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, 5, 2, -7), 0);
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, 5, 1, 300), 0); // a new gain, same place
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, 6, 6, 32767), 0);
    EXPECT_EQ(board().Command("/dev/mixer sums 0"), "5: 0.1@300 0.2@-7\n6: 0.6@32767\nok 2\n");
    EXPECT_EQ(Rx(MixerDev::kRxRemove, 0, 5, 1, 0), 0);
    EXPECT_EQ(Rx(MixerDev::kRxRemove, 0, 5, 1, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Slot(MixerDev::kRxClear, 0, 6), 0);
    EXPECT_EQ(model().Sums(0), std::vector<std::string>{"5: 0.2@-7"});
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, -1, 1, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, 1, 32, 1), -1);
    EXPECT_EQ(Driver::Ioctl(fd_, 0x80044d09, nullptr), -1);
    EXPECT_EQ(board().Command("/dev/mixer sums 1"), "ok 0\n");

    // The board's failures reach the model's requests.
    EXPECT_EQ(board().Command("fail /dev/mixer 0x801c4d03 1 EIO"), "ok\n");
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, 7, 1, 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Rx(MixerDev::kRxAdd, 0, 7, 1, 1), 0);
}

TEST_F(MixerModel, HelpListsItsWords)
{
    std::string help = board().Command("help");
    for (const char* word : {"/dev/mixer unit add", "/dev/mixer unit remove", "/dev/mixer units",
                             "/dev/mixer forever", "/dev/mixer sums", "/dev/mixer timeslot"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

} // namespace
