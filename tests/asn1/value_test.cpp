// Value model: comparison, cloning, names, content octets, presence.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <typeinfo>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"
#include "asn1/valid.hpp"

using namespace ASN1;

namespace {
int sign(int v)
{
    return (v > 0) - (v < 0);
}
int cmp(const AbstractData& a, const AbstractData& b)
{
    return sign(a.do_compare(b));
}
} // namespace

TEST(Asn1Values, CountBitsCoversTheFullRange)
{
    EXPECT_EQ(CountBits(0), 32u);
    EXPECT_EQ(CountBits(1), 0u);
    EXPECT_EQ(CountBits(2), 1u);
    EXPECT_EQ(CountBits(255), 8u);
    EXPECT_EQ(CountBits(256), 8u);
    EXPECT_EQ(CountBits(1024), 10u);
    EXPECT_EQ(CountBits(1025), 11u);
    EXPECT_EQ(CountBits(0x80000001u), 32u);
}

TEST(Asn1Values, LexicographicCompareBytesIsUnsigned)
{
    const char ab[] = "ab", abc[] = "abc", hi[] = "\x80", lo[] = "\x01";
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab + 2, abc, abc + 3), -1);
    EXPECT_EQ(lexicographic_compare_bytes(abc, abc + 3, ab, ab + 2), 1);
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab, abc, abc), 0);
    EXPECT_EQ(lexicographic_compare_bytes(hi, hi + 1, lo, lo + 1), 0x7F);
    EXPECT_EQ(lexicographic_compare_bytes(lo, lo + 1, hi, hi + 1), -0x7F);
}

TEST(Asn1Values, IntegerComparisonHasTheRightSignAtTheExtremes)
{
    INTEGER a(INT_MAX), b(INT_MIN), c(INT_MAX);
    EXPECT_EQ(cmp(a, b), 1); // the 32-bit difference would wrap negative
    EXPECT_EQ(cmp(b, a), -1);
    EXPECT_EQ(cmp(a, c), 0);
    // 0..4294967295 reads its values unsigned: 0xFFFFFFFF is the largest.
    T::U32 big, small;
    big = 0xFFFFFFFFu;
    small = 1u;
    EXPECT_EQ(cmp(big, small), 1);
    EXPECT_EQ(big.getValue(), 0xFFFFFFFFu);
    T::StandbyState e1, e2;
    e1.setValue(INT_MIN);
    e2.setValue(1);
    EXPECT_EQ(cmp(e1, e2), -1);
    EXPECT_EQ(cmp(BOOLEAN(true), BOOLEAN(false)), 1);
    EXPECT_EQ(cmp(Null(), Null()), 0);
}

TEST(Asn1Values, StringAndListComparisons)
{
    EXPECT_EQ(cmp(OCTET_STRING(std::vector<char>{'a', 'b'}), OCTET_STRING(std::vector<char>{'a', 'b', 'c'})),
              -1);
    EXPECT_EQ(cmp(OCTET_STRING(1, '\x90'), OCTET_STRING(1, '\x10')), 1);
    EXPECT_EQ(cmp(IA5String("abd"), IA5String("abc")), 1);
    EXPECT_EQ(cmp(IA5String("ab"), IA5String("abc")), -1);
    EXPECT_EQ(cmp(BMPString(L"ab"), BMPString(L"ab")), 0);
    EXPECT_EQ(cmp(BMPString(L"\x1000"), BMPString(L"\x0fff")), 1);

    BIT_STRING twelve, thirteen;
    twelve.resize(12);
    thirteen.resize(13);
    twelve.set(3);
    thirteen.set(3);
    EXPECT_EQ(cmp(twelve, thirteen), -1);
    thirteen.set(2);
    EXPECT_EQ(cmp(twelve, thirteen), -1); // bit 2 set only in the second

    OBJECT_IDENTIFIER o1{1, 2, 840}, o2{1, 2, 840, 1}, o3{1, 2, 0xFFFFFFFFu}, o4{1, 2, 1};
    EXPECT_EQ(cmp(o1, o2), -1);
    EXPECT_EQ(cmp(o3, o4), 1);

    SEQUENCE_OF<INTEGER> l1, l2;
    l1.push_back(INTEGER(1));
    l2.push_back(INTEGER(1));
    EXPECT_EQ(cmp(l1, l2), 0);
    l2.push_back(INTEGER(0));
    EXPECT_EQ(cmp(l1, l2), -1);
    l1.push_back(INTEGER(5));
    EXPECT_EQ(cmp(l1, l2), 1);

    GeneralizedTime t1("20240101120000Z"), t2("20240101120000"), t3("20240101120001Z");
    EXPECT_EQ(cmp(t1, t2), 1); // only the UTC flag differs
    EXPECT_EQ(cmp(t1, t3), -1);
    GeneralizedTime t4("20240101120000+0100"), t5("20240101120000-0500");
    EXPECT_EQ(cmp(t4, t5), 0); // the offset is not compared
}

