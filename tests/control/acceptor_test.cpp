// The TCP acceptor: one connection at a time, newcomers refused at once, the
// served connection probed after a refusal, and a listening socket that is
// retried until it stands.

#include "control/acceptor_net.hpp"
#include "control/control_test_helper.hpp"

#include <algorithm>
#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ctltest;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Sink : Control::Notify {
    int connects = 0, disconnects = 0;
    std::vector<Bytes> messages;
    void OnConnect() override { ++connects; }
    void OnDisconnect() override { ++disconnects; }
    void OnMessage(char const* d, int n) override { messages.emplace_back(d, d + n); }
};

struct TestAcceptor : Control::AcceptorNetCheckConnection {
    using AcceptorNetCheckConnection::AcceptorNetCheckConnection;
    int listen_fd() const { return listen_.get(); }
};

struct AcceptorTest : LoopTest {
    void SetUp() override
    {
        LoopTest::SetUp();
        acc.Bind(&sink);
    }
    void TearDown() override
    {
        acc.Deactivate();
        // The served connection stays with the stack until the object goes.
        acc.Release();
        for (int fd : clients)
            ::close(fd);
        Control::AcceptorNet::sys_socket = &::socket;
        Control::AcceptorNet::sys_listen = &::listen;
        Control::AcceptorNet::sys_getsockopt = &::getsockopt;
        Control::AcceptorNet::sys_dup = [](Fd fd) { return fd.dup(); };
        LoopTest::TearDown();
    }
    int client()
    {
        int fd = tcp_connect(acc.local_port());
        clients.push_back(fd);
        return fd;
    }
    TestAcceptor acc{0, true};
    Sink sink;
    std::vector<int> clients;
};

// A port that a listening socket of the test holds.
struct BusyPort {
    BusyPort()
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 1);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~BusyPort() { release(); }
    void release()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fd = -1;
    int port = 0;
};

int fail_socket(int, int, int)
{
    errno = EMFILE;
    return -1;
}

int listen_failures = 0;
int fail_listen_once(int fd, int backlog)
{
    if (listen_failures++ == 0) {
        errno = EADDRINUSE;
        return -1;
    }
    return ::listen(fd, backlog);
}

// TCP_INFO answered with `tcp_info_octets` octets only, of a healthy
// connection (established, congestion state open); any other option as the
// kernel answers it.
socklen_t tcp_info_octets = 0;
int short_tcp_info(int fd, int level, int name, void* value, socklen_t* len)
{
    if (level != IPPROTO_TCP || name != TCP_INFO)
        return ::getsockopt(fd, level, name, value, len);
    auto* octets = static_cast<unsigned char*>(value);
    const unsigned char healthy[2] = {TCP_ESTABLISHED, 0};
    for (socklen_t i = 0; i < tcp_info_octets && i < *len; ++i)
        octets[i] = healthy[i];
    *len = std::min(*len, tcp_info_octets);
    return 0;
}

int no_dup(Fd)
{
    errno = EMFILE;
    return -1;
}

// SO_ERROR unreadable; TCP_INFO as short_tcp_info answers it (qemu-user
// garbles the kernel's).
int so_error_unreadable(int fd, int level, int name, void* value, socklen_t* len)
{
    if (level == SOL_SOCKET && name == SO_ERROR) {
        errno = EBADF;
        return -1;
    }
    return short_tcp_info(fd, level, name, value, len);
}

} // namespace

