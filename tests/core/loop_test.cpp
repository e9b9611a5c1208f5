// The loop as a whole: run and stop, the hardware watchdog protocol, the
// poll time-out against timers and deferred calls, the hang guard and the
// status-dump table; the kernel's copy of the poll array.

#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "core/profile.hpp"

#include "tests/core/core_helper.hpp"

#include <cstdlib>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override { Mux::test::freeze(); }
    void TearDown() override { Mux::test::thaw(); }
};

struct Stopper {
    Timer timer;
    bool fired = false;
    void OnStop()
    {
        fired = true;
        multiplexer.terminate();
    }
};

// With the clock in manual mode a pending timer keeps poll from blocking, so
// a loop that fails to stop ends here, in simulated time, instead of hanging.
struct Backstop : Stopper {
    Backstop() { timer.set(600000, &Stopper::OnStop, static_cast<Stopper*>(this)); }
};

struct Counter {
    int calls = 0;
    void On(int fd, short revents)
    {
        ++calls;
        if (revents & POLLIN) {
            char buf[16];
            while (::read(fd, buf, sizeof buf) > 0) {}
        }
    }
};

TEST_F(LoopTest, WatchdogGetsStartPingEverySecondAndStop)
{
    TempRoot root;
    root.mkdirs("dev/misc");
    root.write("dev/misc/gw-wd", "");

    // Only a silent descriptor and one timer 3500 ms ahead: the watchdog
    // clamp wakes the loop every 1000 ms of (simulated) time.
    TestPipe idle;
    Counter c;
    Event ev;
    ev.Bind("idle", &Counter::On, &c);
    ev.Schedule(idle.rd.fd(), POLLIN);
    Stopper stop;
    stop.timer.set(3500, &Stopper::OnStop, &stop);

    const std::uint32_t t0 = Mux::milliseconds();
    testing::internal::CaptureStderr();
    multiplexer.run(true, true);
    EXPECT_EQ("Mux: terminating...\n", testing::internal::GetCapturedStderr());

    // Pings at 1000, 2000 and 3000 ms; the timer stops the loop at 3500 ms,
    // in that pass, without waiting out another second.
    EXPECT_EQ("STARTPINGPINGPINGSTOP", root.read("dev/misc/gw-wd"));
    EXPECT_EQ(t0 + 3500, Mux::milliseconds());
    EXPECT_FALSE(multiplexer.watchdog_open());
    ev.Release();
}

TEST_F(LoopTest, MissingWatchdogIsReportedAndTheLoopRunsWithout)
{
    TempRoot root; // no dev/misc/gw-wd below it
    Stopper stop;
    stop.timer.set(5000, &Stopper::OnStop, &stop);
    testing::internal::CaptureStderr();
    multiplexer.run(true, true);
    EXPECT_EQ("Mux: fail to open watchdog: No such file or directory\nMux: terminating...\n",
              testing::internal::GetCapturedStderr());
    EXPECT_FALSE(root.exists("dev/misc/gw-wd"));
}

// Arms a 0 ms timer from a deferred call: in the timer step of the first
// pass (wait 0) or just before poll (the second sweep of the pass).
struct LateArmer {
    Dpc dpc;
    Timer timer;
    int sweeps = 0;
    int arm_on_sweep = 1;
    bool fired = false;
    void OnSweep()
    {
        if (++sweeps == arm_on_sweep)
            timer.set(0, &LateArmer::OnFire, this);
    }
    void OnFire()
    {
        fired = true;
        dpc.Deactivate();
        multiplexer.terminate();
    }
};

TEST_F(LoopTest, TimerArmedByADeferredCallBoundsThePollTimeOut)
{
    // No descriptor at all: a pass that ignored the new timer would find
    // nothing to wait for and abort with "system hang detected".
    for (int sweep : {1, 2}) {
        LateArmer armer;
        armer.arm_on_sweep = sweep;
        armer.dpc.Bind(&armer, &LateArmer::OnSweep);
        armer.dpc.Activate();
        testing::internal::CaptureStderr();
        multiplexer.run(false, true);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(armer.fired) << "armed on sweep " << sweep;
        EXPECT_EQ(2, armer.sweeps) << "fired in the timer step of the second pass";
    }
}

// Registers or drops descriptors just before poll (second sweep of a pass).
struct LateRegistrar {
    Dpc dpc;
    int sweeps = 0;
    std::function<void()> on_second_sweep;
    void OnSweep()
    {
        if (++sweeps == 2 && on_second_sweep)
            on_second_sweep();
    }
};

