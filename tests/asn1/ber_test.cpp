// BER (X.690) coder: fixed encodings, the explicit tag of a CHOICE, unsigned
// integers, malformed input, and round trips that an independent decoder
// (openssl asn1parse) accepts.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "asn1/ber.hpp"
#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"

using namespace ASN1;
using ASN1Test::bytes;
using ASN1Test::hex;

namespace {

// SEQUENCE { a BOOLEAN OPTIONAL }
class Opts : public SEQUENCE {
public:
    static const SequenceTypeInfo theInfo;
    using SEQUENCE::SEQUENCE;
    Opts() : SEQUENCE(&theInfo) {}
};
constinit const TypeInfo* const Opts_fieldInfos[] = {&BOOLEAN::theInfo};
constinit const int Opts_fieldIds[] = {0};
constinit const char* const Opts_fieldNames[] = {"a"};
constinit const SequenceTypeInfo Opts::theInfo = {type_header<Opts>(tag::SEQUENCE),
                                                  false,
                                                  Opts_fieldInfos,
                                                  Opts_fieldIds,
                                                  1,
                                                  0,
                                                  1,
                                                  nullptr,
                                                  nullptr,
                                                  Opts_fieldNames};

// SEQUENCE { o Opts }
class Holder : public SEQUENCE {
public:
    static const SequenceTypeInfo theInfo;
    using SEQUENCE::SEQUENCE;
    Holder() : SEQUENCE(&theInfo) {}
};
constinit const TypeInfo* const Holder_fieldInfos[] = {&Opts::theInfo};
constinit const int Holder_fieldIds[] = {-1};
constinit const char* const Holder_fieldNames[] = {"o"};
constinit const SequenceTypeInfo Holder::theInfo = {type_header<Holder>(tag::SEQUENCE),
                                                    false,
                                                    Holder_fieldInfos,
                                                    Holder_fieldIds,
                                                    1,
                                                    0,
                                                    0,
                                                    nullptr,
                                                    nullptr,
                                                    Holder_fieldNames};

// SEQUENCE { f0 NULL OPTIONAL, ..., f31 NULL OPTIONAL }: field 31 needs the
// high tag number form.
class Wide32 : public SEQUENCE {
public:
    static const SequenceTypeInfo theInfo;
    using SEQUENCE::SEQUENCE;
    Wide32() : SEQUENCE(&theInfo) {}
};
#define N4 &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo
constinit const TypeInfo* const Wide32_fieldInfos[] = {N4, N4, N4, N4, N4, N4, N4, N4};
#undef N4
constinit const int Wide32_fieldIds[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                         16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
constinit const char* const Wide32_fieldNames[] = {"f0",  "f1",  "f2",  "f3",  "f4",  "f5",  "f6",  "f7",
                                                   "f8",  "f9",  "f10", "f11", "f12", "f13", "f14", "f15",
                                                   "f16", "f17", "f18", "f19", "f20", "f21", "f22", "f23",
                                                   "f24", "f25", "f26", "f27", "f28", "f29", "f30", "f31"};
constinit const SequenceTypeInfo Wide32::theInfo = {type_header<Wide32>(tag::SEQUENCE),
                                                    false,
                                                    Wide32_fieldInfos,
                                                    Wide32_fieldIds,
                                                    32,
                                                    0,
                                                    32,
                                                    nullptr,
                                                    nullptr,
                                                    Wide32_fieldNames};

std::vector<char> ber(const AbstractData& value)
{
    std::vector<char> out;
    EXPECT_TRUE(ASN1Test::encode(value, out, CoderEnv::ber));
    return out;
}

bool fromBer(const std::vector<char>& data, AbstractData& value)
{
    return ASN1Test::decode(data, value, CoderEnv::ber);
}

T::Message destroyMessage()
{
    T::Message m;
    m.set_seq(5);
    m.set_slot(3);
    m.get_pdu().select_command().select(T::Command::theInfo.rootCount > 5 ? 5 : 0);
    return m;
}

// openssl parses the DER form; our encodings use the fewest length octets
// and definite lengths, so every one of them must pass.
bool opensslAccepts(const std::vector<char>& data)
{
    char path[] = "/tmp/ber_testXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return false;
    bool written = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    close(fd);
    std::string cmd = std::string("openssl asn1parse -inform DER -in ") + path + " >/dev/null 2>&1";
    bool ok = written && std::system(cmd.c_str()) == 0;
    unlink(path);
    return ok;
}

} // namespace

TEST(Ber, PrimitiveEncodings)
{
    EXPECT_EQ(hex(ber(INTEGER(0))), "02 01 00");
    EXPECT_EQ(hex(ber(INTEGER(127))), "02 01 7F");
    EXPECT_EQ(hex(ber(INTEGER(128))), "02 02 00 80");
    EXPECT_EQ(hex(ber(INTEGER(-129))), "02 02 FF 7F");
    EXPECT_EQ(hex(ber(INTEGER(-1))), "02 01 FF");
    EXPECT_EQ(hex(ber(INTEGER(INT32_MIN))), "02 04 80 00 00 00");
    EXPECT_EQ(hex(ber(BOOLEAN(true))), "01 01 FF");
    EXPECT_EQ(hex(ber(BOOLEAN(false))), "01 01 00");
    EXPECT_EQ(hex(ber(Null())), "05 00");
    EXPECT_EQ(hex(ber(OBJECT_IDENTIFIER({1, 2, 840}))), "06 03 2A 86 48");
    EXPECT_EQ(hex(ber(IA5String("hi"))), "16 02 68 69");
    EXPECT_EQ(hex(ber(GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 0, true))),
              "18 0F 32 30 32 34 30 31 30 32 30 33 30 34 30 35 5A");
    T::Wide wide;
    wide.assign(L"A\x263A");
    EXPECT_EQ(hex(ber(wide)), "1E 04 00 41 26 3A");
    T::StandbyState standby;
    standby.setValue(T::StandbyState::active);
    EXPECT_EQ(hex(ber(standby)), "0A 01 10");
}

