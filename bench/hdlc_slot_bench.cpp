// The HDLC packet slot in process on the simulated board, packages per
// second each way:
// - sending: an `hdlcPackages` ioctl of 32 bodies of 100 octets, through the
//   control path, framed and written on the simulated channel; the channel
//   takes about ten frames at a time, and is told when it can take more as
//   the loop would tell it (the board's work of taking the frames away, and
//   the loop pass itself, which every descriptor shares, are not timed);
// - receiving: frames handed to the slot as the channel reads them, into the
//   pending batch, each batch of 128 encoded and written to the host;
// - receiving from the channel: the same with the channel's read of each
//   frame from the simulated controller.

#include <benchmark/benchmark.h>

#include "signalling/hdlc_slot.hpp"
#include "sim/board.hpp"
#include "sim/mcc.hpp"
#include "tests/slots/slots_host.hpp"

#include "tests/support/quiet.hpp"

#include <chrono>
#include <string>
#include <vector>

#include <poll.h>

namespace {

using TestQuiet::Quiet;

constexpr unsigned kAddress = 0x1234;

// An HDLC slot (10) that feeds a trunk slot on switch channel 3, its channel
// open and ready.
// A healthy board and the frozen loop clock, before anything opens a device.
struct Board {
    Board()
    {
        Sim::Board::instance().Reset();
        Mux::test::freeze();
    }
    ~Board() { Mux::test::thaw(); }
};

struct Link {
    Link()
    {
        LGCP::CreateParams p;
        LGCP::HdlcParams& h = p.select_hdlcParams();
        h.set_trunk(1);
        h.set_log(0);
        h.set_address(kAddress);
        host.Create(10, p);
        host.Create(3, SlotsTest::Trunk(0, 3));
        host.Connect(10, 3);
        host.Discard();
        Pass();
        slot = dynamic_cast<HdlcSlot*>(host.slots().Get(10));
    }
    void Pass() { Mux::test::run_once(0); }

    Quiet quiet;
    Board board;
    HdlcSlotFactory factory;
    SlotsTest::Host host;
    HdlcSlot* slot = nullptr;
};

void BM_HdlcSendPackages(benchmark::State& state)
{
    Link link;
    Sim::Mcc& mcc = Sim::Board::instance().device<Sim::Mcc>();
    LGCP::Message m;
    m.set_seq(1);
    m.set_slot(10);
    auto& list = m.get_pdu().select_command().select_ioctl().select_hdlcPackages();
    for (int i = 0; i < 32; ++i) {
        LGCP::HdlcPackage p;
        p.set_body(std::string(100, static_cast<char>(i)));
        list.push_back(p);
    }
    for (auto _ : state) {
        link.host.server().OnMessage(m);
        // The channel takes about ten frames at a time.
        while (link.slot->queued() > 0) {
            state.PauseTiming();
            mcc.Pump();
            mcc.TakeSent(3);
            state.ResumeTiming();
            link.slot->channel().on_event(-1, POLLOUT);
        }
        state.PauseTiming();
        mcc.Pump();
        mcc.TakeSent(3);
        link.host.Discard();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 32);
    state.SetLabel("packages sent, 100 octets each");
}
BENCHMARK(BM_HdlcSendPackages);

std::vector<unsigned char> Frame(unsigned char n)
{
    // More follows: the batch is sent when it is full (128 packages).
    return {kAddress >> 8, kAddress & 0xFF, 0, n, 0x80, n, n, n};
}

void BM_HdlcReceivePackages(benchmark::State& state)
{
    Link link;
    unsigned char n = 0;
    for (auto _ : state) {
        auto const f = Frame(++n);
        Packet p;
        p.reserve_head(0);
        p.put(f.data(), static_cast<unsigned int>(f.size()));
        link.slot->on_hdlc_receive(p);
        if (n == 0)
            link.host.Discard();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("frames to the pending batch");
}
BENCHMARK(BM_HdlcReceivePackages);

void BM_HdlcReceiveFromChannel(benchmark::State& state)
{
    Link link;
    Sim::Mcc& mcc = Sim::Board::instance().device<Sim::Mcc>();
    unsigned char n = 0;
    for (auto _ : state) {
        for (int i = 0; i < 8; ++i) {
            auto const f = Frame(++n);
            mcc.Receive(3, f.data(), f.size());
        }
        if (n < 8)
            link.host.Discard();
        auto const start = std::chrono::steady_clock::now();
        for (int i = 0; i < 8; ++i)
            link.slot->channel().on_event(-1, POLLIN);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["rxSU"] = link.slot->channel().rxSU;
    state.SetItemsProcessed(state.iterations() * 8);
    state.SetLabel("frames read from the channel to the pending batch");
}
BENCHMARK(BM_HdlcReceiveFromChannel)->UseManualTime();

} // namespace
