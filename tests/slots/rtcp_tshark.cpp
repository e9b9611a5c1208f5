// The RTCP packets of an RTP slot read by tshark's RTCP dissector: the SDES
// at create and the BYE at destroy, as they arrived on the far end's socket.

#include "rtp_fixture.hpp"

#include "support/tshark.hpp"

#include <cstdio>

namespace RtpTest {
namespace {

using Row = std::vector<std::string>;

class RtcpTshark : public Fixture {
protected:
    void SetUp() override
    {
        if (!TestTshark::Available())
            GTEST_SKIP() << "text2pcap or tshark missing";
        Fixture::SetUp();
    }

    // The datagrams decoded as RTCP, as if sent from `from` to `to`.
    std::vector<Row> Decode(std::vector<Peer::Datagram> const& datagrams, std::uint16_t from,
                            std::uint16_t to)
    {
        std::vector<TestTshark::Frame> frames;
        for (auto const& d : datagrams)
            frames.push_back({d.bytes, 0});
        std::string errors;
        auto rows = TestTshark::Fields(frames, {"-u", std::to_string(from) + "," + std::to_string(to)},
                                       {"-d", "udp.port==" + std::to_string(to) + ",rtcp",
                                        "-T", "fields",
                                        "-E", "separator=;",
                                        "-e", "rtcp.pt",
                                        "-e", "rtcp.sc",
                                        "-e", "rtcp.length",
                                        "-e", "rtcp.ssrc.identifier",
                                        "-e", "rtcp.sdes.type",
                                        "-e", "rtcp.sdes.length",
                                        "-e", "rtcp.sdes.text",
                                        "-e", "rtcp.length_check",
                                        "-e", "_ws.malformed"},
                                       ';', &errors);
        EXPECT_EQ(errors, "");
        return rows;
    }

    // Create and destroy one G.729 slot; what the far end received.
    std::vector<Peer::Datagram> Session(Peer& peer, LGCP::CreateParams const& create)
    {
        std::vector<Peer::Datagram> got;
        EXPECT_EQ(host().Create(3, create).size(), 3u);
        for (auto& d : peer.Take())
            got.push_back(d);
        host().Destroy(3);
        for (auto& d : peer.Take())
            got.push_back(d);
        return got;
    }
};

constexpr std::uint32_t kSsrc = 0x5EC0FFEE;

TEST_F(RtcpTshark, SdesAndByeDecode)
{
    Peer peer;
    std::uint16_t q = FreeRtpPort();
    LGCP::CreateParams c = RtpCreate(peer.rtp(), q);
    c.get_rtp().get_codecRTP().set_ssrc(kSsrc);
    auto got = Session(peer, c);
    ASSERT_EQ(got.size(), 2u);
    for (auto const& d : got)
        EXPECT_EQ(d.from, q + 1);
    auto rows = Decode(got, static_cast<std::uint16_t>(q + 1), peer.rtcp);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Row{"202", "1", "15", "0x5ec0ffee", "1,3,4,0", "17,19,12",
                            "Dakvune Torvalisk,support@example.com,+15555550100", "1", ""}));
    // tshark shows the BYE's reason as an SDES text.
    EXPECT_EQ(rows[1], (Row{"203", "1", "4", "0x5ec0ffee", "", "11", "session end", "1", ""}));
}

TEST_F(RtcpTshark, WithoutShostFromTheRemotePortPlusOne)
{
    std::uint16_t p = FreeRtpPort();
    Peer peer("127.0.0.2");
    peer.fd = BindUdp("127.0.0.2", static_cast<std::uint16_t>(p + 1), true);
    ASSERT_TRUE(peer.fd);
    peer.rtcp = static_cast<std::uint16_t>(p + 1);
    LGCP::CreateParams c = RtpCreate(p, std::nullopt, TERM::Payload::ptG729, "127.0.0.2");
    auto got = Session(peer, c);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].from, p + 1);
    auto rows = Decode(got, static_cast<std::uint16_t>(p + 1), static_cast<std::uint16_t>(p + 1));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "202");
    EXPECT_EQ(rows[0][7], "1");
    EXPECT_EQ(rows[0][8], "");
    EXPECT_EQ(rows[1][0], "203");
    // The random SSRC is the session's, in both.
    EXPECT_EQ(rows[0][3], rows[1][3]);
}

} // namespace
} // namespace RtpTest
