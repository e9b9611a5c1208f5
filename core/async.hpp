#pragma once

// Descriptor-to-descriptor copy and non-blocking TCP connect, both driven by
// the event loop; each reports its end to a bound handler.

#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/timer.hpp"

#include <poll.h>

#include <memory>
#include <string>

namespace ASync {

class Copy {
public:
    struct Status {
        enum Type { Idle = 0, Running = 1, Finishing = 2, Flushing = 3, Failed = 4, Done = 5, Aborted = 6 };
    };

    struct EventsParams {
        short read = POLLIN;
        short write = POLLOUT;
        short flush = POLLWRNORM;
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(Status::Type status) = 0;
    };

    template <class X>
    class THandler : public Handler {
    public:
        using Action = void (X::*)(Status::Type);
        THandler(Action action, X* obj) : action_(action), obj_(obj) {}
        void Invoke(Status::Type status) override { (obj_->*action_)(status); }

    private:
        Action action_;
        X* obj_;
    };

    Copy();
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;
    ~Copy();

    void Bind(Handler* handler) { handler_.reset(handler); }
    template <class X>
    void Bind(void (X::*action)(Status::Type), X* obj)
    {
        Bind(new THandler<X>(action, obj));
    }
    void UnBind() { handler_.reset(); }

    void set_events(const EventsParams& events);
    void set_bufsize(unsigned n);

    // Copies from `source` to `destination` (each duplicated); returns 0.
    int Start(Fd source, Fd destination);
    // Ends the input as if the source had ended: what was read is still
    // written and flushed.
    void Stop();

    Status::Type status() const noexcept { return status_; }
    unsigned copied() const noexcept { return copied_; }
    int error() const noexcept { return error_; }

private:
    using Step = bool (Copy::*)();

    void Progress();
    bool ReadStep();
    bool WriteStep();
    bool FinishInput();
    bool FlushStage();
    void Complete(Status::Type status);
    void OnSrcEvent(int fd, short revents);
    void OnDstEvent(int fd, short revents);
    void Request(Event& ev, short events);

    OwnedFd src_;
    OwnedFd dst_;
    EventsParams events_;
    unsigned bufsize_ = 1024;
    int error_ = 0;
    Step next_ = nullptr;
    std::unique_ptr<Handler> handler_;
    Event src_event_;
    Event dst_event_;
    unsigned copied_ = 0;
    unsigned char* wpos_ = nullptr;
    unsigned char* end_ = nullptr;
    Status::Type status_ = Status::Idle;
    std::unique_ptr<unsigned char[]> buffer_;
};

class Connect {
public:
    struct Status {
        enum Type { Idle = 0, Connecting = 1, Failed = 2, Connected = 3, Stopped = 4 };
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        // `fd` is valid only during the call (-1 unless connected).
        virtual void Invoke(Status::Type status, Fd fd) = 0;
    };

    template <class X>
    class THandler : public Handler {
    public:
        using Action = void (X::*)(Status::Type, Fd);
        THandler(Action action, X* obj) : action_(action), obj_(obj) {}
        void Invoke(Status::Type status, Fd fd) override { (obj_->*action_)(status, fd); }

    private:
        Action action_;
        X* obj_;
    };

    Connect() = default;
    Connect(const Connect&) = delete;
    Connect& operator=(const Connect&) = delete;
    ~Connect();

    void Bind(Handler* handler) { handler_.reset(handler); }
    template <class X>
    void Bind(void (X::*action)(Status::Type, Fd), X* obj)
    {
        Bind(new THandler<X>(action, obj));
    }
    void UnBind() { handler_.reset(); }

    // `address` is "a.b.c.d:port"; `timeout` in milliseconds.
    void Start(const std::string& address, unsigned timeout);
    void Stop();

    Status::Type status() const noexcept { return status_; }

private:
    void Complete(Status::Type status);
    void OnSocketEvent(int fd, short revents);
    void OnTimeout(Timer* timer);

    Status::Type status_ = Status::Idle;
    OwnedFd socket_;
    Event event_;
    std::unique_ptr<Handler> handler_;
    Timer timer_;
};

} // namespace ASync
