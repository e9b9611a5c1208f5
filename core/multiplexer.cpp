#include "core/multiplexer.hpp"

#include "core/clock.hpp"
#include "core/ext.hpp"
#include "core/paths.hpp"
#include "core/profile.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <pthread.h>
#include <unistd.h>

namespace {
// The loop outlives every other static object: events, timers and deferred
// calls held by globals of other files leave it from their destructors at
// exit, whatever order those run in. So it is never destroyed.
union LoopStorage {
    Multiplexer loop;
    constexpr LoopStorage() : loop() {}
    ~LoopStorage() {}
};
constinit LoopStorage loop_storage;
} // namespace

constinit Multiplexer& multiplexer = loop_storage.loop;

namespace {

constexpr std::uint32_t kMaxWait = 7200000; // two hours
constexpr int kWatchdogPeriod = 1000;
constexpr int kNoWait = INT_MAX;
// No loop-clock reading at hand: the next step reads the clock itself.
constexpr std::uint64_t kUnread = UINT64_MAX;

// Times `call` into `m` from the reading at hand (read now when there is
// none) and returns the reading that ends it, which starts the next call.
template <class F>
std::uint64_t Timed(Measure& m, std::uint64_t now_us, F&& call)
{
    if (now_us == kUnread)
        now_us = Mux::loop_us();
    m.begin(Mux::microseconds_of(now_us));
    call();
    now_us = Mux::loop_us();
    m.end(Mux::microseconds_of(now_us));
    return now_us;
}

int min_wait(int a, int b)
{
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    return std::min(a, b);
}

} // namespace

TimerPoolPlugin::~TimerPoolPlugin()
{
    timerUnhook();
}

void TimerPoolPlugin::timerHook()
{
    if (!hooked_) {
        multiplexer.hook(this);
        hooked_ = true;
    }
}

void TimerPoolPlugin::timerUnhook()
{
    if (hooked_) {
        multiplexer.unhook(this);
        hooked_ = false;
    }
}

void Multiplexer::run(bool watchdog, bool live_clock)
{
    // The stop flag is NOT cleared here: a SIGTERM that arrived during
    // start-up, before the loop was entered, must still stop it.
    live_clock_ = live_clock;
    if (watchdog)
        watchdog_open_device();
    bool froze = false;
    if (!live_clock && !Mux::test::manual()) {
        Mux::mux_settimeofday();
        froze = true;
    }
    wd_pinged_ = false;

    // Nothing runs between two passes: the reading that ended one is the
    // "now" of the next one's timers.
    std::uint64_t clock_us = kUnread;
    while (stop_ == 0)
        pass(-1, true, clock_us);
    stop_ = 0; // consumed: a later run() runs again

    std::clog << "Mux: terminating..." << std::endl;
    watchdog_close_device();
    if (froze && !Mux::test::manual())
        Mux::g_tv_time = Mux::timeval{};
    live_clock_ = true;
}

int Multiplexer::run_once(int max_wait_ms)
{
    std::uint64_t clock_us = kUnread;
    return pass(max_wait_ms, false, clock_us);
}

