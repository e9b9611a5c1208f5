// Frames from the line into an HDLC packet slot's receive path, between
// steps of the loop clock, on the simulated board.
//
// Input: the slot's address (two octets), then items:
//   0xFF n       the clock moves on by 2 n ms (the flush timer may fire)
//   L octets     a frame of L (0..254) octets
// Every body of a frame addressed to the slot must reach the host exactly
// once and in order (in the `ioctl` signals, or still pending at the end),
// and nothing else; the pending batch never grows past what one message
// carries. The host reads after every item, as a live host does: a frame
// may end its batch and go out alone, and a host that read nothing until
// the end would fill the socket pair and rightly lose the link. Nothing may
// be left behind: the packet pool is full again once the slot is gone, and
// the host is still connected.

#include "signalling/hdlc_slot.hpp"
#include "tests/slots/slots_host.hpp"

#include "sim/board.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using Body = std::vector<std::uint8_t>;

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

constexpr std::uint32_t kSlot = 1;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static SlotsTest::FuzzSetUp once;
    static HdlcSlotFactory factory;
    // One host for every run: each run creates its slot and destroys it.
    static SlotsTest::Host host;
    if (size < 2)
        return 0;
    std::size_t const pool = Packet::pool_free();
    {
        unsigned const address = (unsigned(data[0]) << 8) | data[1];
        LGCP::Command create;
        LGCP::HdlcParams& params = create.select_create().select_hdlcParams();
        params.set_trunk(1);
        params.set_log(0);
        params.set_address(static_cast<int>(address));
        host.Offer(create, kSlot, 1);
        auto* slot = dynamic_cast<HdlcSlot*>(host.slots().Get(kSlot));
        Check(slot != nullptr);

        std::vector<Body> expected, delivered;
        auto take = [&] {
            for (auto const& m : host.Take()) {
                if (m.kind != SlotsTest::Received::Signal || !m.signal.is_ioctl() ||
                    !m.signal.get_ioctl().is_hdlcPackages())
                    continue;
                for (auto const& p : m.signal.get_ioctl().get_hdlcPackages())
                    delivered.emplace_back(p.get_body().begin(), p.get_body().end());
            }
        };
        std::size_t i = 2;
        while (i < size) {
            std::uint8_t const item = data[i++];
            if (item == 0xFF) {
                unsigned const ms = i < size ? 2u * data[i++] : 0u;
                Mux::test::advance(ms);
            } else {
                std::size_t const length = std::min<std::size_t>(item, size - i);
                Packet frame;
                frame.reserve_head(0);
                frame.put(data + i, static_cast<unsigned int>(length));
                if (length >= 3 && ((unsigned(data[i]) << 8) | data[i + 1]) == address)
                    expected.emplace_back(data + i + 3, data + i + length);
                i += length;
                slot->on_hdlc_receive(frame);
            }
            take();
            Check(slot->pending().size() <= HdlcSlot::MaxBatchPackages);
            Check(slot->pending_octets() <= HdlcSlot::MaxBatchOctets);
        }
        // A lost link would explain missing bodies: say so first.
        Check(host.Connected());
        for (auto const& p : slot->pending())
            delivered.emplace_back(p.get_body().begin(), p.get_body().end());
        Check(delivered == expected);
        LGCP::Command destroy;
        destroy.set_destroy();
        host.Offer(destroy, kSlot, 2);
        host.Discard();
        Check(factory.slots.empty());
    }
    Check(Packet::pool_free() == pool);
    return 0;
}
