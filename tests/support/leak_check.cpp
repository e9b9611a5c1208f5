#include "support/leak_check.hpp"

#include "core/accept_pause.hpp"
#include "core/clock.hpp"
#include "core/inet.hpp"
#include "core/multiplexer.hpp"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct LeakCheck {
    std::function<std::string()> check;
    std::function<void()> before;
};

std::vector<LeakCheck>& checks()
{
    static std::vector<LeakCheck> list;
    return list;
}

class LeakListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        for (auto& c : checks())
            if (c.before)
                c.before();
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        for (auto& c : checks()) {
            std::string what = c.check();
            EXPECT_TRUE(what.empty()) << "leak after test: " << what;
        }
    }
};

std::set<int> open_fds()
{
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return fds;
    const int own = ::dirfd(dir);
    while (struct dirent* e = ::readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        const int fd = std::stoi(e->d_name);
        if (fd != own)
            fds.insert(fd);
    }
    ::closedir(dir);
    return fds;
}

std::set<int> g_fd_baseline;

std::string fd_leaks()
{
    std::ostringstream out;
    for (int fd : open_fds()) {
        if (g_fd_baseline.count(fd) != 0 || fd == Net::interface_socket_descriptor() ||
            fd == AcceptPause::spare())
            continue;
        char target[256] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        out << "descriptor " << fd << " (" << (n > 0 ? target : "?") << ") left open; ";
    }
    return out.str();
}

std::string loop_leaks()
{
    std::ostringstream out;
    if (multiplexer.event_count() != 0)
        out << multiplexer.event_count() << " descriptor event(s) registered; ";
    if (multiplexer.timer_count() != 0)
        out << multiplexer.timer_count() << " timer(s) armed; ";
    if (multiplexer.dpc_count() != 0)
        out << multiplexer.dpc_count() << " deferred call(s) active; ";
    if (multiplexer.plugin_count() != 0)
        out << multiplexer.plugin_count() << " timer plugin(s) hooked; ";
    if (multiplexer.watchdog_open())
        out << "watchdog left open; ";
    if (multiplexer.stopping())
        out << "stop request left pending; ";
    // Not a leak: a test that took the loop clock over gives it back here.
    Mux::test::thaw();
    return out.str();
}

struct Child {
    int pid;
    char state;
    std::string name; // "pid (command)"
};

// Every child of this program: the state letter of /proc/<pid>/stat.
std::vector<Child> Children()
{
    std::vector<Child> out;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return out;
    pid_t const self = ::getpid();
    while (struct dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        // Plain reads: a process of another test may end between readdir
        // and here, and the stream buffer would throw on that read error.
        std::string stat;
        int const fd = ::open((std::string("/proc/") + e->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char buf[4096];
            ssize_t const n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                stat.assign(buf, static_cast<std::size_t>(n));
            ::close(fd);
        }
        std::size_t const paren = stat.rfind(')');
        if (paren == std::string::npos)
            continue;
        char state = 0;
        long ppid = 0;
        std::istringstream rest(stat.substr(paren + 1));
        rest >> state >> ppid;
        if (ppid == self)
            out.push_back(Child{std::atoi(e->d_name), state, stat.substr(0, paren + 1)});
    }
    ::closedir(proc);
    return out;
}

} // namespace

std::vector<int> RunningChildren()
{
    std::vector<int> pids;
    for (Child const& c : Children())
        if (c.state != 'Z' && c.state != 'X')
            pids.push_back(c.pid);
    return pids;
}

// A server that turns into a daemon comes back to an end-to-end test as a
// child (the test is its subreaper), so nothing a test started escapes this.
std::string LeftChildProcesses()
{
    std::ostringstream out;
    for (Child const& c : Children()) {
        if (c.state != 'Z') {
            out << "process " << c.name << " left running; ";
            ::kill(c.pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(c.pid, &status, 0);
    }
    return out.str();
}

void AddLeakCheck(std::function<std::string()> check, std::function<void()> before)
{
    checks().push_back(LeakCheck{std::move(check), std::move(before)});
}

void InstallLeakChecks()
{
    AddLeakCheck(loop_leaks);
    AddLeakCheck(fd_leaks, [] { g_fd_baseline = open_fds(); });
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeakListener);
}
