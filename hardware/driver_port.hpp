#pragma once

// The one door through which the program opens and commands the board's
// drivers. Two backends exist and are chosen when the program is linked:
// the board's (plain system calls) and the simulated board (sim/). Product
// code is written once against these calls; read, write, poll and dup
// stay ordinary system calls on the descriptor that Open returns.
//
// Request numbers are the board's own (32-bit PowerPC ioctl encoding) and
// are passed through unchanged: never rebuild them with the build machine's
// _IO macros, whose direction bits differ.

#include <cstdint>

namespace Driver {

// Bits of a board request number (PowerPC layout: 3 direction bits, 13 size
// bits, 8 type bits, 8 number bits). Used to check records against requests.
constexpr std::uint32_t RequestSize(std::uint32_t request)
{
    return (request >> 16) & 0x1FFFu;
}
constexpr std::uint32_t RequestDir(std::uint32_t request)
{
    return request >> 29;
}
constexpr std::uint32_t kDirNone = 1;
constexpr std::uint32_t kDirRead = 2;
constexpr std::uint32_t kDirWrite = 4;

// The program owns its root now (its pid file is held): the backend's own
// start. The simulated board writes its files below GW_ROOT; the board's
// backend has nothing to do.
void Boot();

// The calling process serves from now on (after a daemon's fork, the
// child): the simulated board runs its own threads and its control socket
// here; the board's backend has nothing to do.
void Serve();

// open(2): a descriptor, or -1 with errno (ENOENT for a device the board
// does not have). Honours O_NONBLOCK and O_CLOEXEC.
int Open(const char* path, int flags);

// ioctl(2) with a pointer argument (the record), or none.
int Ioctl(int fd, std::uint32_t request, void* arg = nullptr);

// ioctl(2) whose argument is a value rather than a record.
int IoctlValue(int fd, std::uint32_t request, unsigned long value);

// close(2). Every descriptor that Open returned is closed here (a
// DeviceFd does so), never with close(2): the simulated board answers a
// request on such a number from its own table, which only this call
// updates, and ends the open here when its last descriptor goes.
// Duplicates (dup(2)) reach the same open on either backend and may be
// closed either way; through here, the last one ends the open at once.
int Close(int fd);

// ioctl(2) on a socket for a network-interface request (SIOCGIFFLAGS,
// SIOCWANDEV, ...); `ifreq` is the kernel's interface record, named by its
// first 16 bytes. On the simulated board the board answers for its HDLC
// interfaces ("hdlc<N>") and every other name goes to the kernel.
int NetIoctl(int socket, unsigned long request, void* ifreq);

} // namespace Driver
