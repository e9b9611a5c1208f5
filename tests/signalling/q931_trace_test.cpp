// The Q.931 frame trace: the decoded text of whole frames, byte for byte,
// and the bounds that keep a frame from the line inside the frame and the
// text inside its buffer.

#include "signalling/q931_trace.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using Octets = std::vector<unsigned char>;

// Decoded from a heap copy of exactly the frame's size, so that a read past
// its end is caught by AddressSanitizer.
std::string Decode(const Octets& frame, unsigned int direction = 0)
{
    std::unique_ptr<unsigned char[]> exact(new unsigned char[frame.size() + (frame.empty() ? 1 : 0)]);
    std::copy(frame.begin(), frame.end(), exact.get());
    dlogframe(exact.get(), static_cast<unsigned int>(frame.size()), direction, ISDN::logbuf);
    return ISDN::logbuf;
}

// An I frame from TEI 0 (N(S) 0, N(R) 1) carrying `q931`.
Octets IFrame(const Octets& q931)
{
    Octets f{0x00, 0x01, 0x00, 0x02};
    f.insert(f.end(), q931.begin(), q931.end());
    return f;
}

// The text after the hex line and the frame line.
std::string Body(const std::string& text)
{
    std::size_t a = text.find('\n');
    std::size_t b = text.find('\n', a + 1);
    return b == std::string::npos ? std::string() : text.substr(b + 1);
}

TEST(Q931Trace, SetupAcknowledgeBroadcast)
{
    EXPECT_EQ(Decode({0x02, 0xFF, 0x03, 0x08, 0x01, 0x81, 0x0D, 0x18, 0x01, 0x89}, 1),
              " 02 FF 03 08 01 81 0D 18 01 89\n"
              "frame network->user broadcast\n"
              "callref 1 called size 7 message type SETUP ACKNOWLEDGE\n"
              "  Channel identification\n"
              "    octet 3 10001001\n");
}

TEST(Q931Trace, FramesWithoutQ931)
{
    // RR command, N(R) 2, P 1: its control octets and nothing more.
    EXPECT_EQ(Decode({0x02, 0x01, 0x01, 0x05}),
              " 02 01 01 05\nframe user->network SFrame tei = 0 (01 05 )\n");
    // SABME to TEI 64.
    EXPECT_EQ(Decode({0x00, 0x81, 0x7F}, 1), " 00 81 7F\nframe network->user SFrame tei = 64 (7F )\n");
    EXPECT_EQ(Decode({0x02, 0xFF, 0x13}), " 02 FF 13\nframe user->network no UI broadcast\n");
    EXPECT_EQ(Decode({0xFC, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x01, 0xFF}),
              " FC FF 03 0F 12 34 01 FF\nframe user->network tei management:\n");
    EXPECT_EQ(Decode({0x14, 0xFF, 0x03, 0x08}),
              " 14 FF 03 08\nframe user->network unknown sapi 5 broadcast\n");
    EXPECT_EQ(Decode({0x14, 0x01, 0x00, 0x00}),
              " 14 01 00 00\nframe user->network unknown sapi = 5; tei = 0\n");
    // A UI broadcast or an I frame with nothing after its header.
    EXPECT_EQ(Body(Decode({0x02, 0xFF, 0x03})), "frame too short\n");
    EXPECT_EQ(Body(Decode({0x00, 0x01, 0x00, 0x02})), "frame too short\n");
    EXPECT_EQ(Decode({0x02, 0xFF, 0x03, 0x09, 0x01, 0x81, 0x0D}),
              " 02 FF 03 09 01 81 0D\nframe user->network broadcast\nUnknown protocol 9!");
}

