#pragma once

#include <string>

// Every fixed absolute path of the server goes through RootPath(), so that a
// test, or a development run, can move the whole file-system footprint below
// one directory by setting GW_ROOT. With GW_ROOT unset or empty the path is
// returned unchanged. GW_ROOT is read on every call, so a test may set and
// unset it freely. "/proc/<pid>" look-ups do not use this: they stay real.
std::string RootPath(const char* absolute);
std::string RootPath(const std::string& absolute);
// Makes a relative GW_ROOT absolute against the working directory, once at
// start-up, so that a later change of directory does not move the root.
void AbsoluteRoot();
