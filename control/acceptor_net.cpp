#include "control/acceptor_net.hpp"

#include "control/strm_protocol.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

int (*AcceptorNet::sys_socket)(int, int, int) = &::socket;
int (*AcceptorNet::sys_listen)(int, int) = &::listen;
int (*AcceptorNet::sys_getsockopt)(int, int, int, void*, socklen_t*) = &::getsockopt;
int (*AcceptorNet::sys_dup)(Fd) = [](Fd fd) { return fd.dup(); };

AcceptorNet::AcceptorNet() : AcceptorNet(0)
{}

AcceptorNet::AcceptorNet(int port)
    : StreamAcceptor("AcceptorNet::OnSocketEvent"), port_(static_cast<std::uint16_t>(port))
{}

AcceptorNet::AcceptorNet(int port, bool log) : AcceptorNet(port)
{
    log_ = log;
}

AcceptorNet::~AcceptorNet() = default;

int AcceptorNet::local_port() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (!listen_ || getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

int AcceptorNet::CreateSocket()
{
    int fd = sys_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0)
        return fd;
    SetCloexec(fd, true);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return fd;
}

int AcceptorNet::BindAddress(int fd)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

int AcceptorNet::ListenOn(int fd)
{
    return sys_listen(fd, 1);
}

int AcceptorNet::AcceptPeer(int fd, INet4::Addr& peer)
{
    socklen_t len = INet4::Addr::size();
    return accept4(fd, peer.sa(), &len, SOCK_CLOEXEC);
}

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNet()
{}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port) : AcceptorNet(port)
{}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool log) : AcceptorNet(port, log)
{}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection()
{
    check_timer_.reset();
}

bool AcceptorNetCheckConnection::ImplActivate()
{
    // The control port must come up eventually: a socket that cannot be
    // had now is tried again like a port in use.
    if (!AcceptorNet::ImplActivate())
        ScheduleRebind();
    CheckConnection();
    return true;
}

void AcceptorNetCheckConnection::ImplDeactivate()
{
    check_timer_.reset();
    // The duplicate would keep the served connection open after the stack
    // let it go.
    check_fd_.reset();
    check_state_ = CheckConnectionState::Idle;
    AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplConnected(Fd fd)
{
    check_failure_logged_ = false;
    check_fd_.reset(sys_dup(fd));
    // Descriptors ran out: the connection is served all the same, and the
    // check works on the stream layer's descriptor of it.
    if (!check_fd_ && log_)
        std::cerr << "connection from " << name_
                  << ": no descriptor of its own for the check: " << std::strerror(errno) << std::endl;
}

int AcceptorNetCheckConnection::CheckedFd() const
{
    return check_fd_ ? check_fd_.get() : stream().socket().get();
}

void AcceptorNetCheckConnection::on_deactivated(Protocol* p, Protocol_status status)
{
    // Without this the duplicate holds the connection open: the host of a
    // dropped connection would see no EOF until the next host arrives.
    check_fd_.reset();
    check_state_ = CheckConnectionState::Idle;
    AcceptorNet::on_deactivated(p, status);
}

void AcceptorNetCheckConnection::ImplRefuseConnection()
{
    if (check_state_ != CheckConnectionState::Idle)
        return;
    check_state_ = CheckConnectionState::CheckConnection;
    countdown_ = 2;
    SetupKeepAlive(true);
    if (log_)
        std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool quick)
{
    int const fd = CheckedFd();
    if (fd < 0)
        return;
    int on = 1;
    int idle = quick ? 1 : 7200;
    int intvl = quick ? 1 : 75;
    int cnt = quick ? 3 : 9;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof intvl);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &cnt, sizeof cnt);
}

void AcceptorNetCheckConnection::CheckConnection()
{
    int const fd = CheckedFd();
    if (state_ == State::Connected && fd >= 0) {
        bool dead = false;
        // The first two octets of struct tcp_info: TCP state, congestion
        // avoidance state.
        // A kernel (or emulator) may return fewer octets than asked for: a
        // field it did not fill says nothing about the connection.
        unsigned char info[92] = {};
        socklen_t len = sizeof info;
        if (sys_getsockopt(fd, IPPROTO_TCP, TCP_INFO, info, &len) == 0 && len >= 1) {
            if (info[0] != TCP_ESTABLISHED) {
                if (log_)
                    std::cerr << "connection from " << name_ << " closed: tcp socket change state."
                              << std::endl;
                dead = true;
            } else if (check_state_ == CheckConnectionState::CheckConnection && len >= 2) {
                if (info[1] != 0) {
                    if (countdown_ > 0)
                        --countdown_;
                    if (countdown_ <= 0) {
                        if (log_)
                            std::cerr << "connection from " << name_ << " closed: tcp socket change ca_state."
                                      << std::endl;
                        dead = true;
                    }
                } else {
                    check_state_ = CheckConnectionState::Idle;
                    SetupKeepAlive(false);
                    if (log_)
                        std::cerr << "CheckConnectionState Idle" << std::endl;
                }
            }
        }
        int err = 0;
        socklen_t elen = sizeof err;
        if (sys_getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &elen) != 0) {
            // The server's own call failed: that says nothing about the
            // peer. The next check asks again.
            if (!check_failure_logged_ && log_)
                std::cerr << "connection from " << name_ << ": check failed: " << std::strerror(errno)
                          << std::endl;
            check_failure_logged_ = true;
        } else {
            check_failure_logged_ = false;
            if (err != 0) {
                if (log_)
                    std::cerr << "connection from " << name_ << " closed: " << std::strerror(err)
                              << std::endl;
                dead = true;
            }
        }
        if (dead) {
            check_state_ = CheckConnectionState::Idle;
            SetupKeepAlive(false);
            Disconnect();
            if (log_)
                std::cerr << "CheckConnectionState Idle" << std::endl;
        }
    }
    check_timer_.set(check_period_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*)
{
    CheckConnection();
}

} // namespace Control
