#include "control/unix_connection.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iostream>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Control {

bool MakeUnixAddress(std::string const& path, sockaddr_un& addr)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() > unix_path_max)
        return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

namespace {

// The path of a peer's address as accept returned it; empty for an unbound
// client, whose address is the family alone. The kernel need not end the
// path with a zero, so the returned length bounds it.
std::string peer_path(sockaddr_un const& a, socklen_t len)
{
    std::size_t const off = offsetof(sockaddr_un, sun_path);
    if (len <= off)
        return std::string();
    std::size_t n = len - off;
    if (n > sizeof a.sun_path)
        n = sizeof a.sun_path;
    return std::string(a.sun_path, strnlen(a.sun_path, n));
}

} // namespace

ServiceUnix::ServiceUnix() = default;

void ServiceUnix::Connected(Fd fd, std::string const& name)
{
    if (state_ == State::Deactivating)
        return;
    attach_connected(fd, name);
}

// ---------------------------------------------------------------------------

AcceptorUnix::AcceptorUnix() : AcceptorUnix(std::string())
{}

AcceptorUnix::AcceptorUnix(std::string const& path)
    : StreamAcceptor("AcceptorUnix::OnSocketEvent"), path_(path)
{}

AcceptorUnix::~AcceptorUnix() = default;

bool AcceptorUnix::ImplActivate()
{
    if (path_.size() > unix_path_max) {
        // Binding a shortened path would serve, and first unlink, some
        // other file.
        if (log_)
            std::cerr << "domain socket path too long: '" << path_ << "'" << std::endl;
        return false;
    }
    return StreamAcceptor::ImplActivate();
}

int AcceptorUnix::CreateSocket()
{
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

int AcceptorUnix::BindAddress(int fd)
{
    sockaddr_un a;
    MakeUnixAddress(path_, a);
    // A socket file left by an earlier run would make bind fail for ever.
    ::unlink(path_.c_str());
    return bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

int AcceptorUnix::ListenOn(int fd)
{
    return ::listen(fd, 1);
}

int AcceptorUnix::AcceptPeer(int fd, std::string& peer)
{
    sockaddr_un a;
    std::memset(&a, 0, sizeof a);
    socklen_t len = sizeof a;
    int s = accept4(fd, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    if (s >= 0)
        peer = peer_path(a, len);
    return s;
}

// ---------------------------------------------------------------------------

ConnectorUnix::ConnectorUnix() : ConnectorUnix(std::string(), std::string())
{}

ConnectorUnix::ConnectorUnix(std::string const& server_path) : ConnectorUnix(server_path, std::string())
{}

ConnectorUnix::ConnectorUnix(std::string const& server_path, std::string const& client_path)
    : server_path_(server_path), client_path_(client_path)
{
    connect_event_.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::~ConnectorUnix() = default;

bool ConnectorUnix::ImplActivate()
{
    if (server_path_.size() > unix_path_max) {
        // A shortened path would reach some other server, or none, for
        // ever: refuse at once.
        std::cerr << "domain socket path too long: '" << server_path_ << "'" << std::endl;
        return false;
    }
    return StreamConnector::ImplActivate();
}

void ConnectorUnix::TryConnect()
{
    connect_event_.Release();
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::cerr << "can't create domain socket:" << std::strerror(errno) << std::endl;
        socket_.reset();
        Deactivate();
        return;
    }
    socket_.reset(fd);
    if (!socket_.fd().NonBlock()) {
        std::cerr << "can't set domain socket to non block mode: " << std::strerror(errno) << std::endl;
        Deactivate();
        return;
    }
    if (!client_path_.empty()) {
        sockaddr_un c;
        int err = 0;
        if (!MakeUnixAddress(client_path_, c)) {
            err = ENAMETOOLONG;
        } else {
            ::unlink(client_path_.c_str());
            if (bind(fd, reinterpret_cast<sockaddr*>(&c), sizeof c) != 0)
                err = errno;
        }
        // The client's name is a courtesy to the server: connect unbound.
        if (err != 0)
            std::cerr << "can't bind to domain socket '" << client_path_ << "': \"" << std::strerror(err)
                      << std::endl;
    }
    sockaddr_un s;
    MakeUnixAddress(server_path_, s);
    if (connect(fd, reinterpret_cast<sockaddr*>(&s), sizeof s) != 0) {
        std::cerr << "can't connect to " << server_path_ << " : " << std::strerror(errno) << std::endl;
        retry(refused_retry_ms);
        return;
    }
    std::clog << "connected to " << server_path_ << std::endl;
    connect_event_.Schedule(socket_.fd(), POLLOUT);
    Connected(socket_.fd(), server_path_);
    socket_.reset();
}

void ConnectorUnix::OnSocketEvent(int, short revents)
{
    if (revents & (POLLERR | POLLHUP)) {
        std::cerr << "fail to connect to " << server_path_ << std::endl;
        connect_event_.Release();
        retry(pollerr_retry_ms);
        return;
    }
    if (revents & POLLOUT)
        connect_event_.Release();
}

} // namespace Control
