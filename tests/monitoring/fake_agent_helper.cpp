#include "tests/monitoring/fake_agent.hpp"

#include "asn1/coder_env.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace MonTest {

FakeAgent::FakeAgent(int port)
{
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_ < 0)
        return;
    int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(listen_);
        listen_ = -1;
        return;
    }
    port_ = ntohs(a.sin_port);
}

FakeAgent::~FakeAgent()
{
    CloseAll();
    if (listen_ >= 0)
        ::close(listen_);
}

int FakeAgent::open() const
{
    return static_cast<int>(connections_.size());
}

bool FakeAgent::Poll(int timeout_ms)
{
    std::vector<pollfd> fds;
    fds.push_back({listen_, POLLIN, 0});
    for (Connection const& c : connections_)
        fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeout_ms) <= 0)
        return false;
    // Connections first: an answer may close one, and the list changes.
    std::vector<int> ready;
    for (std::size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents != 0)
            ready.push_back(fds[i].fd);
    for (int fd : ready) {
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (it->fd != fd)
                continue;
            if (!Read(*it)) {
                ::close(it->fd);
                connections_.erase(it);
            }
            break;
        }
    }
    if (fds[0].revents != 0)
        Accept();
    return true;
}

void FakeAgent::Accept()
{
    for (;;) {
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        connections_.push_back({fd, ++accepted_, {}});
    }
}

bool FakeAgent::Read(Connection& c)
{
    std::uint8_t buf[4096];
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.buffer.insert(c.buffer.end(), buf, buf + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Frames(c);
        if (n < 0 && errno == EINTR)
            continue;
        // Closed or broken: what arrived before still counts.
        Frames(c);
        ++closedByPeer_;
        return false;
    }
}

bool FakeAgent::Frames(Connection& c)
{
    while (c.buffer.size() >= 4) {
        std::size_t const len = (std::size_t(c.buffer[2]) << 8) | c.buffer[3];
        // The server sends nothing but frames: anything else ends the link.
        if (c.buffer[0] != 0x03 || c.buffer[1] != 0x00 || len < 4)
            return false;
        if (c.buffer.size() < len)
            return true;
        Record r;
        r.connection = c.number;
        r.payload.assign(c.buffer.begin() + 4, c.buffer.begin() + static_cast<long>(len));
        c.buffer.erase(c.buffer.begin(), c.buffer.begin() + static_cast<long>(len));
        ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
        auto const* p = reinterpret_cast<char const*>(r.payload.data());
        r.decoded = ASN1::decode(p, p + r.payload.size(), &env, r.message);
        records_.push_back(r);
        if (!r.decoded || !r.message.get_pdu().is_command())
            continue;
        if (mode_ == Mode::Close)
            return false;
        if (mode_ == Mode::Answer)
            Answer(c, records_.back().message.get_pdu().get_command());
    }
    return true;
}

void FakeAgent::Answer(Connection& c, MON::Command const& command)
{
    MON::Message m;
    MON::Response& response = m.get_pdu().select_response();
    if (command.is_snmp_set()) {
        MON::SnmpSetResponses::responses_type& list = response.select_snmp_set().get_responses();
        for (MON::SnmpSetCommand const& entry : command.get_snmp_set().get_commands()) {
            MON::SnmpSetResponse r;
            r.set_uniq(entry.get_uniq().getValue());
            r.get_response().set_success();
            list.push_back(r);
        }
    } else if (command.is_snmp_trapsink_set()) {
        response.select_snmp_trapsink_set().set_success();
    } else if (command.is_snmp_trap_send()) {
        response.select_snmp_trap_send().set_success();
    } else if (command.is_ping()) {
        response.select_ping().set_success();
    } else {
        return; // an extension this agent does not know
    }
    std::vector<char> bytes;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    if (ASN1::encode(m, &env, std::back_inserter(bytes)))
        WriteAll(c.fd, Frame(Bytes(bytes.begin(), bytes.end())));
}

Bytes FakeAgent::Frame(Bytes const& payload)
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

bool FakeAgent::WriteAll(int fd, Bytes const& bytes)
{
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0)
            return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

void FakeAgent::SendPayload(Bytes const& payload)
{
    SendRaw(Frame(payload));
}

void FakeAgent::SendRaw(Bytes const& bytes)
{
    for (Connection const& c : connections_)
        WriteAll(c.fd, bytes);
}

void FakeAgent::CloseAll()
{
    for (Connection const& c : connections_)
        ::close(c.fd);
    connections_.clear();
}

std::vector<MON::Command> FakeAgent::commands() const
{
    std::vector<MON::Command> out;
    for (Record const& r : records_)
        if (r.decoded && r.message.get_pdu().is_command())
            out.push_back(r.message.get_pdu().get_command());
    return out;
}

std::string FakeAgent::corpus() const
{
    std::string out;
    for (Record const& r : records_) {
        out += "MON.Message ";
        for (std::uint8_t b : r.payload) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            out += hex;
        }
        out += '\n';
    }
    return out;
}

std::vector<std::string> SetEntries(MON::Command const& command)
{
    std::vector<std::string> out;
    if (!command.is_snmp_set())
        return out;
    for (MON::SnmpSetCommand const& entry : command.get_snmp_set().get_commands()) {
        std::string text = std::to_string(entry.get_uniq().getValue()) + " ";
        if (entry.get_id().is_name()) {
            MON::IniName const& id = entry.get_id().get_name();
            text += std::string(id.get_section()) + "." + std::string(id.get_name()) + "[" +
                    std::to_string(id.get_index().getValue()) + "]";
        } else {
            text += std::string(entry.get_id().get_oid());
        }
        out.push_back(text + "=" + std::string(entry.get_value()));
    }
    return out;
}

} // namespace MonTest
