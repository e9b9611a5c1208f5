#pragma once

// Small pieces shared by the models of the MCC controllers and the DSPs:
// the life of an open seen from the board's end, and the words of the
// control language.

#include "sim/device.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Sim::Util {

// The program closed its last descriptor of the open.
inline bool ProgramGone(int open)
{
    pollfd p{open, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

inline ino_t InodeOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// One of the program's descriptors of the open whose program end has this
// inode, or -1. The board lives in the program's process, so the program's
// descriptors are its own.
inline int FindProgramEnd(ino_t inode)
{
    int found = -1;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        int own = ::dirfd(d);
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            int fd = std::atoi(e->d_name);
            struct stat st {};
            if (fd != own && ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == inode) {
                found = fd;
                break;
            }
        }
        ::closedir(d);
    }
    return found;
}

// Closes the board's end of an open in place: the number stays taken (by a
// socket whose peer is gone, so the board forgets the open on its next
// look) while the program's end sees its peer go away. With a record left
// unread on the board's end the program's next read fails with ECONNRESET.
// False when no descriptor could be had for it: nothing changed.
inline bool CloseInPlace(int open)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return false;
    ::close(sv[1]);
    const bool placed = ::dup3(sv[0], open, O_CLOEXEC) == open;
    ::close(sv[0]);
    return placed;
}

// A number of the control language (decimal, 0x hex or 0 octal) no larger
// than `limit`; a sign is refused rather than wrapped.
inline bool ParseNumber(const std::string& text, std::uint32_t& out, unsigned long long limit = 0xFFFFFFFFull)
{
    if (text.empty() || text[0] == '-')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > limit)
        return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

// Word `index` of a driver record of native words, and its setter.
inline std::uint32_t Word(const void* arg, unsigned index)
{
    std::uint32_t w;
    std::memcpy(&w, static_cast<const unsigned char*>(arg) + 4 * index, sizeof w);
    return w;
}

inline void SetWord(void* arg, unsigned index, std::uint32_t w)
{
    std::memcpy(static_cast<unsigned char*>(arg) + 4 * index, &w, sizeof w);
}

// A driver record copied out of the program's argument.
template <class R>
R Take(const void* arg)
{
    R r;
    std::memcpy(&r, arg, sizeof r);
    return r;
}

// A request refused with `error`.
inline Outcome Fail(int error)
{
    return Outcome{-1, error, false};
}

inline bool ParseSigned(const std::string& text, std::int32_t& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

inline bool ParseHex(const std::string& text, std::vector<unsigned char>& out)
{
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        std::uint32_t b;
        if (!ParseNumber("0x" + text.substr(i, 2), b))
            return false;
        out.push_back(static_cast<unsigned char>(b));
    }
    return true;
}

inline std::string Hex(const unsigned char* data, std::size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

} // namespace Sim::Util
