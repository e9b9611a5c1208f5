#pragma once

// Create parameters of the external, MCC, echo and voice kinds, and a TCP
// peer on the loopback for the voice slots' streams. No GoogleTest in here:
// the fuzz target and the benchmark use it too.

#include "asn1/modules/LGCP.hpp"
#include "core/fd.hpp"

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SlotsTest {

inline LGCP::CreateParams Ext(int transmitter, int receiver)
{
    LGCP::CreateParams p;
    LGCP::ExtParams& e = p.select_ext();
    e.set_transmitter(transmitter);
    e.set_receiver(receiver);
    return p;
}

inline LGCP::CreateParams Mcc(int type, int mode)
{
    LGCP::CreateParams p;
    LGCP::MccParams& m = p.select_mcc();
    m.get_type().setValue(type);
    m.get_mode().setValue(mode);
    return p;
}

inline LGCP::CreateParams Echo(int bus, int channel)
{
    LGCP::CreateParams p;
    LGCP::EchoParams& e = p.select_echo();
    e.set_bus(bus);
    e.set_channel(channel);
    return p;
}

inline TERM::HostAddress Address(std::string const& iaddr, int port)
{
    TERM::HostAddress a;
    a.set_iaddr(iaddr);
    a.get_port().setValue(port);
    return a;
}

inline LGCP::CreateParams Recorder(int port, std::string const& iaddr = "127.0.0.1")
{
    LGCP::CreateParams p;
    p.select_voice().set_record(Address(iaddr, port));
    return p;
}

inline LGCP::CreateParams NetworkPlayer(int port, int id, std::string const& iaddr = "127.0.0.1")
{
    LGCP::CreateParams p;
    LGCP::PlayerParams_network& n = p.select_voice().select_player().select_network();
    n.set_host(Address(iaddr, port));
    n.set_id(id);
    return p;
}

inline LGCP::CreateParams FilePlayer(std::vector<std::string> const& names, int repeat)
{
    LGCP::CreateParams p;
    LGCP::PlayerParams_file& f = p.select_voice().select_player().select_file();
    for (std::string const& name : names) {
        ASN1::IA5String s;
        s.assign(name);
        f.get_name().push_back(s);
    }
    f.set_repeat(repeat);
    return p;
}

// A listening TCP socket on 127.0.0.1, on a port the kernel chose.
class Listener {
public:
    explicit Listener(int backlog = 4)
    {
        fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(fd_.get(), backlog) == 0 &&
            ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    int port() const { return port_; }
    int fd() const { return fd_.get(); }
    // A waiting connection (non-blocking), or an empty handle.
    OwnedFd Accept() { return OwnedFd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)); }

private:
    OwnedFd fd_;
    int port_ = -1;
};

// A loopback port with nothing listening on it.
inline int ClosedPort()
{
    Listener l;
    return l.port(); // closed when `l` goes
}

// Everything the socket holds now (non-blocking); `eof` tells whether the
// peer has closed.
inline std::string ReadAll(int fd, bool* eof = nullptr)
{
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (eof != nullptr)
            *eof = n == 0;
        return out;
    }
}

} // namespace SlotsTest
