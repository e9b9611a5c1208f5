#include "control/control_test_helper.hpp"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ctltest {

void LoopTest::SetUp()
{
    Mux::test::freeze();
}

void LoopTest::TearDown()
{
    // Deferred calls run once more so that nothing pending is left behind.
    pass();
    EXPECT_EQ(multiplexer.event_count(), 0u) << "descriptor events left in the loop";
    EXPECT_EQ(multiplexer.timer_count(), 0u) << "timers left in the loop";
    EXPECT_EQ(multiplexer.dpc_count(), 0u) << "deferred calls left in the loop";
    Mux::test::thaw();
}

void LoopTest::pass(int n)
{
    for (int i = 0; i < n; ++i) {
        // A loop with nothing to wait for would rightly abort as hung, and a
        // deferred call may cancel the last timer: run them first, then a
        // pass only when something is left to wait for.
        if (multiplexer.dpc_count() > 0)
            multiplexer.execute_dpc();
        if (multiplexer.event_count() > 0 || multiplexer.timer_count() > 0)
            Mux::test::run_once(0);
    }
}

void LoopTest::advance(std::uint32_t ms)
{
    Mux::test::advance(ms);
}

SocketPair::SocketPair()
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0) {
        a = sv[0];
        b = sv[1];
    }
}

SocketPair::~SocketPair()
{
    if (a >= 0)
        ::close(a);
    close_b();
}

void SocketPair::close_b()
{
    if (b >= 0)
        ::close(b);
    b = -1;
}

int tcp_connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<std::uint8_t> read_now(int fd, bool* eof)
{
    std::vector<std::uint8_t> out;
    if (eof)
        *eof = false;
    std::uint8_t buf[65536];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            continue;
        }
        if (n == 0 && eof)
            *eof = true;
        if (n < 0 && errno == ECONNRESET && eof)
            *eof = true;
        break;
    }
    return out;
}

bool write_all(int fd, std::vector<std::uint8_t> const& bytes)
{
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

Packet make_packet(std::vector<std::uint8_t> const& bytes, unsigned int head)
{
    Packet p;
    p.reserve_head(head);
    p.put(bytes.data(), static_cast<unsigned int>(bytes.size()));
    return p;
}

std::vector<std::uint8_t> bytes_of(Packet const& p)
{
    std::vector<std::uint8_t> out;
    if (!p.null())
        out.assign(p.data(), p.data() + p.length());
    return out;
}

Capture::Capture(Which w) : which_(w)
{
    if (which_ == Out)
        ::testing::internal::CaptureStdout();
    else
        ::testing::internal::CaptureStderr();
}

Capture::~Capture()
{
    text();
}

std::string Capture::text()
{
    if (!done_) {
        done_ = true;
        text_ = which_ == Out ? ::testing::internal::GetCapturedStdout()
                              : ::testing::internal::GetCapturedStderr();
    }
    return text_;
}

int count_of(std::string const& text, std::string const& what)
{
    int n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

} // namespace ctltest
