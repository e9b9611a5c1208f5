#pragma once
// The framed connection over a Unix-domain stream socket: the counterparts
// of the TCP acceptor (without connection checking) and connector. The
// stack, states and loss handling are those of Control::Service.

#include "control/service.hpp"
#include "control/stream_acceptor.hpp"
#include "control/stream_connector.hpp"
#include "core/fd.hpp"

#include <string>

#include <sys/un.h>

namespace Control {

// The whole Unix-domain address: family and a 108-byte path.
static_assert(sizeof(sockaddr_un) == 110);
// Longest path an address holds: the path field less its terminating zero.
inline constexpr std::size_t unix_path_max = sizeof(sockaddr_un::sun_path) - 1;

// Fills `addr` with `path`; false, leaving the path empty, when the path
// does not fit. A path is never cut: a shortened one names another file.
bool MakeUnixAddress(std::string const& path, sockaddr_un& addr);

class ServiceUnix : public Service {
public:
    ServiceUnix();

    // Attaches a connected socket under `name` (ignored while Deactivating):
    // no socket options, no address.
    void Connected(Fd fd, std::string const& name);
};

class AcceptorUnix : public StreamAcceptor<ServiceUnix, std::string> {
public:
    AcceptorUnix();
    explicit AcceptorUnix(std::string const& path);
    ~AcceptorUnix() override;

    std::string const& path() const noexcept { return path_; }

protected:
    bool ImplActivate() override;
    int CreateSocket() override;
    int BindAddress(int fd) override;
    int ListenOn(int fd) override;
    int AcceptPeer(int fd, std::string& peer) override;

    std::string path_;
};

class ConnectorUnix : public StreamConnector<ServiceUnix> {
public:
    ConnectorUnix();
    explicit ConnectorUnix(std::string const& server_path);
    // An empty client path leaves the socket unbound.
    ConnectorUnix(std::string const& server_path, std::string const& client_path);
    ~ConnectorUnix() override;

    void TryConnect() override;
    void OnSocketEvent(int fd, short revents);

    std::string const& server_path() const noexcept { return server_path_; }
    std::string const& client_path() const noexcept { return client_path_; }
    bool connect_event_pending() const noexcept { return static_cast<bool>(connect_event_.fd()); }

protected:
    bool ImplActivate() override;

private:
    std::string server_path_;
    std::string client_path_;
};

} // namespace Control
