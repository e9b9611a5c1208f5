#include "core/clock.hpp"

#include <cstdio>
#include <ctime>
#include <sys/time.h>

namespace Mux {

timeval g_tv_time;

namespace {

bool g_manual = false;

std::uint64_t monotonic_us()
{
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

timeval from_us(std::uint64_t us)
{
    timeval t;
    t.tv_sec = static_cast<std::int32_t>(us / 1000000u);
    t.tv_usec = static_cast<std::int32_t>(us % 1000000u);
    // All zero means "not frozen": a frozen time of exactly zero is moved by
    // one microsecond rather than silently thawing the clock.
    if (t.tv_sec == 0 && t.tv_usec == 0)
        t.tv_usec = 1;
    return t;
}

std::uint64_t to_us(const timeval& t)
{
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(t.tv_sec)) * 1000000u +
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(t.tv_usec));
}

bool frozen()
{
    return g_tv_time.tv_sec != 0 || g_tv_time.tv_usec != 0;
}

} // namespace

std::uint64_t loop_us()
{
    return frozen() ? to_us(g_tv_time) : monotonic_us();
}

void loop_time(timeval& t)
{
    if (frozen())
        t = g_tv_time;
    else
        t = from_us(monotonic_us());
}

void mux_settimeofday()
{
    if (!g_manual)
        g_tv_time = from_us(monotonic_us());
}

std::uint32_t milliseconds()
{
    return milliseconds_of(loop_us());
}
std::uint32_t microseconds()
{
    return microseconds_of(loop_us());
}
std::int32_t seconds()
{
    return static_cast<std::int32_t>(loop_us() / 1000000u);
}

void mux_gettimeofday(timeval& t)
{
    struct ::timeval tv;
    ::gettimeofday(&tv, nullptr);
    t.tv_sec = static_cast<std::int32_t>(tv.tv_sec);
    t.tv_usec = static_cast<std::int32_t>(tv.tv_usec);
}

int gettimeval(timeval& t)
{
    mux_gettimeofday(t);
    return 0;
}

void timevaladd2(const timeval& a, const timeval& b, timeval& r)
{
    std::int32_t usec = a.tv_usec + b.tv_usec;
    r.tv_sec = a.tv_sec + b.tv_sec + usec / 1000000;
    r.tv_usec = usec % 1000000;
}

void timevalsub2(const timeval& a, const timeval& b, timeval& r)
{
    // Borrow one second up front so that the division never sees a
    // negative microsecond count.
    std::int32_t usec = a.tv_usec - b.tv_usec + 1000000;
    r.tv_sec = a.tv_sec - b.tv_sec - 1 + usec / 1000000;
    r.tv_usec = usec % 1000000;
}

void timevaladd(timeval& a, const timeval& b)
{
    timevaladd2(a, b, a);
}
void timevalsub(timeval& a, const timeval& b)
{
    timevalsub2(a, b, a);
}

void timevalset(timeval& t, unsigned long long ms)
{
    t.tv_sec = static_cast<std::int32_t>(ms / 1000u);
    t.tv_usec = static_cast<std::int32_t>((ms % 1000u) * 1000u);
}

int timevalcompare(const timeval& a, const timeval& b)
{
    if (a.tv_sec != b.tv_sec)
        return a.tv_sec < b.tv_sec ? -1 : 1;
    if (a.tv_usec != b.tv_usec)
        return a.tv_usec < b.tv_usec ? -1 : 1;
    return 0;
}

std::uint64_t timevaldiff(const timeval& a, const timeval& b)
{
    if (timevalcompare(b, a) < 0)
        return 0;
    std::int64_t ms = (static_cast<std::int64_t>(b.tv_sec) - a.tv_sec) * 1000 +
                      (static_cast<std::int64_t>(b.tv_usec) - a.tv_usec) / 1000;
    return static_cast<std::uint64_t>(ms);
}

std::string timevaltostring(const timeval& t)
{
    char date[64];
    char usec[64];
    std::time_t secs = t.tv_sec;
    struct tm tmv;
    ::localtime_r(&secs, &tmv);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tmv);
    std::snprintf(usec, sizeof usec, ".%06ld", static_cast<long>(t.tv_usec));
    return std::string(date) + usec;
}

timeval make_from_usec(unsigned int usec)
{
    timeval t;
    t.tv_sec = static_cast<std::int32_t>(usec / 1000000u);
    t.tv_usec = static_cast<std::int32_t>(usec % 1000000u);
    return t;
}

timeval make_from_msec(unsigned int msec)
{
    timeval t;
    timevalset(t, msec);
    return t;
}

bool Set::add(int fd)
{
    if (fd < 0 || fd >= FD_SETSIZE)
        return false;
    FD_SET(fd, &set);
    if (fd > max)
        max = fd;
    return true;
}

bool Set::has(int fd) const
{
    return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &set);
}

int max_fd(const Set* a, const Set* b, const Set* c)
{
    int m = -1;
    for (const Set* s : {a, b, c})
        if (s != nullptr && s->max > m)
            m = s->max;
    return m;
}

namespace {
fd_set* raw(Set* s)
{
    return (s != nullptr && s->max >= 0) ? &s->set : nullptr;
}
} // namespace

int select(Set* rd, Set* wr, Set* ex, const timeval* timeout)
{
    struct ::timeval tv;
    struct ::timeval* ptv = nullptr;
    if (timeout != nullptr) {
        tv.tv_sec = timeout->tv_sec;
        tv.tv_usec = timeout->tv_usec;
        ptv = &tv;
    }
    return ::select(max_fd(rd, wr, ex) + 1, raw(rd), raw(wr), raw(ex), ptv);
}

int select(Set* rd, Set* wr, Set* ex)
{
    return select(rd, wr, ex, nullptr);
}
int select_rd(Set& rd, const timeval* timeout)
{
    return select(&rd, nullptr, nullptr, timeout);
}
int select_wr(Set& wr, const timeval* timeout)
{
    return select(nullptr, &wr, nullptr, timeout);
}

namespace test {

void freeze()
{
    freeze_at(monotonic_us());
}

void freeze_at(std::uint64_t start_us)
{
    g_manual = true;
    g_tv_time = from_us(start_us);
}

void step(std::uint32_t ms)
{
    if (!g_manual)
        freeze();
    g_tv_time = from_us(to_us(g_tv_time) + static_cast<std::uint64_t>(ms) * 1000u);
}

void thaw()
{
    g_manual = false;
    g_tv_time = timeval{};
}

bool manual()
{
    return g_manual;
}
std::uint64_t now_us()
{
    return loop_us();
}

} // namespace test

} // namespace Mux
