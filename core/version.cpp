#include "core/version.hpp"

#include <ostream>

#ifndef GW_BUILD_USER
#define GW_BUILD_USER "unknown"
#endif

constinit const Version Version::current(Version::snapshot, 0, "", GW_BUILD_USER, "2025-07-10 19:41",
                                         "R250710-1941", "ppc");

void Version::put(std::ostream& os) const
{
    os << tag;
}

const char* version_string(Version::Type type)
{
    switch (type) {
    case Version::snapshot:
        return "snapshot";
    case Version::test:
        return "test";
    case Version::release:
        return "release";
    case Version::unit_test:
        return "unit-test";
    }
    return "unknown";
}

const char* version_suffix(Version::Type type)
{
    switch (type) {
    case Version::snapshot:
        return "S";
    case Version::test:
        return "T";
    case Version::release:
        return "R";
    case Version::unit_test:
        return "T"; // shares the test letter
    }
    return "U";
}

std::ostream& operator<<(std::ostream& os, Version::Type type)
{
    return os << version_string(type);
}

std::ostream& operator<<(std::ostream& os, const Version& v)
{
    v.put(os);
    return os;
}
