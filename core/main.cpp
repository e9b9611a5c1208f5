// The server's process entry, for now: run the event loop, with the hardware
// watchdog and the live clock, until SIGTERM or SIGINT.

#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/multiplexer.hpp"
#include "core/signal.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Self-pipe: the handler's write wakes a poll that started just before the
// stop flag was set (and gives the loop a descriptor to wait on).
int g_wake_fd = -1;

void SigTermHandler(int, siginfo_t*, void*)
{
    const int saved = errno;
    multiplexer.terminate();
    if (g_wake_fd >= 0) {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(g_wake_fd, &byte, 1);
    }
    errno = saved;
}

class Wakeup {
public:
    bool Open()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        read_.reset(fds[0]);
        write_.reset(fds[1]);
        g_wake_fd = write_.get();
        event_.Bind("main::OnWakeup", &Wakeup::OnWakeup, this);
        event_.Schedule(read_.fd(), POLLIN);
        return true;
    }
    ~Wakeup() { g_wake_fd = -1; }

private:
    void OnWakeup(int fd, short revents)
    {
        if ((revents & POLLIN) == 0)
            return;
        char buf[64];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
    }

    OwnedFd read_;
    OwnedFd write_;
    Event event_;
};

} // namespace

int main()
{
    Wakeup wakeup;
    if (!wakeup.Open())
        return 1;
    IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
    IPC::Signal::handle(SIGINT, SigTermHandler, 0);
    IPC::Signal::ignore(SIGPIPE);
    multiplexer.run(true, true);
    return 0;
}
