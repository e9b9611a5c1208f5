#pragma once

// The peer libraries' own log: kept for the test that runs and printed
// (after the test's own output) only when that test fails.

#include <string>
#include <vector>

namespace SigTest {

// One line from the peer `who`. Text without a final newline is kept until
// the rest of its line comes, as the libraries write some lines in pieces.
void PeerLog(const std::string& who, const std::string& text);
// The complete lines of the running test so far, each "who: text".
const std::vector<std::string>& PeerLogLines();

} // namespace SigTest
