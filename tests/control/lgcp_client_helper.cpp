#include "control/lgcp_client.hpp"

#include "asn1/coder_env.hpp"
#include "asn1/modules/LGCP.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ctltest {

LgcpClient::~LgcpClient()
{
    close();
}

void LgcpClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    eof_ = false;
}

bool LgcpClient::connect(int port, int seconds, int rcvbuf)
{
    close();
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (rcvbuf > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int on = 1;
            setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return true;
        }
        ::close(fd_);
        fd_ = -1;
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int LgcpClient::local_port() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    return ntohs(a.sin_port);
}

Bytes LgcpClient::frame(Bytes const& payload)
{
    std::size_t const len = payload.size() + 4;
    Bytes f(len);
    f[0] = 0x03;
    f[1] = 0x00;
    f[2] = static_cast<std::uint8_t>(len >> 8);
    f[3] = static_cast<std::uint8_t>(len);
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    return f;
}

bool LgcpClient::send_raw(Bytes const& bytes)
{
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

bool LgcpClient::send(Bytes const& payload)
{
    return send_raw(frame(payload));
}

bool LgcpClient::fill(int timeout_ms)
{
    pollfd p{fd_, POLLIN, 0};
    int r = poll(&p, 1, timeout_ms);
    if (r <= 0)
        return false;
    std::uint8_t buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        eof_ = true;
        return false;
    }
    buffer_.insert(buffer_.end(), buf, buf + n);
    return true;
}

bool LgcpClient::receive(Bytes& payload, int timeout_ms)
{
    auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (buffer_.size() >= 4) {
            std::size_t len = (std::size_t(buffer_[2]) << 8) | buffer_[3];
            if (buffer_[0] != 0x03 || buffer_[1] != 0x00 || len < 4)
                return false; // the server never sends anything but frames
            if (buffer_.size() >= len) {
                payload.assign(buffer_.begin() + 4, buffer_.begin() + static_cast<long>(len));
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(len));
                return true;
            }
        }
        auto const left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (eof_ || left.count() <= 0 || !fill(static_cast<int>(left.count())))
            return false;
    }
}

namespace {

// Board services report on their own (trunk status on connect and every
// second): a host waiting for the answer to its command reads past them.
bool is_signal(Bytes const& payload)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    auto const* p = reinterpret_cast<char const*>(payload.data());
    return ASN1::decode(p, p + payload.size(), &env, m) && m.get_pdu().is_signal();
}

} // namespace

Bytes LgcpClient::reply(int timeout_ms)
{
    auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    Bytes b;
    for (;;) {
        auto const left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (left < 0 || !receive(b, static_cast<int>(left))) {
            b.clear();
            return b;
        }
        if (!is_signal(b))
            return b;
    }
}

bool LgcpClient::closed_within(int timeout_ms)
{
    auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!eof_) {
        auto const left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        std::uint8_t buf[65536];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            eof_ = true;
    }
    return true;
}

} // namespace ctltest
