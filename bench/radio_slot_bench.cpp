// Radio RTP slots created and destroyed through `Slots` on the simulated
// board, against a plain RTP slot in the same run: a radio slot adds the
// extension session (open, init, attach, detach, close), its controller and
// the announce of the create's status. The first two over the third is the
// price of the radio part; the target is at most 1.5.

#include <benchmark/benchmark.h>

#include "bench/slots_pairs.hpp"
#include "radio/rtp_ext_slot.hpp"
#include "sim/board.hpp"
#include "tests/radio/ed137_messages.hpp"
#include "tests/radio/veze_messages.hpp"
#include "tests/slots/rtp_create.hpp"
#include "tests/slots/slots_host.hpp"
#include "tests/support/quiet.hpp"

namespace {

using Bench::Command;
using Bench::Pairs;
using TestQuiet::Quiet;

LGCP::CreateParams Create(TERM::RadioStatus const* status)
{
    LGCP::CreateParams c = RtpTest::RtpCreate(17400, 17402);
    TERM::RtpParams& p = c.get_rtp().get_codecRTP();
    p.set_pfactor(2);
    p.set_ssrc(0x12345678);
    if (status != nullptr) {
        TERM::RtpRadioRequest radio;
        radio.set_status(*status);
        p.set_radio(radio);
    }
    return c;
}

void Run(benchmark::State& state, TERM::RadioStatus const* status)
{
    Quiet quiet;
    Sim::Board::instance().Reset();
    RtpFactory rtp;
    RtpVEZEFactory veze;
    RtpED137Factory ed137;
    SlotsTest::Host host;
    LGCP::Command create, destroy;
    create.set_create(Create(status));
    destroy.set_destroy();
    Pairs(state, host, Command(create, 7, 1), Command(destroy, 7, 2));
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("create+destroy pair, simulated drivers");
}

void BM_PlainRtpCreateDestroy(benchmark::State& state)
{
    Run(state, nullptr);
}
BENCHMARK(BM_PlainRtpCreateDestroy);

void BM_VezeCreateDestroy(benchmark::State& state)
{
    TERM::RadioStatus s = RadioTest::VezeStatus();
    Run(state, &s);
}
BENCHMARK(BM_VezeCreateDestroy);

void BM_Ed137CreateDestroy(benchmark::State& state)
{
    TERM::RadioStatus s = RadioTest::Status(RadioTest::Header{});
    Run(state, &s);
}
BENCHMARK(BM_Ed137CreateDestroy);

} // namespace
