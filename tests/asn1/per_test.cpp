// PER aligned encodings pinned octet by octet, in both directions.
#include <gtest/gtest.h>

#include <climits>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"

using namespace ASN1;
using ASN1Test::decode;
using ASN1Test::encodeHex;
using ASN1Test::hex;

namespace {

// Encodes `value` after `lead` single bits, to show (non-)alignment.
std::string afterBits(const AbstractData& value, unsigned lead)
{
    std::vector<char> out;
    PEREncoder encoder(out, true);
    for (unsigned i = 0; i < lead; ++i)
        encoder.encodeSingleBit(true);
    std::size_t octets = 0;
    if (!value.accept(encoder) || !encoder.finish(octets))
        return "fail";
    return hex(out);
}

template <class V>
V decoded(const std::string& bytes)
{
    V value;
    EXPECT_TRUE(decode(hex(bytes), value)) << bytes;
    return value;
}

} // namespace

TEST(Asn1Per, MessageEnvelope)
{
    T::Message m;
    m.set_seq(5);
    m.set_slot(3);
    m.get_pdu().select_command().select(static_cast<int>(T::Command::Alt::destroy));
    EXPECT_EQ(encodeHex(m), "C0 01 05 00 03 0A");

    T::Message back;
    ASSERT_TRUE(decode(hex("C0 01 05 00 03 0A"), back));
    EXPECT_EQ(back.do_compare(m), 0);
    EXPECT_EQ(back.get_seq().getValue(), 5);
    EXPECT_EQ(back.get_slot().getValue(), 3u);
    EXPECT_EQ(back.get_pdu().alternativeAs<T::Command>().currentSelection(), 5);

    // Extra octets after a complete message are not looked at.
    T::Message extra;
    ASSERT_TRUE(decode(hex("C0 01 05 00 03 0A FF FF"), extra));
    EXPECT_EQ(extra.do_compare(m), 0);
}

TEST(Asn1Per, BooleanNullAndIntegers)
{
    EXPECT_EQ(encodeHex(BOOLEAN(true)), "80");
    EXPECT_EQ(encodeHex(BOOLEAN(false)), "00");
    EXPECT_EQ(encodeHex(Null()), "");
    EXPECT_TRUE(decoded<BOOLEAN>("80").getValue());

    const std::pair<int, const char*> unconstrained[] = {{0, "01 00"},
                                                         {127, "01 7F"},
                                                         {128, "02 00 80"},
                                                         {-1, "01 FF"},
                                                         {-128, "01 80"},
                                                         {-129, "02 FF 7F"},
                                                         {65535, "03 00 FF FF"},
                                                         {INT_MAX, "04 7F FF FF FF"},
                                                         {INT_MIN, "04 80 00 00 00"}};
    for (const auto& [value, bytes] : unconstrained) {
        EXPECT_EQ(encodeHex(INTEGER(value)), bytes) << value;
        EXPECT_EQ(decoded<INTEGER>(bytes).getValue(), value) << bytes;
    }
    INTEGER tooLong;
    EXPECT_FALSE(decode(hex("05 00 00 00 00 01"), tooLong));
}

