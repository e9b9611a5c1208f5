// LGCP reference encodings (aligned PER), in both directions: the value
// built with the generated classes encodes to exactly these octets, and the
// octets decode to a value equal to it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asn1/modules/LGCP.hpp"
#include "asn1/support/coding.hpp"
#include "support/lgcp_host.hpp"

namespace {

using ASN1Test::DecodePer;
using ASN1Test::EncodePer;
using ASN1Test::FromHex;
using ASN1Test::ToHex;

std::string Hex(const std::string& spaced)
{
    std::vector<char> bytes;
    EXPECT_TRUE(FromHex(spaced, bytes));
    return ToHex(bytes);
}

void ExpectBothWays(const LGCP::Message& message, const std::string& spaced)
{
    std::vector<char> encoded;
    ASSERT_TRUE(EncodePer(message, encoded));
    EXPECT_EQ(ToHex(encoded), Hex(spaced));

    std::vector<char> bytes;
    ASSERT_TRUE(FromHex(spaced, bytes));
    LGCP::Message decoded;
    ASSERT_TRUE(DecodePer(bytes, decoded)) << spaced;
    EXPECT_EQ(decoded.do_compare(message), 0) << spaced;
}

TEST(LgcpGolden, Commands)
{
    {
        LGCP::Message m = E2E::Message(5, 3);
        m.get_pdu().select_command().set_destroy();
        ExpectBothWays(m, "C0 01 05 00 03 0A");
    }
    {
        LGCP::Message m = E2E::Message(7, -1);
        m.get_pdu().select_command().set_ping();
        ExpectBothWays(m, "80 01 07 18");
    }
    {
        LGCP::Message m = E2E::Message(3, 4);
        m.get_pdu().select_command().set_connect(17);
        ExpectBothWays(m, "C0 01 03 00 04 04 00 11");
    }
    {
        LGCP::Message m = E2E::Message(74565, 1023);
        m.get_pdu().select_command().set_userData(std::string_view("\x01\x02\x03", 3));
        ExpectBothWays(m, "C0 03 01 23 45 03 FF 10 03 01 02 03");
    }
}

TEST(LgcpGolden, Responses)
{
    {
        LGCP::Message m = E2E::Message(7, 12);
        m.get_pdu().select_response().set_success();
        ExpectBothWays(m, "C0 01 07 00 0C 40");
    }
    {
        LGCP::Message m = E2E::Message(9, -1);
        m.get_pdu().select_response().set_error(LGCP::ErrorCause::invalidSlot);
        ExpectBothWays(m, "80 01 09 62");
    }
    {
        LGCP::Message m = E2E::Message(-1, -1);
        m.get_pdu().select_response().set_error(LGCP::ErrorCause::unexpectedMsgType);
        ExpectBothWays(m, "19 00");
    }
}

TEST(LgcpGolden, Signals)
{
    {
        LGCP::Message m = E2E::Message(-1, 5);
        m.get_pdu().select_signal().set_activated();
        ExpectBothWays(m, "40 00 05 85");
    }
    {
        LGCP::Message m = E2E::Message(-1, 2);
        m.get_pdu().select_signal().set_number("123");
        ExpectBothWays(m, "40 00 02 82 03 31 32 33");
    }
    {
        LGCP::Message m = E2E::Message(-1, 0);
        m.get_pdu().select_signal().set_abort(-1);
        ExpectBothWays(m, "40 00 00 87 01 FF");
    }
    {
        LGCP::Message m = E2E::Message(-1, 3);
        LGCP::TonecEvent& tonec = m.get_pdu().select_signal().select_tonec();
        tonec.set_timestamp(1000);
        tonec.get_event().set_dtmf(5);
        ExpectBothWays(m, "40 00 03 81 02 03 E8 00 A0");
    }
    {
        // dtmfDone is an extension alternative (X.691 23.8): an open type.
        LGCP::Message m = E2E::Message(-1, 3);
        LGCP::TonecEvent& tonec = m.get_pdu().select_signal().select_tonec();
        tonec.set_timestamp(1000);
        tonec.get_event().set_dtmfDone();
        ExpectBothWays(m, "40 00 03 81 02 03 E8 80 01 00");
    }
}

TEST(LgcpGolden, DecodedFieldsReadBack)
{
    std::vector<char> bytes;
    ASSERT_TRUE(FromHex("C0 03 01 23 45 03 FF 10 03 01 02 03", bytes));
    LGCP::Message m;
    ASSERT_TRUE(DecodePer(bytes, m));
    ASSERT_TRUE(m.has_seq() && m.has_slot());
    EXPECT_EQ(m.get_seq().getValue(), 74565);
    EXPECT_EQ(m.get_slot().getValue(), 1023u);
    ASSERT_TRUE(m.get_pdu().is_command());
    ASSERT_TRUE(m.get_pdu().get_command().is_userData());
    EXPECT_EQ(std::string(m.get_pdu().get_command().get_userData()), std::string("\x01\x02\x03", 3));
    EXPECT_EQ(m.get_pdu().get_command().currentSelection(), static_cast<int>(LGCP::Command::Alt::userData));

    ASSERT_TRUE(FromHex("19 00", bytes));
    LGCP::Message r;
    ASSERT_TRUE(DecodePer(bytes, r));
    EXPECT_FALSE(r.has_seq());
    EXPECT_FALSE(r.has_slot());
    ASSERT_TRUE(r.get_pdu().is_response() && r.get_pdu().get_response().is_error());
    EXPECT_EQ(r.get_pdu().get_response().get_error().getValue(), LGCP::ErrorCause::unexpectedMsgType);
    EXPECT_EQ(r.get_pdu().get_response().get_error().getName(), "unexpectedMsgType");
}

// Alternative 15 of Command lies past its 15 root alternatives: an extension
// alternative this schema does not know. It decodes (X.691 23.8), its open
// type skipped, and the selection says so.
TEST(LgcpGolden, UnknownCommandExtensionDecodes)
{
    std::vector<char> bytes;
    ASSERT_TRUE(FromHex("80 01 07 20 00 01 00", bytes));
    LGCP::Message m;
    ASSERT_TRUE(DecodePer(bytes, m));
    ASSERT_TRUE(m.has_seq());
    EXPECT_EQ(m.get_seq().getValue(), 7);
    EXPECT_FALSE(m.has_slot());
    ASSERT_TRUE(m.get_pdu().is_command());
    EXPECT_TRUE(m.get_pdu().get_command().isUnknownSelection());
}

} // namespace
