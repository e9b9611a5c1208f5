// End to end: build/server on the simulated board, inspected through the
// board's control socket while it runs.

#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using E2E::Lines;

TEST(SwitchEndToEnd, RunningServerClearedTheBackplaneFirst)
{
    E2E::ServerProcess server;
    ASSERT_TRUE(server.Printed("Starting server"));

    // The switch table of the running server: every backplane output
    // disabled by the switch's first use.
    auto table = Lines(server.Ask("/dev/hal switch 8192 10239"));
    ASSERT_EQ(table.size(), 2049u);
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ(table[i], std::to_string(8192 + i) + " disabled");
    EXPECT_EQ(table[2048], "ok 2048");

    // And nothing reached "/dev/hal" before those 2048 disables (the slot
    // factories made before the switch may have asked other devices).
    std::vector<std::string> log;
    for (std::string& line : Lines(server.Ask("log")))
        if (line.rfind("/dev/hal ", 0) == 0)
            log.push_back(std::move(line));
    ASSERT_GE(log.size(), 2049u);
    EXPECT_EQ(log[0].rfind("/dev/hal open = ", 0), 0u) << log[0];
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ(log[1 + i], "/dev/hal 0x80044d03 " + std::to_string(8192 + i) + " = 0");

    // Opened once by the switch and once by the line framers' service; no
    // controller has connected, so the clock service has not opened it yet.
    EXPECT_EQ(server.Ask("opens /dev/hal"), "ok 2\n");
    int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct stat st;
    EXPECT_NE(::stat(server.socket_path().c_str(), &st), 0) << "control socket left behind";
}

// Loops and the autopump set up before the server's first open.
TEST(SwitchEndToEnd, LoopAndAutopumpFromTheSetupVariable)
{
    E2E::ServerProcess server(
        {.setup = "/dev/mcc/ctl loop 1 2; /dev/mcc/ctl loop 33 34;/dev/mcc/ctl autopump on"});
    ASSERT_TRUE(server.Printed("Starting server"));
    EXPECT_EQ(server.Ask("/dev/mcc/ctl loops"), "1 2\n33 34\nok 2\n");
    EXPECT_EQ(server.Ask("/dev/mcc/ctl autopump"), "ok on\n");
    EXPECT_EQ(server.Err().find("GW_SIM_SETUP"), std::string::npos) << server.Err();
    // The pump's thread ends with the program.
    int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
