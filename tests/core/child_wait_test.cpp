// Child exits travel from SIGCHLD through the loop to their waiters.

#include "core/child_wait.hpp"
#include "core/clock.hpp"
#include "core/multiplexer.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Recorder {
    std::vector<int> statuses;
    void OnExit(int status) { statuses.push_back(status); }
};

// Children that wait for the release pipe to close, then exit with `code`.
class Children {
public:
    Children()
    {
        int p[2];
        EXPECT_EQ(0, ::pipe2(p, O_CLOEXEC));
        rd_ = p[0];
        wr_ = p[1];
    }
    ~Children()
    {
        Release();
        if (rd_ >= 0)
            ::close(rd_);
    }
    int Spawn(int code)
    {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(wr_);
            char c;
            while (::read(rd_, &c, 1) < 0 && errno == EINTR) {}
            ::_exit(code);
        }
        return pid;
    }
    void Release()
    {
        if (wr_ >= 0)
            ::close(wr_);
        wr_ = -1;
    }

private:
    int rd_ = -1;
    int wr_ = -1;
};

class ChildWaitTest : public ::testing::Test {
protected:
    void SetUp() override { ChildWait::Activate(); }
    void TearDown() override
    {
        ChildWait::Deactivate();
        // Nothing may be left to reap: every child went through the loop.
        int status;
        EXPECT_EQ(-1, ::waitpid(-1, &status, WNOHANG));
        EXPECT_EQ(ECHILD, errno);
        EXPECT_EQ(0u, ChildWaitService::childWaitService->waiter_count());
    }

    // Runs loop passes until `done` or the pass budget is spent. Each pass
    // blocks in poll only until something is ready.
    template <class F>
    bool RunUntil(F done, int passes = 2000)
    {
        for (int i = 0; i < passes && !done(); ++i)
            Mux::test::run_once(1000);
        return done();
    }
};

TEST_F(ChildWaitTest, ExitReachesItsWaiterThroughTheLoop)
{
    Recorder r;
    ChildWait w;
    w.Bind(&r, &Recorder::OnExit);
    Children kids;
    w.Attach(kids.Spawn(7));
    EXPECT_TRUE(w.listed());
    kids.Release();

    ASSERT_TRUE(RunUntil([&] { return !r.statuses.empty(); }));
    ASSERT_EQ(1u, r.statuses.size());
    EXPECT_TRUE(WIFEXITED(r.statuses[0]));
    EXPECT_EQ(7, WEXITSTATUS(r.statuses[0]));
    EXPECT_FALSE(w.listed());
}

TEST_F(ChildWaitTest, ThreeHundredSimultaneousExitsLoseNothing)
{
    constexpr int kChildren = 300;
    Recorder r[kChildren];
    std::vector<std::unique_ptr<ChildWait>> waiters;
    Children kids;
    for (int i = 0; i < kChildren; ++i) {
        waiters.push_back(std::make_unique<ChildWait>());
        waiters.back()->Bind(&r[i], &Recorder::OnExit);
        int pid = kids.Spawn(i % 200);
        ASSERT_GT(pid, 0);
        waiters.back()->Attach(pid);
    }
    kids.Release(); // all of them end now

    int reported = 0;
    ASSERT_TRUE(RunUntil([&] {
        reported = 0;
        for (auto& rec : r)
            reported += static_cast<int>(rec.statuses.size());
        return reported == kChildren;
    })) << reported
        << " of " << kChildren << " exits reported";
    for (int i = 0; i < kChildren; ++i) {
        ASSERT_EQ(1u, r[i].statuses.size());
        EXPECT_EQ(i % 200, WEXITSTATUS(r[i].statuses[0]));
    }
}

TEST_F(ChildWaitTest, SignalHandlerNeverBlocksAndKeepsErrno)
{
    // Far more wake-ups than the socket pair holds, with the loop not
    // reading: a blocking write would hang right here.
    for (int i = 0; i < 100000; ++i) {
        errno = EDOM;
        ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr);
        ASSERT_EQ(EDOM, errno);
    }
    // And a child that ends while the channel is full is still reported.
    Recorder r;
    ChildWait w;
    w.Bind(&r, &Recorder::OnExit);
    Children kids;
    w.Attach(kids.Spawn(3));
    kids.Release();
    ASSERT_TRUE(RunUntil([&] { return !r.statuses.empty(); }));
    EXPECT_EQ(3, WEXITSTATUS(r.statuses[0]));
}

TEST_F(ChildWaitTest, UnwatchedOrDestroyedWaiterIsOnlyLogged)
{
    Children kids;
    Recorder r;
    auto w = std::make_unique<ChildWait>();
    w->Bind(&r, &Recorder::OnExit);
    int pid = kids.Spawn(1);
    w->Attach(pid);
    w.reset(); // destroyed before its child ends

    ChildWait never_bound; // its exit calls the do-nothing handler
    int pid2 = kids.Spawn(2);
    never_bound.Attach(pid2);

    ::testing::internal::CaptureStderr();
    kids.Release();
    bool gone = RunUntil([&] { return !never_bound.listed() && ::kill(pid, 0) < 0; });
    // One more pass in case the first child was reaped after the second.
    Mux::test::run_once(0);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(gone);
    EXPECT_TRUE(r.statuses.empty());
    EXPECT_NE(std::string::npos,
              log.find("terminate child process, pid=" + std::to_string(pid) + " status=256\n"))
        << log;
    EXPECT_NE(std::string::npos,
              log.find("terminate child process, pid=" + std::to_string(pid2) + " status=512\n"))
        << log;
}

TEST(ChildWait, AttachListsOnceAtTheTail)
{
    ChildWait a, b;
    a.Attach(100001);
    b.Attach(100002);
    a.Attach(100003); // again, new pid: moved to the tail, listed once
    ChildWaitService* svc = ChildWaitService::childWaitService;
    ASSERT_NE(nullptr, svc);
    EXPECT_EQ(2u, svc->waiter_count());
    EXPECT_EQ(100003, a.pid());
    a.Detach();
    a.Detach(); // not listed: nothing happens
    EXPECT_EQ(1u, svc->waiter_count());
    b.Detach();
}

// A handler may watch a new child with the same waiter.
struct Restarter {
    ChildWait w;
    int runs = 0;
    int second_pid = 0;
    void OnExit(int)
    {
        if (++runs == 1) {
            second_pid = ::fork();
            if (second_pid == 0)
                ::_exit(0);
            w.Attach(second_pid);
        }
    }
};

TEST_F(ChildWaitTest, HandlerMayAttachTheWaiterAgain)
{
    Restarter r;
    r.w.Bind(&r, &Restarter::OnExit);
    Children kids;
    r.w.Attach(kids.Spawn(0));
    kids.Release();
    ASSERT_TRUE(RunUntil([&] { return r.runs == 2; }));
    EXPECT_FALSE(r.w.listed());
}

} // namespace
