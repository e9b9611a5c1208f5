// Cost of the packet operations every frame pays: taking a buffer from the
// pool and returning it, building a small frame byte by byte, and the
// copy-on-write of a shared buffer.

#include <benchmark/benchmark.h>

#include "core/packet.hpp"

namespace {

void BM_AllocateRelease(benchmark::State& state)
{
    for (auto _ : state) {
        Packet p;
        p.reserve_head(4);
        benchmark::DoNotOptimize(p.data());
    }
}
BENCHMARK(BM_AllocateRelease);

// A TPKT-sized frame: payload appended, 4-byte header pushed in front.
void BM_BuildFrame(benchmark::State& state)
{
    auto const n = static_cast<unsigned int>(state.range(0));
    for (auto _ : state) {
        Packet p;
        p.reserve_head(4);
        for (unsigned int i = 0; i < n; ++i)
            p.put8(static_cast<std::uint8_t>(i));
        p.push16_b(static_cast<unsigned short>(n + 4));
        p.push8(0);
        p.push8(3);
        benchmark::DoNotOptimize(p.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_BuildFrame)->Arg(16)->Arg(256)->Arg(1500);

// Share a packet, then write to the copy: one buffer taken and the content
// copied.
void BM_CopyOnWrite(benchmark::State& state)
{
    auto const n = static_cast<unsigned int>(state.range(0));
    Packet original;
    original.reserve_head(4);
    for (unsigned int i = 0; i < n; ++i)
        original.put8(static_cast<std::uint8_t>(i));
    for (auto _ : state) {
        Packet copy = original;
        copy.push8(0);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_CopyOnWrite)->Arg(16)->Arg(1500)->Arg(65000);

} // namespace
