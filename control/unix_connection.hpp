#pragma once
// The framed connection over a Unix-domain stream socket: the counterparts
// of the TCP acceptor (without connection checking) and connector. The
// stack, states and loss handling are those of Control::Service.

#include "control/service.hpp"
#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/timer.hpp"

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

class AcceptorUnix : public ServiceUnix {
public:
    static constexpr unsigned int bind_retry_ms = 5000;

    AcceptorUnix();
    explicit AcceptorUnix(std::string const& path);
    ~AcceptorUnix() override;

    std::string const& path() const noexcept { return path_; }
    bool listening() const noexcept { return static_cast<bool>(accept_event_.fd()); }
    bool bind_retry_pending() const noexcept { return static_cast<bool>(bind_timer_); }

    void OnTimeout(Timer*);
    void OnSocketEvent(int fd, short revents);

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}
    virtual void ImplRefuseConnection() {}
    virtual void ImplConnected(Fd) {}

    bool OpenSocket();
    void BindSocket();
    void RetryLater();

    std::string path_;
    OwnedFd listen_;
    Timer bind_timer_;
    Event accept_event_;
};

class ConnectorUnix : public ServiceUnix {
public:
    static constexpr int quick_retries = 7;
    static constexpr unsigned int quick_retry_ms = 1000;
    static constexpr unsigned int refused_retry_ms = 20000;
    static constexpr unsigned int pollerr_retry_ms = 15000;
    static constexpr unsigned int reconnect_ms = 10000;

    ConnectorUnix();
    explicit ConnectorUnix(std::string const& server_path);
    // An empty client path leaves the socket unbound.
    ConnectorUnix(std::string const& server_path, std::string const& client_path);
    ~ConnectorUnix() override;

    void TryConnect();
    void OnSocketEvent(int fd, short revents);
    void OnTimeout(Timer*);

    std::string const& server_path() const noexcept { return server_path_; }
    std::string const& client_path() const noexcept { return client_path_; }
    int retries_left() const noexcept { return retry_; }
    bool retry_pending() const noexcept { return static_cast<bool>(timer_); }
    bool connect_event_pending() const noexcept { return static_cast<bool>(connect_event_.fd()); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;

private:
    void retry(unsigned int slow_ms);

    std::string server_path_;
    std::string client_path_;
    OwnedFd socket_;
    Timer timer_;
    Event connect_event_;
    int retry_ = 0;
};

} // namespace Control