// One frame through every printer, written out by hand.
TEST(Q931Trace, EveryPrinterOnOneSetup)
{
    const Octets frame = IFrame({
        0x08, 0x01, 0x05, 0x05,                         // caller's call reference 5, SETUP
        0xA1,                                           // sending complete
        0x04, 0x05, 0x88, 0x98, 0x85, 0x21, 0x8F,       // bearer: 3, 4 (multirate), 4.1, 5, 5a
        0x18, 0x01, 0x89,                               // channel
        0x1E, 0x03, 0x01, 0x81, 0x90,                   // progress: 3, 3a, 4
        0x6C, 0x06, 0x01, 0x81, 0x31, 0x32, 0x33, 0x34, // calling: 3, 3a, "1234"
        0x70, 0x04, 0x80, 0x35, 0x36, 0x37,             // called: 3, "567"
        0x08, 0x06, 0x82, 0x90, 0x01, 0x02, 0x83, 0x84, // cause 0x10 with two diagnostics
        0x1C, 0x06, 0x91, 0xA1, 0x03, 0x02, 0x01, 0x05, // facility
        0x28, 0x03, 0x61, 0x62, 0x63,                   // display "abc"
    });
    ASSERT_EQ(frame.size(), 59u);
    EXPECT_EQ(Decode(frame), " 00 01 00 02 08 01 05 05 A1 04 05 88 98 85 21 8F 18 01 89 1E 03 01 81 90 6C 06"
                             " 01 81 31 32 33 34 70 04 80 35 36 37 08 06 82 90 01 02 83 84 1C 06 91 A1 03 02"
                             " 01 05 28 03 61 62 63\n"
                             "frame user->network IFrame tei = 0\n"
                             "callref 5 caller size 55 message type SETUP\n"
                             "  Sending complete\n"
                             "  Bearer capability\n"
                             "    octet 3  10001000\n"
                             "    octet 4  10011000\n"
                             "    octet 4.1 10000101\n"
                             "    octet 5  00100001\n"
                             "    octet 5a 10001111\n"
                             "  Channel identification\n"
                             "    octet 3 10001001\n"
                             "  Progress indicator\n"
                             "    octet 3  00000001\n"
                             "    octet 3a 10000001\n"
                             "    octet 4  10010000\n"
                             "  Calling party number\n"
                             "    octet 3 00000001\n"
                             "    octet 3a 10000001\n"
                             "    number digits 1234\n"
                             "  Called party number\n"
                             "    octet 3 10000000\n"
                             "    number digits 567\n"
                             "  Cause\n"
                             "    coding 00 location 0010\n"
                             "  cause value 10 : Normal call clearing \n"
                             "    diag attribute 1  rej 2  av 3\n"
                             "    diag attribute 3  rej 4 \n"
                             "  Facility\n"
                             "    octet 3 10010001\n"
                             "   octet 4 10100001\n"
                             "   octet 5 3\n"
                             "   contents  2  1  5 \n"
                             "  Display\n"
                             "   \"abc\"\n");
}

// Single-octet elements by their bits 7 to 5, and an element that is not in
// the table; a shift leaves the names at codeset 0.
TEST(Q931Trace, SingleOctetAndUnknownElements)
{
    EXPECT_EQ(Body(Decode(IFrame({0x08, 0x01, 0x05, 0x05, 0x96, 0xB2, 0xD1, 0x80, 0xE3, 0xF4,
                                  0xC5, 0xA0, 0xA5, 0x7B, 0x02, 0x11, 0x22, 0x18, 0x01, 0x89}))),
              "callref 5 caller size 20 message type SETUP\n"
              "  Shift 6\n"
              "  Congestion level 2\n"
              "  Repeat indicator 1\n"
              "  Reserved 80\n"
              "  Reserved e3\n"
              "  Reserved f4\n"
              "  Reserved c5\n"
              "  More data\n"
              "  attribute 7b attribute size 2\n"
              "  Channel identification\n"
              "    octet 3 10001001\n");
}

TEST(Q931Trace, MessageTypesAndCauses)
{
    // An unknown type still has its elements decoded.
    EXPECT_EQ(Body(Decode({0x02, 0xFF, 0x03, 0x08, 0x01, 0x01, 0x99, 0x18, 0x01, 0x89})),
              "callref 1 caller size 7 unknown message type 99!\n"
              "  Channel identification\n"
              "    octet 3 10001001\n");
    EXPECT_EQ(Body(Decode(IFrame({0x08, 0x01, 0x02, 0x45, 0x08, 0x02, 0x80, 0x90}))),
              "callref 2 caller size 8 message type DISCONNECT\n"
              "  Cause\n"
              "    coding 00 location 0000\n"
              "  cause value 10 : Normal call clearing \n");
    // A row with a German text prints the English one; the trailing blank
    // of the text stays; a value not in the table.
    EXPECT_NE(Decode(IFrame({0x08, 0x01, 0x02, 0x5A, 0x08, 0x02, 0x80, 0x81}))
                  .find("  cause value 1 : Unallocated (unassigned) number \n"),
              std::string::npos);
    EXPECT_NE(
        Decode(IFrame({0x08, 0x01, 0x02, 0x5A, 0x08, 0x02, 0x80, 0xE2}))
            .find("  cause value 62 : Message not compatible with call state or message type non-existent or "
                  "not implemented  \n"),
        std::string::npos);
    EXPECT_NE(
        Decode(IFrame({0x08, 0x01, 0x02, 0x5A, 0x08, 0x02, 0x80, 0x8B})).find("Unknown cause type b!\n"),
        std::string::npos);
    // Octet 3a (recommendation) before the value is skipped.
    EXPECT_NE(Decode(IFrame({0x08, 0x01, 0x02, 0x5A, 0x08, 0x03, 0x00, 0x81, 0x91}))
                  .find("  cause value 11 : User busy \n"),
              std::string::npos);

    std::set<unsigned int> types;
    for (const auto& row : ISDN::mtlist)
        types.insert(row.type);
    EXPECT_EQ(types.size(), ISDN::mtlist_size);
    unsigned int german = 0;
    for (const auto& row : ISDN::cvlist)
        german += row.german[0] != '\0' ? 1 : 0;
    EXPECT_EQ(german, 4u);
}

