#pragma once

// Runs frames through an independent decoder: writes them as a text2pcap
// hex dump, turns that into a capture file with text2pcap and hands it to
// tshark. Tests that use it need the host's tools and carry the CTest label
// host-only.

#include <cstdint>
#include <string>
#include <vector>

namespace TestTshark {

// text2pcap and tshark are both on PATH.
bool Available();

struct Frame {
    std::vector<std::uint8_t> bytes;
    char direction = 0; // 0, or 'I' / 'O' for text2pcap -D
};

// Writes `frames` as a hex dump in a fresh temporary folder, runs
// `text2pcap <text2pcapArgs> in.txt out.pcap`, then
// `tshark -r out.pcap <tsharkArgs>`, and returns tshark's standard output
// as one row per line, split at `separator`. Standard error lines (other
// than tshark's "Running as user" note and text2pcap's separator lines)
// and failed exits go to *errors when it is given. The folder is removed
// before returning.
std::vector<std::vector<std::string>> Fields(std::vector<Frame> const& frames,
                                             std::vector<std::string> const& text2pcapArgs,
                                             std::vector<std::string> const& tsharkArgs, char separator = ',',
                                             std::string* errors = nullptr);

} // namespace TestTshark
