// The TPKT trace listeners: framing checks on what clients send, broadcast
// and reply, peer-to-peer sends, and connections that close while the
// listener walks them.

#include "control/control_test_helper.hpp"
#include "control/tpkt_tracer.hpp"

#include <cerrno>
#include <functional>
#include <string>
#include <algorithm>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <unistd.h>

using namespace ctltest;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes frame(std::string const& payload)
{
    std::size_t const n = payload.size() + 4;
    Bytes b(n);
    b[0] = 0x03;
    b[1] = 0x00;
    b[2] = static_cast<std::uint8_t>(n >> 8);
    b[3] = static_cast<std::uint8_t>(n & 0xFF);
    std::copy(payload.begin(), payload.end(), b.begin() + 4);
    return b;
}

Bytes operator+(Bytes a, Bytes const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Collector : TPKTTracer::Receiver {
    std::vector<std::string> got;
    std::function<void(std::string const&)> then;
    void OnPacket(void const* data, unsigned int length) override
    {
        got.emplace_back(static_cast<char const*>(data), length);
        if (then)
            then(got.back());
    }
};

struct PeerCollector : TPKTTracerP2P::Receiver {
    std::vector<std::string> opened, closed, got;
    std::vector<int> fds;
    std::function<void(INet4::Addr const&)> then;
    void OnOpen(INet4::Addr const& peer, int fd) override
    {
        opened.push_back(peer.GetString());
        fds.push_back(fd);
    }
    void OnClose(INet4::Addr const& peer) override { closed.push_back(peer.GetString()); }
    void OnPacket(INet4::Addr const& peer, void const* data, unsigned int length) override
    {
        got.emplace_back(static_cast<char const*>(data), length);
        if (then)
            then(peer);
    }
};

// The address the listener sees for a client.
INet4::Addr local_of(int fd)
{
    INet4::Addr a;
    socklen_t len = INet4::Addr::size();
    getsockname(fd, a.sa(), &len);
    return a;
}

// `n` octets, waiting for them in the kernel as long as they keep coming
// (Nagle may hold a small segment until the peer's delayed ACK); fewer when
// nothing arrives for a while.
Bytes read_n(int fd, std::size_t n)
{
    Bytes out;
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            break;
        Bytes more = read_now(fd);
        if (more.empty())
            break;
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

// As many octets as `like` holds.
Bytes read_like(int fd, Bytes const& like)
{
    return read_n(fd, like.size());
}

bool closed_by_peer(int fd)
{
    bool eof = false;
    read_now(fd, &eof);
    return eof;
}

struct TracerTest : LoopTest {
    void TearDown() override
    {
        for (int fd : clients)
            ::close(fd);
        LoopTest::TearDown();
    }
    // A client connected and accepted.
    template <class T>
    int connect_to(T& tracer)
    {
        int fd = tcp_connect(tracer.local_port());
        EXPECT_GE(fd, 0);
        clients.push_back(fd);
        pass();
        return fd;
    }
    std::vector<int> clients;
};

} // namespace

TEST_F(TracerTest, FramingOfWhatClientsSend)
{
    TPKTTracer t;
    Collector rx;
    t.SetReceiver(&rx);
    ASSERT_TRUE(t.Listen(0));
    ASSERT_NE(t.local_port(), 0);

    Capture log(Capture::Err);
    int c = connect_to(t);
    EXPECT_EQ(t.connection_count(), 1u);

    // An empty payload delivers nothing and keeps the connection.
    ASSERT_TRUE(write_all(c, {0x03, 0x00, 0x00, 0x04}));
    pass();
    EXPECT_TRUE(rx.got.empty());
    EXPECT_EQ(t.connection_count(), 1u);

    // Frames back to back, one split over two writes, a 512-byte maximum.
    std::string const big(TPKTTracer::max_payload, 'm');
    Bytes const all = frame("ABC") + frame("") + frame("DE") + frame(big);
    ASSERT_TRUE(write_all(c, Bytes(all.begin(), all.begin() + 9)));
    pass();
    EXPECT_EQ(rx.got, (std::vector<std::string>{"ABC"}));
    ASSERT_TRUE(write_all(c, Bytes(all.begin() + 9, all.end())));
    pass(3);
    EXPECT_EQ(rx.got, (std::vector<std::string>{"ABC", "DE", big}));
    EXPECT_EQ(t.connection_count(), 1u);
    EXPECT_FALSE(closed_by_peer(c));

    // Each of these closes its connection, and nothing of it is delivered.
    Bytes const bad[] = {
        {0x04, 0x00, 0x00, 0x05, 'x'},                        // version
        {0x03, 0x01, 0x00, 0x05, 'x'},                        // reserved
        {0x03, 0x00, 0x00, 0x03},                             // length below the header
        frame(std::string(TPKTTracer::max_payload + 1, 'o')), // 513 octets
    };
    for (Bytes const& b : bad) {
        int d = connect_to(t);
        ASSERT_TRUE(write_all(d, b));
        pass();
        EXPECT_TRUE(closed_by_peer(d));
        EXPECT_EQ(t.connection_count(), 1u);
    }
    EXPECT_EQ(rx.got.size(), 3u);
    EXPECT_EQ(count_of(log.text(), "ACP connection open from 127.0.0.1:"), 5);
}

TEST_F(TracerTest, BroadcastAndReply)
{
    TPKTTracer t;
    Collector rx;
    t.SetReceiver(&rx);
    ASSERT_TRUE(t.Listen(0));
    Capture log(Capture::Err);
    int a = connect_to(t);
    int b = connect_to(t);
    int c = connect_to(t);

    t.Send("hello", 5);
    t.Send("", 0);
    Bytes const expect = frame("hello") + frame("");
    EXPECT_EQ(read_like(a, expect), expect);
    EXPECT_EQ(read_like(b, expect), expect);
    EXPECT_EQ(read_like(c, expect), expect);

    // Inside the receiver a send is a reply to the sender alone.
    rx.then = [&](std::string const& s) { t.Send(("re:" + s).data(), static_cast<unsigned>(s.size() + 3)); };
    ASSERT_TRUE(write_all(b, frame("q1") + frame("q2")));
    pass();
    EXPECT_EQ(read_like(b, frame("re:q1") + frame("re:q2")), frame("re:q1") + frame("re:q2"));
    EXPECT_TRUE(read_now(a).empty());
    EXPECT_TRUE(read_now(c).empty());

    // A payload no frame can carry is refused, not sent with a wrapped length.
    rx.then = nullptr;
    std::string const huge(65532, 'h');
    t.Send(huge.data(), static_cast<unsigned>(huge.size()));
    EXPECT_TRUE(read_now(a).empty());
    EXPECT_EQ(t.connection_count(), 3u);
    std::string const largest(65531, 'l');
    t.Send(largest.data(), static_cast<unsigned>(largest.size()));
    Bytes got = read_n(a, 65535);
    ASSERT_EQ(got.size(), 65535u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{0x03, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(count_of(log.text(), "TPKTTracer::Send refuse payload of 65532 bytes"), 1);
}

TEST_F(TracerTest, AClientThatStopsReadingIsDroppedMidBroadcast)
{
    TPKTTracer t;
    ASSERT_TRUE(t.Listen(0));
    Capture log(Capture::Err);
    int stuck = connect_to(t); // first in the list, never reads
    int a = connect_to(t);
    int b = connect_to(t);
    std::string const chunk(60000, 'c');
    std::size_t sent = 0;
    // The stuck client's queues fill within a few megabytes; its send then
    // fails and it is closed while the walk goes on to the others.
    for (int i = 0; i < 2000 && t.connection_count() == 3; ++i) {
        t.Send(chunk.data(), static_cast<unsigned>(chunk.size()));
        ++sent;
        EXPECT_EQ(read_n(a, chunk.size() + 4).size() + read_n(b, chunk.size() + 4).size(),
                  2 * (chunk.size() + 4))
            << i;
    }
    EXPECT_EQ(t.connection_count(), 2u);
    EXPECT_GT(sent, 1u);
    t.Send("after", 5);
    EXPECT_EQ(read_like(a, frame("after")), frame("after"));
    EXPECT_EQ(read_like(b, frame("after")), frame("after"));
    // What was queued for the stuck client before its close, then the end.
    bool eof = false;
    for (int i = 0; i < 1000 && !eof; ++i)
        read_now(stuck, &eof);
    EXPECT_TRUE(eof);
}

TEST_F(TracerTest, AReplyThatFailsClosesTheSenderAndStopsItsReading)
{
    TPKTTracer t;
    Collector rx;
    t.SetReceiver(&rx);
    ASSERT_TRUE(t.Listen(0));
    Capture log(Capture::Err);
    int other = connect_to(t);
    int c = connect_to(t); // sends, never reads
    std::string const chunk(60000, 'r');
    int replies = 0;
    rx.then = [&](std::string const&) {
        // Replies until the sender's queues are full and it is closed;
        // further replies go nowhere.
        for (int i = 0; i < 2000 && t.connection_count() == 2; ++i, ++replies)
            t.Send(chunk.data(), static_cast<unsigned>(chunk.size()));
        t.Send("late", 4);
    };
    ASSERT_TRUE(write_all(c, frame("one") + frame("two")));
    pass();
    EXPECT_EQ(rx.got, (std::vector<std::string>{"one"})) << "the second frame is not read";
    EXPECT_EQ(t.connection_count(), 1u);
    EXPECT_GT(replies, 1);
    EXPECT_TRUE(read_now(other).empty()) << "no reply reaches another connection";
    rx.then = nullptr;
    t.Send("still", 5);
    EXPECT_EQ(read_like(other, frame("still")), frame("still"));
}

TEST_F(TracerTest, PeerToPeer)
{
    TPKTTracerP2P t;
    PeerCollector rx;
    t.SetReceiver(&rx);
    ASSERT_TRUE(t.Listen(0));
    EXPECT_EQ(t.port(), 0);
    Capture log(Capture::Err);
    int a = connect_to(t);
    int b = connect_to(t);
    INet4::Addr const pa = local_of(a);
    INet4::Addr const pb = local_of(b);
    EXPECT_EQ(rx.opened, (std::vector<std::string>{pa.GetString(), pb.GetString()}));
    ASSERT_EQ(rx.fds.size(), 2u);
    EXPECT_EQ(local_of(rx.fds[0]).GetPort(), t.local_port()) << "the descriptor is the connection's";
    EXPECT_TRUE(t.IsConnected(pa));

    // Sends go to the chosen peer only.
    EXPECT_EQ(t.Send(pb, "to-b", 4), 8);
    EXPECT_EQ(read_like(b, frame("to-b")), frame("to-b"));
    EXPECT_TRUE(read_now(a).empty());

    // Nobody at that address: -EFAULT and nothing sent.
    INet4::Addr nobody = pa;
    nobody.SetPort(static_cast<std::uint16_t>(pa.GetPort() ^ 1));
    EXPECT_FALSE(t.IsConnected(nobody));
    EXPECT_EQ(t.Send(nobody, "x", 1), -EFAULT);
    EXPECT_EQ(t.Close(nobody), -EFAULT);
    EXPECT_TRUE(read_now(a).empty());
    EXPECT_TRUE(read_now(b).empty());

    // Too large for one frame: refused, the connection stays.
    std::string const huge(65532, 'h');
    EXPECT_EQ(t.Send(pa, huge.data(), static_cast<unsigned>(huge.size())), -EMSGSIZE);
    EXPECT_TRUE(read_now(a).empty());
    EXPECT_TRUE(t.IsConnected(pa));

    // 2048 octets are received; 2049 close the connection.
    std::string const max(TPKTTracerP2P::max_payload, 'p');
    ASSERT_TRUE(write_all(a, frame(max)));
    pass();
    EXPECT_EQ(rx.got, (std::vector<std::string>{max}));
    ASSERT_TRUE(write_all(b, frame(max + "q")));
    pass();
    EXPECT_TRUE(closed_by_peer(b));
    EXPECT_FALSE(t.IsConnected(pb));
    EXPECT_EQ(rx.closed, (std::vector<std::string>{pb.GetString()}));

    // Closing by address.
    EXPECT_EQ(t.Close(pa), 0);
    EXPECT_TRUE(closed_by_peer(a));
    EXPECT_EQ(t.connection_count(), 0u);
    EXPECT_EQ(rx.closed, (std::vector<std::string>{pb.GetString(), pa.GetString()}));
    std::string const text = log.text();
    EXPECT_EQ(count_of(text, "TPKT peer-to-peer connection open from 127.0.0.1:"), 2);
    EXPECT_EQ(count_of(text, "TPKT peer-to-peer connection close for " + pb.GetString() + "\n"), 1);
    EXPECT_EQ(count_of(text, "TPKT peer-to-peer connection close for " + pa.GetString() + "\n"), 1);
}

TEST_F(TracerTest, PeerClosedInsideItsOwnDeliveryIsReadNoFurther)
{
    TPKTTracerP2P t;
    PeerCollector rx;
    t.SetReceiver(&rx);
    ASSERT_TRUE(t.Listen(0));
    Capture log(Capture::Err);
    int a = connect_to(t);
    int b = connect_to(t);
    INet4::Addr const pa = local_of(a);
    INet4::Addr const pb = local_of(b);
    rx.then = [&](INet4::Addr const& peer) {
        // Closing from the callback, then touching both connections.
        EXPECT_EQ(t.Close(peer), 0);
        EXPECT_EQ(t.Close(peer), -EFAULT);
        EXPECT_EQ(t.Send(peer, "x", 1), -EFAULT);
        EXPECT_EQ(t.Send(pb, "ok", 2), 6);
    };
    ASSERT_TRUE(write_all(a, frame("first") + frame("second")));
    pass();
    EXPECT_EQ(rx.got, (std::vector<std::string>{"first"}));
    EXPECT_EQ(rx.closed, (std::vector<std::string>{pa.GetString()}));
    EXPECT_TRUE(closed_by_peer(a));
    EXPECT_EQ(read_like(b, frame("ok")), frame("ok"));
    EXPECT_EQ(t.connection_count(), 1u);
}

TEST_F(TracerTest, ListenFailsOnAPortInUse)
{
    TPKTTracer t;
    ASSERT_TRUE(t.Listen(0));
    TPKTTracer u;
    EXPECT_FALSE(u.Listen(t.local_port()));
    TPKTTracerP2P p;
    EXPECT_FALSE(p.Listen(t.local_port()));
    EXPECT_EQ(p.port(), t.local_port());
}
