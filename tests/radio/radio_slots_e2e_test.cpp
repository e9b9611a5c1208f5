// End to end: radio RTP slots of build/server on the simulated board,
// driven by a controlling host over TCP; the extension session addressed
// through the board's control socket by the channel the slot announced.

#include "radio/veze_messages.hpp"
#include "slots/rtp_create.hpp"
#include "ed137_messages.hpp"
#include "support/lgcp_host.hpp"
#include "support/per_writer.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using E2E::Bytes;

LGCP::Message RadioCreate(int seq, int slot, TERM::RadioStatus const& status)
{
    LGCP::Message m = E2E::Command(seq, slot);
    // The far end and the local ports only need to be free: nothing is
    // sent to them here but the RTCP of the session.
    LGCP::CreateParams c = RtpTest::RtpCreate(17500, 17502);
    TERM::RtpRadioRequest radio;
    radio.set_status(status);
    c.get_rtp().get_codecRTP().set_radio(radio);
    m.get_pdu().get_command().set_create(c);
    return m;
}

LGCP::Message VezeCreate(int seq, int slot, int squelch)
{
    RadioTest::VezeStatusValues v;
    v.squelshe = squelch;
    return RadioCreate(seq, slot, RadioTest::VezeStatus(v));
}

// Squelch level 110, past the 104 values of its enumeration, which our
// encoder refuses and the decoder takes (X.691 14.2: a 7-bit field). The
// field is found by encoding each power of two and differs from level 0
// in its bit alone.
Bytes UnfitSquelchCreate(int seq, int slot)
{
    Bytes const zero = E2E::Encode(VezeCreate(seq, slot, 0));
    Bytes out = zero;
    for (int bit : {2, 4, 8, 32, 64}) {
        Bytes const one = E2E::Encode(VezeCreate(seq, slot, bit));
        EXPECT_EQ(one.size(), zero.size());
        for (std::size_t i = 0; i < out.size() && i < one.size(); ++i)
            out[i] |= static_cast<std::uint8_t>(one[i] ^ zero[i]);
    }
    return out;
}

// A create whose radio status is an extension alternative of its choice,
// which our encoder refuses: the octets of a VEZE create up to the
// status's extension bit (where the VEZE and ED-137 creates part, one bit
// on), then X.691 23.8: extension bit 1, the index as a normally small
// number (11.6), the value as an open type (11.2: aligned length, octets);
// then the create's payloads, 5-bit enumerations with their extension bit.
Bytes UnknownRadioCreate(int seq, int slot)
{
    Bytes const veze = E2E::Encode(VezeCreate(seq, slot, 50));
    Bytes const ed137 = E2E::Encode(RadioCreate(seq, slot, RadioTest::Status(RadioTest::Header{})));
    auto bit = [](Bytes const& b, std::size_t i) { return (b[i / 8] >> (7 - i % 8)) & 1; };
    std::size_t differ = 0;
    while (differ / 8 < veze.size() && differ / 8 < ed137.size() && bit(veze, differ) == bit(ed137, differ))
        ++differ;
    TestPer::BitWriter w;
    for (std::size_t i = 0; i + 1 < differ; ++i)
        w.Bits(bit(veze, i), 1);
    w.Bits(1, 1); // extension alternative
    w.Bits(0, 1); // index below 64
    w.Bits(5, 6);
    w.Align();
    w.Bits(1, 8); // one octet of value
    w.Bits(0, 8);
    for (int i = 0; i < 2; ++i) { // txPayload, rxPayload ptG729
        w.Bits(0, 1);
        w.Bits(TERM::Payload::ptG729, 5);
    }
    return w.bytes();
}

std::string Hex(std::vector<unsigned char> const& bytes)
{
    std::string hex;
    for (unsigned char b : bytes)
        hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    return hex;
}

class RadioSlotsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.Printed("Starting server"));
        ASSERT_TRUE(host_.Connect(server_.port()));
    }
    // The value notation of the next message that is not a trunk status;
    // empty after the bound.
    std::string Next()
    {
        E2E::Bytes b = host_.Next();
        return b.empty() ? "" : E2E::Notation(b);
    }

    E2E::ServerProcess server_;
    E2E::LgcpHost host_;
};

TEST_F(RadioSlotsEndToEnd, VezeSlotReportsInjectedPttAndUnfitRadioPartsAreRefused)
{
    host_.Send(VezeCreate(1, 3, 50));
    EXPECT_EQ(Next(), "{ seq 1, slot 3, pdu response : success : NULL }");
    EXPECT_EQ(Next(), "{ slot 3, pdu signal : transmitter : active : 1024 }");
    EXPECT_EQ(Next(), "{ slot 3, pdu signal : receiver : active : 1024 }");
    std::string sessions = server_.Ask("/dev/rtp_ext sessions");
    EXPECT_NE(sessions.find("init 0x1337 0 0 0 0 attached /dev/rtp"), std::string::npos) << sessions;
    EXPECT_NE(sessions.find(" channel 1024 "), std::string::npos) << sessions;

    std::string const ptt = Hex(RadioTest::Pack(RadioTest::VezePacket(SIG_PROTO_GW_FLAG_PTT, 15, 1)));
    EXPECT_EQ(server_.Ask("/dev/rtp_ext inject channel 1024 77 10.9.9.9 " + ptt), "ok\n");
    std::string signal = Next();
    EXPECT_EQ(signal.rfind("{ slot 3, pdu signal : rtpExt : ", 0), 0u) << signal;

    // Refused by every factory, with nothing opened.
    host_.Send(UnfitSquelchCreate(2, 4));
    EXPECT_EQ(Next(), "{ seq 2, slot 4, pdu response : error : insufficientResources }");
    EXPECT_TRUE(server_.Logged("radio status squelshe out of range"));
    host_.Send(UnknownRadioCreate(3, 5));
    EXPECT_EQ(Next(), "{ seq 3, slot 5, pdu response : error : insufficientResources }");
    EXPECT_NE(server_.Ask("/dev/rtp_ext sessions").find("ok 1\n"), std::string::npos);
    EXPECT_NE(server_.Ask("/dev/rtp sessions").find("ok 1\n"), std::string::npos);
}

} // namespace
