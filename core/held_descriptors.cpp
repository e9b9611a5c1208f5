#include "core/held_descriptors.hpp"

#include <utility>

#include <fcntl.h>

bool HeldDescriptors::Hold(std::size_t n)
{
    while (held_.size() > n)
        held_.pop_back();
    while (held_.size() < n) {
        // Any descriptor does; a duplicate of one held costs no path lookup.
        OwnedFd fd(held_.empty() ? ::open("/dev/null", O_RDONLY | O_CLOEXEC)
                                 : ::fcntl(held_.front().get(), F_DUPFD_CLOEXEC, 0));
        if (!fd)
            return false;
        held_.push_back(std::move(fd));
    }
    return true;
}

void HeldDescriptors::Adopt(OwnedFd fd)
{
    if (fd)
        held_.push_back(std::move(fd));
}
