#include "signalling/peers/ss7_peer.hpp"

#include "signalling/peers/peer_clock.hpp"
#include "signalling/peers/peer_log.hpp"

extern "C" {
#include <libss7.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SigTest {

namespace {

// A signal unit at 64 kbit/s takes about a millisecond; libss7 sends one
// at every chance it gets, so the adapter gives it one per 10 ms.
constexpr std::uint64_t kPaceUs = 10000;
// Longer than any unit (Q.703 2.3.8: at most 272 octets of SIF).
constexpr std::size_t kMaxUnit = 512;
// A bound on the timers one pass runs.
constexpr int kMaxExpiriesPerPass = 1000;

using Current = Within<Ss7Peer>;

void Message(struct ss7*, char* text)
{
    PeerLogWithin<Ss7Peer>("libss7", text);
}

void Error(struct ss7*, char* text)
{
    PeerLogWithin<Ss7Peer>("libss7", std::string("error: ") + text);
}

// FISU (LI 0) or LSSU (LI 1 or 2): Q.703 2.2, LI in the low six bits of
// the third octet.
bool IsStatus(const Bytes& unit)
{
    return unit.size() >= 3 && (unit[2] & 0x3F) <= 2;
}

} // namespace

Ss7Peer::Ss7Peer(End& end, const Config& config, std::string name)
    : end_(end), config_(config), name_(std::move(name))
{
    if (name_.empty())
        name_ = "libss7 pc " + std::to_string(config_.pc) + " (" + end.name() + ")";
    ss7_set_message(&Message);
    ss7_set_error(&Error);
    end_.notify = this;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        PeerLog(name_, std::string("socketpair: ") + std::strerror(errno));
        return;
    }
    fd_lib_ = fds[0];
    fd_mine_ = fds[1];
    Current in(this);
    ss7_ = ss7_new(SS7_ITU);
    if (ss7_ == nullptr) {
        PeerLog(name_, "ss7_new failed");
        return;
    }
    ss7_set_debug(ss7_, SS7_DEBUG_MTP2 | SS7_DEBUG_MTP3);
    ss7_set_network_ind(ss7_, config_.network_indicator);
    ss7_set_pc(ss7_, config_.pc);
    if (ss7_add_link(ss7_, SS7_TRANSPORT_DAHDIDCHAN, fd_lib_, config_.slc, config_.adjacent_pc) < 0)
        PeerLog(name_, "ss7_add_link failed");
    timerHook();
}

Ss7Peer::~Ss7Peer()
{
    if (end_.notify == this)
        end_.notify = nullptr;
    timerUnhook();
    if (ss7_ != nullptr) {
        Current in(this);
        ss7_destroy(ss7_);
    }
    if (fd_lib_ >= 0)
        ::close(fd_lib_);
    if (fd_mine_ >= 0)
        ::close(fd_mine_);
}

int Ss7Peer::Start()
{
    if (ss7_ == nullptr)
        return -1;
    Current in(this);
    const int r = ss7_start(ss7_);
    Drain();
    Events();
    return r;
}

int Ss7Peer::Count(int event) const
{
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

void Ss7Peer::on_hdlc_receive(Packet& frame)
{
    if (ss7_ == nullptr || frame.length() > kMaxUnit)
        return;
    Bytes unit(frame.data(), frame.data() + frame.length());
    if (config_.repeat_status && unit.size() >= 3) {
        if (IsStatus(unit)) {
            last_in_status_ = unit;
        } else {
            // After an MSU a controller fills with FISUs that carry the
            // MSU's sequence numbers (Q.703 5.2): repeating the status unit
            // from before it would read as out of sequence.
            last_in_status_ = {unit[0], unit[1], 0x00};
        }
        next_repeat_us_ = PeerNowUs() + kPaceUs;
    }
    Feed(unit);
}

// One unit to libss7, with the two FCS octets its HDLC transport expects.
void Ss7Peer::Feed(const Bytes& unit)
{
    Bytes out = unit;
    out.push_back(0);
    out.push_back(0);
    if (::send(fd_mine_, out.data(), out.size(), 0) < 0) {
        PeerLog(name_, std::string("send to libss7: ") + std::strerror(errno));
        return;
    }
    Current in(this);
    if (ss7_read(ss7_, fd_lib_) < 0)
        PeerLog(name_, "ss7_read failed");
    Drain();
    Events();
}

// What libss7 wrote, to the kit end without its FCS octets.
void Ss7Peer::Drain()
{
    std::uint8_t buf[kMaxUnit + 2];
    for (;;) {
        const ssize_t n = ::recv(fd_mine_, buf, sizeof buf, 0);
        if (n < 0)
            return;
        if (n < 3) {
            ++bad_frames;
            PeerLog(name_, "unit of " + std::to_string(n) + " octets dropped: no room for the FCS");
            continue;
        }
        Bytes unit(buf, buf + n - 2);
        if (config_.repeat_status) {
            if (IsStatus(unit)) {
                if (unit == last_out_status_)
                    continue;
                last_out_status_ = unit;
            } else {
                last_out_status_.clear();
            }
        }
        end_.Send(unit);
    }
}

void Ss7Peer::Events()
{
    while (ss7_event* e = ss7_check_event(ss7_)) {
        events.push_back(e->e);
        switch (e->e) {
        case SS7_EVENT_UP:
            up_ = true;
            break;
        case SS7_EVENT_DOWN:
            up_ = false;
            break;
        case MTP2_LINK_UP:
            mtp2_up_ = true;
            break;
        case MTP2_LINK_DOWN:
            mtp2_up_ = false;
            break;
        default:
            break;
        }
        PeerLog(name_, std::string("event ") + ss7_event2str(e->e));
        if (on_event)
            on_event(e->e);
    }
}

int Ss7Peer::poll_wait()
{
    if (ss7_ == nullptr)
        return -1;
    Current in(this);
    int wait = -1;
    for (int i = 0;; ++i) {
        const struct timeval* next = ss7_schedule_next(ss7_);
        wait = next != nullptr ? PeerWaitMs(*next) : -1;
        if (wait != 0 || i == kMaxExpiriesPerPass)
            break;
        ss7_schedule_run(ss7_);
        Drain();
        Events();
    }

    const std::uint64_t now = PeerNowUs();
    if (config_.repeat_status && !last_in_status_.empty() && now >= next_repeat_us_) {
        next_repeat_us_ = now + kPaceUs;
        Feed(last_in_status_);
    }
    if (now >= next_write_us_ && (ss7_pollflags(ss7_, fd_lib_) & POLLOUT) != 0) {
        next_write_us_ = now + kPaceUs;
        if (ss7_write(ss7_, fd_lib_) < 0)
            PeerLog(name_, "ss7_write failed");
        Drain();
        Events();
    }

    auto until = [now](std::uint64_t t) { return int(t > now ? (t - now + 999) / 1000 : 0); };
    auto shortest = [&wait](int w) { wait = wait < 0 || w < wait ? w : wait; };
    if ((ss7_pollflags(ss7_, fd_lib_) & POLLOUT) != 0)
        shortest(until(next_write_us_));
    if (config_.repeat_status && !last_in_status_.empty())
        shortest(until(next_repeat_us_));
    return wait;
}

} // namespace SigTest

// libss7 2.0's ss7_destroy() frees the signalling point but not its links'
// MTP2 state nor the adjacent point's record, which point at each other:
// LeakSanitizer would blame every test that ends a peer as it should. Only
// those two allocations of the library are excused.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:mtp2_new\nleak:mtp3_add_adj_sp\n";
}
