#include "signalling/lapd_nt.hpp"

#include "core/ext.hpp"

#include <iostream>

namespace ISDN {

namespace {

constexpr unsigned char kUi = 0x03;
constexpr unsigned char kTeiEntity = 0x0F; // Q.921 5.3.1: management entity identifier
constexpr unsigned char kGroupTei = 127;
constexpr unsigned char kTeiSapi = 63;

// Q.921 Table 8: TEI-management message types.
constexpr unsigned char kIdentityRequest = 1;
constexpr unsigned char kIdentityAssigned = 2;
constexpr unsigned char kIdentityDenied = 3;
constexpr unsigned char kIdentityCheckRequest = 4;
constexpr unsigned char kIdentityCheckResponse = 5;
constexpr unsigned char kIdentityRemove = 6;
constexpr unsigned char kIdentityVerify = 7;

// Q.921 Table 5: control-field codes (P/F bit clear).
constexpr unsigned char kRR = 0x01;
constexpr unsigned char kRNR = 0x05;
constexpr unsigned char kREJ = 0x09;
constexpr unsigned char kSABME = 0x6F;
constexpr unsigned char kDM = 0x0F;
constexpr unsigned char kDISC = 0x43;
constexpr unsigned char kUA = 0x63;
constexpr unsigned char kFRMR = 0x87;
constexpr unsigned char kXID = 0xAF;

// Q.931 Table 4-2.
constexpr unsigned char kSetup = 0x05;
constexpr unsigned char kReleaseComplete = 0x5A;

constexpr unsigned char kHeadRoom = 4;

unsigned char mod128(unsigned int v)
{
    return static_cast<unsigned char>(v & 127u);
}

// Q.931 4.3: the low four bits of octet 2 give the length of the call
// reference value that follows; the message type comes after it.
struct CallReference {
    unsigned int length = 0; // 0: the dummy call reference
    unsigned char value = 0; // without the flag
    unsigned char flag = 0;  // 0x80 from the side that did not originate the call
    unsigned char type = 0;  // the message type
};

bool read_call_reference(Packet const& msg, CallReference& cr)
{
    if (msg.length() < 2)
        return false;
    cr.length = msg[1] & 0x0Fu;
    if (msg.length() < 3 + cr.length)
        return false;
    cr.value = cr.length == 1 ? static_cast<unsigned char>(msg[2] & 0x7F) : 0;
    cr.flag = cr.length == 1 ? static_cast<unsigned char>(msg[2] & 0x80) : 0;
    cr.type = msg[2 + cr.length];
    return true;
}

} // namespace

// ------------------------------------------------------------------ user

void LAPD_NT_user::PutHeader(std::ostream& os) const
{
    os << "LAPD_user(NT BRI)[";
    if (link_state_ == unassigned) {
        os << "unassigned]:";
        return;
    }
    os << "Tei=" << static_cast<unsigned int>(tei_)
       << (link_state_ == assigned   ? ",assigned"
           : link_state_ == released ? ",released"
                                     : ",wait_answer");
    if (checking_)
        os << ",check";
    if (busy_)
        os << ",busy";
    os << "]:";
}

void LAPD_NT_user::reset_link()
{
    vr_ = va_ = vs_ = 0;
    out_queue_.clear();
    ack_queue_.clear();
}

void LAPD_NT_user::assign()
{
    if (checking_ && link_state_ != unassigned) {
        if (log >= 2)
            std::clog << ext::header(this) << "checked" << std::endl;
        checking_ = false;
        check_timer_.reset();
        return;
    }
    if (log >= 2)
        std::clog << ext::header(this) << "assigned" << std::endl;
    reset_link();
    // A new holder of this user has no call yet: the last one's call
    // reference must not route the host's messages to it.
    call_bound_ = false;
    link_state_ = assigned;
    tx_U(kSABME, true, true);
    busy_ = false;
    checking_ = false;
    check_timer_.reset();
    rc_ = 0;
    link_timer_.set(T203, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::unassign(bool withdraw)
{
    if (log >= 2)
        std::clog << ext::header(this) << "unassigned" << std::endl;
    bool const was_assigned = link_state_ != unassigned;
    link_state_ = unassigned;
    checking_ = false;
    link_timer_.reset();
    check_timer_.reset();
    // Nothing of the lost link may reach a later holder of the TEI.
    out_queue_.clear();
    ack_queue_.clear();
    call_bound_ = false;
    // Q.921 5.3.4.1: identity remove, so that the terminal stops using a TEI
    // that may be handed to another one.
    if (withdraw && was_assigned && lapd != nullptr)
        lapd->remove_tei(tei_);
}

void LAPD_NT_user::checking()
{
    // A check still pending keeps its timer and its one repeat: restarting
    // it on every new check would let a terminal that keeps sending identity
    // verify hold a silent terminal's TEI for ever.
    if (link_state_ == unassigned || checking_)
        return;
    if (log >= 2)
        std::clog << ext::header(this) << "checking started" << std::endl;
    checking_ = true;
    check_repeated_ = false;
    check_timer_.set(check_ms, &LAPD_NT_user::on_check_timeout, this);
}

// Q.921 5.3.5.2: a check request may be lost; it is repeated once before
// the TEI is taken as free.
void LAPD_NT_user::on_check_timeout()
{
    if (check_repeated_) {
        unassign(true);
        return;
    }
    if (log >= 2)
        std::clog << ext::header(this) << "checking repeated" << std::endl;
    check_repeated_ = true;
    check_timer_.set(check_ms, &LAPD_NT_user::on_check_timeout, this);
    lapd->tx_identity(0, tei_, kIdentityCheckRequest);
}

void LAPD_NT_user::release_link()
{
    if (log >= 2)
        std::clog << ext::header(this) << "link released" << std::endl;
    link_state_ = released;
    busy_ = false;
    link_timer_.reset();
    out_queue_.clear();
    ack_queue_.clear();
}

void LAPD_NT_user::receive(Packet& pkt, bool cr)
{
    unsigned int const len = pkt.length();
    if (len < 3)
        return;
    unsigned char const control = pkt[2];
    // Without its link the terminal may only bring it up again (SABME) or
    // repeat a DISC whose UA it missed.
    if (link_state_ == released && (cr || ((control & 0xEF) != kSABME && (control & 0xEF) != kDISC)))
        return;
    if ((control & 0x01) == 0) {
        if (cr) // I frames are commands only (Q.921 3.6.2)
            return;
        // An I frame without its N(R) octet is not read as N(R) 0, which
        // would acknowledge frames the terminal never received.
        if (len < 4)
            return;
        unsigned char const ns = control >> 1;
        unsigned char const nr = pkt[3] >> 1;
        bool const p = (pkt[3] & 0x01) != 0;
        on_I(pkt, ns, nr, p);
        return;
    }
    if ((control & 0x03) == 0x01) {
        if (len < 4)
            return;
        unsigned char const nr = pkt[3] >> 1;
        bool const pf = (pkt[3] & 0x01) != 0;
        switch (control) {
        case kRR:
            on_RR(nr, pf, cr);
            break;
        case kRNR:
            on_RNR(nr, pf, cr);
            break;
        case kREJ:
            on_REJ(nr, pf, cr);
            break;
        default:
            break;
        }
        return;
    }
    bool const pf = (control & 0x10) != 0;
    switch (control & 0xEF) {
    case kSABME:
        if (!cr)
            on_SABME(pf);
        break;
    case kDM:
        if (cr)
            on_DM(pf);
        break;
    case kDISC:
        if (!cr)
            on_DISC(pf);
        break;
    case kFRMR:
        if (cr)
            on_FRMR(pf);
        break;
    case kXID:
        on_XID(pkt, pf, cr);
        break;
    default:
        break;
    }
}

void LAPD_NT_user::on_I(Packet& pkt, unsigned char ns, unsigned char nr, bool p)
{
    if (log >= 2)
        std::clog << ext::header(this) << "received I frame" << std::endl;
    if (ns == vr_) {
        vr_ = mod128(vr_ + 1u);
        if (p)
            tx_S(kRR, true, false);
        Packet info = pkt.sub(4, pkt.length() - 4);
        // A field of 3 octets or fewer carries no Q.931 message type.
        if (info.length() <= 3)
            return;
        // Only a call's own reference binds the terminal: never the dummy
        // (length 0) nor the global one (value 0). A RELEASE COMPLETE
        // releases the reference it names (Q.931 5.3); one for a call the
        // terminal does not hold, such as its refusal of a broadcast SETUP
        // (Q.931 5.2.5.1), leaves the call it holds bound.
        CallReference ref;
        if (read_call_reference(info, ref) && ref.length == 1 && ref.value != 0) {
            if (ref.type != kReleaseComplete) {
                call_reference_ = ref.value;
                call_flag_ = ref.flag;
                call_bound_ = true;
            } else if (holds(ref.value, ref.flag)) {
                call_bound_ = false;
            }
        }
        lapd->send_to_layer3(info);
    } else {
        tx_S(kREJ, p, false);
    }
    if (ack_queue(nr))
        acknowledged();
    else
        unassign(true);
}

bool LAPD_NT_user::on_supervisory(char const* text, unsigned char nr, bool pf, bool cr)
{
    if (log >= 2)
        std::clog << ext::header(this) << text << std::endl;
    // Q.921 5.6.5: a poll from the terminal is answered at once.
    if (!cr && pf)
        tx_S(kRR, true, false);
    if (!ack_queue(nr)) {
        unassign(true);
        return false;
    }
    rc_ = 0;
    return true;
}

void LAPD_NT_user::on_RR(unsigned char nr, bool pf, bool cr)
{
    if (!on_supervisory("received RR frame", nr, pf, cr))
        return;
    if (busy_)
        set_unbusy();
    else
        acknowledged();
}

void LAPD_NT_user::on_RNR(unsigned char nr, bool pf, bool cr)
{
    set_busy();
    if (on_supervisory("received RNR frame", nr, pf, cr))
        acknowledged();
}

void LAPD_NT_user::on_REJ(unsigned char nr, bool pf, bool cr)
{
    // Q.921 5.6.4: N(R) acknowledges the frames before it; retransmission
    // starts at N(R), which is the oldest frame left in the queue.
    if (!on_supervisory("received REJ frame", nr, pf, cr))
        return;
    busy_ = false;
    retransmit();
    send_waiting();
    link_state_ = wait_answer;
    link_timer_.set(T200, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::on_SABME(bool p)
{
    if (log >= 2)
        std::clog << ext::header(this) << "received SABME frame" << std::endl;
    vr_ = va_ = vs_ = 0;
    tx_U(kUA, p, false);
    ack_queue_.clear();
    set_unbusy();
}

void LAPD_NT_user::on_DM(bool)
{
    if (log >= 2)
        std::clog << ext::header(this) << "received DM frame" << std::endl;
    unassign(true);
}

void LAPD_NT_user::on_DISC(bool p)
{
    if (log >= 2)
        std::clog << ext::header(this) << "received DISC frame" << std::endl;
    tx_U(kUA, p, false);
    // The terminal released its link, not its TEI: the TEI stays booked to
    // it, so no other terminal is given it.
    release_link();
}

void LAPD_NT_user::on_FRMR(bool)
{
    if (log >= 2)
        std::clog << ext::header(this) << "received FRMR frame" << std::endl;
    unassign(true);
}

void LAPD_NT_user::on_XID(Packet&, bool, bool)
{
    if (log >= 2)
        std::clog << ext::header(this) << "received XID frame" << std::endl;
}

void LAPD_NT_user::tx_U(unsigned char code, bool pf, bool command)
{
    if (log >= 2)
        std::clog << ext::header(this) << "transmit U frame" << std::endl;
    Packet frame;
    frame.reserve_head(kHeadRoom);
    frame.put8(command ? 0x02 : 0x00);
    frame.put8(static_cast<std::uint8_t>((tei_ << 1) | 1));
    frame.put8(static_cast<std::uint8_t>(code | (pf ? 0x10 : 0x00)));
    lapd->send_to_layer1(frame);
}

void LAPD_NT_user::tx_S(unsigned char code, bool pf, bool command)
{
    if (log >= 2)
        std::clog << ext::header(this) << "transmit S frame" << std::endl;
    Packet frame;
    frame.reserve_head(kHeadRoom);
    frame.put8(command ? 0x02 : 0x00);
    frame.put8(static_cast<std::uint8_t>((tei_ << 1) | 1));
    frame.put8(code);
    frame.put8(static_cast<std::uint8_t>((vr_ << 1) | (pf ? 1 : 0)));
    lapd->send_to_layer1(frame);
}

void LAPD_NT_user::tx_I(Packet& pkt, unsigned char nr, unsigned char ns)
{
    if (log >= 2)
        std::clog << ext::header(this) << "transmit I frame" << std::endl;
    Packet frame;
    frame.reserve_head(kHeadRoom);
    frame.put8(0x02);
    frame.put8(static_cast<std::uint8_t>((tei_ << 1) | 1));
    frame.put8(static_cast<std::uint8_t>(ns << 1));
    frame.put8(static_cast<std::uint8_t>((nr << 1) | 1)); // P = 1 on every I frame
    frame.put(pkt);
    pkt = frame;
    Packet out = frame;
    lapd->send_to_layer1(out);
}

void LAPD_NT_user::send_new(Packet& pkt)
{
    tx_I(pkt, vr_, vs_);
    ack_queue_.put(pkt);
    vs_ = mod128(vs_ + 1u);
}

bool LAPD_NT_user::send_waiting()
{
    // Q.921 5.6.1: at most k frames unacknowledged.
    bool sent = false;
    while (!busy_ && ack_queue_.count() < k && !out_queue_.empty()) {
        Packet msg;
        out_queue_.get(msg);
        send_new(msg);
        sent = true;
    }
    return sent;
}

void LAPD_NT_user::acknowledged()
{
    rc_ = 0;
    send_waiting();
    if (!ack_queue_.empty()) {
        // Frames are still out: T200 runs for them (Q.921 5.6.3.2).
        link_state_ = wait_answer;
        link_timer_.set(T200, &LAPD_NT_user::on_timer, this);
    } else {
        link_state_ = assigned;
        link_timer_.set(T203, &LAPD_NT_user::on_timer, this);
    }
}

bool LAPD_NT_user::holds(unsigned char value, unsigned char flag) const
{
    return call_bound_ && value == call_reference_ && flag == call_flag_;
}

bool LAPD_NT_user::message(Packet& pkt)
{
    // The dummy (length 0) and the global (value 0) call reference name no
    // call of this terminal, so they never match one. The network sends the
    // flag the other way round from the terminal (Q.931 4.3): its messages
    // for the terminal's own call carry it set, those for a call it offered
    // carry it clear.
    CallReference ref;
    if (link_state_ == unassigned || !read_call_reference(pkt, ref) || ref.length != 1 ||
        !holds(ref.value, static_cast<unsigned char>(ref.flag ^ 0x80u)))
        return false;
    // Q.931 5.3: the call reference is released with the RELEASE COMPLETE
    // sent for it, even to a terminal whose link is down and never gets it.
    if (ref.type == kReleaseComplete)
        call_bound_ = false;
    if (link_state_ == released)
        return false;
    if (busy_ || ack_queue_.count() >= k || !out_queue_.empty()) {
        if (out_queue_.count() >= out_limit) {
            out_queue_.get(nullptr);
            if (lapd->log_level() >= 2)
                std::clog << ext::header(this) << "outgoing queue full, oldest message dropped" << std::endl;
        }
        out_queue_.put(pkt);
        send_waiting();
        return true;
    }
    send_new(pkt);
    if (link_state_ != wait_answer)
        rc_ = 0;
    link_state_ = wait_answer;
    link_timer_.set(T200, &LAPD_NT_user::on_timer, this);
    return true;
}

void LAPD_NT_user::retransmit()
{
    if (log >= 2)
        std::clog << ext::header(this) << "retransmit queue" << std::endl;
    // Each frame goes again with the N(R) of now: a stale one would look
    // like an N(R) error to the terminal (Q.921 5.8.5).
    unsigned int const n = ack_queue_.count();
    for (unsigned int i = 0; i < n; ++i) {
        Packet old;
        ack_queue_.get(old);
        Packet frame;
        frame.reserve_head(kHeadRoom);
        frame.put8(old[0]);
        frame.put8(old[1]);
        frame.put8(old[2]);
        frame.put8(static_cast<std::uint8_t>((vr_ << 1) | 1));
        if (old.length() > 4)
            frame.put(old.data() + 4, old.length() - 4);
        ack_queue_.put(frame);
        Packet out = frame;
        lapd->send_to_layer1(out);
    }
}

bool LAPD_NT_user::ack_queue(unsigned char nr)
{
    if (log >= 2)
        std::clog << ext::header(this) << "ack queue" << std::endl;
    // Q.921 5.8.3: V(A) <= N(R) <= V(S), modulo 128.
    unsigned int const outstanding = mod128(vs_ - va_);
    unsigned int const acked = mod128(nr - va_);
    if (acked > outstanding)
        return false;
    for (unsigned int i = 0; i < acked; ++i)
        ack_queue_.get(nullptr);
    va_ = nr;
    return true;
}

void LAPD_NT_user::set_busy()
{
    if (!busy_ && log >= 2)
        std::clog << ext::header(this) << "set busy" << std::endl;
    busy_ = true;
}

void LAPD_NT_user::set_unbusy()
{
    if (busy_ && log >= 2)
        std::clog << ext::header(this) << "set unbusy" << std::endl;
    busy_ = false;
    if (send_waiting() || !ack_queue_.empty()) {
        rc_ = 0;
        link_state_ = wait_answer;
        link_timer_.set(T200, &LAPD_NT_user::on_timer, this);
    } else {
        link_state_ = assigned;
        link_timer_.set(T203, &LAPD_NT_user::on_timer, this);
    }
}

void LAPD_NT_user::on_timer()
{
    if (link_state_ == assigned) {
        // Q.921 5.6.6: T203 expired, poll the idle terminal.
        link_state_ = wait_answer;
        tx_S(kRR, true, true);
        rc_ = 0;
        link_timer_.set(T200, &LAPD_NT_user::on_timer, this);
    } else if (link_state_ == wait_answer) {
        if (rc_ >= N200) {
            if (log >= 2)
                std::clog << ext::header(this) << "T200 expiried N200 times" << std::endl;
            unassign(true);
            return;
        }
        ++rc_;
        // Q.921 5.6.7: with nothing unacknowledged, poll; otherwise send the
        // unacknowledged frames again.
        if (ack_queue_.empty())
            tx_S(kRR, true, true);
        else
            retransmit();
        link_timer_.set(T200, &LAPD_NT_user::on_timer, this);
    }
}

// ----------------------------------------------------------------- layer

LAPD_NT::LAPD_NT()
{
    for (auto& u : users_)
        u.set_lapd(this);
}

LAPD_NT::~LAPD_NT() = default;

void LAPD_NT::PutHeader(std::ostream& os) const
{
    os << "LAPD(NT BRI):";
}

void LAPD_NT::set_log(unsigned int level)
{
    log = level;
    for (auto& u : users_)
        u.set_log(level);
}

void LAPD_NT::local_prepare_head(Packet& pkt)
{
    pkt.reserve_head(kHeadRoom);
}

void LAPD_NT::local_prepare_tail(Packet& pkt)
{
    pkt.reserve_tail(0);
}

void LAPD_NT::local_activate()
{
    if (log != 0)
        std::clog << ext::header(this) << "activate" << std::endl;
    check_all_Tei();
    on_activate();
}

void LAPD_NT::local_deactivate()
{
    if (log != 0)
        std::clog << ext::header(this) << "deactivate" << std::endl;
    check_timer_.reset();
    for (auto& u : users_)
        u.unassign(false);
}

void LAPD_NT::check_all_Tei()
{
    if (log != 0)
        std::clog << ext::header(this) << "Checking Tei values...." << std::endl;
    check_timer_.reset();
    for (auto& u : users_)
        u.checking();
    tx_identity(0, kGroupTei, kIdentityCheckRequest);
    check_timer_.set(check_period, &LAPD_NT::check_all_Tei, this);
}

void LAPD_NT::tx_identity(unsigned short ri, int ai, unsigned char type)
{
    Packet frame;
    frame.reserve_head(kHeadRoom);
    frame.put8(0xFE); // SAPI 63, C/R 1
    frame.put8(0xFF); // TEI 127
    frame.put8(kUi);
    frame.put8(kTeiEntity);
    frame.put16(ri);
    frame.put8(type);
    frame.put8(static_cast<std::uint8_t>(((ai & 0x7F) << 1) | 1));
    send_to_layer1(frame);
}

void LAPD_NT::remove_tei(int ai)
{
    tx_identity(0, ai, kIdentityRemove);
    tx_identity(0, ai, kIdentityRemove);
}

LAPD_NT_user* LAPD_NT::find_Tei(unsigned char tei)
{
    for (auto& u : users_)
        if (u.link_state_ != LAPD_NT_user::unassigned && u.tei_ == tei)
            return &u;
    return nullptr;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(unsigned char ai)
{
    LAPD_NT_user* free_user = nullptr;
    for (auto& u : users_) {
        if (u.link_state_ == LAPD_NT_user::unassigned) {
            free_user = &u;
            break;
        }
    }
    if (free_user == nullptr)
        return nullptr;
    if (ai != kGroupTei) {
        free_user->tei_ = ai;
        return free_user;
    }
    // Q.921 5.3.2: automatic TEI values 64 to 126.
    for (unsigned int tei = 64; tei <= 126; ++tei) {
        if (find_Tei(static_cast<unsigned char>(tei)) == nullptr) {
            free_user->tei_ = static_cast<unsigned char>(tei);
            return free_user;
        }
    }
    return nullptr;
}

void LAPD_NT::receive(Packet& pkt)
{
    if (pkt.length() <= 2)
        return;
    unsigned char const a1 = pkt[0];
    unsigned char const a2 = pkt[1];
    // Q.921 3.3.1: EA 0 in the first address octet, 1 in the second.
    if ((a1 & 0x01) != 0 || (a2 & 0x01) == 0)
        return;
    bool const cr = (a1 & 0x02) != 0;
    unsigned char const sapi = a1 >> 2;
    unsigned char const tei = a2 >> 1;
    if (tei == kGroupTei) {
        if (pkt[2] != kUi)
            return;
        Packet info = pkt.sub(3, pkt.length() - 3);
        if (sapi < kTeiSapi)
            send_to_layer3(info);
        else
            on_tei_procedure(info);
        return;
    }
    LAPD_NT_user* u = find_Tei(tei);
    if (u == nullptr) {
        u = find_free_Tei(tei);
        if (u == nullptr) {
            if (log != 0)
                std::clog << ext::header(this)
                          << "recieved packet with unassigned TEI=" << static_cast<unsigned int>(tei)
                          << ",removed" << std::endl;
            remove_tei(tei);
            return;
        }
        if (log != 0)
            std::clog << ext::header(this)
                      << "Warning:recieved packet with unassigned TEI=" << static_cast<unsigned int>(tei)
                      << std::endl;
        u->assign();
    }
    u->receive(pkt, cr);
}

void LAPD_NT::on_tei_procedure(Packet& pkt)
{
    if (pkt.length() <= 4 || pkt[0] != kTeiEntity)
        return;
    unsigned short const ri = static_cast<unsigned short>(pkt[1] | (pkt[2] << 8));
    unsigned char const type = pkt[3];
    unsigned char const ai = pkt[4] >> 1;
    switch (type) {
    case kIdentityRequest:
        if (ai < 64) {
            if (log != 0)
                std::clog << ext::header(this)
                          << "recieved identity request with wrong Ai=" << static_cast<unsigned int>(ai)
                          << ",ignored" << std::endl;
        } else if (ai == kGroupTei) {
            LAPD_NT_user* u = find_free_Tei(kGroupTei);
            if (u != nullptr) {
                if (log != 0)
                    std::clog << ext::header(this) << "recieved identity request,TEI assigned:"
                              << static_cast<unsigned int>(u->tei_) << std::endl;
                tx_identity(ri, u->tei_, kIdentityAssigned);
                u->assign();
            } else {
                if (log != 0)
                    std::clog << ext::header(this)
                              << "recieved identity request, but all TEI values is ussigned" << std::endl;
                tx_identity(ri, kGroupTei, kIdentityDenied);
            }
        } else {
            if (log != 0)
                std::clog << ext::header(this)
                          << "recieved identity request with wrong Ai=" << static_cast<unsigned int>(ai)
                          << ",denied" << std::endl;
            tx_identity(ri, ai, kIdentityDenied);
        }
        break;
    case kIdentityCheckResponse: {
        if (ai == kGroupTei) {
            // No terminal answers for the group TEI: removing 127 would
            // take every terminal's TEI away on one bad frame.
            if (log != 0)
                std::clog << ext::header(this) << "recieved check response with wrong Ai=127,ignored"
                          << std::endl;
            break;
        }
        LAPD_NT_user* u = find_Tei(ai);
        if (u != nullptr) {
            if (u->checking_) {
                if (log != 0)
                    std::clog << ext::header(this) << "TEI " << static_cast<unsigned int>(ai) << " checked"
                              << std::endl;
                u->assign();
                u->check_ri_ = ri;
            } else if (ri != u->check_ri_) {
                if (log != 0)
                    std::clog << ext::header(this) << "recieved check response with dublicated Ai="
                              << static_cast<unsigned int>(ai) << ",removed" << std::endl;
                u->unassign(true);
            }
            break;
        }
        u = find_free_Tei(ai);
        if (u != nullptr) {
            if (log != 0)
                std::clog << ext::header(this) << "TEI " << static_cast<unsigned int>(ai) << " checked"
                          << std::endl;
            u->assign();
            u->check_ri_ = ri;
        } else {
            if (log != 0)
                std::clog << ext::header(this)
                          << "recieved check response with wrong Ai=" << static_cast<unsigned int>(ai)
                          << ",removed" << std::endl;
            remove_tei(ai);
        }
        break;
    }
    case kIdentityVerify:
        if (log != 0)
            std::clog << ext::header(this) << "recieved verify request" << std::endl;
        check_all_Tei();
        break;
    default:
        break;
    }
}

void LAPD_NT::message(Packet& pkt)
{
    if (pkt.length() <= 3) {
        if (log >= 2)
            std::clog << ext::header(this) << "message too short, dropped" << std::endl;
        return;
    }
    CallReference ref;
    if (!read_call_reference(pkt, ref) || ref.length > 1) {
        if (log >= 2)
            std::clog << ext::header(this) << "call reference not of a basic-rate line, message dropped"
                      << std::endl;
        return;
    }
    if (ref.type == kSetup) {
        Packet frame;
        frame.reserve_head(kHeadRoom);
        frame.put8(0x02);
        frame.put8(0xFF);
        frame.put8(kUi);
        frame.put(pkt);
        send_to_layer1(frame);
        return;
    }
    for (auto& u : users_)
        if (u.message(pkt))
            return;
    if (log >= 2)
        std::clog << ext::header(this)
                  << "no terminal for call reference=" << static_cast<unsigned int>(ref.value)
                  << ", message dropped" << std::endl;
}

} // namespace ISDN
