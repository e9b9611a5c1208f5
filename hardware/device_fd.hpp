#pragma once

// A device descriptor's owner: what OwnedFd is for a descriptor of the
// kernel's, for one that Driver::Open returned, which goes back through
// Driver::Close. A holder that may ever hold such a descriptor is a DeviceFd,
// even when it holds a duplicate at times; one that only ever holds
// duplicates (an Event's watch) may be an OwnedFd.

#include "core/fd.hpp"
#include "hardware/driver_port.hpp"

class DeviceFd {
public:
    constexpr DeviceFd() noexcept = default;
    explicit DeviceFd(int fd) noexcept : fd_(fd) {}
    DeviceFd(const DeviceFd&) = delete;
    DeviceFd& operator=(const DeviceFd&) = delete;
    DeviceFd(DeviceFd&& other) noexcept : fd_(other.release()) {}
    DeviceFd& operator=(DeviceFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~DeviceFd() { reset(); }

    int get() const noexcept { return fd_; }
    Fd fd() const noexcept { return Fd(fd_); }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Closes the held descriptor (if any) through the driver and takes fd.
    void reset(int fd = -1) noexcept
    {
        if (fd_ >= 0 && fd_ != fd)
            Driver::Close(fd_);
        fd_ = fd;
    }
    // Gives the descriptor up without closing it.
    int release() noexcept
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};
