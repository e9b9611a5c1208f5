// build/server and the agents of its configuration file: the fake agent
// beside the process, on loopback.

#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"
#include "tests/monitoring/fake_agent.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <string>
#include <vector>
#include <sys/wait.h>

namespace {

// Some snmp-set the agent received so far holds `entry` ("table.column[index]=value").
bool Received(MonTest::FakeAgent& agent, std::string const& entry)
{
    for (MON::Command const& c : agent.commands())
        for (std::string const& text : MonTest::SetEntries(c))
            if (text.substr(text.find(' ') + 1) == entry)
                return true;
    return false;
}

TEST(AgentE2E, TheServerConnectsToEveryUsableAgentOfItsConfiguration)
{
    MonTest::FakeAgent agent;
    ASSERT_TRUE(agent.listening());
    std::string const at = "127.0.0.1:" + std::to_string(agent.port());
    E2E::ServerProcess server{E2E::Later{}};
    server.Write("usr/local/etc/server.conf", "[snmpagent]\nhost = " + at +
                                                  "\nname = dakv\n"
                                                  "[snmpagent]\nhost = " +
                                                  at +
                                                  "\nname = abc\n"
                                                  "[snmpagent]\nhost = " +
                                                  at + "\nname = 0x10\n");
    ASSERT_TRUE(server.Start());

    int const patience = E2E::Patience(10000);
    EXPECT_TRUE(agent.WaitUntil([&] { return agent.accepted() == 2; }, patience));
    EXPECT_TRUE(server.Logged("snmpagent.dakv " + at + ": connected.\n")) << server.Err();
    EXPECT_TRUE(server.Logged("snmpagent.0x10 " + at + ": connected.\n")) << server.Err();
    EXPECT_NE(server.Err().find("snmpagent: required key \"name\" has invalid value=\"abc\", line 6 of " +
                                server.Path("usr/local/etc/server.conf") + "\n"),
              std::string::npos)
        << server.Err();

    // Each agent that comes up is given the board's whole state at once.
    auto const sets = [&] {
        int n = 0;
        for (MON::Command const& c : agent.commands())
            n += c.is_snmp_set() ? 1 : 0;
        return n;
    };
    EXPECT_TRUE(agent.WaitUntil([&] { return sets() >= 2; }, patience)) << server.Err();

    // A stopped server closes its links.
    int const status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(agent.WaitUntil([&] { return agent.closed_by_peer() == 2; }, patience));
    for (MonTest::FakeAgent::Record const& r : agent.records())
        EXPECT_TRUE(r.decoded);
    EXPECT_EQ(agent.accepted(), 2);
}

// The power supply through the simulated "/dev/hal": the host hears of it at
// connect and at the poll after a change; the status file follows; DIP
// likewise into its file.
TEST(MonitoringE2E, PowerAndDipReachHostAndFiles)
{
    E2E::ServerProcess server;
    ASSERT_EQ(server.Ask("/dev/hal power 2"), "ok\n");
    E2E::LgcpHost host(server.port());
    ASSERT_TRUE(host.ok());
    auto const nextPower = [&](int& value) {
        E2E::Bytes payload;
        while (host.Receive(payload, E2E::Patience(5000))) {
            LGCP::Message m;
            if (E2E::Decode(payload, m) && m.get_pdu().is_signal() && m.get_pdu().get_signal().is_power()) {
                value = m.get_pdu().get_signal().get_power().getValue();
                return true;
            }
        }
        return false;
    };
    int power = -1;
    ASSERT_TRUE(nextPower(power)) << "always at connect";
    EXPECT_EQ(power, LGCP::POWERStatus::main);
    // A change found by the check at connect brings a second one.
    ASSERT_EQ(server.Ask("/dev/hal power 1"), "ok\n");
    while (power == LGCP::POWERStatus::main)
        ASSERT_TRUE(nextPower(power));
    EXPECT_EQ(power, LGCP::POWERStatus::standby);
    EXPECT_TRUE(E2E::Eventually([&] { return server.Read("var/monitoring/powerstatus") == "1"; }));
    ASSERT_EQ(server.Ask("/dev/hal dip 5"), "ok\n");
    EXPECT_TRUE(E2E::Eventually([&] { return server.Read("var/monitoring/dip") == "5"; }));
    ASSERT_EQ(server.Ask("/dev/hal power 0"), "ok\n");
    ASSERT_TRUE(nextPower(power));
    EXPECT_EQ(power, LGCP::POWERStatus::both);
}

// The agent's refresh at connect, then the host's displays: each answered
// success, each in the agent's view, the status files and the LEDs.
TEST(MonitoringE2E, RefreshAndDisplaysReachTheAgentFilesAndLeds)
{
    MonTest::FakeAgent agent;
    ASSERT_TRUE(agent.listening());
    E2E::ServerProcess server{E2E::Later{}};
    server.Write("usr/local/etc/server.conf",
                 "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) + "\nname = dakv\n");
    ASSERT_TRUE(server.Start({.setup = "files version driver v 1.2 rc 7 extra"}));
    int const patience = E2E::Patience(10000);
    auto const entries = [&] {
        std::vector<std::vector<std::string>> out;
        for (MON::Command const& c : agent.commands()) {
            std::vector<std::string> e;
            for (std::string const& text : MonTest::SetEntries(c))
                e.push_back(text.substr(text.find(' ') + 1));
            if (c.is_snmp_trapsink_set())
                e.push_back("trapsink " +
                            std::string(c.get_snmp_trapsink_set().get_trapsinks()[0].get_host()));
            out.push_back(e);
        }
        return out;
    };
    auto const has = [&](std::string const& what) {
        for (auto const& command : entries())
            for (std::string const& e : command)
                if (e == what)
                    return true;
        return false;
    };

    // The values of the refresh: the dakv type's first, then the other's
    // (the board's files are read a second after the start: before or after).
    ASSERT_TRUE(agent.WaitUntil(
        [&] {
            return has("statusGeneral.sgBootVersion[0]=") ||
                   has("statusGeneral.sgBootVersion[0]=U-Boot 2009.11 sim\n");
        },
        patience))
        << server.Err();
    std::vector<std::vector<std::string>> const seen = entries();
    std::size_t first = 0;
    while (first < seen.size() &&
           (seen[first].empty() || seen[first][0] != "gatewayCommon.driverBuild[0]=1.2 [rc 7]"))
        ++first;
    ASSERT_LT(first + 1, seen.size());
    std::vector<std::string> const& dakv = seen[first];
    ASSERT_GE(dakv.size(), 10u);
    EXPECT_EQ(dakv[6].substr(0, 29), "gatewayCommon.temperature[0]=");
    // Interfaces last, columns from the right (up or down, by when the first
    // sample fell).
    EXPECT_EQ(dakv[dakv.size() - 3].substr(0, 24), "ifTable.ifOperStatus[1]=");
    EXPECT_EQ(dakv[dakv.size() - 2].substr(0, 25), "ifTable.ifAdminStatus[1]=");
    EXPECT_EQ(dakv.back(), "ifTable.ifDescr[1]=lo");
    std::vector<std::string> const& status = seen[first + 1];
    ASSERT_GE(status.size(), 10u);
    EXPECT_EQ(status[0], "gatewayCommon.driverBuild[0]=1.2 [rc 7]");
    EXPECT_EQ(status[6].substr(0, 32), "statusGeneral.sgBuildVersion[0]=");
    EXPECT_EQ(status.back(), "ifTable.ifDescr[1]=lo");

    E2E::LgcpHost host(server.port());
    ASSERT_TRUE(host.ok());
    int seq = 1;
    auto const display = [&](auto&& fill) {
        LGCP::Message m = E2E::Command(seq);
        fill(m.get_pdu().get_command().select_display());
        EXPECT_TRUE(host.Send(m));
        EXPECT_EQ(E2E::Hex(host.Reply()), E2E::Hex(E2E::Success(seq)));
        ++seq;
    };
    auto const framer = [&](bool line, bool value) {
        display([&](LGCP::DisplayParams& d) {
            LGCP::FramerInfo& f = d.select_framer();
            f.set_e1(2);
            if (line)
                f.get_info().select_line() = value;
            else
                f.get_info().select_link() = value;
        });
        return server.Ask("/dev/hal led");
    };
    EXPECT_EQ(framer(true, true), "ok 0x30\n");
    EXPECT_EQ(framer(false, true), "ok 0x20\n");
    EXPECT_EQ(framer(true, false), "ok 0x00\n");

    display([](LGCP::DisplayParams& d) {
        LGCP::ControllerInfo& c = d.select_controller();
        c.get_host().set_iaddr("127.0.0.1");
        c.get_host().set_port(0);
        c.get_status() = HSP::ControllerStatus::active;
    });
    EXPECT_TRUE(E2E::Eventually([&] { return server.Read("var/monitoring/controller/self/status") == "2"; }));
    EXPECT_TRUE(agent.WaitUntil([&] { return has("gatewayCommon.controllerStatus[0]=2"); }, patience));

    display([](LGCP::DisplayParams& d) {
        LGCP::BoardStatusParams& b = d.select_board().select_boardStatus();
        b.set_position(2);
        b.get_version().assign({'3', '.', '1'});
        b.get_status() = LGCP::ExtBoardStatus::ready;
        b.get_type() = LGCP::ExtBoardType::isdn;
    });
    EXPECT_TRUE(agent.WaitUntil([&] { return has("extBoardTable.extBoardSoftVer[2]=3.1"); }, patience));
    EXPECT_TRUE(server.Exists("var/monitoring/board2"));

    display([](LGCP::DisplayParams& d) {
        ASN1::IA5String receiver;
        receiver = "10.0.0.9:162";
        d.select_snmpTrapReceivers().push_back(receiver);
    });
    EXPECT_TRUE(agent.WaitUntil([&] { return has("trapsink 10.0.0.9:162"); }, patience));

    // Its departure: the board files go, the status is the process's.
    host.Close();
    // (4 while some other test names a process "controller".)
    EXPECT_TRUE(E2E::Eventually([&] {
        std::string const status = server.Read("var/monitoring/controller/self/status");
        return status == "5" || status == "4";
    }));
    EXPECT_FALSE(server.Exists("var/monitoring/board2"));
}

// The board's temperature and a framer's line state, changed on the
// simulated board, reach the agent at the next background check (60 s of
// the server's clock). With a host connected the trunks are reported every
// second too: an E1 line has one state, whether the framer's file or the
// trunk's status names it, so the agent hears of each change once and of
// nothing more over the next three checks.
TEST(MonitoringE2E, BoardTemperatureAndFramerChangesReachTheAgent)
{
    E2E_NEEDS_FAKE_TIME();
    MonTest::FakeAgent agent;
    ASSERT_TRUE(agent.listening());
    E2E::ServerProcess server{E2E::Later{}};
    server.Write("usr/local/etc/server.conf",
                 "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) + "\nname = dakv\n");
    ASSERT_TRUE(server.Start({.speed = 60}));
    E2E::LgcpHost host(server.port());
    ASSERT_TRUE(host.ok());
    int const patience = E2E::Patience(20000);
    EXPECT_TRUE(
        agent.WaitUntil([&] { return Received(agent, "gatewayCommon.temperature[0]=42"); }, patience));
    EXPECT_TRUE(
        agent.WaitUntil([&] { return Received(agent, "e1Table.e1StatusDsc[1]=Synchronized"); }, patience));
    ASSERT_EQ(server.Ask("files framer 0 state No Carrier"), "ok\n");
    ASSERT_EQ(server.Ask("/dev/maintenance trunk 1 state 4"), "ok\n");
    for (int degrees = 47; degrees < 50; ++degrees) {
        ASSERT_EQ(server.Ask("files temperature " + std::to_string(degrees)), "ok\n");
        std::string const temperature = "gatewayCommon.temperature[0]=" + std::to_string(degrees);
        EXPECT_TRUE(agent.WaitUntil([&] { return Received(agent, temperature); }, patience));
        // Two minutes of silence would end the host's connection.
        LGCP::Message ping = E2E::Command(degrees);
        ping.get_pdu().get_command().set_ping();
        host.Send(ping);
        EXPECT_EQ(host.Reply(), E2E::Success(degrees));
    }
    // The states a framer was given from the first `state` on (a refresh
    // for another framer's change gives it again).
    auto const since = [&](std::string const& framer, std::string const& state) {
        std::string const column = "e1Table.e1StatusDsc[" + framer + "]=";
        std::set<std::string> states;
        for (MON::Command const& c : agent.commands())
            for (std::string const& text : MonTest::SetEntries(c)) {
                std::string const entry = text.substr(text.find(' ') + 1);
                if (entry.rfind(column, 0) == 0 && (!states.empty() || entry == column + state))
                    states.insert(entry.substr(column.size()));
            }
        return states;
    };
    EXPECT_EQ(since("1", "No Carrier"), std::set<std::string>{"No Carrier"});
    EXPECT_EQ(since("2", "RAI"), std::set<std::string>{"RAI"});
    EXPECT_TRUE(Received(agent, "e1Table.e1Connected[1]=0")) << server.Err();
    EXPECT_NE(server.Read("proc/driver/hdlc/peb22554/1").find("Current state           : RAI\n"),
              std::string::npos);
}

} // namespace
