#include "signalling/ss7_slc.hpp"

#include "core/ext.hpp"

#include <iostream>
#include <ostream>

namespace SS7 {

namespace {

// " 0x3", " 0xFF": each octet of a log line's dump.
struct Octets {
    const Packet& pkt;
};

std::ostream& operator<<(std::ostream& os, const Octets& o)
{
    const std::ios_base::fmtflags flags = os.flags();
    os << std::hex << std::uppercase;
    for (unsigned int i = 0; i < o.pkt.length(); ++i)
        os << " 0x" << static_cast<unsigned int>(o.pkt[i]);
    os.flags(flags);
    return os;
}

// Octet 2 of a signal unit: LI in bits 5..0, bits 7..6 spare (Q.703 2.3.3).
constexpr unsigned int li_mask = 0x3F;
// An LI of 63 stands for 63 octets or more (Q.703 2.3.3).
constexpr unsigned int li_max = 63;
constexpr unsigned int header_octets = 3;

} // namespace

const TimerSpec<SLC>::Spec SLC::T1spec{&SLC::timer_, &SLC::OnT1, SLC::T1};
const TimerSpec<SLC>::Spec SLC::T2spec{&SLC::timer_, &SLC::OnT2, SLC::T2};
const TimerSpec<SLC>::Spec SLC::T3spec{&SLC::timer_, &SLC::OnT3, SLC::T3};
const TimerSpec<SLC>::Spec SLC::T4nspec{&SLC::timer_, &SLC::OnT4, SLC::T4n};
const TimerSpec<SLC>::Spec SLC::T4espec{&SLC::timer_, &SLC::OnT4, SLC::T4e};
const TimerSpec<SLC>::Spec SLC::T7spec{&SLC::timer_, &SLC::OnT7, SLC::T7};

SLC::SLC()
    : idle_(std::make_unique<TState<State::idle>>()),
      not_aligned_(std::make_unique<TState<State::not_aligned>>()),
      aligned_(std::make_unique<TState<State::aligned>>()),
      proving_(std::make_unique<TState<State::proving>>()),
      aligned_ready_(std::make_unique<TState<State::aligned_ready, TState<State::proving>>>()),
      worked_(std::make_unique<TState<State::worked>>())
{
    state_ = idle_.get();
}

SLC::~SLC()
{
    timer_.reset();
}

const char* SLC::name(State::type t)
{
    switch (t) {
    case State::idle:
        return "idle";
    case State::not_aligned:
        return "not aligned";
    case State::aligned:
        return "aligned";
    case State::proving:
        return "proving";
    case State::aligned_ready:
        return "aligned ready";
    case State::worked:
        return "worked";
    }
    return "unknown";
}

void SLC::PutIndication(std::ostream& os, unsigned int indication)
{
    switch (indication) {
    case SIO:
        os << "out of alignment";
        return;
    case SIN:
        os << "normal alignment";
        return;
    case SIE:
        os << "emergency alignment";
        return;
    case SIOS:
        os << "out of service";
        return;
    default: {
        const std::ios_base::fmtflags flags = os.flags();
        os << "unknown:" << std::hex << indication;
        os.flags(flags);
    }
    }
}

void SLC::PutHeader(std::ostream& os) const
{
    os << "SS7/L2 [dpc=" << dpc << ", slc=" << slc << ", trunk=" << trunk << "] (" << name(state()) << "): ";
}

void SLC::PutShortInfo(std::ostream& os) const
{
    os << "SS7/L2 [dpc=" << dpc << ", slc=" << slc << ", trunk=" << trunk << "]";
}

void SLC::DumpPtr(std::ostream& os) const
{
    os << " BSN=" << bsnr_.value() << " BIB=" << bibr_ << " FSN=" << fsnr_.value() << " FIB=" << fibr_;
}

void SLC::protocol_info(std::ostream& os) const
{
    os << "MTP/L2";
}

void SLC::local_prepare_head(Packet& pkt)
{
    pkt.reserve_head(header_octets);
}

void SLC::local_prepare_tail(Packet& pkt)
{
    pkt.reserve_tail(0);
}

SLC::Statistics SLC::statistics() const
{
    Statistics s = stats_;
    s.rtbSize = rtb_count_;
    return s;
}

// ---------------------------------------------------------------------------
// Interfaces

void SLC::local_activate()
{
    if (state() == State::idle) {
        if (log.mtp_activate)
            std::clog << ext::header(this) << "local_activate: executing..." << '\n';
        next_state(*not_aligned_);
        return;
    }
    if (log.mtp_activate)
        std::clog << ext::header(this) << "local_activate: ignored." << '\n';
    if (state() == State::worked)
        on_activate();
}

void SLC::local_deactivate()
{
    if (log.mtp_activate)
        std::clog << ext::header(this) << "local_deactivate()" << '\n';
    next_state(*idle_);
}

void SLC::message(Packet& pkt)
{
    if (log.mtp_transmit)
        std::clog << ext::header(this) << " mtp tx" << Octets{pkt} << '\n';
    state_->message(*this, pkt);
}

void SLC::on_hdlc_receive(Packet& frame)
{
    receive(frame);
}

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause)
{
    std::clog << ext::header(this) << "hdlc error [cause=" << static_cast<int>(cause) << "]" << '\n';
    // The channel has closed: nothing is sent or received any more, so the
    // link is out of service and level 3 must hear it.
    if (state() != State::idle)
        next_state(*idle_);
}

