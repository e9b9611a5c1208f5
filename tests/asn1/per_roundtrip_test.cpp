// Seeded random values of every kind: encode, decode, compare, re-encode, in
// both variants; every truncated encoding is refused without reading past
// its end.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <random>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"

using namespace ASN1;

namespace {

class Gen {
public:
    explicit Gen(unsigned seed) : rng_(seed) {}

    std::uint32_t u32() { return static_cast<std::uint32_t>(rng_()); }
    int range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return range(0, 99) < percent; }
    int anyInt()
    {
        switch (range(0, 4)) {
        case 0:
            return range(-2, 2);
        case 1:
            return range(-300, 300);
        case 2:
            return INT_MIN + range(0, 1);
        case 3:
            return INT_MAX - range(0, 1);
        default:
            return static_cast<int>(u32());
        }
    }
    std::string text(const char* set, std::size_t setSize, std::size_t lo, std::size_t hi)
    {
        std::string s(static_cast<std::size_t>(range(static_cast<int>(lo), static_cast<int>(hi))), ' ');
        for (char& c : s)
            c = set[range(0, static_cast<int>(setSize) - 1)];
        return s;
    }

    void fill(T::Inner& v)
    {
        v.get_x() = static_cast<unsigned>(range(0, 255));
        if (chance(50))
            static_cast<BOOLEAN&>(v.fieldForWrite(1)).setValue(chance(50));
    }

    void fill(T::Params& v)
    {
        v.get_a() = static_cast<unsigned>(range(0, 255));
        if (chance(50))
            v.fieldForWrite<BOOLEAN>(1).setValue(chance(50));
        if (chance(50))
            v.set_c(text(IA5StringSet, 128, 0, 10));
        if (chance(40))
            v.fieldForWrite<BOOLEAN>(3).setValue(chance(50));
        if (chance(40))
            v.fieldForWrite<OCTET_STRING>(4) = text(GeneralStringSet, 256, 0, 5);
        if (chance(40))
            fill(v.fieldForWrite<T::Inner>(5));
    }

    void fill(T::Command& v)
    {
        const int alt = range(0, 14);
        AbstractData* a = v.select(alt);
        if (alt == 2)
            static_cast<T::Slot&>(*a) = static_cast<unsigned>(range(0, 1023));
        if (alt == 8)
            static_cast<OCTET_STRING&>(*a) = text(GeneralStringSet, 256, 0, 4);
    }

    void fill(T::Message& v)
    {
        if (chance(50))
            v.set_seq(anyInt());
        if (chance(50))
            v.set_slot(static_cast<unsigned>(range(0, 1023)));
        const int alt = range(0, 2);
        AbstractData* a = v.get_pdu().select(alt);
        if (alt == 0)
            fill(static_cast<T::Command&>(*a));
        if (alt == 1) {
            auto& r = static_cast<T::Response&>(*a);
            if (chance(50))
                r.select(0);
            else
                r.selectAs<T::ErrorCause>(1).setValue(range(0, 12));
        }
        if (alt == 2)
            static_cast<AbstractString&>(*a) = text(IA5StringSet, 128, 0, 6);
    }

