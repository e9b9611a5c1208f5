#include "control/tpkt_protocol.hpp"

#include "core/profile.hpp"

#include <algorithm>
#include <iostream>

void Tpkt_protocol::message(Packet& pkt)
{
    static Profile::Point point("Tpkt_protocol::message");
    point.begin();
    unsigned int const len = pkt.length();
    // A length that does not fit the 16-bit field would go out truncated and
    // desynchronise the peer: refuse it instead.
    if (len > max_payload) {
        std::clog << name().name() << " TPKT payload too big, length = " << len << " max = " << max_payload
                  << std::endl;
        point.end();
        return;
    }
    pkt.push16_b(static_cast<unsigned short>(len + header_size));
    pkt.push8(0x00);
    pkt.push8(0x03);
    transmit(pkt);
    point.end();
}

void Tpkt_protocol::receive(Packet& pkt)
{
    while (pkt.length() > 0) {
        if (state_ == idle && receive_in_place(pkt))
            continue;
        switch (state_) {
        case idle:
            receive_idle(pkt);
            break;
        case wait_r:
            receive_wait_r(pkt);
            break;
        case len_1:
            receive_len_1(pkt);
            break;
        case len_2:
            receive_len_2(pkt);
            break;
        case body:
            receive_body(pkt);
            break;
        case ignore:
            receive_ignore(pkt);
            break;
        }
    }
    if (state_ == idle)
        timer_.reset();
    else
        timer_.set(reassembly_ms, &Tpkt_protocol::on_timeout, this);
}

void Tpkt_protocol::local_prepare_head(Packet& pkt)
{
    pkt.reserve_head(header_size);
}

void Tpkt_protocol::local_prepare_tail(Packet& pkt)
{
    pkt.reserve_tail(0);
}

void Tpkt_protocol::local_activate()
{
    reset();
    on_activate();
}

void Tpkt_protocol::local_deactivate()
{
    reset();
    on_deactivate(new Protocol_status_success(this, "TPKT deactivated"));
}

void Tpkt_protocol::reset()
{
    timer_.reset();
    body_.reset();
    count_ = 0;
    state_ = idle;
}

void Tpkt_protocol::on_timeout(Timer*)
{
    std::clog << " TPKT packet timeout." << std::endl;
    reset();
}

// The usual case, a whole frame (RFC 1006 section 6) at the front of the
// chunk, is delivered without copying its payload: the packet's window is
// narrowed to the payload for the receiver, then moved on past the frame.
// Anything else (a partial frame, garbage, an empty payload, whose delivery
// waits for the next byte) takes the byte-by-byte path.
bool Tpkt_protocol::receive_in_place(Packet& pkt)
{
    unsigned int const len = pkt.length();
    if (len < header_size)
        return false;
    std::uint8_t const* d = pkt.data();
    unsigned int const frame = (static_cast<unsigned int>(d[2]) << 8) | d[3];
    if (d[0] != 0x03 || d[1] != 0x00 || frame <= header_size || frame > len)
        return false;
    unsigned int const rest = len - frame;
    pkt.drop(header_size);
    pkt.trim(rest);
    on_message(pkt);
    if (pkt.null())
        return true; // nothing is left to read
    pkt.drop(pkt.length());
    pkt.extend(rest);
    return true;
}

void Tpkt_protocol::receive_idle(Packet& pkt)
{
    if (pkt.pull8() == 0x03)
        next_state(wait_r);
    else
        std::clog << name().name() << " bad TPKT packet start." << std::endl;
}

void Tpkt_protocol::receive_wait_r(Packet& pkt)
{
    if (pkt.pull8() == 0x00) {
        next_state(len_1);
    } else {
        std::clog << name().name() << " bad TPKT reserved." << std::endl;
        next_state(idle);
    }
}

void Tpkt_protocol::receive_len_1(Packet& pkt)
{
    count_ = pkt.pull8();
    next_state(len_2);
}

void Tpkt_protocol::receive_len_2(Packet& pkt)
{
    count_ = (count_ << 8) | pkt.pull8();
    if (count_ <= 3) {
        std::clog << "TPKT too small " << count_ << std::endl;
        next_state(idle);
        return;
    }
    count_ -= header_size;
    body_.reset();
    body_.reserve_head(0);
    if (count_ > body_.tailroom()) {
        std::clog << "TPKT length too big, received = " << count_ << " max = " << body_.tailroom()
                  << std::endl;
        body_.reset();
        next_state(ignore);
        return;
    }
    next_state(body);
}

void Tpkt_protocol::receive_body(Packet& pkt)
{
    unsigned int const n = std::min<unsigned int>(pkt.length(), count_);
    body_.put(pkt.data(), n);
    pkt.drop(n);
    count_ -= n;
    if (count_ == 0) {
        // The state is idle before the payload goes up, so that whatever
        // the receiver does (even a reset) finds the layer consistent.
        Packet done = body_;
        body_.reset();
        next_state(idle);
        on_message(done);
    }
}

void Tpkt_protocol::receive_ignore(Packet& pkt)
{
    unsigned int const n = std::min<unsigned int>(pkt.length(), count_);
    pkt.drop(n);
    count_ -= n;
    if (count_ == 0)
        next_state(idle);
}
