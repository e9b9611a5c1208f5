// build/server as a process: command line, signals, pid file, status dump,
// trace switches, daemon mode with its system-log records.

#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <arpa/inet.h>
#include <cctype>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <netinet/in.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using E2E::Eventually;
using E2E::ServerProcess;

const std::string kVersion = "R250710-1941";

const std::string kUsage = "Usage:\n"
                           " marvolen -Dh\n"
                           "  -D --daemon                      run as daemon\n"
                           "  -p --port                        use this port\n"
                           "     --disable-clock               disable clock control\n"
                           "     --version                     print version\n"
                           "  -h --help                        display this information\n"
                           "\n";

// Ended: no such process, or a zombie waiting for whoever adopted it.
bool Gone(int pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t paren = stat.rfind(')');
    return paren != std::string::npos && stat.size() > paren + 2 && stat[paren + 2] == 'Z';
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - status;
}

// Every entry below a server's root but its standard output and error: the
// inode (a file replaced whole gets another) and a file's text.
std::map<std::string, std::string> Tree(const std::string& root)
{
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        const std::string path = fs::relative(e.path(), root);
        if (path == "stdout" || path == "stderr")
            continue;
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        std::string& what = tree[path] = std::to_string(st.st_ino);
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(e.path());
            what.append(" ").append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return tree;
}

// A server that runs until the test stops it: started, pid file written.
class Running : public ::testing::Test {
protected:
    // `port`: false leaves the server its default port.
    void Start(const std::vector<std::string>& args = {}, bool port = true)
    {
        server.Start({.args = args, .port = port});
        ASSERT_TRUE(Eventually([&] {
            return server.Read("var/run/server.pid") == std::to_string(server.pid());
        })) << server.Err();
    }
    void Stop()
    {
        server.Signal(SIGTERM);
        EXPECT_EQ(0, ExitCode(server.Wait())) << server.Err();
        EXPECT_FALSE(server.Exists("var/run/server.pid"));
    }
    ServerProcess server{E2E::Later{}};
};

TEST(ServerCommandLine, VersionPrintsTheTagAndExitsTwo)
{
    ServerProcess p({.args = {"--version"}, .port = false});
    EXPECT_EQ(2, ExitCode(p.Wait()));
    EXPECT_EQ("server version: " + kVersion + "\n", p.Out());
}

TEST(ServerCommandLine, HelpPrintsTheUsageAndExitsZero)
{
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"--version", "--help"}, {"-h", "-p", "1"}}) {
        ServerProcess p({.args = args, .port = false});
        EXPECT_EQ(0, ExitCode(p.Wait())) << args[0];
        EXPECT_EQ(kUsage, p.Out()) << args[0];
    }
}

TEST(ServerCommandLine, ShortPortIsAnUnknownOption)
{
    ServerProcess p({.args = {"-p", "5000"}, .port = false});
    EXPECT_EQ(2, ExitCode(p.Wait()));
    EXPECT_EQ(kUsage, p.Out());
    EXPECT_NE(std::string::npos, p.Err().find("invalid option -- 'p'")) << p.Err();
    EXPECT_FALSE(p.Exists("var/run/server.pid"));
}

// Refused rather than announced as given and bound as something else.
TEST(ServerCommandLine, PortThatIsNotAWholeNumberFrom1To65535IsRefused)
{
    for (std::string value :
         {"abc", "70000", "65536", "0", "", "-1", "+80", "80x", " 80", "99999999999999999999"}) {
        ServerProcess p({.args = {"--port", value}, .port = false});
        EXPECT_EQ(2, ExitCode(p.Wait())) << value;
        EXPECT_EQ(kUsage, p.Out()) << value;
        EXPECT_NE(std::string::npos, p.Err().find("invalid port '" + value + "'")) << p.Err();
        EXPECT_FALSE(p.Exists("var/run/server.pid")) << value;
    }
}

TEST_F(Running, LongPortIsAccepted)
{
    Start({"--port", "5000"}, false);
    EXPECT_TRUE(server.Printed("Starting server [" + kVersion + "], port=5000\n")) << server.Out();
    Stop();
}

