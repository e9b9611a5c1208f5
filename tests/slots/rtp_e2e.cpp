// End to end: RTP slots of build/server on the simulated board, driven by a
// controlling host over TCP, the far end's RTCP port a UDP socket of the
// test, the drivers inspected through the board's control socket.

#include "rtp_create.hpp"
#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using E2E::Bytes;

// A UDP socket of the test bound to `address`:`port` (0: any free port).
struct Udp {
    Udp(const char* address, std::uint16_t port, bool reuse = false)
    {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        if (reuse)
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
        }
        socklen_t n = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        this->port = ntohs(a.sin_port);
    }
    ~Udp()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Udp(Udp const&) = delete;
    Udp& operator=(Udp const&) = delete;

    // The next datagram within the bound, and its source port.
    std::optional<Bytes> Receive(std::uint16_t* from)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, E2E::Patience(5000)) != 1)
            return std::nullopt;
        std::uint8_t buf[2048];
        sockaddr_in a{};
        socklen_t n = sizeof a;
        ssize_t got = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &n);
        if (got < 0)
            return std::nullopt;
        *from = ntohs(a.sin_port);
        return Bytes(buf, buf + got);
    }

    int fd = -1;
    std::uint16_t port = 0;
};

// A port P whose P + 1 nothing holds right now.
std::uint16_t FreePair()
{
    Udp probe("0.0.0.0", 0);
    return static_cast<std::uint16_t>(probe.port - 1);
}

Bytes Text(std::string const& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (Bytes const& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

constexpr std::uint32_t kSsrc = 0x0A0B0C0D;
const Bytes kSsrcBytes{0x0A, 0x0B, 0x0C, 0x0D};

Bytes Sdes()
{
    return Cat({{0x81, 202, 0, 15},
                kSsrcBytes,
                {1, 17},
                Text("Dakvune Torvalisk"),
                {3, 19},
                Text("support@example.com"),
                {4, 12},
                Text("+15555550100"),
                {0, 0}});
}

Bytes Bye()
{
    return Cat({{0x81, 203, 0, 4}, kSsrcBytes, {11}, Text("session end")});
}

LGCP::Message Create(int seq, int slot, const char* daddr, std::uint16_t dport,
                     std::optional<std::uint16_t> sport,
                     TERM::Payload::NamedNumber payload = TERM::Payload::ptG729)
{
    LGCP::Message m = E2E::Command(seq, slot);
    LGCP::CreateParams c = RtpTest::RtpCreate(dport, sport, payload, daddr);
    c.get_rtp().get_codecRTP().set_ssrc(kSsrc);
    m.get_pdu().get_command().set_create(c);
    return m;
}

LGCP::Message Ioctl(int seq, int slot, LGCP::IoctlParams const& params)
{
    LGCP::Message m = E2E::Command(seq, slot);
    m.get_pdu().get_command().set_ioctl(params);
    return m;
}

LGCP::Message Destroy(int seq, int slot)
{
    LGCP::Message m = E2E::Command(seq, slot);
    m.get_pdu().get_command().set_destroy();
    return m;
}

class RtpEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.Printed("Starting server"));
        ASSERT_TRUE(host_.Connect(server_.port()));
    }

    // The value notation of the next message that is not a trunk status
    // (the board reports those by itself); empty after the bound.
    std::string Next()
    {
        for (;;) {
            Bytes b;
            if (!host_.Receive(b, E2E::Patience(5000)))
                return "";
            LGCP::Message m;
            if (E2E::Decode(b, m) && m.get_pdu().is_signal() &&
                (m.get_pdu().get_signal().is_trunkStatus() || m.get_pdu().get_signal().is_power()))
                continue;
            return E2E::Notation(b);
        }
    }
    // Sends and returns the answer and the signals that follow it, as many
    // as `messages` in all.
    std::vector<std::string> Exchange(LGCP::Message const& m, std::size_t messages = 1)
    {
        host_.Send(m);
        std::vector<std::string> out;
        while (out.size() < messages)
            out.push_back(Next());
        return out;
    }
    std::vector<std::string> Lines(std::string const& request) { return E2E::Lines(server_.Ask(request)); }

    E2E::ServerProcess server_;
    E2E::LgcpHost host_;
};

