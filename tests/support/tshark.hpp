#pragma once

// tshark as an independent decoder of the bytes the program puts on a line:
// the frames go through text2pcap into a capture file, and tshark's fields
// of each frame come back as one row. Tests that use it need the host's
// tools and carry the CTest label host-only.

#include <cstdint>
#include <string>
#include <vector>

namespace TestTshark {

// text2pcap and tshark are on PATH.
bool Available();

struct Frame {
    std::vector<std::uint8_t> bytes;
    char direction = 0; // 0, 'I' or 'O' (text2pcap -D)
};

// Writes the frames as a text2pcap hex dump in a fresh temp folder, runs
// `text2pcap <text2pcapArgs> in.txt out.pcap`, then
// `tshark -r out.pcap <tsharkArgs>`, and returns its standard output as rows
// split at `separator` (one row per line). Standard error lines other than
// tshark's "Running as user" note go to *errors when given; a tool that
// fails or cannot be run gives no row and says why there.
std::vector<std::vector<std::string>> Fields(std::vector<Frame> const& frames,
                                             std::vector<std::string> const& text2pcapArgs,
                                             std::vector<std::string> const& tsharkArgs, char separator = ',',
                                             std::string* errors = nullptr);

} // namespace TestTshark