TEST(Ber, LengthForms)
{
    // X.690 8.1.3: short form below 128, else the fewest length octets.
    EXPECT_EQ(hex(ber(OCTET_STRING(127, 'x'))).substr(0, 5), "04 7F");
    EXPECT_EQ(hex(ber(OCTET_STRING(128, 'x'))).substr(0, 8), "04 81 80");
    EXPECT_EQ(hex(ber(OCTET_STRING(300, 'x'))).substr(0, 11), "04 82 01 2C");
    EXPECT_EQ(ber(OCTET_STRING(70000, 'x')).size(), 70000u + 5);
    EXPECT_EQ(getObjectLength(OCTET_STRING(300, 'x'), ownTag), 304u);
    EXPECT_EQ(getIntegerDataLength(0), 1u);
    EXPECT_EQ(getIntegerDataLength(-1), 1u);
    EXPECT_EQ(getIntegerDataLength(128), 2u);
    EXPECT_EQ(getIntegerDataLength(-129), 2u);
    EXPECT_EQ(getIntegerDataLength(0x800000), 4u);

    OCTET_STRING back;
    std::vector<char> big = ber(OCTET_STRING(70000, 'x'));
    ASSERT_TRUE(fromBer(big, back));
    EXPECT_EQ(back.size(), 70000u);
}

TEST(Ber, BitStrings)
{
    BIT_STRING sixteen;
    sixteen.resize(16);
    sixteen.set(0);
    sixteen.set(15);
    EXPECT_EQ(hex(ber(sixteen)), "03 03 00 80 01");
    EXPECT_EQ(hex(ber(BIT_STRING())), "03 01 00");

    // Three bits: 5 unused, and the unused bits go out as zero.
    BIT_STRING three;
    three.resize(3);
    three.set(0);
    three.set(2);
    BIT_STRING dirty = three;
    dirty.bytes()[0] = static_cast<char>(dirty.bytes()[0] | 0x1F);
    EXPECT_EQ(hex(ber(dirty)), "03 02 05 A0");

    BIT_STRING back;
    ASSERT_TRUE(fromBer(ber(sixteen), back));
    EXPECT_EQ(back.size(), 16u);
    EXPECT_EQ(back.do_compare(sixteen), 0);
    ASSERT_TRUE(fromBer(bytes({0x03, 0x02, 0x05, 0xA7}), back));
    EXPECT_EQ(back.size(), 3u);
    EXPECT_EQ(back.do_compare(three), 0);

    // X.690 8.6.2.2-3: unused bits above 7, or unused bits without octets.
    EXPECT_FALSE(fromBer(bytes({0x03, 0x02, 0x08, 0x00}), back));
    EXPECT_FALSE(fromBer(bytes({0x03, 0x01, 0x07}), back));
    EXPECT_FALSE(fromBer(bytes({0x03, 0x00}), back));
}

