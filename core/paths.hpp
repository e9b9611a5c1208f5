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
// Makes the folder `path` and every folder above it that is missing (mode
// 0755), as a root made any way may lack the folders the server writes
// into. False, with errno set, when one cannot be made or a name on the way
// is no folder.
bool MakeFolders(const std::string& path);
