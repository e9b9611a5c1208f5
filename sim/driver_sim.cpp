// The simulated board's backend of the driver port (the default build on
// machines without the board).

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/control.hpp"

namespace {

// The control socket must be there before the program's first open, so that
// a test can make a device absent or failing before the program starts using
// it. Any program that drives a device links this file, and so starts it.
const bool control_started = (Sim::ControlSocket::StartFromEnvironment(), true);

} // namespace

namespace Driver {

int Open(const char* path, int flags)
{
    (void)control_started;
    return Sim::Board::instance().Open(path, flags);
}

int Ioctl(int fd, std::uint32_t request, void* arg)
{
    return Sim::Board::instance().Ioctl(fd, request, arg, 0, false);
}

int IoctlValue(int fd, std::uint32_t request, unsigned long value)
{
    return Sim::Board::instance().Ioctl(fd, request, nullptr, value, true);
}

int Close(int fd)
{
    return Sim::Board::instance().Close(fd);
}

} // namespace Driver
