// End to end: the LGCP `testBpc` command sent to build/server over its
// control port, its effect read from the simulated board's control socket.
// The messages are built here bit by bit (X.691 aligned PER), apart from the
// program's own coder.

#include "sim/server_helper.hpp"
#include "support/per_writer.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

using TestPer::BitWriter;

enum Mode { kRead = 0, kWrite = 1, kDisconnect = 2 };

// LGCP::Message { seq, pdu command testBpc {...} }.
Bytes TestBpc(int seq, unsigned bus, long long seed, Mode mode, unsigned start, unsigned length)
{
    BitWriter w;
    w.Bits(0b10, 2);       // preamble: seq present, slot absent (X.691 18.2)
    w.Unconstrained(seq);  // seq INTEGER
    w.Bits(0, 2);          // PDU: command (3 alternatives, X.691 23.6)
    w.Bits(0, 1);          // Command: extension bit (X.691 23.5), root
    w.Bits(1, 4);          // Command: testBpc of 15 alternatives
    w.Bits(bus, 4);        // bus INTEGER (0..15) in a bit-field (X.691 12.2.2)
    w.Unconstrained(seed); // seed INTEGER
    w.Bits(mode, 2);       // mode: 3 alternatives
    w.Bits(start, 7);      // timeslot-start INTEGER (0..127)
    w.Bits(length, 7);     // timeslot-length INTEGER (0..127)
    return w.bytes();
}

// LGCP::Message { seq, pdu response ... } as the server must send it.
Bytes Success(int seq)
{
    BitWriter w;
    w.Bits(0b10, 2);
    w.Unconstrained(seq);
    w.Bits(1, 2); // PDU: response
    w.Bits(0, 1); // Response: success
    return w.bytes();
}
Bytes Error(int seq, unsigned cause)
{
    BitWriter w;
    w.Bits(0b10, 2);
    w.Unconstrained(seq);
    w.Bits(1, 2); // PDU: response
    w.Bits(1, 1); // Response: error
    w.Bits(0, 1); // ErrorCause: extension bit, root
    w.Bits(cause, 4);
    return w.bytes();
}
constexpr unsigned kInvalidParams = 0;
constexpr unsigned kBusError = 10;

class Lgcp {
public:
    explicit Lgcp(int port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The banner comes before the control port opens: a few tries.
        for (int i = 0; i < 500 && fd_ < 0; ++i) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(fd_);
                fd_ = -1;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    ~Lgcp()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // One TPKT frame (RFC 1006: version 3, reserved 0, 16-bit length).
    void Send(const Bytes& payload)
    {
        Bytes frame{3, 0, static_cast<std::uint8_t>((payload.size() + 4) >> 8),
                    static_cast<std::uint8_t>(payload.size() + 4)};
        frame.insert(frame.end(), payload.begin(), payload.end());
        ASSERT_EQ(::write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    }
    // The next response (signals are passed over).
    Bytes Response()
    {
        for (;;) {
            std::uint8_t head[4];
            if (!ReadAll(head, 4))
                return {};
            Bytes payload(static_cast<std::size_t>((head[2] << 8 | head[3]) - 4));
            if (!ReadAll(payload.data(), payload.size()))
                return {};
            if (IsResponse(payload))
                return payload;
        }
    }

private:
    bool ReadAll(std::uint8_t* p, std::size_t n)
    {
        while (n > 0) {
            ssize_t got = ::read(fd_, p, n);
            if (got <= 0)
                return false;
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    static bool IsResponse(const Bytes& m)
    {
        if (m.empty())
            return false;
        std::size_t at = 1;
        if (m[0] & 0x80)
            at += 1 + (at < m.size() ? m[at] : 0);
        if (m[0] & 0x40)
            at += 2; // slot (0..1023): two aligned octets
        return at < m.size() && (m[at] >> 6) == 1;
    }
    int fd_ = -1;
};

std::vector<unsigned> Pattern(unsigned seed, int n)
{
    ::srandom(seed);
    std::vector<unsigned> p;
    for (int i = 0; i < n; ++i)
        p.push_back(static_cast<unsigned>(::random() & 255));
    return p;
}

std::string Hex2(unsigned v)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", v);
    return text;
}

TEST(BpcEndToEnd, TestBpcThroughTheControlPort)
{
    SimTest::ServerProcess server;
    ASSERT_TRUE(server.WaitFor("Starting server"));
    Lgcp host(server.port());
    ASSERT_TRUE(host.ok());
    auto p7 = Pattern(7, 3), p8 = Pattern(8, 3);

    // Write: channels 8458..8460 of bus 2 carry the pattern of seed 7.
    ASSERT_EQ(server.Ask("log clear"), "ok\n");
    host.Send(TestBpc(1, 2, 7, kWrite, 10, 3));
    EXPECT_EQ(host.Response(), Success(1));
    auto log = SimTest::Lines(server.Ask("log"));
    std::vector<std::string> writes;
    for (const auto& line : log)
        if (line.find(" 0xc0084d04 ") != std::string::npos)
            writes.push_back(line.substr(line.find(" 0xc0084d04 ") + 12));
    ASSERT_EQ(writes.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(writes[i].substr(0, writes[i].find(" ->")),
                  std::to_string(8458 + i) + " " + std::to_string(p7[i]));
    EXPECT_EQ(server.Ask("/dev/hal switch 8457 8461"),
              "8457 disabled\n8458 constant 0x" + Hex2(p7[0]) + "\n8459 constant 0x" + Hex2(p7[1]) +
                  "\n8460 constant 0x" + Hex2(p7[2]) + "\n8461 disabled\nok 5\n");

    // Read back with the same seed, then with another.
    host.Send(TestBpc(2, 2, 7, kRead, 10, 3));
    EXPECT_EQ(host.Response(), Success(2));
    ASSERT_NE(p7[0], p8[0]);
    host.Send(TestBpc(3, 2, 8, kRead, 10, 3));
    EXPECT_EQ(host.Response(), Error(3, kBusError));
    EXPECT_NE(server.Stderr().find("bus 2: test failed on channel 10 expected " + Hex2(p8[0]) + "  read " +
                                   Hex2(p7[0]) + " \n"),
              std::string::npos)
        << server.Stderr();

    // Nothing to test: success without a switch request.
    ASSERT_EQ(server.Ask("log clear"), "ok\n");
    host.Send(TestBpc(4, 2, 7, kWrite, 10, 0));
    EXPECT_EQ(host.Response(), Success(4));
    EXPECT_EQ(server.Ask("log"), "ok 0\n");

    // A range past the bus's last time slot is refused untouched.
    host.Send(TestBpc(5, 15, 7, kWrite, 126, 3));
    EXPECT_EQ(host.Response(), Error(5, kInvalidParams));
    EXPECT_EQ(server.Ask("log"), "ok 0\n");

    // Releasing needs the switch: without it the test fails.
    host.Send(TestBpc(6, 2, 7, kDisconnect, 10, 3));
    EXPECT_EQ(host.Response(), Success(6));
    ASSERT_EQ(server.Ask("absent /dev/hal"), "ok\n");
    host.Send(TestBpc(7, 2, 7, kDisconnect, 10, 3));
    EXPECT_EQ(host.Response(), Error(7, kBusError));
    EXPECT_NE(server.Stderr().find("bus 2: disconnect failed on channel 10\n"), std::string::npos)
        << server.Stderr();

    int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
