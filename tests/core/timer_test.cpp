// One-shot timers: order of firing, re-arming and cancelling from callbacks,
// ownership by the Timer holder, and the loop clock behind them.

#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "core/timer.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override { Mux::test::freeze(); }
    void TearDown() override { Mux::test::thaw(); }
};

// Records which of its timers fired, and when.
struct Recorder {
    Recorder(std::vector<std::string>* l, std::string n) : log(l), name(std::move(n)) {}
    std::vector<std::string>* log;
    std::string name;
    Timer timer;
    std::uint32_t start = Mux::milliseconds();

    void OnFire() { log->push_back(name + "@" + std::to_string(Mux::milliseconds() - start)); }
};

TEST_F(TimerTest, FireInExpiryOrderAndEqualExpiriesInArmingOrder)
{
    std::vector<std::string> log;
    Recorder a{&log, "a"}, b{&log, "b"}, c{&log, "c"}, d{&log, "d"};
    c.timer.set(300, &Recorder::OnFire, &c);
    a.timer.set(100, &Recorder::OnFire, &a);
    b.timer.set(100, &Recorder::OnFire, &b); // same millisecond as a: after a
    d.timer.set(200, &Recorder::OnFire, &d);
    EXPECT_EQ(4u, multiplexer.timer_count());

    Mux::test::advance(99);
    EXPECT_TRUE(log.empty());
    Mux::test::advance(1000);
    EXPECT_EQ((std::vector<std::string>{"a@100", "b@100", "d@200", "c@300"}), log);
    EXPECT_FALSE(a.timer) << "a fired timer leaves its holder empty";
    EXPECT_EQ(0u, multiplexer.timer_count());
}

// A periodic job: re-arms its own Timer from the callback, and stops by
// cancelling another job's timer and its own.
struct Periodic {
    Timer timer;
    int fired = 0;
    int stop_after = 3;
    std::vector<std::uint32_t> at;
    Timer* victim = nullptr;

    void OnTick(Timer* holder)
    {
        EXPECT_EQ(&timer, holder);
        EXPECT_FALSE(timer) << "the holder lets go before the action runs";
        at.push_back(Mux::milliseconds());
        if (++fired < stop_after) {
            timer.set(250, &Periodic::OnTick, this);
        } else if (victim != nullptr) {
            victim->reset(); // cancel a pending timer of someone else
        }
    }
};

TEST_F(TimerTest, RearmAndCancelFromInsideCallbacks)
{
    const std::uint32_t t0 = Mux::milliseconds();
    std::vector<std::string> log;
    Recorder late{&log, "late"};
    late.timer.set(900, &Recorder::OnFire, &late);

    Periodic p;
    p.victim = &late.timer;
    p.timer.set(250, &Periodic::OnTick, &p);

    Mux::test::advance(5000);
    EXPECT_EQ(3, p.fired);
    EXPECT_EQ((std::vector<std::uint32_t>{t0 + 250, t0 + 500, t0 + 750}), p.at);
    EXPECT_TRUE(log.empty()) << "cancelled at 750 ms, before its 900 ms expiry";
    EXPECT_EQ(0u, multiplexer.timer_count());
}

TEST_F(TimerTest, SettingTwiceFiresOnlyTheSecondAndDroppingTheHolderCancels)
{
    std::vector<std::string> log;
    Recorder r{&log, "r"};
    r.timer.set(100, &Recorder::OnFire, &r);
    TimerEvent* first = r.timer.get();
    r.timer.set(300, &Recorder::OnFire, &r);
    EXPECT_NE(first, r.timer.get());
    EXPECT_EQ(1u, multiplexer.timer_count());
    Mux::test::advance(400);
    EXPECT_EQ((std::vector<std::string>{"r@300"}), log);

    {
        Recorder gone{&log, "gone"};
        gone.timer.set(10, &Recorder::OnFire, &gone);
    }
    EXPECT_EQ(0u, multiplexer.timer_count());
    Mux::test::advance(100);
    EXPECT_EQ(1u, log.size());
}

struct ZeroRearm {
    Timer timer;
    int fired = 0;
    void OnFire()
    {
        if (++fired < 3)
            timer.set(0, &ZeroRearm::OnFire, this);
    }
};

TEST_F(TimerTest, ZeroDelayRearmFiresInTheSameSweepWhileTheClockStands)
{
    ZeroRearm z;
    z.timer.set(0, &ZeroRearm::OnFire, &z);
    multiplexer.timers_schedule();
    EXPECT_EQ(3, z.fired);
}

