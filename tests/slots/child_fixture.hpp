#pragma once

// The fixture of slot kinds that start child programs: the stand-ins of
// standins/ installed below a GW_ROOT of the test's own, the child-exit
// service on the loop, and helpers that wait for what other processes bring
// about. After the slots have gone (and stopped their programs), no child
// may be left.

#include "slots_fixture.hpp"
#include "standins.hpp"

#include "core/child_wait.hpp"
#include "core/multiplexer.hpp"
#include "core/process.hpp"
#include "support/leak_check.hpp"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace SlotsTest {

// A spawner whose forks all fail.
struct NoFork : ChildSpawner {
    pid_t Start(ChildProgram const&) override
    {
        errno = EAGAIN;
        return -1;
    }
};

// The value of the first abort signal; -1 when none came.
inline int AbortCode(std::vector<Received> const& all)
{
    for (auto const& m : all)
        if (m.kind == Received::Signal && m.signal.is_abort())
            return m.signal.get_abort().getValue();
    return -1;
}

inline bool HasAbort(std::vector<Received> const& all)
{
    return AbortCode(all) != -1;
}

class ChildFixture : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        char dir[] = "/tmp/gw-child-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        root_ = dir;
        Standins::Install(root_);
        ::setenv("GW_ROOT", root_.c_str(), 1);
        ::setenv("STANDIN_LOG", Log().c_str(), 1);
        Mode("hup-exit");
        ChildWait::Activate();
    }
    void TearDown() override
    {
        ChildWait::Deactivate();
        BeforeSlotsGo();
        Fixture::TearDown(); // the slots go, and stop their programs
        AfterSlotsGo();
        // Stopped programs take a moment to end; then nothing may be left.
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!RunningChildren().empty() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(LeftChildProcesses(), "");
        for (char const* v : {"GW_ROOT", "STANDIN_LOG", "STANDIN_MODE", "STANDIN_INSTANCES"})
            ::unsetenv(v);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    virtual void BeforeSlotsGo() {}
    virtual void AfterSlotsGo() {}

    static void Mode(char const* mode) { ::setenv("STANDIN_MODE", mode, 1); }
    std::string Log() const { return root_ + "/standin.log"; }
    std::string Root(std::string const& path) const { return root_ + path; }
    std::vector<Standins::Run> Runs() const { return Standins::Read(Log()); }

    // Waits for something another process brings about (a program's start
    // or end), running the loop meanwhile; timers do not move.
    static bool Until(std::function<bool()> const& done)
    {
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            Mux::test::run_once(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool Started(std::size_t n) const
    {
        return Until([&] { return Runs().size() >= n; });
    }
    // Everything the host receives until `done` holds for it.
    std::vector<Received> ReceiveUntil(std::function<bool(std::vector<Received> const&)> const& done)
    {
        std::vector<Received> all;
        Until([&] {
            auto more = host().Take();
            all.insert(all.end(), more.begin(), more.end());
            return done(all);
        });
        return all;
    }

    std::string root_;
};

} // namespace SlotsTest
