#include "signalling/peers/peer_clock.hpp"

#include "core/clock.hpp"

#include <climits>

namespace {

// 2001-09-09 01:46:40 UTC: any fixed date does, as long as a run repeats.
constexpr std::uint64_t kEpochUs = 1000000000ull * 1000000u;

} // namespace

namespace SigTest {

std::uint64_t PeerNowUs()
{
    if (Mux::test::manual())
        return kEpochUs + Mux::test::now_us();
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    return std::uint64_t(tv.tv_sec) * 1000000u + std::uint64_t(tv.tv_usec);
}

int PeerWaitMs(const struct timeval& when)
{
    const std::int64_t due = std::int64_t(when.tv_sec) * 1000000 + when.tv_usec;
    const std::int64_t left = due - std::int64_t(PeerNowUs());
    if (left <= 0)
        return 0;
    const std::int64_t ms = (left + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : int(ms);
}

} // namespace SigTest

extern "C" int gw_peer_gettimeofday(struct timeval* tv, void*)
{
    if (tv != nullptr) {
        const std::uint64_t now = SigTest::PeerNowUs();
        tv->tv_sec = time_t(now / 1000000u);
        tv->tv_usec = suseconds_t(now % 1000000u);
    }
    return 0;
}

extern "C" time_t gw_peer_time(time_t* t)
{
    const time_t now = time_t(SigTest::PeerNowUs() / 1000000u);
    if (t != nullptr)
        *t = now;
    return now;
}
