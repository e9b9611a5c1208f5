#include "support/lgcp_host.hpp"

#include "control/lgcp_coding.hpp"
#include "support/server_process.hpp"

#include "asn1/support/coding.hpp"
#include "asn1/valuenotation.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace E2E {

namespace {

using Clock = std::chrono::steady_clock;

int Left(Clock::time_point until)
{
    auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}

} // namespace

LgcpHost::LgcpHost(int port)
{
    Connect(port);
}

LgcpHost::~LgcpHost()
{
    Close();
}

void LgcpHost::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    eof_ = false;
}

bool LgcpHost::Connect(int port, int rcvbuf)
{
    Close();
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The control port opens after the server's start-up, which a loaded
    // machine can make slow.
    return Eventually(
        [&] {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (rcvbuf > 0)
                ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                int on = 1;
                ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                return true;
            }
            ::close(fd_);
            fd_ = -1;
            return false;
        },
        60);
}

int LgcpHost::LocalPort() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    return ntohs(a.sin_port);
}

bool LgcpHost::SendRaw(Bytes const& bytes)
{
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t const n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

bool LgcpHost::Send(Bytes const& payload)
{
    return SendRaw(Frame(payload));
}

bool LgcpHost::Send(LGCP::Message const& message)
{
    Bytes const payload = Encode(message);
    return !payload.empty() && Send(payload);
}

bool LgcpHost::Fill(int ms)
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return false;
    std::uint8_t buf[65536];
    ssize_t const n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        eof_ = true;
        return false;
    }
    buffer_.insert(buffer_.end(), buf, buf + n);
    return true;
}

bool LgcpHost::Receive(Bytes& payload, int ms)
{
    return ReceiveUntil(payload, Clock::now() + std::chrono::milliseconds(Patience(ms)));
}

bool LgcpHost::ReceiveUntil(Bytes& payload, std::chrono::steady_clock::time_point until)
{
    for (;;) {
        if (buffer_.size() >= 4) {
            std::size_t const len = std::size_t(buffer_[2]) << 8 | buffer_[3];
            if (buffer_[0] != 3 || buffer_[1] != 0 || len < 4)
                return false; // the server sends nothing but frames
            if (buffer_.size() >= len) {
                payload.assign(buffer_.begin() + 4, buffer_.begin() + static_cast<long>(len));
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(len));
                return true;
            }
        }
        if (eof_ || fd_ < 0 || !Fill(Left(until)))
            return false;
    }
}

template <class Skip>
Bytes LgcpHost::ReceivePast(int ms, Skip skip)
{
    auto const until = Clock::now() + std::chrono::milliseconds(Patience(ms));
    Bytes payload;
    for (;;) {
        if (!ReceiveUntil(payload, until))
            return {};
        LGCP::Message m;
        if (!Decode(payload, m) || !skip(m))
            return payload;
    }
}

Bytes LgcpHost::Reply(std::vector<LGCP::Message>* signals, int ms)
{
    return ReceivePast(ms, [signals](LGCP::Message const& m) {
        if (!m.get_pdu().is_signal())
            return false;
        if (signals != nullptr)
            signals->push_back(m);
        return true;
    });
}

Bytes LgcpHost::Next(int ms)
{
    return ReceivePast(ms, [](LGCP::Message const& m) {
        return m.get_pdu().is_signal() &&
               (m.get_pdu().get_signal().is_trunkStatus() || m.get_pdu().get_signal().is_power());
    });
}

bool LgcpHost::ClosedWithin(int ms)
{
    auto const until = Clock::now() + std::chrono::milliseconds(Patience(ms));
    while (!eof_) {
        buffer_.clear();
        if (fd_ < 0 || (!Fill(Left(until)) && !eof_))
            return false;
    }
    return true;
}

Bytes Encode(LGCP::Message const& message)
{
    std::vector<char> out;
    if (!CtrlSrv::lgcp_encode(message, out))
        return {};
    return Bytes(out.begin(), out.end());
}

bool Decode(Bytes const& payload, LGCP::Message& message)
{
    return CtrlSrv::lgcp_decode(reinterpret_cast<char const*>(payload.data()), payload.size(), message);
}

Bytes Success(int seq, int slot)
{
    LGCP::Message m = Message(seq, slot);
    m.get_pdu().select_response().set_success();
    return Encode(m);
}

Bytes Error(int seq, LGCP::ErrorCause::NamedNumber cause, int slot)
{
    LGCP::Message m = Message(seq, slot);
    m.get_pdu().select_response().set_error(cause);
    return Encode(m);
}

std::string Hex(Bytes const& bytes)
{
    return ASN1Test::hex(ASN1Test::Octets(bytes.begin(), bytes.end()));
}

Bytes Unhex(std::string const& text)
{
    ASN1Test::Octets const octets = ASN1Test::hex(text);
    return Bytes(octets.begin(), octets.end());
}

std::string Notation(Bytes const& payload)
{
    LGCP::Message m;
    if (!Decode(payload, m))
        return {};
    // The logs' layout, its line breaks and indentation folded into spaces.
    std::ostringstream strm;
    ASN1::AVNEncoder printer(strm);
    if (!m.accept(printer))
        return "(no value notation)"; // an alternative the schema does not name
    std::string const text = strm.str();
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            out += text[i];
            continue;
        }
        while (i + 1 < text.size() && text[i + 1] == ' ')
            ++i;
        out += ' ';
    }
    return out;
}

} // namespace E2E
