// Signalling links. The frame trace: one dlogframe call for the 10-octet
// SETUP ACKNOWLEDGE broadcast, a 40-octet SETUP with bearer capability,
// channel, calling and called numbers, and a 300-octet frame (its text is
// cut at the 1024-byte buffer). Compare with BM_DescriptorEventDispatch/0
// of core_bench, one loop pass of a descriptor event.
//
// SS7 level 2: MSUs through two SLCs in service over an in-memory channel,
// 20 octets each way per iteration; the time per MSU (items) covers
// queueing, sending, the acknowledgement and the delivery upward. A link at
// 64 kbit/s carries a few hundred MSUs per second.
//
// The data link (DataLinkMessages): time per message through a LAPD pair,
// to set against the few hundred frames per second of a D channel.

#include "core/packet.hpp"
#include "core/packet_queue.hpp"
#include "core/protocol.hpp"
#include "tests/support/quiet.hpp"
#include "signalling/lapd.hpp"
#include "signalling/q931_trace.hpp"
#include "signalling/ss7_slc.hpp"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace {

using Octets = std::vector<unsigned char>;

Octets SetupAcknowledge()
{
    return {0x02, 0xFF, 0x03, 0x08, 0x01, 0x81, 0x0D, 0x18, 0x01, 0x89};
}

Octets Setup()
{
    Octets f = {0x00, 0x01, 0x00, 0x02, 0x08, 0x01, 0x05, 0x05, // I frame, call reference 5, SETUP
                0x04, 0x03, 0x80, 0x90, 0xA3,                   // speech, 64 kbit/s, A-law
                0x18, 0x01, 0x89,                               // B1, exclusive
                0x6C, 0x0A, 0x21, 0x81};                        // calling: national, presentation allowed
    for (char d : {'3', '0', '1', '2', '3', '4', '5', '6'})
        f.push_back(static_cast<unsigned char>(d));
    f.insert(f.end(), {0x70, 0x0A, 0x81}); // called: unknown type, ISDN plan
    for (char d : {'0', '4', '0', '1', '2', '3', '4', '5', '6'})
        f.push_back(static_cast<unsigned char>(d));
    return f;
}

Octets Long()
{
    Octets f = Setup();
    f.insert(f.end(), {0x7E, 0xFF});
    f.insert(f.end(), 255, 0x55);
    f.insert(f.end(), {0xA1, 0xA1, 0xA1});
    return f;
}

void Trace(benchmark::State& state, Octets frame)
{
    char out[ISDN::logbuf_size];
    for (auto _ : state) {
        dlogframe(frame.data(), static_cast<unsigned int>(frame.size()), 0, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(frame.size()) + " octets");
}

// Frames wait here until the benchmark hands them to the far SLC.
class Wire : public GenericHDLC {
public:
    Wire(std::deque<std::pair<SS7::SLC*, Packet>>& queue, SS7::SLC& to) : queue_(queue), to_(to) {}
    bool hdlc_transmit(Packet& frame) override
    {
        queue_.emplace_back(&to_, frame);
        return true;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return true; }

private:
    std::deque<std::pair<SS7::SLC*, Packet>>& queue_;
    SS7::SLC& to_;
};

class Upper : public Protocol {
public:
    void receive(Packet&) override { ++got; }
    unsigned int got = 0;
};

void Ss7MsuPair(benchmark::State& state)
{
    TestQuiet::Quiet quiet;
    std::deque<std::pair<SS7::SLC*, Packet>> queue;
    ProtocolsList stack_a, stack_b;
    SS7::SLC a, b;
    Upper up_a, up_b;
    Wire to_b(queue, b), to_a(queue, a);
    a.hdlc = &to_b;
    b.hdlc = &to_a;
    stack_a.add_protocol_tail(&a);
    stack_a.add_protocol_tail(&up_a);
    stack_b.add_protocol_tail(&b);
    stack_b.add_protocol_tail(&up_b);
    auto pump = [&] {
        while (!queue.empty()) {
            auto [to, frame] = std::move(queue.front());
            queue.pop_front();
            to->on_hdlc_receive(frame);
        }
    };
    b.local_activate();
    pump();
    a.local_activate();
    pump();
    // Proving ends at the first FISU; no need to wait for T4.
    for (SS7::SLC* s : {&a, &b}) {
        Packet fisu;
        fisu.reserve_head(0);
        for (std::uint8_t o : {0xFF, 0xFF, 0x00})
            fisu.put8(o);
        s->on_hdlc_receive(fisu);
    }
    pump();
    if (a.state() != SS7::SLC::State::worked || b.state() != SS7::SLC::State::worked) {
        state.SkipWithError("the pair did not come into service");
        return;
    }
    std::vector<std::uint8_t> sif(20, 0x5A);
    sif[0] = 0x83;
    for (auto _ : state) {
        for (Upper* u : {&up_a, &up_b}) {
            Packet m;
            u->prepare_head(m);
            m.put(sif.data(), static_cast<unsigned int>(sif.size()));
            u->transmit(m);
        }
        pump();
    }
    if (up_a.got != up_b.got || a.rtb_count() != 0)
        state.SkipWithError("MSUs lost or left unacknowledged");
    state.SetItemsProcessed(static_cast<std::int64_t>(up_a.got + up_b.got));
}

} // namespace