// Primary-rate frames carry two-octet call references.
TEST(Q931Trace, CallReferenceLengths)
{
    EXPECT_EQ(Body(Decode(IFrame({0x08, 0x02, 0x80, 0x05, 0x4D, 0x08, 0x02, 0x80, 0x90}))),
              "callref 5 called size 9 message type RELEASE\n"
              "  Cause\n"
              "    coding 00 location 0000\n"
              "  cause value 10 : Normal call clearing \n");
    EXPECT_EQ(Body(Decode(IFrame({0x08, 0x02, 0x12, 0x34, 0x05, 0xA1}))),
              "callref 4660 caller size 6 message type SETUP\n  Sending complete\n");
    EXPECT_EQ(Body(Decode(IFrame({0x08, 0x00, 0x75}))),
              "callref 0 caller size 3 message type STATUS ENQUIRY\n");
    EXPECT_EQ(Body(Decode(IFrame({0x08, 0x03, 0x00, 0x00, 0x01, 0x05}))), "callref length 3 not supported\n");
    // Header octets missing.
    EXPECT_EQ(Body(Decode(IFrame({0x08}))), "truncated\n");
    EXPECT_EQ(Body(Decode(IFrame({0x08, 0x02, 0x80, 0x05}))), "truncated\n");
}

// No read goes past an element's end or the frame's end; a cut element
// prints what it holds, then a truncation line.
TEST(Q931Trace, ReadsStayInsideTheElementAndTheFrame)
{
    const Octets setup{0x08, 0x01, 0x01, 0x05};
    auto elements = [&](const Octets& tail) {
        Octets q = setup;
        q.insert(q.end(), tail.begin(), tail.end());
        std::string text = Decode(IFrame(q));
        std::size_t at = text.find("message type SETUP\n");
        return at == std::string::npos ? text : text.substr(at + 19);
    };
    // Declared longer than the frame.
    EXPECT_EQ(elements({0x70, 0x08, 0x80, 0x31, 0x32}),
              "  Called party number\n    octet 3 10000000\n    number digits 12\n    truncated\n");
    EXPECT_EQ(elements({0x7E, 0x09, 0x01}), "  User-user\n    octet 3  00000001\n    truncated\n");
    EXPECT_EQ(elements({0x7B, 0x09, 0x01}), "  attribute 7b attribute size 9\n    truncated\n");
    EXPECT_EQ(elements({0x18}), "  truncated\n");
    // Bearer: octet 4.1 announced but absent; the next element is still
    // read as an element.
    EXPECT_EQ(elements({0x04, 0x02, 0x88, 0x98, 0x18, 0x01, 0x89}),
              "  Bearer capability\n    octet 3  10001000\n    octet 4  10011000\n    truncated\n"
              "  Channel identification\n    octet 3 10001001\n");
    // Bearer without layer octets: they are optional.
    EXPECT_EQ(elements({0x04, 0x02, 0x88, 0x90, 0x18, 0x01, 0x89}),
              "  Bearer capability\n    octet 3  10001000\n    octet 4  10010000\n"
              "  Channel identification\n    octet 3 10001001\n");
    EXPECT_EQ(elements({0x04, 0x03, 0x88, 0x90, 0x21}),
              "  Bearer capability\n    octet 3  10001000\n    octet 4  10010000\n"
              "    octet 5  00100001\n    truncated\n");
    EXPECT_EQ(elements({0x04, 0x01, 0x88}), "  Bearer capability\n    octet 3  10001000\n    truncated\n");
    // Calling: octet 3a announced but absent.
    EXPECT_EQ(elements({0x6C, 0x01, 0x01, 0x18, 0x01, 0x89}),
              "  Calling party number\n    octet 3 00000001\n    truncated\n"
              "  Channel identification\n    octet 3 10001001\n");
    // Cause: no octet with bit 8 set to end octet 3; a diagnostic cut.
    EXPECT_EQ(elements({0x08, 0x01, 0x00}), "  Cause\n    coding 00 location 0000\n    truncated\n");
    EXPECT_EQ(elements({0x08, 0x04, 0x80, 0x90, 0x01, 0x02}),
              "  Cause\n    coding 00 location 0000\n  cause value 10 : Normal call clearing \n"
              "    diag attribute 1  rej 2 \n    truncated\n");
    EXPECT_EQ(elements({0x08, 0x03, 0x80, 0x90, 0x01}),
              "  Cause\n    coding 00 location 0000\n  cause value 10 : Normal call clearing \n"
              "    diag attribute 1 \n    truncated\n");
    // Facility: the length n runs past the element.
    EXPECT_EQ(elements({0x1C, 0x04, 0x91, 0xA1, 0x05, 0x01, 0x18, 0x01, 0x89}),
              "  Facility\n    octet 3 10010001\n   octet 4 10100001\n   octet 5 5\n   contents  1 \n"
              "    truncated\n  Channel identification\n    octet 3 10001001\n");
    EXPECT_EQ(elements({0x1C, 0x02, 0x91, 0xA1}),
              "  Facility\n    octet 3 10010001\n   octet 4 10100001\n    truncated\n");
    // Elements of length 0.
    EXPECT_EQ(elements({0x18, 0x00, 0x70, 0x00, 0x28, 0x00}),
              "  Channel identification\n    truncated\n  Called party number\n    truncated\n  Display\n   "
              "\"\"\n");
}

