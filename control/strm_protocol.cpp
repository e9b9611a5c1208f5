#include "control/strm_protocol.hpp"

#include "core/multiplexer.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

// The write bound is real elapsed time: the loop clock may stand still while
// a callback runs, and the wall clock may step.
std::uint64_t monotonic_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

int sockopt_int(int fd, int level, int name)
{
    int v = 0;
    socklen_t len = sizeof v;
    if (fd < 0 || getsockopt(fd, level, name, &v, &len) != 0)
        return -1;
    return v;
}

int ioctl_int(int fd, unsigned long request)
{
    int v = 0;
    if (fd < 0 || ioctl(fd, request, &v) != 0)
        return -1;
    return v;
}

} // namespace

StrmProtocol::StrmProtocol()
{
    init();
}

StrmProtocol::StrmProtocol(Fd fd)
{
    init();
    attach(fd);
}

StrmProtocol::~StrmProtocol()
{
    release();
}

void StrmProtocol::init()
{
    label_ = "StrmProtocol";
    overflow_ = 0;
    read_event_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

int StrmProtocol::attach(Fd fd)
{
    if (fd.get() != socket_.get()) {
        release();
        socket_.reset(fd.dup());
        // Activation then fails the stack: the connection cannot be served.
        if (!socket_ && fd) {
            std::cerr << "SockStream[" << link_ << "]: can't keep socket: " << std::strerror(errno)
                      << std::endl;
            return -1;
        }
    }
    int outq = 0;
    int r = ioctl(socket_.get(), SIOCOUTQ, &outq);
    queue_reports_free_ = r == 0 && outq > 0;
    return r;
}

void StrmProtocol::release()
{
    if (!socket_)
        return;
    read_event_.Release();
    socket_.reset();
}

int StrmProtocol::sendbuf_space() const
{
    return sockopt_int(socket_.get(), SOL_SOCKET, SO_SNDBUF);
}

int StrmProtocol::recvbuf_space() const
{
    return sockopt_int(socket_.get(), SOL_SOCKET, SO_RCVBUF);
}

int StrmProtocol::inq_space() const
{
    return ioctl_int(socket_.get(), SIOCINQ);
}

int StrmProtocol::outq_space() const
{
    return ioctl_int(socket_.get(), SIOCOUTQ);
}

int StrmProtocol::free_space() const
{
    int outq = outq_space();
    if (queue_reports_free_)
        return outq;
    return sendbuf_space() - outq;
}

void StrmProtocol::PutHeader(std::ostream& os) const
{
    os << "SockStream[" << link_ << "]: ";
}

void StrmProtocol::local_prepare_head(Packet& pkt)
{
    pkt.reserve_head(0);
}

void StrmProtocol::local_prepare_tail(Packet& pkt)
{
    pkt.reserve_tail(0);
}

void StrmProtocol::local_activate()
{
    if (!socket_) {
        on_deactivate(new Protocol_status_error(this, "fd not attached"));
        return;
    }
    // Unwatched, the connection would look up while nothing it sends is
    // ever read.
    if (!read_event_.Schedule(socket_.fd(), POLLIN)) {
        std::string const why = std::string("can't watch socket: ") + std::strerror(errno);
        std::cerr << "SockStream[" << link_ << "]: " << why << std::endl;
        on_error(why);
        return;
    }
    on_activate();
}

void StrmProtocol::local_deactivate()
{
    release();
    on_deactivate(new Protocol_status_success(this, "success"));
}

void StrmProtocol::on_event(int, short revents)
{
    if (revents & POLLERR)
        on_error(std::string("pollerr: ") + std::strerror(errno));
    else if (revents & POLLHUP)
        on_error(std::string("pollhup: ") + std::strerror(errno));
    else if (revents & POLLIN)
        do_read();
}

void StrmProtocol::do_read()
{
    Packet pkt;
    pkt.reserve_head(0);
    read_measure_.begin();
    ssize_t n = recv(socket_.get(), pkt.tail_space(), pkt.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
    read_measure_.end();
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            on_error(std::string("read error: ") + std::strerror(errno));
        return;
    }
    if (n == 0) {
        on_error(std::string("read error: ") + std::strerror(errno));
        return;
    }
    pkt.extend(static_cast<unsigned int>(n));
    on_message(pkt);
}

void StrmProtocol::on_error(std::string const& text)
{
    release();
    on_deactivate(new Protocol_status_error(this, text));
}

void StrmProtocol::write_failed(char const* what, int err)
{
    write_measure_.end();
    std::cerr << "SockStream[" << link_ << "]: " << what << ", sendbuf=" << sendbuf_space()
              << ", recvbuf=" << recvbuf_space() << ", free=" << free_space() << ", inq=" << inq_space()
              << ", outq=" << outq_space();
    if (err != 0)
        std::cerr << ", error=" << std::strerror(err);
    std::cerr << std::endl;
    ++overflow_;
    if (err != 0)
        on_error(std::string(what) + ": " + std::strerror(err));
    else
        on_error(what);
}

void StrmProtocol::message(Packet& pkt)
{
    write_measure_.begin();
    // The bound starts at the first refusal: until then every send returned
    // at once, and a frame the socket takes whole needs no clock at all.
    std::uint64_t start = 0;
    bool waited = false;
    std::uint8_t const* p = pkt.data();
    std::size_t left = pkt.length();
    while (left > 0) {
        // MSG_NOSIGNAL: a peer that has gone must fail this write, not kill
        // the process.
        ssize_t n = send(socket_.get(), p, left, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
            continue;
        }
        int const err = errno;
        if (err == EINTR)
            continue;
        if (err != EAGAIN && err != EWOULDBLOCK) {
            write_failed("write error", err);
            return;
        }
        // Each wait is capped at what is left of the bound for the whole
        // packet.
        std::uint64_t const now = monotonic_ms();
        if (!waited) {
            start = now;
            waited = true;
        }
        std::int64_t const wait =
            static_cast<std::int64_t>(start + write_bound_ms) - static_cast<std::int64_t>(now);
        if (wait < 1) {
            write_failed("write timeout", 0);
            return;
        }
        multiplexer.resetWD();
        pollfd pfd{socket_.get(), POLLOUT, 0};
        int r = poll(&pfd, 1, static_cast<int>(wait));
        int const perr = errno;
        multiplexer.resetWD();
        if (r == 1 || (r < 0 && perr == EINTR))
            continue;
        write_failed("write timeout", 0);
        return;
    }
    write_measure_.end();
}