TEST(Asn1Values, ConstructedComparisons)
{
    T::Message a, b;
    a.set_seq(1);
    EXPECT_EQ(cmp(a, b), 1); // present minus absent
    EXPECT_EQ(cmp(b, a), -1);
    b.set_seq(1);
    EXPECT_EQ(cmp(a, b), 0);
    b.get_seq().setValue(2);
    EXPECT_EQ(cmp(a, b), -1);

    T::Response none, first;
    first.select(0);
    EXPECT_EQ(cmp(none, first), -1);
    T::Response err1, err2;
    err1.selectAs<T::ErrorCause>(1).setValue(3);
    err2.selectAs<T::ErrorCause>(1).setValue(4);
    EXPECT_EQ(cmp(err1, err2), -1);
    EXPECT_EQ(cmp(err2, first), 1);

    OpenData o1, o2;
    EXPECT_EQ(cmp(o1, o2), 0);
    o1.grab_buf() = {'\x01'};
    EXPECT_EQ(cmp(o1, o2), -1);
    o2.grab_buf() = {'\x02'};
    EXPECT_EQ(cmp(o1, o2), -1);
    o2.set_data(new INTEGER(3));
    EXPECT_EQ(cmp(o2, o1), 1);
    o1.set_data(new INTEGER(3));
    EXPECT_EQ(cmp(o2, o1), 0);
}

TEST(Asn1Values, CloneIsDeepAndKeepsTheGeneratedClass)
{
    T::Message m;
    m.set_slot(7);
    T::Command& cmd = m.get_pdu().select_command();
    cmd.selectAs<OCTET_STRING>(8) = std::string_view("abc");
    std::unique_ptr<AbstractData> copy(m.do_clone());
    EXPECT_EQ(typeid(*copy), typeid(T::Message));
    auto& c = static_cast<T::Message&>(*copy);
    EXPECT_EQ(c.do_compare(m), 0);
    EXPECT_FALSE(c.has_seq());
    EXPECT_EQ(c.fieldAt(0), nullptr); // absent field stays a null slot
    EXPECT_EQ(typeid(*c.fieldAt(1)), typeid(T::Slot));
    EXPECT_EQ(typeid(c.get_pdu()), typeid(T::PDU));
    EXPECT_EQ(typeid(*c.get_pdu().alternative()), typeid(T::Command));
    // Deep: changing the copy leaves the original.
    c.get_pdu().alternativeAs<T::Command>().alternativeAs<OCTET_STRING>()[0] = 'x';
    EXPECT_NE(c.do_compare(m), 0);
    EXPECT_EQ(std::string(cmd.alternativeAs<OCTET_STRING>()), "abc");

    // A base-class object bound to a generated descriptor clones to the class.
    SEQUENCE plain(&T::Message::theInfo);
    std::unique_ptr<AbstractData> fromPlain(plain.do_clone());
    EXPECT_EQ(typeid(*fromPlain), typeid(T::Message));

    IA5String text("hi");
    std::unique_ptr<AbstractData> t(text.do_clone());
    EXPECT_EQ(typeid(*t), typeid(IA5String));

    T::SmallList list;
    list.resize(2);
    list[1] = 9u;
    std::unique_ptr<AbstractData> l(list.do_clone());
    EXPECT_EQ(typeid(*l), typeid(T::SmallList));
    EXPECT_EQ(static_cast<T::SmallList&>(*l)[1].getValue(), 9u);
    EXPECT_EQ(typeid(static_cast<T::SmallList&>(*l)[1]), typeid(T::Byte));

    // Assignment copies field by field; the target is independent after.
    T::Message assigned;
    assigned = m;
    EXPECT_EQ(assigned.do_compare(m), 0);
    EXPECT_NE(assigned.fieldAt(2), m.fieldAt(2));
}

