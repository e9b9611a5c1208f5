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

// Owns one descriptor; move-only; closes on destruction and on reset.
class OwnedFd {
public:
    constexpr OwnedFd() noexcept = default;
    explicit OwnedFd(int fd) noexcept : fd_(fd) {}
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~OwnedFd() { reset(); }

    int get() const noexcept { return fd_; }
    Fd fd() const noexcept { return Fd(fd_); }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Closes the held descriptor (if any) and takes fd.
    void reset(int fd = -1) noexcept;
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

bool NonBlockMode(int fd);
bool BlockMode(int fd);
// Returns true when setting the flags FAILED (false on success).
bool SetCloexec(int fd, bool on);
