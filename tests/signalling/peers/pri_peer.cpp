#include "signalling/peers/pri_peer.hpp"

#include "signalling/peers/peer_clock.hpp"
#include "signalling/peers/peer_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace SigTest {

namespace {

// libpri 1.6 has no call that frees an instance: every one ever made stays
// listed here, reachable until the process ends.
std::vector<struct pri*>& Instances()
{
    static auto* all = new std::vector<struct pri*>;
    return *all;
}

using Current = Within<PriPeer>;

void Message(struct pri*, char* text)
{
    PeerLogWithin<PriPeer>("libpri", text);
}

void Error(struct pri*, char* text)
{
    PeerLogWithin<PriPeer>("libpri", std::string("error: ") + text);
}

// A bound on the timers one pass runs: libpri re-arms some timers from
// their own expiry, and a timer due again at once must not hold the loop.
constexpr int kMaxExpiriesPerPass = 1000;

} // namespace

PriPeer::PriPeer(End& end, int node, Interface iface, std::string name) : end_(end), name_(std::move(name))
{
    if (name_.empty())
        name_ = std::string(node == PRI_NETWORK ? "libpri network" : "libpri cpe") + " (" + end.name() + ")";
    pri_set_message(&Message);
    pri_set_error(&Error);
    // Attached first: a CPE sends from inside the constructor below.
    end_.notify = this;
    Current in(this);
    if (iface == Interface::primary_rate)
        pri_ = pri_new_cb(-1, node, PRI_SWITCH_EUROISDN_E1, &PriPeer::Read, &PriPeer::Write, this);
    else
        pri_ = pri_new_bri_cb(-1, 0, node, PRI_SWITCH_EUROISDN_E1, &PriPeer::Read, &PriPeer::Write, this);
    if (pri_ == nullptr) {
        PeerLog(name_, "pri_new failed");
        return;
    }
    Instances().push_back(pri_);
    pri_set_debug(pri_, PRI_DEBUG_Q921_RAW | PRI_DEBUG_Q921_STATE);
    timerHook();
}

PriPeer::~PriPeer()
{
    if (end_.notify == this)
        end_.notify = nullptr;
    timerUnhook();
}

int PriPeer::Count(int event) const
{
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

q931_call* PriPeer::Call(int channel, const std::string& called, const std::string& caller)
{
    if (pri_ == nullptr)
        return nullptr;
    Current in(this);
    q931_call* call = pri_new_call(pri_);
    if (call == nullptr)
        return nullptr;
    std::string to = called;
    std::string from = caller;
    const int r = pri_call(pri_, call, PRI_TRANS_CAP_SPEECH, channel, 1, 0,
                           from.empty() ? nullptr : from.data(), PRI_UNKNOWN, nullptr,
                           PRES_ALLOWED_USER_NUMBER_NOT_SCREENED, to.data(), PRI_UNKNOWN, PRI_LAYER_1_ALAW);
    return r == 0 ? call : nullptr;
}

PriPeer* PriPeer::Of(struct pri* pri)
{
    if (PriPeer* p = Current::current())
        return p;
    return static_cast<PriPeer*>(pri_get_userdata(pri));
}

int PriPeer::Read(struct pri* pri, void* buf, int buflen)
{
    PriPeer* self = Of(pri);
    if (self == nullptr || !self->has_pending_) {
        errno = EAGAIN;
        return -1;
    }
    self->has_pending_ = false;
    // The frame plus its two FCS octets must fit the library's buffer.
    if (buflen < 0 || self->pending_.size() + 2 > std::size_t(buflen)) {
        ++self->bad_frames;
        PeerLog(self->name_, "frame of " + std::to_string(self->pending_.size()) +
                                 " octets dropped: read buffer " + std::to_string(buflen));
        errno = EAGAIN;
        return -1;
    }
    std::memcpy(buf, self->pending_.data(), self->pending_.size());
    // The FCS a kernel channel leaves after the frame: libpri drops the
    // last two octets without looking at them.
    static_cast<std::uint8_t*>(buf)[self->pending_.size()] = 0;
    static_cast<std::uint8_t*>(buf)[self->pending_.size() + 1] = 0;
    return static_cast<int>(self->pending_.size() + 2);
}

int PriPeer::Write(struct pri* pri, void* buf, int buflen)
{
    PriPeer* self = Of(pri);
    if (self == nullptr)
        return buflen;
    if (buflen < 2 + 1) {
        ++self->bad_frames;
        PeerLog(self->name_, "write of " + std::to_string(buflen) + " octets dropped: no room for the FCS");
        return buflen;
    }
    const auto* p = static_cast<const std::uint8_t*>(buf);
    self->end_.Send(Bytes(p, p + buflen - 2));
    return buflen;
}

void PriPeer::on_hdlc_receive(Packet& frame)
{
    if (pri_ == nullptr)
        return;
    pending_.assign(frame.data(), frame.data() + frame.length());
    has_pending_ = true;
    Current in(this);
    pri_event* e = pri_check_event(pri_);
    has_pending_ = false;
    if (e != nullptr)
        Handle(e);
}

int PriPeer::poll_wait()
{
    if (pri_ == nullptr)
        return -1;
    Current in(this);
    for (int i = 0; i < kMaxExpiriesPerPass; ++i) {
        const struct timeval* next = pri_schedule_next(pri_);
        if (next == nullptr)
            return -1;
        const int wait = PeerWaitMs(*next);
        if (wait > 0)
            return wait;
        pri_event* e = pri_schedule_run(pri_);
        if (e != nullptr)
            Handle(e);
    }
    return 0;
}

void PriPeer::Handle(pri_event* e)
{
    events.push_back(e->e);
    switch (e->e) {
    case PRI_EVENT_DCHAN_UP:
        up_ = true;
        break;
    case PRI_EVENT_DCHAN_DOWN:
        up_ = false;
        break;
    case PRI_EVENT_RING:
        last_ring = e->ring;
        break;
    default:
        break;
    }
    PeerLog(name_, std::string("event ") + pri_event2str(e->e));
    if (on_event)
        on_event(*e);
}

} // namespace SigTest