TEST_F(Running, TermEndsWithStatusZeroAndRemovesThePidFile)
{
    server.Write("var/run/server.pid", "99999999"); // left by a crashed run
    Start({}, false);
    // The board's socket is named once it is served, before the banner.
    const std::string announced =
        "board control socket: " + server.Path("board.sock") + " (one request a line; \"help\" lists them)\n";
    const std::string banner = "Starting server [" + kVersion + "], port=20001\n";
    EXPECT_TRUE(Eventually([&] { return server.Out().size() >= announced.size() + banner.size(); }));
    EXPECT_EQ(announced + banner, server.Out());
    Stop();
    EXPECT_NE(std::string::npos, server.Err().find("Mux: terminating...")) << server.Err();
    // The simulated board has every device the server opens at start,
    // the watchdog too.
    EXPECT_EQ(std::string::npos, server.Err().find("fail")) << server.Err();
}

// A second server on the root of a running one, whatever its options,
// leaves everything there as it was: the pid file, the board's files and
// socket, the status files. One that would serve says who holds the root.
// The first one's root is bare, as a new folder is: the server makes the
// folders it writes into before it takes the root.
TEST_F(Running, ASecondServerOnTheSameRootLeavesTheFirstAlone)
{
    for (const char* made : {"var", "usr", "dev"})
        std::filesystem::remove_all(server.Path(made));
    Start();
    ASSERT_EQ("ok\n", server.Ask("files temperature 47"));
    ASSERT_EQ("ok\n", server.Ask("/dev/hal dip 5"));
    // Settled: the DIP polled, the controller checked once.
    std::map<std::string, std::string> before;
    ASSERT_TRUE(Eventually([&] {
        before = Tree(server.root());
        return before["var/monitoring/dip"].ends_with(" 5") &&
               std::any_of(before.begin(), before.end(), [](const auto& e) {
                   return e.first.starts_with("var/monitoring/controller/") && e.first.ends_with("/status") &&
                          !e.second.ends_with(" ");
               });
    }));
    const std::string held = "is held by a running server, pid " + std::to_string(server.pid()) + "\n";
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    for (const Case& c : std::vector<Case>{{{}, 1}, {{"--daemon"}, 1}, {{"--version"}, 2}, {{"--help"}, 0}}) {
        ServerProcess second({.args = c.args, .port = c.args.empty(), .root = server.root()});
        EXPECT_EQ(c.status, ExitCode(second.Wait())) << c.args.size();
        EXPECT_EQ(c.status == 1, second.Err().find(held) != std::string::npos) << second.Err();
        // It serves no socket, so it names none.
        EXPECT_EQ(std::string::npos, second.Out().find("board control socket")) << second.Out();
        EXPECT_EQ(before, Tree(server.root())) << second.Err();
    }
    EXPECT_NE(std::string::npos, server.Ask("files show").find("/proc/temperature 47|\n"));
    Stop();

    // A root whose pid file cannot be had is never served.
    ServerProcess blocked(E2E::Later{});
    std::filesystem::remove_all(blocked.Path("var"));
    blocked.Write("var", "a file where the folder belongs");
    ASSERT_TRUE(blocked.Start());
    EXPECT_EQ(1, ExitCode(blocked.Wait()));
    EXPECT_NE(std::string::npos,
              blocked.Err().find("server not started: " + blocked.Path("var/run/server.pid") +
                                 " cannot be held: Not a directory\n"))
        << blocked.Err();
    EXPECT_EQ("", blocked.Out());
}

TEST_F(Running, InterruptStopsLikeTerm)
{
    Start();
    server.Signal(SIGINT);
    EXPECT_EQ(0, ExitCode(server.Wait()));
    EXPECT_FALSE(server.Exists("var/run/server.pid"));
}

TEST_F(Running, Usr2WritesTheStatusDump)
{
    Start();
    EXPECT_FALSE(server.Exists("var/log/server-status"));
    server.Signal(SIGUSR2);
    ASSERT_TRUE(Eventually([&] {
        return server.Read("var/log/server-status").find("timer transition measurement") != std::string::npos;
    }));
    std::string dump = server.Read("var/log/server-status");
    EXPECT_EQ(0u, dump.find("server status information. traces:\n")) << dump;
    EXPECT_NE(std::string::npos, dump.find("\nversion : " + kVersion + "\n"));

    // A second request rewrites it; by now the loop polls the child-exit
    // channel, and its row is in the table.
    server.Write("var/log/server-status", "stale");
    server.Signal(SIGUSR2);
    EXPECT_TRUE(Eventually([&] {
        return server.Read("var/log/server-status").find("ChildWaitService::OnChildEvent") !=
               std::string::npos;
    })) << server.Read("var/log/server-status");
    Stop();
}

TEST_F(Running, HupAsksForAHardwareResourceUpdate)
{
    Start();
    server.Signal(SIGHUP);
    EXPECT_TRUE(server.Logged("update hardware resources\n")) << server.Err();
    Stop();
}