TEST_F(RtpEndToEnd, CreateSendsRtcpAndDestroyEndsTheSession)
{
    Udp far("127.0.0.1", 0);
    std::uint16_t p = static_cast<std::uint16_t>(far.port - 1), q = FreePair();
    EXPECT_EQ(Exchange(Create(1, 3, "127.0.0.1", p, q), 3),
              (std::vector<std::string>{"{ seq 1, slot 3, pdu response : success : NULL }",
                                        "{ slot 3, pdu signal : transmitter : active : 1024 }",
                                        "{ slot 3, pdu signal : receiver : active : 1024 }"}));
    EXPECT_EQ(
        Lines("/dev/rtp sessions"),
        (std::vector<std::string>{
            "channel 1024 remote 127.0.0.1:" + std::to_string(p) + " local 127.0.0.1:" + std::to_string(q) +
                " rxpt 18 txpt 18 pfactor 0 vad 0 crate 0 ssrc " + std::to_string(kSsrc) +
                " ttl 0 tos 0xffffffff rxmap 0/0/0 txmap 0/0/0 word3 0 rx off pd off",
            "ok 1"}));
    std::uint16_t from = 0;
    EXPECT_EQ(far.Receive(&from), Sdes());
    EXPECT_EQ(from, q + 1);

    ASSERT_EQ(server_.Ask("log clear"), "ok\n");
    EXPECT_EQ(Exchange(Destroy(2, 3)),
              std::vector<std::string>{"{ seq 2, slot 3, pdu response : success : NULL }"});
    auto log = Lines("log");
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5),
              (std::vector<std::string>{"/dev/rtp 0x2000520a = 0", "/dev/rtp 0x20005203 = 0",
                                        "/dev/rtp 0x2000520b = 0", "/dev/rtp 0x8004520d 1 = 0",
                                        "/dev/hal 0x80044d03 1024 = 0"}));
    EXPECT_EQ(far.Receive(&from), Bye());
    EXPECT_EQ(server_.Ask("opens /dev/rtp"), "ok 0\n");

    // Without shost: the RTCP socket is bound to any address at P + 1, and
    // the far end at 127.0.0.2 receives from there.
    std::uint16_t p2 = FreePair();
    Udp far2("127.0.0.2", static_cast<std::uint16_t>(p2 + 1), true);
    ASSERT_GE(far2.fd, 0);
    auto r = Exchange(Create(3, 4, "127.0.0.2", p2, std::nullopt), 3);
    EXPECT_EQ(r[0], "{ seq 3, slot 4, pdu response : success : NULL }");
    EXPECT_EQ(far2.Receive(&from), Sdes());
    EXPECT_EQ(from, p2 + 1);
    EXPECT_NE(server_.Ask("/dev/rtp sessions").find(" local 0.0.0.0:" + std::to_string(p2) + " "),
              std::string::npos);
}

TEST_F(RtpEndToEnd, DetectorAndDriverEventsReachTheHost)
{
    Udp far("127.0.0.1", 0);
    ASSERT_EQ(
        Exchange(Create(1, 3, "127.0.0.1", static_cast<std::uint16_t>(far.port - 1), FreePair()), 3).size(),
        3u);
    LGCP::IoctlParams p;
    p.set_dtmf_enable(true);
    EXPECT_EQ(Exchange(Ioctl(2, 3, p))[0], "{ seq 2, slot 3, pdu response : success : NULL }");
    auto slot = Lines("/dev/dtmf slot 1024");
    ASSERT_EQ(slot.size(), 2u);
    std::string id = slot[0].substr(slot[0].find(" id ") + 4);
    id = id.substr(0, id.find(' '));
    EXPECT_EQ(server_.Ask("/dev/dtmf event 1024 5 77 " + id), "ok 1\n");
    EXPECT_EQ(Next(), "{ slot 3, pdu signal : tonec : { timestamp 77, event dtmf : 5 } }");

    p.select_pd_enable().set_timeout(3000);
    EXPECT_EQ(Exchange(Ioctl(3, 3, p))[0], "{ seq 3, slot 3, pdu response : success : NULL }");
    EXPECT_NE(server_.Ask("log").find("/dev/rtp 0xc024520c 1 0 3000 0 0 3000 0 0 0 -> "), std::string::npos);
    // Type 2 and a short record say nothing; type 1 is the detection.
    EXPECT_EQ(server_.Ask("/dev/rtp event-words 1024 2 8 3000 0 0 0 0 0 0"), "ok 1\n");
    EXPECT_EQ(server_.Ask("/dev/rtp event 1024 0000000100000009000003e80000000000000000"), "ok 1\n");
    EXPECT_EQ(server_.Ask("/dev/rtp event-words 1024 1 7 3000 0 0 0 0 0 0"), "ok 1\n");
    EXPECT_EQ(Next(), "{ slot 3, pdu signal : rtp : pd : { value 7, timeout 3000 } }");
    EXPECT_TRUE(server_.Logged("rtp[1024]: rtp event:  type=2\n"));
    EXPECT_TRUE(server_.Logged("rtp[1024]: short record from rtp (20 bytes), dropped\n"));
}

