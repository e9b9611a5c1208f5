// The VEZE gateway controller's receive handling on any octets. The first
// octet chooses the host's last command (bit 0: push-to-talk of the session
// at 10.0.0.2, else none; bit 1: a status with every standby field set).
// The rest is cut into chunks: one octet of clock step (low 7 bits, in
// 16 ms units) and source (top bit), one octet of packet length (low 6
// bits), then the packet octets (at most 12 chunks are read). Each packet
// goes through the simulated radio-extension driver into one read burst,
// then the clock moves on (the repeats run). Every request handed to the
// sink is strictly valid, and its rtpExt signal encodes and decodes back to
// an equal value.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/TERM.hpp"
#include "core/clock.hpp"
#include "radio/veze_control.hpp"
#include "sim/board.hpp"
#include "sim/rtp_ext.hpp"
#include "tests/fuzz/asn1_fuzz.hpp"

namespace {

struct Sink : RTPSignalling::IRadioControlNotify {
    void RadioControlNotify(TERM::RtpRadioRequest const& request) override
    {
        if (!ASN1::isStrictlyValid(request))
            GwFuzz::Fail("request that is not strictly valid reached the sink", &request);
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
    void RadioControlNotify(int) override { std::abort(); }
};

TERM::RadioModifier Transmission(bool ptt)
{
    TERM::RadioModifier m;
    TERM::VezeRadioModifier& v = m.select_veze();
    v.get_addr().set_session_addr("10.0.0.2");
    TERM::RadioCommandWMTrans& t = v.get_params().select_wm_trans();
    t.get_flags().set_prio(8);
    t.get_flags().set_ptt(ptt);
    t.set_ip("10.0.0.2");
    t.set_ssrc(0x1001);
    return m;
}

TERM::RadioStatus Status()
{
    TERM::RadioStatus s;
    TERM::VezeRadioStatus& v = s.select_veze();
    v.get_freq().set_frequency("118.500000");
    v.get_squelshe().setValue(3);
    v.get_rte().setValue(1);
    v.set_standby_group(4);
    return s;
}

struct World {
    World()
    {
        Mux::test::freeze();
        // Keep no request log: an input whose allocations outlive it would
        // make libFuzzer scan the whole heap for leaks after it.
        Sim::Board::instance().SetLogLimit(0);
        rtp_ext_init_params const init{0x1337, 0, {0, 0, 0, 0}};
        controller = std::make_unique<RTPSignalling::VezeRadioGWControl>(init);
        controller->SetNotify(&sink);
        controller->SetTimerEnable(true);
        open = Sim::Board::instance().device<Sim::RtpExt>().Sessions().begin()->first;
    }
    Sink sink;
    std::unique_ptr<RTPSignalling::VezeRadioGWControl> controller;
    int open = -1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    static World world;
    if (size < 1)
        return 0;
    if ((data[0] & 2) != 0)
        world.controller->SendASNToChan(Status());
    world.controller->SendASNToChan(Transmission((data[0] & 1) != 0));
    std::size_t i = 1;
    for (int chunk = 0; chunk < 12 && i + 2 <= size; ++chunk) {
        std::uint8_t const step = data[i];
        std::size_t const len = data[i + 1] & 0x3F;
        i += 2;
        std::size_t const n = len < size - i ? len : size - i;
        std::vector<unsigned char> packet(data + i, data + i + n);
        i += n;
        std::uint32_t const source = htonl((step & 0x80) != 0 ? 0x0A000002 : 0x0A000001);
        if (!packet.empty())
            Sim::Board::instance().device<Sim::RtpExt>().Inject(world.open, 0x1000u + (step >> 7), source,
                                                                packet);
        world.controller->OnRtpExtEvent(world.controller->ext_fd(), POLLIN);
        Mux::test::advance(static_cast<std::uint32_t>(step & 0x7F) * 16u);
    }
    return 0;
}
