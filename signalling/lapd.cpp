#include "signalling/lapd.hpp"

#include "core/ext.hpp"
#include "signalling/q931_trace.hpp"

#include <cstring>
#include <iostream>
#include <random>

namespace ISDN {

namespace {

// Control octets (Q.921 3.6, Table 5): S frames with the type in bits 3-4,
// U frames with the P/F bit (0x10) cleared.
constexpr unsigned char kSabme = 0x6F;
constexpr unsigned char kDisc = 0x43;
constexpr unsigned char kUa = 0x63;
constexpr unsigned char kDm = 0x0F;
constexpr unsigned char kFrmr = 0x87;
constexpr unsigned char kUi = 0x03;
constexpr unsigned char kXid = 0xAF;
constexpr unsigned char kPf = 0x10;

// TEI management (Q.921 5.3.1, Table 8): management entity identifier and
// message types.
constexpr unsigned char kTeiEntity = 0x0F;
constexpr unsigned char kIdentityRequest = 1;
constexpr unsigned char kIdentityAssigned = 2;
constexpr unsigned char kIdentityDenied = 3;
constexpr unsigned char kIdentityCheckRequest = 4;
constexpr unsigned char kIdentityCheckResponse = 5;
constexpr unsigned char kIdentityRemove = 6;
constexpr int kGroupTei = 127;

// Head room a frame built here leaves for a lower layer.
constexpr unsigned int kFrameHeadRoom = 4;
// Address and two control octets of an I frame.
constexpr unsigned int kIHeader = 4;

const char* const kStateNames[8] = {
    "TEI unassigned",         "Assign awaiting TEI", "Establish awaiting TEI",     "TEI assigned",
    "Awaiting establishment", "Awaiting release",    "Multiple frame established", "Timer recovery",
};

const char* mdl_error_text(unsigned int code)
{
    switch (code) {
    case 1:
        return "Supervisory (F = 1)";
    case 2:
        return "DM (F = 1)";
    case 4:
        return "UA (F = 1)";
    case 8:
        return "UA (F = 0)";
    case 16:
        return "Receipt of DM response (F = 0)";
    case 32:
        return "Peer initiated re-establishment - SABME";
    case 64:
        return "Unsuccessful retransmission (N200 times) - SABME";
    case 128:
        return "Unsuccessful retransmission (N200 times) - DISC";
    case 256:
        return "Unsuccessful retransmission (N200 times) - Status enquiry";
    case 512:
        return "Other - N(R) error";
    case 1024:
        return "Other - Receipt of FRMR response";
    case 2048:
        return "Other - Receipt of undefined frame";
    case 4096:
        return "Other - Receipt of I field not permitted";
    case 8192:
        return "Other - Receipt of frame with wrong size";
    case 16384:
        return "Other - N201 error";
    case 32768:
        return "Tei Assign - Tei denied";
    default:
        return "Other - Unknown";
    }
}

// MDL-ERROR codes used below (Q.921 Table II.1, letters A to K).
enum : unsigned int {
    kErrA = 1,
    kErrB = 2,
    kErrC = 4,
    kErrD = 8,
    kErrE = 16,
    kErrF = 32,
    kErrG = 64,
    kErrH = 128,
    kErrI = 256,
    kErrJ = 512,
    kErrK = 1024,
    kErrUnknown = 12,
    kErrTeiDenied = 32768,
};

const char* timer_name(int t)
{
    static const char* const names[3] = {"T200", "T202", "T203"};
    return names[t];
}

std::uint16_t process_ri()
{
    // Seeded once per process, so that two links (or a restarted link)
    // draw different reference numbers.
    static std::minstd_rand generator(std::random_device{}());
    return static_cast<std::uint16_t>(generator() >> 8);
}

} // namespace

const char* statetext(unsigned int state)
{
    return state < 8 ? kStateNames[state] : "(unknown)";
}

void LAPDFullState::out(std::ostream& os) const
{
    auto running = [](bool r) { return r ? "running" : "stopped"; };
    os << "\n   - state: " << statetext(state)                                                //
       << "\n   - self: TEI=" << self_tei << ", SAPI=" << self_sapi << ", busy=" << own_busy  //
       << "\n   - peer: TEI=" << peer_tei << ", SAPI=" << peer_sapi << ", busy=" << peer_busy //
       << "\n   - counters: VS=" << vs.value() << ", VA=" << va.value() << ", VR=" << vr.value()
       << ", RC=" << rc //
       << "\n   - internal signals: AckRQ=" << ack_rq << ", RetrRQ=" << retransmission_rq
       << ", QueuedUp=" << queued_up_rq //
       << "\n   - flags: L3Initiated=" << l3_initiated << ", Establishable=" << establishable
       << ", RejectException=" << reject_exception //
       << "\n   - timers: T200 " << running(t200_running) << ", T202 " << running(t202_running) << ", T203 "
       << running(t203_running);
}

void LAPD::Stats::out(std::ostream& os) const
{
    os << "\n   - timers expire count: T200: " << t200_expired << ", T202: " << t202_expired
       << ", T203: " << t203_expired                                //
       << "\n   - errors: " << errors << ", retrains: " << retrains //
       << "\n   - queue overflows: out: " << out_overflows << ", ack: " << ack_overflows;
}

LAPD::Status::Status(LAPD const* lapd, std::string const& text)
    : Protocol_status_error(const_cast<LAPD*>(lapd), text), LAPDFullState(lapd->full_state())
{}

std::string LAPD::Status::message() const
{
    return Protocol_status_error::message();
}

void LAPD::Status::out(std::ostream& os) const
{
    os << message();
    LAPDFullState::out(os);
}

LAPD::LAPD(Side::type s, unsigned int level) : side(s), log(level)
{
    discard_queue();
}

LAPD::~LAPD() = default;

void LAPD::PutHeader(std::ostream& os) const
{
    os << "LAPD[" << id << "] (" << statetext(state) << "): ";
}

void LAPD::local_prepare_head(Packet& pkt)
{
    pkt.reserve_head(kIHeader);
}

void LAPD::local_prepare_tail(Packet& pkt)
{
    pkt.reserve_tail(0);
}

void LAPD::change_to_bri()
{
    bri_ = true;
}

// ---------------------------------------------------------------- state

void LAPD::change_state(unsigned int next)
{
    if (next == state)
        return;
    // At levels 2 and 3 the swings between 6 and 7 (every T203 enquiry)
    // would drown the changes that matter.
    const bool swing = (state == 6 && next == 7) || (state == 7 && next == 6);
    if (log >= 2 && !(swing && log <= 3))
        std::clog << "LAPD[" << id << "] : change state \"" << statetext(state) << "\" -> \""
                  << statetext(next) << "\"" << std::endl;
    state = next;
}

void LAPD::change_flowstatus(FlowStatus::Type next)
{
    if (next == flow_status_)
        return;
    flow_status_ = next;
    if (notify != nullptr)
        notify->OnLAPD_FlowStatusChange(this);
}

void LAPD::deactivated(char const* text, bool success)
{
    if (success)
        on_deactivate(new Protocol_status_success(this, text));
    else
        on_deactivate(new Status(this, text));
}

void LAPD::on_error(unsigned int code)
{
    on_error(mdl_error_text(code));
}

void LAPD::on_error(char const* text)
{
    on_status(new Status(this, text));
}

Protocol_status LAPD::status() const
{
    return new Status(this, "current status");
}

void LAPD::show_stat() const
{
    std::cout << " - current state: ";
    LAPDFullState::out(std::cout);
    std::cout << "\n - statistics: ";
    stats_.out(std::cout);
    std::cout << std::endl;
}

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const
{
    info.set_msuTxCount(static_cast<int>(stats_.tx_messages));
    info.set_msuRxCount(static_cast<int>(stats_.rx_iframes));
    info.set_mT200(static_cast<int>(stats_.t200_expired));
    info.set_mT203(static_cast<int>(stats_.t203_expired));
    info.set_errors(static_cast<int>(stats_.errors));
    info.set_retrains(static_cast<int>(stats_.retrains));
    info.set_rejected(static_cast<int>(stats_.rejected));
    info.set_badconfirm(static_cast<int>(stats_.bad_confirms));
    info.set_outOverflows(static_cast<int>(stats_.out_overflows));
    info.set_ackOverflows(static_cast<int>(stats_.ack_overflows));
    info.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(state));
    info.set_rc(rc);
    info.set_peerBusy(peer_busy);
    info.set_ownBusy(own_busy);
    info.set_rejException(reject_exception);
    info.set_ackPending(false);
    info.set_l3Initiated(l3_initiated);
    info.set_establishable(establishable);
    info.set_queuedUpRQ(queued_up_rq);
    info.set_retrRQ(retransmission_rq);
    info.set_ackRQ(ack_rq);
    info.set_t200run(t200_running);
    info.set_t203run(t203_running);
    info.set_vs(static_cast<int>(vs.value()));
    info.set_va(static_cast<int>(va.value()));
    info.set_vr(static_cast<int>(vr.value()));
    info.set_queueOut(static_cast<int>(out_queue_.count()));
    info.set_queueAck(static_cast<int>(ack_queue_.count()));
    if (info.do_compare(last_info_) == 0)
        return false;
    last_info_ = info;
    return true;
}

