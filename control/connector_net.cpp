#include "control/connector_net.hpp"

#include "control/strm_protocol.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

ConnectorNet::ConnectorNet(std::string const& host, unsigned short port) : port_(port), host_(host)
{
    connect_event_.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::ConnectorNet(std::string const& address) : ConnectorNet(std::string(), 0)
{
    INet4::Addr a;
    int port = 0;
    a.Assign(address, &port);
    port_ = static_cast<std::uint16_t>(port < 0 ? 0 : port);
    std::string text = a.GetString();
    host_ = text.substr(0, text.rfind(':'));
}

ConnectorNet::~ConnectorNet() = default;

INet4::Addr ConnectorNet::peer_address() const
{
    INet4::Addr a;
    a.Assign(host_);
    a.SetPort(port_);
    return a;
}

void ConnectorNet::TryConnect()
{
    connect_event_.Release();
    int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0) {
        std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
        socket_.reset();
        Deactivate();
        return;
    }
    SetCloexec(fd, true);
    socket_.reset(fd);
    if (!socket_.fd().NonBlock()) {
        std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
        Deactivate();
        return;
    }
    INet4::Addr const peer = peer_address();
    if (connect(fd, peer.sa(), INet4::Addr::size()) == 0) {
        std::clog << "already connected to " << peer << std::endl;
        Connected(socket_.fd(), peer);
        socket_.reset();
        return;
    }
    if (errno == EINPROGRESS) {
        // A pending connect has no time limit of its own: unwatched, it
        // would never end. Another attempt is made later.
        if (!connect_event_.Schedule(socket_.fd(), POLLOUT)) {
            std::cerr << "can't watch connect to " << peer << " : " << std::strerror(errno) << std::endl;
            socket_.reset();
            retry(refused_retry_ms);
        }
        return;
    }
    std::cerr << "can't connect to " << peer << " : " << std::strerror(errno) << std::endl;
    retry(refused_retry_ms);
}

void ConnectorNet::OnSocketEvent(int, short revents)
{
    INet4::Addr const peer = peer_address();
    if (revents & (POLLERR | POLLHUP)) {
        std::cerr << "fail to connect to " << peer << std::endl;
        connect_event_.Release();
        retry(pollerr_retry_ms);
        return;
    }
    if (!(revents & POLLOUT))
        return;
    connect_event_.Release();
    int err = 0;
    socklen_t len = sizeof err;
    // The event's duplicate is closed by now; ask the connector's own socket.
    if (getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << std::strerror(errno) << std::endl;
        Deactivate();
        return;
    }
    if (err != 0) {
        std::cerr << "fail to connect to " << peer << std::endl;
        retry(soerror_retry_ms);
        return;
    }
    std::cout << "connected to " << peer << "." << std::endl;
    Connected(socket_.fd(), peer);
    socket_.reset();
}

} // namespace Control
