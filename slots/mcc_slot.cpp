#include "slots/mcc_slot.hpp"

#include "hardware/mcc_channel.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// The driver's channel types.
constexpr std::uint32_t kTypeSs7 = 3;

} // namespace

MccSlot::MccSlot(DeviceFd channel, int timeslot) : timeslot(timeslot), channel_(std::move(channel))
{
    event.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
    event.Schedule(channel_.fd(), POLLIN);
}

MccSlot::~MccSlot()
{
    event.Release();
}

bool MccSlot::IUserData(std::vector<char> const& data)
{
    if (data.empty())
        return true;
    // One write is one frame of the channel.
    ssize_t n;
    do {
        n = ::write(channel_.get(), data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(data.size()))
        return true;
    if (n < 0)
        std::cerr << "mcc: write fail: " << std::strerror(errno) << " (slot " << *this << ")" << std::endl;
    else
        std::cerr << "mcc: write fail: " << n << " of " << data.size() << " bytes written (slot " << *this
                  << ")" << std::endl;
    // The host must not take lost data for delivered.
    return false;
}

void MccSlot::OnEvent(int fd, short revents)
{
    if (revents & POLLIN) {
        DoRead(fd);
        return;
    }
    // Poll keeps reporting these on every pass; nothing will be read.
    if (revents & (POLLERR | POLLHUP | POLLNVAL))
        Ended("channel closed");
}

void MccSlot::DoRead(int fd)
{
    std::vector<char> data(ReadSize);
    for (;;) {
        ssize_t n = ::read(fd, data.data(), data.size());
        if (n > 0) {
            OnUserData(std::vector<char>(data.begin(), data.begin() + n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // The end of the channel's stream stays readable for ever: going
        // back to poll would spin.
        Ended(n == 0 ? "end of file" : std::strerror(errno));
        return;
    }
}

void MccSlot::Ended(const char* why)
{
    std::cerr << "mcc: " << *this << " [" << timeslot << "]: read stopped: " << why << std::endl;
    event.Release();
}

MccFactory* MccFactory::instance()
{
    static MccFactory factory;
    return &factory;
}

Slot* MccFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_mcc())
        return nullptr;
    LGCP::MccParams const& p = params.get_mcc();
    const int type = p.get_type().getValue();
    if (type < LGCP::MccType::data || type > LGCP::MccType::transparent)
        return nullptr;
    // SS7 links run on a channel of their own kind, whatever the type.
    const std::uint32_t driverType =
        p.get_mode().getValue() == LGCP::MccMode::ss7 ? kTypeSs7 : static_cast<std::uint32_t>(type);
    std::clog << "mcc: MCC_ALLOCATE"
              << " type=" << driverType << std::endl;

    MccRawChannel ch = AllocateMccChannel(O_RDWR | O_NONBLOCK, {{driverType, 512, 0, 1, 1}});
    switch (ch.failed) {
    case MccRawChannel::Step::None: {
        auto* slot = new MccSlot(std::move(ch.fd), ch.timeslot);
        if (slot->watched())
            return slot;
        std::cerr << "mcc: fail to watch MCC channel: " << std::strerror(errno) << std::endl;
        delete slot;
        break;
    }
    case MccRawChannel::Step::Open:
        std::cerr << "mcc: fail to open MCC device: " << std::strerror(ch.error) << std::endl;
        break;
    case MccRawChannel::Step::Allocate:
        std::cerr << "mcc: MCC_ALLOCATE fail: " << std::strerror(ch.error) << std::endl;
        break;
    case MccRawChannel::Step::Timeslot:
        std::cerr << "mcc: MCC_TIMESLOT request failed." << std::endl;
        break;
    }
    return nullptr;
}

void MccFactory::Query(LGCP::Resources& resources)
{
    resources.set_mcc_data(0);
    resources.set_mcc_bri(0);
    resources.set_mcc_trans(0);
    mcc_capacity caps{};
    if (!ReadMccCapacity(caps))
        return;
    resources.set_mcc_data(static_cast<int>(caps.data));
    resources.set_mcc_bri(static_cast<int>(caps.bri));
    resources.set_mcc_trans(static_cast<int>(caps.transparent));
}
