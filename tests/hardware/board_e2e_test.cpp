// End to end: the clock, E1 and SPI services of build/server on the
// simulated board, driven over the control port, the board inspected and
// steered through its control socket. The commands' exchanges are pinned in
// transcripts/; these tests cover what a transcript cannot: reports that
// come by the second, driver records in the board's byte order, a driver
// that vanishes after start.

#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

using E2E::LgcpHost;
using E2E::ServerProcess;
using Clock = std::chrono::steady_clock;

struct Report {
    int trunk, state, slips;
};

// The trunk reports of type `type` that arrive within `ms`.
std::vector<Report> Reports(LgcpHost& host, ACP::TrunkType::NamedNumber type, int ms)
{
    std::vector<Report> out;
    auto const until = Clock::now() + std::chrono::milliseconds(E2E::Patience(ms));
    E2E::Bytes payload;
    LGCP::Message m;
    while (Clock::now() < until) {
        if (!host.Receive(payload, 50) || !E2E::Decode(payload, m) || !m.get_pdu().is_signal() ||
            !m.get_pdu().get_signal().is_trunkStatus())
            continue;
        ACP::TrunkStatus const& t = m.get_pdu().get_signal().get_trunkStatus();
        if (t.get_type().getValue() == type)
            out.push_back({t.get_trunk().getValue(), t.get_state().getValue(), t.get_slips().getValue()});
    }
    return out;
}

LGCP::Message ClockCfg(int seq)
{
    LGCP::Message m = E2E::Command(seq);
    LGCP::ClockCfg& c = m.get_pdu().get_command().select_clockCfg();
    c.set_clkSel0(LGCP::ClkSel0::external);
    c.set_bextEn(LGCP::BExtEn::enabled);
    c.set_source(2);
    return m;
}

LGCP::Message CasOpen(int seq, int trunk, int timeslot, int slot = -1)
{
    LGCP::Message m = E2E::Command(seq, slot);
    LGCP::CasCommand& cas = m.get_pdu().get_command().select_ioctl().select_cas();
    cas.get_channel().set_path(trunk);
    cas.get_channel().set_timeslot(timeslot);
    cas.get_cmd().set_open(0);
    return m;
}

TEST(BoardEndToEnd, MissingHalStillAnswersClockCfgSuccess)
{
    ServerProcess server;
    // The clock service opens the driver at the first connection.
    ASSERT_EQ(server.Ask("absent /dev/hal"), "ok\n");
    LgcpHost host(server.port());
    host.Send(ClockCfg(1));
    EXPECT_EQ(host.Reply(), E2E::Success(1));
    EXPECT_TRUE(server.Logged("clkctl: set clock source fail: code 1.\n")) << server.Err();
    EXPECT_EQ(server.Ask("count /dev/hal 0x80044301"), "ok 0\n");
}

TEST(BoardEndToEnd, AnIoctlWithASlotNumberIsNotABoardServicesCommand)
{
    ServerProcess server;
    LgcpHost host(server.port());
    // CAS open for slot 4 goes on to the slots, which have no slot 4; no
    // board service answers it, and the driver is not asked.
    std::vector<LGCP::Message> signals;
    host.Send(CasOpen(30, 0, 1, 4));
    EXPECT_EQ(host.Reply(&signals), E2E::Error(30, LGCP::ErrorCause::slotNotExists, 4));
    for (LGCP::Message const& m : signals)
        EXPECT_FALSE(m.get_pdu().get_signal().is_cas());
    EXPECT_EQ(server.Ask("count /dev/e1-cas 0x80044300"), "ok 0\n");
    // Without a slot number it is E1's.
    host.Send(CasOpen(31, 0, 1));
    EXPECT_EQ(host.Reply(), E2E::Success(31));
    EXPECT_EQ(server.Ask("count /dev/e1-cas 0x80044300"), "ok 1\n");
}

