#pragma once

#include <csignal>

namespace IPC::Signal {

class Set {
public:
    Set();
    Set(int a, int b);
    Set(int a, int b, int c);
    // True when `sig` is a valid signal number.
    static bool is_signal(int sig);
    const sigset_t& get() const { return set_; }
    sigset_t& get() { return set_; }

private:
    sigset_t set_;
};

// Each installs one action (the old one is not returned) and gives the result
// of sigaction.
int ignore(int sig);
int system(int sig);
int handle(int sig, void (*handler)(int), const Set& mask, int flags);
int handle(int sig, void (*handler)(int), int flags);
int handle(int sig, void (*handler)(int, siginfo_t*, void*), const Set& mask, int flags);
int handle(int sig, void (*handler)(int, siginfo_t*, void*), int flags);
// System calls interrupted by `sig` restart / fail with EINTR.
int disable_int(int sig);
int enable_int(int sig);

} // namespace IPC::Signal