TEST_F(AcceptorTest, FailedOrShortCheckReadsSayNothingAboutTheConnection)
{
    // Descriptors ran out as the host connected: the check has no duplicate
    // of its own, and a failed read is the server's, not the peer's.
    Control::AcceptorNet::sys_dup = &no_dup;
    Control::AcceptorNet::sys_getsockopt = &so_error_unreadable;
    tcp_info_octets = 2;
    ASSERT_TRUE(acc.Activate());
    int c1 = -1;
    {
        Capture err(Capture::Err);
        c1 = client();
        pass();
        EXPECT_FALSE(static_cast<bool>(acc.check_fd()));
        advance(3000);
        write_all(c1, {0x03, 0x00, 0x00, 0x05, 0x42});
        pass();
        EXPECT_EQ(sink.messages.size(), 1u);
        std::string const text = err.text();
        EXPECT_EQ(count_of(text, "no descriptor of its own for the check: Too many open files\n"), 1) << text;
        EXPECT_EQ(count_of(text, ": check failed: Bad file descriptor\n"), 1) << text;
    }
    Control::AcceptorNet::sys_getsockopt = &short_tcp_info;
    Capture err(Capture::Err);
    tcp_info_octets = 0; // no state at all: not read as "not established"
    advance(1000);
    EXPECT_EQ(acc.state(), Control::Service::State::Connected) << err.text();
    client(); // a newcomer starts the check of the served connection
    pass();
    ASSERT_EQ(acc.check_state(), TestAcceptor::CheckConnectionState::CheckConnection);
    tcp_info_octets = 1; // the state, no congestion state: the check goes on
    advance(1000);
    EXPECT_EQ(acc.check_state(), TestAcceptor::CheckConnectionState::CheckConnection);
    tcp_info_octets = 2;
    advance(1000);
    EXPECT_EQ(acc.check_state(), TestAcceptor::CheckConnectionState::Idle);
    EXPECT_EQ(acc.state(), Control::Service::State::Connected);
    EXPECT_EQ(sink.disconnects, 0);
    // The checks went on all along, on the stream layer's descriptor.
    Control::AcceptorNet::sys_getsockopt = &::getsockopt;
    ::shutdown(c1, SHUT_WR);
    advance(1000);
    EXPECT_EQ(acc.state(), Control::Service::State::Deactivating);
}

TEST_F(AcceptorTest, ServesTheFirstAndRefusesTheSecondAtOnce)
{
    ASSERT_TRUE(acc.Activate());
    ASSERT_TRUE(acc.listening());
    Capture out(Capture::Out);
    int c1 = client();
    pass();
    EXPECT_NE(out.text().find("new connection from 127.0.0.1:"), std::string::npos);
    EXPECT_EQ(sink.connects, 1);
    EXPECT_EQ(acc.state(), Control::Service::State::Connected);

    Capture err(Capture::Err);
    int c2 = client();
    pass();
    bool eof = false;
    read_now(c2, &eof);
    EXPECT_TRUE(eof) << "the newcomer is closed at once";
    EXPECT_EQ(acc.check_state(), TestAcceptor::CheckConnectionState::CheckConnection);
    EXPECT_EQ(acc.countdown(), 2);

    // The first keeps working.
    write_all(c1, {0x03, 0x00, 0x00, 0x05, 0x42});
    pass();
    ASSERT_EQ(sink.messages.size(), 1u);
    // A healthy connection ends the check at the next one.
    advance(1000);
    EXPECT_EQ(acc.check_state(), TestAcceptor::CheckConnectionState::Idle);
    std::string text = err.text();
    EXPECT_NE(text.find("refuse connection from 127.0.0.1:"), std::string::npos) << text;
    EXPECT_NE(text.find("CheckConnectionState CheckConnection\n"), std::string::npos);
    EXPECT_NE(text.find("CheckConnectionState Idle\n"), std::string::npos);
    EXPECT_EQ(sink.connects, 1);
    EXPECT_EQ(sink.disconnects, 0);
}

TEST_F(AcceptorTest, ConnectionTheServerDropsEndsAtOnceForTheHost)
{
    acc.Activate();
    int c1 = client();
    pass();
    ASSERT_TRUE(static_cast<bool>(acc.check_fd()));
    Capture err(Capture::Err);
    acc.Disconnect();
    // Before the deferred call: the check duplicate must not hold the
    // connection open.
    bool eof = false;
    read_now(c1, &eof);
    EXPECT_TRUE(eof);
    EXPECT_FALSE(static_cast<bool>(acc.check_fd()));
    pass();
    EXPECT_EQ(sink.disconnects, 1);
    // The next host is served.
    client();
    pass();
    EXPECT_EQ(sink.connects, 2);
}

