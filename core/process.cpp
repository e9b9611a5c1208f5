#include "core/process.hpp"

#include "core/fd.hpp"
#include "core/paths.hpp"

#include <algorithm>
#include <climits>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <iostream>
#include <csignal>
#include <ctime>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool proc_name_is(int pid, const char* name)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    const char* open = std::strchr(buf, '(');
    const char* close = std::strrchr(buf, ')');
    if (open == nullptr || close == nullptr || close < open)
        return false;
    const std::size_t len = static_cast<std::size_t>(close - open - 1);
    return std::strlen(name) == len && std::strncmp(open + 1, name, len) == 0;
}

} // namespace

int find_proc_by_name(const char* name, int pid)
{
    if (name == nullptr)
        return -1;
    if (pid > 0 && proc_name_is(pid, name))
        return pid;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr)
        return -1;
    int found = -1;
    while (struct dirent* e = ::readdir(dir)) {
        const int candidate = std::atoi(e->d_name);
        if (candidate > 0 && candidate != pid && proc_name_is(candidate, name)) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

pid_t ChildSpawner::Start(ChildProgram const& program)
{
    // Everything the child touches exists before the fork.
    std::vector<char*> argv;
    argv.reserve(program.args.size() + 1);
    for (const std::string& a : program.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* const path = argv[0];

    // A signal sent to the child before its exec must not run the server's
    // handlers there (they would take it and the program would never hear
    // it): every signal stays blocked across the fork, and the child gives
    // each caught one back to its default action before it lets them in.
    sigset_t all;
    sigset_t saved;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &saved);
    const pid_t pid = ::fork();
    if (pid != 0) {
        const int error = errno;
        ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
        errno = error;
        return pid;
    }

    // From here on async-signal-safe calls only.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction sa;
        if (sig == SIGKILL || sig == SIGSTOP || ::sigaction(sig, nullptr, &sa) != 0)
            continue;
        if (sa.sa_handler == SIG_DFL || sa.sa_handler == SIG_IGN)
            continue;
        sa.sa_handler = SIG_DFL;
        sa.sa_flags = 0;
        ::sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
    // What arrived meanwhile acts now, with its default action.
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);

    // dup2 leaves close-on-exec off on the copy; a descriptor already in
    // place keeps its own flag, which must go.
    if (program.stdinFd == STDIN_FILENO)
        ::fcntl(STDIN_FILENO, F_SETFD, 0);
    else if (program.stdinFd >= 0)
        ::dup2(program.stdinFd, STDIN_FILENO);
    if (program.stdoutFd == STDOUT_FILENO)
        ::fcntl(STDOUT_FILENO, F_SETFD, 0);
    else if (program.stdoutFd >= 0)
        ::dup2(program.stdoutFd, STDOUT_FILENO);
    if (program.sleepSeconds >= 0)
        ::sleep(static_cast<unsigned>(program.sleepSeconds));
    if (!program.banner.empty())
        (void)!::write(STDOUT_FILENO, program.banner.data(), program.banner.size());
    ::execv(path, argv.data());
    if (!program.execFailed.empty())
        (void)!::write(STDOUT_FILENO, program.execFailed.data(), program.execFailed.size());
    ::_exit(program.failStatus);
}

int ChildSpawner::Signal(pid_t pid, int sig)
{
    return ::kill(pid, sig);
}

ChildLine ReadChildLine(ChildProgram program, std::size_t maxChars, unsigned int boundMs)
{
    using Clock = std::chrono::steady_clock;
    ChildLine out;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return out;
    OwnedFd reader(ends[0]);
    const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
    program.stdoutFd = ends[1];
    const pid_t pid = ChildSpawner::instance().Start(program);
    const int error = errno;
    // Only the child may hold the writing end, or the end of its output
    // would never show.
    ::close(ends[1]);
    if (pid < 0) {
        errno = error;
        return out;
    }
    out.started = true;

    std::string seen;
    char buf[256];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{reader.get(), POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            ChildSpawner::instance().Signal(pid, SIGKILL);
            out.killed = true;
            return out;
        }
        const ssize_t n = ::read(reader.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // End of output: what came without a newline is the line, as
            // fgets has it.
            if (!out.line && !seen.empty()) {
                out.line = true;
                out.text = seen;
            }
            return out;
        }
        if (out.line)
            continue; // read past, as pclose lets the program finish
        seen.append(buf, static_cast<std::size_t>(n));
        const std::size_t newline = seen.find('\n');
        const std::size_t length =
            std::min(newline == std::string::npos ? seen.size() : newline + 1, maxChars);
        if (newline != std::string::npos || seen.size() >= maxChars) {
            out.line = true;
            out.text = seen.substr(0, length);
        }
    }
}

