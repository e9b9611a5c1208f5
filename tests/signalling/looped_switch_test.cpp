// Built HDLC channels on the simulated board, joined by looped switch time
// slots or talking to the kit's switch-channel port, moved by the runner.

#include "core/clock.hpp"
#include "hardware/hdlc.hpp"
#include "hardware/hw_mux.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "sim/board_fixture.hpp"
#include "sim/mcc.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using SigTest::Bytes;

class Recorder : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet& frame) override
    {
        frames.emplace_back(frame.data(), frame.data() + frame.length());
    }
    void on_hdlc_error(Cause::Type) override { ++errors; }
    void on_hdlc_ready() override { ++ready; }
    std::vector<Bytes> frames;
    int errors = 0;
    int ready = 0;
};

bool Send(GenericHDLC& channel, const Bytes& frame)
{
    Packet p;
    p.reserve_head(4);
    p.put(frame.data(), static_cast<unsigned int>(frame.size()));
    return channel.hdlc_transmit(p);
}

class LoopedSwitch : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        SimTest::Capture quiet(std::clog);
        mux_ = std::make_unique<HwMux>();
        HwMux::UseInstance(mux_.get());
        Mux::test::freeze();
    }
    void TearDown() override
    {
        for (auto& h : channels_)
            h->deactivate();
        channels_.clear();
        HwMux::UseInstance(nullptr);
        mux_.reset();
        BoardTest::TearDown();
    }
    // A channel in primary-rate mode (switch channel A both ways), or in
    // basic-rate mode (receives on A, sends on B).
    HDLC& Channel(int a, Recorder& r, int b = -1)
    {
        auto h = std::make_unique<HDLC>();
        h->notify = &r;
        h->trunk = static_cast<int>(channels_.size());
        h->timeslot = a;
        h->rx_channel = a;
        h->tx_channel = b;
        h->mode = b < 0 ? 1 : 2;
        EXPECT_TRUE(h->activate());
        channels_.push_back(std::move(h));
        return *channels_.back();
    }

    std::unique_ptr<HwMux> mux_;
    std::vector<std::unique_ptr<HDLC>> channels_;
};

TEST_F(LoopedSwitch, TwoChannelsOnLoopedTimeSlotsTalkBothWays)
{
    ASSERT_EQ(board().Command("/dev/mcc/ctl loop 1 2"), "ok\n");
    Recorder r1, r2;
    HDLC& h1 = Channel(1, r1);
    HDLC& h2 = Channel(2, r2);
    SigTest::Tap tap;
    tap.WatchSwitch(1, "trunk 0/1", 'O');
    tap.WatchSwitch(2, "trunk 0/2", 'I');
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(r1.ready, 1);
    EXPECT_EQ(r2.ready, 1);

    ASSERT_TRUE(Send(h1, {0x00, 0x01, 0x7F}));
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_TRUE(Send(h2, {0x02, 0x01, 0x73}));
    ASSERT_TRUE(Send(h2, {0x02, 0x01, 0x01, 0x01}));
    ASSERT_TRUE(SigTest::RunFor(100));

    EXPECT_EQ(r2.frames, (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
    EXPECT_EQ(r1.frames, (std::vector<Bytes>{{0x02, 0x01, 0x73}, {0x02, 0x01, 0x01, 0x01}}));
    // Looped frames are not kept for the switch outputs' readers.
    EXPECT_TRUE(board().device<Sim::Mcc>().TakeSent(1).empty());
    EXPECT_TRUE(board().device<Sim::Mcc>().TakeSent(2).empty());
    ASSERT_EQ(tap.frames().size(), 3u);
    EXPECT_EQ(tap.frames()[0].from, "trunk 0/1");
    EXPECT_EQ(tap.frames()[2].from, "trunk 0/2");

    // Unlooped, a frame stays at the output.
    ASSERT_EQ(board().Command("/dev/mcc/ctl unloop 2"), "ok\n");
    ASSERT_TRUE(Send(h1, {0x09}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(r2.frames.size(), 1u);
    EXPECT_EQ(board().device<Sim::Mcc>().TakeSent(1), (std::vector<Bytes>{{0x09}}));
}

// A peer at the far end of a channel's time slot, fanned out to two
// terminals (a basic-rate bus behind one switch channel).
TEST_F(LoopedSwitch, SwitchPortFansOutAndAnswers)
{
    Recorder link, t0, t1;
    HDLC& h = Channel(5, link);
    SigTest::SwitchPort port(5, 2);
    port.terminal(0).notify = &t0;
    port.terminal(1).notify = &t1;
    SigTest::Tap tap;
    port.SetTap(&tap);

    ASSERT_TRUE(Send(h, {0x02, 0xFF, 0x03, 0x08}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(t0.frames, (std::vector<Bytes>{{0x02, 0xFF, 0x03, 0x08}}));
    EXPECT_EQ(t1.frames, t0.frames);

    ASSERT_TRUE(Send(port.terminal(1), {0x00, 0x81, 0x7F}));
    port.board().DropNext(1);
    ASSERT_TRUE(Send(h, {0x77}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(link.frames, (std::vector<Bytes>{{0x00, 0x81, 0x7F}}));
    EXPECT_EQ(t0.frames.size(), 1u);
    ASSERT_EQ(tap.frames().size(), 3u);
    EXPECT_EQ(tap.frames()[0].from, "switch 5");
    EXPECT_EQ(tap.frames()[1].from, "terminal1");
    EXPECT_TRUE(tap.frames()[2].lost);
}

// Basic-rate mode: the channel sends on B and receives on A, and the port
// takes from one and delivers to the other.
TEST_F(LoopedSwitch, SwitchPortOnTwoChannels)
{
    Recorder link, peer;
    HDLC& h = Channel(40, link, 8200);
    SigTest::SwitchPort port(8200, 40, 1);
    port.terminal().notify = &peer;
    ASSERT_TRUE(Send(h, {0xFC, 0xFF, 0x03, 0x0F}));
    ASSERT_TRUE(Send(port.terminal(), {0xFE, 0xFF, 0x03, 0x0F}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(peer.frames, (std::vector<Bytes>{{0xFC, 0xFF, 0x03, 0x0F}}));
    EXPECT_EQ(link.frames, (std::vector<Bytes>{{0xFE, 0xFF, 0x03, 0x0F}}));
}

} // namespace
