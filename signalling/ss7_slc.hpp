#pragma once

// SS7 signalling link control (Q.703 level 2) of one link: alignment and
// proving with link status signal units, fill-in signal units in service,
// and message signal units under basic error correction (Q.703 5: go-back
// retransmission with 7-bit sequence numbers). The layer sends on the HDLC
// channel its owner hands it and hears the channel through HDLC::Notify.

#include "core/packet.hpp"
#include "core/packet_queue.hpp"
#include "core/protocol.hpp"
#include "core/timer.hpp"
#include "hardware/hdlc.hpp"
#include "signalling/cyclic.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <type_traits>

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
public:
    // The status field of a link status signal unit (Q.703 11.1.2).
    enum Indication : std::uint8_t { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

    class State {
    public:
        // The ids are those of ACP::SS7State.
        enum type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, worked = 5 };

        virtual ~State() = default;
        // A state ignores every event it does not take.
        virtual void on_enter(SLC&) {}
        virtual void on_leave(SLC&) {}
        virtual void fisu(SLC&) {}
        virtual void lssu(SLC&, Indication) {}
        virtual void msu(SLC&, Packet&) {}
        virtual void message(SLC&, Packet&) {}
        virtual type get_state_id() const = 0;
    };

    // One state: each event goes to the layer's handler for state N when
    // there is one, else to Base (which ignores it, or is a state whose
    // handlers this one shares).
    template <State::type N, class Base = State>
    class TState;

    using seq = Cyclic<unsigned int, 127u>;

    // Counters of the link, in the order of ACP::SS7LinkInfo.
    struct Statistics {
        unsigned int msuTxCount = 0; // FISUs and MSUs sent
        unsigned int msuRxCount = 0; // signal units of 3 octets or more received
        unsigned int octetsTx = 0;
        unsigned int octetsRx = 0; // every received frame, short ones included
        unsigned int overflowCntr = 0;
        unsigned int rtbSize = 0;
        unsigned int repeatCntr = 0;
        unsigned int badSeqCntr = 0;
    };

    // Log switches, set together by the owner (the host's ss7Log).
    struct LogSwitches {
        bool state = false;
        bool raw_receive = false;
        bool raw_transmit = false;
        bool mtp_transmit = false;
        bool mtp_receive = false;
        bool mtp_activate = false;
        bool timers = false;
        bool msu_processing = false;
    };

    static constexpr unsigned int T1 = 45000;
    static constexpr unsigned int T2 = 7000;
    static constexpr unsigned int T3 = 1500;
    static constexpr unsigned int T4n = 8200;
    static constexpr unsigned int T4e = 500;
    static constexpr unsigned int T7 = 12000;
    // New MSUs are taken while the TB holds fewer than this; the TB's room
    // beyond it takes back a full RTB on a retransmission.
    static constexpr unsigned int tb_accept = 200;
    // A message from level 3: the service information octet and a
    // signalling information field of 2 to 272 octets (Q.703 2.3.3, 2.3.8).
    // A shorter one would go out with the LI of a FISU or an LSSU.
    static constexpr unsigned int msu_min = 3;
    static constexpr unsigned int msu_max = 273;
    static constexpr unsigned int rtb_max = 127;

    SLC();
    ~SLC() override;

    // Configuration, written by the owner after construction.
    GenericHDLC* hdlc = nullptr;
    unsigned int trunk = 0;
    unsigned int slc = 0;
    unsigned int dpc = 0;
    bool emergency = false;
    LogSwitches log;

    void local_prepare_head(Packet& pkt) override;
    void local_prepare_tail(Packet& pkt) override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& pkt) override;
    void receive(Packet& pkt) override;
    void protocol_info(std::ostream& os) const override;

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    // The trunk under the link went down (false) or up.
    void OnTrunkHardStatus(bool up);

    Statistics statistics() const;
    State::type state() const { return state_->get_state_id(); }
    // The BSN being sent: the FSN of the last MSU accepted.
    unsigned int bsn() const { return bsnt_.value(); }
    unsigned int tb_count() const { return tb_.count(); }
    unsigned int rtb_count() const { return rtb_count_; }

    void PutHeader(std::ostream& os) const;
    void PutShortInfo(std::ostream& os) const;

    static const char* name(State::type t);
    static void PutIndication(std::ostream& os, unsigned int indication);

