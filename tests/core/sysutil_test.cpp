// System utilities: descriptor handles, addresses, interface filter, process
// search, pid file, signal installation and the root-path prefix.

#include "core/fd.hpp"
#include "core/inet.hpp"
#include "core/paths.hpp"
#include "core/process.hpp"
#include "core/signal.hpp"
#include "core/startup.hpp"

#include "tests/core/core_helper.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <iterator>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Fd, PlainHandleDupCloseAndModes)
{
    Fd empty;
    EXPECT_FALSE(empty);
    errno = 0;
    EXPECT_EQ(-1, empty.dup());
    EXPECT_EQ(0, errno) << "no dup call for an empty handle";
    EXPECT_EQ(-1, empty.close());
    EXPECT_EQ(EBADF, errno);
    EXPECT_FALSE(empty.NonBlock());

    int fds[2];
    ASSERT_EQ(0, ::pipe(fds)); // deliberately without close-on-exec
    Fd rd(fds[0]);
    {
        Fd copy = rd; // copies the number; its destruction closes nothing
        EXPECT_EQ(rd.get(), copy.get());
    }
    EXPECT_GE(::fcntl(fds[0], F_GETFD), 0);

    Fd dup(rd.dup());
    ASSERT_TRUE(dup);
    EXPECT_NE(rd.get(), dup.get());
    EXPECT_NE(0, ::fcntl(dup.get(), F_GETFD) & FD_CLOEXEC) << "dup is close-on-exec";

    EXPECT_TRUE(dup.NonBlock());
    EXPECT_NE(0, ::fcntl(dup.get(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(BlockMode(dup.get()));
    EXPECT_EQ(0, ::fcntl(dup.get(), F_GETFL) & O_NONBLOCK);

    EXPECT_FALSE(SetCloexec(fds[1], true)) << "false means success";
    EXPECT_NE(0, ::fcntl(fds[1], F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(SetCloexec(fds[1], false));
    EXPECT_EQ(0, ::fcntl(fds[1], F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(SetCloexec(-1, true));
    EXPECT_FALSE(NonBlockMode(-1));

    EXPECT_EQ(0, dup.close());
    EXPECT_FALSE(dup);
    EXPECT_EQ(-1, dup.close());
    EXPECT_EQ(EBADF, errno);
    rd.close();
    ::close(fds[1]);
}

TEST(OwnedFd, ClosesOnDestructionResetAndMoveAssignment)
{
    int fds[2];
    ASSERT_EQ(0, ::pipe2(fds, O_CLOEXEC));
    {
        OwnedFd a(fds[0]);
        OwnedFd b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(fds[0], b.get());
        OwnedFd c(fds[1]);
        c = std::move(b); // closes fds[1]
        EXPECT_EQ(-1, ::fcntl(fds[1], F_GETFD));
        EXPECT_EQ(fds[0], c.get());
    }
    EXPECT_EQ(-1, ::fcntl(fds[0], F_GETFD));

    ASSERT_EQ(0, ::pipe2(fds, O_CLOEXEC));
    OwnedFd keep(fds[0]);
    const int raw = keep.release();
    EXPECT_GE(::fcntl(raw, F_GETFD), 0);
    ::close(raw);
    ::close(fds[1]);
}

std::string text(const INet4::Addr& a)
{
    std::ostringstream os;
    os << a;
    return os.str();
}

TEST(INet4Addr, ParsingAndPrinting)
{
    INet4::Addr a;
    EXPECT_EQ("0.0.0.0:0", a.GetString());
    EXPECT_EQ(AF_INET, a.in().sin_family);
    int port = 0;
    EXPECT_TRUE(a.Assign("192.168.1.20:8000", &port));
    EXPECT_EQ(8000, port);
    EXPECT_EQ("192.168.1.20:8000", text(a));
    EXPECT_EQ("192.168.1.20", a.GetDotted());
    // The wire layout is sockaddr_in: port and address in network order.
    EXPECT_EQ(htons(8000), a.in().sin_port);
    EXPECT_EQ(htonl(0xC0A80114u), a.in().sin_addr.s_addr);
    EXPECT_EQ((std::vector<unsigned char>{192, 168, 1, 20}), a.GetVector());

    EXPECT_TRUE(a.Assign(std::string("10.0.0.1"), &port));
    EXPECT_EQ(-1, port);
    EXPECT_EQ("10.0.0.1:8000", a.GetString()) << "no colon: the port is kept";

    EXPECT_FALSE(a.Assign("gateway.example:80", &port));
    EXPECT_EQ(80, port);
    EXPECT_EQ("10.0.0.1:80", a.GetString()) << "a bad address is left as it was";

    EXPECT_TRUE(a.Assign("1.2.3.4:http", &port));
    EXPECT_EQ(0, port);
    EXPECT_TRUE(a.Assign("1.2.3.4:70000", &port));
    EXPECT_EQ(0, port) << "no silent truncation to 4464";
    EXPECT_TRUE(a.Assign("1.2.3.4:80x", &port));
    EXPECT_EQ(0, port) << "a port with text after it is no number";
    EXPECT_TRUE(a.Assign("1.2.3.4:65535"));
    EXPECT_EQ(65535, a.GetPort());
    EXPECT_FALSE(a.Assign("1.2.3.400"));
    EXPECT_FALSE(a.Assign(static_cast<const char*>(nullptr)));

    // The number is the address field as sockaddr_in holds it, in network
    // byte order, whatever the machine's own order.
    INet4::Addr b;
    b.Assign(::inet_addr("10.20.30.40"));
    EXPECT_EQ("10.20.30.40:0", b.GetString());
    EXPECT_EQ(::inet_addr("10.20.30.40"), b.in().sin_addr.s_addr);
    EXPECT_EQ((std::vector<unsigned char>{10, 20, 30, 40}), b.GetVector());
    b.Assign(htonl(0x01020304u));
    b.SetPort(65535);
    EXPECT_TRUE(a.IsEqual(b));
    b.SetPort(1);
    EXPECT_FALSE(a.IsEqual(b));
    b.Reset();
    EXPECT_EQ("0.0.0.0:0", text(b));
}

TEST(NetIfconfig, ModeFilterAndTheKernelsList)
{
    const auto ip = [](const char* t) { return ntohl(::inet_addr(t)); };
    // The board of the example: eth0 10.1.2.3, lo 127.0.0.1, eth1 192.0.2.1.
    struct If {
        const char* name;
        const char* addr;
    } board[] = {{"eth0", "10.1.2.3"}, {"lo", "127.0.0.1"}, {"eth1", "192.0.2.1"}};
    auto taken = [&](int mode) {
        std::string out;
        for (const If& i : board)
            if (Net::ifconfig_accepts(i.name, ip(i.addr), mode))
                out += std::string(i.addr) + " ";
        return out;
    };
    EXPECT_EQ("10.1.2.3 ", taken(4));
    EXPECT_EQ("10.1.2.3 192.0.2.1 ", taken(1));
    EXPECT_EQ("10.1.2.3 127.0.0.1 192.0.2.1 ", taken(0));
    EXPECT_FALSE(Net::ifconfig_accepts("LO", ip("127.0.0.1"), 1)) << "name compared without case";
    EXPECT_TRUE(Net::ifconfig_accepts("lo", ip("169.254.7.7"), 2));
    EXPECT_TRUE(Net::ifconfig_accepts("lo", ip("172.31.255.1"), 4));
    EXPECT_FALSE(Net::ifconfig_accepts("lo", ip("172.32.0.1"), 4));
    EXPECT_TRUE(Net::ifconfig_accepts("lo", ip("192.168.0.1"), 4));

    // This machine has at least its loopback interface.
    std::list<INet4::Addr> all;
    ASSERT_GE(Net::ifconfig(all, Net::ifconfig_all), 1);
    bool loopback = false;
    for (const auto& a : all)
        loopback = loopback || a.GetString() == "127.0.0.1:0";
    EXPECT_TRUE(loopback);
    std::list<INet4::Addr> outside;
    Net::ifconfig(outside, Net::ifconfig_not_loopback);
    for (const auto& a : outside)
        EXPECT_NE("127.0.0.1:0", a.GetString());
    std::list<std::string> names;
    ASSERT_GE(Net::ifconfig(names, Net::ifconfig_all, 0), 1);
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "lo"));
    EXPECT_FALSE(Net::hostname().empty());
}

TEST(NetIfconfig, PrivateAddressSourceAndTheFirstAddress)
{
    // The kernel's list by default.
    std::list<INet4::Addr> kernel;
    Net::ifconfig(kernel, Net::ifconfig_private);
    std::list<INet4::Addr> asked;
    EXPECT_EQ(static_cast<int>(kernel.size()), Net::private_addresses(asked));
    EXPECT_EQ(kernel.size(), asked.size());

    Net::set_private_address_source([](std::list<INet4::Addr>& out) {
        INet4::Addr a;
        a.Assign("10.1.2.3:99");
        out.push_back(a);
        a.Assign("192.168.0.7");
        out.push_back(a);
        return 2;
    });
    EXPECT_EQ("10.1.2.3:0", Net::first_private_address().GetString()) << "first one, without a port";
    Net::set_private_address_source([](std::list<INet4::Addr>&) { return 0; });
    EXPECT_EQ("127.0.0.1:0", Net::first_private_address().GetString());
    Net::set_private_address_source([](std::list<INet4::Addr>&) { return -1; });
    EXPECT_EQ("127.0.0.1:0", Net::first_private_address().GetString());

    Net::set_private_address_source({});
    asked.clear();
    EXPECT_EQ(static_cast<int>(kernel.size()), Net::private_addresses(asked));
}

TEST(NetIfconfig, EveryScanAsksThroughOneCloseOnExecSocket)
{
    std::list<std::string> names;
    Net::ifconfig(names, Net::ifconfig_all, 0);
    int const sock = Net::interface_socket_descriptor();
    ASSERT_GE(sock, 0);
    EXPECT_NE(::fcntl(sock, F_GETFD) & FD_CLOEXEC, 0);
    std::list<INet4::Addr> addresses;
    EXPECT_GE(Net::ifconfig(addresses, Net::ifconfig_all), 1) << "the loopback interface at least";
    EXPECT_EQ(sock, Net::interface_socket_descriptor());
}

TEST(FindProc, ByHintAndByScanningProc)
{
    // A command name no other process has (test programs run in parallel).
    char saved[17] = {};
    ASSERT_EQ(0, ::prctl(PR_GET_NAME, saved));
    const int self = static_cast<int>(::getpid());
    const std::string name = "fp-" + std::to_string(self);
    ASSERT_EQ(0, ::prctl(PR_SET_NAME, name.c_str()));
    {
        // Under qemu-user the emulator answers for this process's own
        // /proc/<pid>/stat and names the guest program there.
        std::ifstream stat("/proc/" + std::to_string(self) + "/stat");
        std::string seen;
        std::getline(stat, seen);
        if (seen.find("(" + name + ")") == std::string::npos) {
            ::prctl(PR_SET_NAME, saved);
            GTEST_SKIP() << "/proc does not show this process's own name";
        }
    }

    EXPECT_EQ(self, find_proc_by_name(name.c_str(), self));
    EXPECT_EQ(self, find_proc_by_name(name.c_str(), 0));
    // A stale hint (pid 1 is not this test) still finds us by the scan.
    EXPECT_EQ(self, find_proc_by_name(name.c_str(), 1));
    EXPECT_EQ(-1, find_proc_by_name((name + "x").c_str(), self));
    // The kernel keeps 15 characters: a longer name never matches.
    EXPECT_EQ(-1, find_proc_by_name("a-name-longer-than-15", 0));
    EXPECT_EQ(-1, find_proc_by_name("", 0));
    ::prctl(PR_SET_NAME, saved);
}

// Reaps the children it starts, as the child-exit service would.
struct ReapingSpawner : ChildSpawner {
    pid_t Start(ChildProgram const& program) override
    {
        return pids.emplace_back(ChildSpawner::Start(program));
    }
    ~ReapingSpawner() override
    {
        for (pid_t pid : pids)
            if (pid > 0)
                ::waitpid(pid, nullptr, 0);
    }
    std::vector<pid_t> pids;
};

ChildLine Shell(char const* script, unsigned int boundMs = 5000)
{
    ChildProgram program("/bin/sh");
    program.args.insert(program.args.end(), {"-c", script});
    return ReadChildLine(program, 31, boundMs);
}

TEST(ReadChildLine, FirstLineAsFgetsHasItAndNeverPastTheBound)
{
    ReapingSpawner reaper;
    ChildSpawner* old = ChildSpawner::UseInstance(&reaper);

    ChildLine r = Shell("echo 4; echo 5");
    EXPECT_TRUE(r.started && r.line && !r.killed);
    EXPECT_EQ("4\n", r.text);
    // The end of output ends a line that has no newline.
    EXPECT_EQ("12", Shell("printf 12").text);
    r = Shell("exit 0");
    EXPECT_TRUE(r.started && !r.line && !r.killed);
    EXPECT_EQ("0123456789012345678901234567890",
              Shell("echo 01234567890123456789012345678901234567890").text);

    // A line, then no end: the line stands, the program is killed.
    r = Shell("echo 4; exec sleep 30", 200);
    EXPECT_TRUE(r.line && r.killed);
    EXPECT_EQ("4\n", r.text);
    // Half a line is no line.
    r = Shell("printf 4; exec sleep 30", 200);
    EXPECT_TRUE(r.started && !r.line && r.killed);

    // An exec that fails: a child that ends without a word.
    r = ReadChildLine(ChildProgram("/nonexistent/program"), 31, 5000);
    EXPECT_TRUE(r.started && !r.line && !r.killed);
    ChildSpawner::UseInstance(old);

    struct NoFork : ChildSpawner {
        pid_t Start(ChildProgram const&) override
        {
            errno = EAGAIN;
            return -1;
        }
    } nofork;
    ChildSpawner::UseInstance(&nofork);
    errno = 0;
    r = Shell("echo 4");
    ChildSpawner::UseInstance(old);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(EAGAIN, errno);
}

// The server's handlers would take a signal sent before the exec (and wake
// the server's loop): the program would then start and never hear it.
TEST(ChildSpawner, ASignalBeforeTheExecEndsTheChildWithItsDefaultAction)
{
    const int caught[] = {SIGPIPE, SIGTERM, SIGINT, SIGUSR2, SIGHUP};
    struct sigaction saved[std::size(caught)];
    for (std::size_t i = 0; i < std::size(caught); ++i)
        sigaction(caught[i], nullptr, &saved[i]);
    InstallSignalHandlers();
    for (int sig : {SIGTERM, SIGHUP}) {
        int out[2];
        ASSERT_EQ(0, ::pipe2(out, O_CLOEXEC));
        ChildProgram program("/bin/echo");
        program.args.push_back("ran");
        program.stdoutFd = out[1];
        program.sleepSeconds = 5;
        const pid_t pid = ChildSpawner().Start(program);
        ASSERT_GT(pid, 0);
        ::kill(pid, sig);
        ::close(out[1]);
        int status = 0;
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << ": status " << status;
        char buf[8];
        EXPECT_EQ(0, ::read(out[0], buf, sizeof buf)) << "the program ran";
        ::close(out[0]);
    }
    for (std::size_t i = 0; i < std::size(caught); ++i)
        sigaction(caught[i], &saved[i], nullptr);
}

TEST(PidFile, HeldForTheLifeOfTheObjectAndOverwritingAStaleOne)
{
    TempRoot root;
    root.mkdirs("var/run");
    root.write("var/run/server.pid", "99999999 left by a crashed run");
    {
        Linux::Run run("server");
        EXPECT_TRUE(run.made());
        EXPECT_EQ(root.dir() + "/var/run/server.pid", run.path());
        EXPECT_EQ(std::to_string(::getpid()), root.read("var/run/server.pid"));
        // Held: a second one writes nothing, names the holder, and leaves
        // the file in place when it goes.
        {
            Linux::Run second("server");
            EXPECT_FALSE(second.made());
            EXPECT_TRUE(second.taken());
            EXPECT_EQ(::getpid(), second.holder());
        }
        EXPECT_EQ(std::to_string(::getpid()), root.read("var/run/server.pid"));
        EXPECT_TRUE(run.Write());
    }
    EXPECT_FALSE(root.exists("var/run/server.pid"));

    // A folder that cannot be made: neither made nor taken, and why.
    root.write("var/run/missing", "a file in the way");
    Linux::Run nowhere("missing/dir/server");
    EXPECT_FALSE(nowhere.made());
    EXPECT_FALSE(nowhere.taken());
    EXPECT_EQ(ENOTDIR, nowhere.error());
}

TEST(RootPath, PrefixesTheRootOnlyWhenSet)
{
    ::unsetenv("GW_ROOT");
    EXPECT_EQ("/var/run/", RootPath("/var/run/"));
    ::setenv("GW_ROOT", "/tmp/r/", 1);
    EXPECT_EQ("/tmp/r/dev/misc/gw-wd", RootPath("/dev/misc/gw-wd"));
    ::setenv("GW_ROOT", "", 1);
    EXPECT_EQ("/dev/log", RootPath(std::string("/dev/log")));
    ::unsetenv("GW_ROOT");
}

TEST(RootPath, ARelativeRootIsFixedAgainstTheStartingDirectory)
{
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ::setenv("GW_ROOT", "r/", 1);
    AbsoluteRoot();
    EXPECT_EQ(std::string(cwd) + "/r/var/run/", RootPath("/var/run/"));
    // Once absolute, a change of directory no longer moves it.
    ASSERT_EQ(::chdir("/"), 0);
    AbsoluteRoot();
    EXPECT_EQ(std::string(cwd) + "/r/var/run/", RootPath("/var/run/"));
    ASSERT_EQ(::chdir(cwd), 0);
    ::unsetenv("GW_ROOT");
    AbsoluteRoot();
    EXPECT_EQ(std::getenv("GW_ROOT"), nullptr) << "no root stays no root";
}

volatile sig_atomic_t g_caught = 0;
void OnUsr1(int sig)
{
    g_caught = sig;
}
void OnUsr1Info(int sig, siginfo_t* info, void*)
{
    g_caught = info != nullptr ? sig + 1000 : -1;
}

TEST(Signals, InstallIgnoreRestoreAndRestartFlags)
{
    using namespace IPC::Signal;
    struct sigaction old;
    ASSERT_EQ(0, sigaction(SIGUSR1, nullptr, &old));

    ASSERT_EQ(0, handle(SIGUSR1, OnUsr1, Set(SIGUSR2, SIGHUP), SA_SIGINFO));
    struct sigaction now;
    sigaction(SIGUSR1, nullptr, &now);
    EXPECT_EQ(0, now.sa_flags & SA_SIGINFO) << "a one-argument handler never gets SA_SIGINFO";
    EXPECT_EQ(1, sigismember(&now.sa_mask, SIGUSR2));
    EXPECT_EQ(1, sigismember(&now.sa_mask, SIGHUP));
    ::raise(SIGUSR1);
    EXPECT_EQ(SIGUSR1, g_caught);

    ASSERT_EQ(0, handle(SIGUSR1, OnUsr1Info, 0));
    ::raise(SIGUSR1);
    EXPECT_EQ(SIGUSR1 + 1000, g_caught);

    EXPECT_EQ(0, enable_int(SIGUSR1));
    sigaction(SIGUSR1, nullptr, &now);
    EXPECT_EQ(0, now.sa_flags & SA_RESTART);
    EXPECT_EQ(0, disable_int(SIGUSR1));
    sigaction(SIGUSR1, nullptr, &now);
    EXPECT_NE(0, now.sa_flags & SA_RESTART);

    ASSERT_EQ(0, ignore(SIGUSR1));
    g_caught = 0;
    ::raise(SIGUSR1);
    EXPECT_EQ(0, g_caught);
    EXPECT_EQ(0, system(SIGUSR1));
    sigaction(SIGUSR1, nullptr, &now);
    EXPECT_EQ(SIG_DFL, now.sa_handler);

    EXPECT_TRUE(Set::is_signal(SIGTERM));
    EXPECT_FALSE(Set::is_signal(0x7FFF));
    Set three(SIGINT, SIGTERM, SIGQUIT);
    EXPECT_EQ(1, sigismember(&three.get(), SIGQUIT));
    sigaction(SIGUSR1, &old, nullptr);
}

} // namespace
