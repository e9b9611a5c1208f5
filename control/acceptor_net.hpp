#pragma once
// TCP listener that serves exactly one connection at a time and refuses
// every further one while that connection is up. The checking variant
// probes the served connection when a newcomer is refused, so that a host
// whose earlier connection died unnoticed gets in again within seconds.

#include "control/service.hpp"
#include "control/stream_acceptor.hpp"
#include "core/fd.hpp"
#include "core/timer.hpp"

#include <cstdint>

#include <sys/socket.h>

namespace Control {

class AcceptorNet : public StreamAcceptor<ServiceNet, INet4::Addr> {
public:
    AcceptorNet();
    explicit AcceptorNet(int port);
    AcceptorNet(int port, bool log);
    ~AcceptorNet() override;

    // The port the listening socket is bound to (useful with port 0); 0 when
    // not listening.
    int local_port() const;

    // System calls behind the listening socket; tests replace them to make
    // them fail.
    static int (*sys_socket)(int, int, int);
    static int (*sys_listen)(int, int);
    static int (*sys_getsockopt)(int, int, int, void*, socklen_t*);
    // The duplicate the connection check keeps of the served socket.
    static int (*sys_dup)(Fd);

protected:
    int CreateSocket() override;
    int BindAddress(int fd) override;
    int ListenOn(int fd) override;
    int AcceptPeer(int fd, INet4::Addr& peer) override;

    std::uint16_t port_ = 0;
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
    // The descriptor the check works on: its own duplicate, or the stream
    // layer's descriptor of the same connection when no duplicate could be
    // had; -1 when neither is there.
    int CheckedFd() const;

    Timer check_timer_;
    OwnedFd check_fd_;
    CheckConnectionState check_state_ = CheckConnectionState::Idle;
    int countdown_ = 0;
    // A failed read of the pending error was logged; cleared by the next
    // read that succeeds.
    bool check_failure_logged_ = false;
};

} // namespace Control