TEST_F(Running, OnlyTheLastTracesSectionCounts)
{
    server.Write("usr/local/etc/server.conf", "[traces]\n"
                                              "signalling.hdlc = yes\n"
                                              "signalling.isdn = yes\n"
                                              "[snmpagent]\n"
                                              "[traces]\n"
                                              "signalling.events = enabled\n"
                                              "monitoring.internal = maybe\n");
    Start();
    EXPECT_NE(std::string::npos,
              server.Err().find("traces: optional key \"monitoring.internal\" has invalid "
                                "value=\"maybe\", line 7 of " +
                                server.Path("usr/local/etc/server.conf") + ". Key will be ignored.\n"))
        << server.Err();
    server.Signal(SIGUSR2);
    ASSERT_TRUE(Eventually([&] { return server.Exists("var/log/server-status"); }));
    EXPECT_TRUE(Eventually([&] {
        return server.Read("var/log/server-status")
                   .find("server status information. traces: signalling.events\n") == 0;
    })) << server.Read("var/log/server-status");
    Stop();
}

// ---------------------------------------------------------------- daemon

class LogSocket {
public:
    explicit LogSocket(std::string path) : path_(std::move(path)) { Bind(); }
    ~LogSocket()
    {
        if (fd_ >= 0)
            ::close(fd_);
        for (int fd : fillers_)
            ::close(fd);
    }
    void Bind()
    {
        if (fd_ >= 0)
            ::close(fd_);
        ::unlink(path_.c_str());
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path_.c_str());
        ASSERT_EQ(0, ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a));
    }
    // Records of the datagrams that arrive within `ms`, each without its
    // terminating NUL.
    std::vector<std::string> Receive(int ms = 20000)
    {
        std::vector<std::string> out;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return out;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        std::string d(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        for (std::size_t at = 0; at < d.size();) {
            std::size_t nul = d.find('\0', at);
            out.push_back(d.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
            at = nul == std::string::npos ? d.size() : nul + 1;
        }
        return out;
    }
    // Keeps what arrives until `pid` has ended (not reaped yet): a daemon
    // logs before it serves, and a log daemon reads all the while. False
    // when it has not ended within the bound.
    bool KeepUntilEnded(pid_t pid)
    {
        for (int i = 0; i < E2E::Patience(20000); ++i) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid)
                return true;
            for (std::string& r : Receive(1))
                kept_.push_back(std::move(r));
        }
        return false;
    }
    // Waits for a record that contains `text`.
    std::string WaitFor(const std::string& text)
    {
        for (auto r = kept_.begin(); r != kept_.end(); ++r)
            if (r->find(text) != std::string::npos) {
                std::string found = *r;
                kept_.erase(kept_.begin(), r + 1);
                return found;
            }
        for (int i = 0; i < 50; ++i) {
            std::vector<std::string> recs = Receive();
            if (recs.empty())
                break;
            for (auto& r : recs)
                if (r.find(text) != std::string::npos)
                    return r;
        }
        return {};
    }

    // A reader that does not read: its queue is filled, so that the next
    // record sent to it waits until Receive takes one. Filled from fresh
    // sockets until one cannot send at all: a sender's own buffer may run
    // out before the reader's queue does.
    void Fill()
    {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path_.c_str());
        for (int sent = 1; sent > 0;) {
            const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ASSERT_GE(fd, 0);
            fillers_.push_back(fd);
            for (sent = 0; ::sendto(fd, "x", 2, 0, reinterpret_cast<sockaddr*>(&a), sizeof a) == 2; ++sent) {}
            ASSERT_EQ(EAGAIN, errno);
        }
    }
    // Reads what waits, until nothing does.
    void Drain()
    {
        while (!Receive(0).empty()) {}
    }

private:
    std::string path_;
    int fd_ = -1;
    std::vector<std::string> kept_;
    std::vector<int> fillers_;
};

// Every entry removed below a root, in the order of removal, as
// "<folder>/<name>" relative to the root: one queue of the kernel's for the
// watched folders keeps the order.
class Removals {
public:
    Removals(const std::string& root, std::vector<std::string> folders)
    {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        for (std::string& f : folders) {
            const int wd = ::inotify_add_watch(fd_, (root + "/" + f).c_str(), IN_DELETE);
            EXPECT_GE(wd, 0) << f;
            folders_[wd] = std::move(f);
        }
    }
    ~Removals() { ::close(fd_); }
    std::vector<std::string> Read()
    {
        std::vector<std::string> out;
        alignas(inotify_event) char buf[8192];
        for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;)
            for (char* at = buf; at < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(at);
                if ((e->mask & IN_DELETE) != 0)
                    out.push_back(folders_[e->wd] + "/" + e->name);
                at += sizeof(inotify_event) + e->len;
            }
        return out;
    }