// Texts from the line reach the log only as printable characters.
TEST(Q931Trace, NonPrintableOctetsAreEscaped)
{
    const std::string text = Decode(IFrame(
        {0x08, 0x01, 0x01, 0x05, 0x28, 0x05, 0x41, 0x00, 0x0A, 0x7F, 0x5A, 0x70, 0x03, 0x81, 0x1B, 0x39}));
    EXPECT_NE(text.find("   \"A\\x00\\x0A\\x7FZ\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    number digits \\x1B9\n"), std::string::npos) << text;
}

TEST(Q931Trace, ShortFrames)
{
    std::strcpy(ISDN::logbuf, "the previous frame");
    EXPECT_EQ(Decode({}), "");
    EXPECT_EQ(Decode({0x02}), " 02\nframe too short\n");
    EXPECT_EQ(Decode({0x02, 0x01}, 1), " 02 01\nframe too short\n");
    dlogframe(nullptr, 5, 0, ISDN::logbuf);
    EXPECT_STREQ(ISDN::logbuf, "");
}

// The text never passes the 1024 bytes of its buffer, NUL included; a cut
// text ends with "..." and a line break.
TEST(Q931Trace, OutputStaysInTheBuffer)
{
    for (std::size_t n : {300u, 339u, 340u, 341u, 2000u, 65535u}) {
        Octets q{0x08, 0x01, 0x01, 0x05};
        while (q.size() + 4 < n) {
            const std::size_t chunk = std::min<std::size_t>(255, n - 4 - q.size() - 2);
            q.push_back(0x7E); // user-user: one line per octet
            q.push_back(static_cast<unsigned char>(chunk));
            q.insert(q.end(), chunk, 0x41);
        }
        Octets f = IFrame(q);
        std::vector<char> buf(ISDN::logbuf_size + 64, '#');
        dlogframe(f.data(), static_cast<unsigned int>(f.size()), 0, buf.data());
        const std::size_t len = std::strlen(buf.data());
        ASSERT_LT(len, ISDN::logbuf_size) << n;
        EXPECT_EQ(std::string(buf.data() + len - 4, 4), "...\n") << n;
        for (std::size_t i = ISDN::logbuf_size; i < buf.size(); ++i)
            ASSERT_EQ(buf[i], '#') << "written past the buffer for " << n << " octets";
    }
    // An S frame's text is 6 n + 33 characters: at 165 octets exactly 1023
    // fit whole; one octet more cuts it.
    for (unsigned int n : {165u, 166u}) {
        Octets s(n, 0x01);
        s[0] = 0x00;
        std::vector<char> buf(ISDN::logbuf_size, '#');
        dlogframe(s.data(), n, 0, buf.data());
        const std::string text(buf.data());
        ASSERT_EQ(text.size(), 1023u);
        EXPECT_EQ(text.substr(text.size() - 4), n == 165 ? "1 )\n" : "...\n");
    }
}

TEST(Q931Trace, Helpers)
{
    char bits[9] = {};
    EXPECT_EQ(ISDN::printbits(bits, 0xA5, 8, 8), 8u);
    EXPECT_STREQ(bits, "10100101");
    char two[3] = {};
    ISDN::printbits(two, 0x40, 7, 2);
    EXPECT_STREQ(two, "10");
    const unsigned char ext[] = {0x01, 0x02, 0x83, 0x04};
    EXPECT_EQ(ISDN::skipext(ext, ext + 4), ext + 3);
    EXPECT_EQ(ISDN::skipext(ext, ext + 2), ext + 2);
}

} // namespace