TEST_F(LoopTest, DescriptorDroppedJustBeforePollNeverGetsAnothersEvents)
{
    std::vector<std::string> log;
    struct Named {
        std::vector<std::string>* log;
        std::string name;
        void On(int, short revents) { log->push_back(name + ((revents & POLLIN) ? ":in" : ":0")); }
    };
    TestPipe pa, pb, pc;
    Named na{&log, "a"}, nb{&log, "b"}, nc{&log, "c"};
    Event ea, eb;
    auto ec = std::make_unique<Event>();
    ea.Bind("a", &Named::On, &na);
    eb.Bind("b", &Named::On, &nb);
    ec->Bind("c", &Named::On, &nc);
    ea.Schedule(pa.rd.fd(), POLLIN);
    ec->Schedule(pc.rd.fd(), POLLIN);
    eb.Schedule(pb.rd.fd(), POLLIN);
    Mux::test::run_once(); // all now polled in the order a, c, b

    // a is released and c destroyed after their poll entries were filled.
    LateRegistrar late;
    late.dpc.Bind(&late, &LateRegistrar::OnSweep);
    late.on_second_sweep = [&] {
        ea.Release();
        ec.reset();
    };
    late.dpc.Activate();
    pb.put();
    pa.put();
    pc.put();
    Mux::test::run_once();
    EXPECT_EQ((std::vector<std::string>{"b:in"}), log) << "b gets b's events; a and c, dropped, get nothing";

    late.dpc.Deactivate();
    eb.Release();
}

struct StopInDispatch {
    std::vector<std::string>* log;
    std::string name;
    bool stop = false;
    void On(int fd, short revents)
    {
        log->push_back(name);
        if (revents & POLLIN) {
            char buf[16];
            while (::read(fd, buf, sizeof buf) > 0) {}
        }
        if (stop)
            multiplexer.terminate();
    }
};

TEST_F(LoopTest, DescriptorRegisteredJustBeforePollDoesNotLetThePassBlock)
{
    std::vector<std::string> log;
    TestPipe p;
    p.put();
    StopInDispatch late{&log, "late", true};
    Event ev;
    ev.Bind("late", &StopInDispatch::On, &late);
    LateRegistrar reg;
    reg.dpc.Bind(&reg, &LateRegistrar::OnSweep);
    reg.on_second_sweep = [&] { ev.Schedule(p.rd.fd(), POLLIN); };
    reg.dpc.Activate();
    // Nothing is registered when the first pass starts: unless the pass
    // notices the newcomer it has nothing to wait for and aborts as a hang.
    testing::internal::CaptureStderr();
    multiplexer.run(false, true);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ((std::vector<std::string>{"late"}), log);
    reg.dpc.Deactivate();
    ev.Release();
}

TEST_F(LoopTest, StopDuringDispatchLeavesTheRestRegisteredAndPolledByTheNextRun)
{
    std::vector<std::string> log;
    TestPipe pa, pb;
    StopInDispatch a{&log, "a", true}, b{&log, "b"};
    Event ea, eb;
    ea.Bind("a", &StopInDispatch::On, &a);
    eb.Bind("b", &StopInDispatch::On, &b);
    ea.Schedule(pa.rd.fd(), POLLIN);
    eb.Schedule(pb.rd.fd(), POLLIN);
    pa.put();
    pb.put();

    Backstop backstop;
    testing::internal::CaptureStderr();
    multiplexer.run(false, true);
    EXPECT_EQ("Mux: terminating...\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ((std::vector<std::string>{"a"}), log) << "b is not served after the stop";
    EXPECT_EQ(2u, multiplexer.event_count());

    // The next run polls b again (its byte is still waiting) as well as a.
    log.clear();
    a.stop = false;
    b.stop = true;
    testing::internal::CaptureStderr();
    multiplexer.run(false, true);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), log);
    EXPECT_FALSE(backstop.fired) << "b was never polled again";
    ea.Release();
    eb.Release();
}

TEST_F(LoopTest, StopRequestedBeforeRunIsNotLost)
{
    TestPipe p;
    Counter c;
    Event ev;
    ev.Bind("never", &Counter::On, &c);
    ev.Schedule(p.rd.fd(), POLLIN);
    Backstop backstop;
    multiplexer.terminate(); // e.g. SIGTERM during start-up
    testing::internal::CaptureStderr();
    multiplexer.run(false, true);
    EXPECT_EQ("Mux: terminating...\n", testing::internal::GetCapturedStderr());
    EXPECT_FALSE(backstop.fired) << "the stop was lost";
    EXPECT_FALSE(multiplexer.stopping()) << "consumed: a later run runs";
    ev.Release();
}

TEST_F(LoopTest, NothingToWaitForAbortsAsAHang)
{
    EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
}