TEST_F(RtpEndToEnd, CodecChangeAndAFailedRestart)
{
    Udp far("127.0.0.1", 0);
    ASSERT_EQ(Exchange(Create(1, 3, "127.0.0.1", static_cast<std::uint16_t>(far.port - 1), FreePair(),
                              TERM::Payload::ptG711_Alaw),
                       3)
                  .size(),
              3u);
    ASSERT_EQ(server_.Ask("log clear"), "ok\n");
    LGCP::IoctlParams p;
    p.set_decoder_mode(LGCP::CodecMode::alaw);
    EXPECT_EQ(Exchange(Ioctl(2, 3, p))[0], "{ seq 2, slot 3, pdu response : success : NULL }");
    EXPECT_TRUE(server_.Logged(" - Nothing to do\n"));
    EXPECT_EQ(server_.Ask("count /dev/rtp open"), "ok 1\n");

    p.set_decoder_mode(LGCP::CodecMode::ulaw);
    EXPECT_EQ(Exchange(Ioctl(3, 3, p))[0], "{ seq 3, slot 3, pdu response : success : NULL }");
    auto log = Lines("log");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].rfind("/dev/rtp open = ", 0), 0u);
    EXPECT_NE(log[1].find("/dev/rtp 0xc0445200 "), std::string::npos);
    EXPECT_EQ(log[2], "/dev/rtp 0xc0105202 1024 4294967295 4294967295 0 -> 1024 4294967295 4294967295 0 = 0");
    EXPECT_NE(server_.Ask("/dev/rtp sessions").find(" rxpt 0 txpt 8 "), std::string::npos);
    p.select_pd_enable().set_timeout(50);
    Exchange(Ioctl(4, 3, p));
    EXPECT_EQ(server_.Ask("/dev/rtp event-words 1024 1 2 50 0 0 0 0 0 0"), "ok 1\n");
    EXPECT_EQ(Next(), "{ slot 3, pdu signal : rtp : pd : { value 2, timeout 50 } }");

    EXPECT_EQ(server_.Ask("fail /dev/rtp 0xc0445200 1 EIO"), "ok\n");
    p.set_decoder_mode(LGCP::CodecMode::alaw);
    // The slot has let its time slot go: its streams end with the session.
    EXPECT_EQ(Exchange(Ioctl(5, 3, p), 3),
              (std::vector<std::string>{"{ slot 3, pdu signal : receiver : inactive : NULL }",
                                        "{ slot 3, pdu signal : transmitter : inactive : NULL }",
                                        "{ seq 5, slot 3, pdu response : error : unsupported }"}));
    EXPECT_TRUE(server_.Logged("rtp[1024]: fail to restart RTP session!\n"));
    EXPECT_EQ(server_.Ask("opens /dev/rtp"), "ok 0\n");
    // The loop carries on (nothing spins on a closed session), and the
    // destroy completes.
    EXPECT_EQ(Exchange(Destroy(6, 3))[0], "{ seq 6, slot 3, pdu response : success : NULL }");
    std::uint16_t from = 0;
    far.Receive(&from);
    EXPECT_EQ(far.Receive(&from), Bye());
}

TEST_F(RtpEndToEnd, RefusalsLeakNothingAndQueryReportsTheCapacities)
{
    Udp far("127.0.0.1", 0);
    std::uint16_t p = static_cast<std::uint16_t>(far.port - 1);
    const std::string refused = "{ seq 1, slot 5, pdu response : error : insufficientResources }";
    EXPECT_EQ(Exchange(Create(1, 5, "127.0.0.1", p, FreePair(), TERM::Payload::ptT38_UDP_TL))[0], refused);
    EXPECT_TRUE(server_.Logged("rtp do not created: payload ptT38-UDP-TLnot found\n"));
    EXPECT_EQ(server_.Ask("count /dev/rtp open"), "ok 0\n");

    for (std::string setup :
         {"absent /dev/rtp", "fail /dev/rtp 0xc0445200 1 EIO", "fail /dev/rtp 0xc0105202 1 ENOSPC"}) {
        ASSERT_EQ(server_.Ask(setup), "ok\n");
        auto r = Exchange(Create(1, 5, "127.0.0.1", p, FreePair()));
        EXPECT_EQ(r[0], refused) << setup;
        EXPECT_EQ(server_.Ask("opens /dev/rtp"), "ok 0\n") << setup;
        ASSERT_EQ(server_.Ask("present /dev/rtp"), "ok\n");
    }
    // The RTCP port taken: refused before the driver is opened.
    EXPECT_EQ(server_.Ask("count /dev/rtp open"), "ok 3\n");
    std::uint16_t q = FreePair();
    Udp taken("127.0.0.1", static_cast<std::uint16_t>(q + 1));
    EXPECT_EQ(Exchange(Create(1, 5, "127.0.0.1", p, q))[0], refused);
    EXPECT_EQ(server_.Ask("count /dev/rtp open"), "ok 3\n");

    ASSERT_EQ(server_.Ask("/dev/voice caps 4 7"), "ok\n");
    LGCP::Message query = E2E::Command(9);
    query.get_pdu().get_command().set_query();
    auto r = Exchange(query, 2);
    EXPECT_EQ(r[0], "{ seq 9, pdu response : success : NULL }");
    EXPECT_NE(r[1].find("rtp-g729 7, rtp-g723 60, rtp-g711 120, rtp-g711mcc 30,"), std::string::npos) << r[1];
    EXPECT_NE(r[1].find("lin16 30, universal 120, rtp-g722 30"), std::string::npos) << r[1];
    EXPECT_EQ(server_.Ask("opens /dev/voice"), "ok 0\n");
}

} // namespace
