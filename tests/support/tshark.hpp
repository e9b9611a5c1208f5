#pragma once

// Frames decoded by tshark, for tests that let an independent dissector read
// our bytes: the frames are written as a text2pcap hex dump, turned into a
// capture file by text2pcap and read back by tshark. Tests that use it carry
// the CTest label "host-only".

#include <cstdint>
#include <string>
#include <vector>

namespace TestTshark {

// text2pcap and tshark are on PATH.
bool Available();

struct Frame {
    std::vector<std::uint8_t> bytes;
    char direction = 0; // 0, or 'I' / 'O' before the frame (text2pcap -D)
};

// Writes the frames as a text2pcap hex dump in a fresh temporary folder, runs
// `text2pcap <text2pcapArgs> in.txt out.pcap`, then
// `tshark -r out.pcap <tsharkArgs>`, and returns tshark's standard output as
// rows (one a line) split at `separator`. tshark's standard error lines
// other than its "Running as user" note, and a program's failed exit with
// its standard error, go to *errors when given. The folder is removed.
std::vector<std::vector<std::string>> Fields(std::vector<Frame> const& frames,
                                             std::vector<std::string> const& text2pcapArgs,
                                             std::vector<std::string> const& tsharkArgs, char separator = ',',
                                             std::string* errors = nullptr);

} // namespace TestTshark