// ---------------------------------------------------------------- timers

bool& LAPD::running(TimerId t)
{
    switch (t) {
    case TimerId::t200:
        return t200_running;
    case TimerId::t202:
        return t202_running;
    case TimerId::t203:
        break;
    }
    return t203_running;
}

void LAPD::start_timer(TimerId t)
{
    const int self = static_cast<int>(t);
    for (int other = 0; other < 3; ++other)
        if (other != self && running(static_cast<TimerId>(other))) {
            const std::string text = std::string("trying to start ") + timer_name(self) + " while " +
                                     timer_name(other) + " running";
            on_error(text.c_str());
        }
    stop_timer(t);
    // Setting the one Timer replaces (and cancels) whatever event it held,
    // so the timer it belonged to runs no longer.
    t200_running = t202_running = t203_running = false;
    running(t) = true;
    switch (t) {
    case TimerId::t200:
        timer_.set(T200, &LAPD::on_t200, this);
        break;
    case TimerId::t202:
        timer_.set(T202, &LAPD::on_t202, this);
        break;
    case TimerId::t203:
        timer_.set(T203, &LAPD::on_t203, this);
        break;
    }
}

void LAPD::stop_timer(TimerId t)
{
    // A timer that is not running is left alone: resetting the shared Timer
    // here would cancel the event of the timer that is running.
    if (!running(t))
        return;
    const int self = static_cast<int>(t);
    for (int other = 0; other < 3; ++other)
        if (other != self && running(static_cast<TimerId>(other))) {
            const std::string text = std::string("trying to stop ") + timer_name(self) + " while " +
                                     timer_name(other) + " running";
            on_error(text.c_str());
        }
    running(t) = false;
    timer_.reset();
}

