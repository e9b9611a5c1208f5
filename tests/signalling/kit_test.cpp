// The link-test kit: frames between test ends arrive on later loop passes,
// the injected faults do what they say, the multipoint bus fans out, the
// tap records, and the runner plays link timers in simulated time with the
// answers to one timer's frames delivered before the next timer fires.

#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "core/timer.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using SigTest::Bytes;
using SigTest::End;

// A link layer's view of one end: what arrived, and when.
class Listener : public HDLC::Notify {
public:
    explicit Listener(End& end) : end_(end) { end.notify = this; }
    ~Listener() override { end_.notify = nullptr; }

    void on_hdlc_receive(Packet& frame) override
    {
        frames.emplace_back(frame.data(), frame.data() + frame.length());
        times_ms.push_back(Mux::milliseconds());
        passes.push_back(pass);
        if (!reply.empty()) {
            Packet p;
            p.reserve_head(4);
            p.put(reply.data(), static_cast<unsigned int>(reply.size()));
            EXPECT_TRUE(end_.hdlc_transmit(p));
            reply.clear();
        }
    }
    void on_hdlc_error(Cause::Type cause) override { errors.push_back(cause); }
    void on_hdlc_ready() override { ++ready; }

    std::vector<Bytes> frames;
    std::vector<std::uint32_t> times_ms;
    std::vector<int> passes;
    std::vector<int> errors;
    int ready = 0;
    int pass = 0; // set by the test before each pass
    Bytes reply;  // sent back once, from inside on_hdlc_receive

private:
    End& end_;
};

bool Send(End& end, const Bytes& frame)
{
    Packet p;
    p.reserve_head(4);
    p.put(frame.data(), static_cast<unsigned int>(frame.size()));
    return end.hdlc_transmit(p);
}

class KitTest : public ::testing::Test {
protected:
    void SetUp() override { Mux::test::freeze_at(1000000000ull); }
};

