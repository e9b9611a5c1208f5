// build/server and the agents of its configuration file: the fake agent
// beside the process, on loopback.

#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"
#include "tests/monitoring/fake_agent.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>

namespace {

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
    EXPECT_NE(server.Err().find("snmpagent: required key \"name\" has invalid value=\"abc\", line 6\n"),
              std::string::npos);

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

} // namespace