TEST(BoardEndToEnd, TrunkReportsCasRecordsAndTheControllersEnd)
{
    ServerProcess server;
    LgcpHost host(server.port());
    // Four E1 reports come first, before anything is asked.
    auto first = Reports(host, ACP::TrunkType::e1, 500);
    ASSERT_GE(first.size(), 4u);
    for (int trunk = 0; trunk < 4; ++trunk) {
        EXPECT_EQ(first[trunk].trunk, trunk);
        EXPECT_EQ(first[trunk].state, ACP::TrunkState::normal);
    }
    ASSERT_EQ(server.Ask("/dev/maintenance trunk 2 state 2 slips 0"), "ok\n");
    ASSERT_EQ(server.Ask("/dev/maintenance trunk 3 state 11"), "ok\n");
    std::map<int, int> last; // trunk -> state
    for (Report const& r : Reports(host, ACP::TrunkType::e1, 2500))
        last[r.trunk] = r.state;
    EXPECT_EQ(last[2], ACP::TrunkState::lossCarrier);
    EXPECT_EQ(last[3], ACP::TrunkState::unknown) << "a state the enumeration lacks";

    // A record from the driver becomes a `cas` signal; a short one nothing.
    // Records are the board's native words: this build's, or the board
    // build's (big-endian) when the server runs under the emulator.
    bool const big = E2E::Emulated();
    auto word = [big](std::uint32_t v) {
        char hex[9];
        if (big)
            std::snprintf(hex, sizeof hex, "%08x", v);
        else
            std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", v & 255, v >> 8 & 255, v >> 16 & 255, v >> 24);
        return std::string(hex);
    };
    std::string const record = word(1) + word(5) + "030c0000";
    host.Send(CasOpen(1, 0, 1));
    ASSERT_EQ(host.Reply(), E2E::Success(1));
    ASSERT_EQ(server.Ask("inject /dev/e1-cas " + record.substr(0, 22)), "ok 1\n");
    ASSERT_EQ(server.Ask("inject /dev/e1-cas " + record), "ok 1\n");
    std::vector<std::string> cas;
    E2E::Bytes payload;
    LGCP::Message m;
    while (cas.empty() && host.Receive(payload, 5000))
        if (E2E::Decode(payload, m) && m.get_pdu().is_signal() && m.get_pdu().get_signal().is_cas())
            cas.push_back(E2E::Notation(payload));
    EXPECT_EQ(cas, (std::vector<std::string>{
                       "{ pdu signal : cas : { channel { path 1, timeslot 5 }, rx 3, tx 12 } }"}));

    // The controller goes: every open CAS trunk is closed.
    EXPECT_EQ(server.Ask("/dev/e1-cas state"), "trunk 0 open\n0 1 rx 0 tx 0\nok 2\n");
    host.Close();
    EXPECT_TRUE(server.Becomes("/dev/e1-cas state", "ok 0\n"));
    int const status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(BoardEndToEnd, SpiFramersReportAsBriTrunks)
{
    char const* bytes[] = {"0x00", "0x01", "0x85", "0xC5", "0x05", "0x45", "0x25", "0xE5"};
    std::string setup;
    for (int n = 0; n < 8; ++n)
        setup += "/dev/hal spi status " + std::to_string(n) + " " + bytes[n] + ";";
    ServerProcess server({.setup = setup});
    LgcpHost host(server.port());
    auto reports = Reports(host, ACP::TrunkType::bri, 1600);
    ASSERT_GE(reports.size(), 8u);
    // lossCarrier, lossBF, rai, normal, ais, ais, ais, normal; framers 6
    // and 7 both slip, and only the first of them counts the edge.
    int const states[8] = {2, 1, 4, 0, 3, 3, 3, 0};
    int const slips[8] = {0, 0, 0, 0, 0, 0, 1, 0};
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(reports[n].trunk, n);
        EXPECT_EQ(reports[n].state, states[n]) << bytes[n];
        EXPECT_EQ(reports[n].slips, slips[n]) << bytes[n];
    }
    // Set up at start: framers 0..6, none clock master.
    EXPECT_EQ(server.Ask("/dev/hal spi reg 6 87"), "ok 0x30\n");
    EXPECT_EQ(server.Ask("/dev/hal spi reg 7 87"), "ok 0x00\n");
}

TEST(BoardEndToEnd, BoardWithoutSpiSaysSoOnceAndReportsNothing)
{
    ServerProcess server({.setup = "/dev/hal spi absent"});
    LgcpHost host(server.port());
    ASSERT_TRUE(host.ok());
    EXPECT_TRUE(server.Logged("spi: try init\nspi: hal without spi\nspi: init channel 0\n")) << server.Err();
    EXPECT_TRUE(Reports(host, ACP::TrunkType::bri, 1600).empty());
    EXPECT_EQ(server.Err().find("spi: enable channel"), std::string::npos);
    EXPECT_EQ(server.Ask("count /dev/hal 0xc0034204"), "ok 1\n");
}

} // namespace