// Q.921 5.6.1 and 5.7: T200 guards SABME, DISC, I frames and enquiries.
void LAPD::on_t200()
{
    t200_running = false;
    ++stats_.t200_expired;
    switch (state) {
    case 4:
        if (rc >= N200) {
            discard_queue();
            on_error(kErrG);
            change_state(3);
            deactivated("link error (T200 expired N200 times)", false);
        } else {
            ++rc;
            tx_cmd_resp(kSabme, true, true);
            start_timer(TimerId::t200);
        }
        break;
    case 5:
        if (rc >= N200) {
            on_error(kErrH);
            change_state(3);
            deactivated("link error (T200 expired N200 times)", false);
        } else {
            ++rc;
            tx_cmd_resp(kDisc, true, true);
            start_timer(TimerId::t200);
        }
        break;
    case 6:
        rc = 0;
        enquiry();
        ++rc;
        if (log >= 2)
            std::clog << ext::header(this) << "ack expired" << std::endl;
        change_state(7);
        break;
    case 7:
        if (rc >= N200) {
            if (log >= 2)
                std::clog << ext::header(this) << "ack error !!!" << std::endl;
            on_error(kErrI);
            establish();
            l3_initiated = false;
            change_state(4);
        } else {
            if (log >= 2)
                std::clog << ext::header(this) << "ack timeout expired RC=" << rc << std::endl;
            enquiry();
            ++rc;
        }
        break;
    default:
        break;
    }
    local_events();
}

// Q.921 5.3.2: T202 paces the identity requests; N202 + 2 requests in all
// (RC counts past N202 before the link gives up).
void LAPD::on_t202()
{
    t202_running = false;
    ++stats_.t202_expired;
    if (state == 1 || state == 2) {
        if (rc > N202) {
            state = 0;
            deactivated("link error (T202 expired N202 times)", false);
        } else {
            ri_ = new_ri();
            tx_identity(ri_, kGroupTei, kIdentityRequest);
            start_timer(TimerId::t202);
            ++rc;
        }
    }
    local_events();
}

// Q.921 5.7.1: an idle link polls its peer.
void LAPD::on_t203()
{
    t203_running = false;
    ++stats_.t203_expired;
    std::clog << ext::header(this) << "T203." << std::endl;
    if (state == 6) {
        enquiry();
        rc = 0;
        change_state(7);
    }
    local_events();
}

// ---------------------------------------------------------------- procedures

void LAPD::clear_exceptions()
{
    peer_busy = false;
    own_busy = false;
    reject_exception = false;
    ack_rq = false;
}

// Q.921 5.5.1.1.
void LAPD::establish()
{
    clear_exceptions();
    rc = 0;
    tx_cmd_resp(kSabme, true, true);
    stop_timer(TimerId::t203);
    start_timer(TimerId::t200);
}

// Q.921 5.8.5.
void LAPD::nr_error_recovery()
{
    ++stats_.bad_confirms;
    on_error(kErrJ);
    establish();
    l3_initiated = false;
    change_state(4);
}

// Q.921 5.6.2: an RR (RNR when busy) command with P = 1.
void LAPD::enquiry()
{
    if (log >= 4)
        std::clog << ext::header(this) << "tx_enquiry, ownBusy=" << own_busy << std::endl;
    tx_cmd_resp(own_busy ? rnr : rr, true, true);
    ack_rq = false;
    start_timer(TimerId::t200);
}

void LAPD::enquiry_response()
{
    if (log >= 4)
        std::clog << ext::header(this) << "tx_enquiry_response" << std::endl;
    tx_cmd_resp(own_busy ? rnr : rr, true, false);
    ack_rq = false;
}

void LAPD::retransmit_from(Seq nr)
{
    va = nr;
    retransmission_rq = true;
    queued_up_rq = true;
}

void LAPD::discard_queue()
{
    if (log >= 1)
        std::clog << ext::header(this) << "discard queue "
                  << " OutData=" << out_queue_.count() << " AckData=" << ack_queue_.count() << std::endl;
    out_queue_.clear();
    ack_queue_.clear();
}

