#pragma once

#include <iosfwd>

namespace ISDN {

// Which end of the D channel a link layer plays (Q.921 2.4: the C/R bit
// depends on it).
struct Side {
    enum type { user = 0, network = 1 };
};

// "user" or "network"; any other value as its number.
std::ostream& operator<<(std::ostream& os, Side::type side);

} // namespace ISDN