void SLC::on_hdlc_ready()
{
    std::clog << ext::header(this) << "hdlc ready" << '\n';
    process_tb();
}

void SLC::OnTrunkHardStatus(bool up)
{
    if (up || state() == State::idle)
        return;
    std::clog << ext::header(this) << " transport OFF by low level terminated" << '\n';
    next_state(*idle_);
}

// ---------------------------------------------------------------------------
// Reception

void SLC::receive(Packet& pkt)
{
    if (log.raw_receive)
        std::clog << ext::header(this) << " rx raw" << Octets{pkt} << '\n';
    stats_.octetsRx += pkt.length();
    if (pkt.length() < header_octets) {
        std::cerr << ext::header(this) << "ignore packet, length too small " << pkt.text() << '\n';
        return;
    }
    const std::uint8_t o0 = pkt.pull8();
    const std::uint8_t o1 = pkt.pull8();
    const std::uint8_t o2 = pkt.pull8();
    bsnr_ = seq(o0 & 0x7Fu);
    bibr_ = o0 >> 7;
    fsnr_ = seq(o1 & 0x7Fu);
    fibr_ = o1 >> 7;
    const unsigned int li = o2 & li_mask;
    lir_ = li;

    const unsigned int left = pkt.length();
    const unsigned int expected = left > li_max ? li_max : left;
    if (li != expected) {
        std::cerr << ext::header(this) << "invalid packet length, expected = " << li
                  << ", received = " << left << '\n';
        if (expected == li_max) {
            std::cerr << ext::header(this) << "can't truncate signalling unit." << '\n';
        } else if (li < left) {
            std::cerr << ext::header(this) << "truncate " << (left - li) << " octet(s) : " << pkt.text()
                      << '\n';
            pkt = pkt.sub(0, li);
        } else {
            // Octets are missing (a short frame or a corrupted LI): what
            // is left is no signal unit, least of all an MSU to pass up.
            std::cerr << ext::header(this) << "discard signalling unit, " << (li - left)
                      << " octet(s) missing" << '\n';
            return;
        }
    }
    lir_ = pkt.length();
    ++stats_.msuRxCount;

    if (pkt.length() == 0) {
        state_->fisu(*this);
    } else if (pkt.length() > 2) {
        state_->msu(*this, pkt);
    } else {
        // A two-octet status field (Q.703 11.1.2) is read for its first octet.
        state_->lssu(*this, static_cast<Indication>(pkt.pull8()));
    }
}

// ---------------------------------------------------------------------------
// States

