#pragma once

// A device descriptor's owner: what OwnedFd is for a descriptor of the
// kernel's, for one that Driver::Open returned, which goes back through
// Driver::Close. A holder that may ever hold such a descriptor is a DeviceFd,
// even when it holds a duplicate at times; one that only ever holds
// duplicates (an Event's watch) may be an OwnedFd.

#include "core/fd.hpp"
#include "hardware/driver_port.hpp"

using DeviceFd = BasicOwnedFd<&Driver::Close>;