TEST(Ber, SequenceAndChoice)
{
    T::Inner inner;
    inner.get_x() = 5u;
    EXPECT_EQ(hex(ber(inner)), "30 03 80 01 05");

    T::Command command;
    command.select(2);
    static_cast<INTEGER*>(command.alternative())->setValue(7);
    EXPECT_EQ(hex(ber(command)), "82 01 07");

    Wide32 wide;
    wide.includeOptionalField(31, 31);
    EXPECT_EQ(hex(ber(wide)), "30 03 9F 1F 00");
    Wide32 wideBack;
    ASSERT_TRUE(fromBer(ber(wide), wideBack));
    EXPECT_TRUE(wideBack.hasOptionalField(31));
    EXPECT_FALSE(wideBack.hasOptionalField(30));
}

TEST(Ber, ChoiceFieldIsExplicitAndConstructed)
{
    // X.690 8.14.3: the tag of a CHOICE field is explicit, so constructed.
    T::Message m = destroyMessage();
    std::vector<char> data = ber(m);
    EXPECT_EQ(hex(data), "30 0C 80 01 05 81 01 03 A2 04 A0 02 85 00");
    T::Message back;
    ASSERT_TRUE(fromBer(data, back));
    EXPECT_EQ(back.do_compare(m), 0);
    EXPECT_TRUE(opensslAccepts(data));

    // The primitive form of that tag is not this message.
    std::vector<char> primitive = data;
    primitive[7] = static_cast<char>(0x82);
    EXPECT_FALSE(fromBer(primitive, back));
}

TEST(Ber, UnsignedAndSignedIntegers)
{
    // An unsigned type's values of 2^31 and more keep their sign bit clear
    // with a leading zero octet (X.690 8.3.2).
    T::U32 ssrc;
    ssrc = 0xFFFFFFFFu;
    EXPECT_EQ(hex(ber(ssrc)), "02 05 00 FF FF FF FF");
    T::U32 back;
    ASSERT_TRUE(fromBer(ber(ssrc), back));
    EXPECT_EQ(back.getValue(), 0xFFFFFFFFu);
    ssrc = 0x80000000u;
    EXPECT_EQ(hex(ber(ssrc)), "02 05 00 80 00 00 00");
    // -1 is not a value of (0..4294967295): it must not come back as 4294967295.
    EXPECT_FALSE(fromBer(bytes({0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}), back));
    // Five octets only as that leading zero, and only for an unsigned type.
    INTEGER plain;
    EXPECT_FALSE(fromBer(bytes({0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}), plain));
    EXPECT_FALSE(fromBer(bytes({0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}), back));
    EXPECT_FALSE(fromBer(bytes({0x02, 0x00}), plain));

    ASSERT_TRUE(fromBer(bytes({0x02, 0x02, 0xFF, 0x7F}), plain));
    EXPECT_EQ(plain.getValue(), -129);

    // ENUMERATED sign-extends like INTEGER.
    T::RadioStandby notUsed;
    notUsed.setValue(-1);
    EXPECT_EQ(hex(ber(notUsed)), "0A 01 FF");
    T::RadioStandby enumBack;
    ASSERT_TRUE(fromBer(ber(notUsed), enumBack));
    EXPECT_EQ(enumBack.getValue(), -1);
}

TEST(Ber, MalformedLengthsFail)
{
    T::Inner inner;
    // Indefinite form (X.690 8.1.3.6) and long forms of more than 4 octets.
    EXPECT_FALSE(fromBer(bytes({0x30, 0x80, 0x80, 0x01, 0x05, 0x00, 0x00}), inner));
    INTEGER i;
    EXPECT_FALSE(fromBer(bytes({0x02, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0x07}), i));
    // Long forms of up to 4 octets are read, not only the shortest.
    ASSERT_TRUE(fromBer(bytes({0x02, 0x84, 0x00, 0x00, 0x00, 0x01, 0x07}), i));
    EXPECT_EQ(i.getValue(), 7);
    // Length octets missing, contents past the input.
    EXPECT_FALSE(fromBer(bytes({0x02, 0x82, 0x01}), i));
    EXPECT_FALSE(fromBer(bytes({0x02, 0x02, 0x01}), i));
    EXPECT_FALSE(fromBer(bytes({0x30, 0x05, 0x80, 0x01, 0x05}), inner));
    // A field longer than its SEQUENCE, though the input has the octets.
    EXPECT_FALSE(fromBer(bytes({0x30, 0x03, 0x80, 0x02, 0x05, 0x00, 0x00}), inner));
    // A tag number that does not fit and one that never ends.
    EXPECT_FALSE(fromBer(bytes({0x30, 0x04, 0x9F, 0x84, 0x80, 0x00}), inner));
    EXPECT_FALSE(fromBer(bytes({0x30, 0x02, 0x9F, 0x81}), inner));
    EXPECT_FALSE(fromBer({}, inner));
}

