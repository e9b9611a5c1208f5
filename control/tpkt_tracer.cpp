#include "control/tpkt_tracer.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace {

// RFC 1006: the length field counts the 4 header octets and has 16 bits.
constexpr unsigned int tpkt_header = 4;
constexpr unsigned int tpkt_max_payload = 0xFFFF - tpkt_header;

// A listening TCP socket on every address at `port`, close-on-exec and
// non-blocking; -1 if any step fails.
int open_listener(unsigned short port)
{
    OwnedFd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!s)
        return -1;
    int on = 1;
    if (setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return -1;
    if (listen(s.get(), 1) != 0)
        return -1;
    if (!NonBlockMode(s.get()))
        return -1;
    return s.release();
}

unsigned short bound_port(Fd fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (!fd || getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

// Header and payload in one scatter-gather send. The caller has checked
// that the length fits the header's 16 bits.
long send_frame(int fd, void const* data, unsigned int length)
{
    unsigned int const total = length + tpkt_header;
    unsigned char header[tpkt_header] = {0x03, 0x00, static_cast<unsigned char>(total >> 8),
                                         static_cast<unsigned char>(total & 0xFF)};
    iovec iov[2];
    iov[0].iov_base = header;
    iov[0].iov_len = sizeof header;
    iov[1].iov_base = const_cast<void*>(data);
    iov[1].iov_len = length;
    msghdr m{};
    m.msg_iov = iov;
    m.msg_iovlen = 2;
    return static_cast<long>(sendmsg(fd, &m, MSG_NOSIGNAL));
}

enum class Step { Wait, Close, Deliver };

// Reads what the socket holds for one connection record, until a payload
// is complete (Deliver, `have` octets in the buffer), nothing more is there
// now (Wait) or the connection must close (Close).
template <class C>
Step read_frame(C& c, int fd, unsigned int max_payload)
{
    for (;;) {
        ssize_t n = recv(fd, c.buffer + c.have, c.need - c.have, MSG_NOSIGNAL);
        if (n == 0)
            return Step::Close;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Step::Wait;
            return Step::Close;
        }
        c.have += static_cast<unsigned int>(n);
        if (c.have < c.need)
            return Step::Wait;
        if (c.state == 0)
            return Step::Deliver;
        // RFC 1006 section 6: version 3, reserved 0, then the length.
        if (c.buffer[0] != 0x03 || c.buffer[1] != 0x00)
            return Step::Close;
        unsigned int const length = (static_cast<unsigned int>(c.buffer[2]) << 8) | c.buffer[3];
        if (length < tpkt_header)
            return Step::Close;
        c.have = 0;
        if (length == tpkt_header)
            continue; // empty payload: the next header follows
        if (length - tpkt_header > max_payload)
            return Step::Close;
        c.state = 0;
        c.need = length - tpkt_header;
    }
}

template <class C>
void expect_header(C& c)
{
    c.state = 1;
    c.need = tpkt_header;
    c.have = 0;
}

// What a data event on connection `c` does in both listeners: an error or
// hang-up closes it; otherwise every complete payload goes to `deliver`
// until the socket runs dry or the connection is closed.
template <class C, class Close, class Deliver>
void on_data(C& c, int fd, short revents, unsigned int max_payload, Close close, Deliver deliver)
{
    if (revents & (POLLERR | POLLHUP)) {
        close();
        return;
    }
    for (;;) {
        Step const step = read_frame(c, fd, max_payload);
        if (step == Step::Wait)
            return;
        if (step == Step::Close) {
            close();
            return;
        }
        deliver();
        if (c.closed)
            return;
        expect_header(c);
    }
}

// Accepts every pending connection on `fd`, which `listen` polls,
// non-blocking, into `opened`; `what` starts the line that logs each.
template <class Opened>
void accept_all(int fd, Event& listen, AcceptPause& pause, char const* what, Opened opened)
{
    for (;;) {
        INet4::Addr peer;
        socklen_t len = INet4::Addr::size();
        OwnedFd s(accept4(fd, peer.sa(), &len, SOCK_CLOEXEC));
        if (!s) {
            int const error = errno;
            if (pause.Failed(listen, error) && pause.first())
                std::cerr << what << " accept fail: " << std::strerror(error) << std::endl;
            return;
        }
        pause.Accepted();
        std::clog << what << " connection open from " << peer << std::endl;
        if (!NonBlockMode(s.get()))
            continue;
        opened(peer, s.fd());
    }
}

bool listen_on(Event& listen, unsigned short port)
{
    listen.Release();
    OwnedFd s(open_listener(port));
    return s && listen.Schedule(s.fd(), POLLIN);
}

template <class List>
std::size_t open_count(List const& connections)
{
    std::size_t n = 0;
    for (auto const& c : connections)
        n += c.closed ? 0 : 1;
    return n;
}

template <class List>
typename List::iterator find_open(List& connections, int fd)
{
    for (auto it = connections.begin(); it != connections.end(); ++it)
        if (!it->closed && it->event.fd().get() == fd)
            return it;
    return connections.end();
}

// The records closed during a walk go when the outermost walk ends.
template <class List>
void leave_walk(int& busy, List& connections)
{
    if (--busy > 0)
        return;
    connections.remove_if([](auto const& c) { return c.closed; });
}

} // namespace

