// The control connection: the order of a connection's start, the loss
// sequence with its deferred OnDisconnect, and the send rules by state.

#include "control/control_test_helper.hpp"
#include "control/service.hpp"

#include <unistd.h>

using namespace ctltest;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Sink : Control::Notify {
    Control::Service* link = nullptr;
    std::vector<std::string> events;
    std::vector<Bytes> messages;
    Control::Service::State::Type state_at_connect{};
    Control::Service::State::Type state_at_disconnect{};
    bool send_on_connect = false;

    void OnConnect() override
    {
        events.push_back("connect");
        state_at_connect = link->state();
        if (send_on_connect)
            link->Send("hi", 2);
    }
    void OnDisconnect() override
    {
        events.push_back("disconnect");
        state_at_disconnect = link->state();
    }
    void OnMessage(char const* data, int length) override { messages.emplace_back(data, data + length); }
};

// A connection whose socket the test hands in.
struct TestLink : Control::ServiceNet {
    int activations = 0, deactivations = 0, disconnects = 0;
    bool ImplActivate() override
    {
        ++activations;
        return true;
    }
    void ImplDeactivate() override
    {
        ++deactivations;
        Release();
    }
    void ImplOnDisconnect() override { ++disconnects; }
};

struct ServiceTest : LoopTest {
    void SetUp() override
    {
        LoopTest::SetUp();
        sink.link = &link;
        link.Bind(&sink);
        peer.Assign("127.0.0.1:4242");
    }
    void connect()
    {
        link.Activate();
        link.Connected(Fd(sp.a), peer);
    }
    SocketPair sp;
    TestLink link;
    Sink sink;
    INet4::Addr peer;
};

} // namespace

TEST_F(ServiceTest, ConnectTellsTheSinkOnceWhenAlreadyConnected)
{
    sink.send_on_connect = true;
    connect();
    ASSERT_EQ(sink.events, (std::vector<std::string>{"connect"}));
    EXPECT_EQ(sink.state_at_connect, Control::Service::State::Connected);
    EXPECT_EQ(link.peer_name(), "127.0.0.1:4242");
    // A send from inside OnConnect goes out.
    EXPECT_EQ(read_now(sp.b), (Bytes{0x03, 0x00, 0x00, 0x06, 'h', 'i'}));
    link.Deactivate();
}

TEST_F(ServiceTest, ReceivedFramesReachTheSinkAsPayloads)
{
    connect();
    write_all(sp.b, {0x03, 0x00, 0x00, 0x07, 'A', 'B', 'C', 0x03, 0x00, 0x00, 0x05, 'Z'});
    pass();
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0], (Bytes{'A', 'B', 'C'}));
    EXPECT_EQ(sink.messages[1], (Bytes{'Z'}));
    link.Deactivate();
}

TEST_F(ServiceTest, PeerCloseLogsThenDisconnectsFromTheDeferredCall)
{
    connect();
    Capture err(Capture::Err);
    sp.close_b();
    Mux::test::run_once(0);
    EXPECT_EQ(link.state(), Control::Service::State::Deactivating);
    EXPECT_EQ(sink.events.size(), 1u) << "OnDisconnect must wait for the deferred call";
    pass();
    EXPECT_NE(err.text().find("control connection 127.0.0.1:4242 closed.\n"), std::string::npos);
    ASSERT_EQ(sink.events, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_EQ(sink.state_at_disconnect, Control::Service::State::Connecting);
    EXPECT_EQ(link.disconnects, 1);
}

TEST_F(ServiceTest, DisconnectTwiceIsOneLossSequence)
{
    connect();
    // The stream layer keeps its own duplicate.
    ::close(sp.a);
    sp.a = -1;
    Capture err(Capture::Err);
    link.Disconnect();
    link.Disconnect();
    // Nothing is sent once the loss has begun.
    link.Send("x", 1);
    pass();
    EXPECT_EQ(count_of(err.text(), "closed."), 1);
    EXPECT_EQ(count_of(err.text(), "ignore Send"), 0);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"connect", "disconnect"}));
    bool eof = false;
    EXPECT_TRUE(read_now(sp.b, &eof).empty());
    EXPECT_TRUE(eof) << "the stream layer closed its socket";
}

TEST_F(ServiceTest, SendOutsideConnectedIsRefusedWithTheState)
{
    link.Activate();
    Capture err(Capture::Err);
    link.Send("abc", 3);
    EXPECT_NE(err.text().find("Control::Service::Send() ignore Send request in Connecting state.\n"),
              std::string::npos);
    link.Deactivate();
}

TEST_F(ServiceTest, OversizedPayloadIsRefusedNotTruncated)
{
    connect();
    Capture err(Capture::Err);
    std::vector<char> big(65532, 'x');
    link.Send(big.data(), static_cast<int>(big.size()));
    std::vector<char> largest(65531, 'y');
    link.Send(largest.data(), static_cast<int>(largest.size()));
    EXPECT_NE(err.text().find("refuse payload of 65532 bytes"), std::string::npos);
    Bytes got;
    for (int i = 0; i < 100 && got.size() < 65535; ++i) {
        Bytes part = read_now(sp.b);
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_EQ(got.size(), 65535u);
    EXPECT_EQ((Bytes{got[0], got[1], got[2], got[3]}), (Bytes{0x03, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(got[4], 'y');
    link.Deactivate();
}

// A payload written into a packet from NewPayload goes out behind the TPKT
// header under the same rules as Send(data, length).
TEST_F(ServiceTest, PayloadWrittenIntoItsPacketIsFramedAndSent)
{
    Capture err(Capture::Err);
    Packet early = link.NewPayload();
    early.put("no", 2);
    link.Send(early);
    EXPECT_NE(err.text().find("ignore Send request in Idle state."), std::string::npos);
    connect();
    Packet p = link.NewPayload();
    EXPECT_EQ(p.headroom(), 4u);
    p.put("abc", 3);
    link.Send(p);
    EXPECT_EQ(read_now(sp.b), (Bytes{0x03, 0x00, 0x00, 0x07, 'a', 'b', 'c'}));
    link.Deactivate();
}

TEST_F(ServiceTest, DeactivateGoesIdleWithoutTellingTheSink)
{
    connect();
    link.Deactivate();
    EXPECT_EQ(link.state(), Control::Service::State::Idle);
    pass();
    EXPECT_EQ(sink.events, (std::vector<std::string>{"connect"}));
}

TEST_F(ServiceTest, DisconnectWhileConnectingStillRunsTheLossSequence)
{
    link.Activate();
    Capture err(Capture::Err);
    link.Disconnect();
    pass();
    EXPECT_NE(err.text().find("control connection  closed."), std::string::npos) << err.text();
    EXPECT_EQ(sink.events, (std::vector<std::string>{"disconnect"}));
    EXPECT_EQ(link.disconnects, 1);
}

TEST_F(ServiceTest, ConnectionOfferedWhileDeactivatingIsIgnored)
{
    connect();
    link.Disconnect();
    SocketPair other;
    link.Connected(Fd(other.a), peer);
    EXPECT_EQ(link.state(), Control::Service::State::Deactivating);
    pass();
    EXPECT_EQ(sink.events, (std::vector<std::string>{"connect", "disconnect"}));
}

TEST_F(ServiceTest, ServiceNameIsTheStreamHeader)
{
    link.service_name("server");
    EXPECT_EQ(link.service_name(), "server");
    EXPECT_EQ(Control::GetTextNotation(static_cast<Control::Service::State::Type>(7)),
              std::string("Unknown"));
}
