// Cost per packet of the radio codecs on the controllers' paths: pack plus
// unpack with the controllers' 1024-octet buffer (the packer clears it
// whole), the source comparison of the receive loop, and the text
// comparison (two renderings into 8192-octet buffers).

#include <benchmark/benchmark.h>

#include "radio/r2s_proto.hpp"
#include "radio/sig_proto.hpp"

#include <arpa/inet.h>

namespace {

constexpr int kBuffer = 1024;

template <class Unpack>
void pack_unpack_r2s(benchmark::State& state, r2s_proto const& p, Unpack unpack)
{
    unsigned char buf[kBuffer];
    r2s_proto back;
    r2s_proto_init(&back, 0);
    for (auto _ : state) {
        int const n = r2s_proto_pack(&p, buf, sizeof buf);
        benchmark::DoNotOptimize(unpack(&back, buf, n));
        benchmark::ClobberMemory();
    }
}

void BM_R2sRxWithSqi(benchmark::State& state)
{
    r2s_proto p;
    r2s_proto_init(&p, R2S_PROTO_TYPE_RX);
    r2s_proto_set_rx_header(&p, 1, 1, 5, 0, 1, 0);
    r2s_proto_add_rx_sqi(&p, 31, 0);
    pack_unpack_r2s(state, p, r2s_proto_unpack_rx);
}
BENCHMARK(BM_R2sRxWithSqi);

void BM_R2sTxAllFeatures(benchmark::State& state)
{
    r2s_proto p;
    r2s_proto_init(&p, R2S_PROTO_TYPE_TX);
    r2s_proto_set_tx_header(&p, 1, 33, 0, 1);
    r2s_proto_tx_additional_climax_time_delay const delay{5};
    r2s_proto_tx_additional_rrc const rrc{{1, 0, 1, 0, 0, 1, 0, 1}};
    r2s_proto_tx_additional_rrm const rrm{1, 0x123456};
    r2s_proto_add_tx_time_delay(&p, &delay);
    r2s_proto_add_tx_rrc(&p, &rrc);
    r2s_proto_add_tx_rrm(&p, &rrm);
    pack_unpack_r2s(state, p, r2s_proto_unpack_tx);
}
BENCHMARK(BM_R2sTxAllFeatures);

void pack_unpack_sig(benchmark::State& state, sig_proto const& p)
{
    unsigned char buf[kBuffer];
    sig_proto back;
    sig_proto_init(&back);
    for (auto _ : state) {
        int const n = sig_proto_pack(&p, buf, sizeof buf);
        benchmark::DoNotOptimize(sig_proto_unpack(&back, buf, n));
        benchmark::ClobberMemory();
    }
}

void BM_VezeWmChan(benchmark::State& state)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = SIG_PROTO_WM_CHAN;
    sig_proto_set_base(&p, 15, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0);
    sig_proto_set_wm_chan(&p, 7, 118.5f, 50, 3);
    pack_unpack_sig(state, p);
}
BENCHMARK(BM_VezeWmChan);

void BM_VezeGwSelCall32(benchmark::State& state)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = SIG_PROTO_GW_SEL_CALL;
    sig_proto_set_gw_selcall(&p, "0123456789ABCDEF0123456789ABCDEF", 32);
    pack_unpack_sig(state, p);
}
BENCHMARK(BM_VezeGwSelCall32);

sig_proto chan_from(std::uint32_t addr)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = SIG_PROTO_WM_CHAN;
    p.src_addr = addr;
    p.src_ssrc = 0x11223344;
    sig_proto_set_wm_chan(&p, 7, 118.5f, 50, 3);
    return p;
}

void BM_VezeCmpHeader(benchmark::State& state)
{
    sig_proto const a = chan_from(htonl(0x0A000001));
    sig_proto const b = chan_from(htonl(0x0A000001));
    for (auto _ : state)
        benchmark::DoNotOptimize(cmp_sig_proto_header(&a, &b));
}
BENCHMARK(BM_VezeCmpHeader);

void BM_VezeCmpRendered(benchmark::State& state)
{
    sig_proto const a = chan_from(htonl(0x0A000001));
    sig_proto const b = chan_from(htonl(0x0A000002));
    for (auto _ : state)
        benchmark::DoNotOptimize(cmp_sig_proto(&a, &b));
}
BENCHMARK(BM_VezeCmpRendered);

} // namespace
