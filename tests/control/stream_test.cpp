// The stream socket layer: reading into pool packets, failures turned into a
// failed deactivation, and the all-or-nothing write with its 1000 ms bound.

#include "control/control_test_helper.hpp"
#include "control/strm_protocol.hpp"

#include <thread>

#include <fcntl.h>

#include <sys/socket.h>
#include <unistd.h>

using namespace ctltest;

namespace {

// The owner of a one-layer stack: records what reaches the top.
struct Owner : ProtocolsFamily {
    std::vector<std::vector<std::uint8_t>> received;
    std::vector<std::string> failures;
    int successes = 0;
    int activations = 0;

    void on_message(Packet& p) override { received.push_back(bytes_of(p)); }
    void on_activated(Protocol*) override { ++activations; }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        if (s->success())
            ++successes;
        else
            failures.push_back(s->message());
    }
};

struct StreamTest : LoopTest {
    void SetUp() override
    {
        LoopTest::SetUp();
        strm = new StrmProtocol();
        owner.add_protocol_tail(strm);
    }
    Owner owner;
    StrmProtocol* strm = nullptr;
    SocketPair sp;
};

} // namespace

TEST_F(StreamTest, ReadsWhatArrivesAndHandsItUpWhole)
{
    ASSERT_EQ(strm->attach(Fd(sp.a)), 0);
    owner.activate();
    EXPECT_EQ(owner.activations, 1);
    ASSERT_TRUE(write_all(sp.b, {0x03, 0x00, 0x00, 0x07, 'A', 'B', 'C'}));
    pass();
    ASSERT_EQ(owner.received.size(), 1u);
    EXPECT_EQ(owner.received[0], (std::vector<std::uint8_t>{0x03, 0x00, 0x00, 0x07, 'A', 'B', 'C'}));
    EXPECT_EQ(strm->read_measure().count(), 1u);
    strm->release();
}

TEST_F(StreamTest, PeerCloseReportsOneReadErrorAfterReleasingTheSocket)
{
    strm->attach(Fd(sp.a));
    owner.activate();
    EXPECT_EQ(multiplexer.event_count(), 1u);
    sp.close_b();
    pass(3);
    ASSERT_EQ(owner.failures.size(), 1u);
    // A TCP peer's FIN is POLLIN and a 0-byte read; a local socket's close
    // also raises POLLHUP, which is tested first.
    std::string const& f = owner.failures[0];
    EXPECT_TRUE(f.rfind("read error: ", 0) == 0 || f.rfind("pollhup: ", 0) == 0) << f;
    EXPECT_FALSE(strm->attached());
    EXPECT_EQ(multiplexer.event_count(), 0u);
    EXPECT_TRUE(owner.received.empty());
}

TEST_F(StreamTest, ActivationWithoutSocketFailsAndSchedulesNothing)
{
    owner.activate();
    ASSERT_EQ(owner.failures.size(), 1u);
    EXPECT_EQ(owner.failures[0], "fd not attached");
    EXPECT_EQ(owner.activations, 0);
    EXPECT_EQ(multiplexer.event_count(), 0u);
}

TEST_F(StreamTest, DeactivationReleasesAndReportsSuccess)
{
    strm->attach(Fd(sp.a));
    owner.activate();
    owner.deactivate();
    EXPECT_EQ(owner.successes, 1);
    EXPECT_FALSE(strm->attached());
    // The layer keeps its own duplicate: the caller's descriptor is intact.
    EXPECT_EQ(fcntl(sp.a, F_GETFD), FD_CLOEXEC);
    // A released layer can be attached again.
    strm->attach(Fd(sp.a));
    EXPECT_TRUE(strm->attached());
    strm->release();
}

TEST_F(StreamTest, WritesAPacketLargerThanTheSocketBufferWholeAndInOrder)
{
    int small = 4096;
    setsockopt(sp.a, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    strm->attach(Fd(sp.a));
    std::vector<std::uint8_t> data(60000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint8_t> got;
    std::thread reader([&] {
        std::uint8_t buf[1000];
        while (got.size() < data.size()) {
            ssize_t n = recv(sp.b, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
    });
    Packet p = make_packet(data);
    strm->message(p);
    reader.join();
    EXPECT_EQ(got, data);
    EXPECT_TRUE(owner.failures.empty());
    EXPECT_EQ(strm->overflow_counter(), 0u);
    EXPECT_EQ(p.length(), data.size()) << "the packet is left to the caller";
    strm->release();
}

TEST_F(StreamTest, PeerThatStopsReadingGivesOneWriteTimeout)
{
    strm->link_name("server");
    strm->attach(Fd(sp.a));
    owner.activate();
    Capture err(Capture::Err);
    std::vector<std::uint8_t> chunk(65536, 0x55);
    // Fill the socket until a write cannot finish within the bound.
    for (int i = 0; i < 64 && owner.failures.empty(); ++i) {
        Packet p = make_packet(chunk);
        strm->message(p);
    }
    std::string text = err.text();
    ASSERT_EQ(owner.failures.size(), 1u);
    EXPECT_EQ(owner.failures[0], "write timeout");
    EXPECT_EQ(strm->overflow_counter(), 1u);
    EXPECT_FALSE(strm->attached());
    EXPECT_NE(text.find("SockStream[server]: write timeout, sendbuf="), std::string::npos) << text;
    EXPECT_NE(text.find(", recvbuf="), std::string::npos);
    EXPECT_NE(text.find(", outq="), std::string::npos);
    EXPECT_EQ(text.find("error="), std::string::npos);
}

TEST_F(StreamTest, WriteToAClosedPeerIsAWriteError)
{
    strm->attach(Fd(sp.a));
    sp.close_b();
    Capture err(Capture::Err);
    Packet p = make_packet({1, 2, 3});
    strm->message(p);
    std::string text = err.text();
    ASSERT_EQ(owner.failures.size(), 1u);
    EXPECT_EQ(owner.failures[0].rfind("write error: ", 0), 0u);
    EXPECT_EQ(strm->overflow_counter(), 1u);
    EXPECT_NE(text.find("write error, sendbuf="), std::string::npos) << text;
    EXPECT_NE(text.find(", error="), std::string::npos);
}

TEST_F(StreamTest, EmptyPacketWritesNothingAndSucceeds)
{
    strm->attach(Fd(sp.a));
    Packet p = make_packet({});
    strm->message(p);
    EXPECT_TRUE(owner.failures.empty());
    EXPECT_TRUE(read_now(sp.b).empty());
    EXPECT_EQ(strm->write_measure().count(), 1u);
    strm->release();
}
