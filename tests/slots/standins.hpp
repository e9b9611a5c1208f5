#pragma once

// The stand-in programs of tests/slots/standins/ (pppd, the fax transfer
// program, the fax receiver, the T.38 program) installed into a server's root at the paths
// the server runs them from, and what they logged. They behave as
// STANDIN_MODE says and log to STANDIN_LOG (standin.py); a server's
// children inherit its environment.

#include <string>
#include <vector>

namespace Standins {

// Links each stand-in in at its rooted path below `root`.
void Install(std::string const& root);

// One start of a stand-in.
struct Run {
    std::vector<std::string> argv;
    int pid = 0;
    std::vector<std::string> fds; // what descriptors 0, 1 and 2 are
    std::string mode;
    std::vector<std::string> input; // hex of each read of its standard input
    std::vector<int> signals;       // the signal that ended it, when one did
};

// Every start logged in `log` so far, oldest first, with what each logged
// afterwards.
std::vector<Run> Read(std::string const& log);

} // namespace Standins
