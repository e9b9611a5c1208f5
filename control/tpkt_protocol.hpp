#pragma once
// TPKT framing (RFC 1006 section 6): version 3, reserved 0, a 16-bit
// big-endian length that counts the 4 header octets, then the payload. The
// receiver works byte by byte, resynchronises on garbage and abandons a frame
// that stays incomplete for 3000 ms. A whole frame at the front of a received
// chunk goes up in place, inside the received packet; the receiver of a
// payload reads it (it may consume it) and keeps nothing of the packet.

#include "core/packet.hpp"
#include "core/protocol.hpp"
#include "core/timer.hpp"

#include <cstdint>

class Tpkt_protocol : public Protocol {
public:
    enum State { idle = 0, wait_r = 1, len_1 = 2, len_2 = 3, body = 4, ignore = 5 };

    static constexpr unsigned int header_size = 4;
    // The 16-bit length counts the header too.
    static constexpr unsigned int max_payload = 0xFFFF - header_size;
    static constexpr unsigned int reassembly_ms = 3000;

    Tpkt_protocol() = default;

    void message(Packet& pkt) override;
    void receive(Packet& pkt) override;
    void local_prepare_head(Packet& pkt) override;
    void local_prepare_tail(Packet& pkt) override;
    void local_activate() override;
    void local_deactivate() override;

    void reset();
    void on_timeout(Timer*);
    void next_state(State s) { state_ = s; }

    State state() const noexcept { return state_; }
    bool timer_pending() const noexcept { return static_cast<bool>(timer_); }
    Protocol_name const& name_object() const noexcept { return name_obj_; }

private:
    bool receive_in_place(Packet& pkt);
    void receive_idle(Packet& pkt);
    void receive_wait_r(Packet& pkt);
    void receive_len_1(Packet& pkt);
    void receive_len_2(Packet& pkt);
    void receive_body(Packet& pkt);
    void receive_ignore(Packet& pkt);

    Protocol_name_str name_obj_{"TPKT"};
    std::uint32_t count_ = 0;
    Timer timer_;
    State state_ = idle;
    Packet body_;
};