// ---------------------------------------------------------------------------

TPKTTracer::TPKTTracer() : current_(connections_.end())
{
    listen_.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
}

TPKTTracer::~TPKTTracer()
{
    connections_.clear();
    listen_.Release();
}

bool TPKTTracer::Listen(unsigned short port)
{
    return listen_on(listen_, port);
}

unsigned short TPKTTracer::local_port() const
{
    return bound_port(listen_.fd());
}

std::size_t TPKTTracer::connection_count() const
{
    return open_count(connections_);
}

TPKTTracer::List::iterator TPKTTracer::FindConnection(int fd)
{
    return find_open(connections_, fd);
}

void TPKTTracer::CloseConnection(List::iterator it)
{
    if (it->closed)
        return;
    if (it == current_)
        current_ = connections_.end();
    it->closed = true;
    it->event.Release();
    if (busy_ == 0)
        connections_.erase(it);
}

void TPKTTracer::Leave()
{
    leave_walk(busy_, connections_);
}

void TPKTTracer::OnEvent(int fd, short)
{
    accept_all(fd, listen_, pause_, "ACP", [this](INet4::Addr const&, Fd s) {
        Connection& c = connections_.emplace_back();
        c.event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
        // Unwatched, it would be sent to but never read: it closes now.
        if (!c.event.Schedule(s, POLLIN)) {
            std::cerr << "ACP connection watch fail: " << std::strerror(errno) << std::endl;
            c.closed = true;
        }
    });
}

void TPKTTracer::OnDataEvent(int fd, short revents)
{
    auto it = FindConnection(fd);
    if (it == connections_.end())
        return;
    ++busy_;
    on_data(
        *it, fd, revents, max_payload, [this, it] { CloseConnection(it); },
        [this, it] {
            if (receiver_ != nullptr) {
                current_ = it;
                delivering_ = true;
                receiver_->OnPacket(it->buffer, it->have);
                delivering_ = false;
                current_ = connections_.end();
            }
        });
    Leave();
}

void TPKTTracer::SendTo(List::iterator it, void const* data, unsigned int length)
{
    long const r = send_frame(it->event.fd().get(), data, length);
    if (r < 0 ? errno != EINTR : static_cast<unsigned long>(r) < length + tpkt_header)
        CloseConnection(it);
}

void TPKTTracer::Send(void const* data, unsigned int length)
{
    if (length > tpkt_max_payload) {
        // The 16-bit length would wrap and the peers lose the framing.
        std::cerr << "TPKTTracer::Send refuse payload of " << length << " bytes, max " << tpkt_max_payload
                  << "." << std::endl;
        return;
    }
    if (delivering_) {
        // A reply; its connection may have gone meanwhile.
        if (current_ != connections_.end())
            SendTo(current_, data, length);
        return;
    }
    ++busy_;
    for (auto it = connections_.begin(); it != connections_.end(); ++it)
        if (!it->closed)
            SendTo(it, data, length);
    Leave();
}

