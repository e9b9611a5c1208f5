#pragma once
// Client side of a framed stream connection: connects to a host and port
// without blocking the loop, retries quickly a few times and then slowly
// without end, and reconnects 10 s after a connection is lost.

#include "control/service.hpp"
#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/timer.hpp"

#include <cstdint>
#include <string>

namespace Control {

class ConnectorNet : public ServiceNet {
public:
    static constexpr int quick_retries = 7;
    static constexpr unsigned int quick_retry_ms = 1000;
    static constexpr unsigned int refused_retry_ms = 20000;
    static constexpr unsigned int pollerr_retry_ms = 15000;
    static constexpr unsigned int soerror_retry_ms = 12000;
    static constexpr unsigned int reconnect_ms = 10000;

    ConnectorNet(std::string const& host, unsigned short port);
    // "a.b.c.d" or "a.b.c.d:port".
    explicit ConnectorNet(std::string const& address);
    ~ConnectorNet() override;

    void TryConnect();
    void OnSocketEvent(int fd, short revents);
    void OnTimeout(Timer*);

    std::string const& host() const noexcept { return host_; }
    std::uint16_t port() const noexcept { return port_; }
    int retries_left() const noexcept { return retry_; }
    bool retry_pending() const noexcept { return static_cast<bool>(timer_); }
    bool connect_pending() const noexcept { return static_cast<bool>(connect_event_.fd()); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;

private:
    INet4::Addr peer_address() const;
    void retry(unsigned int slow_ms);

    std::uint16_t port_ = 0;
    std::string host_;
    OwnedFd socket_;
    Timer timer_;
    Event connect_event_;
    int retry_ = 0;
};

} // namespace Control