TEST(Asn1Per, ConstrainedWholeNumbers)
{
    Constrained_INTEGER<2, 0, 254> r254;
    r254 = 5u;
    EXPECT_EQ(afterBits(r254, 1), "82 80"); // a bit-field, not aligned
    Constrained_INTEGER<2, 0, 255> r255;
    r255 = 5u;
    EXPECT_EQ(afterBits(r255, 1), "80 05"); // one aligned octet
    T::Slot slot;
    slot = 5u;
    EXPECT_EQ(afterBits(slot, 1), "80 00 05"); // two aligned octets
    EXPECT_EQ(encodeHex(slot), "00 05");
    T::Signed8 s8;
    s8.setValue(-128);
    EXPECT_EQ(encodeHex(s8), "00");
    s8.setValue(127);
    EXPECT_EQ(encodeHex(s8), "FF");
    EXPECT_EQ(decoded<T::Signed8>("00").INTEGER::getValue(), -128);
    EXPECT_EQ(decoded<T::Signed8>("FF").INTEGER::getValue(), 127);
    s8.setValue(128);
    EXPECT_EQ(encodeHex(s8), "fail");

    // 0..4294967295: octet count in 2 bits (1..4), then the octets.
    T::U32 u;
    u = 0u;
    EXPECT_EQ(encodeHex(u), "00 00");
    u = 0x12345u;
    EXPECT_EQ(encodeHex(u), "80 01 23 45");
    u = 0xFFFFFFFFu;
    EXPECT_EQ(encodeHex(u), "C0 FF FF FF FF");
    EXPECT_EQ(decoded<T::U32>("C0 FF FF FF FF").getValue(), 0xFFFFFFFFu);

    // The decoder keeps a number above the upper bound (0..1023 read as 1100).
    EXPECT_EQ(decoded<T::Slot>("04 4C").getValue(), 1100u);
    slot = 1024u;
    EXPECT_EQ(encodeHex(slot), "fail");

    // Extensible range: a 0 bit inside the root, 1 and unconstrained outside.
    T::Ext10 e;
    e.setValue(3);
    EXPECT_EQ(encodeHex(e), "18");
    e.setValue(-5);
    EXPECT_EQ(encodeHex(e), "80 01 FB");
    EXPECT_EQ(decoded<T::Ext10>("80 01 FB").getValue(), -5);
    // Semi-constrained: the value itself, as unconstrained (128 takes two octets).
    T::From5 f;
    f.setValue(128);
    EXPECT_EQ(encodeHex(f), "02 00 80");
    EXPECT_EQ(decoded<T::From5>("01 FF").getValue(), 255);
}

// The coders the generated code calls with bounds known at compile time
// write what the general ones write for the same value, after any number of
// bits, in both variants.
namespace {

template <class Code>
std::string coded(unsigned lead, bool aligned, Code code)
{
    std::vector<char> out;
    PEREncoder encoder(out, aligned);
    for (unsigned i = 0; i < lead; ++i)
        encoder.encodeSingleBit(true);
    std::size_t octets = 0;
    if (!code(encoder) || !encoder.finish(octets))
        return "fail";
    return hex(out);
}

template <std::int32_t Lower, std::uint32_t Upper>
void expectWholeAsGeneral(std::initializer_list<std::uint32_t> values)
{
    for (bool aligned : {true, false})
        for (unsigned lead = 0; lead < 8; ++lead)
            for (std::uint32_t v : values)
                EXPECT_EQ(
                    coded(lead, aligned, [&](PEREncoder& e) { return e.encodeWhole<Lower, Upper>(v); }),
                    coded(lead, aligned, [&](PEREncoder& e) { return e.encodeUnsigned(v, Lower, Upper); }))
                    << Lower << ".." << Upper << " " << v << " after " << lead << (aligned ? " aligned" : "");
}

} // namespace

