// The DSP data driver's model: D channels from its pool, B channels added
// and given back (and given back with the open's last descriptor), frames
// through the switch with the MCC controllers', and its control words.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/dsp_data.hpp"
#include "sim/mcc.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Sim::DspData;

class DspDataModel : public SimTest::BoardTest {
protected:
    void TearDown() override
    {
        for (int fd : fds_)
            ::close(fd);
        BoardTest::TearDown();
    }
    int Open()
    {
        int fd = Driver::Open("/dev/dsp-data", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }
    int Timeslot(int fd)
    {
        std::uint32_t scratch = 0;
        return Driver::Ioctl(fd, DspData::kTimeslot, &scratch);
    }
    // The request's result, and the time slot word afterwards.
    std::pair<int, std::int32_t> B(int fd, std::uint32_t request, std::int32_t index, std::int32_t ts)
    {
        std::int32_t rec[2] = {index, ts};
        errno = 0;
        int r = Driver::Ioctl(fd, request, rec);
        return {r < 0 ? -errno : r, rec[1]};
    }
    std::string Ask(std::string const& words) { return board().Command("/dev/dsp-data " + words); }

    std::vector<int> fds_;
};

TEST_F(DspDataModel, DChannelsComeFromTheirOwnPool)
{
    for (std::uint32_t k = 0; k < DspData::kSlots; ++k)
        EXPECT_EQ(Timeslot(Open()), static_cast<int>(DspData::kFirstSlot + k));
    int const extra = Open();
    ASSERT_GE(extra, 0);
    EXPECT_EQ(Timeslot(extra), -1);
    EXPECT_EQ(errno, ENOSPC);
    // A request without its record is refused by the board.
    EXPECT_EQ(Driver::Ioctl(fds_[0], DspData::kTimeslot), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(Ask("slots").substr(0, 28), "400 written 0 delivered 0\n40");
}

TEST_F(DspDataModel, BChannelsAreHeldOnceAndGoWithTheLastDescriptor)
{
    int const fd = Open();
    ASSERT_EQ(Timeslot(fd), 400);
    EXPECT_EQ(B(fd, DspData::kAddB, 1, -1), std::make_pair(0, std::int32_t{417}));
    EXPECT_EQ(B(fd, DspData::kAddB, 1, -1).first, -EBUSY);
    EXPECT_EQ(B(fd, DspData::kAddB, 3, -1).first, -EINVAL);
    EXPECT_EQ(B(fd, DspData::kAddB, -1, -1).first, -EINVAL);
    EXPECT_EQ(B(fd, DspData::kRemoveB, 0, 416).first, -EINVAL);
    EXPECT_EQ(B(fd, DspData::kAddB, 0, -1), std::make_pair(0, std::int32_t{416}));
    EXPECT_EQ(Ask("bchannels"), "400 0 416\n400 1 417\nok 2\n");
    EXPECT_EQ(B(fd, DspData::kRemoveB, 0, 416).first, 0);
    EXPECT_EQ(Ask("bchannels"), "400 1 417\nok 1\n");

    // A duplicate keeps the open; the last close gives the channel back.
    int const dup = ::dup(fd);
    ::close(fd);
    fds_.clear();
    EXPECT_EQ(Ask("bchannels"), "400 1 417\nok 1\n");
    ::close(dup);
    EXPECT_EQ(Ask("bchannels"), "ok 0\n");
    EXPECT_EQ(Ask("slots"), "ok 0\n");
}

TEST_F(DspDataModel, FramesTravelThroughTheSwitchAndTheStreamEnds)
{
    int const fd = Open();
    ASSERT_EQ(Timeslot(fd), 400);
    int const hal = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    fds_.push_back(hal);
    // Output 1 carries the D channel; the D channel listens to channel 2.
    std::uint32_t c1[2] = {1, 400}, c2[2] = {400, 2};
    ASSERT_EQ(Driver::Ioctl(hal, 0x80084d02, c1), 0);
    ASSERT_EQ(Driver::Ioctl(hal, 0x80084d02, c2), 0);
    Sim::Mcc& mcc = board().device<Sim::Mcc>();
    ASSERT_EQ(::write(fd, "\x00\x01\x7f", 3), 3);
    EXPECT_EQ(Ask("pump"), "ok 1\n");
    auto sent = mcc.TakeSent(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Sim::Mcc::Frame{0x00, 0x01, 0x7f}));
    EXPECT_EQ(mcc.Receive(2, "\x02\x01\x73", 3), 1);
    unsigned char buf[16];
    EXPECT_EQ(::read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(Ask("slots"), "400 written 1 delivered 1\nok 1\n");
    // The MCC model's own controllers do not list it.
    EXPECT_TRUE(mcc.Controllers().empty());

    EXPECT_EQ(Ask("eof 401"), "error no D channel on that time slot\n");
    EXPECT_EQ(Ask("eof 400"), "ok\n");
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    EXPECT_NE(board().Command("help").find("/dev/dsp-data bchannels  "), std::string::npos);
}

} // namespace
