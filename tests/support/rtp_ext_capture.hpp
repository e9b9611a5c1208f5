#pragma once

// RTP header extensions decoded by tshark: each extension is wrapped in an
// RTP packet of its own, sent (in the capture) as UDP from port 40000 to
// 40002, and tshark decodes that port as RTP, so the extension reaches the
// dissector of its profile (0x0167: ED-137). Host-only, like every tshark
// check.

#include "support/tshark.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace TestRtpExt {

constexpr std::uint16_t kED137Profile = 0x0167;

// An RTP packet (RFC 3550 5.3.1): V=2, X=1, no payload; the extension
// header holds `profile` and the length in 32-bit words, and the extension
// bytes are padded with zeros to a whole word.
std::vector<std::uint8_t> RtpPacket(std::vector<std::uint8_t> const& extension,
                                    std::uint16_t profile = kED137Profile, std::uint32_t ssrc = 0x11223344);

// One row per extension, one cell per field of `fields` (tshark -e names).
// A field that occurs several times in a packet lists its values joined by
// '|' in its cell. Problems reported by the tools go to *errors.
std::vector<std::vector<std::string>> Fields(std::vector<std::vector<std::uint8_t>> const& extensions,
                                             std::vector<std::string> const& fields,
                                             std::string* errors = nullptr,
                                             std::uint16_t profile = kED137Profile);

} // namespace TestRtpExt