TEST(Asn1Per, InlineCodersWriteAsTheGeneralOnes)
{
    expectWholeAsGeneral<7, 7>({7, 8});
    expectWholeAsGeneral<1, 255>({0, 1, 100, 255, 256});
    expectWholeAsGeneral<0, 255>({0, 255, 256});
    expectWholeAsGeneral<-5, 300>(
        {static_cast<std::uint32_t>(-6), static_cast<std::uint32_t>(-5), 0, 300, 301});
    expectWholeAsGeneral<0, 65535>({0, 65535, 65536});
    expectWholeAsGeneral<0, 65536>({0, 255, 256, 65536, 65537});
    expectWholeAsGeneral<0, 4294967295u>({0, 1, 255, 256, 65535, 65536, 0xFFFFFF, 0x1000000, 0xFFFFFFFF});
    expectWholeAsGeneral<-1000, 4000000u>(
        {static_cast<std::uint32_t>(-1001), static_cast<std::uint32_t>(-1000), 5, 4000000, 4000001});

    for (int v : {0, 1, -1, 127, 128, -128, -129, 32767, 32768, -32768, -32769, 8388607, 8388608, -8388608,
                  -8388609, INT_MAX, INT_MIN})
        for (bool aligned : {true, false})
            for (unsigned lead = 0; lead < 8; ++lead) {
                const INTEGER value(v);
                EXPECT_EQ(coded(lead, aligned, [&](PEREncoder& e) { return e.encodeUnconstrained(value); }),
                          coded(lead, aligned, [&](PEREncoder& e) { return e.do_visit(value); }))
                    << v << " after " << lead;
            }

    // 8-bit characters: unsized (a length octet, or two from 128 on) and
    // sized, short ones stored with their length, long ones as blocks.
    for (std::size_t n : {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 64, 65, 127, 128, 300})
        for (bool aligned : {true, false})
            for (unsigned lead = 0; lead < 8; ++lead) {
                std::string text(n, 'a');
                for (std::size_t i = 0; i < n; ++i)
                    text[i] = static_cast<char>('A' + i % 26);
                const IA5String free(text);
                EXPECT_EQ(
                    coded(lead, aligned,
                          [&](PEREncoder& e) { return e.encodeOctetCharacters<0, UnboundedLength>(free); }),
                    coded(lead, aligned, [&](PEREncoder& e) { return e.do_visit(free); }))
                    << n << " after " << lead << (aligned ? " aligned" : "");
                T::Name sized; // SIZE (1..64)
                static_cast<AbstractString&>(sized) = text;
                EXPECT_EQ(coded(lead, aligned,
                                [&](PEREncoder& e) { return e.encodeOctetCharacters<1, 64>(sized); }),
                          coded(lead, aligned, [&](PEREncoder& e) { return e.do_visit(sized); }))
                    << n << " after " << lead << (aligned ? " aligned" : "");
            }
}

TEST(Asn1Per, LengthDeterminants)
{
    std::vector<char> out;
    PEREncoder encoder(out, true);
    EXPECT_TRUE(encoder.encodeLength(127, 0, UnboundedLength));
    EXPECT_TRUE(encoder.encodeLength(128, 0, UnboundedLength));
    EXPECT_TRUE(encoder.encodeLength(16383, 0, UnboundedLength));
    EXPECT_FALSE(encoder.encodeLength(16384, 0, UnboundedLength));
    std::size_t octets = 0;
    ASSERT_TRUE(encoder.finish(octets));
    EXPECT_EQ(hex(out), "7F 80 80 BF FF");

    const std::vector<char> in = hex("7F 80 80 BF FF C0 01");
    PERDecoder decoder(in.data(), in.data() + in.size(), nullptr, true);
    std::uint32_t n = 0;
    EXPECT_TRUE(decoder.decodeLength(0, UnboundedLength, n));
    EXPECT_EQ(n, 127u);
    EXPECT_TRUE(decoder.decodeLength(0, UnboundedLength, n));
    EXPECT_EQ(n, 128u);
    EXPECT_TRUE(decoder.decodeLength(0, UnboundedLength, n));
    EXPECT_EQ(n, 16383u);
    EXPECT_FALSE(decoder.decodeLength(0, UnboundedLength, n)); // 1 1: a fragment

    // Through OCTET STRING: 128 octets take the two-octet length.
    OCTET_STRING s128(128, 'a');
    std::vector<char> bytes;
    ASSERT_TRUE(ASN1Test::encode(s128, bytes));
    ASSERT_EQ(bytes.size(), 130u);
    EXPECT_EQ(hex(std::vector<char>(bytes.begin(), bytes.begin() + 3)), "80 80 61");
    OCTET_STRING back;
    ASSERT_TRUE(decode(bytes, back));
    EXPECT_EQ(back.do_compare(s128), 0);

    OCTET_STRING s16384(16384, 'a');
    std::vector<char> untouched = {'k'};
    EXPECT_FALSE(ASN1Test::encode(s16384, untouched));
    EXPECT_EQ(untouched, std::vector<char>{'k'});
}

