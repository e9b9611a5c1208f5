// The HDLC channel against the simulated MCC controllers and switch:
// activation and its switch connections, flow control, frames both ways
// with the counters, and the ways a controller's stream ends.

#include "hardware/hdlc.hpp"
#include "hardware/hw_mux.hpp"
#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "core/traces.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/hal.hpp"
#include "sim/mcc.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

namespace {

using SimTest::Capture;
using Frame = std::vector<unsigned char>;

class Listener : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet& frame) override
    {
        received.emplace_back(frame.data(), frame.data() + frame.length());
        if (close_on_receive)
            channel->deactivate();
    }
    void on_hdlc_error(Cause::Type cause) override { errors.push_back(cause); }
    void on_hdlc_ready() override { ++ready; }

    HDLC* channel = nullptr;
    bool close_on_receive = false;
    std::vector<Frame> received;
    std::vector<int> errors;
    int ready = 0;
};

Packet MakePacket(const Frame& bytes)
{
    Packet p;
    p.reserve_head(16);
    p.put(bytes.data(), static_cast<unsigned int>(bytes.size()));
    return p;
}

class HdlcTest : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        {
            Capture quiet(std::clog);
            mux_ = std::make_unique<HwMux>();
        }
        HwMux::UseInstance(mux_.get());
        hdlc_.notify = &listener_;
        listener_.channel = &hdlc_;
        board().ClearLog();
    }
    void TearDown() override
    {
        traces.Reset();
        hdlc_.deactivate();
        HwMux::UseInstance(nullptr);
        mux_.reset();
        BoardTest::TearDown();
    }
    // Link mode 2 on trunk 2, time slot 5: A = 40, B = 8200.
    bool ActivateBri()
    {
        hdlc_.trunk = 2;
        hdlc_.timeslot = 5;
        hdlc_.rx_channel = 40;
        hdlc_.tx_channel = 8200;
        hdlc_.mode = 2;
        return hdlc_.activate();
    }
    // Loop passes while anything is registered (a pass with nothing to poll
    // and no timer is the loop's "hang" and aborts).
    void Pass(int n = 1)
    {
        for (int i = 0; i < n && multiplexer.event_count() > 0; ++i)
            Mux::test::run_once(0);
    }
    std::vector<Sim::Request> Requests(const std::string& device, std::uint32_t request)
    {
        std::vector<Sim::Request> out;
        for (auto& r : board().Log())
            if (r.device == device && r.request == request)
                out.push_back(r);
        return out;
    }
    Sim::Mcc& mcc() { return board().device<Sim::Mcc>(); }

    std::unique_ptr<HwMux> mux_;
    HDLC hdlc_;
    Listener listener_;
};

TEST_F(HdlcTest, BasicRateModeAllocatesAndConnectsBothDirections)
{
    ASSERT_TRUE(ActivateBri());
    EXPECT_TRUE(hdlc_.is_open());
    EXPECT_FALSE(hdlc_.is_ready());

    auto controllers = mcc().Controllers();
    ASSERT_EQ(controllers.size(), 1u);
    const auto& c = controllers.begin()->second;
    EXPECT_EQ(c.timeslot, 300u);
    EXPECT_EQ(std::vector<std::uint32_t>(c.words, c.words + 5),
              (std::vector<std::uint32_t>{1, 512, 0, 1, 4}));

    // {output, source}: the controller feeds B, A feeds the controller.
    auto connects = Requests("/dev/hal", Sim::Hal::kConnect);
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_EQ(connects[0].in, (std::vector<std::uint32_t>{8200, 300}));
    EXPECT_EQ(connects[1].in, (std::vector<std::uint32_t>{300, 40}));
    // The duplicate kept by the event is the only descriptor left.
    EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 1u);
}

TEST_F(HdlcTest, ModesZeroAndOneTransmitOnTheReceiveChannel)
{
    struct Case {
        int mode;
        std::uint32_t driver_mode;
    };
    for (Case k : {Case{0, 3}, Case{1, 0}}) {
        board().ClearLog();
        hdlc_.mode = k.mode;
        hdlc_.rx_channel = 33;
        hdlc_.tx_channel = 8300; // not used in these modes
        ASSERT_TRUE(hdlc_.activate()) << k.mode;
        auto alloc = Requests("/dev/mcc/ctl", Sim::Mcc::kAllocate);
        ASSERT_EQ(alloc.size(), 1u);
        EXPECT_EQ(alloc[0].in[0], k.driver_mode);
        auto connects = Requests("/dev/hal", Sim::Hal::kConnect);
        ASSERT_EQ(connects.size(), 2u);
        EXPECT_EQ(connects[0].in, (std::vector<std::uint32_t>{33, 300}));
        EXPECT_EQ(connects[1].in, (std::vector<std::uint32_t>{300, 33}));
    }
}