    void fill(T::Everything& v)
    {
        using E = T::Everything;
        v.fieldAs<BOOLEAN>(E::boolean).setValue(chance(50));
        v.fieldAs<INTEGER>(E::integer).setValue(anyInt());
        auto put = [&](unsigned field) -> AbstractData* {
            return chance(60) ? &v.fieldForWrite(field) : nullptr;
        };
        if (auto* f = put(E::signed8))
            static_cast<INTEGER&>(*f).setValue(range(-128, 127));
        if (auto* f = put(E::u32))
            static_cast<INTEGER&>(*f).setValue(static_cast<int>(u32() >> range(0, 31)));
        if (auto* f = put(E::slot))
            static_cast<INTEGER&>(*f).setValue(range(0, 1023));
        if (auto* f = put(E::ext10))
            static_cast<INTEGER&>(*f).setValue(chance(50) ? range(0, 10) : anyInt());
        if (auto* f = put(E::from5))
            static_cast<INTEGER&>(*f).setValue(range(5, INT_MAX));
        if (auto* f = put(E::level))
            static_cast<INTEGER&>(*f).setValue(range(0, 15));
        if (auto* f = put(E::errorCause))
            static_cast<ENUMERATED&>(*f).setValue(range(0, 12));
        if (auto* f = put(E::standby))
            static_cast<ENUMERATED&>(*f).setValue(range(0, 16));
        if (auto* f = put(E::colour))
            static_cast<ENUMERATED&>(*f).setValue(chance(50) ? range(0, 2) : range(3, 100000));
        if (auto* f = put(E::oid)) {
            auto& arcs = static_cast<OBJECT_IDENTIFIER&>(*f).arcs();
            arcs.clear();
            const int first = range(0, 2);
            arcs.push_back(static_cast<std::uint32_t>(first));
            arcs.push_back(first < 2 ? static_cast<std::uint32_t>(range(0, 39)) : u32() % 1000);
            for (int n = range(0, 12); n > 0; --n)
                arcs.push_back(u32() >> range(0, 31));
        }
        auto bits = [&](BIT_STRING& b, int lo, int hi) {
            b.resize(0);
            b.resize(static_cast<std::uint32_t>(range(lo, hi)));
            for (std::uint32_t i = 0; i < b.size(); ++i)
                b.set(i, chance(50));
        };
        if (auto* f = put(E::flags))
            bits(static_cast<BIT_STRING&>(*f), 0, chance(80) ? 20 : 40);
        if (auto* f = put(E::bits))
            bits(static_cast<BIT_STRING&>(*f), 0, 70);
        if (auto* f = put(E::octets))
            static_cast<OCTET_STRING&>(*f) = text(GeneralStringSet, 256, 0, chance(90) ? 6 : 300);
        if (auto* f = put(E::quad))
            static_cast<OCTET_STRING&>(*f) = text(GeneralStringSet, 256, 4, 4);
        if (auto* f = put(E::numeric))
            static_cast<AbstractString&>(*f) = text(NumericStringSet, 11, 0, 20);
        if (auto* f = put(E::printable))
            static_cast<AbstractString&>(*f) = text(PrintableStringSet, 74, 0, 20);
        if (auto* f = put(E::visible))
            static_cast<AbstractString&>(*f) = text(VisibleStringSet, 95, 0, 20);
        if (auto* f = put(E::general))
            static_cast<AbstractString&>(*f) = text(GeneralStringSet, 256, 0, 20);
        if (auto* f = put(E::name))
            static_cast<AbstractString&>(*f) = text(IA5StringSet, 128, 1, 64);
        if (auto* f = put(E::ia5))
            static_cast<AbstractString&>(*f) = text(IA5StringSet, 128, 0, 200);
        if (auto* f = put(E::wide)) {
            auto& w = static_cast<BMPString&>(*f);
            w.assign(static_cast<std::size_t>(range(0, 8)), L' ');
            for (auto& c : w)
                c = static_cast<wchar_t>(range(0, 0xFFFF));
        }
        if (auto* f = put(E::time)) {
            GeneralizedTime t(range(1, 9999), range(1, 12), range(1, 28), range(0, 23), range(0, 59),
                              range(0, 59), range(0, 999), chance(50) ? range(-720, 720) : 0, chance(50));
            static_cast<GeneralizedTime&>(*f) = t;
        }
        if (auto* f = put(E::response)) {
            auto& r = static_cast<T::Response&>(*f);
            if (chance(50))
                r.select(0);
            else
                r.selectAs<T::ErrorCause>(1).setValue(range(0, 12));
        }
        if (auto* f = put(E::command))
            fill(static_cast<T::Command&>(*f));
        if (auto* f = put(E::extChoice)) {
            auto& c = static_cast<T::ExtChoice&>(*f);
            const int alt = range(0, 2);
            AbstractData* a = c.select(alt);
            if (alt == 0)
                static_cast<INTEGER&>(*a).setValue(anyInt());
            if (alt == 1)
                static_cast<BOOLEAN&>(*a).setValue(chance(50));
            if (alt == 2)
                static_cast<AbstractString&>(*a) = text(IA5StringSet, 128, 0, 8);
        }
        if (auto* f = put(E::ints)) {
            auto& l = static_cast<SEQUENCE_OF<INTEGER>&>(*f);
            l.resize(static_cast<std::size_t>(range(0, 6)));
            for (auto& i : l)
                i.setValue(anyInt());
        }
        if (auto* f = put(E::small)) {
            auto& l = static_cast<T::SmallList&>(*f);
            l.resize(static_cast<std::size_t>(range(0, 3)));
            for (auto& i : l)
                i = static_cast<unsigned>(range(0, 255));
        }
        if (auto* f = put(E::holder))
            fill(*static_cast<T::Inner*>(static_cast<OpenData&>(*f).get_data()));
        if (auto* f = put(E::params))
            fill(static_cast<T::Params&>(*f));
        if (auto* f = put(E::message))
            fill(static_cast<T::Message&>(*f));
    }

private:
    std::mt19937 rng_;
};

