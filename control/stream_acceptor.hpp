#pragma once
// The listening half shared by the TCP and Unix-domain acceptors: one
// connection served at a time, newcomers refused while it is up, and a
// listening socket that is set up again every few seconds until it stands.
// The address family is behind four hooks.

#include "core/accept_pause.hpp"
#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/timer.hpp"

namespace Control {

// `Base` is the service the accepted connection is attached to; `Peer` is
// how that service names the peer (what its Connected() takes).
template <class Base, class Peer>
class StreamAcceptor : public Base {
public:
    static constexpr unsigned int bind_retry_ms = 5000;

    ~StreamAcceptor() override;

    bool listening() const noexcept { return static_cast<bool>(accept_event_.fd()); }
    bool bind_retry_pending() const noexcept { return static_cast<bool>(bind_timer_); }
    // Why the listening socket is not set up yet (an errno); 0 once it is.
    int setup_error() const noexcept { return setup_error_; }

    void OnTimeout(Timer*);
    void OnSocketEvent(int fd, short revents);

protected:
    // `event_name` names the accept event in the loop's traces.
    explicit StreamAcceptor(char const* event_name);

    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}
    virtual void ImplRefuseConnection() {}
    virtual void ImplConnected(Fd) {}

    // A new close-on-exec listening socket with its options set; -1 with
    // errno set when socket() fails.
    virtual int CreateSocket() = 0;
    // bind() and listen() on the listening socket; 0 or -1 with errno set.
    virtual int BindAddress(int fd) = 0;
    virtual int ListenOn(int fd) = 0;
    // accept4() of one close-on-exec connection, filling `peer`.
    virtual int AcceptPeer(int fd, Peer& peer) = 0;

    // Opens the listening socket; false (logged) when socket() fails.
    bool OpenSocket();
    void BindSocket();
    // A listening socket that could not be set up is closed and the whole
    // set-up retried later, never left listening nowhere.
    void RetryLater();
    void ScheduleRebind();

    OwnedFd listen_;
    Timer bind_timer_;
    Event accept_event_;
    AcceptPause accept_pause_;
    int setup_error_ = 0;
};

} // namespace Control
