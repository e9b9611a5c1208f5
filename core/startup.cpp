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
#include <cstdlib>
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

void KeepStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // Inherited by the programs the server starts, as a standard
        // descriptor is: not close-on-exec. The lowest free number is `fd`
        // itself, those below it being open by now.
        const int null = ::open("/dev/null", O_RDWR);
        if (null > fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

namespace {

// The daemon's words to the starting process, each one byte of kind, a text
// and a line end; one write below PIPE_BUF arrives whole. First its pid, so
// that a stop can be passed on to it; then '0' ready (the text for the
// terminal) or '1' failed (the reason).
constexpr char kPid = 'P';
constexpr char kReady = '0';
constexpr char kFailed = '1';

volatile std::sig_atomic_t start_interrupted = 0;

void OnStartInterrupted(int)
{
    start_interrupted = 1;
}

// The daemon's last word ('0' or '1') and its text, kind 0 when none came;
// and its pid, 0 when it has not said it.
struct Word {
    char kind = 0;
    std::string text;
    pid_t daemon = 0;
};

Word LastWord(const std::string& words)
{
    Word word;
    for (std::size_t at = 0, eol; (eol = words.find('\n', at)) != std::string::npos; at = eol + 1) {
        const std::string text = words.substr(at + 1, eol - at - 1);
        if (words[at] == kPid)
            word.daemon = static_cast<pid_t>(std::atol(text.c_str()));
        else if (words[at] == kReady || words[at] == kFailed)
            word = {words[at], text, word.daemon};
    }
    return word;
}

// The starting process: it only reads the daemon's words and exits, by
// _exit. Its destructors must not run: the pid file, its lock and the
// board's sessions now belong to the daemon. SIGTERM and SIGINT are blocked
// but while it waits (`waiting` is the mask to wait with).
[[noreturn]] void AwaitDaemon(int fd, pid_t child, const sigset_t& waiting)
{
    IPC::Signal::handle(SIGTERM, &OnStartInterrupted, 0);
    IPC::Signal::handle(SIGINT, &OnStartInterrupted, 0);
    std::string words;
    char buf[512];
    for (;;) {
        if (start_interrupted != 0 || LastWord(words).kind != 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::ppoll(&p, 1, nullptr, &waiting) < 0 && errno == EINTR)
            continue; // a signal: looked at above
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        words.append(buf, static_cast<std::size_t>(n));
    }
    if (start_interrupted != 0) {
        // The daemon's pid, when it has said it: what is in the pipe now.
        // One that has not said it yet finds the pipe closed at its next
        // word, and stops by itself.
        NonBlockMode(fd);
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
            words.append(buf, static_cast<std::size_t>(n));
        if (const pid_t daemon = LastWord(words).daemon; daemon > 0)
            ::kill(daemon, SIGTERM);
        std::cerr << "server not started: the start was interrupted" << std::endl;
        ::_exit(1);
    }
    ::close(fd);
    // The child that called daemon(): its status says whether daemon()
    // failed (it said so on this terminal).
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    const Word word = LastWord(words);
    int code = 1;
    std::string text = word.text;
    if (word.kind != 0) {
        code = word.kind == kReady ? 0 : 1;
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
    // A stop that came before the fork is the daemon's too: its flag is
    // copied. One that comes after it is the starter's, taken only while it
    // waits, so that none slips in unseen.
    sigset_t stops;
    sigset_t saved;
    ::sigemptyset(&stops);
    ::sigaddset(&stops, SIGTERM);
    ::sigaddset(&stops, SIGINT);
    ::sigprocmask(SIG_BLOCK, &stops, &saved);
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::sigprocmask(SIG_SETMASK, &saved, nullptr);
        ::close(ends[0]);
        ::close(ends[1]);
        errno = error;
        return false;
    }
    if (child > 0) {
        ::close(ends[1]);
        AwaitDaemon(ends[0], child, saved);
    }
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
    ::close(ends[0]);
    fd_.reset(ends[1]);
    RunDaemon();
    // Before the first log line, which may wait for the log's reader.
    Tell(kPid, std::to_string(::getpid()));
    return true;
}

bool DaemonStart::Ready(const std::string& note)
{
    std::string reason;
    if (multiplexer.stopping())
        reason = "server stopped before it served";
    else if (!Tell(kReady, note))
        reason = "server stopped before it served: its start was interrupted";
    if (!reason.empty()) {
        std::cerr << reason << std::endl;
        Failed(reason);
    }
    fd_.reset();
    return reason.empty();
}

void DaemonStart::Failed(const std::string& reason)
{
    Tell(kFailed, reason);
    fd_.reset();
}

bool DaemonStart::Tell(char kind, const std::string& text)
{
    if (!fd_)
        return false;
    std::string word(1, kind);
    word += text;
    word += '\n';
    std::size_t done = 0;
    while (done < word.size()) {
        const ssize_t n = ::write(fd_.get(), word.data() + done, word.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
