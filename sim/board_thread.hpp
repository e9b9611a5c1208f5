#pragma once

// A thread of the board's own: it waits on a model's (or the control
// socket's) descriptors and on a wake pipe, as a driver's interrupt work runs
// beside the program. The
// process that started it joins it; a forked child (the daemon) only
// forgets it, since the thread runs on in the parent alone, and starts it
// again when it serves (AdoptAll).

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <poll.h>
#include <sys/types.h>
#include <unistd.h>

namespace Sim {

class BoardThread {
public:
    BoardThread();
    BoardThread(const BoardThread&) = delete;
    BoardThread& operator=(const BoardThread&) = delete;
    ~BoardThread();

    // Runs `body`, which loops while running(); false when no wake pipe
    // could be made (nothing runs then).
    bool Start(std::function<void()> body);
    // Ends the body's loop and joins it; the pipe is closed.
    void Stop();
    bool running() const { return running_; }
    // Running, and in this process: a forked child has the parent's object
    // but not its thread until AdoptAll.
    bool owned() const { return running_ && owner_ == ::getpid(); }
    // Makes a poll that holds WakeFd() return.
    void Wake();
    // The pipe's end, first in the body's poll list.
    pollfd WakeFd() const { return pollfd{wake_[0], POLLIN, 0}; }
    // After that poll: empties the pipe if it woke it.
    void Drain(const pollfd& woken);

    // In a forked child: every board thread that ran in the parent runs
    // here from now on, on a wake pipe of its own.
    static void AdoptAll();

private:
    std::atomic<bool> running_{false};
    // Let go of a thread that runs in the parent only.
    void Forget();

    std::function<void()> body_;
    std::unique_ptr<std::thread> thread_;
    int wake_[2] = {-1, -1};
    // The process that started the thread: a forked child must not join it.
    pid_t owner_ = -1;
};

} // namespace Sim
