// Value notation: the exact layout the logs show, parsing it back, and the
// round trip print -> parse -> compare over random values.

#include <gtest/gtest.h>

#include <sstream>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"
#include "asn1/valuenotation.hpp"

using namespace ASN1;

namespace {

T::Message destroyMessage()
{
    T::Message m;
    m.set_seq(5);
    m.set_slot(3);
    m.get_pdu().select_command().select(5);
    return m;
}

std::vector<char> bytesOf(const char* text)
{
    return std::vector<char>(text, text + std::char_traits<char>::length(text));
}

template <class V>
bool parse(V& value, const std::string& text)
{
    return setFromValueNotation(value, text);
}

} // namespace

TEST(ValueNotation, MessageLayout)
{
    EXPECT_EQ(asValueNotation(destroyMessage()), "{\n"
                                                 "  seq 5,\n"
                                                 "  slot 3,\n"
                                                 "  pdu command : destroy : NULL\n"
                                                 "}");

    // Nested values indent by two more; the closing brace at the value's own.
    T::Params params;
    params.get_a() = 1u;
    params.set_c("x");
    params.includeOptionalField(2 + 2, 5);
    params.get_e3().get_x() = 7u;
    EXPECT_EQ(asValueNotation(params), "{\n"
                                       "  a 1,\n"
                                       "  c \"x\",\n"
                                       "  e3 {\n"
                                       "    x 7\n"
                                       "  }\n"
                                       "}");
}

TEST(ValueNotation, Leaves)
{
    EXPECT_EQ(asValueNotation(OCTET_STRING(bytesOf("\x0a\xff"))), "'0a ff'H");
    EXPECT_EQ(asValueNotation(OCTET_STRING()), "''H");
    BIT_STRING bits;
    bits.resize(3);
    bits.set(0);
    bits.set(2);
    EXPECT_EQ(asValueNotation(bits), "'101'B");
    EXPECT_EQ(asValueNotation(BOOLEAN(true)), "TRUE");
    EXPECT_EQ(asValueNotation(Null()), "NULL");
    EXPECT_EQ(asValueNotation(OBJECT_IDENTIFIER({1, 3, 6, 1})), "{ 1 3 6 1 }");
    T::StandbyState standby;
    standby.setValue(8);
    EXPECT_EQ(asValueNotation(standby), "standby");
    standby.setValue(5); // no name: the number
    EXPECT_EQ(asValueNotation(standby), "5");
    T::Level level;
    level.setValue(5);
    EXPECT_EQ(asValueNotation(level), "mid");
    level.setValue(6);
    EXPECT_EQ(asValueNotation(level), "6");
    EXPECT_EQ(asValueNotation(GeneralizedTime(2024, 1, 2, 3, 4, 5, 250, 0, true)), "\"20240102030405.250Z\"");
    EXPECT_EQ(asValueNotation(T::SmallList()), "{\n}");

    T::SmallList list;
    list.resize(2);
    list[1] = 9u;
    EXPECT_EQ(asValueNotation(list), "{\n  0,\n  9\n}");
}

TEST(ValueNotation, UnprintableValueGivesNoText)
{
    // An alternative the schema does not name, deep in a message: nothing of
    // the fields printed before it.
    T::Message m = destroyMessage();
    m.fieldAs<T::PDU>(2).setSelection(CHOICE::unknownSelection_, nullptr);
    EXPECT_EQ(asValueNotation(m), "");
    T::PDU beyond;
    beyond.setSelection(7, new Null);
    EXPECT_EQ(asValueNotation(beyond), "");
    std::ostringstream partial;
    print_on(partial, m);
    EXPECT_NE(partial.str(), "") << "the stream keeps what was written before the fault";
}

