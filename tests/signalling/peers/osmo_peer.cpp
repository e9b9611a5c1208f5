#include "signalling/peers/osmo_peer.hpp"

#include "signalling/peers/peer_clock.hpp"
#include "signalling/peers/peer_log.hpp"

extern "C" {
#include <osmocom/abis/lapd.h>
#include <osmocom/core/application.h>
#include <osmocom/core/logging.h>
#include <osmocom/core/msgb.h>
#include <osmocom/core/timer.h>
#include <osmocom/gsm/lapd_core.h>
#include <talloc.h>
}

#include <algorithm>
#include <climits>

namespace SigTest {

namespace {

// LAPD's address and control octets, pushed in front of an information
// field by lapd_transmit().
constexpr std::uint16_t kHeadroom = 32;
constexpr std::uint16_t kMaxFrame = 512;

// Whether lapd_receive() freed the buffer it was given: it does on some of
// its refusals and not on others, so the buffer tells by itself.
msgb* g_watched = nullptr;
bool g_watched_freed = false;

int OnFree(void* chunk)
{
    if (chunk == g_watched)
        g_watched_freed = true;
    return 0;
}

// Sets libosmocore's clock to the loop's for the call and names the adapter
// the library's log lines belong to.
class Call {
public:
    explicit Call(OsmoLapdPeer* p) : within_(p)
    {
        const std::uint64_t now = PeerNowUs();
        osmo_gettimeofday_override = true;
        osmo_gettimeofday_override_time.tv_sec = time_t(now / 1000000u);
        osmo_gettimeofday_override_time.tv_usec = suseconds_t(now % 1000000u);
    }
    ~Call() { osmo_gettimeofday_override = outer_; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    bool outer_ = osmo_gettimeofday_override;
    Within<OsmoLapdPeer> within_;
};

void Output(struct log_target*, unsigned int, const char* text)
{
    PeerLogWithin<OsmoLapdPeer>("libosmo-abis", text);
}

struct Osmo {
    void* root = nullptr;
    void* msgbs = nullptr;
};

// libosmocore's logging and the message buffers' context, once per process
// (both live as long as it does).
Osmo& Init()
{
    static Osmo* osmo = [] {
        auto* o = new Osmo;
        o->root = talloc_named_const(nullptr, 0, "gw peers");
        o->msgbs = msgb_talloc_ctx_init(o->root, 0);
        static const struct log_info info = {};
        osmo_init_logging2(o->root, &info);
        // The test log instead of standard error (destroying a target
        // takes it off the list too).
        log_target_destroy(osmo_stderr_target);
        osmo_stderr_target = nullptr;
        struct log_target* t = log_target_create();
        t->output = &Output;
        log_set_all_filter(t, 1);
        log_set_use_color(t, 0);
        log_set_print_category(t, 1);
        log_set_print_level(t, 1);
        log_set_category_filter(t, DLLAPD, 1, LOGL_DEBUG);
        log_set_category_filter(t, DLINP, 1, LOGL_DEBUG);
        log_add_target(t);
        return o;
    }();
    return *osmo;
}

} // namespace

std::size_t OsmoMsgbsInUse()
{
    // The context itself is one block.
    return talloc_total_blocks(Init().msgbs) - 1;
}

OsmoLapdPeer::OsmoLapdPeer(End& end, Side side, std::string name) : end_(end), name_(std::move(name))
{
    if (name_.empty())
        name_ = std::string(side == Side::network ? "libosmo-abis network" : "libosmo-abis user") + " (" +
                end.name() + ")";
    Init();
    end_.notify = this;
    Call in(this);
    li_ = lapd_instance_alloc2(side == Side::network ? 1 : 0, &OsmoLapdPeer::Transmit, this,
                               &OsmoLapdPeer::Receive, this, &lapd_profile_isdn, name_.c_str());
    if (li_ == nullptr) {
        PeerLog(name_, "lapd_instance_alloc2 failed");
        return;
    }
    timerHook();
}

OsmoLapdPeer::~OsmoLapdPeer()
{
    if (end_.notify == this)
        end_.notify = nullptr;
    timerUnhook();
    if (li_ != nullptr) {
        Call in(this);
        lapd_instance_free(li_);
    }
}

int OsmoLapdPeer::Count(unsigned int primitive) const
{
    return static_cast<int>(std::count_if(prims.begin(), prims.end(),
                                          [primitive](const Prim& p) { return p.primitive == primitive; }));
}

int OsmoLapdPeer::Start(std::uint8_t tei, std::uint8_t sapi)
{
    if (li_ == nullptr)
        return -1;
    Call in(this);
    return lapd_sap_start(li_, tei, sapi);
}

int OsmoLapdPeer::Stop(std::uint8_t tei, std::uint8_t sapi)
{
    if (li_ == nullptr)
        return -1;
    Call in(this);
    return lapd_sap_stop(li_, tei, sapi);
}

void OsmoLapdPeer::Send(const Bytes& info, std::uint8_t tei, std::uint8_t sapi)
{
    if (li_ == nullptr || info.size() > kMaxFrame)
        return;
    Call in(this);
    msgb* msg = msgb_alloc_headroom(kHeadroom + kMaxFrame, kHeadroom, "gw peer tx");
    if (msg == nullptr)
        return;
    std::copy(info.begin(), info.end(), msgb_put(msg, static_cast<unsigned int>(info.size())));
    // The buffer is the library's from here on.
    lapd_transmit(li_, tei, sapi, msg);
}

void OsmoLapdPeer::Transmit(msgb* msg, void* self)
{
    auto* p = static_cast<OsmoLapdPeer*>(self);
    p->end_.Send(Bytes(msg->data, msg->data + msg->len));
    // A transmitted frame is the callee's to free, as an E1 driver would
    // after writing it.
    msgb_free(msg);
}

void OsmoLapdPeer::Receive(osmo_dlsap_prim* odp, std::uint8_t tei, std::uint8_t sapi, void* self)
{
    auto* p = static_cast<OsmoLapdPeer*>(self);
    Prim prim;
    prim.primitive = odp->oph.primitive;
    prim.operation = odp->oph.operation;
    prim.tei = tei;
    prim.sapi = sapi;
    msgb* msg = odp->oph.msg;
    if (msg != nullptr && (prim.primitive == PRIM_DL_DATA || prim.primitive == PRIM_DL_UNIT_DATA) &&
        msg->l3h != nullptr && msg->l3h >= msg->data && msg->l3h <= msg->tail)
        prim.data.assign(msg->l3h, msg->tail);
    // The primitive's buffer is the user's to free.
    if (msg != nullptr)
        msgb_free(msg);
    switch (prim.primitive) {
    case PRIM_DL_EST:
        p->established_ = true;
        break;
    case PRIM_DL_REL:
        p->established_ = false;
        break;
    case PRIM_DL_DATA:
        p->received.push_back(prim.data);
        break;
    default:
        break;
    }
    PeerLog(p->name_, "DL primitive " + std::to_string(prim.primitive) + " operation " +
                          std::to_string(prim.operation) + " tei " + std::to_string(tei) + " sapi " +
                          std::to_string(sapi));
    p->prims.push_back(prim);
    if (p->on_prim)
        p->on_prim(p->prims.back());
}

void OsmoLapdPeer::on_hdlc_receive(Packet& frame)
{
    if (li_ == nullptr || frame.length() > kMaxFrame)
        return;
    Call in(this);
    msgb* msg = msgb_alloc_headroom(kHeadroom + kMaxFrame, kHeadroom, "gw peer rx");
    if (msg == nullptr)
        return;
    std::copy(frame.data(), frame.data() + frame.length(), msgb_put(msg, frame.length()));
    msg->l2h = msg->data;
    _talloc_set_destructor(msg, &OnFree);
    g_watched = msg;
    g_watched_freed = false;
    int error = 0;
    const int r = lapd_receive(li_, msg, &error);
    const bool freed = g_watched_freed;
    g_watched = nullptr;
    if (r < 0) {
        ++rejected;
        last_error = error;
        PeerLog(name_, "lapd_receive refused a frame: error " + std::to_string(error));
        if (!freed)
            msgb_free(msg);
    }
}

int OsmoLapdPeer::poll_wait()
{
    if (li_ == nullptr)
        return -1;
    Call in(this);
    osmo_timers_prepare();
    osmo_timers_update();
    const struct timeval* next = osmo_timers_nearest();
    if (next == nullptr)
        return -1;
    // libosmocore's nearest is relative to the time now.
    const std::int64_t ms = (std::int64_t(next->tv_sec) * 1000000 + next->tv_usec + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : int(ms);
}

} // namespace SigTest
