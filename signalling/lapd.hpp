#pragma once

// The Q.921 data-link layer of one ISDN D channel (LAPD), user side or
// network side, primary or basic rate: multiple-frame acknowledged operation
// with modulo-128 sequence numbers (Q.921 5.5 to 5.8), the eight states of
// Q.921 Annex B, T200, T202 and T203 on one timer, MDL-ERROR reporting
// (Q.921 Table II.1) and, on basic-rate user links, TEI management on SAPI 63
// (Q.921 5.3).
//
// Layer 3 talks to it through the protocol-stack framework: `message` is
// DL-DATA, `local_activate`/`local_deactivate` DL-ESTABLISH/DL-RELEASE;
// received information fields come up through `on_message`, link events
// through `on_activate`, `on_deactivate` and `on_status`. Frames leave on the
// GenericHDLC channel `hdlc` and arrive through the HDLC::Notify callbacks.

#include "asn1/modules/ACP.hpp"
#include "core/packet.hpp"
#include "core/packet_queue.hpp"
#include "core/protocol.hpp"
#include "core/timer.hpp"
#include "hardware/hdlc.hpp"
#include "signalling/cyclic.hpp"
#include "signalling/isdn_side.hpp"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace ISDN {

// Name of a Q.921 state 0..7; "(unknown)" for any other value.
const char* statetext(unsigned int state);

// Everything that decides what the data link does next; copied into the
// status objects it sends up, so that a report shows the link as it was.
struct LAPDFullState {
    using Seq = Cyclic<unsigned int, 127u>;

    unsigned int state = 3;
    int self_tei = 0;
    int self_sapi = 0;
    int peer_tei = 0;
    int peer_sapi = 0;
    int rc = 0;
    bool peer_busy = false;
    bool own_busy = false; // never set: this end does not flow-control its peer
    bool reject_exception = false;
    bool l3_initiated = false;
    bool establishable = true;
    bool queued_up_rq = false;
    bool retransmission_rq = false;
    bool ack_rq = false;
    bool t200_running = false;
    bool t202_running = false;
    bool t203_running = false;
    Seq vs;
    Seq va;
    Seq vr;

    // One "\n   - " line per item.
    void out(std::ostream& os) const;
};

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
public:
    struct Stats {
        unsigned int t200_expired = 0;
        unsigned int t202_expired = 0;
        unsigned int t203_expired = 0;
        unsigned int errors = 0;   // frames the channel failed to write
        unsigned int retrains = 0; // frames moved back for retransmission
        unsigned int out_overflows = 0;
        unsigned int ack_overflows = 0;
        unsigned int tx_messages = 0; // every DL-DATA request
        unsigned int rx_iframes = 0;  // in sequence
        unsigned int rejected = 0;    // out of sequence
        unsigned int bad_confirms = 0;

        void out(std::ostream& os) const;
    };

    // An error report of the layer with a copy of its state at that moment.
    class Status : public Protocol_status_error, private LAPDFullState {
    public:
        Status(LAPD const* lapd, std::string const& text);
        bool success() const override { return false; }
        std::string message() const override;
        void out(std::ostream& os) const override;
        LAPDFullState const& full_state() const { return *this; }
    };

    // The owner's flow-control sink.
    class Notify {
    public:
        virtual ~Notify() = default;
        // The flow status changed; read it with flow_status().
        virtual void OnLAPD_FlowStatusChange(LAPD* lapd) = 0;
    };

    struct FlowStatus {
        enum Type { normal = 0, congested = 1 };
    };

    using Seq = LAPDFullState::Seq;

    // Q.921 5.9: N200, N202 and k; T200, T202 and T203 in milliseconds.
    static constexpr int N200 = 3;
    static constexpr int N202 = 3;
    static constexpr unsigned int k = 7;
    static constexpr unsigned int T200 = 1000;
    static constexpr unsigned int T202 = 2000;
    static constexpr unsigned int T203 = 10000;
    // Q.921 5.9.3: the longest information field a peer takes; a longer one
    // is an error there (FRMR or MDL-ERROR, then re-establishment).
    static constexpr unsigned int N201 = 260;
    // 128 messages and the 7 frames a retransmission moves back fit the
    // outgoing queue's 135 places.
    static constexpr unsigned int out_limit = 127;
    static constexpr unsigned int congested_above = 88;
    static constexpr unsigned int normal_below = 65;

    LAPD(Side::type side, unsigned int log);
    ~LAPD() override;

    Protocol_name const& name() const override { return name_; }
    void local_prepare_head(Packet& pkt) override;
    void local_prepare_tail(Packet& pkt) override;
    // DL-ESTABLISH request.
    void local_activate() override;
    // DL-RELEASE request.
    void local_deactivate() override;
    // DL-DATA request: one layer-3 message of at most N201 octets (a
    // longer one is discarded: the owner refuses it first).
    void message(Packet& pkt) override;
    // One frame from the channel.
    void receive(Packet& pkt) override;
    virtual void PutHeader(std::ostream& os) const;

    void on_hdlc_receive(Packet& frame) override { receive(frame); }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override { local_events(); }

    // MDL-ASSIGN and MDL-REMOVE (Q.921 5.3).
    virtual void mdl_assign(unsigned char tei);
    // Called when TEI assignment begins; nothing here.
    virtual void on_mdl_assign() {}
    virtual void mdl_remove();
    // MDL-ERROR indication: the code's text goes up as a status.
    virtual void on_error(unsigned int code);

    // TEI management runs (on the user side) only after this.
    void change_to_bri();
    bool is_bri() const { return bri_; }

    // Fills `info` (all but `side`); true when it differs from the value
    // reported last time, which it then replaces.
    bool GetInfo(ACP::IsdnLinkInfo& info) const;
    Protocol_status status() const;
    const char* state_text() const { return statetext(state); }
    // The state dump and the counters, to standard output.
    void show_stat() const;
    void on_error(char const* text);

    LAPDFullState const& full_state() const { return *this; }
    Stats const& stats() const { return stats_; }
    FlowStatus::Type flow_status() const { return flow_status_; }
    unsigned int queue_out() const { return out_queue_.count(); }
    unsigned int queue_ack() const { return ack_queue_.count(); }
    std::uint16_t ri() const { return ri_; }

    Side::type side;
    unsigned int id = 0;
    unsigned int log;
    Notify* notify = nullptr;
    GenericHDLC* hdlc = nullptr;
    // Where new TEI-management reference numbers Ri come from (Q.921
    // 5.3.2: a random number); unset, a generator seeded once per process.
    std::function<std::uint16_t()> ri_source;

