#pragma once
// Shared by the control tests: a frozen loop clock, socket pairs, output
// capture, and the end-of-test proof that nothing is left in the loop.

#include "core/clock.hpp"
#include "core/fd.hpp"
#include "core/multiplexer.hpp"
#include "core/packet.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ctltest {

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // One loop pass that does not block.
    void pass(int n = 1);
    // Moves the loop clock, firing the timers due.
    void advance(std::uint32_t ms);
};

// A connected pair of stream sockets (AF_UNIX), both close-on-exec.
struct SocketPair {
    SocketPair();
    ~SocketPair();
    int a = -1;
    int b = -1;
    void close_b();
};

// A TCP client on loopback; -1 on failure.
int tcp_connect(int port);
// Everything readable now (non-blocking); `eof` tells whether the peer closed.
std::vector<std::uint8_t> read_now(int fd, bool* eof = nullptr);
bool write_all(int fd, std::vector<std::uint8_t> const& bytes);
Packet make_packet(std::vector<std::uint8_t> const& bytes, unsigned int head = 0);
std::vector<std::uint8_t> bytes_of(Packet const& p);

// Output of one stream while alive.
class Capture {
public:
    enum Which { Out, Err };
    explicit Capture(Which w);
    ~Capture();
    std::string text();

private:
    Which which_;
    bool done_ = false;
    std::string text_;
};

int count_of(std::string const& text, std::string const& what);

} // namespace ctltest
