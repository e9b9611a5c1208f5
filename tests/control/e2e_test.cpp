// The control path end to end: build/server on a free loopback port, driven
// by a controlling host over TCP (TPKT frames, RFC 1006). The envelope's
// answers are pinned in transcripts/.

#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using E2E::Bytes;
using E2E::LgcpHost;
using E2E::ServerProcess;

namespace {

Bytes Ping(int seq)
{
    LGCP::Message m = E2E::Command(seq);
    m.get_pdu().get_command().set_ping();
    return E2E::Encode(m);
}

TEST(ControlE2E, GarbageResynchronisationAndSplitFrames)
{
    E2E_NEEDS_FAKE_TIME();
    ServerProcess server({.speed = 10});
    LgcpHost host(server.port());
    ASSERT_TRUE(host.ok());
    // A payload that does not decode: logged, not answered.
    host.Send({0xC0, 0x05});
    EXPECT_TRUE(server.Logged("receive fail: decode error!\n msg: C0 05 \n"));
    host.Send(Ping(1));
    EXPECT_EQ(host.Reply(), E2E::Success(1));
    // Bytes before a frame are skipped.
    Bytes junk{0xFF, 0x00, 0x42};
    Bytes const f = LgcpHost::Frame(Ping(2));
    junk.insert(junk.end(), f.begin(), f.end());
    host.SendRaw(junk);
    EXPECT_EQ(host.Reply(), E2E::Success(2));
    EXPECT_TRUE(server.Logged("(no name) bad TPKT packet start."));
    // A frame written one octet at a time.
    for (std::uint8_t b : f) {
        host.SendRaw({b});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(host.Reply(), E2E::Success(2));
    // A partial frame is dropped after 3000 ms (of the server's clock).
    host.SendRaw({0x03, 0x00, 0x00, 0x08, 0x80});
    EXPECT_TRUE(server.Logged(" TPKT packet timeout."));
    host.Send(Ping(3));
    EXPECT_EQ(host.Reply(), E2E::Success(3));
}

TEST(ControlE2E, SecondControllerIsRefusedAndTheFirstKeepsWorking)
{
    ServerProcess server;
    LgcpHost first(server.port()), second;
    ASSERT_TRUE(first.ok());
    first.Send(Ping(1));
    ASSERT_EQ(first.Reply(), E2E::Success(1));
    ASSERT_TRUE(second.Connect(server.port()));
    EXPECT_TRUE(second.ClosedWithin(5000));
    first.Send(Ping(2));
    EXPECT_EQ(first.Reply(), E2E::Success(2));
    EXPECT_TRUE(server.Logged("refuse connection from 127.0.0.1:"));
}

TEST(ControlE2E, SilentControllerTimesOutOnTheHeartbeat)
{
    E2E_NEEDS_FAKE_TIME();
    // 120 s of the server's clock in 1.2 s.
    ServerProcess server({.speed = 100});
    LgcpHost host(server.port());
    host.Send(Ping(1));
    ASSERT_EQ(host.Reply(), E2E::Success(1));
    EXPECT_TRUE(host.ClosedWithin(20000));
    EXPECT_TRUE(server.Logged("heartbeat timeout!!!"));
    // The next host is served.
    LgcpHost next(server.port());
    next.Send(Ping(2));
    EXPECT_EQ(next.Reply(), E2E::Success(2));
}

TEST(ControlE2E, ServerWithoutAControllerSaysOnceThatItDropsSignals)
{
    E2E_NEEDS_FAKE_TIME();
    // Ten seconds of the server's clock in each real tenth.
    ServerProcess server({.speed = 100});
    LgcpHost host(server.port());
    host.Send(Ping(1));
    ASSERT_EQ(host.Reply(), E2E::Success(1));
    host.Close();
    // The trunk reports go on four times a second with nobody to hear them;
    // then a minute of the server's clock.
    ASSERT_TRUE(server.Logged("signals dropped: no controller"));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    int const status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string const err = server.Err();
    int lines = 0;
    for (char const* about : {"signals dropped", "ignore Send request"})
        for (auto at = err.find(about); at != std::string::npos; at = err.find(about, at + 1))
            ++lines;
    EXPECT_EQ(lines, 1) << err;
}

TEST(ControlE2E, HostThatDoesNotReadIsDroppedAfterTheWriteTimeout)
{
    ServerProcess server;
    LgcpHost host;
    ASSERT_TRUE(host.Connect(server.port(), 4096));
    Bytes many;
    Bytes const f = LgcpHost::Frame(Ping(1));
    for (int i = 0; i < 100000; ++i)
        many.insert(many.end(), f.begin(), f.end());
    // The answers pile up in the server's socket until a write cannot
    // finish within its bound; the host is then dropped, and the rest of
    // the pings meet a reset. A kernel with large send buffers needs more
    // than one batch: at most 20.
    std::thread writer([&] {
        for (int i = 0; i < 20 && host.SendRaw(many); ++i) {}
    });
    EXPECT_TRUE(server.Logged("SockStream[server]: write timeout", 60));
    writer.join();
    LgcpHost next(server.port());
    next.Send(Ping(2));
    EXPECT_EQ(next.Reply(), E2E::Success(2));
}

TEST(ControlE2E, SigtermWithAHostConnectedEndsCleanly)
{
    ServerProcess server;
    LgcpHost host(server.port());
    host.Send(Ping(1));
    ASSERT_EQ(host.Reply(), E2E::Success(1));
    int const status = server.Stop();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(host.ClosedWithin(5000));
    // The services heard the connection go: the clock service, which selects
    // the free-running clock on every connect and disconnect, did so twice.
    std::string const err = server.Err();
    std::string const line = "set clock source cmd: ";
    std::size_t n = 0;
    for (auto at = err.find(line); at != std::string::npos; at = err.find(line, at + 1))
        ++n;
    EXPECT_EQ(n, 2u) << err;
}

// The server (on a fake clock where there is one) is the process the helper
// holds, no wrapper in between, and after Stop nothing of its process group
// is left.
TEST(ControlE2E, StoppedServerLeavesNoProcess)
{
    bool const fake = E2E::FakeTimeMissing().empty();
    ServerProcess server({.speed = fake ? 10 : 1});
    LgcpHost host(server.port());
    ASSERT_TRUE(host.ok());
    if (fake) {
        char exe[4096] = {};
        ASSERT_GT(::readlink(("/proc/" + std::to_string(server.pid()) + "/exe").c_str(), exe, sizeof exe - 1),
                  0);
        EXPECT_EQ(std::string(exe).substr(std::string(exe).rfind('/')), "/server");
    }
    int const status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(::kill(-server.pid(), 0), 0) << "a process of the server's group is left";
}

// A controller whose packets vanish (nftables drops them, inside a network
// namespace of its own) is found dead once a second controller knocks, and
// the next attempt is served.
TEST(ControlE2E, VanishedControllerIsReplacedWithinSeconds)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            _exit(77);
        if (std::system("ip link set lo up") != 0)
            _exit(77);
        auto scenario = []() -> int {
            ServerProcess server;
            LgcpHost first(server.port());
            first.Send(Ping(1));
            if (first.Reply() != E2E::Success(1))
                return 11;
            std::string const p = std::to_string(first.LocalPort());
            std::string const rules = "nft add table inet gw && "
                                      "nft add chain inet gw in '{ type filter hook input priority 0; }' && "
                                      "nft add rule inet gw in tcp sport " +
                                      p + " drop && nft add rule inet gw in tcp dport " + p + " drop";
            if (std::system(rules.c_str()) != 0)
                return 77;
            // Data in flight on the vanished connection.
            first.Send(Ping(2));
            LgcpHost second;
            if (!second.Connect(server.port()) || !second.ClosedWithin(5000))
                return 12;
            for (int i = 0; i < 40; ++i) {
                LgcpHost next;
                if (next.Connect(server.port())) {
                    next.Send(Ping(3));
                    // The server stands still for a second after losing a
                    // controller (its slots may be finishing): a shorter
                    // wait would give up on each newcomer just before it
                    // is served, and lose the next one the same way.
                    if (next.Reply(nullptr, 2000) == E2E::Success(3))
                        return 0;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
            return 13;
        };
        _exit(scenario());
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no network namespace or nftables here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
