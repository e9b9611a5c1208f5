// Relaying audio through the voice slots, in process on the simulated board:
// - a network player: its TCP peer serves 32 KiB, which the slot copies to
//   its MCC channel, until the board has taken it all;
// - a recorder: 32 records of 1024 bytes arrive on its MCC channel and the
//   slot copies them to its TCP peer, until the peer has read them all.
// Each against a bare loop of read(2) and write(2) with the same 1024-byte
// buffer between the same kinds of descriptors (a TCP socket and an MCC
// channel of the simulated board), measured in the same run. Both sides of
// a pair feed and drain alike; the slot's bytes per second over the bare
// loop's is the cost of the event loop, the copier and the slot.
//
// Argument 1: the slot is connected through the switch, whose refresh
// (256 disable requests per loop pass) runs in every pass as in the
// program. Argument 0: the board has no switch, so nothing refreshes, and
// the stream is started as its first listener or its source would start it:
// the relay alone.

#include <benchmark/benchmark.h>

#include "core/clock.hpp"
#include "hardware/mcc_channel.hpp"
#include "sim/board.hpp"
#include "slots/voice_slot.hpp"
#include "tests/slots/mcc_voice_params.hpp"
#include "tests/support/quiet.hpp"
#include "tests/slots/slots_host.hpp"

#include <cerrno>
#include <csignal>
#include <memory>
#include <string>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using TestQuiet::Quiet;

constexpr std::size_t kBlock = 1024;
constexpr std::size_t kBytes = 32 * kBlock;
const char* const kMcc = "/dev/mcc/ctl";

// Bytes the programs wrote to the MCC channels, taken off the board.
std::size_t DrainBoard()
{
    std::size_t n = 0;
    for (auto const& record : Sim::Board::instance().Drain(kMcc))
        n += record.size();
    return n;
}

// kBytes into the MCC channels, as records of kBlock.
void FeedBoard(std::string const& block)
{
    for (std::size_t sent = 0; sent < kBytes; sent += kBlock)
        Sim::Board::instance().Inject(kMcc, block.data(), block.size());
}

std::size_t ReadPeer(int fd)
{
    char buf[16384];
    std::size_t n = 0;
    for (;;) {
        ssize_t r = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (r <= 0)
            return n;
        n += static_cast<std::size_t>(r);
    }
}

// A connected pair of TCP sockets on the loopback: (ours, the peer's).
std::pair<OwnedFd, OwnedFd> TcpPair()
{
    SlotsTest::Listener l;
    OwnedFd ours(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(l.port()));
    ::connect(ours.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    pollfd p{l.fd(), POLLIN, 0};
    ::poll(&p, 1, 1000);
    OwnedFd peer = l.Accept();
    NonBlockMode(ours.get());
    return {std::move(ours), std::move(peer)};
}

// Reads and writes until the source is empty; a full destination waits
// for the board to take frames (counted in `taken`).
void BareCopy(int src, int dst, char* buf, std::size_t& taken)
{
    for (;;) {
        ssize_t n = ::read(src, buf, kBlock);
        if (n <= 0)
            return;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = ::write(dst, buf + off, static_cast<std::size_t>(n - off));
            if (w < 0) {
                if (errno != EAGAIN)
                    return;
                taken += DrainBoard();
                continue;
            }
            off += w;
        }
    }
}

class Bed {
public:
    Bed()
    {
        std::signal(SIGPIPE, SIG_IGN);
        Sim::Board::instance().Reset();
        Sim::Board::instance().SetLogLimit(0);
        Mux::test::freeze();
    }
    ~Bed()
    {
        Mux::test::thaw();
        Sim::Board::instance().Reset();
    }
    Quiet quiet;
};

