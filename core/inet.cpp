#include "core/inet.hpp"

#include "core/fd.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace INet4 {

void Addr::Reset()
{
    std::memset(&sa_, 0, sizeof sa_);
    sa_.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port)
{
    if (text == nullptr)
        return false;
    std::string host(text);
    const std::string::size_type colon = host.find(':');
    if (colon != std::string::npos) {
        // The port is the decimal number that makes up the rest of the text;
        // anything that is not a number in 0..65535 ("80x", "70000") gives 0
        // rather than a truncated port.
        const char* p = host.c_str() + colon + 1;
        long value = 0;
        bool digits = false;
        while (*p >= '0' && *p <= '9' && value <= 65535) {
            value = value * 10 + (*p - '0');
            digits = true;
            ++p;
        }
        if (!digits || value > 65535 || *p != '\0')
            value = 0;
        sa_.sin_port = htons(static_cast<std::uint16_t>(value));
        if (port != nullptr)
            *port = static_cast<int>(value);
        host.erase(colon);
    } else if (port != nullptr) {
        *port = -1;
    }
    struct in_addr a;
    if (inet_aton(host.c_str(), &a) == 0)
        return false;
    sa_.sin_addr = a;
    return true;
}

void Addr::Assign(unsigned long network_order_address)
{
    sa_.sin_addr.s_addr = static_cast<in_addr_t>(network_order_address);
}

bool Addr::IsEqual(const Addr& other) const
{
    return sa_.sin_addr.s_addr == other.sa_.sin_addr.s_addr && sa_.sin_port == other.sa_.sin_port;
}

std::string Addr::GetString() const
{
    return GetDotted() + ":" + std::to_string(GetPort());
}

std::string Addr::GetDotted() const
{
    const std::uint32_t a = GetAddress();
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (a >> 24) & 0xFFu, (a >> 16) & 0xFFu, (a >> 8) & 0xFFu,
                  a & 0xFFu);
    return text;
}

void Addr::Put(std::ostream& os) const
{
    os << GetString();
}

std::vector<unsigned char> Addr::GetVector() const
{
    const std::uint32_t a = GetAddress();
    return {static_cast<unsigned char>(a >> 24), static_cast<unsigned char>(a >> 16),
            static_cast<unsigned char>(a >> 8), static_cast<unsigned char>(a)};
}

} // namespace INet4

namespace Net {

bool ifconfig_accepts(const char* name, std::uint32_t a, int mode)
{
    if (mode == 0)
        return true;
    if ((mode & ifconfig_not_loopback) != 0 && strcasecmp(name, "lo") != 0)
        return true;
    if ((mode & ifconfig_link_local) != 0 && (a & 0xFFFF0000u) == 0xA9FE0000u)
        return true;
    if ((mode & ifconfig_private) != 0 &&
        ((a & 0xFFFF0000u) == 0xC0A80000u || (a & 0xFFF00000u) == 0xAC100000u ||
         (a & 0xFF000000u) == 0x0A000000u))
        return true;
    return false;
}

namespace {

OwnedFd& interface_socket()
{
    static OwnedFd sock;
    return sock;
}

// Walks the kernel's IPv4 interfaces (at most 16: SIOCGIFCONF into a fixed
// table) and calls `take` for each one that the mode accepts.
template <class F>
int walk_interfaces(int mode, F take)
{
    // The socket stays for the next scan: every radio channel scans at its
    // start, and making and closing a socket costs more than the scan.
    OwnedFd& sock = interface_socket();
    if (!sock)
        sock.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock)
        return -1;
    struct ifreq table[16];
    std::memset(table, 0, sizeof table);
    struct ifconf conf;
    conf.ifc_len = sizeof table;
    conf.ifc_req = table;
    if (::ioctl(sock.get(), SIOCGIFCONF, &conf) < 0)
        return -1;
    int found = 0;
    const int records = conf.ifc_len / static_cast<int>(sizeof(struct ifreq));
    for (int i = 0; i < records && i < 16; ++i) {
        struct ifreq& r = table[i];
        if (r.ifr_addr.sa_family != AF_INET)
            continue;
        char name[IFNAMSIZ + 1];
        std::memcpy(name, r.ifr_name, IFNAMSIZ);
        name[IFNAMSIZ] = '\0';
        struct sockaddr_in in;
        std::memcpy(&in, &r.ifr_addr, sizeof in);
        if (!ifconfig_accepts(name, ntohl(in.sin_addr.s_addr), mode))
            continue;
        if (take(sock.get(), r))
            ++found;
    }
    return found;
}

} // namespace

int interface_socket_descriptor()
{
    return interface_socket().get();
}

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode)
{
    return walk_interfaces(mode, [&out](int sock, struct ifreq& r) {
        struct ifreq q;
        std::memset(&q, 0, sizeof q);
        std::memcpy(q.ifr_name, r.ifr_name, IFNAMSIZ);
        if (::ioctl(sock, SIOCGIFADDR, &q) < 0)
            return false;
        struct sockaddr_in in;
        std::memcpy(&in, &q.ifr_addr, sizeof in);
        INet4::Addr a;
        a.Assign(static_cast<unsigned long>(in.sin_addr.s_addr));
        out.push_back(a);
        return true;
    });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, int flags)
{
    return walk_interfaces(mode, [&out, flags](int sock, struct ifreq& r) {
        struct ifreq q;
        std::memset(&q, 0, sizeof q);
        std::memcpy(q.ifr_name, r.ifr_name, IFNAMSIZ);
        if (::ioctl(sock, SIOCGIFADDR, &q) < 0)
            return false;
        if (::ioctl(sock, SIOCGIFFLAGS, &q) < 0)
            return false;
        if ((q.ifr_flags & flags) != flags)
            return false;
        char name[IFNAMSIZ + 1];
        std::memcpy(name, r.ifr_name, IFNAMSIZ);
        name[IFNAMSIZ] = '\0';
        out.emplace_back(name);
        return true;
    });
}

namespace {

PrivateAddressSource& address_source()
{
    static PrivateAddressSource source;
    return source;
}

} // namespace

int private_addresses(std::list<INet4::Addr>& out)
{
    if (address_source())
        return address_source()(out);
    return ifconfig(out, ifconfig_private);
}

void set_private_address_source(PrivateAddressSource source)
{
    address_source() = std::move(source);
}

INet4::Addr first_private_address()
{
    std::list<INet4::Addr> found;
    INet4::Addr own;
    private_addresses(found);
    if (!found.empty())
        own = found.front();
    else
        own.Assign(htonl(INADDR_LOOPBACK));
    own.SetPort(0);
    return own;
}

std::string hostname()
{
    char name[512];
    if (::gethostname(name, sizeof name) != 0)
        return std::string();
    name[sizeof name - 1] = '\0';
    return name;
}

int hostname(const std::string& name)
{
    return ::sethostname(name.c_str(), name.size());
}

} // namespace Net