void SLC::next_state(State& s)
{
    if (log.state) {
        PutShortInfo(std::clog);
        std::clog << ": change state from " << ext::quoted(name(state())) << " to "
                  << ext::quoted(name(s.get_state_id())) << '\n';
    }
    state_->on_leave(*this);
    state_ = &s;
    s.on_enter(*this);
}

void SLC::reset()
{
    while (rtb_count_ > 0) {
        rtb_[rtb_oldest_.value()].reset();
        ++rtb_oldest_;
        --rtb_count_;
    }
    for (Packet& p : rtb_)
        p.reset();
    rtb_oldest_ = seq(0);
    rtb_newest_ = seq(127);
    nack_outstanding_ = false;
    bad_bsn_ = false;
    bad_fib_ = false;
    bsnt_ = seq(127);
    fsnt_ = seq(127);
    fibt_ = 1;
    bibt_ = 1;
}

void SLC::enter(Tag<State::idle>)
{
    reset();
    send_lssu(SIOS);
    on_deactivate(Protocol_status(new Protocol_status_error(this, "impossible phasing")));
}

void SLC::enter(Tag<State::not_aligned>)
{
    reset();
    TimerSpec<SLC>::SpecTimer<T2spec>::set(this);
    send_lssu(SIO);
}

void SLC::enter(Tag<State::aligned>)
{
    TimerSpec<SLC>::SpecTimer<T3spec>::set(this);
    if (log.timers)
        std::clog << ext::header(this) << "set T3" << '\n';
    send_lssu(emergency ? SIE : SIN);
}

void SLC::enter(Tag<State::proving>)
{
    if (emergency) {
        TimerSpec<SLC>::SpecTimer<T4espec>::set(this);
        send_lssu(SIE);
    } else {
        TimerSpec<SLC>::SpecTimer<T4nspec>::set(this);
        send_lssu(SIN);
    }
    if (log.timers)
        std::clog << ext::header(this) << "set T4" << '\n';
}

void SLC::enter(Tag<State::aligned_ready>)
{
    TimerSpec<SLC>::SpecTimer<T1spec>::set(this);
    send_fisu();
}

void SLC::enter(Tag<State::worked>)
{
    if (!tb_.empty()) {
        std::cerr << ext::header(this) << "discard " << tb_.count() << " msu in TB" << '\n';
        tb_.clear();
    }
    reset();
    send_fisu();
    process_tb();
    on_activate();
}

// Idle takes no status unit: alignment starts only on a start from level 3
// (Q.703 7.2), so a far end that retries alignment meets "out of service"
// until the host activates the link again.
void SLC::on_lssu(Tag<State::not_aligned>, Indication i)
{
    if (i == SIO)
        next_state(*aligned_);
    else if (i == SIN || i == SIE)
        next_state(*proving_);
}

void SLC::on_lssu(Tag<State::aligned>, Indication i)
{
    if (i == SIN || i == SIE)
        next_state(*proving_);
}

// Also aligned ready's.
void SLC::on_lssu(Tag<State::proving>, Indication i)
{
    if (i != SIN && i != SIE)
        next_state(*idle_);
}

void SLC::on_fisu(Tag<State::proving>)
{
    next_state(*worked_);
}

void SLC::on_msu(Tag<State::proving>, Packet&)
{
    next_state(*worked_);
}

void SLC::on_lssu(Tag<State::worked>, Indication i)
{
    std::cerr << ext::header(this) << "receive lssu: ";
    PutIndication(std::cerr, i);
    std::cerr << " ";
    DumpPtr(std::cerr);
    std::cerr << '\n';
    next_state(*idle_);
}

// ---------------------------------------------------------------------------
// Timers

void SLC::OnT1()
{
    if (log.timers)
        std::clog << ext::header(this) << "T1 expired" << '\n';
    next_state(*idle_);
}

void SLC::OnT2()
{
    if (log.timers)
        std::clog << ext::header(this) << "T2 expired" << '\n';
    next_state(*idle_);
}

void SLC::OnT3()
{
    if (log.timers)
        std::clog << ext::header(this) << "T3 expired" << '\n';
    next_state(*idle_);
}