BENCHMARK(Ss7MsuPair);
BENCHMARK_CAPTURE(Trace, SetupAcknowledge, SetupAcknowledge());
BENCHMARK_CAPTURE(Trace, Setup, Setup());
BENCHMARK_CAPTURE(Trace, Long, Long());

// ---- The data link: messages per second through a user-network pair
// over an in-memory D channel, 30-octet messages each way, no loss. One
// message is a DL-DATA request, its I frame, the RR that acknowledges it
// and the delivery of its information field.

namespace {

// One direction of the channel: frames wait here until the pump hands them
// to the receiving side, as a frame read from a descriptor would arrive on
// a later loop pass.
class LapdWire : public GenericHDLC {
public:
    bool hdlc_transmit(Packet& frame) override { return frames.put(frame); }
    bool is_open() const override { return true; }
    bool is_ready() const override { return frames.count() < frames.size(); }

    CleanQueue<Packet, 64> frames;
};

class Layer3 : public ProtocolsFamily {
public:
    void on_message(Packet& pkt) override { delivered += pkt.length(); }
    std::size_t delivered = 0;
};

class DataLinkPair {
public:
    DataLinkPair() : user_(new ISDN::LAPD(ISDN::Side::user, 0)), net_(new ISDN::LAPD(ISDN::Side::network, 0))
    {
        user_->hdlc = &to_net_;
        net_->hdlc = &to_user_;
        user_side_.add_protocol_tail(user_);
        net_side_.add_protocol_tail(net_);
        user_side_.activate();
        Pump();
    }

    bool Up() const { return user_->full_state().state == 6 && net_->full_state().state == 6; }

    void Send(Layer3& from, const std::uint8_t* data, unsigned int length)
    {
        Packet p;
        from.prepare_head(p);
        p.put(data, length);
        from.message(p);
    }

    void Pump()
    {
        Packet frame;
        bool moved = true;
        while (moved) {
            moved = false;
            while (to_net_.frames.get(&frame)) {
                net_->on_hdlc_receive(frame);
                moved = true;
            }
            while (to_user_.frames.get(&frame)) {
                user_->on_hdlc_receive(frame);
                moved = true;
            }
        }
    }

    Layer3& user() { return user_side_; }
    Layer3& network() { return net_side_; }

private:
    LapdWire to_net_;
    LapdWire to_user_;
    Layer3 user_side_;
    Layer3 net_side_;
    ISDN::LAPD* user_; // owned by the families
    ISDN::LAPD* net_;
};

void DataLinkMessages(benchmark::State& state)
{
    DataLinkPair pair;
    if (!pair.Up()) {
        state.SkipWithError("the link did not come up");
        return;
    }
    std::uint8_t message[30];
    for (unsigned int i = 0; i < sizeof message; ++i)
        message[i] = static_cast<std::uint8_t>(i);
    for (auto _ : state) {
        pair.Send(pair.user(), message, sizeof message);
        pair.Pump();
        pair.Send(pair.network(), message, sizeof message);
        pair.Pump();
    }
    if (pair.user().delivered != pair.network().delivered)
        state.SkipWithError("messages lost");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2);
    state.SetLabel("2 messages per iteration");
}

} // namespace

BENCHMARK(DataLinkMessages);
