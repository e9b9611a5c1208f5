// build/server and the agents of its configuration file: the fake agent
// beside the process, on loopback.

#include "tests/monitoring/fake_agent.hpp"
#include "tests/server/server_helper.hpp"
#include "tests/sim/server_helper.hpp"

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
    ServerRoot root;
    root.mkdirs("var/run");
    root.mkdirs("var/log");
    root.mkdirs("usr/local/etc");
    root.write("usr/local/etc/server.conf", "[snmpagent]\nhost = " + at +
                                                "\nname = dakv\n"
                                                "[snmpagent]\nhost = " +
                                                at +
                                                "\nname = abc\n"
                                                "[snmpagent]\nhost = " +
                                                at + "\nname = 0x10\n");
    ServerProcess server(root, {"--port", std::to_string(SimTest::FreePort())});

    EXPECT_TRUE(agent.WaitUntil([&] { return agent.accepted() == 2; }));
    EXPECT_TRUE(Eventually([&] {
        std::string err = server.err();
        return err.find("snmpagent.dakv " + at + ": connected.\n") != std::string::npos &&
               err.find("snmpagent.0x10 " + at + ": connected.\n") != std::string::npos;
    })) << server.err();
    EXPECT_NE(server.err().find("snmpagent: required key \"name\" has invalid value=\"abc\", line 6\n"),
              std::string::npos);

    // Nothing is sent before a value is; a stopped server closes its links.
    server.signal(SIGTERM);
    int status = server.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(agent.WaitUntil([&] { return agent.closed_by_peer() == 2; }));
    EXPECT_TRUE(agent.records().empty());
    EXPECT_EQ(agent.accepted(), 2);
}

} // namespace
