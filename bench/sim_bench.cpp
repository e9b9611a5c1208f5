// The simulated board's cost per driver request: a switch disable of an
// output already disabled, which is what the server's switch refresh sends
// on every loop pass. Reports the heap allocations per request, which must
// be none.

#include "alloc_count.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>

#include <fcntl.h>

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/hal.hpp"

namespace {

void BM_SimulatedSwitchRequest(benchmark::State& state)
{
    Sim::Board::instance().Reset();
    const int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("open /dev/hal");
        return;
    }
    std::uint32_t output = 8192;
    Driver::Ioctl(fd, Sim::Hal::kDisable, &output); // the first one changes the output
    const std::size_t before = Bench::allocations;
    for (auto _ : state) {
        output = 8192;
        benchmark::DoNotOptimize(Driver::Ioctl(fd, Sim::Hal::kDisable, &output));
    }
    state.counters["allocs/request"] = benchmark::Counter(static_cast<double>(Bench::allocations - before),
                                                          benchmark::Counter::kAvgIterations);
    Driver::Close(fd);
    Sim::Board::instance().Reset();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimulatedSwitchRequest);

} // namespace
