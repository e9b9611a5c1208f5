// Signalling links. The frame trace: one dlogframe call for the 10-octet
// SETUP ACKNOWLEDGE broadcast, a 40-octet SETUP with bearer capability,
// channel, calling and called numbers, and a 300-octet frame (its text is
// cut at the 1024-byte buffer). Compare with BM_DescriptorEventDispatch/0
// of core_bench, one loop pass of a descriptor event.

#include "signalling/q931_trace.hpp"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using Octets = std::vector<unsigned char>;

Octets SetupAcknowledge()
{
    return {0x02, 0xFF, 0x03, 0x08, 0x01, 0x81, 0x0D, 0x18, 0x01, 0x89};
}

Octets Setup()
{
    Octets f = {0x00, 0x01, 0x00, 0x02, 0x08, 0x01, 0x05, 0x05, // I frame, call reference 5, SETUP
                0x04, 0x03, 0x80, 0x90, 0xA3,                   // speech, 64 kbit/s, A-law
                0x18, 0x01, 0x89,                               // B1, exclusive
                0x6C, 0x0A, 0x21, 0x81};                        // calling: national, presentation allowed
    for (char d : {'3', '0', '1', '2', '3', '4', '5', '6'})
        f.push_back(static_cast<unsigned char>(d));
    f.insert(f.end(), {0x70, 0x0A, 0x81}); // called: unknown type, ISDN plan
    for (char d : {'0', '4', '0', '1', '2', '3', '4', '5', '6'})
        f.push_back(static_cast<unsigned char>(d));
    return f;
}

Octets Long()
{
    Octets f = Setup();
    f.insert(f.end(), {0x7E, 0xFF});
    f.insert(f.end(), 255, 0x55);
    f.insert(f.end(), {0xA1, 0xA1, 0xA1});
    return f;
}

void Trace(benchmark::State& state, Octets frame)
{
    char out[ISDN::logbuf_size];
    for (auto _ : state) {
        dlogframe(frame.data(), static_cast<unsigned int>(frame.size()), 0, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(frame.size()) + " octets");
}

} // namespace

BENCHMARK_CAPTURE(Trace, SetupAcknowledge, SetupAcknowledge());
BENCHMARK_CAPTURE(Trace, Setup, Setup());
BENCHMARK_CAPTURE(Trace, Long, Long());
