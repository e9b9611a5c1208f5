#include "core/accept_pause.hpp"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int spare_fd = -1;

void Reserve()
{
    if (spare_fd < 0)
        spare_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// With the spare given up one descriptor is free: every queued connection
// is taken and closed with it, then the spare is had back.
void DropQueued(int listener)
{
    if (spare_fd < 0 || listener < 0)
        return;
    ::close(spare_fd);
    spare_fd = -1;
    // Bounded: newcomers that keep arriving wait for the next pause.
    for (int n = 0; n < 64; ++n) {
        const int s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0)
            break;
        ::close(s);
    }
    Reserve();
}

} // namespace

AcceptPause::AcceptPause()
{
    Reserve();
}

int AcceptPause::spare()
{
    return spare_fd;
}

bool AcceptPause::Failed(Event& event, int error)
{
    if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM)
        return false;
    first_ = !logged_;
    logged_ = true;
    if (error == EMFILE || error == ENFILE)
        DropQueued(event.fd().get());
    event_ = &event;
    event.Schedule(event.fd(), 0);
    timer_.set(kPauseMs, &AcceptPause::OnTimeout, this);
    return true;
}

void AcceptPause::OnTimeout(Timer*)
{
    if (event_->events() == 0)
        event_->Schedule(event_->fd(), POLLIN);
}
