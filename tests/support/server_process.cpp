#include "support/server_process.hpp"

#include "support/leak_check.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <glob.h>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace E2E {

namespace {

std::string Env(char const* name)
{
    char const* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::vector<std::string> Words(std::string const& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

std::string ServerBinary()
{
    std::string const own = Env("GW_SERVER");
    if (!own.empty())
        return own;
    std::string const dir = Env("GW_TEST_BINARY_DIR");
    return (dir.empty() ? std::string(".") : dir) + "/server";
}

void OnceForThisProgram()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    AddLeakCheck(LeftChildProcesses);
}

} // namespace

std::string FakeTimeLibrary()
{
    std::string const own = Env("GW_FAKETIME_LIB");
    if (!own.empty())
        return own;
    glob_t g{};
    std::string found;
    if (::glob("/usr/lib/*/faketime/libfaketime.so.1", 0, nullptr, &g) == 0 && g.gl_pathc > 0)
        found = g.gl_pathv[0];
    ::globfree(&g);
    return found;
}

bool Emulated()
{
    return !Words(Env("GW_SERVER_PREFIX")).empty();
}

int Patience(int ms)
{
    return Emulated() ? ms * 5 : ms;
}

std::string FakeTimeMissing()
{
    if (Emulated())
        return "the server runs under an emulator (GW_SERVER_PREFIX): the host's libfaketime cannot be "
               "preloaded into it, and the board has none";
    if (FakeTimeLibrary().empty())
        return "libfaketime is not installed (Debian package faketime)";
    return {};
}

bool EventuallyImpl(bool (*probe)(void*), void* context, int seconds)
{
    auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Patience(seconds * 1000));
    while (std::chrono::steady_clock::now() < until) {
        if (probe(context))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return probe(context);
}

int FreePort(int type)
{
    int const s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

std::vector<std::string> Lines(std::string const& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0, eol;
    while ((eol = text.find('\n', at)) != std::string::npos) {
        lines.push_back(text.substr(at, eol - at));
        at = eol + 1;
    }
    return lines;
}

ServerProcess::ServerProcess(Later)
{
    // Short: "<root>/board.sock" and "<root>/dev/log" are socket addresses.
    char dir[] = "/tmp/gw-e2e-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    root_ = dir;
    socket_ = root_ + "/board.sock";
    for (char const* sub : {"var/run", "var/log", "usr/local/etc", "dev/misc"})
        std::filesystem::create_directories(Path(sub));
}

ServerProcess::ServerProcess(Options const& options) : ServerProcess(Later{})
{
    Start(options);
}

ServerProcess::~ServerProcess()
{
    Stop();
    std::error_code ec;
    if (!root_.empty())
        std::filesystem::remove_all(root_, ec);
}

bool ServerProcess::Start(Options const& options)
{
    if (root_.empty() || pid_ > 0)
        return false;
    OnceForThisProgram();
    std::string const binary = ServerBinary();
    std::vector<std::string> argv = Words(Env("GW_SERVER_PREFIX"));
    argv.push_back(binary);
    if (options.port) {
        port_ = FreePort();
        argv.insert(argv.end(), {"--port", std::to_string(port_)});
    } else {
        port_ = 20001; // the server's default
    }
    argv.insert(argv.end(), options.args.begin(), options.args.end());

    std::vector<std::string> env;
    auto const ours = [](char const* e) {
        for (char const* name : {"GW_ROOT=", "GW_SIM_SOCKET=", "GW_SIM_SETUP=", "LD_PRELOAD=", "FAKETIME="})
            if (std::strncmp(e, name, std::strlen(name)) == 0)
                return true;
        return false;
    };
    std::string asan = "ASAN_OPTIONS=" + Env("ASAN_OPTIONS");
    for (char** e = environ; *e != nullptr; ++e)
        if (!ours(*e) && std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            env.emplace_back(*e);
    std::string const root = options.root.empty() ? root_ : options.root;
    env.push_back("GW_ROOT=" + root);
    env.push_back("GW_SIM_SOCKET=" + root + "/board.sock");
    if (!options.setup.empty())
        env.push_back("GW_SIM_SETUP=" + options.setup);
    if (options.speed > 1) {
        // The library itself, not the faketime wrapper: the process we
        // start and signal is then the server.
        std::string const why = FakeTimeMissing();
        if (!why.empty()) {
            ADD_FAILURE() << why << " (call E2E_NEEDS_FAKE_TIME() first)";
            return false;
        }
        env.push_back("LD_PRELOAD=" + FakeTimeLibrary());
        env.push_back("FAKETIME=+0 x" + std::to_string(options.speed));
        // Preloaded ahead of the sanitizer runtime.
        asan += (asan.back() == '=' ? "" : ":") + std::string("verify_asan_link_order=0");
    }
    env.push_back(asan);
    env.insert(env.end(), options.env.begin(), options.env.end());

    std::vector<char*> av, ev;
    for (auto& a : argv)
        av.push_back(a.data());
    av.push_back(nullptr);
    for (auto& e : env)
        ev.push_back(e.data());
    ev.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    std::string const out = Path("stdout"), err = Path("stderr");
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    for (int fd : {1, 2}) {
        if (std::find(options.closed.begin(), options.closed.end(), fd) != options.closed.end())
            posix_spawn_file_actions_addclose(&fa, fd);
        else
            posix_spawn_file_actions_addopen(&fa, fd, (fd == 1 ? out : err).c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    // A group of its own, for Stop(); and the test program's signal mask
    // and dispositions must not leak into it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    int const rc = ::posix_spawnp(&pid, av[0], &fa, &attr, av.data(), ev.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << av[0] << ": " << std::strerror(rc);
        return false;
    }
    pid_ = pid;
    status_ = -1;
    ended_ = false;
    return true;
}

void ServerProcess::Write(std::string const& relative, std::string const& text) const
{
    std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::trunc) << text;
}

std::string ServerProcess::Read(std::string const& relative) const
{
    std::ifstream in(Path(relative));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ServerProcess::Exists(std::string const& relative) const
{
    struct stat st;
    return ::stat(Path(relative).c_str(), &st) == 0;
}

bool ServerProcess::Logged(std::string const& text, int seconds) const
{
    return Eventually([&] { return Err().find(text) != std::string::npos; }, seconds);
}

bool ServerProcess::Printed(std::string const& text, int seconds) const
{
    return Eventually([&] { return Out().find(text) != std::string::npos; }, seconds);
}

std::string ServerProcess::Ask(std::string const& request) const
{
    std::string answer;
    auto const complete = [&] {
        if (answer.empty() || answer.back() != '\n')
            return false;
        std::size_t last = answer.rfind('\n', answer.size() - 2);
        last = last == std::string::npos ? 0 : last + 1;
        return answer.compare(last, 2, "ok") == 0 || answer.compare(last, 5, "error") == 0;
    };
    // The socket appears while the server starts.
    Eventually(
        [&] {
            int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            // A socket whose server is gone still takes the connection: its
            // silence must end the attempt.
            timeval patience{Patience(2000) / 1000, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            std::strncpy(a.sun_path, socket_.c_str(), sizeof a.sun_path - 1);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                std::string const line = request + "\n";
                if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
                    char buf[8192];
                    ssize_t n;
                    while (!complete() && (n = ::read(fd, buf, sizeof buf)) > 0)
                        answer.append(buf, static_cast<std::size_t>(n));
                }
            }
            ::close(fd);
            return !answer.empty();
        },
        10);
    return answer;
}

bool ServerProcess::Becomes(std::string const& request, std::string const& expected) const
{
    return Eventually([&] { return Ask(request) == expected; }, 10);
}

void ServerProcess::Signal(int sig) const
{
    if (pid_ > 0 && !ended_)
        ::kill(-pid_, sig);
}

int ServerProcess::Wait(int seconds)
{
    if (pid_ <= 0)
        return -1;
    if (ended_)
        return status_;
    int status = -1;
    if (!Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds))
        return -1;
    ended_ = true;
    status_ = status;
    return status_;
}

int ServerProcess::Stop()
{
    if (pid_ <= 0)
        return -1;
    if (!ended_) {
        ::kill(-pid_, SIGTERM);
        if (Wait(10) == -1) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            ended_ = true;
            status_ = -1;
        }
    }
    // Whatever else the group still holds goes with it.
    if (::kill(-pid_, 0) == 0)
        ::kill(-pid_, SIGKILL);
    return status_;
}

} // namespace E2E
