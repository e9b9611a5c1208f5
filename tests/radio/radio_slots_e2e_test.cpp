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

// `a` with the CHOICE where `a` and `b` part (their first differing bit is
// its index, the bit before it its extension bit) replaced by an extension
// alternative, which our encoder refuses: X.691 23.8: extension bit 1, the
// index as a normally small number (11.6), the value as an open type (11.2:
// aligned length, octets). What follows the CHOICE in these creates is
// written again by hand: the create's payloads, 5-bit enumerations with
// their extension bit.
Bytes WithUnknownAlternative(Bytes const& a, Bytes const& b)
{
    auto bit = [](Bytes const& bytes, std::size_t i) { return (bytes[i / 8] >> (7 - i % 8)) & 1; };
    std::size_t differ = 0;
    while (differ / 8 < a.size() && differ / 8 < b.size() && bit(a, differ) == bit(b, differ))
        ++differ;
    TestPer::BitWriter w;
    for (std::size_t i = 0; i + 1 < differ; ++i)
        w.Bits(bit(a, i), 1);
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

// A create whose radio status is an alternative of no known standard: the
// VEZE and ED-137 creates part at the status.
Bytes UnknownRadioCreate(int seq, int slot)
{
    return WithUnknownAlternative(
        E2E::Encode(VezeCreate(seq, slot, 50)),
        E2E::Encode(RadioCreate(seq, slot, RadioTest::Status(RadioTest::Header{}))));
}

// A VEZE create whose rtp-e2m mode is an alternative the factory does not
// know: the two known modes part at the mode (the last field set in the
// codec's parameters).
Bytes UnknownModeCreate(int seq, int slot)
{
    auto create = [&](bool onlyRtp) {
        LGCP::Message m = VezeCreate(seq, slot, 50);
        TERM::RtpE2M e2m;
        e2m.set_slot(0);
        e2m.set_channel(0);
        TERM::RtpExtMode mode;
        if (onlyRtp) {
            mode.select_only_rtp().set_fd(7);
            mode.get_only_rtp().set_pid(1234);
        } else {
            mode.select_both_rtp_and_rtp_ext();
        }
        e2m.set_mode(mode);
        m.get_pdu().get_command().get_create().get_rtp().get_codecRTP().set_rtp_e2m(e2m);
        return E2E::Encode(m);
    };
    return WithUnknownAlternative(create(false), create(true));
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
    host_.Send(UnknownModeCreate(4, 6));
    EXPECT_EQ(Next(), "{ seq 4, slot 6, pdu response : error : insufficientResources }");
    EXPECT_TRUE(server_.Logged("rtp do not created: unknown rtp-e2m mode"));
    EXPECT_NE(server_.Ask("/dev/rtp_ext sessions").find("ok 1\n"), std::string::npos);
    EXPECT_NE(server_.Ask("/dev/rtp sessions").find("ok 1\n"), std::string::npos);
}

} // namespace