TEST_F(AcceptorTest, ConnectionThatLeftEstablishedIsFoundByTheCheck)
{
    acc.Activate();
    int c1 = client();
    pass();
    Capture err(Capture::Err);
    ::shutdown(c1, SHUT_WR);
    // Only the timers run: the stream layer does not see the FIN first.
    advance(1000);
    EXPECT_NE(err.text().find(" closed: tcp socket change state.\n"), std::string::npos) << err.text();
    EXPECT_EQ(acc.state(), Control::Service::State::Deactivating);
    pass();
    EXPECT_EQ(sink.disconnects, 1);
}

TEST_F(AcceptorTest, NewcomerDuringTeardownIsClosedAndLoggedAsRefused)
{
    acc.Activate();
    client();
    pass();
    acc.Disconnect();
    ASSERT_EQ(acc.state(), Control::Service::State::Deactivating);
    int c2 = client();
    Capture err(Capture::Err);
    // The accept event of the same pass that found the loss.
    acc.OnSocketEvent(acc.listen_fd(), POLLIN);
    EXPECT_NE(err.text().find("refuse connection from 127.0.0.1:"), std::string::npos);
    bool eof = false;
    read_now(c2, &eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(acc.check_state(), TestAcceptor::CheckConnectionState::Idle);
    pass();
    EXPECT_EQ(sink.connects, 1);
    EXPECT_EQ(sink.disconnects, 1);
}

TEST_F(AcceptorTest, PortInUseIsRetriedEvery5000Ms)
{
    BusyPort busy;
    TestAcceptor other(busy.port, true);
    Capture err(Capture::Err);
    ASSERT_TRUE(other.Activate());
    EXPECT_FALSE(other.listening());
    advance(5000);
    EXPECT_EQ(other.state(), Control::Service::State::Connecting);
    busy.release();
    advance(5000);
    EXPECT_TRUE(other.listening());
    EXPECT_EQ(other.local_port(), busy.port);
    EXPECT_EQ(count_of(err.text(), "can't bind to socket: \"Address already in use\"  waiting...\n"), 2)
        << err.text();
    other.Deactivate();
}

TEST_F(AcceptorTest, SocketFailureOnTheControlPortIsRetried)
{
    Control::AcceptorNet::sys_socket = &fail_socket;
    Capture err(Capture::Err);
    EXPECT_TRUE(acc.Activate());
    EXPECT_FALSE(acc.listening());
    EXPECT_TRUE(acc.bind_retry_pending());
    Control::AcceptorNet::sys_socket = &::socket;
    advance(5000);
    EXPECT_TRUE(acc.listening());
    EXPECT_NE(err.text().find("can't create socket:Too many open files"), std::string::npos);
}

TEST_F(AcceptorTest, ListenFailureIsRetriedNotLeftListeningNowhere)
{
    listen_failures = 0;
    Control::AcceptorNet::sys_listen = &fail_listen_once;
    Capture err(Capture::Err);
    EXPECT_TRUE(acc.Activate());
    EXPECT_FALSE(acc.listening());
    EXPECT_EQ(acc.state(), Control::Service::State::Connecting);
    advance(5000);
    EXPECT_TRUE(acc.listening());
    EXPECT_NE(err.text().find("can't listen socket: Address already in use  waiting...\n"), std::string::npos)
        << err.text();
}

TEST_F(AcceptorTest, PlainAcceptorReportsSocketFailureToTheCaller)
{
    Control::AcceptorNet::sys_socket = &fail_socket;
    Control::AcceptorNet plain(0, false);
    EXPECT_FALSE(plain.Activate());
    EXPECT_EQ(plain.state(), Control::Service::State::Idle);
    EXPECT_FALSE(plain.bind_retry_pending());
}

TEST_F(AcceptorTest, DeactivationStopsListeningAndChecking)
{
    acc.Activate();
    client();
    pass();
    acc.Deactivate();
    EXPECT_FALSE(acc.listening());
    EXPECT_FALSE(static_cast<bool>(acc.check_fd()));
    EXPECT_EQ(acc.state(), Control::Service::State::Idle);
    // The served connection goes with the object; TearDown proves no timer
    // or event is left.
    acc.Release();
}
