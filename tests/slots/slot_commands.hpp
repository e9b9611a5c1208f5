#pragma once

// The host's commands and the trunk create parameters that slot tests of
// every kind send, in process and end to end. No GoogleTest in here: the
// fuzz target and the benchmarks use it too.

#include "asn1/modules/LGCP.hpp"

#include <cstdint>

namespace SlotsTest {

inline LGCP::CreateParams Trunk(unsigned int trunk, unsigned int timeslot)
{
    LGCP::CreateParams p;
    LGCP::TrunkParams& t = p.select_trunk();
    t.set_trunk(trunk);
    t.set_timeslot(timeslot);
    return p;
}

inline LGCP::CreateParams TrunkBRI(unsigned int line, unsigned int channel)
{
    LGCP::CreateParams p;
    LGCP::TrunkParams& t = p.select_trunk_bri();
    t.set_trunk(line);
    t.set_timeslot(channel);
    return p;
}

inline LGCP::Command CreateCommand(LGCP::CreateParams const& params)
{
    LGCP::Command c;
    c.set_create(params);
    return c;
}

// The command that makes the addressed slot the source of `target`.
inline LGCP::Command ConnectCommand(std::uint32_t target)
{
    LGCP::Command c;
    c.set_connect(target);
    return c;
}

} // namespace SlotsTest
