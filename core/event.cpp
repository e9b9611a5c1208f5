#include "core/event.hpp"

#include "core/multiplexer.hpp"

#include <cerrno>

#include <poll.h>

EventHandler::~EventHandler()
{
    if (attached)
        multiplexer.detach(this);
}

void EventHandler::mux_attach()
{
    if (!attached) {
        multiplexer.attach(this);
        attached = true;
    }
}

void EventHandler::mux_detach()
{
    if (attached) {
        multiplexer.detach(this);
        attached = false;
    }
}

Event::~Event()
{
    handler_.reset();
    if (fd_)
        mux_detach();
}

bool Event::Schedule(Fd fd, short events)
{
    if (fd_)
        mux_detach();
    if (fd.get() != fd_.get()) {
        const int copy = fd.dup();
        const int error = errno;
        fd_.reset(copy);
        errno = error;
    }
    events_ = events;
    if (!fd_) {
        if (!fd)
            errno = EBADF;
        return false;
    }
    mux_attach();
    return true;
}

void Event::Release()
{
    if (fd_)
        mux_detach();
    fd_.reset();
}

void Event::shedule_event(pollfd& entry)
{
    entry.fd = fd_.get();
    entry.events = events_;
    entry.revents = 0;
}

void Event::svc_event(short rev)
{
    if ((rev & events_) != 0)
        ++count_;
    if (handler_)
        handler_->Invoke(fd_.get(), rev);
}
