// build/server as a process: command line, signals, pid file, status dump,
// trace switches, daemon mode with its system-log records.

#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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

private:
    std::string path_;
    int fd_ = -1;
    std::vector<std::string> kept_;
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

// The starter ends once the daemon serves, as scripts and service managers
// expect: from that moment the pid file names the live daemon and the
// control port takes connections. A port another program holds is waited
// for, and the starter says so.
TEST(ServerDaemon, LogsToTheSystemLogInLoggersFormat)
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

    ServerProcess waiting{E2E::Later{}};
    const std::string port = std::to_string(launcher.port());
    waiting.Start({.args = {"--daemon", "--port", port}, .port = false});
    EXPECT_EQ(0, ExitCode(waiting.Wait()));
    const int waiter = std::atoi(waiting.Read("var/run/server.pid").c_str());
    EXPECT_TRUE(waiter > 0 && waiter != pid && !Gone(waiter)) << waiting.Read("var/run/server.pid");
    EXPECT_TRUE(waiting.Err().ends_with("server started, pid " + std::to_string(waiter) + ": port " + port +
                                        " cannot be set up yet (Address already in use): the server waits "
                                        "for it\n"))
        << waiting.Err();
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

    ::kill(pid, SIGTERM);
    // Like a log daemon, keep reading: the services' closing lines fill the
    // socket's queue, and the server's client waits for room as libc's does.
    EXPECT_TRUE(Eventually([&] {
        while (!log.Receive(0).empty()) {}
        return !launcher.Exists("var/run/server.pid") && Gone(pid);
    }));
}

} // namespace