int Multiplexer::pass(int max_wait_ms, bool virtual_sleep, std::uint64_t& clock_us)
{
    const std::uint64_t start_us = clock_us != kUnread ? clock_us : Mux::loop_us();
    clock_us = kUnread;
    int timeout = min_wait(timers_schedule(start_us), timerPoll_schedule());

    active_.splice_back(attaching_);
    const std::size_t n = active_.count();
    if (pollfds_.size() != n) {
        pollfds_.resize(n);
        polled_.resize(n);
    }
    std::size_t i = 0;
    for (EventHandler* h = active_.head(); h != nullptr; h = active_.next(h), ++i) {
        h->shedule_event(pollfds_[i]);
        polled_[i] = h;
    }

    const std::uint64_t swept_us = sweep_dpc(kUnread);

    // A deferred call of the step above may have armed a timer or registered
    // a descriptor after the time-out was computed: neither may wait behind
    // a poll that knows nothing of it.
    if (!timers_.empty())
        timeout = min_wait(
            timeout, wait_for_head(Mux::milliseconds_of(swept_us != kUnread ? swept_us : Mux::loop_us())));
    if (!attaching_.empty())
        timeout = 0;
    // A stop asked for by a callback of this pass ends the loop now, not at
    // the next descriptor event.
    if (stop_ != 0)
        timeout = 0;

    if (timeout < 0 && active_.empty()) {
        std::cerr << "multiplexer: system hang detected!!!" << std::endl;
        std::abort();
    }
    if (wd_ >= 0 && (timeout < 0 || timeout > kWatchdogPeriod))
        timeout = kWatchdogPeriod;

    int poll_timeout = timeout;
    if (max_wait_ms >= 0 && (poll_timeout < 0 || poll_timeout > max_wait_ms))
        poll_timeout = max_wait_ms;
    const bool manual = Mux::test::manual();
    if (manual && poll_timeout > 0)
        poll_timeout = 0; // time only moves when the test moves it

    int ready = sync_kernel_set()
                    ? wait_kernel_set(poll_timeout)
                    : ::poll(pollfds_.data(), static_cast<nfds_t>(pollfds_.size()), poll_timeout);
    const int poll_errno = errno;

    if (!live_clock_)
        Mux::mux_settimeofday();
    if (ready == 0 && virtual_sleep && manual && timeout > 0)
        Mux::test::step(static_cast<std::uint32_t>(timeout));

    std::uint64_t now_us = Mux::loop_us();
    const std::uint32_t now = Mux::milliseconds_of(now_us);
    if (!wd_pinged_ || now < wd_last_ping_ || now - wd_last_ping_ >= kWatchdogPeriod) {
        wd_pinged_ = true;
        wd_last_ping_ = now;
        resetWD();
        now_us = kUnread; // the write took time of its own
    }

    if (ready > 0) {
        for (std::size_t k = 0; k < polled_.size(); ++k)
            if (polled_[k] != nullptr)
                polled_[k]->revents = pollfds_[k].revents;
        now_us = dispatch(now_us);
        // Handlers not served because a stop was requested stay registered
        // AND polled: they go back into the active list with the others.
        served_.splice_back(active_);
        active_.merge(served_);
    } else if (ready < 0 && poll_errno != EINTR) {
        std::cerr << "multiplexer poll failed: " << std::strerror(poll_errno) << std::endl;
        std::abort();
    }
    clock_us = now_us;
    return ready;
}

std::uint64_t Multiplexer::dispatch(std::uint64_t now_us)
{
    while (!active_.empty() && stop_ == 0) {
        EventHandler* h = active_.pop_front();
        served_.push_back(h);
        now_us = Timed(event_measure_, now_us, [h] { h->svc_event(); });
    }
    return now_us;
}

std::uint64_t Multiplexer::fire_due(std::uint64_t now_us)
{
    const std::uint32_t now = Mux::milliseconds_of(now_us);
    // The head is read anew each time: a timer armed by a callback with an
    // expiry not after `now` fires in this same sweep.
    while (!timers_.empty() && static_cast<std::int32_t>(now - timers_.head()->expiry) >= 0) {
        TimerEvent* t = timers_.pop_front();
        now_us = Timed(timer_measure_, now_us, [t] { t->fire(); });
    }
    return now_us;
}

int Multiplexer::wait_for_head(std::uint32_t now) const
{
    std::int32_t d = static_cast<std::int32_t>(timers_.head()->expiry - now);
    return d < 0 ? 0 : d;
}

int Multiplexer::timers_schedule()
{
    return timers_schedule(Mux::loop_us());
}

int Multiplexer::timers_schedule(std::uint64_t now_us)
{
    const std::uint32_t now = Mux::milliseconds_of(now_us);
    sweep_dpc(fire_due(now_us));
    if (timers_.empty())
        return -1;
    const std::uint32_t first = timers_.head()->expiry;
    const std::uint32_t wait = first - now;
    if (wait <= kMaxWait)
        return static_cast<int>(wait);

    std::cerr << "******** RUNTIME ERROR CONDITION *************"
              << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
              << "now = " << std::dec << now << std::endl
              << "first = " << first << std::endl
              << "count = " << timers_.count() << std::endl;
    for (TimerEvent* t = timers_.head(); t != nullptr; t = timers_.next(t))
        t->expiry = now + 1000;
    // Every timer is now due in 1000 ms, so that is the wait.
    return 1000;
}

void Multiplexer::execute_dpc()
{
    sweep_dpc(kUnread);
}

std::uint64_t Multiplexer::sweep_dpc(std::uint64_t now_us)
{
    dpc_sweep_.assign(dpcs_.begin(), dpcs_.end());
    dpc_cursor_ = 0;
    while (dpc_cursor_ < dpc_sweep_.size()) {
        Dpc* d = dpc_sweep_[dpc_cursor_++];
        if (DpcHandler* h = d->handler())
            now_us = Timed(dpc_measure_, now_us, [h] { h->Invoke(); });
    }
    dpc_sweep_.clear();
    dpc_cursor_ = 0;
    return now_us;
}