private:
    template <State::type N>
    using Tag = std::integral_constant<State::type, N>;

    // State handlers; an event with no handler for a state is ignored.
    void enter(Tag<State::idle>);
    void enter(Tag<State::not_aligned>);
    void enter(Tag<State::aligned>);
    void enter(Tag<State::proving>);
    void enter(Tag<State::aligned_ready>);
    void enter(Tag<State::worked>);
    void leave(Tag<State::not_aligned>) { timer_.reset(); }
    void leave(Tag<State::aligned>) { timer_.reset(); }
    void leave(Tag<State::proving>) { timer_.reset(); }
    void leave(Tag<State::aligned_ready>) { timer_.reset(); }
    void leave(Tag<State::worked>) { timer_.reset(); }
    void on_lssu(Tag<State::not_aligned>, Indication i);
    void on_lssu(Tag<State::aligned>, Indication i);
    void on_lssu(Tag<State::proving>, Indication i);
    void on_lssu(Tag<State::worked>, Indication i);
    void on_fisu(Tag<State::proving>);
    void on_fisu(Tag<State::worked>);
    void on_msu(Tag<State::proving>, Packet& pkt);
    void on_msu(Tag<State::worked>, Packet& pkt);
    void st_message(Tag<State::worked>, Packet& pkt);

    void OnT1();
    void OnT2();
    void OnT3();
    void OnT4();
    void OnT7();
    static const TimerSpec<SLC>::Spec T1spec;
    static const TimerSpec<SLC>::Spec T2spec;
    static const TimerSpec<SLC>::Spec T3spec;
    static const TimerSpec<SLC>::Spec T4nspec;
    static const TimerSpec<SLC>::Spec T4espec;
    static const TimerSpec<SLC>::Spec T7spec;

    void next_state(State& s);
    void reset();
    void refresh_expected();
    // False when the link failed (and is idle now).
    bool process_bsnr();
    void nack();
    void retransmit();
    void put_to_tb(Packet& pkt);
    void process_tb();
    bool send(Packet pkt, seq fsn);
    bool send_fisu();
    void send_lssu(Indication i);
    void bad_fib();
    void DumpPtr(std::ostream& os) const;

    // Received: from the last signal unit.
    seq bsnr_{127};
    seq fsnr_{127};
    unsigned int bibr_ = 1;
    unsigned int fibr_ = 1;
    unsigned int lir_ = 0;
    // To send.
    seq bsnt_{127};
    seq fsnt_{127};
    unsigned int bibt_ = 1;
    unsigned int fibt_ = 1;
    // Expected, refreshed before each FISU or MSU is judged.
    seq fsnx_{0};
    unsigned int fibx_ = 1;
    bool nack_outstanding_ = false;
    bool bad_bsn_ = false;
    bool bad_fib_ = false;

    // RTB, indexed by FSN.
    Packet rtb_[128];
    seq rtb_oldest_{0};
    seq rtb_newest_{127};
    unsigned int rtb_count_ = 0;
    CleanQueue<Packet, 327> tb_;

    Statistics stats_;
    Timer timer_;

    State* state_;
    std::unique_ptr<State> idle_;
    std::unique_ptr<State> not_aligned_;
    std::unique_ptr<State> aligned_;
    std::unique_ptr<State> proving_;
    std::unique_ptr<State> aligned_ready_;
    std::unique_ptr<State> worked_;
};

template <SLC::State::type N, class Base>
class SLC::TState : public Base {
    using tag = Tag<N>;

public:
    void on_enter(SLC& s) override
    {
        if constexpr (requires { s.enter(tag{}); })
            s.enter(tag{});
        else
            Base::on_enter(s);
    }
    void on_leave(SLC& s) override
    {
        if constexpr (requires { s.leave(tag{}); })
            s.leave(tag{});
        else
            Base::on_leave(s);
    }
    void fisu(SLC& s) override
    {
        if constexpr (requires { s.on_fisu(tag{}); })
            s.on_fisu(tag{});
        else
            Base::fisu(s);
    }
    void lssu(SLC& s, Indication i) override
    {
        if constexpr (requires { s.on_lssu(tag{}, i); })
            s.on_lssu(tag{}, i);
        else
            Base::lssu(s, i);
    }
    void msu(SLC& s, Packet& p) override
    {
        if constexpr (requires { s.on_msu(tag{}, p); })
            s.on_msu(tag{}, p);
        else
            Base::msu(s, p);
    }
    void message(SLC& s, Packet& p) override
    {
        if constexpr (requires { s.st_message(tag{}, p); })
            s.st_message(tag{}, p);
        else
            Base::message(s, p);
    }
    State::type get_state_id() const override { return N; }
};

} // namespace SS7
