// RTP slots and their RTCP:
// - the SDES of a session start (three items) and the BYE of its end,
//   encoded into the 1024-byte buffer they are sent from;
// - the session record filled from a decoded `create`, against the aligned
//   PER decode of that same message, measured in the same run: the first
//   over the second is what the record adds to taking a create in;
// - an RTP slot created and destroyed through `Slots` on the simulated
//   board (the simulated driver dominates: reported, not judged).

#include <benchmark/benchmark.h>

#include "tests/support/quiet.hpp"
#include "bench/slots_pairs.hpp"
#include "control/lgcp_coding.hpp"
#include "sim/board.hpp"
#include "slots/rtp_slot.hpp"
#include "tests/slots/rtp_create.hpp"
#include "tests/slots/slots_host.hpp"

#include <vector>

namespace {

using Bench::Command;
using Bench::Pairs;
using TestQuiet::Quiet;

void BM_SdesEncode(benchmark::State& state)
{
    RTPC::SDES sdes(0x12345678);
    sdes.add(RTPC::SDES::Item::CNAME, RtpSlot::kCname);
    sdes.add(RTPC::SDES::Item::EMAIL, RtpSlot::kEmail);
    sdes.add(RTPC::SDES::Item::PHONE, RtpSlot::kPhone);
    char buffer[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(sdes.encode(buffer, sizeof buffer));
        benchmark::ClobberMemory();
    }
    state.SetLabel("three items");
}
BENCHMARK(BM_SdesEncode);

void BM_ByeEncode(benchmark::State& state)
{
    RTPC::BYE bye(0x12345678, "session end");
    char buffer[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(bye.encode(buffer, sizeof buffer));
        benchmark::ClobberMemory();
    }
    state.SetLabel("\"session end\"");
}
BENCHMARK(BM_ByeEncode);

// A create as a host sends it: shost, packet factor, QoS, a fixed SSRC.
LGCP::CreateParams Create(std::uint16_t dport, std::uint16_t sport)
{
    LGCP::CreateParams c = RtpTest::RtpCreate(dport, sport);
    TERM::RtpParams& p = c.get_rtp().get_codecRTP();
    p.set_pfactor(2);
    p.set_ssrc(0x12345678);
    p.set_qos_dscp(TERM::IpQoSDSCP::ef);
    return c;
}

std::vector<char> CreateMessage()
{
    LGCP::Message m;
    m.set_seq(1);
    m.set_slot(3);
    m.get_pdu().select_command().set_create(Create(16384, 16386));
    std::vector<char> out;
    CtrlSrv::lgcp_encode(m, out);
    return out;
}

void BM_CreateDecode(benchmark::State& state)
{
    std::vector<char> bytes = CreateMessage();
    for (auto _ : state) {
        LGCP::Message m;
        benchmark::DoNotOptimize(CtrlSrv::lgcp_decode(bytes.data(), bytes.size(), m));
    }
    state.SetLabel("aligned PER decode of the create");
}
BENCHMARK(BM_CreateDecode);

void BM_SessionFill(benchmark::State& state)
{
    std::vector<char> bytes = CreateMessage();
    LGCP::Message m;
    CtrlSrv::lgcp_decode(bytes.data(), bytes.size(), m);
    LGCP::CreateRtpParams const& create = m.get_pdu().get_command().get_create().get_rtp();
    SsrcSource ssrc(1);
    for (auto _ : state) {
        RtpSessionFill f = FillRtpSession(create, ssrc);
        benchmark::DoNotOptimize(f.params);
    }
    state.SetLabel("session record from the decoded create");
}
BENCHMARK(BM_SessionFill);

void BM_RtpCreateDestroy(benchmark::State& state)
{
    Quiet quiet;
    Sim::Board::instance().Reset();
    RtpFactory factory;
    SlotsTest::Host host;
    LGCP::Command create, destroy;
    create.set_create(Create(17300, 17302));
    destroy.set_destroy();
    Pairs(state, host, Command(create, 7, 1), Command(destroy, 7, 2));
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("create+destroy pair, simulated driver");
}
BENCHMARK(BM_RtpCreateDestroy);

} // namespace
