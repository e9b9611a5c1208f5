#include "core/signal.hpp"

namespace IPC::Signal {

Set::Set()
{
    sigemptyset(&set_);
}

Set::Set(int a, int b) : Set()
{
    sigaddset(&set_, a);
    sigaddset(&set_, b);
}

Set::Set(int a, int b, int c) : Set(a, b)
{
    sigaddset(&set_, c);
}

bool Set::is_signal(int sig)
{
    sigset_t empty;
    sigemptyset(&empty);
    return sigismember(&empty, sig) >= 0;
}

namespace {

int install(int sig, struct sigaction& sa)
{
    return sigaction(sig, &sa, nullptr);
}

struct sigaction empty_action()
{
    struct sigaction sa = {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    return sa;
}

// What siginterrupt() does, without the deprecated call: toggle SA_RESTART
// on the installed action.
int set_restart(int sig, bool restart)
{
    struct sigaction sa;
    if (sigaction(sig, nullptr, &sa) < 0)
        return -1;
    if (restart)
        sa.sa_flags |= SA_RESTART;
    else
        sa.sa_flags &= ~SA_RESTART;
    return sigaction(sig, &sa, nullptr);
}

} // namespace

int ignore(int sig)
{
    struct sigaction sa = empty_action();
    sa.sa_handler = SIG_IGN;
    return install(sig, sa);
}

int system(int sig)
{
    struct sigaction sa = empty_action();
    sa.sa_handler = SIG_DFL;
    return install(sig, sa);
}

int handle(int sig, void (*handler)(int), const Set& mask, int flags)
{
    struct sigaction sa = empty_action();
    sa.sa_handler = handler;
    sa.sa_mask = mask.get();
    sa.sa_flags = flags & ~SA_SIGINFO;
    return install(sig, sa);
}

int handle(int sig, void (*handler)(int), int flags)
{
    return handle(sig, handler, Set(), flags);
}

int handle(int sig, void (*handler)(int, siginfo_t*, void*), const Set& mask, int flags)
{
    struct sigaction sa = empty_action();
    sa.sa_sigaction = handler;
    sa.sa_mask = mask.get();
    sa.sa_flags = flags | SA_SIGINFO;
    return install(sig, sa);
}

int handle(int sig, void (*handler)(int, siginfo_t*, void*), int flags)
{
    return handle(sig, handler, Set(), flags);
}

int disable_int(int sig)
{
    return set_restart(sig, true);
}
int enable_int(int sig)
{
    return set_restart(sig, false);
}

} // namespace IPC::Signal