// The prefix in a heap block of exactly its size, so that AddressSanitizer
// sees any read past it.
bool decodePrefix(const std::vector<char>& bytes, std::size_t length, AbstractData& value, int rule)
{
    std::unique_ptr<char[]> exact(new char[length > 0 ? length : 1]);
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length), exact.get());
    CoderEnv env(rule);
    return decode(exact.get(), exact.get() + length, &env, value, true);
}

} // namespace

class Asn1PerRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(Asn1PerRoundTrip, RandomValuesOfEveryKind)
{
    const int rule = GetParam();
    Gen gen(20250710u + static_cast<unsigned>(rule));
    T::Everything reused;
    for (int round = 0; round < 300; ++round) {
        T::Everything value;
        gen.fill(value);
        std::vector<char> bytes;
        ASSERT_TRUE(ASN1Test::encode(value, bytes, rule)) << round;

        T::Everything fresh;
        ASSERT_TRUE(decodePrefix(bytes, bytes.size(), fresh, rule)) << round << ": " << ASN1Test::hex(bytes);
        EXPECT_EQ(fresh.do_compare(value), 0) << round << ": " << ASN1Test::hex(bytes);
        std::vector<char> again;
        ASSERT_TRUE(ASN1Test::encode(fresh, again, rule));
        EXPECT_EQ(ASN1Test::hex(again), ASN1Test::hex(bytes)) << round;

        // Decoding over an object that holds an earlier value gives the same.
        ASSERT_TRUE(decodePrefix(bytes, bytes.size(), reused, rule)) << round;
        EXPECT_EQ(reused.do_compare(value), 0) << round;

        std::unique_ptr<AbstractData> clone(value.do_clone());
        EXPECT_EQ(clone->do_compare(value), 0);
    }
}

TEST_P(Asn1PerRoundTrip, TruncatedEncodingsFailCleanly)
{
    const int rule = GetParam();
    Gen gen(77u + static_cast<unsigned>(rule));
    for (int round = 0; round < 40; ++round) {
        T::Everything value;
        gen.fill(value);
        std::vector<char> bytes;
        ASSERT_TRUE(ASN1Test::encode(value, bytes, rule));
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            T::Everything target;
            EXPECT_FALSE(decodePrefix(bytes, length, target, rule))
                << round << " at " << length << " of " << ASN1Test::hex(bytes);
        }
        // Cut inside the last octet: the bits after the cut read as zero.
        // The result may be a different valid value, but the decoder must
        // stay inside the input.
        for (unsigned keep = 0; keep < 8 && !bytes.empty(); ++keep) {
            std::vector<char> cut = bytes;
            cut.back() = static_cast<char>(cut.back() & (0xFF00 >> keep));
            T::Everything target;
            decodePrefix(cut, cut.size(), target, rule);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, Asn1PerRoundTrip, ::testing::Values(2, 3),
                         [](const auto& info) { return info.param == 2 ? "Aligned" : "Unaligned"; });

TEST(Asn1PerUnaligned, PinnedBits)
{
    // Bit-fields are not aligned; unbounded lengths still are.
    T::Message m;
    m.set_slot(5);
    m.get_pdu().select(1);
    m.get_pdu().alternativeAs<T::Response>().select(0);
    EXPECT_EQ(ASN1Test::encodeHex(m, 3), "40 54"); // 01, 0000000101, 01, 0
    AbstractString digits(&NumericString::theInfo, "12");
    EXPECT_EQ(ASN1Test::encodeHex(digits, 3), "02 23");
    T::Name name;
    name = "hi";
    EXPECT_EQ(ASN1Test::encodeHex(name, 3), "07 46 90"); // 6-bit length, 7-bit chars
    IA5String high("\xC8");
    EXPECT_EQ(ASN1Test::encodeHex(high, 3), "fail"); // not a 7-bit character
}
