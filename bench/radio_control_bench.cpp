// The ED-137 gateway controller's receive path per header on the simulated
// radio-extension driver: packet-information request, read, unpack, source
// comparison and the rate limit of reports. A repeated header (rate-limited,
// nothing reported) and alternating headers (each reported, a TERM request
// built), beside the driver calls alone (one packet-information request and
// one read per header). Eight headers wait per wake-up; the figures are per
// header. The packets are queued inside the timed loop in all three.
//
// The VEZE gateway's receive path likewise: a run of equal packets from one
// source (collapsed to one report per wake-up) and packets from two
// sources in turn (each reported).

#include <benchmark/benchmark.h>

#include "core/clock.hpp"
#include "hardware/driver_port.hpp"
#include "radio/ed137_control.hpp"
#include "radio/veze_control.hpp"
#include "sim/board.hpp"
#include "sim/rtp_ext.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

constexpr int kBurst = 8;

struct Counting : RTPSignalling::IRadioControlNotify {
    std::uint64_t reports = 0;
    void RadioControlNotify(TERM::RtpRadioRequest const&) override { ++reports; }
    void RadioControlNotify(int) override {}
};

std::vector<unsigned char> TxHeader(unsigned ptt, unsigned id)
{
    r2s_proto p;
    r2s_proto_init(&p, R2S_PROTO_TYPE_TX);
    r2s_proto_set_tx_header(&p, ptt, id, 0, 0);
    std::vector<unsigned char> buf(16);
    buf.resize(static_cast<std::size_t>(r2s_proto_pack(&p, buf.data(), static_cast<int>(buf.size()))));
    return buf;
}

// Eight packets per wake-up: all `first` from one source, or `first` and
// `second` from two sources in turn.
template <class Controller>
void Receive(benchmark::State& state, rtp_ext_init_params const& init,
             std::vector<unsigned char> const& first, std::vector<unsigned char> const& second,
             bool alternate)
{
    Mux::test::freeze(); // the ED-137 rate limit holds for the whole run
    Sim::Board::instance().Reset();
    auto c = std::make_unique<Controller>(init);
    Counting sink;
    c->SetNotify(&sink);
    Sim::RtpExt& driver = Sim::Board::instance().device<Sim::RtpExt>();
    int const open = driver.Sessions().begin()->first;
    std::uint32_t const a = htonl(0x0A000001), b = htonl(0x0A000002);
    for (auto _ : state) {
        for (int i = 0; i < kBurst; ++i) {
            bool const odd = alternate && (i & 1) != 0;
            driver.Inject(open, 0x1111, odd ? b : a, odd ? second : first);
        }
        c->OnRtpExtEvent(c->ext_fd(), POLLIN);
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
    state.counters["reports"] = static_cast<double>(sink.reports);
    c.reset();
    Sim::Board::instance().Reset();
    Mux::test::thaw();
}

void Receive(benchmark::State& state, bool alternate)
{
    Receive<RTPSignalling::ED137RadioGWControl>(state, rtp_ext_init_params{0x0167, 0, {1, 123, 5, 1}},
                                                TxHeader(1, 3), TxHeader(0, 3), alternate);
}

void BM_ED137ReceiveRepeatedHeader(benchmark::State& state)
{
    Receive(state, false);
}
BENCHMARK(BM_ED137ReceiveRepeatedHeader);

void BM_ED137ReceiveAlternatingHeaders(benchmark::State& state)
{
    Receive(state, true);
}
BENCHMARK(BM_ED137ReceiveAlternatingHeaders);

std::vector<unsigned char> VezePtt(unsigned priority)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = SIG_PROTO_GW_FLAG_PTT;
    p.priority = priority;
    p.flag_p = 1;
    std::vector<unsigned char> buf(16);
    buf.resize(static_cast<std::size_t>(sig_proto_pack(&p, buf.data(), static_cast<int>(buf.size()))));
    return buf;
}

void VezeReceive(benchmark::State& state, bool alternate)
{
    Receive<RTPSignalling::VezeRadioGWControl>(state, rtp_ext_init_params{0x1337, 0, {0, 0, 0, 0}},
                                               VezePtt(3), VezePtt(4), alternate);
}

void BM_VezeReceiveEqualPackets(benchmark::State& state)
{
    VezeReceive(state, false);
}
BENCHMARK(BM_VezeReceiveEqualPackets);

void BM_VezeReceiveDistinctPackets(benchmark::State& state)
{
    VezeReceive(state, true);
}
BENCHMARK(BM_VezeReceiveDistinctPackets);

void BM_RtpExtDriverCallsAlone(benchmark::State& state)
{
    Sim::Board::instance().Reset();
    int const fd = Driver::Open("/dev/rtp_ext", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    Sim::RtpExt& driver = Sim::Board::instance().device<Sim::RtpExt>();
    int const open = driver.Sessions().begin()->first;
    auto const on = TxHeader(1, 3);
    rtp_ext_packet_info info{};
    unsigned char buf[1024];
    for (auto _ : state) {
        for (int i = 0; i < kBurst; ++i)
            driver.Inject(open, 0x1111, htonl(0x0A000001), on);
        for (int i = 0; i < kBurst; ++i) {
            benchmark::DoNotOptimize(Driver::Ioctl(fd, RTP_EXT_PACKET_INFO, &info));
            benchmark::DoNotOptimize(::read(fd, buf, sizeof buf));
        }
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
    ::close(fd);
    Sim::Board::instance().Reset();
}
BENCHMARK(BM_RtpExtDriverCallsAlone);

} // namespace
