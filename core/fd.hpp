#pragma once

// Descriptor handles.
//
// Fd is a plain handle: copying copies the number and destroying it closes
// nothing. An object that keeps a descriptor keeps its own duplicate
// (Fd::dup) in an OwnedFd, which closes it. A descriptor handed to a callback
// is valid only for the duration of the call.

class Fd {
public:
    constexpr Fd() noexcept = default;
    constexpr Fd(int fd) noexcept : fd_(fd) {}

    constexpr int get() const noexcept { return fd_; }
    constexpr operator int() const noexcept { return fd_; }
    constexpr explicit operator bool() const noexcept { return fd_ >= 0; }

    // A close-on-exec duplicate, or -1 (without calling dup when empty).
    int dup() const;
    // -1 with EBADF when empty; otherwise the result of close(), and the
    // handle becomes empty.
    int close();
    bool NonBlock() const;

private:
    int fd_ = -1;
};

// Owns one descriptor; move-only; closes it with `Close` on destruction and
// on reset. The descriptor's opener decides which close undoes its open.
template <int (*Close)(int)>
class BasicOwnedFd {
public:
    constexpr BasicOwnedFd() noexcept = default;
    explicit BasicOwnedFd(int fd) noexcept : fd_(fd) {}
    BasicOwnedFd(const BasicOwnedFd&) = delete;
    BasicOwnedFd& operator=(const BasicOwnedFd&) = delete;
    BasicOwnedFd(BasicOwnedFd&& other) noexcept : fd_(other.release()) {}
    BasicOwnedFd& operator=(BasicOwnedFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~BasicOwnedFd() { reset(); }

    int get() const noexcept { return fd_; }
    Fd fd() const noexcept { return Fd(fd_); }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Closes the held descriptor (if any) and takes fd.
    void reset(int fd = -1) noexcept
    {
        if (fd_ >= 0 && fd_ != fd)
            Close(fd_);
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

// close(2), for a descriptor of the kernel's.
int CloseDescriptor(int fd);
using OwnedFd = BasicOwnedFd<&CloseDescriptor>;

bool NonBlockMode(int fd);
bool BlockMode(int fd);
// Returns true when setting the flags FAILED (false on success).
bool SetCloexec(int fd, bool on);