TEST_F(HdlcTest, ModeOutsideTheThreeKnownFailsWithALogLine)
{
    for (int mode : {3, -1}) {
        Capture err(std::cerr);
        hdlc_.trunk = 1;
        hdlc_.timeslot = 16;
        hdlc_.mode = mode;
        EXPECT_FALSE(hdlc_.activate());
        EXPECT_EQ(err.str(), "hdlc [1/16]: invalid mode: " + std::to_string(mode) + "\n");
        EXPECT_FALSE(hdlc_.is_open());
    }
    EXPECT_EQ(board().Count("/dev/mcc/ctl", Sim::kOpen), 0u);
}

TEST_F(HdlcTest, ActivationFailuresLeaveTheChannelClosed)
{
    hdlc_.trunk = 3;
    hdlc_.timeslot = 1;
    hdlc_.mode = 1;
    hdlc_.rx_channel = 97;
    struct Case {
        std::uint32_t request;
        int error;
        std::string line;
    };
    const Case cases[] = {
        {Sim::kOpen, ENOENT, "hdlc [3/1]: fail to open MCC device: No such file or directory\n"},
        {Sim::Mcc::kAllocate, ENOSPC, "hdlc [3/1]: MCC_ALLOCATE fail: No space left on device\n"},
        {Sim::Mcc::kTimeslot, EIO, "hdlc [3/1]: MCC_TIMESLOT fail: Input/output error\n"},
    };
    for (const Case& k : cases) {
        board().Fail("/dev/mcc/ctl", k.request, 1, k.error);
        Capture err(std::cerr);
        EXPECT_FALSE(hdlc_.activate());
        EXPECT_EQ(err.str(), k.line);
        EXPECT_FALSE(hdlc_.is_open());
        EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u) << k.line;
    }
    EXPECT_TRUE(Requests("/dev/hal", Sim::Hal::kConnect).empty());
    // The pool is not exhausted by the failed attempts.
    ASSERT_TRUE(hdlc_.activate());
    EXPECT_EQ(mcc().Controllers().begin()->first, 300u);
}

TEST_F(HdlcTest, OneReadyPerFlowControlCycle)
{
    ASSERT_TRUE(ActivateBri());
    Pass(3);
    EXPECT_EQ(listener_.ready, 1);
    EXPECT_TRUE(hdlc_.is_ready());

    Packet frame = MakePacket({0x01, 0x02, 0x03});
    int sent = 0;
    while (hdlc_.hdlc_transmit(frame))
        ASSERT_LT(++sent, 1000) << "the controller never filled";
    EXPECT_GT(sent, 0);
    EXPECT_FALSE(hdlc_.is_ready());
    EXPECT_EQ(hdlc_.txSU, static_cast<std::uint32_t>(sent));
    EXPECT_EQ(hdlc_.txError, 0u);
    EXPECT_EQ(hdlc_.txDiscard, 0u);
    EXPECT_FALSE(frame.null()); // the packet stays the caller's

    // Still full: no ready, however many passes.
    Pass(3);
    EXPECT_EQ(listener_.ready, 1);

    EXPECT_EQ(mcc().Pump(), static_cast<std::size_t>(sent));
    Pass(3);
    EXPECT_EQ(listener_.ready, 2);
    EXPECT_TRUE(hdlc_.is_ready());
    EXPECT_EQ(mcc().TakeSent(8200).size(), static_cast<std::size_t>(sent));
}

TEST_F(HdlcTest, FramesBothWaysWithCounters)
{
    ASSERT_TRUE(ActivateBri());
    Pass();
    for (Frame f : {Frame{0x10}, Frame{0x20, 0x21}, Frame(300, 0x7E)}) {
        Packet p = MakePacket(f);
        EXPECT_TRUE(hdlc_.hdlc_transmit(p));
    }
    mcc().Pump();
    auto sent = mcc().TakeSent(8200);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], (Frame{0x20, 0x21}));
    EXPECT_EQ(sent[2], Frame(300, 0x7E));

    // Frames from the link arrive on A = 40; one read per readiness report.
    const Frame in1{0xA1, 0xB2}, in2{0xC3};
    EXPECT_EQ(mcc().Receive(40, in1.data(), in1.size()), 1);
    EXPECT_EQ(mcc().Receive(40, in2.data(), in2.size()), 1);
    EXPECT_EQ(mcc().Receive(41, in2.data(), in2.size()), 0);
    Pass();
    ASSERT_EQ(listener_.received.size(), 1u);
    Pass();
    ASSERT_EQ(listener_.received.size(), 2u);
    EXPECT_EQ(listener_.received[0], in1);
    EXPECT_EQ(listener_.received[1], in2);

    EXPECT_EQ(hdlc_.txSU, 3u);
    EXPECT_EQ(hdlc_.rxSU, 2u);
    EXPECT_EQ(hdlc_.txDiscard, 0u);
    EXPECT_EQ(hdlc_.txError, 0u);
    EXPECT_EQ(hdlc_.txOverflow, 0u);

    // A new activation starts the counters over.
    ASSERT_TRUE(hdlc_.activate());
    EXPECT_EQ(hdlc_.txSU + hdlc_.rxSU + hdlc_.txDiscard + hdlc_.txError + hdlc_.txOverflow, 0u);
}

