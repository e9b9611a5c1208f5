#pragma once

// libfaketime for tests that run a program under a fake wall clock. The
// library is preloaded into the program itself (LD_PRELOAD and the FAKETIME_*
// variables) rather than through the faketime command, which forks: the pid
// a test holds is then the program's own, and a signal reaches it.

#include <glob.h>

#include <string>

namespace TestFakeTime {

// The preload library of Debian's libfaketime; empty when it is missing
// (scripts/deps.sh installs it).
inline std::string Library()
{
    glob_t found{};
    std::string path;
    if (::glob("/usr/lib/*/faketime/libfaketime.so.1", 0, nullptr, &found) == 0 && found.gl_pathc > 0)
        path = found.gl_pathv[0];
    ::globfree(&found);
    return path;
}

} // namespace TestFakeTime
