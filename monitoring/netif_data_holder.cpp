#include "monitoring/netif_data_holder.hpp"

#include "core/traces.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The interface requests of <linux/sockios.h>, and the flag the interface
// table reports.
constexpr unsigned long kGetName = 0x8910;  // SIOCGIFNAME
constexpr unsigned long kGetFlags = 0x8913; // SIOCGIFFLAGS
constexpr int kRunning = 0x40;              // IFF_RUNNING
static_assert(kRunning == IFF_RUNNING);

// AF_PACKET, SOCK_RAW: any socket serves the interface requests; this one
// is what the board has always used.
constexpr int kPacketFamily = 17;
constexpr int kRawType = 3;
constexpr int kProtocol = 255;

NetIfSource* g_source = nullptr;

// "Error open socket:  errno="text"" as the board has always logged it.
void TraceError(const char* what, int error)
{
    if (traces[TraceCtl::monitoring_internal])
        std::clog << what << " errno=\"" << std::strerror(error) << "\"" << std::endl;
}

} // namespace

NetIfSource::~NetIfSource()
{
    Close();
}

bool NetIfSource::Open()
{
    Close();
    fd_ = ::socket(kPacketFamily, kRawType | SOCK_CLOEXEC, kProtocol);
    return fd_ >= 0;
}

void NetIfSource::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool NetIfSource::Name(int index, std::string& name)
{
    struct ifreq request;
    std::memset(&request, 0, sizeof request);
    request.ifr_ifindex = index;
    if (::ioctl(fd_, kGetName, &request) < 0)
        return false;
    name.assign(request.ifr_name, strnlen(request.ifr_name, sizeof request.ifr_name));
    return true;
}

bool NetIfSource::Flags(const std::string& name, int& flags)
{
    struct ifreq request;
    std::memset(&request, 0, sizeof request);
    // A name the kernel gave back always fits; a longer one cannot name an
    // interface.
    if (name.size() >= sizeof request.ifr_name) {
        errno = ENODEV;
        return false;
    }
    std::memcpy(request.ifr_name, name.data(), name.size());
    if (::ioctl(fd_, kGetFlags, &request) < 0)
        return false;
    flags = static_cast<unsigned short>(request.ifr_flags);
    return true;
}

NetIfSource& NetIfSource::Get()
{
    static NetIfSource kernel;
    return g_source != nullptr ? *g_source : kernel;
}

void NetIfSource::Set(NetIfSource* source)
{
    g_source = source;
}

NetIfDataHolder::NetIfDataHolder(int ifIndex_, std::string name_) : ifIndex(ifIndex_), name(std::move(name_))
{}

bool NetIfDataHolder::updateNetIf()
{
    NetIfSource& source = NetIfSource::Get();
    if (!source.Open()) {
        TraceError("Error open socket: ", errno);
        return false;
    }
    // The name is asked again at every sample: the index is what stays.
    std::string current;
    int flags = 0;
    bool changed = false;
    if (source.Name(ifIndex, current) && source.Flags(current, flags))
        changed = setNetIfStatus((flags & kRunning) != 0 ? 1 : 0);
    else
        TraceError("Error ioctl socket: ", errno);
    source.Close();
    return changed;
}

bool NetIfDataHolder::setNetIfStatus(int running)
{
    samples.push_back(running != 0 ? 1 : 0);
    while (samples.size() > 3)
        samples.pop_front();
    int sum = 0;
    for (std::int32_t s : samples)
        sum += s;
    // Two running samples of the last three make the interface up.
    const std::int32_t state = sum >= 2 ? 1 : 0;
    const bool changed = state != upState;
    upState = state;
    operStatus = adminStatus = state == 1 ? 1 : 2;
    return changed;
}