TEST(Asn1Values, EnumeratedNamesOverTablesWithGaps)
{
    T::StandbyState s;
    s.setValue(8);
    EXPECT_EQ(s.getName(), "standby");
    s.setValue(4);
    EXPECT_EQ(s.getName(), "speak");
    s.setValue(5);
    EXPECT_EQ(s.getName(), "");
    std::string out = "keep";
    EXPECT_FALSE(s.getName(out));
    EXPECT_EQ(out, "keep");
    s.setValue(17);
    EXPECT_EQ(s.getName(), "");
    EXPECT_TRUE(s.setFromName("active"));
    EXPECT_EQ(s.getValue(), 16);
    EXPECT_FALSE(s.setFromName("nope"));
    EXPECT_EQ(s.getValue(), 17); // one past the maximum
    EXPECT_FALSE(s.isStrictlyValid());

    T::RadioStandby r;
    r.setValue(0);
    EXPECT_EQ(r.getName(), "active");
    r.setValue(1);
    EXPECT_EQ(r.getName(), "standby");
    r.setValue(-1);
    EXPECT_EQ(r.getName(), ""); // below 0 has no name
    EXPECT_TRUE(r.setFromName("not-use"));
    EXPECT_EQ(r.getValue(), -1);

    T::Level level;
    level.setValue(5);
    std::string name;
    EXPECT_TRUE(level.getName(name));
    EXPECT_EQ(name, "mid");
    level.setValue(6);
    EXPECT_FALSE(level.getName(name));
    EXPECT_TRUE(level.setFromName("high"));
    EXPECT_EQ(level.getValue(), 9);
    EXPECT_FALSE(level.setFromName("max"));
    EXPECT_EQ(level.getValue(), 9);
}

