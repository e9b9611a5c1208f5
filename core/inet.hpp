#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include <netinet/in.h>

namespace INet4 {

// An IPv4 socket address, laid out as the system's sockaddr_in, so it is
// handed to connect, bind, sendto and accept unchanged.
class Addr {
public:
    Addr() { Reset(); }

    void Reset();
    // "a.b.c.d" or "a.b.c.d:port". See inet.cpp for the exact rules.
    bool Assign(const char* text, int* port = nullptr);
    bool Assign(const std::string& text, int* port = nullptr) { return Assign(text.c_str(), port); }
    // The address field only, in network byte order (as s_addr holds it).
    void Assign(unsigned long network_order_address);

    bool IsEqual(const Addr& other) const;
    void Put(std::ostream& os) const;
    std::string GetString() const;
    // The dotted quad alone, without the port.
    std::string GetDotted() const;
    std::vector<unsigned char> GetVector() const;

    void SetPort(std::uint16_t port) { sa_.sin_port = htons(port); }
    std::uint16_t GetPort() const { return ntohs(sa_.sin_port); }
    // Host order.
    std::uint32_t GetAddress() const { return ntohl(sa_.sin_addr.s_addr); }

    sockaddr* sa() { return reinterpret_cast<sockaddr*>(&sa_); }
    const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(&sa_); }
    const sockaddr_in& in() const { return sa_; }
    static constexpr socklen_t size() { return sizeof(sockaddr_in); }

private:
    sockaddr_in sa_;
};

static_assert(sizeof(sockaddr_in) == 16);

inline std::ostream& operator<<(std::ostream& os, const Addr& a)
{
    a.Put(os);
    return os;
}

} // namespace INet4

namespace Net {

// Filter bits of ifconfig; 0 takes every IPv4 interface.
enum ifconfig_mode_t : int {
    ifconfig_all = 0,
    ifconfig_not_loopback = 1,
    ifconfig_link_local = 2,
    ifconfig_private = 4,
};

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, int flags);
// The socket that ifconfig keeps for its requests (close-on-exec, open for
// the life of the process once made), or -1 before the first scan.
int interface_socket_descriptor();
// The mode filter on one interface (address in host order).
bool ifconfig_accepts(const char* name, std::uint32_t address, int mode);

// The board's private IPv4 addresses (10/8, 172.16/12, 192.168/16), in the
// kernel's interface order. Everything that derives the board's own address
// asks here, so that a test can stand in for the kernel's interfaces. The
// source appends to the list and returns the number appended, -1 when the
// interfaces cannot be listed.
using PrivateAddressSource = std::function<int(std::list<INet4::Addr>&)>;
int private_addresses(std::list<INet4::Addr>& out);
// Replaces the source; an empty one brings back ifconfig(out, ifconfig_private).
void set_private_address_source(PrivateAddressSource source);
// The first private address, or 127.0.0.1 when there is none (port 0).
INet4::Addr first_private_address();

std::string hostname();
int hostname(const std::string& name);

} // namespace Net
