#pragma once

// Runs build/server as a child process below a private root directory
// (GW_ROOT), with its standard output and error captured in files there.

#include <csignal>
#include <string>
#include <vector>

class ServerRoot {
public:
    ServerRoot();
    ~ServerRoot();
    ServerRoot(const ServerRoot&) = delete;
    ServerRoot& operator=(const ServerRoot&) = delete;

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& relative) const { return dir_ + "/" + relative; }
    void mkdirs(const std::string& relative) const;
    void write(const std::string& relative, const std::string& text) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::string dir_;
};

class ServerProcess {
public:
    // Starts build/server with `args`; output goes to <root>/stdout and
    // <root>/stderr.
    ServerProcess(const ServerRoot& root, const std::vector<std::string>& args);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int pid() const { return pid_; }
    void signal(int sig) const;
    // The wait status once the process ended (it always ends quickly after
    // the signals the tests send); -1 when it did not end in time.
    int wait();
    std::string out() const { return root_.read("stdout"); }
    std::string err() const { return root_.read("stderr"); }

private:
    const ServerRoot& root_;
    int pid_ = -1;
    bool reaped_ = false;
};

// Polls `done` every 10 ms for at most `seconds`: for conditions that another
// process brings about (a file appears, a line is written).
template <class F>
bool Eventually(F done, int seconds = 20);
bool EventuallyImpl(bool (*probe)(void*), void* ctx, int seconds);
template <class F>
bool Eventually(F done, int seconds)
{
    return EventuallyImpl([](void* c) { return (*static_cast<F*>(c))(); }, &done, seconds);
}

// The full path of build/server.
std::string ServerBinary();
