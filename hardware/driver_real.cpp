// The board's backend of the driver port: the calls go straight to the
// kernel. Linked only into builds for the board.

#include "hardware/driver_port.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Driver {

void Boot()
{}

void Serve()
{}

int Open(const char* path, int flags)
{
    return ::open(path, flags);
}

int Ioctl(int fd, std::uint32_t request, void* arg)
{
    return ::ioctl(fd, static_cast<unsigned long>(request), arg);
}

int IoctlValue(int fd, std::uint32_t request, unsigned long value)
{
    return ::ioctl(fd, static_cast<unsigned long>(request), value);
}

int Close(int fd)
{
    return ::close(fd);
}

int NetIoctl(int socket, unsigned long request, void* ifreq)
{
    return ::ioctl(socket, request, ifreq);
}

} // namespace Driver
