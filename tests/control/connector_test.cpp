// The TCP connector: connects without blocking, retries quickly seven times
// and then slowly, reconnects 10 s after a loss, and leaves nothing behind
// when deactivated.

#include "control/connector_net.hpp"
#include "control/control_test_helper.hpp"
#include "tests/support/loopback.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ctltest;

namespace {

struct Sink : Control::Notify {
    int connects = 0, disconnects = 0;
    void OnConnect() override { ++connects; }
    void OnDisconnect() override { ++disconnects; }
    void OnMessage(char const*, int) override {}
};

struct Listener {
    Listener() { fd = TestNet::ListenLoopback(4, port); }
    ~Listener()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int accept_one() { return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
    int fd = -1;
    int port = 0;
};

// A loopback port that nobody listens on.
int closed_port()
{
    Listener l;
    return l.port;
}

struct ConnectorTest : LoopTest {};

} // namespace

TEST_F(ConnectorTest, ConnectsAndTellsTheSink)
{
    Listener l;
    Control::ConnectorNet c("127.0.0.1:" + std::to_string(l.port));
    EXPECT_EQ(c.host(), "127.0.0.1");
    EXPECT_EQ(c.port(), l.port);
    Sink sink;
    c.Bind(&sink);
    Capture out(Capture::Out);
    Capture* err = new Capture(Capture::Err);
    EXPECT_TRUE(c.Activate());
    for (int i = 0; i < 5 && sink.connects == 0; ++i)
        pass();
    delete err;
    EXPECT_EQ(sink.connects, 1);
    EXPECT_EQ(c.state(), Control::Service::State::Connected);
    int s = l.accept_one();
    ASSERT_GE(s, 0);
    c.Send("x", 1);
    std::vector<std::uint8_t> got = read_now(s);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{0x03, 0x00, 0x00, 0x05, 'x'}));

    // A lost connection: closed line, OnDisconnect, a new try 10000 ms later.
    ::close(s);
    for (int i = 0; i < 5 && sink.disconnects == 0; ++i)
        pass();
    EXPECT_EQ(sink.disconnects, 1);
    EXPECT_TRUE(c.retry_pending());
    advance(9999);
    EXPECT_EQ(sink.connects, 1);
    advance(1);
    for (int i = 0; i < 5 && sink.connects == 1; ++i)
        pass();
    EXPECT_EQ(sink.connects, 2);
    c.Deactivate();
    EXPECT_EQ(c.state(), Control::Service::State::Idle);
    pass();
    EXPECT_EQ(sink.disconnects, 1) << "a deactivated connector closes quietly";
}

TEST_F(ConnectorTest, RefusedPeerIsRetriedSevenTimesQuicklyThenSlowly)
{
    Control::ConnectorNet c("127.0.0.1", static_cast<unsigned short>(closed_port()));
    Capture err(Capture::Err);
    c.Activate();
    // Loopback refuses either at once or through the pending connect.
    auto settle = [&] {
        for (int i = 0; i < 5 && c.connect_pending(); ++i)
            pass();
    };
    settle();
    EXPECT_EQ(c.retries_left(), 6);
    for (int i = 0; i < 6; ++i) {
        advance(1000);
        settle();
    }
    EXPECT_EQ(c.retries_left(), 0);
    advance(1000);
    settle();
    EXPECT_EQ(c.retries_left(), 0);
    EXPECT_EQ(c.state(), Control::Service::State::Connecting);
    // Eight attempts so far; the next is far off.
    advance(11999);
    settle();
    std::string text = err.text();
    int attempts = count_of(text, "can't connect to 127.0.0.1:") + count_of(text, "fail to connect to");
    EXPECT_EQ(attempts, 8) << text;
    c.Deactivate();
    EXPECT_FALSE(c.retry_pending());
}

TEST_F(ConnectorTest, DeactivateDuringAPendingConnectLeavesNothing)
{
    Listener l;
    Control::ConnectorNet c("127.0.0.1", static_cast<unsigned short>(l.port));
    c.Activate();
    c.Deactivate();
    EXPECT_FALSE(c.connect_pending());
    EXPECT_FALSE(c.retry_pending());
    EXPECT_EQ(c.state(), Control::Service::State::Idle);
}
