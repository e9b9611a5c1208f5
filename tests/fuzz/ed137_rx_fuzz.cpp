// The ED-137 gateway controller's receive handling on any octets. The input
// is cut into chunks: one octet of clock step (low 7 bits, in 16 ms units)
// and source (top bit), one octet of header length (low 4 bits), then the
// header octets (at most 12 chunks are read). Each header goes through the simulated radio-extension
// driver into one read burst, then the clock moves on (keep-alives and loss
// supervision run). Every request handed to the sink is valid, and its
// rtpExt signal encodes and decodes back to an equal value.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>

#include "asn1/modules/LGCP.hpp"
#include "core/clock.hpp"
#include "radio/ed137_control.hpp"
#include "sim/board.hpp"
#include "sim/rtp_ext.hpp"
#include "tests/fuzz/asn1_fuzz.hpp"

namespace {

struct Sink : RTPSignalling::IRadioControlNotify {
    void RadioControlNotify(TERM::RtpRadioRequest const& request) override
    {
        if (!ASN1::isValid(request))
            GwFuzz::Fail("invalid request reached the sink", &request);
        LGCP::Message m;
        m.set_slot(5);
        m.get_pdu().select_signal().select_rtpExt() = request;
        std::vector<char> bytes;
        if (!GwFuzz::Encode(ASN1::CoderEnv::per_Aligned, m, bytes))
            GwFuzz::Fail("rtpExt signal does not encode", &m);
        LGCP::Message back;
        if (!GwFuzz::Decode(ASN1::CoderEnv::per_Aligned, bytes.data(), bytes.data() + bytes.size(), back) ||
            back.do_compare(m) != 0)
            GwFuzz::Fail("rtpExt signal does not decode back", &m);
    }
    void RadioControlNotify(int code) override
    {
        if (code != 151)
            std::abort();
    }
};

struct World {
    World()
    {
        Mux::test::freeze();
        // Keep no request log: an input whose allocations outlive it would
        // make libFuzzer scan the whole heap for leaks after it.
        Sim::Board::instance().SetLogLimit(0);
        rtp_ext_init_params const init{0x0167, 0, {1, 123, 5, 1}};
        controller = std::make_unique<RTPSignalling::ED137RadioGWControl>(init);
        controller->SetNotify(&sink);
        controller->SetTimerEnable(true);
        open = Sim::Board::instance().device<Sim::RtpExt>().Sessions().begin()->first;
    }
    Sink sink;
    std::unique_ptr<RTPSignalling::ED137RadioGWControl> controller;
    int open = -1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    static World world;
    // Enough headers for every rule (runs, sources, rate limit, silence);
    // more would only repeat the driver calls.
    std::size_t i = 0;
    for (int chunk = 0; chunk < 12 && i + 2 <= size; ++chunk) {
        std::uint8_t const step = data[i];
        std::size_t const len = data[i + 1] & 0x0F;
        i += 2;
        std::size_t const n = len < size - i ? len : size - i;
        std::vector<unsigned char> header(data + i, data + i + n);
        i += n;
        std::uint32_t const source = htonl((step & 0x80) != 0 ? 0x0A000002 : 0x0A000001);
        if (!header.empty())
            Sim::Board::instance().device<Sim::RtpExt>().Inject(world.open, 0x1000u + (step >> 7), source,
                                                                header);
        world.controller->OnRtpExtEvent(world.controller->ext_fd(), POLLIN);
        Mux::test::advance(static_cast<std::uint32_t>(step & 0x7F) * 16u);
    }
    return 0;
}
