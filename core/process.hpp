#pragma once

#include <string>

// The pid of a process whose command name (the text between the first "("
// and the last ")" of /proc/<pid>/stat) equals `name`, or -1. A positive
// `pid` is tried first; then /proc is scanned.
int find_proc_by_name(const char* name, int pid);

namespace Linux {

// The pid file "/var/run/<name>.pid" for the life of the object: written at
// construction (an existing file is overwritten), removed at destruction.
class Run {
public:
    explicit Run(const char* name);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const std::string& path() const { return path_; }
    bool made() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace Linux

namespace Console {
void SwitchToBinaryMode();
void SwitchToNonBlockMode();
} // namespace Console
