// Signal units from the line into an activated SLC, which the input moves
// through its states. Input: a sequence of steps, each led by one octet:
//   0x00..0x7F  a unit of that many octets, which follow;
//   0x80..0xBF  the test clock moves (octet & 0x3F) x 250 ms on;
//   0xC0..0xDF  a message from above of (octet & 0x1F) x 3 octets;
//   0xE0        the channel starts or stops refusing (then reports ready);
//   0xE1..0xFF  activate, deactivate, trunk down, emergency on or off.
// After every unit the RTB holds at most 127 MSUs and the TB at most 327,
// and a discarded unit (shorter than 3 octets, or octets missing behind
// its LI) passes nothing up. At the end no packet buffer is left in use.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>

#include "core/clock.hpp"
#include "core/protocol.hpp"
#include "signalling/ss7_slc.hpp"
#include "tests/support/quiet.hpp"

namespace {

[[noreturn]] void fail(const char* what, unsigned int value)
{
    std::fprintf(stderr, "fuzz property broken: %s (%u)\n", what, value);
    std::abort();
}

class Sink : public GenericHDLC {
public:
    bool hdlc_transmit(Packet&) override { return !refuse; }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refuse; }
    bool refuse = false;
};

class Above : public Protocol {
public:
    void receive(Packet&) override { ++got; }
    unsigned int got = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TestQuiet::NullBuf null;
    static bool ready = [] {
        std::clog.rdbuf(&null);
        std::cerr.rdbuf(&null);
        Mux::test::freeze();
        return true;
    }();
    (void)ready;
    if (size > 4096)
        return 0;
    const std::size_t free_before = Packet::pool_free();
    {
        Sink sink;
        ProtocolsList stack;
        SS7::SLC slc;
        Above above;
        slc.hdlc = &sink;
        slc.log = {true, true, true, true, true, true, true, true};
        stack.add_protocol_tail(&slc);
        stack.add_protocol_tail(&above);
        slc.local_activate();

        std::size_t i = 0;
        while (i < size) {
            const std::uint8_t op = data[i++];
            if (op < 0x80) {
                const std::size_t n = op < size - i ? op : size - i;
                Packet unit;
                unit.reserve_head(0);
                unit.put(data + i, static_cast<unsigned int>(n));
                i += n;
                const unsigned int got = above.got;
                const unsigned int rx = slc.statistics().msuRxCount;
                const bool discarded = n < 3 || (data[i - n + 2] & 0x3Fu) > n - 3;
                slc.on_hdlc_receive(unit);
                if (discarded && (above.got != got || slc.statistics().msuRxCount != rx))
                    fail("a discarded unit reached the layer", static_cast<unsigned int>(n));
                if (slc.rtb_count() > SS7::SLC::rtb_max)
                    fail("RTB over 127", slc.rtb_count());
                if (slc.tb_count() > 327)
                    fail("TB over 327", slc.tb_count());
            } else if (op < 0xC0) {
                Mux::test::advance((op & 0x3Fu) * 250u);
            } else if (op < 0xE0) {
                Packet m;
                slc.prepare_head(m);
                for (unsigned int k = 0; k < (op & 0x1Fu) * 3u; ++k)
                    m.put8(static_cast<std::uint8_t>(k));
                above.transmit(m);
            } else {
                switch ((op - 0xE0u) % 6u) {
                case 0:
                    sink.refuse = !sink.refuse;
                    if (!sink.refuse)
                        slc.on_hdlc_ready();
                    break;
                case 1:
                    slc.local_activate();
                    break;
                case 2:
                    slc.local_deactivate();
                    break;
                case 3:
                    slc.OnTrunkHardStatus(false);
                    break;
                default:
                    slc.emergency = !slc.emergency;
                    break;
                }
            }
        }
    }
    if (Packet::pool_free() != free_before)
        fail("packet buffers left in use", static_cast<unsigned int>(free_before - Packet::pool_free()));
    return 0;
}
