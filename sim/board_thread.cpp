#include "sim/board_thread.hpp"

#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace Sim {

namespace {
// Every board thread object, made and destroyed by the program's thread.
std::vector<BoardThread*>& Registry()
{
    static std::vector<BoardThread*>* all = new std::vector<BoardThread*>;
    return *all;
}
// Board threads still running when the program ends are stopped with its
// last static objects (the board itself is never destroyed).
struct StopAllAtExit {
    constexpr StopAllAtExit() = default;
    ~StopAllAtExit()
    {
        for (BoardThread* t : Registry())
            t->Stop();
    }
};
constinit StopAllAtExit stop_all_at_exit;

} // namespace

BoardThread::BoardThread()
{
    Registry().push_back(this);
}

BoardThread::~BoardThread()
{
    Stop();
    std::erase(Registry(), this);
}

bool BoardThread::Start(std::function<void()> body)
{
    if (running_)
        return true;
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    running_ = true;
    owner_ = ::getpid();
    body_ = std::move(body);
    thread_ = std::make_unique<std::thread>(body_);
    return true;
}

void BoardThread::Stop()
{
    if (!running_)
        return;
    running_ = false;
    if (owner_ != ::getpid()) {
        Forget();
        return;
    }
    Wake();
    thread_->join();
    thread_.reset();
    ::close(wake_[0]);
    ::close(wake_[1]);
    wake_[0] = wake_[1] = -1;
}

void BoardThread::Forget()
{
    // The thread is the parent's and does not run here; its object may be
    // neither joined nor destroyed, and stays reachable so that a leak check
    // at the child's exit passes it by. The pipe's copies here are the
    // child's own.
    static std::vector<std::thread*>* orphans = new std::vector<std::thread*>;
    orphans->push_back(thread_.release());
    ::close(wake_[0]);
    ::close(wake_[1]);
    wake_[0] = wake_[1] = -1;
}

void BoardThread::AdoptAll()
{
    const pid_t self = ::getpid();
    for (BoardThread* t : Registry()) {
        if (!t->running_ || t->owner_ == self)
            continue;
        t->running_ = false;
        t->Forget();
        t->Start(std::move(t->body_));
    }
}

void BoardThread::Wake()
{
    if (wake_[1] >= 0) {
        const char c = 0;
        (void)!::write(wake_[1], &c, 1);
    }
}

void BoardThread::Drain(const pollfd& woken)
{
    if (woken.revents == 0)
        return;
    char buf[64];
    while (::read(wake_[0], buf, sizeof buf) > 0) {}
}

} // namespace Sim