private:
    enum class TimerId { t200, t202, t203 };
    enum SKind { rr = 0, rnr = 1, rej = 2 };

    // Frame building and sending.
    bool tx_cmd_resp(unsigned char kind, bool pf, bool command);
    bool tx_iframe(Packet& msg, bool p);
    bool tx_identity(std::uint16_t ri, int ai, unsigned char type);
    bool xmit(Packet& frame);
    unsigned char address1(bool command) const;
    void trace(char const* what, std::uint8_t const* frame, unsigned int length,
               unsigned int direction) const;

    // Frame handlers.
    void on_sabme(bool p);
    void on_disc(bool p);
    void on_ua(bool f);
    void on_dm(bool command, bool f);
    void on_frmr();
    void on_rr(bool command, bool pf, Seq nr);
    void on_rej(bool command, bool pf, Seq nr);
    void on_rnr(bool command, bool pf, Seq nr);
    void in_recovery(bool command, bool pf, Seq nr, char const* out_of_order);
    void on_iframe(Packet& info, Seq ns, Seq nr, bool p);
    void on_ui(Packet& info);

    // Procedures.
    void establish();
    void clear_exceptions();
    void nr_error_recovery();
    void enquiry();
    void enquiry_response();
    void retransmit_from(Seq nr);
    bool window_ok(Seq nr) const { return (va <= nr) <= vs; }
    void discard_queue();
    void begin_tei_assignment(bool keep_state);
    void enter_established();
    void local_events();
    void change_state(unsigned int next);
    void change_flowstatus(FlowStatus::Type next);
    void deactivated(char const* text, bool success);
    std::uint16_t new_ri();

    // The one timer.
    void start_timer(TimerId id);
    void stop_timer(TimerId id);
    bool& running(TimerId id);
    void on_t200();
    void on_t202();
    void on_t203();

    Stats stats_;
    FlowStatus::Type flow_status_ = FlowStatus::normal;
    mutable ACP::IsdnLinkInfo last_info_;
    bool bri_ = false;
    std::uint16_t ri_ = 0;
    Timer timer_;
    CleanQueue<Packet, 135> out_queue_;
    CleanQueue<Packet, 7> ack_queue_;
    Protocol_name_str name_{"ISDN::LAPD"};
};

} // namespace ISDN
