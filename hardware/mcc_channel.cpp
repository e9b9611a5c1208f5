#include "hardware/mcc_channel.hpp"

#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"

#include <cerrno>

#include <fcntl.h>

MccRawChannel AllocateMccChannel(int flags, mcc_allocate_params const& params)
{
    MccRawChannel ch;
    ch.fd.reset(Driver::Open(GetMccCtlDevName(), flags | O_CLOEXEC));
    if (!ch.fd) {
        ch.failed = MccRawChannel::Step::Open;
        ch.error = errno;
        return ch;
    }
    // The driver takes the record as it is; the copy keeps the caller's const.
    mcc_allocate_params record = params;
    if (Driver::Ioctl(ch.fd.get(), MCC_ALLOCATE, &record) < 0) {
        ch.failed = MccRawChannel::Step::Allocate;
        ch.error = errno;
        ch.fd.reset();
        return ch;
    }
    errno = 0;
    int timeslot = Driver::Ioctl(ch.fd.get(), MCC_TIMESLOT);
    if (timeslot < 0) {
        // A channel without a switch channel is of no use to anybody.
        ch.failed = MccRawChannel::Step::Timeslot;
        ch.error = errno;
        ch.fd.reset();
        return ch;
    }
    ch.timeslot = timeslot;
    return ch;
}

bool ReadMccCapacity(mcc_capacity& out)
{
    DeviceFd fd(Driver::Open(GetMccCtlDevName(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return false;
    mcc_capacity caps{};
    if (Driver::Ioctl(fd.get(), MCC_CAPACITY, &caps) < 0)
        return false;
    out = caps;
    return true;
}