// Entering multiple-frame operation: messages queued meanwhile leave now,
// not at the next T203 poll.
void LAPD::enter_established()
{
    change_state(6);
    if (!out_queue_.empty())
        queued_up_rq = true;
}

std::uint16_t LAPD::new_ri()
{
    return ri_source ? ri_source() : process_ri();
}

// Q.921 5.3.2. A DL-ESTABLISH waiting for its TEI keeps state 2, so that the
// assignment goes on to establish the link.
void LAPD::begin_tei_assignment(bool keep_state)
{
    if (!bri_ || side != Side::user)
        return;
    if (!keep_state)
        change_state(1);
    on_mdl_assign();
    ri_ = new_ri();
    tx_identity(ri_, kGroupTei, kIdentityRequest);
    rc = 0;
    stop_timer(TimerId::t200);
    stop_timer(TimerId::t203);
    start_timer(TimerId::t202);
}

void LAPD::mdl_assign(unsigned char tei)
{
    if (log >= 2)
        std::clog << ext::header(this) << "MDL-ASSIGN (tei=" << static_cast<unsigned int>(tei) << ")"
                  << std::endl;
    self_tei = tei & 0x7F;
    if (state == 2) {
        establish();
        l3_initiated = true;
        change_state(4);
    } else {
        change_state(3);
    }
}

