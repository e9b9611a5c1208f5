// Event-loop costs: arming and firing a one-shot timer, one descriptor
// event carried through poll and dispatch (a pipe written, then read by the
// loop's callback), and a loop pass with nothing to do.

#include "alloc_count.hpp"

#include "core/clock.hpp"
#include "core/event.hpp"
#include "core/multiplexer.hpp"
#include "core/timer.hpp"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Tick {
    Timer timer;
    int fired = 0;
    void OnFire() { ++fired; }
};

// Arm a 1 ms timer among `range(0)` others that stay pending, move the
// manual clock 1 ms: the timer is inserted, fires and frees itself.
void BM_TimerArmAndFire(benchmark::State& state)
{
    Mux::test::freeze();
    std::vector<Tick> background(static_cast<std::size_t>(state.range(0)));
    for (auto& b : background)
        b.timer.set(3600000, &Tick::OnFire, &b);
    Tick t;
    for (auto _ : state) {
        t.timer.set(1, &Tick::OnFire, &t);
        multiplexer.advance_clock(1);
    }
    benchmark::DoNotOptimize(t.fired);
    background.clear();
    Mux::test::thaw();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimerArmAndFire)->Arg(0)->Arg(16)->Arg(256);

struct Reader {
    int reads = 0;
    void On(int fd, short revents)
    {
        if (revents & POLLIN) {
            char b;
            if (::read(fd, &b, 1) == 1)
                ++reads;
        }
    }
};

// A pipe whose read end the loop watches for a Reader.
struct WatchedPipe {
    WatchedPipe()
    {
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        ev.Bind("bench", &Reader::On, &r);
        ev.Schedule(Fd(fds[0]), POLLIN);
    }
    ~WatchedPipe()
    {
        ev.Release();
        if (fds[0] >= 0) {
            ::close(fds[0]);
            ::close(fds[1]);
        }
    }
    bool ok() const { return fds[0] >= 0; }
    int fds[2] = {-1, -1};
    Reader r;
    Event ev;
};

// One byte through a pipe per iteration; `range(0)` idle descriptors are
// registered beside it (each is polled and served on every pass).
void BM_DescriptorEventDispatch(benchmark::State& state)
{
    WatchedPipe pipe;
    if (!pipe.ok()) {
        state.SkipWithError("pipe2");
        return;
    }
    auto& fds = pipe.fds;
    Reader& r = pipe.r;
    std::vector<int> idle_fds;
    std::vector<std::unique_ptr<Event>> idle;
    for (int i = 0; i < state.range(0); ++i) {
        int p[2];
        if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0)
            break;
        idle_fds.push_back(p[0]);
        idle_fds.push_back(p[1]);
        idle.push_back(std::make_unique<Event>());
        idle.back()->Schedule(Fd(p[0]), POLLIN);
    }
    multiplexer.run_once(0); // registrations move to the active list
    const char byte = 'x';
    for (auto _ : state) {
        if (::write(fds[1], &byte, 1) != 1)
            state.SkipWithError("write");
        multiplexer.run_once(0);
    }
    if (r.reads != static_cast<int>(state.iterations()))
        state.SkipWithError("lost events");
    idle.clear();
    for (int fd : idle_fds)
        ::close(fd);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DescriptorEventDispatch)->Arg(0)->Arg(16);

struct IdleDpc {
    int calls = 0;
    void Run() { ++calls; }
};

struct IdlePlugin : TimerPoolPlugin {
    int poll_wait() override { return -1; }
};

// A pass with nothing to do, as the server's loop makes between commands: a
// timer armed for later, a descriptor that stays quiet, deferred calls
// active (each runs twice per pass) and a timer plugin hooked. Reports the
// heap allocations per pass, which must be none.
void BM_IdleLoopPass(benchmark::State& state)
{
    WatchedPipe quiet;
    if (!quiet.ok()) {
        state.SkipWithError("pipe2");
        return;
    }
    Tick later;
    later.timer.set(3600000, &Tick::OnFire, &later);
    IdleDpc work[4];
    Dpc dpcs[4];
    for (int i = 0; i < 4; ++i) {
        dpcs[i].Bind(&work[i], &IdleDpc::Run);
        dpcs[i].Activate();
    }
    IdlePlugin plugin;
    plugin.timerHook();
    multiplexer.run_once(0); // registrations settle, working copies grow
    const std::size_t before = Bench::allocations;
    for (auto _ : state)
        multiplexer.run_once(0);
    state.counters["allocs/pass"] = benchmark::Counter(static_cast<double>(Bench::allocations - before),
                                                       benchmark::Counter::kAvgIterations);
    plugin.timerUnhook();
    for (auto& d : dpcs)
        d.Deactivate();
    later.timer.reset();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleLoopPass);

} // namespace
