#include "core/fd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int Fd::dup() const
{
    if (fd_ < 0)
        return -1;
    // F_DUPFD_CLOEXEC marks the copy atomically: no child started in
    // between can inherit it.
    return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

int Fd::close()
{
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
}

bool Fd::NonBlock() const
{
    if (fd_ < 0)
        return false;
    return NonBlockMode(fd_);
}

int CloseDescriptor(int fd)
{
    return ::close(fd);
}

bool NonBlockMode(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) >= 0;
}

bool BlockMode(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) >= 0;
}

bool SetCloexec(int fd, bool on)
{
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0)
        return true;
    flags = on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC);
    return ::fcntl(fd, F_SETFD, flags) < 0;
}
