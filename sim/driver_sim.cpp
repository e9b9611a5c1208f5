// The simulated board's backend of the driver port (the default build on
// machines without the board).

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_thread.hpp"
#include "sim/board_files.hpp"
#include "sim/control.hpp"
#include "sim/netifs.hpp"

#include <cstdlib>
#include <iostream>

#include <sys/ioctl.h>

namespace {

// GW_SIM_SETUP (requests of the control language separated by ';') is
// carried out before the program's first open, so that a test can make a
// device absent or failing before the program starts using it. Any program
// that drives a device links this file, and so runs it. It changes the
// model only: nothing is written until Boot.
const bool setup_done = [] {
    if (const char* setup = std::getenv("GW_SIM_SETUP"))
        Sim::Board::instance().Setup(setup, std::cerr);
    return true;
}();

} // namespace

namespace Driver {

void Boot()
{
    (void)setup_done;
    // The files as the board's boot leaves them, below GW_ROOT only; later
    // changes keep them up to date.
    if (const char* root = std::getenv("GW_ROOT"); root != nullptr && *root != '\0')
        Sim::Board::instance().device<Sim::BoardFiles>().Publish(root);
    // The socket's place, fixed while the working directory is the user's.
    (void)Sim::ControlSocket::EnvironmentPath();
}

void Serve()
{
    // Threads started before a daemon's fork run on in the parent alone.
    // Before this point the board starts none unless its setup asks for one:
    // qemu-user, under which the board's build is tested, cannot start a
    // thread in the forked child of a process that had more than one.
    Sim::BoardThread::AdoptAll();
    Sim::ControlSocket::StartFromEnvironment();
}

int Open(const char* path, int flags)
{
    (void)setup_done;
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

int NetIoctl(int socket, unsigned long request, void* ifreq)
{
    (void)setup_done;
    // The board's own interfaces; a request for any other name reaches the
    // kernel through the socket, as on the board.
    if (ifreq != nullptr && Sim::NetIfs::Owns(ifreq))
        return Sim::Board::instance().NetIoctl(static_cast<std::uint32_t>(request), ifreq);
    return ::ioctl(socket, request, ifreq);
}

} // namespace Driver