// A voice slot streaming with its TCP peer; with `refresh`, connected
// through the switch (trunk slot 7 its source, trunk slot 8 its listener).
class SlotBed : public Bed {
public:
    SlotBed(bool refresh, bool player)
    {
        Sim::Board::instance().SetPresent("/dev/hal", refresh);
        host_ = std::make_unique<SlotsTest::Host>();
        host_->Create(7, SlotsTest::Trunk(1, 5));
        host_->Create(8, SlotsTest::Trunk(1, 8));
        host_->Create(20, player ? SlotsTest::NetworkPlayer(listener_.port(), 1)
                                 : SlotsTest::Recorder(listener_.port()));
        Slot* slot = host_->slots().Get(20);
        if (refresh)
            player ? host_->Connect(20, 8) : host_->Connect(7, 20);
        else
            player ? slot->IOnOutputStream() : slot->IOnInputStream();
        while (!(peer = listener_.Accept()))
            Mux::test::run_once(0);
    }
    ~SlotBed() { host_.reset(); }
    void Discard() { host_->Discard(); }

private:
    SlotsTest::Listener listener_;
    VoiceFactory voice_;
    std::unique_ptr<SlotsTest::Host> host_;

public:
    OwnedFd peer;
};

// Iterations of: `feed` kBytes, then `step` until `arrived` has counted
// them all.
template <class Feed, class Step, class Arrived>
void Relay(benchmark::State& state, char const* label, Feed feed, Step step, Arrived arrived)
{
    for (auto _ : state) {
        feed();
        for (std::size_t n = 0; n < kBytes;) {
            step(n);
            n += arrived();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
    state.SetLabel(label);
}

void BM_NetworkPlayerRelay(benchmark::State& state)
{
    bool const refresh = state.range(0) != 0;
    SlotBed bed(refresh, true);
    char id[4];
    while (::recv(bed.peer.get(), id, sizeof id, MSG_DONTWAIT) != 4)
        Mux::test::run_once(0);
    std::string const block(kBytes, '\x55');
    Relay(
        state,
        refresh ? "socket -> MCC channel, player slot, switch refreshed"
                : "socket -> MCC channel, player slot",
        [&] { ::send(bed.peer.get(), block.data(), block.size(), 0); },
        [&](std::size_t) {
            Mux::test::run_once(0);
            bed.Discard();
        },
        DrainBoard);
}
BENCHMARK(BM_NetworkPlayerRelay)->Arg(0)->Arg(1);

void BM_BareSocketToChannel(benchmark::State& state)
{
    Bed bed;
    auto [ours, peer] = TcpPair();
    MccRawChannel ch = AllocateMccChannel(O_WRONLY | O_NONBLOCK, {{2, 1024, 0, 0, 5}});
    std::string const block(kBytes, '\x55');
    char buf[kBlock];
    std::size_t early = 0; // taken while the channel was full
    Relay(
        state, "socket -> MCC channel, bare loop", [&] { ::send(peer.get(), block.data(), block.size(), 0); },
        [&](std::size_t) { BareCopy(ours.get(), ch.fd.get(), buf, early); },
        [&] {
            std::size_t n = DrainBoard() + early;
            early = 0;
            return n;
        });
}
BENCHMARK(BM_BareSocketToChannel);

void BM_RecorderRelay(benchmark::State& state)
{
    bool const refresh = state.range(0) != 0;
    SlotBed bed(refresh, false);
    std::string const block(kBlock, '\x66');
    Relay(
        state,
        refresh ? "MCC channel -> socket, recorder slot, switch refreshed"
                : "MCC channel -> socket, recorder slot",
        [&] { FeedBoard(block); },
        [&](std::size_t) {
            Mux::test::run_once(0);
            bed.Discard();
        },
        [&] { return ReadPeer(bed.peer.get()); });
}
BENCHMARK(BM_RecorderRelay)->Arg(0)->Arg(1);

void BM_BareChannelToSocket(benchmark::State& state)
{
    Bed bed;
    auto [ours, peer] = TcpPair();
    MccRawChannel ch = AllocateMccChannel(O_RDONLY | O_NONBLOCK, {{2, 1024, 0, 5, 0}});
    std::string const block(kBlock, '\x66');
    char buf[kBlock];
    std::size_t none = 0; // the board takes nothing in this direction
    Relay(
        state, "MCC channel -> socket, bare loop", [&] { FeedBoard(block); },
        [&](std::size_t) { BareCopy(ch.fd.get(), ours.get(), buf, none); },
        [&] { return ReadPeer(peer.get()); });
}
BENCHMARK(BM_BareChannelToSocket);

} // namespace