int Multiplexer::timerPoll_schedule()
{
    if (plugins_.empty())
        return -1;
    // The member working copy keeps its capacity: no allocation per pass.
    TimerPollNotify& guard = plugin_sweep_;
    guard.pending.clear();
    guard.pending.swap(plugins_);
    plugin_pass_ = &guard;
    int best = -1;
    for (std::size_t k = 0; k < guard.pending.size(); ++k) {
        TimerPoolPlugin* p = guard.pending[k];
        if (p == nullptr)
            continue; // unhooked earlier in this pass
        plugins_.push_back(p);
        int w = p->poll_wait();
        if (w >= 0 && w != kNoWait)
            best = min_wait(best, w);
    }
    plugin_pass_ = nullptr;
    return best;
}

void Multiplexer::attach(EventHandler* h)
{
    if (event_exists(h)) {
        std::cerr << "duplicate multiplexer attach " << std::flush << '"' << h->event_name() << '"'
                  << " ignored." << std::endl;
        return;
    }
    attaching_.push_back(h);
    ep_refused_ = false;
    in_sync_ = false;
}

void Multiplexer::detach(EventHandler* h)
{
    if (attaching_.remove(h))
        return;
    const bool served = served_.remove(h);
    if (!served && !active_.remove(h)) {
        std::cerr << "indvalid Multiplexer::detach " << std::flush << h->event_name() << std::endl;
        return;
    }
    ep_refused_ = false;
    in_sync_ = false;
    for (std::size_t k = 0; k < polled_.size(); ++k) {
        if (polled_[k] != h)
            continue;
        // Out of the kernel's set now, while the descriptor is surely still
        // open: once closed, epoll could no longer be told which file it was.
        unwatch(pollfds_[k].fd);
        if (!served) {
            polled_[k] = nullptr;
            pollfds_[k].fd = -1; // poll ignores it and reports nothing
        }
    }
}

namespace {

static_assert(EPOLLIN == POLLIN && EPOLLPRI == POLLPRI && EPOLLOUT == POLLOUT && EPOLLERR == POLLERR &&
                  EPOLLHUP == POLLHUP && EPOLLRDNORM == POLLRDNORM && EPOLLRDBAND == POLLRDBAND &&
                  EPOLLWRNORM == POLLWRNORM && EPOLLWRBAND == POLLWRBAND && EPOLLMSG == POLLMSG,
              "epoll and poll share their event bits");

void ForgetKernelSetInChild()
{
    multiplexer.forget_kernel_set();
}

} // namespace

void Multiplexer::forget_kernel_set() noexcept
{
    if (ep_ >= 0)
        ::close(ep_);
    ep_ = -1;
    in_sync_ = false;
    watched_.assign(watched_.size(), -1);
    watched_count_ = 0;
}

void Multiplexer::unwatch(int fd) noexcept
{
    if (fd < 0 || static_cast<std::size_t>(fd) >= watched_.size() || watched_[fd] < 0)
        return;
    if (ep_ >= 0)
        ::epoll_ctl(ep_, EPOLL_CTL_DEL, fd, nullptr);
    watched_[fd] = -1;
    in_sync_ = false;
    // A loop with nothing to watch holds no descriptor of its own.
    if (--watched_count_ == 0)
        forget_kernel_set();
}