TEST(Asn1Per, EnumeratedCarriesItsValue)
{
    T::StandbyState s;
    s.setValue(8);
    EXPECT_EQ(encodeHex(s), "40"); // 8 in 5 bits (max 16)
    EXPECT_EQ(decoded<T::StandbyState>("40").getValue(), 8);
    s.setValue(-1);
    EXPECT_EQ(encodeHex(s), "fail");
    s.setValue(17);
    EXPECT_EQ(encodeHex(s), "fail");

    T::Colour c;
    c.setValue(1);
    EXPECT_EQ(encodeHex(c), "20");
    c.setValue(5); // extension value: 1, small number 6, 5 in 0..5
    EXPECT_EQ(encodeHex(c), "86 A0");
    EXPECT_EQ(decoded<T::Colour>("86 A0").getValue(), 5);
    // Extension bit set but no readable extension value: a failure, not a
    // root value read from the bits that follow.
    T::Colour bad;
    EXPECT_FALSE(decode(hex("80 40"), bad));
    EXPECT_FALSE(decode(hex("FF"), bad));
    // The largest extension value an int holds codes both ways; one above it
    // is refused rather than read back as a negative enumerator.
    c.setValue(INT_MAX);
    EXPECT_EQ(encodeHex(c), "C0 04 80 00 00 00 C0 7F FF FF FF");
    EXPECT_EQ(decoded<T::Colour>("C0 04 80 00 00 00 C0 7F FF FF FF").getValue(), INT_MAX);
    EXPECT_FALSE(decode(hex("C0 04 FF FF FF FF C0 FF FF FF FF"), bad));
    EXPECT_FALSE(decode(hex("C0 04 80 00 00 01 C0 80 00 00 00"), bad));
}

// Every read of 0 to 32 bits at every bit position of inputs of 0 to 12
// octets, against the bits counted one by one: inside the first octets, in
// the last 8 and in an input shorter than 8 they give the same bits, and a
// read past the end fails and leaves the position as it was.
TEST(Asn1Per, ReadsAtEveryPositionUpToTheEnd)
{
    for (std::size_t size = 0; size <= 12; ++size) {
        std::vector<char> in(size);
        for (std::size_t i = 0; i < size; ++i)
            in[i] = static_cast<char>(0x5A ^ (i * 37));
        const auto bit = [&in](std::size_t k) {
            return (static_cast<unsigned char>(in[k / 8]) >> (7 - k % 8)) & 1u;
        };
        for (std::size_t start = 0; start <= 8 * size; ++start) {
            for (unsigned count = 0; count <= 32; ++count) {
                PERDecoder d(in.data(), in.data() + in.size(), nullptr, true);
                std::uint32_t skipped = 0;
                for (std::size_t k = start; k > 0; k -= std::min<std::size_t>(k, 32))
                    ASSERT_TRUE(
                        d.decodeMultiBit(static_cast<unsigned>(std::min<std::size_t>(k, 32)), skipped));
                std::uint32_t out = 0;
                const bool fits = start + count <= 8 * size;
                ASSERT_EQ(d.decodeMultiBit(count, out), fits) << size << " " << start << " " << count;
                std::uint32_t expected = 0;
                for (unsigned k = 0; fits && k < count; ++k)
                    expected = (expected << 1) | bit(start + k);
                if (fits) {
                    EXPECT_EQ(out, expected) << size << " " << start << " " << count;
                }
                EXPECT_EQ(d.getBitsLeft(), 8 * size - start - (fits ? count : 0));
            }
        }
    }
}

// The extension bit and a root value or index are read together; an
// extension value behind the bit is still read from right after it, and an
// input that ends after the bit fails.
TEST(Asn1Per, ExtensionBitsReadWithWhatFollows)
{
    const auto enumerated = [](const std::string& bytes, int& value) {
        const std::vector<char> in = hex(bytes);
        PERDecoder d(in.data(), in.data() + in.size(), nullptr, true);
        T::Colour c;
        const bool ok = d.decodeEnumerated<true, 2>(c);
        value = c.getValue();
        return ok ? static_cast<int>(d.getBitsLeft()) : -1;
    };
    int v = -1;
    EXPECT_EQ(enumerated("20", v), 5); // root 1 in 2 bits
    EXPECT_EQ(v, 1);
    EXPECT_EQ(enumerated("86 A0", v), 5); // extension 5: small number 6, 5 in 0..5
    EXPECT_EQ(v, 5);
    EXPECT_EQ(enumerated("80", v), -1); // a bit and a small number cut short
    EXPECT_EQ(enumerated("", v), -1);

    const auto choice = [](const std::string& bytes, unsigned lead) {
        const std::vector<char> in = hex(bytes);
        PERDecoder d(in.data(), in.data() + in.size(), nullptr, true);
        std::uint32_t skipped = 0;
        if (lead > 0)
            d.decodeMultiBit(lead, skipped);
        PERDecoder::memento_type memento;
        const int index = d.decodeChoiceIndex<true, 3>(memento);
        return std::pair{index, memento.position != nullptr};
    };
    EXPECT_EQ(choice("40", 0), (std::pair{2, false}));  // 0, index 2 of 3
    EXPECT_EQ(choice("60", 0), (std::pair{-1, false})); // index 3 is not a root one
    EXPECT_EQ(choice("0A", 5), (std::pair{2, false}));  // the last 3 bits of the input
    // Extension alternative 1 of 3 + 1: small number 0, an open type of 1 octet.
    EXPECT_EQ(choice("80 01 00", 0), (std::pair{3, true}));
    EXPECT_EQ(choice("01", 7), (std::pair{-1, false})); // the bit is the input's last
}