TEST(ValueNotation, IntegersBySignedness)
{
    T::U32 u;
    u = 4294967295u;
    EXPECT_EQ(asValueNotation(u), "4294967295");
    INTEGER plain(-1);
    EXPECT_EQ(asValueNotation(plain), "-1");
    T::Signed8 s;
    s.setValue(-128);
    EXPECT_EQ(asValueNotation(s), "-128");

    T::U32 back;
    ASSERT_TRUE(parse(back, "4294967295"));
    EXPECT_EQ(back.getValue(), 4294967295u);
    EXPECT_FALSE(parse(back, "4294967296"));
    EXPECT_FALSE(parse(back, "-1"));
    INTEGER plainBack;
    ASSERT_TRUE(parse(plainBack, " -2147483648"));
    EXPECT_EQ(plainBack.getValue(), INT32_MIN);
    EXPECT_FALSE(parse(plainBack, "2147483648"));
    EXPECT_FALSE(parse(plainBack, "x"));
}

TEST(ValueNotation, StreamStateAfterOctets)
{
    // Octets are hexadecimal; numbers written after them are decimal again.
    std::ostringstream out;
    out << OCTET_STRING(bytesOf("\x0a\xff")) << ' ' << 255;
    EXPECT_EQ(out.str(), "'0a ff'H 255");

    T::Params params;
    params.includeOptionalField(2 + 1, 4);
    params.get_e2() = std::string_view("\x0a\xff", 2);
    params.includeOptionalField(2 + 2, 5);
    params.get_e3().get_x() = 200u;
    EXPECT_EQ(asValueNotation(params), "{\n  a 0,\n  e2 '0a ff'H,\n  e3 {\n    x 200\n  }\n}");

    // A stream that has failed gets nothing.
    std::ostringstream failed;
    failed.setstate(std::ios_base::failbit);
    failed << INTEGER(5);
    EXPECT_EQ(failed.str(), "");
}

TEST(ValueNotation, QuotesAreDoubled)
{
    // X.680 41.8: a quotation mark inside a string is written twice.
    IA5String text("say \"hi\"");
    EXPECT_EQ(asValueNotation(text), "\"say \"\"hi\"\"\"");
    IA5String back;
    ASSERT_TRUE(parse(back, asValueNotation(text)));
    EXPECT_EQ(static_cast<const std::string&>(back), "say \"hi\"");
    ASSERT_TRUE(parse(back, "\"\"\"\""));
    EXPECT_EQ(static_cast<const std::string&>(back), "\"");
    EXPECT_FALSE(parse(back, "\"open"));
}

TEST(ValueNotation, ParseMessage)
{
    T::Message m;
    ASSERT_TRUE(parse(m, asValueNotation(destroyMessage())));
    EXPECT_EQ(m.do_compare(destroyMessage()), 0);

    // Optional fields the text leaves out are absent, also when they were
    // present before.
    T::Message other = destroyMessage();
    ASSERT_TRUE(parse(other, "{ pdu response : error : invalidSlot }"));
    EXPECT_FALSE(other.has_seq());
    EXPECT_FALSE(other.has_slot());
    EXPECT_EQ(other.get_pdu().currentSelection(), 1);

    // A mandatory field left out fails, whether before others or trailing.
    T::Inner inner;
    EXPECT_FALSE(parse(inner, "{ flag TRUE }"));
    EXPECT_FALSE(parse(inner, "{}"));
    EXPECT_FALSE(parse(m, "{ seq 5, slot 3 }"));
    EXPECT_FALSE(parse(m, "{ seq 5 }"));
    // Out of order, unknown names, unknown alternatives, trailing commas.
    EXPECT_FALSE(parse(m, "{ slot 3, seq 5, pdu command : destroy : NULL }"));
    EXPECT_FALSE(parse(m, "{ seq 5, nope 1, pdu command : destroy : NULL }"));
    EXPECT_FALSE(parse(m, "{ pdu command : explode : NULL }"));
    EXPECT_FALSE(parse(m, "{ seq 5, }"));
    T::ErrorCause cause;
    EXPECT_FALSE(parse(cause, "noSuchCause"));
}

