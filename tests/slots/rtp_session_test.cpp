// The session record that a create gives the RTP driver, checked as the
// driver reads it: native words at the offsets of its layout.

#include "rtp_create.hpp"
#include "slots/rtp_slot.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {

using Record = std::array<std::uint8_t, 68>;

struct Field {
    unsigned int offset;
    unsigned int width; // 1, 2 or 4 octets, native order
    std::uint32_t value;
};

// A record of native fields (zero elsewhere) with the addresses' octets in
// network order.
Record Native(std::array<std::uint8_t, 4> remote, std::array<std::uint8_t, 4> local,
              std::initializer_list<Field> fields)
{
    Record r{};
    std::memcpy(&r[0], remote.data(), 4);
    std::memcpy(&r[8], local.data(), 4);
    for (Field const& f : fields) {
        if (f.width == 1) {
            r[f.offset] = static_cast<std::uint8_t>(f.value);
        } else if (f.width == 2) {
            auto v = static_cast<std::uint16_t>(f.value);
            std::memcpy(&r[f.offset], &v, 2);
        } else {
            std::memcpy(&r[f.offset], &f.value, 4);
        }
    }
    return r;
}

Record Bytes(rtp_connection_params const& p)
{
    Record r;
    std::memcpy(r.data(), &p, sizeof r);
    return r;
}

LGCP::CreateRtpParams Create(TERM::Payload::NamedNumber payload = TERM::Payload::ptG729,
                             std::optional<std::uint16_t> shost_port = 5000)
{
    LGCP::CreateRtpParams c = RtpTest::RtpParams(4000, shost_port, payload, "127.0.0.2");
    c.get_codecRTP().set_ssrc(0x12345678);
    return c;
}

RtpSessionFill Fill(LGCP::CreateRtpParams const& c)
{
    SsrcSource ssrc(1);
    return FillRtpSession(c, ssrc);
}

TEST(RtpSession, AddressesPortsAndDefaults)
{
    RtpSessionFill f = Fill(Create());
    ASSERT_TRUE(f.ok()) << f.refusal;
    EXPECT_EQ(Bytes(f.params), Native({127, 0, 0, 2}, {127, 0, 0, 1},
                                      {{4, 2, 4000},
                                       {12, 2, 5000},
                                       {14, 2, 18},
                                       {16, 2, 18},
                                       {24, 4, 0x12345678},
                                       {40, 4, 0xFFFFFFFF}}));
    EXPECT_EQ(f.rtcpPort, 5001);
    EXPECT_EQ(f.peerRtcpPort, 4001);
    EXPECT_EQ(f.clockRate, 8000u);

    // Without shost the local side is "any" on the remote port.
    f = Fill(Create(TERM::Payload::ptG729, std::nullopt));
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(Bytes(f.params), Native({127, 0, 0, 2}, {0, 0, 0, 0},
                                      {{4, 2, 4000},
                                       {12, 2, 4000},
                                       {14, 2, 18},
                                       {16, 2, 18},
                                       {24, 4, 0x12345678},
                                       {40, 4, 0xFFFFFFFF}}));
    EXPECT_EQ(f.rtcpPort, 4001);

    // Port 65535 is taken as 16 bits: its RTCP port is 0 (any).
    f = Fill(Create(TERM::Payload::ptG729, 65535));
    EXPECT_EQ(f.rtcpPort, 0);
}

TEST(RtpSession, OptionalFields)
{
    LGCP::CreateRtpParams c = Create(TERM::Payload::ptG711_Alaw);
    TERM::RtpParams& p = c.get_codecRTP();
    p.set_qos_dscp(TERM::IpQoSDSCP::ef);
    p.set_pfactor(160);
    p.set_vad(true);
    p.set_crate(2);
    p.set_ttl(64);
    RtpSessionFill f = Fill(c);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(Bytes(f.params), Native({127, 0, 0, 2}, {127, 0, 0, 1},
                                      {{4, 2, 4000},
                                       {12, 2, 5000},
                                       {14, 2, 8},
                                       {16, 2, 8},
                                       {18, 2, 160},
                                       {20, 1, 1},
                                       {21, 1, 1},
                                       {24, 4, 0x12345678},
                                       {36, 4, 64},
                                       {40, 4, 0xB8}}));
    // False and zero say no.
    p.set_vad(false);
    p.set_crate(0);
    p.set_qos_dscp(TERM::IpQoSDSCP::cs7);
    f = Fill(c);
    EXPECT_EQ(f.params.vad, 0);
    EXPECT_EQ(f.params.crate, 0);
    EXPECT_EQ(f.params.tos, 56u << 2);
}

