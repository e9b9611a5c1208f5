// The Q.921 data link fed with frames from the line, layer-3 requests and
// test-clock steps. The first octet chooses the layer: bit 0 the side
// (network when set), bit 1 basic rate, bits 2-4 the log level (0 to 4).
// Then records, until the input ends:
//   1..0xEF     a frame of that many octets follows (cut at the input's end)
//   0x00 n      the loop clock moves n * 25 ms on, firing the timers due
//   0xF0 n      DL-DATA of n + 1 octets
//   0xF1        DL-ESTABLISH        0xF2   DL-RELEASE
//   0xF3        MDL-REMOVE          0xF4 t MDL-ASSIGN of TEI t
//   0xF5        the channel refuses its sends, or takes them again (and
//               says it is ready)
// Any other octet is skipped. After every record the send window is at most
// k = 7, the queues within their sizes and the state 0 to 7; at the end,
// with the layer gone, no packet buffer and no timer is left.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>

#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "core/packet.hpp"
#include "core/protocol.hpp"
#include "signalling/lapd.hpp"
#include "tests/support/quiet.hpp"

namespace {

// The channel below: counts what it is given, refuses while told to.
class Channel : public GenericHDLC {
public:
    bool hdlc_transmit(Packet& frame) override
    {
        if (refusing)
            return false;
        sent += frame.length();
        return true;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refusing; }

    bool refusing = false;
    std::size_t sent = 0;
};

// Layer 3 and the owner: takes whatever comes up.
class Owner : public ProtocolsFamily, public ISDN::LAPD::Notify {
public:
    void on_message(Packet&) override {}
    void on_status(Protocol_status) override {}
    void on_deactivate(Protocol_status) override {}
    void on_activate() override {}
    void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}
};

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

void Check(const ISDN::LAPD& lapd)
{
    const auto& s = lapd.full_state();
    if (s.state > 7)
        Broken("state outside 0..7");
    if ((s.vs - s.va).value() > ISDN::LAPD::k)
        Broken("V(S) - V(A) above k");
    if (lapd.queue_out() > 135 || lapd.queue_ack() > 7)
        Broken("queue beyond its size");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    static TestQuiet::NullBuf null;
    std::streambuf* saved_log = std::clog.rdbuf(&null);
    const std::size_t packets = Packet::pool_free();
    Mux::test::freeze_at(1000000000ull);
    {
        Channel channel;
        Owner owner;
        const std::uint8_t config = data[0];
        auto* lapd = new ISDN::LAPD((config & 1) != 0 ? ISDN::Side::network : ISDN::Side::user,
                                    ((config >> 2) & 7) > 4 ? 4u : (config >> 2) & 7);
        lapd->hdlc = &channel;
        lapd->notify = &owner;
        lapd->ri_source = [] { return std::uint16_t{0x0102}; };
        if ((config & 2) != 0)
            lapd->change_to_bri();
        owner.add_protocol_tail(lapd);

        std::size_t i = 1;
        while (i < size) {
            const std::uint8_t op = data[i++];
            if (op >= 1 && op <= 0xEF) {
                const std::size_t n = op <= size - i ? op : size - i;
                Packet frame;
                frame.reserve_head(0);
                frame.put(data + i, static_cast<unsigned int>(n));
                i += n;
                lapd->on_hdlc_receive(frame);
            } else if (op == 0x00) {
                const unsigned int steps = i < size ? data[i++] : 1;
                Mux::test::advance(steps * 25u);
            } else if (op == 0xF0) {
                const unsigned int n = (i < size ? data[i++] : 0) + 1u;
                Packet message;
                owner.prepare_head(message);
                for (unsigned int j = 0; j < n; ++j)
                    message.put8(static_cast<std::uint8_t>(j));
                owner.message(message);
            } else if (op == 0xF1) {
                owner.activate();
            } else if (op == 0xF2) {
                owner.deactivate();
            } else if (op == 0xF3) {
                lapd->mdl_remove();
            } else if (op == 0xF4) {
                lapd->mdl_assign(i < size ? data[i++] : 0);
            } else if (op == 0xF5) {
                channel.refusing = !channel.refusing;
                if (!channel.refusing)
                    lapd->on_hdlc_ready();
            }
            Check(*lapd);
        }
        ACP::IsdnLinkInfo info;
        lapd->GetInfo(info);
    }
    if (multiplexer.timer_count() != 0)
        Broken("a timer outlived the layer");
    if (Packet::pool_free() != packets)
        Broken("packet buffers leaked");
    std::clog.rdbuf(saved_log);
    return 0;
}