namespace Linux {

namespace {

// The pid in the file, 0 when it holds none.
int ReadPid(int fd)
{
    char text[32];
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    // Blanks after the number: the moment of a rewrite (Write).
    while (*end == ' ')
        ++end;
    return end != text && *end == '\0' && pid > 0 && pid <= INT_MAX ? static_cast<int>(pid) : 0;
}

} // namespace

Run::Run(const char* name) : path_(RootPath("/var/run/") + name + ".pid")
{
    if (!MakeFolders(path_.substr(0, path_.rfind('/')))) {
        error_ = errno;
        return;
    }
    // A holder that stops removes the file while it holds the lock: an open
    // made just before that removal locks a file that is no longer the pid
    // file, and must open again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_SYNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error_ = errno;
            if (error_ == EWOULDBLOCK) {
                error_ = 0;
                taken_ = true;
                holder_ = ReadPid(fd);
            }
            // Any other failure (a file system without locks) guards
            // nothing: a second program would take the same root.
            ::close(fd);
            return;
        }
        struct stat opened {
        }, named{};
        if (::fstat(fd, &opened) == 0 && ::stat(path_.c_str(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            fd_ = fd;
            if (!Write()) {
                // Nothing below the root is ours yet: let it go at once.
                ::unlink(path_.c_str());
                ::close(fd_);
                fd_ = -1;
            }
            return;
        }
        ::close(fd);
    }
    // Replaced under every attempt: some other program keeps renewing it.
    error_ = EAGAIN;
}

bool Run::Write()
{
    if (fd_ < 0)
        return false;
    // Readers (scripts, service managers) look at any moment: the file is
    // never cut to empty first. The new pid covers the old text whole,
    // blanks after it, and only then is the file cut to the pid's length;
    // a reader sees one pid at every step.
    char text[64];
    const int len = std::snprintf(text, sizeof text, "%d", static_cast<int>(::getpid()));
    struct stat st {};
    std::size_t covered = static_cast<std::size_t>(len);
    if (::fstat(fd_, &st) == 0 && st.st_size > len)
        covered = std::min(sizeof text, static_cast<std::size_t>(st.st_size));
    std::memset(text + len, ' ', covered - static_cast<std::size_t>(len));
    errno = 0;
    if (::pwrite(fd_, text, covered, 0) != static_cast<ssize_t>(covered) || ::ftruncate(fd_, len) != 0) {
        // A pid file that does not hold our pid is worse than none: the
        // caller stops, and the file goes with this object, which holds the
        // root until what the caller removes below it is gone.
        error_ = errno != 0 ? errno : EIO;
        return false;
    }
    ::fsync(fd_);
    return true;
}

Run::~Run()
{
    if (fd_ < 0)
        return;
    // Removed while still locked: a newcomer never takes over a file that
    // is about to go.
    ::unlink(path_.c_str());
    ::close(fd_);
}

} // namespace Linux

namespace Console {

void SwitchToBinaryMode()
{
    struct termios t = {};
    if (::tcgetattr(STDIN_FILENO, &t) != 0)
        std::cerr << "can't obtain terminal attributes" << std::endl;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL);
    if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &t) != 0)
        std::cerr << "can't set terminal attributes" << std::endl;
}

void SwitchToNonBlockMode()
{
    int on = 1;
    if (::ioctl(STDIN_FILENO, FIONBIO, &on) != 0)
        std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

} // namespace Console
