#include "core/async.hpp"

#include "core/inet.hpp"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ASync {

// ---------------------------------------------------------------- Copy

Copy::Copy() = default;

Copy::~Copy() = default;

void Copy::Request(Event& ev, short events)
{
    // Re-scheduling on the event's own descriptor only changes the mask; a
    // released event stays released.
    ev.Schedule(ev.fd(), events);
}

void Copy::set_events(const EventsParams& events)
{
    events_ = events;
    Complete(Status::Aborted);
}

void Copy::set_bufsize(unsigned n)
{
    bufsize_ = n;
    buffer_ = std::make_unique<unsigned char[]>(n);
    wpos_ = end_ = nullptr;
    Complete(Status::Aborted);
}

int Copy::Start(Fd source, Fd destination)
{
    status_ = Status::Running;
    src_.reset(source.dup());
    dst_.reset(destination.dup());

    src_event_.Release();
    dst_event_.Release();
    src_event_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
    dst_event_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
    if (!buffer_) {
        bufsize_ = 1024;
        buffer_ = std::make_unique<unsigned char[]>(bufsize_);
    }
    error_ = 0;
    copied_ = 0;
    wpos_ = end_ = nullptr;
    // Without either descriptor, or with one unwatched, the copy would fail
    // on a descriptor it does not have or wait for ever: it fails now, with
    // the reason, before anything is read from the source.
    const bool kept = src_ && dst_;
    if (!kept || !src_event_.Schedule(src_.fd(), 0) || !dst_event_.Schedule(dst_.fd(), 0)) {
        error_ = errno;
        Complete(Status::Failed);
        return 0;
    }
    next_ = &Copy::ReadStep;
    Progress();
    return 0;
}

void Copy::Stop()
{
    if (status_ != Status::Running)
        return;
    // A pending block keeps the write step waiting on the destination.
    FinishInput();
}

// A step returns true to run the next step at once. A step that completes
// the copy returns false and nothing touches the object afterwards: the
// handler may have destroyed it.
void Copy::Progress()
{
    while (next_ != nullptr) {
        Step step = next_;
        if (!(this->*step)())
            return;
    }
}

bool Copy::ReadStep()
{
    ssize_t n = ::read(src_.get(), buffer_.get(), bufsize_);
    if (n > 0) {
        wpos_ = buffer_.get();
        end_ = wpos_ + n;
        Request(src_event_, 0);
        Request(dst_event_, events_.write);
        next_ = &Copy::WriteStep;
        return true;
    }
    if (n == 0)
        return FinishInput();
    if (errno == EINTR)
        return true;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        Request(src_event_, events_.read);
        Request(dst_event_, 0);
        return false;
    }
    if (copied_ == 0) {
        Complete(Status::Failed);
        return false;
    }
    // What was copied stands; a late read error ends the input.
    return FinishInput();
}

bool Copy::WriteStep()
{
    ssize_t n = ::write(dst_.get(), wpos_, static_cast<std::size_t>(end_ - wpos_));
    if (n < 0) {
        if (errno == EINTR)
            return true;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Request(src_event_, 0);
            Request(dst_event_, events_.write);
            return false;
        }
        error_ = errno;
        Complete(Status::Failed);
        return false;
    }
    if (n == 0) {
        error_ = 0;
        Complete(Status::Failed);
        return false;
    }
    copied_ += static_cast<unsigned>(n);
    wpos_ += n;
    if (wpos_ < end_)
        return true;
    if (status_ == Status::Finishing)
        return FlushStage();
    Request(src_event_, events_.read);
    Request(dst_event_, 0);
    next_ = &Copy::ReadStep;
    return true;
}

bool Copy::FinishInput()
{
    src_event_.Release();
    src_.reset();
    if (wpos_ < end_) {
        status_ = Status::Finishing;
        next_ = &Copy::WriteStep;
        return true;
    }
    return FlushStage();
}

bool Copy::FlushStage()
{
    if (events_.flush != 0) {
        Request(dst_event_, events_.flush);
        next_ = nullptr;
        status_ = Status::Flushing;
        return false;
    }
    Complete(Status::Done);
    return false;
}

void Copy::Complete(Status::Type status)
{
    if (status_ != Status::Running && status_ != Status::Finishing && status_ != Status::Flushing)
        return;
    // The callbacks stay bound (one of them may be running right now); with
    // both events released they are never called.
    status_ = status;
    src_event_.Release();
    dst_event_.Release();
    src_.reset();
    dst_.reset();
    next_ = nullptr;
    wpos_ = end_ = nullptr;
    if (handler_)
        handler_->Invoke(status); // may destroy or restart this copy
}

void Copy::OnSrcEvent(int, short revents)
{
    if ((revents & events_.read) != 0) {
        Progress();
        return;
    }
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        // The read step sees the end or the error.
        src_event_.Release();
        Progress();
    }
}

void Copy::OnDstEvent(int, short revents)
{
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        error_ = 0;
        Complete(Status::Failed);
        return;
    }
    if (status_ == Status::Running || status_ == Status::Finishing) {
        if ((revents & events_.write) != 0)
            Progress();
    } else if (status_ == Status::Flushing) {
        if ((revents & events_.flush) != 0)
            Complete(Status::Done);
    }
}

// ------------------------------------------------------------- Connect

Connect::~Connect() = default;

void Connect::Start(const std::string& address, unsigned timeout)
{
    event_.Release();
    timer_.reset();
    status_ = Status::Connecting;
    socket_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socket_ || !socket_.fd().NonBlock()) {
        Complete(Status::Failed);
        return;
    }

    INet4::Addr addr;
    addr.Reset();
    // An address that does not convert must fail here: connecting the reset
    // address would reach 0.0.0.0, that is this host.
    if (!addr.Assign(address, nullptr)) {
        Complete(Status::Failed);
        return;
    }

    if (::connect(socket_.get(), addr.sa(), INet4::Addr::size()) == 0) {
        Complete(Status::Connected);
        return;
    }
    if (errno != EINPROGRESS) {
        Complete(Status::Failed);
        return;
    }
    event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
    if (!event_.Schedule(socket_.fd(), POLLOUT)) {
        Complete(Status::Failed);
        return;
    }
    timer_.set(timeout, &Connect::OnTimeout, this);
}

void Connect::Stop()
{
    Complete(Status::Stopped);
}

void Connect::OnSocketEvent(int fd, short revents)
{
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        Complete(Status::Failed);
        return;
    }
    if ((revents & POLLOUT) == 0)
        return;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err != 0)
        Complete(Status::Failed);
    else
        Complete(Status::Connected);
}

void Connect::OnTimeout(Timer*)
{
    Complete(Status::Failed);
}

void Connect::Complete(Status::Type status)
{
    if (status_ != Status::Connecting)
        return;
    Fd kept(status == Status::Connected ? socket_.fd().dup() : -1);
    // A connection without a descriptor to hand over is of no use to the
    // handler: out of descriptors, the connect has failed.
    Fd given(kept.dup());
    if (status == Status::Connected && !given)
        status = Status::Failed;
    status_ = status;
    socket_.reset();
    event_.Release();
    timer_.reset();
    if (handler_) {
        // The handler takes its own duplicate if it wants the connection.
        handler_->Invoke(status, given); // may destroy or restart this object
    }
    given.close();
    kept.close();
}

} // namespace ASync
