#pragma once

#include <functional>
#include <string>
#include <vector>

// Checks run around every test of every test program. `before` (optional)
// runs when a test starts, to take a baseline; `check` runs when it ends and
// returns an empty text when nothing leaked, else what leaked (reported as a
// failure of that test). Register from main or from a function that main
// calls: a static registrar in a library object that nothing references is
// dropped by the linker.
void AddLeakCheck(std::function<std::string()> check, std::function<void()> before = {});

// Installs the listener and the runtime-foundation checks (event loop
// registrations, timers, deferred calls, open descriptors). Called by main.
void InstallLeakChecks();

// The children of this program that have not ended yet.
std::vector<int> RunningChildren();

// Every child of this program still running is killed and named in the
// result; every child, ended or killed, is reaped. A test program that
// starts processes registers it with AddLeakCheck.
std::string LeftChildProcesses();
