#pragma once

// Outside programs for tests that let a real implementation read our bytes
// (tshark, snmptrapd, ...).

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace TestSpawn {

// The program's path: PATH first, then the sbin folders that a plain user's
// PATH lacks (Debian puts daemons there); empty when it is nowhere.
std::string FindProgram(std::string const& name);

// Starts args[0] (looked up on PATH) with standard input from /dev/null and
// the two output streams into the given files, with the variables of `env`
// set; -1 when fork failed.
pid_t Spawn(std::vector<std::string> const& args, std::string const& out = "/dev/null",
            std::string const& err = "/dev/null",
            std::vector<std::pair<std::string, std::string>> const& env = {});

// Reaps the process; its exit status, or -1 when it did not exit normally.
int Wait(pid_t pid);

} // namespace TestSpawn
