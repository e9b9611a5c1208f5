#include "sim/detector_device.hpp"

#include <ctime>

#include <sys/socket.h>

namespace Sim {

std::uint64_t DetectorDevice::MonotonicMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void DetectorDevice::Opened(int open, int)
{
    opens_.insert(open);
}

void DetectorDevice::Closed(int open)
{
    opens_.erase(open);
}

void DetectorDevice::ResetCommon()
{
    opens_.clear();
    failures_.clear();
    clock_ = &MonotonicMs;
}

void DetectorDevice::FailTimeslot(std::uint32_t timeslot, int count, int error)
{
    if (count <= 0)
        failures_.erase(timeslot);
    else
        failures_[timeslot] = Failure{count, error};
}

bool DetectorDevice::TakeFailure(std::uint32_t timeslot, int& error)
{
    auto it = failures_.find(timeslot);
    if (it == failures_.end())
        return false;
    error = it->second.error;
    if (--it->second.count == 0)
        failures_.erase(it);
    return true;
}

int DetectorDevice::Inject(const void* record, std::size_t length)
{
    int reached = 0;
    for (int fd : opens_)
        if (::send(fd, record, length, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(length))
            ++reached;
    return reached;
}

} // namespace Sim
