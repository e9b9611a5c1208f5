#pragma once
// Client side of a framed stream connection: connects to a host and port
// without blocking the loop, retries quickly a few times and then slowly
// without end, and reconnects 10 s after a connection is lost.

#include "control/service.hpp"
#include "control/stream_connector.hpp"

#include <cstdint>
#include <string>

namespace Control {

class ConnectorNet : public StreamConnector<ServiceNet> {
public:
    static constexpr unsigned int soerror_retry_ms = 12000;

    ConnectorNet(std::string const& host, unsigned short port);
    // "a.b.c.d" or "a.b.c.d:port".
    explicit ConnectorNet(std::string const& address);
    ~ConnectorNet() override;

    void TryConnect() override;
    void OnSocketEvent(int fd, short revents);

    std::string const& host() const noexcept { return host_; }
    std::uint16_t port() const noexcept { return port_; }
    bool connect_pending() const noexcept { return static_cast<bool>(connect_event_.fd()); }

private:
    INet4::Addr peer_address() const;

    std::uint16_t port_ = 0;
    std::string host_;
};

} // namespace Control