TEST_F(KitTest, FramesArriveOnLaterPassesNeverInsideTheSend)
{
    SigTest::LoopbackHdlc pair("user", "network");
    Listener a(pair.a), b(pair.b);
    b.reply = {0x00, 0x01, 0x73}; // UA, sent from inside on_hdlc_receive

    ASSERT_TRUE(Send(pair.a, {0x00, 0x01, 0x7F}));
    EXPECT_TRUE(b.frames.empty()) << "delivered inside the sender's call";
    EXPECT_TRUE(SigTest::InFlight());

    for (int pass = 1; pass <= 4 && SigTest::InFlight(); ++pass) {
        a.pass = b.pass = pass;
        Mux::test::run_once(0);
    }
    ASSERT_EQ(b.frames, (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
    ASSERT_EQ(a.frames, (std::vector<Bytes>{{0x00, 0x01, 0x73}}));
    EXPECT_EQ(b.passes[0], 1);
    EXPECT_GT(a.passes[0], b.passes[0]) << "the answer arrived in the pass of the frame it answers";
    EXPECT_FALSE(SigTest::InFlight());
    EXPECT_EQ(pair.a.counters.sent, 1u);
    EXPECT_EQ(pair.a.counters.received, 1u);
    // Empty frames are taken and go nowhere, as on the built channel.
    Packet empty;
    EXPECT_TRUE(pair.a.hdlc_transmit(empty));
    EXPECT_FALSE(SigTest::InFlight());
}

TEST_F(KitTest, DropAndDuplicate)
{
    SigTest::LoopbackHdlc pair;
    Listener b(pair.b);
    pair.a.DropNext(2);
    pair.a.DuplicateNext(1);
    for (unsigned char i = 1; i <= 4; ++i)
        ASSERT_TRUE(Send(pair.a, {i}));
    ASSERT_TRUE(SigTest::Settle());
    // 1 and 2 lost, 3 twice, 4 once; the other direction untouched.
    EXPECT_EQ(b.frames, (std::vector<Bytes>{{3}, {3}, {4}}));
    EXPECT_EQ(pair.a.counters.lost, 2u);
    EXPECT_EQ(pair.a.counters.duplicated, 1u);

    // Fractions repeat exactly with the same seed.
    auto pattern = [&](std::uint32_t seed) {
        b.frames.clear();
        pair.a.Seed(seed);
        pair.a.DropFraction(0.3);
        pair.a.DuplicateFraction(0.2);
        for (unsigned char i = 0; i < 200; ++i)
            Send(pair.a, {i});
        EXPECT_TRUE(SigTest::Settle());
        return b.frames;
    };
    const std::uint64_t lost_before = pair.a.counters.lost;
    auto first = pattern(7);
    const std::uint64_t lost = pair.a.counters.lost - lost_before;
    EXPECT_GT(lost, 30u);
    EXPECT_LT(lost, 90u);
    EXPECT_GT(first.size(), 200u - lost);
    EXPECT_EQ(pattern(7), first);
    EXPECT_NE(pattern(8), first);
}

TEST_F(KitTest, RefuseUntilReleasedThenOneReady)
{
    SigTest::LoopbackHdlc pair;
    Listener a(pair.a), b(pair.b);
    pair.a.Refuse();
    EXPECT_FALSE(pair.a.is_ready());
    EXPECT_FALSE(Send(pair.a, {1}));
    EXPECT_TRUE(pair.b.is_ready());
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_TRUE(b.frames.empty());
    EXPECT_EQ(pair.a.counters.refused, 1u);
    EXPECT_EQ(a.ready, 0);

    pair.a.Release();
    pair.a.Release();
    EXPECT_TRUE(pair.a.is_ready());
    EXPECT_EQ(a.ready, 0) << "ready inside Release()";
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(a.ready, 1);
    EXPECT_EQ(b.ready, 0);
    EXPECT_TRUE(Send(pair.a, {2}));
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(b.frames, (std::vector<Bytes>{{2}}));
}

TEST_F(KitTest, ReadErrorReachesTheEndsListener)
{
    SigTest::LoopbackHdlc pair;
    Listener a(pair.a), b(pair.b);
    pair.b.ReadError();
    EXPECT_TRUE(b.errors.empty());
    ASSERT_TRUE(SigTest::Settle());
    EXPECT_EQ(b.errors, std::vector<int>{HDLC::Notify::Cause::read_error});
    EXPECT_TRUE(a.errors.empty());
}

TEST_F(KitTest, MultipointFansOutFromTheNetworkOnly)
{
    SigTest::MultipointHdlc bus(3);
    Listener net(bus.network()), t0(bus.terminal(0)), t1(bus.terminal(1)), t2(bus.terminal(2));
    End& late = bus.AddTerminal("late");
    Listener t3(late);
    EXPECT_EQ(bus.terminals(), 4u);

    ASSERT_TRUE(Send(bus.network(), {0x02, 0xFF, 0x03}));
    ASSERT_TRUE(Send(bus.terminal(1), {0x00, 0x81, 0x7F}));
    bus.terminal(2).DropNext(1);
    ASSERT_TRUE(Send(bus.terminal(2), {0x00, 0x83, 0x7F}));
    ASSERT_TRUE(SigTest::Settle());
    for (Listener* t : {&t0, &t1, &t2, &t3})
        EXPECT_EQ(t->frames, (std::vector<Bytes>{{0x02, 0xFF, 0x03}}));
    EXPECT_EQ(net.frames, (std::vector<Bytes>{{0x00, 0x81, 0x7F}}));
}

TEST_F(KitTest, TapRecordsSenderTimeAndFate)
{
    SigTest::LoopbackHdlc pair("user", "network");
    pair.a.direction = 'O';
    pair.b.direction = 'I';
    SigTest::Tap tap;
    pair.SetTap(&tap);
    Send(pair.a, {1});
    SigTest::RunFor(250);
    pair.b.DropNext(1);
    Send(pair.b, {2});
    pair.a.DuplicateNext(1);
    Send(pair.a, {3});
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(tap.frames().size(), 3u);
    const auto& f = tap.frames();
    EXPECT_EQ(f[0].from, "user");
    EXPECT_EQ(f[0].direction, 'O');
    EXPECT_EQ(f[1].from, "network");
    EXPECT_EQ(f[1].direction, 'I');
    EXPECT_TRUE(f[1].lost);
    EXPECT_TRUE(f[2].duplicated);
    EXPECT_EQ(f[1].time_us - f[0].time_us, 250000u);
    EXPECT_EQ(tap.From("user").size(), 2u);
}

// Three link timers; the one that fires first sends a frame whose answer
// must arrive before the next one fires.
TEST_F(KitTest, RunnerFiresTimersInOrderWithAnswersBetween)
{
    struct Link {
        std::vector<std::pair<std::string, std::uint32_t>> events;
        std::uint32_t start = Mux::milliseconds();
        End* end = nullptr;
        void At(const char* what) { events.emplace_back(what, Mux::milliseconds() - start); }
        void T45() { At("45000"); }
        void T7() { At("7000"); }
        void T15()
        {
            At("1500");
            Send(*end, {0x02, 0x01, 0x01, 0x01}); // an enquiry
        }
    } link;
    SigTest::LoopbackHdlc pair;
    link.end = &pair.a;
    Listener a(pair.a), b(pair.b);
    b.reply = {0x02, 0x01, 0x01, 0x01};
    Timer t45, t7, t15;
    t45.set(45000, &Link::T45, &link);
    t7.set(7000, &Link::T7, &link);
    t15.set(1500, &Link::T15, &link);

    const std::uint64_t before = Mux::test::now_us();
    int passes = 0;
    {
        SigTest::PassCheck count([&] { ++passes; });
        ASSERT_TRUE(SigTest::RunFor(50000));
    }
    // A handful of passes at each stop, not one per millisecond.
    EXPECT_GT(passes, 3);
    EXPECT_LT(passes, 100);
    EXPECT_EQ(Mux::test::now_us() - before, 50000000u);
    using E = std::vector<std::pair<std::string, std::uint32_t>>;
    EXPECT_EQ(link.events, (E{{"1500", 1500}, {"7000", 7000}, {"45000", 45000}}));
    ASSERT_EQ(a.times_ms.size(), 1u) << "the answer did not arrive";
    EXPECT_EQ(a.times_ms[0] - link.start, 1500u) << "the answer waited for a later timer";
}

// The runner also stops at the expiries of hooked timer plugins (the peers'
// timer pools).
TEST_F(KitTest, RunnerStopsAtPluginExpiries)
{
    struct Pool : TimerPoolPlugin {
        std::uint32_t due;
        std::vector<std::uint32_t> ran;
        int poll_wait() override
        {
            const std::uint32_t now = Mux::milliseconds();
            if (static_cast<std::int32_t>(now - due) >= 0) {
                ran.push_back(now);
                due = now + 3000;
            }
            return static_cast<int>(due - now);
        }
    } pool;
    const std::uint32_t start = Mux::milliseconds();
    pool.due = start + 3000;
    pool.timerHook();
    ASSERT_TRUE(SigTest::RunFor(10000));
    pool.timerUnhook();
    EXPECT_EQ(pool.ran, (std::vector<std::uint32_t>{start + 3000, start + 6000, start + 9000}));
}

} // namespace