TEST(Asn1Values, ObjectIdentifierContentOctets)
{
    OBJECT_IDENTIFIER oid{1, 2, 840};
    std::vector<char> out;
    oid.encodeCommon(out);
    EXPECT_EQ(out, (std::vector<char>{'\x2A', '\x86', '\x48'}));

    OBJECT_IDENTIFIER back;
    ASSERT_TRUE(back.decodeCommon(out.data(), out.size()));
    EXPECT_EQ(back.arcs(), (std::vector<std::uint32_t>{1, 2, 840}));
    EXPECT_FALSE(back.decodeCommon(out.data(), 2)); // ends inside an arc

    OBJECT_IDENTIFIER big{2, 999, 0xFFFFFFFFu};
    out.clear();
    big.encodeCommon(out);
    EXPECT_EQ(out, (std::vector<char>{'\x88', '\x37', '\x8F', '\xFF', '\xFF', '\xFF', '\x7F'}));
    ASSERT_TRUE(back.decodeCommon(out.data(), out.size()));
    EXPECT_EQ(back.arcs(), big.arcs());

    OBJECT_IDENTIFIER one{1};
    out = {'x'};
    one.encodeCommon(out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(back.decodeCommon(nullptr, 0));
    EXPECT_TRUE(back.arcs().empty());
}

TEST(Asn1Values, GeneralizedTimeText)
{
    GeneralizedTime t("20240229235958.250Z");
    EXPECT_EQ(t.getMillisec(), 250);
    EXPECT_TRUE(t.getUTC());
    EXPECT_EQ(t.get(), "20240229235958.250Z");

    GeneralizedTime o("20240229235958+0130");
    EXPECT_EQ(o.getMinDiff(), 90);
    EXPECT_EQ(o.get(), "20240229235958+0130");
    GeneralizedTime m("20240229235958-0130");
    EXPECT_EQ(m.getMinDiff(), -90);
    EXPECT_EQ(m.get(), "20240229235958-0130");
    GeneralizedTime frac("20240229235958.5");
    EXPECT_EQ(frac.getMillisec(), 500);

    // Malformed or short text is refused and leaves the value as it was.
    GeneralizedTime keep("20200101000000.125Z");
    for (const char* bad :
         {"", "2024", "2024022923595", "20241329000000", "2024022923595xZ", "20240229235958.",
          "20240229235958Q", "20240229235958+013", "20240229235958Z0", "20240229235958+0160"}) {
        EXPECT_FALSE(keep.set(bad)) << bad;
        EXPECT_EQ(keep.get(), "20200101000000.125Z") << bad;
    }

    GeneralizedTime fresh;
    EXPECT_EQ(fresh.get(), "00010101000000");

    // 24:00:00 ends a day; no other time of hour 24 exists.
    GeneralizedTime end;
    ASSERT_TRUE(end.set("20240229240000Z"));
    EXPECT_EQ(end.getHour(), 24);
    EXPECT_EQ(end.get(), "20240229240000Z");
    for (const char* bad : {"20240229240001Z", "20240229240100Z", "20240229240000.001Z", "20240229250000Z"}) {
        EXPECT_FALSE(keep.set(bad)) << bad;
        EXPECT_EQ(keep.get(), "20200101000000.125Z") << bad;
    }
}

TEST(Asn1Values, EndOfDayTimeRoundTripsThroughEveryCoder)
{
    // The checkers take hour 24; every coder must then read back what it wrote.
    GeneralizedTime end(2024, 2, 29, 24, 0, 0, 0, 0, true);
    ASSERT_TRUE(isValid(end));
    for (int rule : {CoderEnv::per_Aligned, CoderEnv::per_Unaligned, CoderEnv::ber, CoderEnv::avn}) {
        std::vector<char> octets;
        ASSERT_TRUE(ASN1Test::encode(end, octets, rule)) << rule;
        GeneralizedTime back;
        ASSERT_TRUE(ASN1Test::decode(octets, back, rule)) << rule;
        EXPECT_EQ(back.do_compare(end), 0) << rule;
    }
}

TEST(Asn1Values, GeneralizedTimeSecondsHonourUtcAndOffset)
{
    GeneralizedTime utc("20240101120000Z");
    EXPECT_EQ(utc.get_time_t(), 1704110400);
    GeneralizedTime east("20240101133000+0130");
    EXPECT_EQ(east.get_time_t(), 1704110400);
    GeneralizedTime west("20240101070000-0500");
    EXPECT_EQ(west.get_time_t(), 1704110400);

    GeneralizedTime t("20000101000000.250Z");
    t.set_time_t(1704110400);
    EXPECT_EQ(t.get(), "20240101120000.250Z"); // millisecond and flag stay
}

TEST(Asn1Values, SequencePresenceIncludeRemoveInclude)
{
    T::Message m;
    ASSERT_NE(m.fieldAt(2), nullptr); // the mandatory pdu exists
    EXPECT_EQ(m.fieldAt(0), nullptr);
    EXPECT_EQ(m.fieldAt(1), nullptr);
    EXPECT_EQ(m.get_pdu().currentSelection(), -1);

    m.includeOptionalField(1, 1);
    EXPECT_TRUE(m.hasOptionalField(1));
    ASSERT_NE(m.fieldAt(1), nullptr);
    EXPECT_EQ(m.get_slot().getValue(), 0u);
    m.get_slot() = 44u;
    m.includeOptionalField(1, 1); // a second include keeps the object
    EXPECT_EQ(m.get_slot().getValue(), 44u);
    m.removeOptionalField(1);
    EXPECT_FALSE(m.has_slot());
    EXPECT_NE(m.fieldAt(1), nullptr); // still reachable through its slot
    m.includeOptionalField(1, 1);
    EXPECT_EQ(m.get_slot().getValue(), 44u);

    // set_<field> of an absent field makes it present.
    T::Message n;
    n.set_seq(9);
    EXPECT_TRUE(n.has_seq());
    EXPECT_EQ(n.get_seq().getValue(), 9);

    // Extension additions: ids past the optional ones grow the extension map.
    T::Params p;
    EXPECT_EQ(p.extensionMap().size(), 0u);
    p.includeOptionalField(3, 4); // addition 1 (e2)
    EXPECT_EQ(p.extensionMap().size(), 2u);
    EXPECT_TRUE(p.hasOptionalField(3));
    EXPECT_FALSE(p.hasOptionalField(2));
    EXPECT_NE(p.fieldAt(4), nullptr);
    EXPECT_EQ(p.fieldAt(3), nullptr);
    p.removeOptionalField(3);
    EXPECT_FALSE(p.hasOptionalField(3));
    EXPECT_FALSE(p.hasOptionalField(40)); // beyond both maps reads absent
}

TEST(Asn1Values, ChoiceSelections)
{
    T::Response r;
    EXPECT_EQ(r.currentSelection(), -1);
    EXPECT_EQ(r.alternative(), nullptr);
    r.setSelectionIndex(1);
    ASSERT_TRUE(r.createSelection());
    EXPECT_EQ(typeid(*r.alternative()), typeid(T::ErrorCause));

    r.setSelectionIndex(5); // beyond totalCount
    EXPECT_FALSE(r.createSelection());
    EXPECT_EQ(r.currentSelection(), -2);
    EXPECT_TRUE(r.isUnknownSelection());
    EXPECT_EQ(r.alternative(), nullptr);

    auto* value = new Null;
    EXPECT_EQ(r.setSelection(0, value), value);
    EXPECT_EQ(r.currentSelection(), 0);
    EXPECT_EQ(r.select(0), value); // already selected: kept
    EXPECT_EQ(r.select(7), nullptr);

    T::Response copy(r);
    EXPECT_EQ(copy.do_compare(r), 0);
    CHOICE e(&T::ExtChoice::theInfo, 2, new IA5String("x"));
    EXPECT_EQ(e.alternativeAs<IA5String>(), "x");
}

TEST(Asn1Values, ConstReadsOfWhatIsNotThereGiveConstantDefaults)
{
    // An optional field never included, and a field whose object exists.
    const T::Message empty;
    EXPECT_EQ(empty.fieldAs<INTEGER>(0).getValue(), 0);
    EXPECT_EQ(empty.fieldAs<T::Slot>(1).getValue(), 0u);
    EXPECT_EQ(empty.fieldAt(0), nullptr) << "a read creates nothing";
    const T::Message other;
    EXPECT_EQ(&empty.fieldAs<INTEGER>(0), &other.fieldAs<INTEGER>(0)) << "one default per type";
    T::Message set;
    set.set_seq(7);
    EXPECT_EQ(static_cast<const T::Message&>(set).fieldAs<INTEGER>(0).getValue(), 7);

    // Nothing selected, or another alternative: the asked one's default.
    const T::Response none;
    EXPECT_EQ(none.alternativeAs<T::ErrorCause>(1).getValue(), 0);
    T::Response success;
    success.select(0);
    const T::Response& chosen = success;
    EXPECT_EQ(chosen.alternativeAs<T::ErrorCause>(1).getValue(), 0);
    EXPECT_EQ(chosen.currentSelection(), 0) << "the value is left as it was";
    T::Response error;
    error.select(1);
    static_cast<T::ErrorCause&>(*error.alternative()).setValue(T::ErrorCause::invalidSlot);
    EXPECT_EQ(static_cast<const T::Response&>(error).alternativeAs<T::ErrorCause>(1).getValue(),
              T::ErrorCause::invalidSlot);
    // Without an index the type decides.
    const CHOICE e(&T::ExtChoice::theInfo, 2, new IA5String("x"));
    EXPECT_EQ(e.alternativeAs<OCTET_STRING>().size(), 0u);
    T::Response unknown;
    unknown.setSelectionIndex(7);
    ASSERT_FALSE(unknown.createSelection());
    EXPECT_EQ(static_cast<const T::Response&>(unknown).alternativeAs<T::ErrorCause>().getValue(), 0);
}

TEST(Asn1Values, SequenceOfResizeEraseInsert)
{
    SEQUENCE_OF<INTEGER> list;
    list.resize(3);
    ASSERT_EQ(list.size(), 3u);
    for (const INTEGER& v : list)
        EXPECT_EQ(v.getValue(), 0);
    list[0].setValue(10);
    list[1].setValue(11);
    list[2].setValue(12);
    auto it = list.erase(list.begin() + 1);
    EXPECT_EQ(it->getValue(), 12);
    EXPECT_EQ(list.size(), 2u);
    list.insert(1, 2, INTEGER(5));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1].getValue(), 5);
    EXPECT_EQ(list[2].getValue(), 5);
    EXPECT_EQ(list[3].getValue(), 12);
    list.erase(0, 2);
    EXPECT_EQ(list.size(), 2u);
    list.resize(1);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].getValue(), 5);
    list.clear();
    EXPECT_TRUE(list.empty());

    SEQUENCE_OF<IA5String> names;
    names.push_back(IA5String("a"));
    names.push_back(IA5String("b"));
    std::string joined;
    for (SEQUENCE_OF<IA5String>::const_iterator i = names.begin(); i != names.end(); ++i)
        joined += *i;
    EXPECT_EQ(joined, "ab");
    EXPECT_EQ(typeid(names[0]), typeid(IA5String));
}

TEST(Asn1Values, TypeConstrainedOpenDataCreatesItsValue)
{
    T::InnerHolder holder;
    ASSERT_TRUE(holder.has_data());
    EXPECT_EQ(typeid(*holder.get_data()), typeid(T::Inner));
    std::unique_ptr<AbstractData> c(holder.do_clone());
    EXPECT_EQ(typeid(*c), typeid(T::InnerHolder));
    EXPECT_EQ(c->do_compare(holder), 0);
}