TEST(Ber, SequenceFields)
{
    T::Inner inner;
    // Missing mandatory field, also when the contents are empty.
    EXPECT_FALSE(fromBer(bytes({0x30, 0x00}), inner));
    EXPECT_FALSE(fromBer(bytes({0x30, 0x03, 0x81, 0x01, 0xFF}), inner));
    T::Message message;
    EXPECT_FALSE(fromBer(bytes({0x30, 0x03, 0x80, 0x01, 0x05}), message));
    // Fields out of order: not silently dropped.
    EXPECT_FALSE(fromBer(bytes({0x30, 0x06, 0x81, 0x01, 0xFF, 0x80, 0x01, 0x05}), inner));
    // A non-extensible SEQUENCE has nothing after its last field.
    EXPECT_FALSE(fromBer(bytes({0x30, 0x05, 0x80, 0x01, 0x05, 0x85, 0x00}), inner));
    // An optional field left out of the input is absent afterwards.
    inner.includeOptionalField(0, 1);
    ASSERT_TRUE(fromBer(bytes({0x30, 0x03, 0x80, 0x01, 0x05}), inner));
    EXPECT_FALSE(inner.hasOptionalField(0));
    EXPECT_EQ(inner.get_x().getValue(), 5u);
    // An empty SEQUENCE that ends the input.
    Holder holder;
    EXPECT_TRUE(fromBer(bytes({0x30, 0x02, 0xA0, 0x00}), holder));
}

TEST(Ber, ExtensionsOfALaterVersion)
{
    T::ParamsV2 later;
    later.fieldAs<T::Byte>(0) = 9u;
    later.includeOptionalField(2 + 3, 6); // e4, unknown to T::Params
    later.fieldAs<INTEGER>(6).setValue(1000);
    later.includeOptionalField(2 + 0, 3); // e1
    std::vector<char> data = ber(later);
    EXPECT_EQ(hex(data), "30 0A 80 01 09 83 01 00 86 02 03 E8");
    T::Params params;
    ASSERT_TRUE(fromBer(data, params));
    EXPECT_EQ(params.get_a().getValue(), 9u);
    EXPECT_TRUE(params.hasOptionalField(2));
    EXPECT_FALSE(params.hasOptionalField(3));

    // An alternative this side does not know fails the CHOICE.
    T::ExtChoiceV2 choice;
    choice.select(3);
    T::ExtChoice older;
    EXPECT_FALSE(fromBer(ber(choice), older));
}

TEST(Ber, EncodeFailureWritesNothing)
{
    T::Message m; // pdu has no selection
    std::vector<char> out = bytes({0x42});
    EXPECT_FALSE(ASN1Test::encode(m, out, CoderEnv::ber));
    EXPECT_EQ(hex(out), "42");
}

TEST(Ber, RandomCorpusRoundTrip)
{
    ASN1Test::RandomValues rng(20240611);
    rng.openTypes = ASN1Test::RandomValues::Open::Avoided;
    rng.maxDepth = 6;
    for (int n = 0; n < 300; ++n) {
        T::Everything value;
        rng.fill(value);
        std::vector<char> data = ber(value);
        T::Everything back;
        ASSERT_TRUE(fromBer(data, back)) << n << ": " << hex(data);
        ASSERT_EQ(back.do_compare(value), 0) << n << ": " << hex(data);
        std::vector<char> again = ber(back);
        ASSERT_EQ(again, data) << n;
        if (n % 25 == 0) {
            EXPECT_TRUE(opensslAccepts(data)) << n << ": " << hex(data);
        }
    }
}

// Cut and corrupted encodings fail or succeed, but never read outside the
// input (the sanitizers watch): every prefix, and single-octet changes.
TEST(Ber, MutatedInputStaysInBounds)
{
    ASN1Test::RandomValues rng(7);
    rng.openTypes = ASN1Test::RandomValues::Open::Avoided;
    rng.maxDepth = 6;
    for (int n = 0; n < 40; ++n) {
        T::Everything value;
        rng.fill(value);
        std::vector<char> data = ber(value);
        for (std::size_t cut = 0; cut < data.size(); ++cut) {
            std::vector<char> prefix(data.begin(), data.begin() + static_cast<long>(cut));
            T::Everything back;
            EXPECT_FALSE(fromBer(prefix, back)) << cut;
        }
        for (int m = 0; m < 200; ++m) {
            std::vector<char> bad = data;
            bad[rng.next32() % bad.size()] = static_cast<char>(rng.next32());
            T::Everything back;
            fromBer(bad, back);
        }
    }
}
