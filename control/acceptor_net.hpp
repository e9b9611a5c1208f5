#pragma once
// TCP listener that serves exactly one connection at a time and refuses
// every further one while that connection is up. The checking variant
// probes the served connection when a newcomer is refused, so that a host
// whose earlier connection died unnoticed gets in again within seconds.

#include "control/service.hpp"
#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/timer.hpp"

#include <cstdint>

namespace Control {

class AcceptorNet : public ServiceNet {
public:
    static constexpr unsigned int bind_retry_ms = 5000;

    AcceptorNet();
    explicit AcceptorNet(int port);
    AcceptorNet(int port, bool log);
    ~AcceptorNet() override;

    // The port the listening socket is bound to (useful with port 0); 0 when
    // not listening.
    int local_port() const;
    bool listening() const noexcept { return static_cast<bool>(accept_event_.fd()); }
    bool bind_retry_pending() const noexcept { return static_cast<bool>(bind_timer_); }

    void OnTimeout(Timer*);
    void OnSocketEvent(int fd, short revents);

    // System calls behind the listening socket; tests replace them to make
    // them fail.
    static int (*sys_socket)(int, int, int);
    static int (*sys_listen)(int, int);

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}
    virtual void ImplRefuseConnection() {}
    virtual void ImplConnected(Fd) {}

    // Opens the listening socket; false (logged) when socket() fails.
    bool OpenSocket();
    void BindSocket();
    // A listening socket that could not be set up is closed and the whole
    // set-up retried later, never left listening nowhere.
    void RetryLater();

    std::uint16_t port_ = 0;
    OwnedFd listen_;
    Timer bind_timer_;
    Event accept_event_;
};

class AcceptorNetCheckConnection : public AcceptorNet {
public:
    enum class CheckConnectionState { Idle = 0, CheckConnection = 1 };
    static constexpr unsigned int check_period_ms = 1000;

    AcceptorNetCheckConnection();
    explicit AcceptorNetCheckConnection(int port);
    AcceptorNetCheckConnection(int port, bool log);
    ~AcceptorNetCheckConnection() override;

    void OnCheckConnectionTimeout(Timer*);

    CheckConnectionState check_state() const noexcept { return check_state_; }
    int countdown() const noexcept { return countdown_; }
    Fd check_fd() const noexcept { return check_fd_.fd(); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplRefuseConnection() override;
    void ImplConnected(Fd fd) override;
    void on_deactivated(Protocol* p, Protocol_status status) override;

    void CheckConnection();
    void SetupKeepAlive(bool quick);

    Timer check_timer_;
    OwnedFd check_fd_;
    CheckConnectionState check_state_ = CheckConnectionState::Idle;
    int countdown_ = 0;
};

} // namespace Control