TEST(ValueNotation, EnumeratedNumbersOnlyWhereTheyPrintAsNumbers)
{
    // A value with a name is written by it; a number is read only for a
    // value that has none (a gap, an extension value, a negative one).
    T::StandbyState s;
    ASSERT_TRUE(parse(s, "5"));
    EXPECT_EQ(s.getValue(), 5);
    EXPECT_FALSE(parse(s, "8")) << "8 is standby";
    EXPECT_FALSE(parse(s, "0"));
    EXPECT_EQ(s.getValue(), 5) << "a refused number leaves the value";
    ASSERT_TRUE(parse(s, "standby"));
    EXPECT_EQ(s.getValue(), 8);
    T::Colour colour;
    EXPECT_TRUE(parse(colour, "7"));
    EXPECT_FALSE(parse(colour, "1"));
    T::RadioStandby radio;
    EXPECT_TRUE(parse(radio, "-1"));
    T::ErrorCause cause;
    EXPECT_FALSE(parse(cause, "2"));

    // Whatever the printer writes reads back as the same value.
    for (int v : {-3, 0, 3, 5, 8, 17, 1000}) {
        T::StandbyState out, back;
        out.setValue(v);
        ASSERT_TRUE(parse(back, asValueNotation(out))) << v;
        EXPECT_EQ(back.getValue(), v);
    }
}

TEST(ValueNotation, ParseStringsAndBits)
{
    BIT_STRING bits;
    ASSERT_TRUE(parse(bits, "'0F'H"));
    EXPECT_EQ(bits.size(), 8u);
    ASSERT_TRUE(parse(bits, "'1 0 1'B"));
    EXPECT_EQ(bits.size(), 3u);
    EXPECT_EQ(asValueNotation(bits), "'101'B");
    EXPECT_FALSE(parse(bits, "'102'B"));

    OCTET_STRING octets;
    ASSERT_TRUE(parse(octets, "'0aF'H")); // padded to whole octets
    EXPECT_EQ(asValueNotation(octets), "'0a f0'H");
    ASSERT_TRUE(parse(octets, "'1'B"));
    EXPECT_EQ(asValueNotation(octets), "'80'H");

    OBJECT_IDENTIFIER oid;
    ASSERT_TRUE(parse(oid, "{ iso(1) 3 6 1 }"));
    EXPECT_EQ(asValueNotation(oid), "{ 1 3 6 1 }");

    // A BMPString the C locale cannot write goes out as quadruples.
    T::Wide wide;
    wide.assign(L"A\x263A");
    EXPECT_EQ(asValueNotation(wide), "{{ 0, 0, 0, 65}, { 0, 0, 38, 58}}");
    T::Wide wideBack;
    ASSERT_TRUE(parse(wideBack, asValueNotation(wide)));
    EXPECT_EQ(wideBack.do_compare(wide), 0);
    ASSERT_TRUE(parse(wideBack, "\"ok\""));
    EXPECT_EQ(static_cast<const std::wstring&>(wideBack), L"ok");
}

TEST(ValueNotation, StreamOperatorsAndCoderRule)
{
    std::istringstream in("{ x 12, flag FALSE } trailing");
    T::Inner inner;
    in >> inner;
    EXPECT_TRUE(in.good());
    EXPECT_EQ(inner.get_x().getValue(), 12u);

    std::istringstream bad("{ flag FALSE }");
    bad >> inner;
    EXPECT_TRUE(bad.fail());

    std::vector<char> text;
    ASSERT_TRUE(ASN1Test::encode(destroyMessage(), text, CoderEnv::avn));
    EXPECT_EQ(std::string(text.begin(), text.end()), asValueNotation(destroyMessage()));
    T::Message back;
    ASSERT_TRUE(ASN1Test::decode(text, back, CoderEnv::avn));
    EXPECT_EQ(back.do_compare(destroyMessage()), 0);

    // Nothing to print: the rule fails and writes nothing.
    std::vector<char> none;
    EXPECT_FALSE(ASN1Test::encode(T::Message(), none, CoderEnv::avn));
    EXPECT_TRUE(none.empty());
}

TEST(ValueNotation, RandomCorpusRoundTrip)
{
    ASN1Test::RandomValues rng(31337);
    rng.openTypes = ASN1Test::RandomValues::Open::Avoided;
    rng.maxDepth = 6;
    for (int n = 0; n < 300; ++n) {
        T::Everything value;
        rng.fill(value);
        std::string text = asValueNotation(value);
        T::Everything back;
        ASSERT_TRUE(parse(back, text)) << n << ":\n" << text;
        ASSERT_EQ(back.do_compare(value), 0) << n << ":\n" << text << "\n--\n" << asValueNotation(back);
    }
}
