// The loop hands its poll array to the kernel once (epoll) and waits on that
// copy: handlers must still see exactly what poll(2) on the array would show
// them, whatever they do to their descriptors between passes.

#include "core/clock.hpp"
#include "core/multiplexer.hpp"

#include "tests/core/core_helper.hpp"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class KernelSetTest : public ::testing::Test {
protected:
    void SetUp() override { Mux::test::freeze(); }
    void TearDown() override { Mux::test::thaw(); }
};

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

TEST_F(KernelSetTest, ANumberReusedAfterALeaveGetsOnlyItsOwnFilesEvents)
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

TEST_F(KernelSetTest, EventsAndDescriptorsChangedInPlaceAreFollowed)
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

TEST_F(KernelSetTest, DescriptorsEpollRefusesAreAnsweredAsPollAnswersThem)
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

TEST_F(KernelSetTest, AForkedChildLeavingTheLoopLeavesItsParentsSetAlone)
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