TEST(Asn1Per, StringsAndOctets)
{
    AbstractString digits(&NumericString::theInfo, "12");
    EXPECT_EQ(encodeHex(digits), "02 23");
    AbstractString back(&NumericString::theInfo);
    ASSERT_TRUE(decode(hex("02 23"), back));
    EXPECT_EQ(back, "12");
    // A position at or beyond the alphabet's size is refused.
    EXPECT_FALSE(decode(hex("01 F0"), back));
    AbstractString letters(&NumericString::theInfo, "1a");
    EXPECT_EQ(encodeHex(letters), "fail");

    T::Digits2 fixed;
    fixed = "12";
    EXPECT_EQ(afterBits(fixed, 1), "91 80"); // 8 bits: not aligned, no length

    EXPECT_EQ(encodeHex(IA5String("hi")), "02 68 69");
    T::Name name;
    name = "hi";
    EXPECT_EQ(afterBits(name, 1), "82 68 69"); // length 1..64 in 6 bits, aligned chars
    name = "";
    EXPECT_EQ(encodeHex(name), "fail"); // below SIZE (1..64)

    // IA5String carries 8-bit octets as they are.
    IA5String raw("\xC8");
    EXPECT_EQ(encodeHex(raw), "01 C8");
    AbstractString printable(&PrintableString::theInfo, "A?");
    EXPECT_EQ(encodeHex(printable), "02 41 3F");
    // Read in one copy: up to the input's last octet, over what a reused
    // value held, and refused (emptied) when a character is missing.
    IA5String text("left over from before");
    ASSERT_TRUE(decode(hex("02 68 69"), text));
    EXPECT_EQ(text, "hi");
    EXPECT_FALSE(decode(hex("03 68 69"), text));
    EXPECT_EQ(text, "");

    EXPECT_EQ(encodeHex(OCTET_STRING(std::vector<char>{'\x01', '\x02'})), "02 01 02");
    T::Quad quad;
    quad = std::string_view("\x01\x02\x03\x04", 4);
    EXPECT_EQ(afterBits(quad, 1), "80 01 02 03 04"); // 3+ octets aligned, no length

    T::Wide w;
    w = L"A";
    EXPECT_EQ(encodeHex(w), "10 00 41");
    T::Wide wb;
    ASSERT_TRUE(decode(hex("10 00 41"), wb));
    EXPECT_EQ(wb, L"A");
}