private:
    int fd_ = -1;
    std::map<int, std::string> folders_;
};

// The record with its "Mmm dd hh:mm:ss" time stamp replaced by a fixed text.
std::string WithoutTime(const std::string& record)
{
    std::size_t gt = record.find('>');
    if (gt == std::string::npos || record.size() < gt + 17)
        return record;
    std::string stamp = record.substr(gt + 1, 16);
    bool shaped = std::isupper(static_cast<unsigned char>(stamp[0])) && stamp[3] == ' ' && stamp[6] == ' ' &&
                  stamp[9] == ':' && stamp[12] == ':' && stamp[15] == ' ';
    return shaped ? record.substr(0, gt + 1) + "TIME " + record.substr(gt + 17) : record;
}

// A connect to the control port at once, without retrying.
bool Connects(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool done = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return done;
}

std::string LastLine(const std::string& text)
{
    const std::vector<std::string> lines = E2E::Lines(text);
    return lines.empty() ? std::string() : lines.back();
}

// The daemon's pid once its pid file names it rather than the starter's; 0
// when it does not within the bound.
int DaemonOf(const ServerProcess& starter)
{
    int pid = 0;
    Eventually([&] {
        pid = std::atoi(starter.Read("var/run/server.pid").c_str());
        return pid > 0 && pid != starter.pid();
    });
    return pid > 0 && pid != starter.pid() ? pid : 0;
}

