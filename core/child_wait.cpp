#include "core/child_wait.hpp"

#include "core/signal.hpp"

#include <cerrno>
#include <iostream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

ChildWaitService* ChildWaitService::childWaitService = nullptr;

namespace {

int usage_count = 0;
// The write end as the signal handler sees it.
volatile std::sig_atomic_t wake_fd = -1;

void Wake()
{
    int fd = wake_fd;
    if (fd < 0)
        return;
    char b = 0;
    // A full channel already holds a wake-up that makes the loop reap, so a
    // byte refused here loses nothing; blocking here would hang the process.
    (void)::send(fd, &b, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

} // namespace

ChildWaitUsage::ChildWaitUsage()
{
    if (usage_count++ == 0)
        ChildWait::Initialize();
}

ChildWaitUsage::~ChildWaitUsage()
{
    if (--usage_count == 0)
        ChildWait::Cleanup();
}

ChildWait::ChildWait() : handler_(new (storage_) DummyHandler)
{}

ChildWait::~ChildWait()
{
    handler_->~Handler();
    Detach();
}

bool ChildWait::listed() const noexcept
{
    ChildWaitService* svc = ChildWaitService::childWaitService;
    return svc != nullptr && svc->waiters_.contains(this);
}

void ChildWait::Attach(int pid)
{
    pid_ = pid;
    ChildWaitService* svc = ChildWaitService::childWaitService;
    if (svc == nullptr)
        return;
    svc->waiters_.remove(this);
    svc->waiters_.push_back(this);
}

void ChildWait::Detach()
{
    ChildWaitService* svc = ChildWaitService::childWaitService;
    if (svc != nullptr)
        svc->waiters_.remove(this);
}

void ChildWait::Initialize()
{
    if (ChildWaitService::childWaitService == nullptr)
        ChildWaitService::childWaitService = new ChildWaitService;
}

void ChildWait::Cleanup()
{
    ChildWaitService* svc = ChildWaitService::childWaitService;
    if (svc == nullptr)
        return;
    wake_fd = -1;
    // Still on the loop at exit: the loop may be gone already (static
    // objects of other units), so leave the service to the process's end.
    if (svc->attached)
        return;
    svc->Release();
    svc->write_.reset();
    while (svc->waiters_.pop_front() != nullptr) {}
    delete svc;
    ChildWaitService::childWaitService = nullptr;
}

void ChildWait::Activate()
{
    ChildWaitService* svc = ChildWaitService::childWaitService;
    if (svc == nullptr)
        return;
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) < 0) {
        std::cerr << "ChildWaitService: initialize fails" << std::endl;
        return;
    }
    SetCloexec(sv[0], true);
    NonBlockMode(sv[0]);
    svc->write_.reset(sv[0]);
    svc->Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, svc);
    SetCloexec(sv[1], true);
    NonBlockMode(sv[1]);
    const bool watched = svc->Schedule(Fd(sv[1]), POLLIN); // the event keeps its own duplicate
    ::close(sv[1]);
    if (!watched) {
        // Nobody would read the wake-ups: children would never be reaped.
        std::cerr << "ChildWaitService: initialize fails" << std::endl;
        svc->write_.reset();
        return;
    }
    wake_fd = sv[0];
    IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
    // Children that ended before the handler existed are reaped on the
    // first pass too.
    Wake();
}

void ChildWait::Deactivate()
{
    IPC::Signal::system(SIGCHLD);
    wake_fd = -1;
    ChildWaitService* svc = ChildWaitService::childWaitService;
    if (svc == nullptr)
        return;
    svc->Release();
    svc->write_.reset();
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*)
{
    int saved = errno;
    Wake();
    errno = saved;
}

void ChildWaitService::OnChildEvent(int fd, short revents)
{
    if ((revents & POLLIN) == 0)
        return;
    // Drain the wake-ups first: a child that ends after the drain wakes the
    // loop again, one that ends before the waitpid sweep is reaped by it.
    char buf[64];
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {}
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        std::clog << "terminate child process, pid=" << pid << " status=" << status << std::endl;
        for (ChildWait* w = waiters_.head(); w != nullptr; w = F_dual_list<ChildWait>::next(w)) {
            if (w->pid_ == pid) {
                // Unlinked first: the handler may attach it again or destroy it.
                waiters_.remove(w);
                w->handler_->Invoke(*w, status);
                break;
            }
        }
    }
}