bool Multiplexer::sync_kernel_set()
{
    if (ep_refused_)
        return false;
    // The usual pass: the same handlers filled the same entries as at the
    // last hand-over, and nothing left or joined since.
    if (in_sync_ && synced_.size() == pollfds_.size() &&
        std::equal(pollfds_.begin(), pollfds_.end(), synced_.begin(),
                   [](pollfd const& a, pollfd const& b) { return a.fd == b.fd && a.events == b.events; }))
        return true;
    in_sync_ = false;
    if (++stamp_ == 0) {
        seen_.assign(seen_.size(), 0);
        stamp_ = 1;
    }
    std::size_t in_set = 0;
    for (std::size_t k = 0; k < pollfds_.size(); ++k) {
        const int fd = pollfds_[k].fd;
        if (fd < 0)
            continue; // poll ignores it too
        const auto at = static_cast<std::size_t>(fd);
        if (at >= watched_.size()) {
            watched_.resize(at + 1, -1);
            seen_.resize(at + 1, 0);
            slot_.resize(at + 1, 0);
        }
        if (seen_[at] == stamp_) {
            // One number twice in the array: the set holds it once.
            ep_refused_ = true;
            return false;
        }
        seen_[at] = stamp_;
        slot_[at] = k;
        const int events = static_cast<std::uint16_t>(pollfds_[k].events);
        if (watched_[at] != events) {
            if (ep_ < 0) {
                static const bool hooked = ::pthread_atfork(nullptr, nullptr, &ForgetKernelSetInChild) == 0;
                ep_ = hooked ? ::epoll_create1(EPOLL_CLOEXEC) : -1;
                if (ep_ < 0) {
                    ep_refused_ = true;
                    return false;
                }
            }
            epoll_event e{};
            e.events = static_cast<std::uint32_t>(events);
            e.data.fd = fd;
            if (::epoll_ctl(ep_, watched_[at] < 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &e) != 0) {
                // A regular file, say, or a descriptor already closed: poll
                // answers for those as it always did.
                ep_refused_ = true;
                return false;
            }
            if (watched_[at] < 0)
                ++watched_count_;
            watched_[at] = events;
        }
        ++in_set;
    }
    // A handler that swapped descriptors without leaving the loop leaves its
    // old one behind in the set.
    if (watched_count_ != in_set)
        for (std::size_t fd = 0; fd < watched_.size(); ++fd)
            if (watched_[fd] >= 0 && seen_[fd] != stamp_)
                unwatch(static_cast<int>(fd));
    synced_.assign(pollfds_.begin(), pollfds_.end());
    in_sync_ = true;
    return true;
}

int Multiplexer::wait_kernel_set(int timeout)
{
    if (ep_ < 0) // nothing to watch: poll sleeps as well as epoll would
        return ::poll(pollfds_.data(), static_cast<nfds_t>(pollfds_.size()), timeout);
    if (ready_.size() < pollfds_.size() || ready_.empty())
        ready_.resize(std::max<std::size_t>(pollfds_.size(), 1));
    const int got = ::epoll_wait(ep_, ready_.data(), static_cast<int>(ready_.size()), timeout);
    if (got < 0)
        return got;
    for (pollfd& p : pollfds_)
        p.revents = 0;
    int ready = 0;
    bool stale = false;
    for (int j = 0; j < got; ++j) {
        const int fd = ready_[static_cast<std::size_t>(j)].data.fd;
        const auto at = static_cast<std::size_t>(fd);
        if (fd < 0 || at >= seen_.size() || seen_[at] != stamp_) {
            stale = true;
            continue;
        }
        pollfds_[slot_[at]].revents = static_cast<short>(ready_[static_cast<std::size_t>(j)].events);
        ++ready;
    }
    // Events of a descriptor no handler polls: a registration epoll kept for
    // a file closed while still in the set. Only a fresh set drops it.
    if (stale)
        forget_kernel_set();
    return ready;
}

bool Multiplexer::event_exists(const EventHandler* h) const
{
    return attaching_.contains(h) || served_.contains(h) || active_.contains(h);
}

void Multiplexer::set(TimerEvent* t)
{
    reset(t);
    // Walk from the tail, where a new timer usually belongs; equal expiries
    // go after the ones armed before.
    for (TimerEvent* p = timers_.tail(); p != nullptr; p = timers_.prev(p)) {
        if (static_cast<std::int32_t>(p->expiry - t->expiry) <= 0) {
            timers_.insert_after(p, t);
            return;
        }
    }
    timers_.push_front(t);
}

void Multiplexer::reset(TimerEvent* t)
{
    timers_.remove(t);
}

void Multiplexer::attach(Dpc* d)
{
    dpcs_.push_back(d);
    std::sort(dpcs_.begin(), dpcs_.end(), std::less<Dpc*>());
    dpcs_.erase(std::unique(dpcs_.begin(), dpcs_.end()), dpcs_.end());
}

void Multiplexer::dettach(Dpc* d)
{
    dpcs_.erase(std::remove(dpcs_.begin(), dpcs_.end(), d), dpcs_.end());
    if (dpc_cursor_ < dpc_sweep_.size())
        dpc_sweep_.erase(
            std::remove(dpc_sweep_.begin() + static_cast<std::ptrdiff_t>(dpc_cursor_), dpc_sweep_.end(), d),
            dpc_sweep_.end());
}

void Multiplexer::hook(TimerPoolPlugin* p)
{
    plugins_.push_back(p);
}

void Multiplexer::unhook(TimerPoolPlugin* p)
{
    plugins_.erase(std::remove(plugins_.begin(), plugins_.end(), p), plugins_.end());
    if (plugin_pass_ != nullptr)
        std::replace(plugin_pass_->pending.begin(), plugin_pass_->pending.end(), p,
                     static_cast<TimerPoolPlugin*>(nullptr));
}

