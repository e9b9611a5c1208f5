// The RTCP encoders: the exact packets, and no byte written past the buffer
// whatever its size.

#include "slots/rtcp.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(RTPC::Msg const& msg, unsigned int size = 1024)
{
    std::vector<char> buf(size);
    unsigned int n = msg.encode(buf.data(), size);
    return Bytes(buf.begin(), buf.begin() + n);
}

void Append(Bytes& b, std::string const& text)
{
    b.insert(b.end(), text.begin(), text.end());
}

const std::string kEmail = "support@example.com";
const std::string kPhone = "+15555550100";

TEST(Rtcp, ByeCarriesTheSsrcAndTheReason)
{
    Bytes expected{0x81, 203, 0, 4, 0, 0, 0, 1, 11};
    Append(expected, "session end");
    EXPECT_EQ(Encode(RTPC::BYE(1, "session end")), expected);
    // Without a reason: the SSRC alone.
    EXPECT_EQ(Encode(RTPC::BYE(0xA1B2C3D4, "")), (Bytes{0x81, 203, 0, 1, 0xA1, 0xB2, 0xC3, 0xD4}));
    // A reason that needs padding.
    EXPECT_EQ(Encode(RTPC::BYE(2, "ab")), (Bytes{0x81, 203, 0, 2, 0, 0, 0, 2, 2, 'a', 'b', 0}));
}

TEST(Rtcp, SdesItemsEndWithTheNullOctetAndPadding)
{
    RTPC::SDES one(0x01020304);
    one.add(RTPC::SDES::Item::CNAME, "abc");
    EXPECT_EQ(Encode(one), (Bytes{0x81, 202, 0, 3, 1, 2, 3, 4, 1, 3, 'a', 'b', 'c', 0, 0, 0}));

    // RFC 3550 6.5: even an empty item list ends with a null octet.
    EXPECT_EQ(Encode(RTPC::SDES(7)), (Bytes{0x81, 202, 0, 2, 0, 0, 0, 7, 0, 0, 0, 0}));

    RTPC::SDES three(0xDEADBEEF);
    three.add(RTPC::SDES::Item::CNAME, "Dakvune Torvalisk");
    three.add(RTPC::SDES::Item::EMAIL, kEmail);
    three.add(RTPC::SDES::Item::PHONE, kPhone);
    Bytes expected{0x81, 202, 0, 15, 0xDE, 0xAD, 0xBE, 0xEF, 1, 17};
    Append(expected, "Dakvune Torvalisk");
    expected.insert(expected.end(), {3, 19});
    Append(expected, kEmail);
    expected.insert(expected.end(), {4, 12});
    Append(expected, kPhone);
    expected.push_back(0);
    EXPECT_EQ(expected.size(), 63u);
    expected.push_back(0);
    EXPECT_EQ(Encode(three), expected);
}

TEST(Rtcp, LongTextsAreCutAt255)
{
    std::string text(300, 'x');
    RTPC::SDES sdes(1);
    sdes.add(RTPC::SDES::Item::NAME, text);
    Bytes s = Encode(sdes);
    ASSERT_EQ(s.size(), 8u + 2 + 255 + 1 + 2);
    EXPECT_EQ(s[9], 255);
    EXPECT_EQ(s[3], (s.size() / 4) - 1);

    Bytes b = Encode(RTPC::BYE(1, text));
    ASSERT_EQ(b.size(), 8u + 1 + 255);
    EXPECT_EQ(b[8], 255);
}

TEST(Rtcp, SmallBuffersGetWhatFitsOrNothing)
{
    EXPECT_TRUE(Encode(RTPC::BYE(1, "session end"), 7).empty());
    EXPECT_TRUE(Encode(RTPC::SDES(1), 11).empty());
    // The reason is cut to what fits, padded; the items that do not fit are
    // left out.
    EXPECT_EQ(Encode(RTPC::BYE(1, "session end"), 14),
              (Bytes{0x81, 203, 0, 2, 0, 0, 0, 1, 3, 's', 'e', 's'}));
    EXPECT_EQ(Encode(RTPC::BYE(1, "session end"), 9), (Bytes{0x81, 203, 0, 1, 0, 0, 0, 1}));
    RTPC::SDES two(1);
    two.add(RTPC::SDES::Item::CNAME, "abc");
    two.add(RTPC::SDES::Item::NOTE, "defg");
    EXPECT_EQ(Encode(two, 19), (Bytes{0x81, 202, 0, 3, 0, 0, 0, 1, 1, 3, 'a', 'b', 'c', 0, 0, 0}));
    EXPECT_EQ(Encode(two, 20).size(), 20u);
}

// Every size from 0 to 80: the packet is whole or absent, its length field
// says its length, and the guard bytes after the buffer stay untouched.
TEST(Rtcp, NoSizeWritesPastTheBuffer)
{
    RTPC::SDES sdes(0x11223344);
    sdes.add(RTPC::SDES::Item::CNAME, "Dakvune Torvalisk");
    sdes.add(RTPC::SDES::Item::EMAIL, kEmail);
    sdes.add(RTPC::SDES::Item::PHONE, kPhone);
    RTPC::BYE bye(0x11223344, "session end");
    RTPC::SDES empty(5);
    for (RTPC::Msg const* msg : {static_cast<RTPC::Msg const*>(&sdes), static_cast<RTPC::Msg const*>(&bye),
                                 static_cast<RTPC::Msg const*>(&empty)}) {
        unsigned int last = 0;
        for (unsigned int size = 0; size <= 80; ++size) {
            std::vector<char> buf(size + 16, '\x5A');
            unsigned int n = msg->encode(buf.data(), size);
            ASSERT_LE(n, size);
            EXPECT_EQ(n % 4, 0u) << size;
            ASSERT_GE(n, last) << "a larger buffer gave a shorter packet at " << size;
            last = n;
            if (n > 0) {
                EXPECT_EQ((std::uint8_t(buf[2]) << 8 | std::uint8_t(buf[3])), n / 4 - 1) << size;
            }
            for (unsigned int i = size; i < buf.size(); ++i)
                ASSERT_EQ(buf[i], '\x5A') << "byte " << i << " written with size " << size;
        }
    }
}

} // namespace
