#pragma once
// The retry schedule shared by the TCP and Unix-domain connectors: a few
// quick attempts, then slow ones without end, and a reconnect some seconds
// after a connection is lost. How one attempt is made is the family's.

#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/timer.hpp"

namespace Control {

template <class Base>
class StreamConnector : public Base {
public:
    static constexpr int quick_retries = 7;
    static constexpr unsigned int quick_retry_ms = 1000;
    static constexpr unsigned int refused_retry_ms = 20000;
    static constexpr unsigned int pollerr_retry_ms = 15000;
    static constexpr unsigned int reconnect_ms = 10000;

    ~StreamConnector() override
    {
        timer_.reset();
        connect_event_.Release();
    }

    virtual void TryConnect() = 0;
    void OnTimeout(Timer*) { TryConnect(); }

    int retries_left() const noexcept { return retry_; }
    bool retry_pending() const noexcept { return static_cast<bool>(timer_); }

protected:
    bool ImplActivate() override
    {
        retry_ = quick_retries;
        TryConnect();
        return true;
    }
    void ImplDeactivate() override
    {
        this->Release();
        socket_.reset();
        timer_.reset();
        connect_event_.Release();
    }
    void ImplOnDisconnect() override { timer_.set(reconnect_ms, &StreamConnector::OnTimeout, this); }

    // The next attempt: soon while quick retries are left, else after
    // `slow_ms`.
    void retry(unsigned int slow_ms)
    {
        if (retry_ > 0) {
            --retry_;
            timer_.set(quick_retry_ms, &StreamConnector::OnTimeout, this);
        } else {
            timer_.set(slow_ms, &StreamConnector::OnTimeout, this);
        }
    }

    OwnedFd socket_;
    Timer timer_;
    Event connect_event_;
    int retry_ = 0;
};

} // namespace Control
