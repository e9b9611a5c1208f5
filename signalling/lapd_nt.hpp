#pragma once

// The network side of the D channel of one basic-rate line: up to eight
// terminals on a passive bus. It hands out TEIs (Q.921 5.3, SAPI 63), checks
// every minute that they still answer, runs one small acknowledged link per
// terminal (modulo-128 numbering, window k = 7, Q.921 5.6) and passes every
// information field up to one common layer 3. Layer-3 messages from above go
// to the terminal that holds their call reference; SETUP is broadcast on
// TEI 127 (Q.931 5.2.1: which terminal answers is not known yet).
//
// Deliberately simpler than ISDN::LAPD: no Q.921 state table, no MDL-ERROR
// reports, nothing reported upward about terminals coming and going.

#include "core/packet.hpp"
#include "core/packet_queue.hpp"
#include "core/protocol.hpp"
#include "core/timer.hpp"

#include <cstdint>
#include <iosfwd>

namespace ISDN {

class LAPD_NT;

// One terminal's acknowledged link, owned by LAPD_NT.
class LAPD_NT_user {
public:
    // released: the terminal released its link (DISC) but keeps its TEI.
    enum LinkState { unassigned = 0, assigned = 1, wait_answer = 2, released = 3 };

    static constexpr unsigned int k = 7;           // Q.921 5.9.5
    static constexpr unsigned int T200 = 1000;     // Q.921 5.9.1
    static constexpr unsigned int T203 = 10000;    // Q.921 5.9.8
    static constexpr unsigned int N200 = 3;        // Q.921 5.9.2
    static constexpr unsigned int check_ms = 2000; // answer time of a TEI check
    static constexpr unsigned int out_limit = 128;

    LAPD_NT_user() = default;
    LAPD_NT_user(LAPD_NT_user const&) = delete;
    LAPD_NT_user& operator=(LAPD_NT_user const&) = delete;

    void set_lapd(LAPD_NT* owner) { lapd = owner; }
    void set_log(unsigned int level) { log = level; }

    void assign();
    // `withdraw`: the terminal is also told to remove its TEI, so that the
    // TEI can be handed out again without two terminals sharing it.
    void unassign(bool withdraw);
    void checking();

    // One frame for this terminal; `cr` is the C/R bit as received (0: a
    // command from the terminal).
    void receive(Packet& pkt, bool cr);
    // A layer-3 message; false when this terminal does not take it.
    bool message(Packet& pkt);

    // Test and fuzz seams.
    int link_state() const { return link_state_; }
    unsigned char tei() const { return tei_; }
    unsigned char call_reference() const { return call_reference_; }
    bool busy() const { return busy_; }
    bool is_checking() const { return checking_; }
    unsigned char vs() const { return vs_; }
    unsigned char vr() const { return vr_; }
    unsigned char va() const { return va_; }
    unsigned int queue_out() const { return out_queue_.count(); }
    unsigned int queue_ack() const { return ack_queue_.count(); }
    std::uint16_t check_ri() const { return check_ri_; }

    void PutHeader(std::ostream& os) const;

private:
    friend class LAPD_NT;

    void on_I(Packet& pkt, unsigned char ns, unsigned char nr, bool p);
    void on_RR(unsigned char nr, bool pf, bool cr);
    void on_RNR(unsigned char nr, bool pf, bool cr);
    void on_REJ(unsigned char nr, bool pf, bool cr);
    // The common part of RR, RNR and REJ; false when N(R) was refused.
    bool on_supervisory(char const* text, unsigned char nr, bool pf, bool cr);
    void on_SABME(bool p);
    void on_DM(bool f);
    void on_DISC(bool p);
    void on_FRMR(bool f);
    void on_XID(Packet& pkt, bool pf, bool cr);

    // Whether the call bound is the one of this value and flag, the flag as
    // the terminal sends it.
    bool holds(unsigned char value, unsigned char flag) const;

    void tx_U(unsigned char code, bool pf, bool command);
    void tx_S(unsigned char code, bool pf, bool command);
    // Puts the I-frame header in front of `pkt` and sends a copy.
    void tx_I(Packet& pkt, unsigned char nr, unsigned char ns);

    void on_timer();
    void on_check_timeout();
    // After DISC: the link is down, the TEI stays booked to the terminal.
    void release_link();
    void retransmit();
    bool ack_queue(unsigned char nr);
    // After an accepted acknowledgement: what waits goes out as far as the
    // window allows, and the link timer follows what is still unacknowledged.
    void acknowledged();
    // Sends waiting messages while the window is open; true when any left.
    bool send_waiting();
    void send_new(Packet& pkt);
    void set_busy();
    void set_unbusy();
    void reset_link();

    bool checking_ = false;
    bool check_repeated_ = false;
    LAPD_NT* lapd = nullptr;
    unsigned char vr_ = 0;
    // V(A): the oldest unacknowledged N(S). The acknowledged range is
    // [V(A), V(S)] modulo 128 (Q.921 5.8.3).
    unsigned char va_ = 0;
    unsigned char vs_ = 0;
    unsigned char tei_ = 0;
    int link_state_ = unassigned;
    Timer link_timer_;
    Timer check_timer_;
    unsigned int rc_ = 0;
    unsigned char call_reference_ = 0;
    // The call reference flag as the terminal sends it (Q.931 4.3): 0 for a
    // call it originated, 0x80 for one the network offered. The same value
    // names two different calls, one with each flag.
    unsigned char call_flag_ = 0;
    // Whether a call reference is bound at all; kept apart from the value,
    // as 0 is the global call reference (Q.931 4.3), not "no call".
    bool call_bound_ = false;
    bool busy_ = false;
    unsigned int log = 0;
    CleanQueue<Packet, 135> out_queue_;
    CleanQueue<Packet, 7> ack_queue_;
    std::uint16_t check_ri_ = 0;
};

class LAPD_NT : public Protocol {
public:
    static constexpr unsigned int users_count = 8;
    static constexpr unsigned int check_period = 60000;

    LAPD_NT();
    ~LAPD_NT() override;

    void local_prepare_head(Packet& pkt) override;
    void local_prepare_tail(Packet& pkt) override;
    void local_activate() override;
    void local_deactivate() override;
    // A layer-3 message from above.
    void message(Packet& pkt) override;
    // A frame from the line.
    void receive(Packet& pkt) override;

    void set_log(unsigned int level);
    unsigned int log_level() const { return log; }

    void check_all_Tei();
    void tx_identity(unsigned short ri, int ai, unsigned char type);
    // Identity remove, sent twice (Q.921 5.3.4.1).
    void remove_tei(int ai);
    void on_tei_procedure(Packet& pkt);
    LAPD_NT_user* find_Tei(unsigned char tei);
    LAPD_NT_user* find_free_Tei(unsigned char ai);
    void send_to_layer3(Packet& pkt) { on_message(pkt); }
    void send_to_layer1(Packet& pkt) { transmit(pkt); }
    void PutHeader(std::ostream& os) const;

    LAPD_NT_user const& user(unsigned int i) const { return users_[i]; }

private:
    Timer check_timer_;
    LAPD_NT_user users_[users_count];
    unsigned int log = 0;
};

} // namespace ISDN