TEST(RtpSession, DynamicPayloadMapsToTheTableTypes)
{
    LGCP::CreateRtpParams c = Create();
    c.get_codecRTP().set_dynamic_payload(101);
    RtpSessionFill f = Fill(c);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(Bytes(f.params), Native({127, 0, 0, 2}, {127, 0, 0, 1},
                                      {{4, 2, 4000},
                                       {12, 2, 5000},
                                       {14, 2, 101},
                                       {16, 2, 101},
                                       {24, 4, 0x12345678},
                                       {40, 4, 0xFFFFFFFF},
                                       {44, 2, 18},
                                       {48, 4, 8000},
                                       {52, 4, 1},
                                       {56, 2, 18},
                                       {60, 4, 8000},
                                       {64, 4, 1}}));
    EXPECT_EQ(f.rxPayload, 18u);
}

TEST(RtpSession, DirectionsTakeTheOtherG711LawOnly)
{
    LGCP::CreateRtpParams c = Create();
    c.set_txPayload(TERM::Payload::ptG711_Ulaw);
    c.set_rxPayload(TERM::Payload::ptG711_Alaw);
    RtpSessionFill f = Fill(c);
    EXPECT_EQ(f.params.tx_pt, 0);
    EXPECT_EQ(f.params.rx_pt, 8);
    c.set_txPayload(TERM::Payload::ptG723);
    c.set_rxPayload(TERM::Payload::ptG723);
    f = Fill(c);
    EXPECT_EQ(f.params.tx_pt, 18);
    EXPECT_EQ(f.params.rx_pt, 18);

    struct {
        TERM::Payload::NamedNumber payload;
        unsigned int type, rate;
    } const table[] = {
        {TERM::Payload::ptG711_Alaw, 8, 8000},      {TERM::Payload::ptG711_Ulaw, 0, 8000},
        {TERM::Payload::ptG723, 4, 8000},           {TERM::Payload::ptG729, 18, 8000},
        {TERM::Payload::ptG711mcc_Alaw, 136, 8000}, {TERM::Payload::ptG711mcc_Ulaw, 128, 8000},
        {TERM::Payload::ptG728, 15, 8000},          {TERM::Payload::ptG722, 9, 8000},
        {TERM::Payload::ptL16_8000, 255, 8000},     {TERM::Payload::ptL16_16000, 255, 16000},
        {TERM::Payload::ptL16_32000, 255, 32000},   {TERM::Payload::ptL16_48000, 255, 48000},
    };
    for (auto const& row : table) {
        f = Fill(Create(row.payload));
        EXPECT_EQ(f.params.rx_pt, row.type) << row.payload;
        EXPECT_EQ(f.clockRate, row.rate) << row.payload;
        EXPECT_EQ(RtpFactoryBase::translateCodec(row.payload), row.type);
    }
}

TEST(RtpSession, RefusalsSayWhy)
{
    for (auto payload : {TERM::Payload::reserv_1, TERM::Payload::reserv_5, TERM::Payload::ptT38_UDP_TL,
                         TERM::Payload::ptT38_TCP_TPKT, TERM::Payload::ptR2S}) {
        EXPECT_FALSE(Fill(Create(payload)).ok()) << payload;
    }
    EXPECT_EQ(Fill(Create(TERM::Payload::ptT38_UDP_TL)).refusal, "payload ptT38-UDP-TLnot found");
    // A value beyond the enumeration's root.
    LGCP::CreateRtpParams c = Create();
    c.get_codecRTP().get_payload().setValue(40);
    EXPECT_FALSE(Fill(c).ok());

    // Values that the record cannot carry.
    c = Create();
    c.get_codecRTP().set_pfactor(65535);
    EXPECT_TRUE(Fill(c).ok());
    c.get_codecRTP().set_pfactor(65536);
    EXPECT_EQ(Fill(c).refusal, "packet factor 65536 out of range");
    c.get_codecRTP().set_pfactor(-1);
    EXPECT_FALSE(Fill(c).ok());
    for (const char* text : {"localhost", "1.2.3", "256.1.1.1", "", "1.2.3.4 ", "0x7f.0.0.1"}) {
        c = Create();
        c.get_codecRTP().get_dhost().set_iaddr(text);
        EXPECT_EQ(Fill(c).refusal, std::string("dhost address \"") + text + "\" is not a dotted quad");
        c = Create();
        c.get_codecRTP().get_shost().set_iaddr(text);
        EXPECT_FALSE(Fill(c).ok()) << text;
    }
    c = Create();
    c.get_codecRTP().get_dhost().get_iaddr() = std::string("127.0.0.1\0.5", 11);
    EXPECT_FALSE(Fill(c).ok());
}

// RFC 3550 8.1: without an SSRC from the host, each session draws one from
// a generator seeded from the kernel, so no two starts repeat a sequence.
TEST(RtpSession, SsrcFromTheSeededGenerator)
{
    LGCP::CreateRtpParams c = Create();
    c.get_codecRTP().remove_ssrc();
    SsrcSource fixed(7), same(7);
    std::uint32_t first = FillRtpSession(c, fixed).params.ssrc;
    EXPECT_EQ(first, same.Next());
    EXPECT_NE(FillRtpSession(c, fixed).params.ssrc, first);

    SsrcSource a, b;
    EXPECT_NE(a.Next(), b.Next()) << "two generators seeded alike";
}

} // namespace