TEST_F(HdlcTest, TransmitOnAClosedChannel)
{
    Packet null_packet;
    Packet empty;
    empty.reserve_head(8);
    Packet frame = MakePacket({0x55});
    EXPECT_TRUE(hdlc_.hdlc_transmit(null_packet));
    EXPECT_TRUE(hdlc_.hdlc_transmit(empty));
    EXPECT_EQ(hdlc_.txDiscard, 0u);
    EXPECT_FALSE(hdlc_.hdlc_transmit(frame));
    EXPECT_EQ(hdlc_.txDiscard, 1u);
    EXPECT_EQ(hdlc_.txSU, 0u);
}

TEST_F(HdlcTest, EndOfFileIsAReadErrorAndStopsTheChannel)
{
    ASSERT_TRUE(ActivateBri());
    Pass();
    Capture err(std::cerr);
    ASSERT_TRUE(mcc().Eof(300));
    Pass();
    EXPECT_EQ(listener_.errors, std::vector<int>{HDLC::Notify::Cause::read_error});
    EXPECT_FALSE(hdlc_.is_open());
    EXPECT_FALSE(hdlc_.is_ready());
    EXPECT_EQ(err.str(), "hdlc [2/5]: read error: end of file\n");
    // Nothing is polled any more, so nothing can spin on the end of file.
    EXPECT_EQ(multiplexer.event_count(), 0u);
    // The controller went back to the pool with the last descriptor.
    EXPECT_TRUE(mcc().Controllers().empty());
}

TEST_F(HdlcTest, ReadFailureClosesTheChannel)
{
    ASSERT_TRUE(ActivateBri());
    Pass();
    Capture err(std::cerr);
    ASSERT_TRUE(mcc().ReadError(300));
    Pass();
    EXPECT_EQ(listener_.errors, std::vector<int>{HDLC::Notify::Cause::read_error});
    EXPECT_FALSE(hdlc_.is_open());
    EXPECT_EQ(err.str(), "hdlc [2/5]: read error: Connection reset by peer\n");
    EXPECT_EQ(multiplexer.event_count(), 0u);
}

TEST_F(HdlcTest, PollFailureWithoutInputIsAReadError)
{
    for (short revents : {short(POLLHUP), short(POLLERR | POLLOUT), short(POLLNVAL)}) {
        ASSERT_TRUE(ActivateBri());
        listener_.errors.clear();
        Capture err(std::cerr);
        hdlc_.on_event(-1, revents);
        EXPECT_EQ(listener_.errors.size(), 1u) << revents;
        EXPECT_FALSE(hdlc_.is_open());
        EXPECT_EQ(listener_.ready, 0);
        EXPECT_NE(err.str().find("hdlc [2/5]: read error: "), std::string::npos);
    }
}

TEST_F(HdlcTest, ListenerClosingInsideReceiveStopsTheChannelWork)
{
    ASSERT_TRUE(ActivateBri());
    listener_.close_on_receive = true;
    const Frame a{1}, b{2};
    mcc().Receive(40, a.data(), a.size());
    mcc().Receive(40, b.data(), b.size());
    // The first pass reports input and output together: the frame is read,
    // the listener closes the channel, and the output half is not served.
    Pass(3);
    ASSERT_EQ(listener_.received.size(), 1u);
    EXPECT_EQ(listener_.ready, 0);
    EXPECT_FALSE(hdlc_.is_open());
    EXPECT_FALSE(hdlc_.is_ready());
    EXPECT_TRUE(listener_.errors.empty());
}

TEST_F(HdlcTest, TwoChannelsTakeTwoSlotsAndFreeThem)
{
    HDLC other;
    other.mode = 1;
    other.rx_channel = 300; // the first controller's slot feeds this one
    ASSERT_TRUE(ActivateBri());
    ASSERT_TRUE(other.activate());
    auto controllers = mcc().Controllers();
    ASSERT_EQ(controllers.size(), 2u);
    EXPECT_TRUE(controllers.count(300) && controllers.count(301));

    // 301 <- 300: what the first controller writes reaches the second.
    Pass();
    Packet p = MakePacket({0x42});
    EXPECT_TRUE(hdlc_.hdlc_transmit(p));
    mcc().Pump();
    Listener heard;
    other.notify = &heard;
    Pass();
    ASSERT_EQ(heard.received.size(), 1u);
    EXPECT_EQ(heard.received[0], Frame{0x42});

    other.deactivate();
    EXPECT_EQ(mcc().Controllers().size(), 1u);
    other.unbind();
}

TEST_F(HdlcTest, TracesWhenSwitchedOn)
{
    traces[TraceCtl::signalling_hdlc] = true;
    Capture log(std::clog);
    ASSERT_TRUE(ActivateBri());
    Pass();
    Packet p = MakePacket({0x01, 0xFF});
    hdlc_.hdlc_transmit(p);
    hdlc_.deactivate();
    EXPECT_EQ(log.str(), "hdlc [2/5]: deactivated\n"
                         "hdlc [2/5]: activated\n"
                         "HDLC[2]: tx 01 FF\n"
                         "hdlc [2/5]: deactivated\n");
}

} // namespace
