#include "core/process.hpp"

#include "core/paths.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <csignal>
#include <ctime>
#include <sys/ioctl.h>
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

    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;

    if (program.stdinFd == STDIN_FILENO)
        ::fcntl(STDIN_FILENO, F_SETFD, 0);
    else if (program.stdinFd >= 0)
        ::dup2(program.stdinFd, STDIN_FILENO);
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

namespace Linux {

Run::Run(const char* name) : path_(RootPath("/var/run/") + name + ".pid")
{
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return;
    char text[32];
    const int len = std::snprintf(text, sizeof text, "%d", static_cast<int>(::getpid()));
    if (::write(fd_, text, static_cast<std::size_t>(len)) != len) {
        // A pid file that does not hold our pid is worse than none.
        ::close(fd_);
        ::unlink(path_.c_str());
        fd_ = -1;
        return;
    }
    ::fsync(fd_);
}

Run::~Run()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    ::unlink(path_.c_str());
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
