#include "support/netns.hpp"

#include "core/fd.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace TestNet {

namespace {
bool inPrivate = false;
} // namespace

void EnterPrivate()
{
    if (const char* off = std::getenv("GW_TEST_NETNS"); off != nullptr && std::strcmp(off, "0") == 0)
        return;
    // A namespace without a working loopback would break every test that
    // talks to a local server: then the program goes back to the one it
    // came from.
    OwnedFd original(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    if (!original || ::unshare(CLONE_NEWNET) != 0)
        return;
    OwnedFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq r{};
    std::strncpy(r.ifr_name, "lo", IFNAMSIZ - 1);
    if (s && ::ioctl(s.get(), SIOCGIFFLAGS, &r) == 0) {
        r.ifr_flags = static_cast<short>(r.ifr_flags | IFF_UP);
        inPrivate = ::ioctl(s.get(), SIOCSIFFLAGS, &r) == 0;
    }
    if (!inPrivate)
        ::setns(original.get(), CLONE_NEWNET);
}

bool Private()
{
    return inPrivate;
}

std::string PortHeld(unsigned short port)
{
    if (inPrivate)
        return {};
    OwnedFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int const on = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!s || ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || errno != EADDRINUSE)
        return {};
    return "127.0.0.1:" + std::to_string(port) +
           " is held by another program (a server beside the tests?) and this test has no network "
           "namespace of its own";
}

} // namespace TestNet
