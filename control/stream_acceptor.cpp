#include "control/stream_acceptor.hpp"

#include "control/acceptor_net.hpp"
#include "control/unix_connection.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <poll.h>

namespace Control {

template <class Base, class Peer>
StreamAcceptor<Base, Peer>::StreamAcceptor(char const* event_name)
{
    accept_event_.Bind(event_name, &StreamAcceptor::OnSocketEvent, this);
}

template <class Base, class Peer>
StreamAcceptor<Base, Peer>::~StreamAcceptor()
{
    bind_timer_.reset();
    accept_event_.Release();
}

template <class Base, class Peer>
bool StreamAcceptor<Base, Peer>::OpenSocket()
{
    int fd = CreateSocket();
    if (fd < 0) {
        setup_error_ = errno;
        if (this->log_)
            std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
        listen_.reset();
        return false;
    }
    listen_.reset(fd);
    return true;
}

template <class Base, class Peer>
bool StreamAcceptor<Base, Peer>::ImplActivate()
{
    if (!OpenSocket())
        return false;
    BindSocket();
    return true;
}

template <class Base, class Peer>
void StreamAcceptor<Base, Peer>::ScheduleRebind()
{
    bind_timer_.set(bind_retry_ms, &StreamAcceptor::OnTimeout, this);
}

template <class Base, class Peer>
void StreamAcceptor<Base, Peer>::RetryLater()
{
    accept_event_.Release();
    listen_.reset();
    ScheduleRebind();
}

template <class Base, class Peer>
void StreamAcceptor<Base, Peer>::BindSocket()
{
    if (BindAddress(listen_.get()) != 0) {
        setup_error_ = errno;
        if (this->log_)
            std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\" "
                      << " waiting..." << std::endl;
        ScheduleRebind();
        return;
    }
    if (ListenOn(listen_.get()) != 0) {
        setup_error_ = errno;
        if (this->log_)
            std::cerr << "can't listen socket: " << std::strerror(errno) << "  waiting..." << std::endl;
        RetryLater();
        return;
    }
    if (!listen_.fd().NonBlock()) {
        setup_error_ = errno;
        if (this->log_)
            std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << "  waiting..."
                      << std::endl;
        RetryLater();
        return;
    }
    // Unwatched, the socket would take connections that nobody serves.
    if (!accept_event_.Schedule(listen_.fd(), POLLIN)) {
        setup_error_ = errno;
        if (this->log_)
            std::cerr << "can't watch socket: " << std::strerror(errno) << "  waiting..." << std::endl;
        RetryLater();
        return;
    }
    setup_error_ = 0;
}

template <class Base, class Peer>
void StreamAcceptor<Base, Peer>::OnTimeout(Timer*)
{
    if (!listen_) {
        if (!OpenSocket()) {
            ScheduleRebind();
            return;
        }
    }
    BindSocket();
}

template <class Base, class Peer>
void StreamAcceptor<Base, Peer>::OnSocketEvent(int fd, short revents)
{
    using State = typename Base::State;
    if (!(revents & POLLIN))
        return;
    for (;;) {
        Peer peer{};
        int s = AcceptPeer(fd, peer);
        if (s < 0) {
            int const error = errno;
            if (accept_pause_.Failed(accept_event_, error) && accept_pause_.first() && this->log_)
                std::cerr << "can't accept connection: " << std::strerror(error) << std::endl;
            return;
        }
        accept_pause_.Accepted();
        OwnedFd sock(s);
        if (this->state_ == State::Deactivating) {
            // The served connection is still being torn down: this one
            // cannot be attached now, and keeping it would leave its peer
            // waiting on a connection nobody reads.
            if (this->log_)
                std::cerr << "refuse connection from " << peer << std::endl;
            continue;
        }
        if (this->state_ != State::Connected) {
            if (!sock.fd().NonBlock()) {
                if (this->log_)
                    std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
                continue;
            }
            if (this->log_)
                std::cout << "new connection from " << peer << std::endl;
            this->Connected(sock.fd(), peer);
            // A connection the stack could not take is being dropped: a
            // duplicate kept now would hold it open for its peer.
            if (this->state_ == State::Connected)
                ImplConnected(sock.fd());
            continue;
        }
        if (this->log_)
            std::cerr << "refuse connection from " << peer << std::endl;
        ImplRefuseConnection();
    }
}

template <class Base, class Peer>
void StreamAcceptor<Base, Peer>::ImplDeactivate()
{
    bind_timer_.reset();
    accept_event_.Release();
    listen_.reset();
}

template class StreamAcceptor<ServiceNet, INet4::Addr>;
template class StreamAcceptor<ServiceUnix, std::string>;

} // namespace Control
