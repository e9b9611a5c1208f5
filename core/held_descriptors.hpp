#pragma once

// Descriptors held open for a use to come. A count of free descriptors is a
// promise that every open, socket, accept, pipe and duplicate elsewhere in
// the process ignores; a descriptor held open cannot be taken by them, and
// letting it go just before the use hands that use its number.

#include "core/fd.hpp"

#include <cstddef>
#include <vector>

class HeldDescriptors {
public:
    HeldDescriptors() = default;
    HeldDescriptors(HeldDescriptors const&) = delete;
    HeldDescriptors& operator=(HeldDescriptors const&) = delete;

    std::size_t size() const { return held_.size(); }
    // Holds `n` in all, opening more or letting some go; false (errno set)
    // when fewer could be had, which stay held.
    bool Hold(std::size_t n);
    // `fd`, whose own use is over, is held from now on: its number is never
    // free in between.
    void Adopt(OwnedFd fd);

private:
    std::vector<OwnedFd> held_;
};