void SLC::OnT4()
{
    if (log.timers)
        std::clog << ext::header(this) << "T4 expired." << '\n';
    next_state(*aligned_ready_);
}

void SLC::OnT7()
{
    if (log.timers)
        std::clog << ext::header(this) << "T7 expired: " << rtb_count_ << " packets in RTB." << '\n';
    next_state(*idle_);
}

// ---------------------------------------------------------------------------
// Basic error correction (Q.703 5)

void SLC::refresh_expected()
{
    fsnx_ = bsnt_;
    fibx_ = bibt_;
}

void SLC::bad_fib()
{
    if (bad_fib_) {
        if (log.msu_processing) {
            std::cerr << ext::header(this) << "bad start of a retransmission: ";
            DumpPtr(std::cerr);
            std::cerr << '\n';
        }
        next_state(*idle_);
        return;
    }
    bad_fib_ = true;
}

void SLC::on_fisu(Tag<State::worked>)
{
    refresh_expected();
    if (fibr_ == fibx_) {
        nack_outstanding_ = false;
        bad_fib_ = false;
        if (!process_bsnr())
            return;
        if (!(fsnr_ == fsnx_))
            nack();
    } else if (nack_outstanding_) {
        process_bsnr();
    } else {
        bad_fib();
    }
}

void SLC::on_msu(Tag<State::worked>, Packet& pkt)
{
    refresh_expected();
    if (fsnr_ == fsnx_) {
        // Q.703 5.2.2 i: a repeat of the last MSU accepted.
        if (log.msu_processing)
            std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702"
                      << " fsnr=" << fsnr_.value() << " fsnx=" << fsnx_.value() << '\n';
        return;
    }
    if (fibr_ == fibx_) {
        nack_outstanding_ = false;
        bad_fib_ = false;
        if (!process_bsnr())
            return;
        if (fsnr_ == fsnx_ + seq(1)) {
            bsnt_ = fsnr_;
            if (log.msu_processing)
                std::cerr << ext::header(this) << "ack!" << '\n';
            send_fisu();
            if (log.mtp_receive)
                std::clog << ext::header(this) << " mtp rx" << Octets{pkt} << '\n';
            on_message(pkt);
        } else {
            // Q.703 5.2.2 ii: an MSU is missing before this one.
            if (log.msu_processing)
                std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702"
                          << " fsnr=" << fsnr_.value() << " fsnx=" << fsnx_.value() << '\n';
            nack();
        }
    } else if (nack_outstanding_) {
        process_bsnr();
    } else {
        bad_fib();
    }
}

void SLC::nack()
{
    bibt_ ^= 1u;
    fibx_ = bibt_;
    nack_outstanding_ = true;
    send_fisu();
    ++stats_.badSeqCntr;
    if (log.msu_processing)
        std::cerr << ext::header(this) << "nack!" << '\n';
}

bool SLC::process_bsnr()
{
    // Q.703 5.3.1: the BSN must lie between the last one acknowledged and
    // the newest FSN sent.
    const seq before_oldest = rtb_oldest_ - seq(1);
    if (!((before_oldest <= bsnr_) <= rtb_newest_)) {
        if (!bad_bsn_) {
            bad_bsn_ = true;
            return true;
        }
        if (log.msu_processing) {
            std::cerr << ext::header(this) << "bad su acknowledgement received: ";
            DumpPtr(std::cerr);
            std::cerr << '\n';
        }
        next_state(*idle_);
        return false;
    }
    bad_bsn_ = false;

    const bool acknowledged = !(bsnr_ + seq(1) == rtb_oldest_);
    if (acknowledged) {
        TimerSpec<SLC>::SpecTimer<T7spec>::set(this);
        const seq end = bsnr_ + seq(1);
        while (!(rtb_oldest_ == end) && rtb_count_ > 0) {
            rtb_[rtb_oldest_.value()].reset();
            ++rtb_oldest_;
            --rtb_count_;
        }
        rtb_oldest_ = end;
    }
    if (rtb_count_ == 0)
        timer_.reset();
    // Q.703 5.3.2: an inverted BIB asks for everything after the BSN again.
    if (bibr_ != fibt_)
        retransmit();
    else if (acknowledged && !tb_.empty())
        // Room in the RTB again: MSUs that waited for it go now, not only
        // when the next one arrives from above.
        process_tb();
    return true;
}