void LAPD::mdl_remove()
{
    std::clog << ext::header(this) << "MDL-REMOVE" << std::endl;
    switch (state) {
    case 3:
        discard_queue();
        change_state(0);
        break;
    case 4:
        discard_queue();
        stop_timer(TimerId::t200);
        change_state(0);
        deactivated("error (MDL-REMOVE received)", false);
        break;
    case 5:
        stop_timer(TimerId::t200);
        change_state(0);
        deactivated("error (MDL-REMOVE received)", false);
        break;
    case 6:
        discard_queue();
        stop_timer(TimerId::t200);
        stop_timer(TimerId::t203);
        change_state(0);
        deactivated("error (MDL-REMOVE received)", false);
        break;
    case 7:
        discard_queue();
        stop_timer(TimerId::t200);
        change_state(0);
        deactivated("error (MDL-REMOVE received)", false);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- layer 3

void LAPD::local_activate()
{
    if (log >= 1)
        std::clog << ext::header(this) << "DL-ESTABLISH" << std::endl;
    switch (state) {
    case 0:
        rc = 0;
        on_mdl_assign();
        change_state(2);
        begin_tei_assignment(true);
        break;
    case 1:
        change_state(2);
        break;
    case 3:
        establish();
        l3_initiated = true;
        change_state(4);
        break;
    case 4:
        discard_queue();
        l3_initiated = true;
        break;
    case 6:
    case 7:
        discard_queue();
        establish();
        l3_initiated = true;
        change_state(4);
        break;
    default:
        break;
    }
}

void LAPD::local_deactivate()
{
    if (log >= 2)
        std::clog << ext::header(this) << "DL-RELEASE" << std::endl;
    static char const kText[] = "success (deactivated locally)";
    switch (state) {
    case 3:
        deactivated(kText, true);
        break;
    case 4:
        discard_queue();
        rc = 0;
        tx_cmd_resp(kDisc, true, true);
        stop_timer(TimerId::t203);
        stop_timer(TimerId::t202);
        start_timer(TimerId::t200);
        change_state(3);
        deactivated(kText, true);
        break;
    case 6:
        discard_queue();
        rc = 0;
        tx_cmd_resp(kDisc, true, true);
        stop_timer(TimerId::t203);
        start_timer(TimerId::t200);
        change_state(5);
        break;
    case 7:
        discard_queue();
        rc = 0;
        tx_cmd_resp(kDisc, true, true);
        start_timer(TimerId::t200);
        change_state(5);
        break;
    default:
        break;
    }
}

void LAPD::message(Packet& pkt)
{
    ++stats_.tx_messages;
    if (pkt.null() || pkt.length() == 0)
        return;
    if (out_queue_.count() > out_limit) {
        std::clog << ext::header(this) << "discard outgoing message: buffer overflow" << std::endl;
        ++stats_.out_overflows;
    } else if (pkt.length() > N201) {
        std::clog << ext::header(this) << "discard outgoing message: too long (" << pkt.length() << " octets)"
                  << std::endl;
        return;
    } else {
        Packet queued = pkt;
        // The I-frame header goes in front of the message when it is sent: a
        // message built without this layer's head room gets it here.
        if (queued.headroom() < kIHeader) {
            queued.reset();
            queued.reserve_head(kIHeader);
            queued.put(pkt.data(), pkt.length());
        }
        if (log >= 3) {
            if (out_queue_.count() > k)
                std::clog << ext::header(this) << "outgoing queue size = " << out_queue_.count()
                          << " tx counter = " << stats_.tx_messages << std::endl;
            std::clog << ext::header(this) << "add to tx queue: " << queued.text() << std::endl;
        }
        out_queue_.put(queued);
        queued_up_rq = true;
    }
    if (state == 0)
        begin_tei_assignment(false);
    if (out_queue_.count() > congested_above)
        change_flowstatus(FlowStatus::congested);
    local_events();
}

// The work that follows every frame, timer expiry, DL-DATA request and
// channel readiness.
void LAPD::local_events()
{
    // Frames acknowledged meanwhile leave the acknowledge queue, oldest first.
    const unsigned int outstanding = (vs - va).value();
    unsigned int acknowledged = 0;
    while (ack_queue_.count() > outstanding) {
        ack_queue_.get(nullptr);
        ++acknowledged;
    }
    if (acknowledged != 0 && log >= 3) {
        std::clog << ext::header(this) << "acknowledge " << acknowledged << " frames"
                  << " VS=" << vs.value() << " VA=" << va.value() << std::endl;
        if (out_queue_.empty())
            std::clog << ext::header(this) << "outgoing queue empty." << std::endl;
    }
    if (retransmission_rq) {
        // Q.921 5.6.4: resend from V(A); the oldest unacknowledged frame goes
        // first, numbered anew.
        if (log >= 1 && !ack_queue_.empty())
            std::clog << ext::header(this) << "retransmission "
                      << " VS=" << vs.value() << " VA=" << va.value() << std::endl;
        vs = va;
        Packet frame;
        while (ack_queue_.get_last(&frame)) {
            out_queue_.append(frame);
            ++stats_.retrains;
        }
        retransmission_rq = false;
    }

    while (queued_up_rq) {
        queued_up_rq = false;
        if (state == 6) {
            if (peer_busy || vs == va + Seq(k)) {
                queued_up_rq = true;
                break;
            }
            Packet queued;
            if (!out_queue_.preview(&queued))
                break;
            Packet frame = queued;
            if (!tx_iframe(frame, false)) {
                // A frame the channel failed to write never goes (xmit has
                // counted it): held, it would stop every message behind it.
                // The next one takes its N(S).
                if (hdlc != nullptr && hdlc->transmit_failed()) {
                    out_queue_.get(nullptr);
                    queued_up_rq = !out_queue_.empty();
                    continue;
                }
                queued_up_rq = true;
                break;
            }
            out_queue_.get(nullptr);
            if (!ack_queue_.put(queued)) {
                std::clog << ext::header(this) << "ack queue overflow!" << std::endl;
                ++stats_.ack_overflows;
            }
            ++vs;
            ack_rq = false;
            if (!t200_running) {
                stop_timer(TimerId::t203);
                start_timer(TimerId::t200);
            }
            if (!out_queue_.empty())
                queued_up_rq = true;
        } else {
            // Kept for timer recovery and for a peer-initiated establishment;
            // dropped elsewhere (state 6 sets it again on entry).
            if (state == 7 || (state == 4 && !l3_initiated))
                queued_up_rq = true;
            break;
        }
    }

    if (ack_rq && (state == 6 || state == 7)) {
        if (tx_cmd_resp(rr, false, false))
            ack_rq = false;
    }

    if (out_queue_.count() < normal_below)
        change_flowstatus(FlowStatus::normal);
}

// ---------------------------------------------------------------- frames out

// Q.921 3.3.2: commands carry C/R 1 from the network and 0 from the user.
unsigned char LAPD::address1(bool command) const
{
    const bool cr = command == (side == Side::network);
    return static_cast<unsigned char>(((self_sapi & 0x3F) << 2) | (cr ? 2 : 0));
}

bool LAPD::tx_cmd_resp(unsigned char kind, bool pf, bool command)
{
    Packet frame;
    frame.reserve_head(kFrameHeadRoom);
    frame.put8(address1(command));
    frame.put8(static_cast<std::uint8_t>(((self_tei & 0x7F) << 1) | 1));
    if (kind <= rej) {
        frame.put8(static_cast<std::uint8_t>(0x01 | (kind << 2)));
        frame.put8(static_cast<std::uint8_t>((vr.value() << 1) | (pf ? 1 : 0)));
    } else {
        frame.put8(static_cast<std::uint8_t>(kind | (pf ? kPf : 0)));
    }
    return xmit(frame);
}

bool LAPD::tx_iframe(Packet& msg, bool p)
{
    msg.push8(static_cast<std::uint8_t>((vr.value() << 1) | (p ? 1 : 0)));
    msg.push8(static_cast<std::uint8_t>(vs.value() << 1));
    msg.push8(static_cast<std::uint8_t>(((self_tei & 0x7F) << 1) | 1));
    msg.push8(address1(true));
    return xmit(msg);
}

// Q.921 5.3.1: a management message is a UI frame on SAPI 63 to TEI 127.
bool LAPD::tx_identity(std::uint16_t ref, int ai, unsigned char type)
{
    if (!bri_)
        return false;
    Packet frame;
    frame.reserve_head(kFrameHeadRoom);
    frame.put8(side == Side::user ? 0xFC : 0xFE);
    frame.put8(0xFF);
    frame.put8(kUi);
    frame.put8(kTeiEntity);
    frame.put16(ref);
    frame.put8(type);
    frame.put8(static_cast<std::uint8_t>(((ai & 0x7F) << 1) | 1));
    return xmit(frame);
}

bool LAPD::xmit(Packet& frame)
{
    if (hdlc == nullptr) {
        if (log >= 4)
            std::clog << ext::header(this) << "no HDLC device attached!!!" << std::endl;
        return false;
    }
    if (!hdlc->hdlc_transmit(frame)) {
        if (hdlc->transmit_failed()) {
            // No readiness brings this one out: it is lost, not waiting.
            ++stats_.errors;
            std::clog << ext::header(this) << "tx failed, frame of " << frame.length() << " octets dropped"
                      << std::endl;
        } else {
            std::clog << ext::header(this) << "tx full" << std::endl;
        }
        return false;
    }
    if (log >= 3)
        trace("tx: ", frame.data(), frame.length(), side == Side::network ? 1 : 0);
    return true;
}

void LAPD::trace(char const* what, std::uint8_t const* frame, unsigned int length,
                 unsigned int direction) const
{
    dlogframe(const_cast<unsigned char*>(frame), length, direction, logbuf);
    std::clog << ext::header(this) << what << logbuf;
    const std::size_t n = std::strlen(logbuf);
    if (n == 0 || logbuf[n - 1] != '\n')
        std::clog << '\n';
    std::clog.flush();
}

// ---------------------------------------------------------------- frames in

void LAPD::receive(Packet& pkt)
{
    if (pkt.null() || pkt.length() <= 1)
        return;
    const unsigned int length = pkt.length();
    const std::uint8_t* f = pkt.data();
    if (log >= 3)
        trace("rx:", f, length, side == Side::user ? 1 : 0);
    // A frame needs its address and a control octet: a missing octet would
    // read as 0, a control octet of an I frame.
    if (length < 3)
        return;
    // Q.921 3.3.1: EA 0 ends octet 1 and EA 1 octet 2 of the address.
    if ((f[0] & 1) != 0 || (f[1] & 1) == 0)
        return;
    peer_sapi = f[0] >> 2;
    const bool cr = (f[0] & 2) != 0;
    const bool command = side == Side::user ? cr : !cr;
    peer_tei = f[1] >> 1;
    // Q.921 5.3.3: a terminal takes only its own TEI and the group TEI.
    if (bri_ && side == Side::user && peer_tei != kGroupTei && peer_tei != self_tei)
        return;

    const unsigned char c = f[2];
    if ((c & 1) == 0 || (c & 3) == 1) {
        // I and S frames carry N(R) in a second control octet; without it
        // the frame is dropped, not read as N(R) 0 (which, after the numbers
        // wrap, would acknowledge frames the peer never received).
        if (length < 4)
            return;
        const bool pf = (f[3] & 1) != 0;
        const Seq nr(static_cast<unsigned int>(f[3] >> 1));
        if ((c & 1) == 0) {
            const Seq ns(static_cast<unsigned int>(c >> 1));
            if (log >= 4)
                std::clog << ext::header(this) << "I-Command pf=" << pf << std::endl;
            pkt.drop(4);
            on_iframe(pkt, ns, nr, pf);
        } else {
            static char const* const kNames[3] = {"RR ", "RNR ", "REJ "};
            const unsigned int type = (c >> 2) & 3;
            if (type < 3 && log >= 4)
                std::clog << ext::header(this) << kNames[type] << (command ? "command" : "response")
                          << " pf=" << pf << std::endl;
            switch (type) {
            case rr:
                on_rr(command, pf, nr);
                break;
            case rnr:
                on_rnr(command, pf, nr);
                break;
            case rej:
                on_rej(command, pf, nr);
                break;
            default:
                break;
            }
        }
    } else {
        const bool pf = (c & kPf) != 0;
        const char* kind = command ? "command" : "response";
        pkt.drop(3);
        switch (c & ~kPf & 0xFF) {
        case kSabme:
            if (log >= 4)
                std::clog << ext::header(this) << "SABME " << kind << std::endl;
            on_sabme(pf);
            break;
        case kDisc:
            if (log >= 4)
                std::clog << ext::header(this) << "DISC " << kind << std::endl;
            on_disc(pf);
            break;
        case kUa:
            if (log >= 4)
                std::clog << ext::header(this) << "UA " << kind << std::endl;
            on_ua(pf);
            break;
        case kDm:
            if (log >= 4)
                std::clog << ext::header(this) << "DM " << kind << std::endl;
            on_dm(command, pf);
            break;
        case kFrmr:
            if (log >= 4)
                std::clog << ext::header(this) << "FRMR " << kind << " pf=" << pf << std::endl;
            on_frmr();
            break;
        case kUi:
            on_ui(pkt);
            break;
        case kXid:
            // Q.921 5.11: parameter negotiation is not used here.
            break;
        default:
            // Not a LAPD U frame (Q.921 5.8.5 lets it pass unreported).
            break;
        }
    }
    local_events();
}

void LAPD::on_sabme(bool p)
{
    // Q.921 5.5.1.2: a SABME resets the sequence numbers in every state.
    vs = va = vr = Seq(0);
    ack_queue_.clear();
    switch (state) {
    case 3:
        if (!establishable) {
            tx_cmd_resp(kDm, p, false);
            break;
        }
        tx_cmd_resp(kUa, p, false);
        clear_exceptions();
        start_timer(TimerId::t203);
        enter_established();
        on_activate();
        break;
    case 4:
        // Q.921 5.5.1.3: crossing SABMEs; ours still waits for its UA.
        tx_cmd_resp(kUa, p, false);
        break;
    case 5:
        tx_cmd_resp(kDm, p, false);
        break;
    case 6:
    case 7:
        tx_cmd_resp(kUa, p, false);
        clear_exceptions();
        on_error(kErrF);
        enter_established();
        on_activate();
        stop_timer(TimerId::t200);
        start_timer(TimerId::t203);
        break;
    default:
        break;
    }
}

void LAPD::on_disc(bool p)
{
    switch (state) {
    case 3:
    case 4:
        tx_cmd_resp(kDm, p, false);
        break;
    case 5:
        tx_cmd_resp(kUa, p, false);
        break;
    case 6:
        discard_queue();
        tx_cmd_resp(kUa, p, false);
        stop_timer(TimerId::t200);
        stop_timer(TimerId::t203);
        change_state(3);
        deactivated("remote error (DISC received)", false);
        break;
    case 7:
        discard_queue();
        tx_cmd_resp(kUa, p, false);
        stop_timer(TimerId::t200);
        change_state(3);
        deactivated("remote error (DISC received)", false);
        break;
    default:
        break;
    }
}

void LAPD::on_ua(bool f)
{
    // Q.921 5.8.7: an unsolicited UA in multiple-frame operation is only
    // reported; it must not reset the numbers nor drop unacknowledged frames
    // (a peer answering both a SABME and its repetition sends two).
    if (state == 6 || state == 7) {
        on_error(f ? kErrC : kErrD);
        return;
    }
    vs = va = vr = Seq(0);
    ack_queue_.clear();
    switch (state) {
    case 3:
        on_error(kErrUnknown);
        break;
    case 4:
        if (!f) {
            on_error(kErrD);
            break;
        }
        enter_established();
        stop_timer(TimerId::t200);
        start_timer(TimerId::t203);
        on_activate();
        break;
    case 5:
        if (!f) {
            on_error(kErrD);
            break;
        }
        stop_timer(TimerId::t200);
        change_state(3);
        deactivated("success (UA received)", true);
        break;
    default:
        break;
    }
}

void LAPD::on_dm(bool command, bool f)
{
    const bool final_response = !command && f;
    switch (state) {
    case 3:
        if (!command && !f && establishable) {
            establish();
            l3_initiated = true;
            change_state(4);
        }
        break;
    case 4:
        if (final_response) {
            discard_queue();
            stop_timer(TimerId::t200);
            change_state(3);
            deactivated("error (DM received)", false);
        }
        break;
    case 5:
        if (final_response) {
            stop_timer(TimerId::t200);
            change_state(3);
            deactivated("error (DM received)", false);
        }
        break;
    case 6:
        if (final_response) {
            on_error(kErrB);
            break;
        }
        on_error(kErrE);
        establish();
        l3_initiated = false;
        change_state(4);
        break;
    case 7:
        on_error(final_response ? kErrB : kErrE);
        establish();
        l3_initiated = false;
        change_state(4);
        break;
    default:
        break;
    }
}

void LAPD::on_frmr()
{
    if (state != 6 && state != 7)
        return;
    on_error(kErrK);
    establish();
    l3_initiated = false;
    change_state(4);
}

void LAPD::on_rr(bool command, bool pf, Seq nr)
{
    if (state == 6) {
        peer_busy = false;
        if (pf) {
            if (command)
                enquiry_response();
            else if (log >= 4)
                std::clog << ext::header(this) << "receive RR (solicited response) in MFE_EST" << std::endl;
        }
        if (!window_ok(nr)) {
            nr_error_recovery();
        } else if (nr == vs) {
            va = nr;
            stop_timer(TimerId::t200);
            start_timer(TimerId::t203);
        } else if (!(nr == va)) {
            va = nr;
            start_timer(TimerId::t200);
        }
    } else if (state == 7) {
        peer_busy = false;
        in_recovery(command, pf, nr, "receive RR with out of order N(R)");
    }
}

void LAPD::on_rej(bool command, bool pf, Seq nr)
{
    if (state == 6) {
        peer_busy = false;
        if (pf) {
            if (command)
                enquiry_response();
            else
                on_error(kErrA);
        }
        if (window_ok(nr)) {
            stop_timer(TimerId::t200);
            start_timer(TimerId::t203);
            retransmit_from(nr);
        } else {
            nr_error_recovery();
        }
    } else if (state == 7) {
        peer_busy = false;
        in_recovery(command, pf, nr, nullptr);
    }
}

void LAPD::on_rnr(bool command, bool pf, Seq nr)
{
    if (state == 6) {
        peer_busy = true;
        if (pf) {
            if (command)
                enquiry_response();
            else
                on_error(kErrA);
        }
        if (window_ok(nr)) {
            va = nr;
            stop_timer(TimerId::t203);
            start_timer(TimerId::t200);
        } else {
            nr_error_recovery();
        }
    } else if (state == 7) {
        peer_busy = true;
        in_recovery(command, pf, nr, nullptr);
    }
}

// Q.921 5.6.7: an RR, REJ or RNR in timer recovery. Only a response with
// F = 1 answers our enquiry and ends the recovery; anything else just moves
// V(A). A busy peer (RNR) keeps T200 polling it instead of T203.
void LAPD::in_recovery(bool command, bool pf, Seq nr, char const* out_of_order)
{
    if (command || !pf) {
        if (command && pf)
            enquiry_response();
        if (window_ok(nr)) {
            va = nr;
        } else {
            if (out_of_order != nullptr && log >= 4)
                std::clog << ext::header(this) << out_of_order << std::endl;
            nr_error_recovery();
        }
    } else if (window_ok(nr)) {
        if (peer_busy) {
            start_timer(TimerId::t200);
        } else {
            stop_timer(TimerId::t200);
            start_timer(TimerId::t203);
        }
        retransmit_from(nr);
        change_state(6);
    } else {
        nr_error_recovery();
    }
}

// Q.921 5.6.2 and 5.8.1. The information field goes up last, once the
// link's numbers are settled, so that whatever layer 3 does in answer sees
// the acknowledgement this frame carried.
void LAPD::on_iframe(Packet& info, Seq ns, Seq nr, bool p)
{
    if (state != 6 && state != 7)
        return;
    bool deliver = false;
    if (own_busy) {
        if (p) {
            tx_cmd_resp(rnr, true, false);
            ack_rq = false;
        }
    } else if (!(ns == vr)) {
        ++stats_.rejected;
        if (!reject_exception) {
            reject_exception = true;
            tx_cmd_resp(rej, p, false);
            ack_rq = false;
        } else if (p) {
            tx_cmd_resp(rr, true, false);
            ack_rq = false;
        }
    } else {
        ++vr;
        reject_exception = false;
        ++stats_.rx_iframes;
        if (p) {
            ack_rq = false;
            tx_cmd_resp(rr, true, false);
        } else {
            ack_rq = true;
        }
        deliver = true;
    }

    if (!window_ok(nr)) {
        nr_error_recovery();
    } else {
        if (state == 6 && !peer_busy) {
            if (nr == vs) {
                stop_timer(TimerId::t200);
                start_timer(TimerId::t203);
            } else if (!(nr == va)) {
                start_timer(TimerId::t200);
            }
        }
        va = nr;
    }
    if (deliver)
        on_message(info);
}

void LAPD::on_ui(Packet& info)
{
    if (!bri_)
        return;
    const unsigned int length = info.length();
    if (length == 0)
        return;
    if (log >= 4)
        std::clog << ext::header(this) << "on_UI()" << std::endl;
    const std::uint8_t* d = info.data();
    if (d[0] != kTeiEntity) {
        // Unit data: a broadcast (a SETUP offered to every terminal) makes a
        // terminal bring its link up.
        if (side == Side::user) {
            if (state == 4)
                change_state(3);
            if (state == 3)
                local_activate();
        }
        on_message(info);
        return;
    }
    if (length <= 4)
        return;
    const std::uint16_t ref = static_cast<std::uint16_t>(d[1] | (d[2] << 8));
    const unsigned int type = d[3];
    const int ai = d[4] >> 1;
    if (log >= 4)
        std::clog << ext::header(this) << "on_UI() type=" << type << " Ai=" << ai << std::endl;
    switch (type) {
    case kIdentityAssigned:
        if ((state == 1 || state == 2) && ref == ri_) {
            mdl_assign(static_cast<unsigned char>(ai));
            stop_timer(TimerId::t202);
            start_timer(TimerId::t200);
        }
        break;
    case kIdentityDenied:
        if ((state == 1 || state == 2) && ref == ri_) {
            if (ai != kGroupTei)
                std::clog << ext::header(this) << "ASP returned: TEI " << ai << " denied" << std::endl;
            else
                std::clog << ext::header(this) << "ASP returned: All TEI's used" << std::endl;
            on_error(kErrTeiDenied);
        }
        break;
    case kIdentityCheckRequest:
        if (state >= 3 && (ai == kGroupTei || ai == self_tei))
            tx_identity(ri_, self_tei, kIdentityCheckResponse);
        break;
    case kIdentityRemove:
        // Q.921 5.3.4.2: only a TEI held is removed. The network sends each
        // remove twice; the second finds the TEI given up already and must
        // not start another assignment.
        if (state >= 3 && (ai == kGroupTei || ai == self_tei)) {
            mdl_remove();
            begin_tei_assignment(false);
        }
        break;
    default:
        break;
    }
}

} // namespace ISDN
