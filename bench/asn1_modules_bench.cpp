// LGCP message coding speed (aligned PER) with the generated protocol
// modules: messages per second and heap allocations per message.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iterator>
#include <vector>

#include "asn1/asn1.hpp"
#include "asn1/modules/LGCP.hpp"

// Every allocation of the program is counted, so a case can count the
// ones its own loop makes.
#include "alloc_count.hpp"

namespace {

LGCP::Message CreateRtpMessage()
{
    LGCP::Message m;
    m.set_seq(74565);
    m.set_slot(17);
    LGCP::CreateRtpParams& create = m.get_pdu().select_command().select_create().select_rtp();
    TERM::RtpParams& rtp = create.get_codecRTP();
    rtp.set_payload(TERM::Payload::ptG729);
    rtp.get_dhost().set_iaddr("192.168.10.20");
    rtp.get_dhost().set_port(40000);
    rtp.get_shost().set_iaddr("192.168.10.1");
    rtp.get_shost().set_port(40002);
    rtp.include_shost();
    rtp.set_dname("gw-rtp-17");
    rtp.get_jitter().set_start(40);
    rtp.get_jitter().set_max(200);
    rtp.include_jitter();
    rtp.set_pfactor(2);
    rtp.set_crate(8000);
    rtp.set_vad(true);
    rtp.get_echo().set_suppressor(true);
    rtp.get_echo().set_canceller(true);
    rtp.include_echo();
    TERM::VezeRadioStatus& status = rtp.get_radio().get_status().select_veze();
    status.get_freq().set_channel(3);
    status.get_freq().set_frequency("118.100");
    rtp.include_radio();
    rtp.get_rtp_e2m().set_slot(4);
    rtp.get_rtp_e2m().set_channel(1);
    rtp.include_rtp_e2m();
    rtp.set_ssrc(0xDEADBEEFu);
    rtp.set_ttl(64);
    rtp.set_qos_dscp(TERM::IpQoSDSCP::ef);
    rtp.set_dynamic_payload(101);
    create.set_txPayload(TERM::Payload::ptG729);
    create.set_rxPayload(TERM::Payload::ptG729);
    return m;
}

LGCP::Message TonecMessage()
{
    LGCP::Message m;
    m.set_slot(3);
    LGCP::TonecEvent& tonec = m.get_pdu().select_signal().select_tonec();
    tonec.set_timestamp(1000);
    tonec.get_event().set_dtmf(5);
    return m;
}

LGCP::Message ProtoVezeMessage()
{
    LGCP::Message m;
    m.set_slot(9);
    DIZORU::ProtoVezePackets& list = m.get_pdu().select_signal().select_protoVeze();
    DIZORU::ProtoVezePacket packet;
    packet.set_msgLength(24);
    packet.set_msgID(DIZORU::ProtoVezeMsgID::gw_keep_alive);
    packet.set_stateProtocol(DIZORU::ProtoVezeProtocol::protocol_v2);
    packet.set_stateMode(DIZORU::ProtoVezeMode::radio);
    packet.set_srcAddr(DIZORU::ProtoVezeAddress::lgw);
    packet.set_dstAddr(DIZORU::ProtoVezeAddress::rgw);
    packet.set_srcChannel(1);
    DIZORU::ProtoVezePacketPayloadGWKeepAliveV2& alive =
        packet.get_payload().select_gw_keep_alive().select_keep_alive_v2();
    alive.set_gateway_id(12);
    alive.set_bus_windows_size(8);
    for (int i = 0; i < 16; ++i) {
        packet.set_msgSeqNum(i);
        packet.set_dstChannel(i);
        list.get_packets().push_back(packet);
    }
    return m;
}

std::vector<char> Encode(const LGCP::Message& m)
{
    std::vector<char> out;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    if (!env.encode(m, std::back_inserter(out)))
        std::abort();
    return out;
}

void Report(benchmark::State& state, std::size_t allocations)
{
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs/msg"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void EncodeCase(benchmark::State& state, LGCP::Message (*make)())
{
    const LGCP::Message m = make();
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    std::vector<char> out;
    out.reserve(1024);
    const std::size_t before = Bench::allocations;
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(env.encode(m, std::back_inserter(out)));
        benchmark::ClobberMemory();
    }
    Report(state, Bench::allocations - before);
    state.counters["octets"] = static_cast<double>(out.size());
}

void DecodeCase(benchmark::State& state, LGCP::Message (*make)())
{
    const std::vector<char> bytes = Encode(make());
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    const std::size_t before = Bench::allocations;
    for (auto _ : state) {
        LGCP::Message m;
        if (!env.decode(bytes.data(), bytes.data() + bytes.size(), m, true))
            std::abort();
        benchmark::DoNotOptimize(m);
    }
    Report(state, Bench::allocations - before);
}

// A whole exchange step: the message decoded from the wire and encoded back.
void RoundTripCase(benchmark::State& state, LGCP::Message (*make)())
{
    const std::vector<char> bytes = Encode(make());
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    std::vector<char> out;
    out.reserve(1024);
    const std::size_t before = Bench::allocations;
    for (auto _ : state) {
        LGCP::Message m;
        if (!env.decode(bytes.data(), bytes.data() + bytes.size(), m, true))
            std::abort();
        out.clear();
        if (!env.encode(m, std::back_inserter(out)))
            std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, Bench::allocations - before);
}

BENCHMARK_CAPTURE(EncodeCase, CreateRtp, CreateRtpMessage);
BENCHMARK_CAPTURE(DecodeCase, CreateRtp, CreateRtpMessage);
BENCHMARK_CAPTURE(EncodeCase, Tonec, TonecMessage);
BENCHMARK_CAPTURE(DecodeCase, Tonec, TonecMessage);
BENCHMARK_CAPTURE(RoundTripCase, Tonec, TonecMessage);
BENCHMARK_CAPTURE(EncodeCase, ProtoVeze16, ProtoVezeMessage);
BENCHMARK_CAPTURE(DecodeCase, ProtoVeze16, ProtoVezeMessage);

} // namespace