// ---------------------------------------------------------------------------

TPKTTracerP2P::TPKTTracerP2P()
{
    listen_.Bind("TPKTTracerP2P::OnEvent", &TPKTTracerP2P::OnEvent, this);
}

TPKTTracerP2P::~TPKTTracerP2P()
{
    connections_.clear();
    listen_.Release();
}

bool TPKTTracerP2P::Listen(unsigned short port)
{
    port_ = port;
    return listen_on(listen_, port);
}

unsigned short TPKTTracerP2P::local_port() const
{
    return bound_port(listen_.fd());
}

std::size_t TPKTTracerP2P::connection_count() const
{
    return open_count(connections_);
}

TPKTTracerP2P::List::iterator TPKTTracerP2P::FindConnection(int fd)
{
    return find_open(connections_, fd);
}

TPKTTracerP2P::List::iterator TPKTTracerP2P::FindConnection(INet4::Addr const& peer)
{
    for (auto it = connections_.begin(); it != connections_.end(); ++it)
        if (!it->closed && it->peer.IsEqual(peer))
            return it;
    return connections_.end();
}

void TPKTTracerP2P::CloseConnection(List::iterator it)
{
    if (it->closed)
        return;
    // Marked first: the receiver may close or send from its callback.
    it->closed = true;
    ++busy_;
    if (receiver_ != nullptr)
        receiver_->OnClose(it->peer);
    std::clog << "TPKT peer-to-peer connection close for " << it->peer << std::endl;
    it->event.Release();
    Leave();
}

void TPKTTracerP2P::Leave()
{
    leave_walk(busy_, connections_);
}

void TPKTTracerP2P::OnEvent(int fd, short)
{
    ++busy_;
    accept_all(fd, listen_, pause_, "TPKT peer-to-peer", [this](INet4::Addr const& peer, Fd s) {
        Connection& c = connections_.emplace_back();
        c.peer = peer;
        c.event.Bind("TPKTTracerP2P::OnDataEvent", &TPKTTracerP2P::OnDataEvent, this);
        if (!c.event.Schedule(s, POLLIN)) {
            std::cerr << "TPKT peer-to-peer connection watch fail: " << std::strerror(errno) << std::endl;
            c.closed = true;
            return;
        }
        if (receiver_ != nullptr)
            receiver_->OnOpen(peer, c.event.fd().get());
    });
    Leave();
}

void TPKTTracerP2P::OnDataEvent(int fd, short revents)
{
    auto it = FindConnection(fd);
    if (it == connections_.end())
        return;
    ++busy_;
    on_data(
        *it, fd, revents, max_payload, [this, it] { CloseConnection(it); },
        [this, it] {
            if (receiver_ != nullptr)
                receiver_->OnPacket(it->peer, it->buffer, it->have);
        });
    Leave();
}

int TPKTTracerP2P::Send(INet4::Addr const& peer, void const* data, unsigned int length)
{
    auto it = FindConnection(peer);
    if (it == connections_.end())
        return -EFAULT;
    if (length > tpkt_max_payload) {
        // The 16-bit length would wrap and the peer lose the framing.
        std::cerr << "TPKTTracerP2P::Send refuse payload of " << length << " bytes, max " << tpkt_max_payload
                  << "." << std::endl;
        return -EMSGSIZE;
    }
    long const r = send_frame(it->event.fd().get(), data, length);
    if (r < 0) {
        int const err = errno;
        if (err != EINTR)
            CloseConnection(it);
        return -err;
    }
    if (static_cast<unsigned long>(r) < length + tpkt_header)
        CloseConnection(it);
    return static_cast<int>(r);
}

int TPKTTracerP2P::Close(INet4::Addr const& peer)
{
    auto it = FindConnection(peer);
    if (it == connections_.end())
        return -EFAULT;
    CloseConnection(it);
    return 0;
}

bool TPKTTracerP2P::IsConnected(INet4::Addr const& peer)
{
    return FindConnection(peer) != connections_.end();
}