void SLC::retransmit()
{
    if (log.msu_processing)
        std::cerr << ext::header(this) << "retransmit"
                  << " rtb=" << rtb_count_ << '\n';
    ++stats_.repeatCntr;
    fsnt_ = rtb_oldest_ - seq(1);
    fibt_ = bibr_;
    while (rtb_count_ > 0) {
        Packet& p = rtb_[rtb_newest_.value()];
        tb_.append(p);
        p.reset();
        --rtb_newest_;
        --rtb_count_;
    }
    rtb_newest_ = rtb_oldest_ - seq(1);
    process_tb();
}

// ---------------------------------------------------------------------------
// Transmission

void SLC::st_message(Tag<State::worked>, Packet& pkt)
{
    put_to_tb(pkt);
    process_tb();
}

void SLC::put_to_tb(Packet& pkt)
{
    if (tb_.count() >= tb_accept) {
        ++stats_.overflowCntr;
        std::cerr << ext::header(this) << "no space in TB buffer,"
                  << " TB=" << tb_.count() << " RTB=" << rtb_count_ << " ignoring msu: " << pkt.text()
                  << '\n';
        return;
    }
    tb_.put(pkt);
}

void SLC::process_tb()
{
    if (state() != State::worked)
        return;
    if (tb_.empty()) {
        send_fisu();
        return;
    }
    while (rtb_count_ < rtb_max && !tb_.empty()) {
        Packet head;
        tb_.preview(&head);
        const seq fsn = rtb_newest_ + seq(1);
        // The FSN to send moves only once the channel took the MSU: a FISU
        // sent while it waits must not announce it. An MSU the channel
        // failed to write (counted and logged there) never goes, and no
        // readiness would come for it: the next one takes its FSN.
        if (!send(head, fsn)) {
            if (hdlc == nullptr || !hdlc->transmit_failed())
                return;
            tb_.get(nullptr);
            continue;
        }
        fsnt_ = fsn;
        tb_.get(nullptr);
        rtb_newest_ = fsn;
        rtb_[fsn.value()] = head;
        if (++rtb_count_ == 1)
            TimerSpec<SLC>::SpecTimer<T7spec>::set(this);
    }
}

bool SLC::send_fisu()
{
    Packet fisu;
    fisu.reserve_head(header_octets);
    return send(fisu, fsnt_);
}

bool SLC::send(Packet pkt, seq fsn)
{
    if (hdlc == nullptr) {
        std::clog << ext::header(this) << "no HDLC interface attached!!!" << '\n';
        return false;
    }
    const unsigned int len = pkt.length();
    if (pkt.headroom() < header_octets) {
        // A message built without this layer's head room.
        Packet copy;
        copy.reserve_head(header_octets);
        copy.put(pkt);
        pkt = copy;
    }
    pkt.push8(static_cast<std::uint8_t>(len > 62 ? li_max : len));
    pkt.push8(static_cast<std::uint8_t>(fibt_ << 7 | fsn.value()));
    pkt.push8(static_cast<std::uint8_t>(bibt_ << 7 | bsnt_.value()));
    if (!hdlc->hdlc_transmit(pkt)) {
        if (log.raw_transmit)
            std::clog << ext::header(this) << " tx full!" << '\n';
        return false;
    }
    if (log.raw_transmit)
        std::clog << ext::header(this) << " tx raw" << Octets{pkt} << '\n';
    ++stats_.msuTxCount;
    stats_.octetsTx += pkt.length();
    return true;
}

void SLC::send_lssu(Indication i)
{
    if (hdlc == nullptr)
        return;
    Packet lssu;
    lssu.reserve_head(header_octets);
    lssu.put8(0xFF);
    lssu.put8(0xFF);
    lssu.put8(0x01);
    lssu.put8(i);
    hdlc->hdlc_transmit(lssu);
}

} // namespace SS7
