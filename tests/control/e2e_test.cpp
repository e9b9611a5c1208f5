// The control path end to end: build/server on a free loopback port, driven
// by a controlling host over TCP. Octets are those of X.691 aligned PER of
// LGCP::Message in TPKT frames (RFC 1006).

#include "control/lgcp_client.hpp"
#include "support/faketime.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ctltest;

namespace {

Bytes const ping_seq1{0x80, 0x01, 0x01, 0x18};
Bytes const success_seq1{0x80, 0x01, 0x01, 0x40};

int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string slurp(std::string const& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// build/server below a private root (GW_ROOT), output captured in files.
class Server {
public:
    // `speed`: run under libfaketime with the clock this many times faster.
    explicit Server(int speed = 1) : port_(free_port())
    {
        char tmpl[] = "/tmp/gw-control-e2e-XXXXXX";
        root_ = mkdtemp(tmpl);
        std::string const run = root_ + "/var/run";
        std::system(("mkdir -p " + run).c_str());
        char const* bin = std::getenv("GW_TEST_BINARY_DIR");
        std::string const server = std::string(bin ? bin : ".") + "/server";
        std::string const port = std::to_string(port_);
        std::string const rate = "+0 x" + std::to_string(speed);
        std::string const faketime = speed > 1 ? TestFakeTime::Library() : std::string();
        pid_ = fork();
        if (pid_ == 0) {
            setenv("GW_ROOT", root_.c_str(), 1);
            // libfaketime is preloaded ahead of the sanitizer runtime.
            std::string asan = "verify_asan_link_order=0";
            if (char const* o = std::getenv("ASAN_OPTIONS"))
                asan = std::string(o) + ":" + asan;
            setenv("ASAN_OPTIONS", asan.c_str(), 1);
            int out = open((root_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open((root_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            if (speed > 1) {
                if (faketime.empty())
                    _exit(127);
                setenv("LD_PRELOAD", faketime.c_str(), 1);
                setenv("FAKETIME", rate.c_str(), 1);
            }
            execl(server.c_str(), server.c_str(), "--port", port.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Server()
    {
        stop();
        std::system(("rm -rf " + root_).c_str());
    }
    int port() const { return port_; }
    // SIGTERM and the exit status (-1 when it did not end within 10 s).
    int stop()
    {
        if (pid_ <= 0)
            return status_;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 1000; ++i) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                pid_ = -1;
                return status_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
        status_ = -1;
        return status_;
    }
    std::string err() const { return slurp(root_ + "/stderr"); }
    std::string out() const { return slurp(root_ + "/stdout"); }
    // Waits (bounded) until the error stream holds `text`.
    bool logged(std::string const& text, int seconds = 20) const
    {
        for (int i = 0; i < seconds * 100; ++i) {
            if (err().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    int port_;
    std::string root_;
    int pid_ = -1;
    int status_ = -1;
};

} // namespace

TEST(ControlE2E, EnvelopeRulesOnTheWire)
{
    Server server;
    LgcpClient host;
    ASSERT_TRUE(host.connect(server.port()));
    host.send(ping_seq1);
    EXPECT_EQ(host.reply(), success_seq1);
    // A signal from the host: unexpectedMsgType without slot.
    host.send({0x80, 0x01, 0x09, 0x85});
    EXPECT_EQ(host.reply(), (Bytes{0x80, 0x01, 0x09, 0x64}));
    // Slot 0xFFFF: invalidSlot, no slot in the answer; 1023 comes back.
    host.send({0x40, 0xFF, 0xFF, 0x18});
    EXPECT_EQ(host.reply(), (Bytes{0x18, 0x80}));
    host.send({0x40, 0x03, 0xFF, 0x18});
    EXPECT_EQ(host.reply(), (Bytes{0x40, 0x03, 0xFF, 0x40}));
    // protoVeze (an empty packet list), which no service takes.
    host.send({0x80, 0x01, 0x05, 0x1C, 0x00});
    EXPECT_EQ(host.reply(), (Bytes{0x80, 0x01, 0x05, 0x64}));
    // An extension alternative of the command nobody takes.
    host.send({0x80, 0x01, 0x06, 0x20, 0x00, 0x01, 0x00});
    EXPECT_EQ(host.reply(), (Bytes{0x80, 0x01, 0x06, 0x64}));
}

TEST(ControlE2E, GarbageResynchronisationAndSplitFrames)
{
    Server server(10);
    LgcpClient host;
    ASSERT_TRUE(host.connect(server.port()));
    // A payload that does not decode: logged, not answered.
    host.send({0xC0, 0x05});
    EXPECT_TRUE(server.logged("receive fail: decode error!\n msg: C0 05 \n"));
    host.send(ping_seq1);
    EXPECT_EQ(host.reply(), success_seq1);
    // Bytes before a frame are skipped.
    Bytes junk{0xFF, 0x00, 0x42};
    Bytes f = LgcpClient::frame(ping_seq1);
    junk.insert(junk.end(), f.begin(), f.end());
    host.send_raw(junk);
    EXPECT_EQ(host.reply(), success_seq1);
    EXPECT_TRUE(server.logged("(no name) bad TPKT packet start."));
    // A frame written one octet at a time.
    for (std::uint8_t b : f) {
        host.send_raw({b});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(host.reply(), success_seq1);
    // A partial frame is dropped after 3000 ms (of the server's clock).
    host.send_raw({0x03, 0x00, 0x00, 0x08, 0x80});
    EXPECT_TRUE(server.logged(" TPKT packet timeout."));
    host.send(ping_seq1);
    EXPECT_EQ(host.reply(), success_seq1);
}

TEST(ControlE2E, SecondControllerIsRefusedAndTheFirstKeepsWorking)
{
    Server server;
    LgcpClient first, second;
    ASSERT_TRUE(first.connect(server.port()));
    first.send(ping_seq1);
    ASSERT_EQ(first.reply(), success_seq1);
    ASSERT_TRUE(second.connect(server.port()));
    EXPECT_TRUE(second.closed_within(5000));
    first.send(ping_seq1);
    EXPECT_EQ(first.reply(), success_seq1);
    EXPECT_TRUE(server.logged("refuse connection from 127.0.0.1:"));
}

TEST(ControlE2E, SilentControllerTimesOutOnTheHeartbeat)
{
    // 120 s of the server's clock in 1.2 s.
    Server server(100);
    LgcpClient host;
    ASSERT_TRUE(host.connect(server.port()));
    host.send(ping_seq1);
    ASSERT_EQ(host.reply(), success_seq1);
    EXPECT_TRUE(host.closed_within(20000));
    EXPECT_TRUE(server.logged("heartbeat timeout!!!"));
    // The next host is served.
    LgcpClient next;
    ASSERT_TRUE(next.connect(server.port()));
    next.send(ping_seq1);
    EXPECT_EQ(next.reply(), success_seq1);
}

TEST(ControlE2E, ServerWithoutAControllerSaysOnceThatItDropsSignals)
{
    // Ten seconds of the server's clock in each real tenth.
    Server server(100);
    LgcpClient host;
    ASSERT_TRUE(host.connect(server.port()));
    host.send(ping_seq1);
    ASSERT_EQ(host.reply(), success_seq1);
    host.close();
    // The trunk reports go on four times a second with nobody to hear them.
    ASSERT_TRUE(server.logged("signals dropped: no controller"));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_EQ(server.stop(), 0);
    std::string const err = server.err();
    int lines = 0;
    for (char const* about : {"signals dropped", "ignore Send request"})
        for (auto at = err.find(about); at != std::string::npos; at = err.find(about, at + 1))
            ++lines;
    EXPECT_EQ(lines, 1) << err;
}

TEST(ControlE2E, HostThatDoesNotReadIsDroppedAfterTheWriteTimeout)
{
    Server server;
    LgcpClient host;
    ASSERT_TRUE(host.connect(server.port(), 10, 4096));
    Bytes many;
    Bytes const f = LgcpClient::frame(ping_seq1);
    for (int i = 0; i < 100000; ++i)
        many.insert(many.end(), f.begin(), f.end());
    // The answers pile up in the server's socket until a write cannot
    // finish within its bound; the host is then dropped, and the rest of
    // the pings meet a reset. A kernel with large send buffers needs more
    // than one batch: at most 20.
    std::thread writer([&] {
        for (int i = 0; i < 20 && host.send_raw(many); ++i) {}
    });
    EXPECT_TRUE(server.logged("SockStream[server]: write timeout", 60));
    writer.join();
    LgcpClient next;
    ASSERT_TRUE(next.connect(server.port()));
    next.send(ping_seq1);
    EXPECT_EQ(next.reply(), success_seq1);
}

TEST(ControlE2E, SigtermWithAHostConnectedEndsCleanly)
{
    Server server;
    LgcpClient host;
    ASSERT_TRUE(host.connect(server.port()));
    host.send(ping_seq1);
    ASSERT_EQ(host.reply(), success_seq1);
    int status = server.stop();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(host.closed_within(5000));
    // The services heard the connection go: the clock service, which selects
    // the free-running clock on every connect and disconnect, did so twice.
    std::string const err = server.err();
    std::string const line = "set clock source cmd: ";
    std::size_t n = 0;
    for (auto at = err.find(line); at != std::string::npos; at = err.find(line, at + 1))
        ++n;
    EXPECT_EQ(n, 2u) << err;
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
            Server server;
            LgcpClient first;
            if (!first.connect(server.port()))
                return 10;
            first.send(ping_seq1);
            if (first.reply() != success_seq1)
                return 11;
            std::string const p = std::to_string(first.local_port());
            std::string const rules = "nft add table inet gw && "
                                      "nft add chain inet gw in '{ type filter hook input priority 0; }' && "
                                      "nft add rule inet gw in tcp sport " +
                                      p +
                                      " drop && "
                                      "nft add rule inet gw in tcp dport " +
                                      p + " drop";
            if (std::system(rules.c_str()) != 0)
                return 77;
            // Data in flight on the vanished connection.
            first.send(ping_seq1);
            LgcpClient second;
            if (!second.connect(server.port()) || !second.closed_within(5000))
                return 12;
            for (int i = 0; i < 40; ++i) {
                LgcpClient next;
                if (next.connect(server.port())) {
                    next.send(ping_seq1);
                    if (next.reply(500) == success_seq1)
                        return 0;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
            return 13;
        };
        int const code = scenario();
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no network namespace or nftables here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
