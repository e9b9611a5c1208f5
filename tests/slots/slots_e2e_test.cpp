// The slot commands end to end: build/server on the simulated board, driven
// over the control port. What reads best as bytes on the wire is pinned in
// transcripts/; here are the cases that need the process itself (signals,
// the loss of the host) or octets that our encoder refuses.

#include "support/lgcp_host.hpp"
#include "support/per_writer.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

namespace {

using E2E::Bytes;
using E2E::LgcpHost;
using E2E::ServerProcess;

Bytes Create(int seq, int slot, LGCP::CreateParams const& params)
{
    LGCP::Message m = E2E::Command(seq, slot);
    m.get_pdu().get_command().set_create(params);
    return E2E::Encode(m);
}

LGCP::CreateParams Trunk(unsigned trunk, unsigned timeslot)
{
    LGCP::CreateParams p;
    p.select_trunk().set_trunk(trunk);
    p.get_trunk().set_timeslot(timeslot);
    return p;
}

LGCP::CreateParams MapReceiver(unsigned bus, unsigned channel)
{
    LGCP::SharedChannel c;
    c.set_bus(bus);
    c.set_channel(channel);
    LGCP::CreateParams p;
    p.select_map().set_receiver(c);
    return p;
}

Bytes Connect(int seq, int slot, unsigned target)
{
    LGCP::Message m = E2E::Command(seq, slot);
    m.get_pdu().get_command().set_connect(target);
    return E2E::Encode(m);
}

// `connect` 1024, which the encoder refuses, written by hand: both optional
// fields present (X.691 18.2), seq, slot, PDU and Command indices, and the
// target as two aligned octets (X.691 11.5.7.3).
Bytes ConnectPastTheTable(int seq, int slot)
{
    TestPer::BitWriter w;
    w.Bits(0b11, 2);
    w.Unconstrained(seq);
    w.Align();
    w.Bits(static_cast<unsigned>(slot), 16);
    w.Bits(0, 2); // PDU command
    w.Bits(0, 1); // Command's extension bit
    w.Bits(2, 4); // connect
    w.Align();
    w.Bits(1024, 16);
    return w.bytes();
}

Bytes Destroy(int seq, int slot)
{
    LGCP::Message m = E2E::Command(seq, slot);
    m.get_pdu().get_command().set_destroy();
    return E2E::Encode(m);
}

Bytes Ping(int seq)
{
    LGCP::Message m = E2E::Command(seq);
    m.get_pdu().get_command().set_ping();
    return E2E::Encode(m);
}

// Slot 7, trunk 1 time slot 5 (channel 37), feeds slot 20, a map slot that
// receives from bus 1, channel 5 (switch output 8325); seq 1 to 3.
bool TrunkFeedsMap(LgcpHost& host)
{
    host.Send(Create(1, 7, Trunk(1, 5)));
    bool ok = host.Reply() == E2E::Success(1, 7);
    host.Send(Create(2, 20, MapReceiver(1, 5)));
    ok = ok && host.Reply() == E2E::Success(2, 20);
    host.Send(Connect(3, 7, 20));
    return ok && host.Reply() == E2E::Success(3, 7);
}

int Count(std::vector<LGCP::Message> const& signals, bool (LGCP::Signal::*is)() const)
{
    int n = 0;
    for (auto const& m : signals)
        n += (m.get_pdu().get_signal().*is)() ? 1 : 0;
    return n;
}

TEST(SlotsE2E, ConnectTargetPastTheTableIsInvalidEvenWithoutSource)
{
    ServerProcess server;
    LgcpHost host(server.port());
    ASSERT_TRUE(host.ok());
    host.Send(ConnectPastTheTable(9, 5));
    EXPECT_EQ(host.Reply(), E2E::Error(9, LGCP::ErrorCause::invalidSlot, 5));
    // The same with a live source.
    host.Send(Create(10, 5, Trunk(1, 5)));
    ASSERT_EQ(host.Reply(), E2E::Success(10, 5));
    host.Send(ConnectPastTheTable(11, 5));
    EXPECT_EQ(host.Reply(), E2E::Error(11, LGCP::ErrorCause::invalidSlot, 5));
    EXPECT_EQ(server.Ask("count /dev/hal 0x80084d02"), "ok 0\n");
}

TEST(SlotsE2E, SighupWithAHostSendsOneQuerySignal)
{
    ServerProcess server;
    LgcpHost host(server.port());
    host.Send(Ping(1));
    ASSERT_EQ(host.Reply(), E2E::Success(1));
    server.Signal(SIGHUP);
    ASSERT_TRUE(server.Logged("update hardware resources\n"));
    // The signal goes out in the same pass as the line: every signal sent
    // before the ping's answer is in `signals`.
    std::vector<LGCP::Message> signals;
    host.Send(Ping(2));
    ASSERT_EQ(host.Reply(&signals), E2E::Success(2));
    EXPECT_EQ(Count(signals, &LGCP::Signal::is_query), 1);
    for (auto const& m : signals)
        if (m.get_pdu().get_signal().is_query()) {
            EXPECT_FALSE(m.has_slot());
            EXPECT_TRUE(m.get_pdu().get_signal().get_query().get_mux().getValue());
        }
}

TEST(SlotsE2E, LossOfTheHostEndsEverySlotAndDisablesTheMapOutputs)
{
    ServerProcess server;
    {
        LgcpHost host(server.port());
        ASSERT_TRUE(TrunkFeedsMap(host));
        ASSERT_EQ(server.Ask("/dev/hal switch 8325"), "8325 connected 37\nok 1\n");
    }
    ASSERT_TRUE(server.Logged("map: disable map channel 133\n"));
    // The server stands still for a second after the loss: a newcomer may be
    // refused while it has not yet heard of it, and is served after.
    LgcpHost next;
    bool served = false;
    for (int i = 0; i < 20 && !served; ++i) {
        if (next.Connect(server.port())) {
            next.Send(Destroy(4, 7));
            Bytes const reply = next.Reply(nullptr, 3000);
            served = !reply.empty();
            if (served) {
                EXPECT_EQ(reply, E2E::Error(4, LGCP::ErrorCause::slotNotExists, 7));
            }
        }
        if (!served)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(served);
    next.Send(Destroy(5, 20));
    EXPECT_EQ(next.Reply(), E2E::Error(5, LGCP::ErrorCause::slotNotExists, 20));
    EXPECT_EQ(server.Ask("/dev/hal switch 8325"), "8325 disabled\nok 1\n");
    EXPECT_EQ(server.Err().find("internal error"), std::string::npos) << server.Err();
}

TEST(SlotsE2E, SigtermWithLiveSlotsExitsCleanly)
{
    ServerProcess server;
    LgcpHost host(server.port());
    ASSERT_TRUE(TrunkFeedsMap(host));
    int const status = server.Stop();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
