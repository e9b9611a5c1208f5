#pragma once

// Commands offered in pairs to a slots host in process: a create and its
// destroy, a connect and its disconnect.

#include <benchmark/benchmark.h>

#include "tests/slots/slots_host.hpp"

#include <cstdint>

namespace Bench {

// `c` as a message of slot `slot` with sequence number `seq`.
inline LGCP::Message Command(LGCP::Command const& c, std::uint32_t slot, std::uint32_t seq)
{
    LGCP::Message m;
    m.set_seq(static_cast<int>(seq));
    m.set_slot(slot);
    m.get_pdu().set_command(c);
    return m;
}

// Two commands per iteration. The host reads what arrived now and then, so
// the socket pair never fills.
inline void Pairs(benchmark::State& state, SlotsTest::Host& host, LGCP::Message const& first,
                  LGCP::Message const& second)
{
    constexpr unsigned kDrainEvery = 256;
    unsigned n = 0;
    for (auto _ : state) {
        host.server().OnMessage(first);
        host.server().OnMessage(second);
        if (++n % kDrainEvery == 0)
            host.Discard();
    }
    host.Discard();
}

} // namespace Bench
