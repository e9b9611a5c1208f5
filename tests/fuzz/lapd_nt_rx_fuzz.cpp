// The network side of a basic-rate D channel fed with frames from the line,
// layer-3 messages and test-clock steps. The first octet is the log level
// (0 to 3). Then records, until the input ends:
//   1..0xEF     a frame of that many octets follows (cut at the input's end)
//   0x00 n      the loop clock moves n * 100 ms on, firing the timers due
//   0xF0 c t    a layer-3 message with call reference c and message type t
//   0xF1        activation              0xF2   deactivation
// Any other octet is skipped. After every record at most eight terminals are
// assigned, their TEIs are distinct and every acknowledge queue holds at most
// 7 frames; at the end, with the layer gone, no packet buffer and no timer is
// left.

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
#include "signalling/lapd_nt.hpp"
#include "tests/support/quiet.hpp"

namespace {

// The line and layer 3 at once: takes whatever comes.
class Owner : public ProtocolsFamily {
public:
    void transmit(Packet&) override {}
    void on_message(Packet&) override {}
    void on_status(Protocol_status) override {}
    void on_deactivate(Protocol_status) override {}
    void on_activate() override {}
};

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

void Check(const ISDN::LAPD_NT& lapd)
{
    bool seen[128] = {};
    for (unsigned int u = 0; u < ISDN::LAPD_NT::users_count; ++u) {
        const auto& user = lapd.user(u);
        if (user.queue_ack() > 7)
            Broken("acknowledge queue beyond 7");
        if (user.link_state() == 0)
            continue;
        if (seen[user.tei() & 127])
            Broken("one TEI assigned twice");
        seen[user.tei() & 127] = true;
    }
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
        Owner owner;
        auto* lapd = new ISDN::LAPD_NT;
        lapd->set_log(data[0] & 3u);
        owner.add_protocol_tail(lapd);
        owner.activate();

        std::size_t i = 1;
        while (i < size) {
            const std::uint8_t op = data[i++];
            if (op >= 1 && op <= 0xEF) {
                const std::size_t n = op <= size - i ? op : size - i;
                Packet frame;
                frame.reserve_head(0);
                frame.put(data + i, static_cast<unsigned int>(n));
                i += n;
                lapd->receive(frame);
            } else if (op == 0x00) {
                const unsigned int steps = i < size ? data[i++] : 1;
                Mux::test::advance(steps * 100u);
            } else if (op == 0xF0) {
                const std::uint8_t cref = i < size ? data[i++] : 0;
                const std::uint8_t type = i < size ? data[i++] : 0;
                Packet message;
                owner.prepare_head(message);
                message.put8(0x08);
                message.put8(0x01);
                message.put8(cref);
                message.put8(type);
                owner.message(message);
            } else if (op == 0xF1) {
                owner.activate();
            } else if (op == 0xF2) {
                owner.deactivate();
            }
            Check(*lapd);
        }
    }
    if (multiplexer.timer_count() != 0)
        Broken("a timer outlived the layer");
    if (Packet::pool_free() != packets)
        Broken("packet buffers leaked");
    std::clog.rdbuf(saved_log);
    return 0;
}
