#include "signalling/isdn_side.hpp"

#include <ostream>

namespace ISDN {

std::ostream& operator<<(std::ostream& os, Side::type side)
{
    switch (side) {
    case Side::user:
        return os << "user";
    case Side::network:
        return os << "network";
    }
    return os << static_cast<int>(side);
}

} // namespace ISDN
