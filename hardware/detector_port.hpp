#pragma once
// Plumbing shared by the detector services (tone/DTMF and DSP): the driver
// is opened on first use and read through one loop event; records come in
// whole, a driver that hangs up is let go so that the next configuration
// opens it again.

#include "core/event.hpp"
#include "hardware/driver_port.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>

#include <poll.h>
#include <unistd.h>

namespace Hardware::Detector {

// " errno=" and the text of the current errno in quotation marks.
struct ErrnoTail {
    int error;
};
inline std::ostream& operator<<(std::ostream& os, ErrnoTail t)
{
    return os << " errno=\"" << std::strerror(t.error) << '"';
}
inline ErrnoTail Tail()
{
    return ErrnoTail{errno};
}

// Opens `device` and schedules `event` on it for `action`, unless it is
// already open; on failure logs `fail` and the error.
template <class X>
bool OpenDriver(Event& event, const char* device, int flags, const char* fail, const char* event_name,
                void (X::*action)(int, short), X* obj)
{
    if (event.fd().get() >= 0)
        return true;
    int fd = Driver::Open(device, flags);
    if (fd < 0) {
        std::cerr << fail << std::strerror(errno) << std::endl;
        return false;
    }
    event.Bind(event_name, action, obj);
    event.Schedule(Fd(fd), POLLIN);
    Driver::Close(fd);
    return true;
}

// Reads every whole `Record` ready on `fd` into `on_record`. `driver` names
// the driver in the error lines.
template <class Record, class OnRecord>
void ReadRecords(Event& event, int fd, short revents, const char* driver, OnRecord on_record)
{
    bool ended = false;
    if (revents & POLLIN) {
        Record e;
        ssize_t n;
        while ((n = ::read(fd, &e, sizeof e)) == static_cast<ssize_t>(sizeof e))
            on_record(e);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            std::cerr << "fail to read from " << driver << ": " << std::strerror(errno) << std::endl;
        ended = n == 0;
    }
    // A driver that hangs up or ends its stream keeps reporting it on every
    // poll: let it go, so that the loop does not spin and the next
    // configuration opens it again.
    if (ended || (!(revents & POLLIN) && (revents & (POLLERR | POLLHUP | POLLNVAL)))) {
        std::cerr << "fail to read from " << driver << ": end of file" << std::endl;
        event.Release();
    }
}

// The first receiver in `list` that `match` accepts; null when none does.
template <class List, class Match>
auto* FindReceiver(List& list, Match match)
{
    for (auto& r : list)
        if (match(r))
            return &r;
    return static_cast<decltype(&*list.begin())>(nullptr);
}

} // namespace Hardware::Detector