TEST(Asn1Per, BitStringsOidsAndTime)
{
    T::Flags flags;
    flags.resize(3);
    flags.set(0);
    flags.set(2);
    EXPECT_EQ(encodeHex(flags), "0E 80");
    T::Flags fb;
    ASSERT_TRUE(decode(hex("0E 80"), fb));
    EXPECT_EQ(fb.do_compare(flags), 0);

    BIT_STRING b17;
    b17.resize(17);
    b17.set(0);
    b17.set(16);
    EXPECT_EQ(encodeHex(b17), "11 80 00 80");
    BIT_STRING bb;
    ASSERT_TRUE(decode(hex("11 80 00 80"), bb));
    EXPECT_EQ(bb.do_compare(b17), 0);
    EXPECT_FALSE(decode(hex("11 80 00"), bb)); // more bits than are left

    OBJECT_IDENTIFIER oid{1, 2, 840};
    EXPECT_EQ(encodeHex(oid), "03 2A 86 48");
    OBJECT_IDENTIFIER ob;
    ASSERT_TRUE(decode(hex("03 2A 86 48"), ob));
    EXPECT_EQ(ob.arcs(), oid.arcs());
    EXPECT_FALSE(decode(hex("02 2A 86"), ob));
    EXPECT_FALSE(decode(hex("04 2A 86 48"), ob));

    GeneralizedTime t("20240101120000.250Z");
    std::vector<char> bytes;
    ASSERT_TRUE(ASN1Test::encode(t, bytes));
    EXPECT_EQ(bytes[0], 19);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.end()), "20240101120000.250Z");
    GeneralizedTime tb;
    ASSERT_TRUE(decode(bytes, tb));
    EXPECT_EQ(tb.get(), t.get());
    EXPECT_FALSE(decode(hex("03 31 32 33"), tb)); // not a time
}

TEST(Asn1Per, Choices)
{
    T::PDU pdu;
    pdu.select(1);
    pdu.alternativeAs<T::Response>().select(0);
    EXPECT_EQ(encodeHex(pdu), "40");      // 2-bit number, then 1-bit number
    EXPECT_FALSE(decode(hex("C0"), pdu)); // root number 3 of 3 alternatives

    T::PDU none;
    EXPECT_EQ(encodeHex(none), "fail");

    T::ExtChoice root;
    root.selectAs<INTEGER>(0).setValue(5);
    EXPECT_EQ(encodeHex(root), "00 01 05");
    T::ExtChoice known;
    known.selectAs<IA5String>(2) = "A";
    EXPECT_EQ(encodeHex(known), "80 02 01 41");
    T::ExtChoice kb;
    ASSERT_TRUE(decode(hex("80 02 01 41"), kb));
    EXPECT_EQ(kb.do_compare(known), 0);
    EXPECT_FALSE(decode(hex("80 05 01 41"), kb)); // open type beyond the input
    EXPECT_FALSE(decode(hex("80 01 01 41"), kb)); // contents bounded by their length

    // An alternative this system does not know: skipped, selection unknown.
    T::ExtChoiceV2 later;
    later.selectAs<T::Inner>(3).get_x() = 1u;
    EXPECT_EQ(encodeHex(later), "81 02 00 01");
    T::Message afterwards; // what follows the open type is read correctly
    T::ExtChoice older;
    ASSERT_TRUE(decode(hex("81 02 00 01"), older));
    EXPECT_TRUE(older.isUnknownSelection());
    EXPECT_EQ(older.alternative(), nullptr);
    EXPECT_EQ(encodeHex(older), "fail");
    EXPECT_FALSE(decode(hex("81 05 00 01"), older));
}

TEST(Asn1Per, SequenceExtensions)
{
    T::Params p;
    p.get_a() = 5u;
    p.set_c("hi");
    p.includeOptionalField(3, 4);
    p.get_e2() = std::string_view("xyz");
    EXPECT_EQ(encodeHex(p), "A0 05 02 68 69 02 80 04 03 78 79 7A");
    T::Params back;
    ASSERT_TRUE(decode(hex("A0 05 02 68 69 02 80 04 03 78 79 7A"), back));
    EXPECT_EQ(back.do_compare(p), 0);
    // Known addition: its length past the input, or contents past its length.
    EXPECT_FALSE(decode(hex("A0 05 02 68 69 02 80 09 03 78 79 7A"), back));
    EXPECT_FALSE(decode(hex("A0 05 02 68 69 02 80 02 03 78 79 7A"), back));

    // Only additions up to the last present one are announced; a removed
    // one leaves no presence bits behind.
    T::Params q;
    q.includeOptionalField(4, 5); // e3
    q.removeOptionalField(4);
    EXPECT_EQ(encodeHex(q), "00 00");

    // A later version's unknown addition is skipped, also when it ends
    // exactly at the end of the input, and is never re-encoded.
    T::ParamsV2 v2;
    static_cast<T::Byte&>(v2.fieldObject(0)) = 5u;
    v2.includeOptionalField(5, 6);
    static_cast<INTEGER&>(*v2.fieldAt(6)).setValue(7);
    EXPECT_EQ(encodeHex(v2), "80 05 06 20 02 01 07");
    T::Params older;
    ASSERT_TRUE(decode(hex("80 05 06 20 02 01 07"), older));
    EXPECT_EQ(older.get_a().getValue(), 5u);
    EXPECT_EQ(encodeHex(older), "00 05");
    EXPECT_FALSE(decode(hex("80 05 06 20 03 01 07"), older)); // skip past the end

    // Too many presence bits.
    EXPECT_FALSE(decode(hex("80 05 C0 81 80"), older));
}