// The starter ends with status 0 once the daemon serves, and only then, as
// scripts and service managers expect: from that moment the pid file names
// the live daemon and the control port takes connections. A port another
// program holds is waited for, and the starter says so. A stop that comes
// first ends the start with a failure, and nothing serves; one that comes
// just after stops a daemon that served. A standard output or error left
// closed is not taken by the pid file. A daemon that stops lets its root go
// last.
TEST(ServerDaemon, StartEndsWellOnlyForADaemonThatServesAndLogsInLoggersFormat)
{
    ServerProcess launcher{E2E::Later{}};
    LogSocket log(launcher.Path("dev/log"));
    launcher.Start({.args = {"--daemon"}});
    ASSERT_TRUE(log.KeepUntilEnded(launcher.pid()));
    const int pid = std::atoi(launcher.Read("var/run/server.pid").c_str());
    ASSERT_TRUE(pid > 0 && pid != launcher.pid() && !Gone(pid)) << launcher.Read("var/run/server.pid");
    EXPECT_EQ(std::to_string(pid), launcher.Read("var/run/server.pid"));
    EXPECT_TRUE(Connects(launcher.port()));
    EXPECT_EQ(0, ExitCode(launcher.Wait()));
    EXPECT_EQ("", launcher.Out()); // everything goes to the system log now
    // The board's control socket is served by the daemon itself.
    const std::string help = launcher.Ask("help");
    EXPECT_NE(std::string::npos, help.find("\nok ")) << help;

    // Started with its standard output closed, as some launchers do: its
    // pid file does not take the number.
    ServerProcess waiting{E2E::Later{}};
    const std::string port = std::to_string(launcher.port());
    waiting.Start({.args = {"--daemon", "--port", port}, .port = false, .closed = {1}});
    EXPECT_EQ(0, ExitCode(waiting.Wait())) << waiting.Err();
    const int waiter = std::atoi(waiting.Read("var/run/server.pid").c_str());
    ASSERT_TRUE(waiter > 0 && waiter != pid && !Gone(waiter)) << waiting.Read("var/run/server.pid");
    EXPECT_EQ(std::to_string(waiter), waiting.Read("var/run/server.pid"));
    EXPECT_TRUE(waiting.Err().ends_with("server started, pid " + std::to_string(waiter) + ": port " + port +
                                        " cannot be set up yet (Address already in use): the server waits "
                                        "for it\n"))
        << waiting.Err();
    // Stopped the moment its start ended well: it stops as a server does.
    ::kill(waiter, SIGTERM);
    EXPECT_TRUE(Eventually([&] { return !waiting.Exists("var/run/server.pid") && Gone(waiter); }));

    const std::string ident = "mrv-" + kVersion;
    std::string banner = log.WaitFor("Starting server");
    ASSERT_FALSE(banner.empty());

    // What the system's own client writes for the same message.
    LogSocket ref(launcher.Path("ref"));
    const std::string text = "Starting server [" + kVersion + "], port=" + port;
    std::string cmd =
        "logger -u " + launcher.Path("ref") + " -t " + ident + " -p daemon.notice '" + text + "'";
    ASSERT_EQ(0, std::system(cmd.c_str()));
    std::vector<std::string> reference = ref.Receive();
    ASSERT_EQ(1u, reference.size());
    EXPECT_EQ(WithoutTime(reference[0]), WithoutTime(banner));
    EXPECT_EQ("<29>TIME " + ident + ": " + text, WithoutTime(banner));
    EXPECT_EQ(std::to_string(pid), launcher.Read("var/run/server.pid"));
    EXPECT_TRUE(Connects(launcher.port()));

    // The log daemon restarts: a new socket under the same name.
    log.Bind();
    ::kill(pid, SIGHUP);
    std::string update = log.WaitFor("update hardware resources");
    EXPECT_EQ("<31>TIME " + ident + ": update hardware resources", WithoutTime(update));

    // The pid file goes last: until then a new server on this root finds it
    // held, and cannot lose the board's socket or the monitoring files that
    // this one still removes.
    ASSERT_TRUE(launcher.Exists("var/monitoring/term_cnts"));
    Removals removals(launcher.root(), {".", "var/monitoring", "var/run"});
    ::kill(pid, SIGTERM);
    // Like a log daemon, keep reading: the services' closing lines fill the
    // socket's queue, and the server's client waits for room as libc's does.
    EXPECT_TRUE(Eventually([&] {
        log.Drain();
        return !launcher.Exists("var/run/server.pid") && Gone(pid);
    }));
    const std::vector<std::string> removed = removals.Read();
    ASSERT_FALSE(removed.empty());
    EXPECT_EQ("var/run/server.pid", removed.back());
    for (const char* gone : {"./board.sock", "var/monitoring/term_cnts"})
        EXPECT_NE(removed.end(), std::find(removed.begin(), removed.end(), gone)) << gone;

    // Stops before the daemon serves, while its first log line waits for a
    // reader that does not read yet. To the daemon: the start fails with its
    // word. To the starter, as Ctrl-C does: it ends at once, reader or not,
    // and passes the stop on. Once the readers read, nothing serves. Beside
    // them, a server in the foreground with its standard error closed: its
    // pid file holds the pid alone.
    ServerProcess stopped{E2E::Later{}};
    ServerProcess cancelled{E2E::Later{}};
    LogSocket stopped_log(stopped.Path("dev/log"));
    LogSocket cancelled_log(cancelled.Path("dev/log"));
    stopped_log.Fill();
    cancelled_log.Fill();
    stopped.Start({.args = {"--daemon"}});
    cancelled.Start({.args = {"--daemon"}});
    ServerProcess closed({.closed = {2}});
    const int unserved = DaemonOf(stopped);
    const int uncalled = DaemonOf(cancelled);
    ASSERT_TRUE(unserved != 0 && uncalled != 0) << stopped.Err() << cancelled.Err();
    ::kill(unserved, SIGTERM);
    cancelled.Signal(SIGINT);
    EXPECT_EQ(1, ExitCode(cancelled.Wait()));
    EXPECT_EQ("server not started: the start was interrupted", LastLine(cancelled.Err())) << cancelled.Err();
    ASSERT_TRUE(stopped_log.KeepUntilEnded(stopped.pid()));
    EXPECT_EQ(1, ExitCode(stopped.Wait()));
    EXPECT_EQ("server stopped before it served", LastLine(stopped.Err())) << stopped.Err();

    EXPECT_TRUE(Eventually([&] { return Connects(closed.port()); }));
    EXPECT_EQ(std::to_string(closed.pid()), closed.Read("var/run/server.pid"));
    closed.Signal(SIGTERM);

    EXPECT_TRUE(Eventually([&] {
        stopped_log.Drain();
        cancelled_log.Drain();
        return !stopped.Exists("var/run/server.pid") && Gone(unserved) &&
               !cancelled.Exists("var/run/server.pid") && Gone(uncalled);
    }));
    EXPECT_FALSE(Connects(stopped.port()));
    EXPECT_FALSE(Connects(cancelled.port()));
    EXPECT_EQ(0, ExitCode(closed.Wait()));
    EXPECT_FALSE(closed.Exists("var/run/server.pid"));
}

} // namespace
