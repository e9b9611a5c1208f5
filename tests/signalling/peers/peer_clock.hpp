#pragma once

// The wall clock of the peer libraries. libpri's and libss7's archives are
// linked with their gettimeofday() and time() renamed to these two; the
// libosmocore peer is handed the same time through its own override. While
// the loop clock is manual, the peers' time is a fixed epoch plus the loop
// clock, so their timers run on the test clock; otherwise it is the real
// clock.

#include <cstdint>
#include <ctime>
#include <sys/time.h>

extern "C" {
int gw_peer_gettimeofday(struct timeval* tv, void* tz);
time_t gw_peer_time(time_t* t);
}

namespace SigTest {

// The peers' time now, in microseconds since 1970.
std::uint64_t PeerNowUs();
// Milliseconds from the peers' time now to `when` (absolute, on the same
// clock), rounded up so that the loop comes back no earlier than the
// library's timer: 0 when it is due.
int PeerWaitMs(const struct timeval& when);

} // namespace SigTest
