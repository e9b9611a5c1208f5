// A step of the wall clock (an operator's `date`, an NTP jump) must not move
// the loop's timers. The loop runs live in a child process under libfaketime,
// and the child steps its own wall clock by rewriting faketime's timestamp
// file while its timers are pending; CLOCK_MONOTONIC stays the real one
// (FAKETIME_DONT_FAKE_MONOTONIC=1), which is how the child tells when each
// timer fired.

#include "core/multiplexer.hpp"
#include "core/timer.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

const char* const kStepFile = "GW_TEST_WALLCLOCK_FILE";

std::int64_t MonotonicMs()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t WallSeconds()
{
    timeval tv;
    ::gettimeofday(&tv, nullptr);
    return tv.tv_sec;
}

// Runs in the child: two timers pending across a step of two hours forward
// and then of four hours back.
struct Steps {
    std::string file;
    std::int64_t start = MonotonicMs();
    std::int64_t forward = 0, back = 0;
    std::int64_t fired[2] = {-1, -1};
    Timer step_forward, step_back, first, second;

    std::int64_t Step(const char* offset)
    {
        std::int64_t before = WallSeconds();
        std::ofstream(file) << offset << '\n';
        return WallSeconds() - before;
    }
    void OnForward() { forward = Step("+7200"); }
    void OnBack() { back = Step("-7200"); }
    void OnFirst() { fired[0] = MonotonicMs() - start; }
    void OnSecond()
    {
        fired[1] = MonotonicMs() - start;
        multiplexer.terminate();
    }
};

void RunSteps(const char* file)
{
    Steps s;
    s.file = file;
    s.first.set(300, &Steps::OnFirst, &s);
    s.second.set(700, &Steps::OnSecond, &s);
    s.step_forward.set(100, &Steps::OnForward, &s);
    s.step_back.set(200, &Steps::OnBack, &s);
    multiplexer.run(false, true);
    // The steps happened, so the timers below lived through them.
    EXPECT_GE(s.forward, 7000);
    EXPECT_LE(s.back, -14000);
    // Not early, and not held up by the four hours the wall clock went back.
    EXPECT_GE(s.fired[0], 300);
    EXPECT_LT(s.fired[0], 300 + 30000);
    EXPECT_GE(s.fired[1], 700);
    EXPECT_LT(s.fired[1], 700 + 30000);
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(LoopClock, WallClockStepsMoveNoTimer)
{
    if (const char* file = std::getenv(kStepFile)) {
        RunSteps(file);
        return;
    }
    const std::string library = E2E::FakeTimeLibrary();
    ASSERT_FALSE(library.empty()) << "libfaketime is missing (scripts/deps.sh installs faketime)";
    char dir[] = "/tmp/gw-wallclock-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/faketimerc";
    const std::string output = std::string(dir) + "/output";
    std::ofstream(file) << "+0\n";

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FILE* out = std::freopen(output.c_str(), "w", stdout);
        if (out == nullptr || ::dup2(::fileno(out), 2) < 0)
            ::_exit(126);
        ::setenv(kStepFile, file.c_str(), 1);
        ::setenv("LD_PRELOAD", library.c_str(), 1);
        ::setenv("FAKETIME_TIMESTAMP_FILE", file.c_str(), 1);
        ::setenv("FAKETIME_NO_CACHE", "1", 1);
        ::setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
        ::unsetenv("FAKETIME");
        // libfaketime is preloaded ahead of the sanitizer runtime.
        std::string asan = "verify_asan_link_order=0";
        if (const char* o = std::getenv("ASAN_OPTIONS"))
            asan = std::string(o) + ":" + asan;
        ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
        ::execl("/proc/self/exe", "wallclock-child", "--gtest_filter=LoopClock.WallClockStepsMoveNoTimer",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // A loop that followed the wall clock would wait four hours: bounded.
    int status = -1;
    bool ended = false;
    for (int i = 0; i < 9000 && !ended; ++i) {
        ended = ::waitpid(child, &status, WNOHANG) == child;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    const std::string text = Slurp(output);
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    EXPECT_TRUE(ended) << "a timer was held up by the wall clock\n" << text;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    EXPECT_NE(text.find("[  PASSED  ] 1 test."), std::string::npos) << text;
}
