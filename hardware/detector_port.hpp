#pragma once
// What the detector services (tone/DTMF and DSP) share: one service per
// process, the driver opened on first use and read through one loop event,
// records that come in whole, a driver that hangs up let go so that the next
// configuration opens it again, and the ids of the enables.

#include "core/event.hpp"
#include "core/singleton.hpp"
#include "hardware/driver_port.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string_view>

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

// How a service opens its driver.
struct DriverOpen {
    const char* (*device)();
    int flags;
    const char* fail; // logged with the error text when the open fails
    const char* event_name;
};

// The base of a detector service `S`, which reads its driver's records in
// `S::OnEvent(int, short)`. A test puts a service of its own in place of the
// process's with UseInstance.
template <class S>
class DriverService {
public:
    static S& instance() { return Singleton<S>::Get(); }
    static S* UseInstance(S* service) { return Singleton<S>::Use(service); }

    DriverService(const DriverService&) = delete;
    DriverService& operator=(const DriverService&) = delete;

    // Opens the driver when it is not open; true when it is.
    bool init()
    {
        if (is_open())
            return true;
        int fd = Driver::Open(open_.device(), open_.flags);
        if (fd < 0) {
            std::cerr << open_.fail << std::strerror(errno) << std::endl;
            return false;
        }
        m_event.Bind(open_.event_name, &S::OnEvent, static_cast<S*>(this));
        // The event keeps its own duplicate: without one the driver is not
        // open for the service, and the next init tries again.
        const bool watched = m_event.Schedule(Fd(fd), POLLIN);
        const int error = errno;
        Driver::Close(fd);
        if (!watched)
            std::cerr << open_.fail << std::strerror(error) << std::endl;
        return watched;
    }
    bool is_open() const { return m_event.fd().get() >= 0; }

    // The id the next enable takes after `id` (tests start near the wrap).
    void set_last_id(std::uint32_t id) noexcept { m_lastId = id; }

protected:
    explicit DriverService(const DriverOpen& open) : open_(open) {}
    ~DriverService() { m_event.Release(); }

    std::uint32_t NextId()
    {
        if (++m_lastId == 0)
            ++m_lastId; // 0 stands for "no enable" in the drivers' events
        return m_lastId;
    }

    Event m_event;

private:
    const DriverOpen& open_;
    std::uint32_t m_lastId = 0;
};

// Reads every whole `Record` ready on `fd` into `on_record`; a record of
// another length is logged and dropped. `driver` names the driver in the
// error lines, which begin with `header` (the owner's log header).
template <class Record, class OnRecord>
void ReadRecords(Event& event, int fd, short revents, const char* driver, OnRecord on_record,
                 std::string_view header = {})
{
    bool ended = false;
    if (revents & POLLIN) {
        for (;;) {
            Record e;
            ssize_t n = ::read(fd, &e, sizeof e);
            if (n == static_cast<ssize_t>(sizeof e)) {
                on_record(e);
            } else if (n > 0) {
                std::cerr << header << "short record from " << driver << " (" << n << " bytes), dropped"
                          << std::endl;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                // A failing driver fails again on the next pass: it is let
                // go like one that has ended.
                std::cerr << header << "fail to read from " << driver << ": " << std::strerror(errno)
                          << std::endl;
                event.Release();
                return;
            } else {
                ended = n == 0;
                break;
            }
        }
    }
    // A driver that hangs up or ends its stream keeps reporting it on every
    // poll: let it go, so that the loop does not spin and the next
    // configuration opens it again.
    if (ended || (!(revents & POLLIN) && (revents & (POLLERR | POLLHUP | POLLNVAL)))) {
        std::cerr << header << "fail to read from " << driver << ": end of file" << std::endl;
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