TEST(Asn1Per, SequenceOfLimits)
{
    SEQUENCE_OF<Null> list;
    list.resize(128);
    EXPECT_EQ(encodeHex(list), "80 80");
    SEQUENCE_OF<Null> back;
    ASSERT_TRUE(decode(hex("80 80"), back));
    EXPECT_EQ(back.size(), 128u);
    list.resize(129);
    EXPECT_EQ(encodeHex(list), "80 81"); // the encoder applies no limit
    EXPECT_FALSE(decode(hex("80 81"), back));

    T::SmallList small;
    small.resize(2);
    small[0] = 1u;
    small[1] = 2u;
    EXPECT_EQ(encodeHex(small), "80 01 02");
    small.resize(4);
    EXPECT_EQ(encodeHex(small), "fail");

    // A failing element removes itself and what follows it.
    SEQUENCE_OF<INTEGER> ints;
    ASSERT_FALSE(decode(hex("03 01 05 01 06 05"), ints));
    ASSERT_EQ(ints.size(), 2u);
    EXPECT_EQ(ints[1].getValue(), 6);
}

TEST(Asn1Per, StringSizeLimits)
{
    T::LongText text;
    text.assign(16384, 'x');
    std::vector<char> bytes;
    ASSERT_TRUE(ASN1Test::encode(text, bytes));
    ASSERT_EQ(bytes.size(), 16386u);
    EXPECT_EQ(hex(std::vector<char>(bytes.begin(), bytes.begin() + 3)), "40 00 78");
    T::LongText back;
    ASSERT_TRUE(decode(bytes, back));
    EXPECT_EQ(back.size(), 16384u);

    text.push_back('x');
    bytes.clear();
    ASSERT_TRUE(ASN1Test::encode(text, bytes));
    EXPECT_FALSE(decode(bytes, back));

    T::LongBytes octets;
    octets.assign(16385, 'y');
    bytes.clear();
    ASSERT_TRUE(ASN1Test::encode(octets, bytes));
    T::LongBytes ob;
    EXPECT_FALSE(decode(bytes, ob));
    bytes.erase(bytes.end() - 1);
    bytes[1] = 0; // count 16384
    EXPECT_TRUE(decode(bytes, ob));
}

TEST(Asn1Per, OpenTypes)
{
    OpenData empty;
    EXPECT_EQ(encodeHex(empty), "01 00");
    OpenData holding;
    holding.set_data(new INTEGER(5));
    EXPECT_EQ(encodeHex(holding), "02 01 05");

    OpenData raw;
    ASSERT_TRUE(decode(hex("02 01 05"), raw));
    ASSERT_TRUE(raw.has_buf());
    EXPECT_FALSE(raw.has_data());
    CoderEnv env;
    PERDecoder revisitor(nullptr, nullptr, &env, true);
    EXPECT_FALSE(revisitor.do_revisit(raw)); // no value object to fill
    raw.set_data(new INTEGER);
    ASSERT_TRUE(revisitor.do_revisit(raw));
    EXPECT_EQ(static_cast<INTEGER*>(raw.get_data())->getValue(), 5);

    T::InnerHolder holder;
    static_cast<T::Inner*>(holder.get_data())->get_x() = 7u;
    EXPECT_EQ(encodeHex(holder), "02 00 07");
    T::InnerHolder hb;
    ASSERT_TRUE(decode(hex("03 00 07 EE 55"), hb)); // unused open-type octets skipped
    EXPECT_EQ(hb.do_compare(holder), 0);
    EXPECT_FALSE(decode(hex("01 00 07"), hb));
}