TEST_F(TimerTest, ExpiriesCompareAcrossTheWrapOfTheMillisecondClock)
{
    // 5 ms before the 32-bit millisecond counter wraps.
    Mux::test::freeze_at((std::uint64_t{1} << 32) * 1000u - 5000u);
    const std::uint32_t before = Mux::milliseconds();
    EXPECT_EQ(0xFFFFFFFBu, before);
    std::vector<std::string> log;
    Recorder a{&log, "a"}, b{&log, "b"};
    b.timer.set(20, &Recorder::OnFire, &b); // expires after the wrap
    a.timer.set(2, &Recorder::OnFire, &a);  // before it
    Mux::test::advance(30);
    EXPECT_EQ((std::vector<std::string>{"a@2", "b@20"}), log);
}

struct Spec3s {
    Timer update;
    int fired = 0;
    void OnUpdateTimer() { ++fired; }
    static constexpr TimerSpec<Spec3s>::Spec TUpdatespec{&Spec3s::update, &Spec3s::OnUpdateTimer, 3000};
};

TEST_F(TimerTest, SpecTimerArmsFromAConstant)
{
    Spec3s s;
    TimerSpec<Spec3s>::SpecTimer<Spec3s::TUpdatespec>::set(&s);
    Mux::test::advance(2999);
    EXPECT_EQ(0, s.fired);
    Mux::test::advance(1);
    EXPECT_EQ(1, s.fired);
}

int g_simple_fired = 0;
void SimpleAction()
{
    ++g_simple_fired;
}

TEST_F(TimerTest, SimpleEventCallsAPlainFunction)
{
    Timer t;
    new SimpleTimerEvent1(&t, SimpleAction, 10);
    Mux::test::advance(10);
    EXPECT_EQ(1, g_simple_fired);
    EXPECT_FALSE(t);
}

TEST(LoopClock, FrozenClockStandsUntilMoved)
{
    Mux::test::freeze_at(10000000);
    EXPECT_EQ(10000u, Mux::milliseconds());
    EXPECT_EQ(10000000u, Mux::microseconds());
    EXPECT_EQ(10, Mux::seconds());
    Mux::test::step(1500);
    EXPECT_EQ(11500u, Mux::milliseconds());
    Mux::test::thaw();
    EXPECT_FALSE(Mux::test::manual());
}

TEST(TimeValues, ArithmeticComparisonAndText)
{
    Mux::timeval a{1, 0};
    Mux::timevalsub(a, Mux::timeval{0, 1});
    EXPECT_EQ(0, a.tv_sec);
    EXPECT_EQ(999999, a.tv_usec);
    Mux::timevaladd(a, Mux::timeval{0, 2});
    EXPECT_EQ(1, a.tv_sec);
    EXPECT_EQ(1, a.tv_usec);

    Mux::timeval t;
    Mux::timevalset(t, 12345);
    EXPECT_EQ(12, t.tv_sec);
    EXPECT_EQ(345000, t.tv_usec);
    EXPECT_EQ(0u, Mux::timevaldiff(Mux::timeval{5, 0}, Mux::timeval{4, 999999}));
    EXPECT_EQ(1500u, Mux::timevaldiff(Mux::timeval{4, 800000}, Mux::timeval{6, 300000}));
    EXPECT_EQ(-1, Mux::timevalcompare(Mux::timeval{1, 5}, Mux::timeval{1, 6}));
    EXPECT_EQ(1, Mux::timevalcompare(Mux::timeval{2, 0}, Mux::timeval{1, 999999}));
    EXPECT_EQ(0, Mux::timevalcompare(t, t));
    EXPECT_EQ(3, Mux::make_from_usec(3500000).tv_sec);
    EXPECT_EQ(500000, Mux::make_from_usec(3500000).tv_usec);
    EXPECT_EQ(250000, Mux::make_from_msec(1250).tv_usec);

    Mux::timeval_timer tt;
    tt.init(Mux::timeval{10, 0}, 100);
    EXPECT_FALSE(tt.is_expired(Mux::timeval{10, 100000}));
    EXPECT_TRUE(tt.is_expired(Mux::timeval{10, 101000}));
    tt.inc();
    EXPECT_EQ(100000, tt.start.tv_usec);
    tt.init(Mux::timeval{10, 0}, 0);
    EXPECT_FALSE(tt.is_expired(Mux::timeval{99, 0})) << "a period below 1 never expires";

    const std::string text = Mux::timevaltostring(Mux::timeval{0, 42});
    ASSERT_EQ(26u, text.size()); // "YYYY-MM-DD HH:MM:SS.000042"
    EXPECT_EQ(".000042", text.substr(19));
}

} // namespace
