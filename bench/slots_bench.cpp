// Slots in process on the simulated board, with every response and signal
// encoded and written onto the control connection's socket pair:
// - a trunk slot created and destroyed, against the encoding alone of the
//   four messages that the pair sends (two successes, `transmitter`,
//   `receiver`), measured in the same run; the first over the second is the
//   cost of the slot machinery around the coder;
// - a connect and a disconnect of two trunk slots;
// - the resident memory that 1024 live receive-only map slots add.

#include <benchmark/benchmark.h>

#include "bench/slots_pairs.hpp"
#include "control/lgcp_coding.hpp"
#include "sim/board.hpp"
#include "slots/map_slot.hpp"
#include "tests/slots/slots_host.hpp"
#include "tests/support/quiet.hpp"

#include <cstdio>

#include <unistd.h>

namespace {

using Bench::Command;
using Bench::Pairs;
using TestQuiet::Quiet;

void BM_TrunkCreateDestroy(benchmark::State& state)
{
    Quiet quiet;
    Sim::Board::instance().Reset();
    SlotsTest::Host host;
    LGCP::Command create, destroy;
    create.set_create(SlotsTest::Trunk(1, 5));
    destroy.set_destroy();
    Pairs(state, host, Command(create, 7, 1), Command(destroy, 7, 2));
    state.SetLabel("create+destroy pair");
}
BENCHMARK(BM_TrunkCreateDestroy);

void BM_EncodeCreateDestroyMessages(benchmark::State& state)
{
    auto response = [](std::uint32_t seq) {
        LGCP::Message m;
        m.set_seq(static_cast<int>(seq));
        m.set_slot(7);
        m.get_pdu().select_response().set_success();
        return m;
    };
    auto stream = [](bool transmitter) {
        LGCP::Signal s;
        (transmitter ? s.select_transmitter() : s.select_receiver()).set_active(37);
        LGCP::Message m;
        m.set_slot(7);
        m.get_pdu().set_signal(s);
        return m;
    };
    std::vector<char> out;
    out.reserve(200);
    for (auto _ : state) {
        // Built and encoded as the server does for each message it sends.
        for (int i = 0; i < 4; ++i) {
            LGCP::Message m = i == 0 ? response(1) : i == 3 ? response(2) : stream(i == 1);
            out.clear();
            CtrlSrv::lgcp_encode(m, out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetLabel("the pair's 4 messages, encoding only");
}
BENCHMARK(BM_EncodeCreateDestroyMessages);

void BM_TrunkConnectDisconnect(benchmark::State& state)
{
    Quiet quiet;
    Sim::Board::instance().Reset();
    SlotsTest::Host host;
    host.Create(7, SlotsTest::Trunk(1, 5));
    host.Create(8, SlotsTest::Trunk(1, 8));
    LGCP::Command connect, disconnect;
    connect.set_connect(8);
    disconnect.set_disconnect();
    Pairs(state, host, Command(connect, 7, 3), Command(disconnect, 8, 4));
    state.SetLabel("connect+disconnect pair");
}
BENCHMARK(BM_TrunkConnectDisconnect);

long ResidentKiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void BM_MapSlotsResident(benchmark::State& state)
{
    Quiet quiet;
    Sim::Board::instance().Reset();
    MapFactory map;
    SlotsTest::Host host;
    long added = 0;
    for (auto _ : state) {
        long before = ResidentKiB();
        for (unsigned n = 0; n < Slots::TableSize; ++n) {
            host.Create(n, SlotsTest::Map(std::nullopt, std::pair(n / 128, n % 128)));
            host.Discard();
        }
        added = ResidentKiB() - before;
        state.PauseTiming();
        for (unsigned n = 0; n < Slots::TableSize; ++n) {
            host.Destroy(n);
            host.Discard();
        }
        state.ResumeTiming();
    }
    state.counters["resident_added_KiB"] = static_cast<double>(added);
    state.SetLabel("1024 receive-only map slots");
}
BENCHMARK(BM_MapSlotsResident)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
