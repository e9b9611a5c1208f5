#include "sim/board_thread.hpp"

#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace Sim {

bool BoardThread::Start(std::function<void()> body)
{
    if (running_)
        return true;
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    running_ = true;
    owner_ = ::getpid();
    thread_ = std::make_unique<std::thread>(std::move(body));
    return true;
}

void BoardThread::Stop()
{
    if (!running_)
        return;
    running_ = false;
    if (owner_ != ::getpid()) {
        // A forked child: the thread is the parent's and does not run here;
        // its object may be neither joined nor destroyed, and stays
        // reachable so that a leak check at the child's exit passes it by.
        static std::vector<std::thread*>* orphans = new std::vector<std::thread*>;
        orphans->push_back(thread_.release());
    } else {
        Wake();
        thread_->join();
        thread_.reset();
    }
    ::close(wake_[0]);
    ::close(wake_[1]);
    wake_[0] = wake_[1] = -1;
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
