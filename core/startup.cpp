#include "core/startup.hpp"

#include "core/daemon.hpp"
#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/multiplexer.hpp"
#include "core/paths.hpp"
#include "core/signal.hpp"
#include "core/traces.hpp"
#include "core/version.hpp"

#include <fstream>
#include <iostream>
#include <sstream>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;

namespace {
volatile std::sig_atomic_t wake_fd = -1;
} // namespace

struct SignalWakeup::Impl {
    OwnedFd rd;
    OwnedFd wr;
    Event event;
};

SignalWakeup::SignalWakeup() : impl_(new Impl)
{}

SignalWakeup::~SignalWakeup()
{
    Close();
    delete impl_;
}

bool SignalWakeup::Open()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    impl_->rd.reset(fds[0]);
    impl_->wr.reset(fds[1]);
    impl_->event.Bind("SignalWakeup::OnWakeup", &SignalWakeup::OnWakeup, this);
    if (!impl_->event.Schedule(impl_->rd.fd(), POLLIN)) {
        Close();
        return false;
    }
    wake_fd = fds[1];
    return true;
}

void SignalWakeup::Close()
{
    wake_fd = -1;
    impl_->event.Release();
    impl_->rd.reset();
    impl_->wr.reset();
}

void SignalWakeup::Wake()
{
    int fd = wake_fd;
    if (fd < 0)
        return;
    int saved = errno;
    char b = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t n = ::write(fd, &b, 1);
    errno = saved;
}

void SignalWakeup::OnWakeup(int fd, short revents)
{
    if ((revents & POLLIN) == 0)
        return;
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {}
}

void SigTermHandler(int, siginfo_t*, void*)
{
    multiplexer.terminate();
    SignalWakeup::Wake();
}

void SigUsr2Handler(int, siginfo_t*, void*)
{
    doDumpStatus = 1;
    SignalWakeup::Wake();
}

void SigHupHandler(int, siginfo_t*, void*)
{
    updateResources = 1;
    SignalWakeup::Wake();
}

void SigPipeHandler(int, siginfo_t*, void*)
{}

void InstallSignalHandlers()
{
    IPC::Signal::handle(SIGPIPE, &SigPipeHandler, SA_RESTART);
    IPC::Signal::handle(SIGTERM, &SigTermHandler, 0);
    IPC::Signal::handle(SIGINT, &SigTermHandler, 0);
    IPC::Signal::handle(SIGUSR2, &SigUsr2Handler, SA_RESTART);
    IPC::Signal::handle(SIGHUP, &SigHupHandler, SA_RESTART);
}

void DumpStatus(std::ostream& os)
{
    os << "server status information. traces:";
    for (int i = 0; i < TraceCtl::count; ++i)
        if (traces[static_cast<TraceCtl::Switch>(i)])
            os << ' ' << TraceCtl::keys[i];
    os << std::endl;
    os << "version : ";
    Version::current.put(os);
    os << std::endl;
    multiplexer.dump(os);
}

void CheckDumpStatus()
{
    if (!doDumpStatus)
        return;
    doDumpStatus = 0; // one request, one attempt
    const std::string path = RootPath("/var/log/server-status");
    errno = 0;
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (!file) {
        // The open's own errno: what a user must mend (a missing folder, a
        // full or read-only disk, the rights).
        const int error = errno;
        std::cerr << "dump status error: " << path << ": "
                  << (error != 0 ? std::strerror(error) : "cannot be opened") << std::endl;
        return;
    }
    DumpStatus(file);
}

void RunDaemon()
{
    std::ostringstream ident;
    ident << "mrv-";
    Version::current.put(ident);
    Daemon::Params params;
    params.name = ident.str();
    Daemon::Init(params);
}

namespace {

// The daemon's word: one byte, '0' ready or '1' failed, the text for the
// terminal and a line end. One write below PIPE_BUF arrives whole.
constexpr char kReady = '0';
constexpr char kFailed = '1';

// The starting process: it only reads the daemon's word and exits, by
// _exit. Its destructors must not run: the pid file, its lock and the
// board's sessions now belong to the daemon.
[[noreturn]] void AwaitDaemon(int fd, pid_t child)
{
    std::string word;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        word.append(buf, static_cast<std::size_t>(n));
        if (word.find('\n') != std::string::npos)
            break;
    }
    ::close(fd);
    // The child that called daemon(): its status says whether daemon()
    // failed (it said so on this terminal).
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    int code = 1;
    std::string text;
    if (!word.empty() && (word[0] == kReady || word[0] == kFailed)) {
        code = word[0] == kReady ? 0 : 1;
        text = word.substr(1, word.find('\n') - 1);
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        code = WEXITSTATUS(status);
    } else {
        // Ended without a word: killed, or out of memory.
        text = "server not started: the daemon ended before it served";
    }
    if (!text.empty())
        std::cerr << text << std::endl;
    std::cout.flush();
    ::_exit(code);
}

} // namespace

bool DaemonStart::Detach()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    // Both halves would print what is buffered.
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(ends[0]);
        ::close(ends[1]);
        errno = error;
        return false;
    }
    if (child > 0) {
        ::close(ends[1]);
        AwaitDaemon(ends[0], child);
    }
    ::close(ends[0]);
    fd_.reset(ends[1]);
    RunDaemon();
    return true;
}

void DaemonStart::Ready(const std::string& note)
{
    Tell(kReady, note);
}

void DaemonStart::Failed(const std::string& reason)
{
    Tell(kFailed, reason);
}

void DaemonStart::Tell(char status, const std::string& text)
{
    if (!fd_)
        return;
    std::string word(1, status);
    word += text;
    word += '\n';
    std::size_t done = 0;
    while (done < word.size()) {
        const ssize_t n = ::write(fd_.get(), word.data() + done, word.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    fd_.reset();
}