void Multiplexer::watchdog_open_device()
{
    if (wd_ >= 0)
        return;
    const char* const device = "/dev/misc/gw-wd";
    int fd = wd_open_ != nullptr ? wd_open_(device, O_WRONLY | O_CLOEXEC)
                                 : ::open(RootPath(device).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "Mux: fail to open watchdog: " << std::strerror(errno) << std::endl;
        return;
    }
    errno = EIO;
    if (::write(fd, "START", 5) != 5) {
        std::cerr << "Mux: fail to activate watchdog: " << std::strerror(errno) << std::endl;
        watchdog_close(fd);
        return;
    }
    wd_ = fd;
}

void Multiplexer::watchdog_close(int fd) const
{
    if (wd_close_ != nullptr)
        wd_close_(fd);
    else
        ::close(fd);
}

void Multiplexer::watchdog_close_device()
{
    if (wd_ < 0)
        return;
    errno = EIO;
    if (::write(wd_, "STOP", 4) != 4)
        std::cerr << "Mux: stop watchdog failed: " << std::strerror(errno) << std::endl;
    watchdog_close(wd_);
    wd_ = -1;
}

void Multiplexer::resetWD()
{
    if (wd_ < 0)
        return;
    errno = EIO;
    if (::write(wd_, "PING", 4) != 4)
        std::cerr << "Mux: ping watchdog failed: " << std::strerror(errno) << std::endl;
}

void Multiplexer::dump(std::ostream& os) const
{
    os << "dpc transition measurement (min/max/cur/counter): " << dpc_measure_ << std::endl;
    os << "event transition measurement (min/max/cur/counter): " << event_measure_ << std::endl;
    os << "timer transition measurement (min/max/cur/counter): " << timer_measure_ << std::endl;
    Profile::dump(os);

    ext::Table table(40, 30, 10, 10, 5, 60);
    ext::Table::Sentry s(os, table);
    s << ext::delimeter;
    s << "name" << ext::nextrow << "events" << ext::nextrow << "count" << ext::nextrow << "handler"
      << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow;
    s << ext::delimeter;
    for (EventHandler* h = active_.head(); h != nullptr; h = active_.next(h)) {
        if (!h->is_named())
            continue;
        const auto* e = static_cast<const Event*>(h);
        s << ext::beginrow << e->event_name() << ext::nextrow << PollEventAsText(e->events()) << ext::nextrow
          << e->count() << ext::nextrow << (e->bound() ? "attached" : "unattached") << ext::nextrow
          << e->fd().get() << ext::nextrow << e->measure() << ext::nextrow;
    }
    s << ext::delimeter;
}

void Multiplexer::advance_clock(std::uint32_t ms)
{
    const std::uint64_t target = Mux::test::now_us() + static_cast<std::uint64_t>(ms) * 1000u;
    while (!timers_.empty()) {
        const std::uint32_t now = Mux::milliseconds();
        const std::int32_t d = static_cast<std::int32_t>(timers_.head()->expiry - now);
        if (d > 0) {
            if (Mux::test::now_us() + static_cast<std::uint64_t>(d) * 1000u > target)
                break;
            Mux::test::step(static_cast<std::uint32_t>(d));
        }
        fire_due(Mux::loop_us());
    }
    const std::uint64_t now_us = Mux::test::now_us();
    if (target > now_us)
        Mux::test::step(static_cast<std::uint32_t>((target - now_us) / 1000u));
}

std::string PollEventAsText(short events)
{
    static const struct {
        short bit;
        const char* name;
    } names[] = {{0x001, "|POLLIN"},     {0x002, "|POLLPRI"},    {0x004, "|POLLOUT"},
                 {0x008, "|POLLERR"},    {0x010, "|POLLHUP"},    {0x020, "|POLLNVAL"},
                 {0x040, "|POLLRDNORM"}, {0x080, "|POLLRDBAND"}, {0x100, "|POLLWRNORM"},
                 {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"}};
    std::string text;
    for (const auto& n : names)
        if ((events & n.bit) != 0)
            text += n.name;
    if (!text.empty())
        text.erase(0, 1);
    return text;
}

namespace Mux::test {

void advance(std::uint32_t ms)
{
    if (!manual())
        freeze();
    multiplexer.advance_clock(ms);
}

int run_once(int max_wait_ms)
{
    return multiplexer.run_once(max_wait_ms);
}

} // namespace Mux::test