TEST_F(LoopTest, LongWaitIsReportedAndEveryTimerMovedToOneSecond)
{
    struct Fired {
        int n = 0;
        Timer a, b;
        void On() { ++n; }
    } f;
    f.a.set(7200001, &Fired::On, &f);
    f.b.set(7300000, &Fired::On, &f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(1000, multiplexer.timers_schedule());
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string now = std::to_string(Mux::milliseconds());
    EXPECT_EQ("******** RUNTIME ERROR CONDITION *************Multiplexer::timers_schedule() "
              "invalid wait time detected!\nnow = " +
                  now + "\nfirst = " + std::to_string(Mux::milliseconds() + 7200001) + "\ncount = 2\n",
              err);
    Mux::test::advance(1000);
    EXPECT_EQ(2, f.n);
}

TEST_F(LoopTest, StatusDumpListsMeasuresProfilePointsAndEvents)
{
    TestPipe p;
    Counter c;
    Event bound, unbound;
    bound.Bind("ChildWaitService::OnChildEvent", &Counter::On, &c);
    bound.Schedule(p.rd.fd(), POLLIN);
    unbound.Schedule(p.wr.fd(), POLLOUT | POLLERR);
    Mux::test::run_once(); // both move to the active list

    Profile::Point point("dump-point");
    std::ostringstream os;
    multiplexer.dump(os);
    const std::string text = os.str();

    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(0u, line.find("dpc transition measurement (min/max/cur/counter): min="));
    std::getline(lines, line);
    EXPECT_EQ(0u, line.find("event transition measurement (min/max/cur/counter): min="));
    std::getline(lines, line);
    EXPECT_EQ(0u, line.find("timer transition measurement (min/max/cur/counter): min="));
    std::getline(lines, line);
    EXPECT_EQ("[dump-point]: min=0 max=0 avg=0 counter=0", line);

    const std::string rule = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" +
                             std::string(10, '-') + "+" + std::string(10, '-') + "+" + std::string(5, '-') +
                             "+" + std::string(60, '-') + "+";
    std::getline(lines, line);
    EXPECT_EQ(rule, line);
    std::getline(lines, line);
    auto cell = [](const std::string& text, std::size_t w) {
        return "|" + std::string((w - text.size()) / 2, ' ') + text +
               std::string((w - text.size() + 1) / 2, ' ');
    };
    EXPECT_EQ(cell("name", 40) + cell("events", 30) + cell("count", 10) + cell("handler", 10) +
                  cell("fd", 5) + cell("measure", 60) + "|",
              line);
    std::getline(lines, line);
    EXPECT_EQ(rule, line);
    std::getline(lines, line);
    const std::string fd = std::to_string(bound.fd().get());
    EXPECT_EQ(0u, line.find(cell("ChildWaitService::OnChildEvent", 40) + cell("POLLIN", 30) + cell("0", 10) +
                            cell("attached", 10) + cell(fd, 5)));
    EXPECT_NE(std::string::npos, line.find("min=0 max=0 avg=0 counter=0"));
    std::getline(lines, line);
    EXPECT_NE(std::string::npos, line.find("|" + std::string(16, ' ') + "Unknown"));
    EXPECT_NE(std::string::npos, line.find("POLLOUT|POLLERR"));
    EXPECT_NE(std::string::npos, line.find("unattached"));
    std::getline(lines, line);
    EXPECT_EQ(rule, line);
    EXPECT_FALSE(std::getline(lines, line));

    bound.Release();
    unbound.Release();
}

TEST(PollEventText, BitsInOrderWithoutTheLeadingBar)
{
    EXPECT_EQ("", PollEventAsText(0));
    EXPECT_EQ("POLLIN", PollEventAsText(1));
    EXPECT_EQ("POLLIN|POLLOUT|POLLHUP|POLLMSG", PollEventAsText(1 | 4 | 16 | 1024));
    EXPECT_EQ("POLLPRI|POLLERR|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|POLLWRBAND",
              PollEventAsText(2 | 8 | 32 | 64 | 128 | 256 | 512));
}

struct Plugin : TimerPoolPlugin {
    int wait = -1;
    Plugin* drop = nullptr;
    int polled = 0;
    int poll_wait() override
    {
        ++polled;
        if (drop != nullptr)
            drop->timerUnhook();
        return wait;
    }
};

TEST(TimerPlugins, ShortestWaitAndUnhookDuringAPass)
{
    Plugin a, b, c;
    a.wait = 300;
    b.wait = 0;
    c.wait = 50;
    a.timerHook();
    b.timerHook();
    a.timerHook(); // hooked once only
    EXPECT_EQ(2u, multiplexer.plugin_count());
    EXPECT_EQ(0, multiplexer.timerPoll_schedule()) << "a wait of 0 is a wait";
    b.timerUnhook();
    c.timerHook();
    a.drop = &c; // c leaves before its turn
    EXPECT_EQ(300, multiplexer.timerPoll_schedule());
    EXPECT_EQ(0, c.polled);
    EXPECT_EQ(1u, multiplexer.plugin_count());
}

// The loop hands its poll array to the kernel once (epoll) and waits on that
// copy: handlers must still see exactly what poll(2) on the array would show
// them, whatever they do to their descriptors between passes.

struct Seen {
    std::vector<short> revents;
    void On(int, short r) { revents.push_back(r); }
};

// A handler that fills its entry from plain fields, so that a test can
// change descriptor and events between passes without leaving the loop.
struct Raw : EventHandler {
    int fd = -1;
    short events = POLLIN;
    std::vector<short> seen;
    ~Raw() override { mux_detach(); }
    void shedule_event(pollfd& e) override
    {
        e.fd = fd;
        e.events = events;
        e.revents = 0;
    }
    void svc_event(short r) override { seen.push_back(r); }
};

TEST_F(LoopTest, ANumberReusedAfterALeaveGetsOnlyItsOwnFilesEvents)
{
    TestPipe full, empty;
    full.put();
    Seen a, b;
    Event first;
    first.Bind("first", &Seen::On, &a);
    first.Schedule(full.rd.fd(), POLLIN);
    Mux::test::run_once();
    ASSERT_EQ(a.revents, std::vector<short>{POLLIN});

    // The pipe stays readable through full.rd; the number of the event's
    // own duplicate goes to the next event.
    const int number = first.fd().get();
    first.Release();
    Event second;
    second.Bind("second", &Seen::On, &b);
    second.Schedule(empty.rd.fd(), POLLIN);
    ASSERT_EQ(second.fd().get(), number);
    Mux::test::run_once();
    EXPECT_TRUE(b.revents.empty());
    EXPECT_EQ(a.revents.size(), 1u);

    empty.put();
    Mux::test::run_once();
    EXPECT_EQ(b.revents, std::vector<short>{POLLIN});
    second.Release();
}

TEST_F(LoopTest, EventsAndDescriptorsChangedInPlaceAreFollowed)
{
    TestPipe p, q;
    Raw h;
    h.fd = p.wr.get();
    h.events = POLLIN;
    h.mux_attach();
    Mux::test::run_once(); // nothing to read on a write end: no dispatch at all
    EXPECT_TRUE(h.seen.empty());

    h.events = POLLOUT;
    Mux::test::run_once();
    EXPECT_EQ(h.seen, std::vector<short>{POLLOUT});

    // Swapped for a readable descriptor without leaving: the old one no
    // longer wakes the loop, the new one does.
    q.put();
    h.fd = q.rd.get();
    h.events = POLLIN;
    h.seen.clear();
    Mux::test::run_once();
    EXPECT_EQ(h.seen, std::vector<short>{POLLIN});
    q.drain();
    h.seen.clear();
    Mux::test::run_once();
    EXPECT_TRUE(h.seen.empty());
    h.mux_detach();
}

TEST_F(LoopTest, DescriptorsEpollRefusesAreAnsweredAsPollAnswersThem)
{
    // A regular file: epoll refuses it, poll calls it always ready.
    char path[] = "/tmp/gw-kernel-set-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    ::unlink(path);
    TestPipe p;
    Seen f, s;
    Event onFile, onPipe;
    onFile.Bind("file", &Seen::On, &f);
    onPipe.Bind("pipe", &Seen::On, &s);
    onFile.Schedule(Fd{file}, POLLIN);
    onPipe.Schedule(p.rd.fd(), POLLIN);
    ::close(file);
    p.put();
    Mux::test::run_once();
    EXPECT_EQ(f.revents, std::vector<short>{POLLIN});
    EXPECT_EQ(s.revents, std::vector<short>{POLLIN});

    // Without the file the pipe is waited for through the kernel's set again.
    onFile.Release();
    p.drain();
    s.revents.clear();
    Mux::test::run_once();
    EXPECT_TRUE(s.revents.empty());
    p.put();
    Mux::test::run_once();
    EXPECT_EQ(s.revents, std::vector<short>{POLLIN});
    onPipe.Release();
}

TEST_F(LoopTest, AForkedChildLeavingTheLoopLeavesItsParentsSetAlone)
{
    TestPipe p;
    Seen s;
    Event ev;
    ev.Bind("pipe", &Seen::On, &s);
    ev.Schedule(p.rd.fd(), POLLIN);
    Mux::test::run_once();

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ev.Release();
        std::_Exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    p.put();
    Mux::test::run_once();
    EXPECT_EQ(s.revents, std::vector<short>{POLLIN});
    ev.Release();
}

} // namespace
