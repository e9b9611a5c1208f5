#pragma once

// One VEZE packet of each of the 20 types with its wire octets and the
// payload lines its formatter prints: shared by the codec and renderer
// tests. Every sample has the same header fields (see Header()).

#include "radio/sig_proto.hpp"

#include <string>
#include <vector>

namespace vezetest {

struct Sample {
    sig_proto record;
    std::vector<unsigned char> wire;
    std::string payload_text; // empty for the header-only types
};

// Header fields of every sample: priority 5, t 1, p 0, r 1, s 0, b 1, rv 0,
// sh 1, pw 0, rs 1, c 2, status 300; on the wire xx 5A A9 65.
void Header(sig_proto& p);

// The 20 samples in type order.
std::vector<Sample> const& Samples();

// The sample of `type`.
Sample const& SampleOf(unsigned type);

in_addr Addr(char const* dotted);

// Field by field, the payload as octets.
bool SameRecord(sig_proto const& a, sig_proto const& b);

} // namespace vezetest
