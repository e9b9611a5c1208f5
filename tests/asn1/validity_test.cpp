// Validity against the descriptors (lax and strict), the trace that names
// the path to the fault, and the primitive/constructed test.

#include <gtest/gtest.h>

#include <sstream>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"
#include "asn1/valid.hpp"

using namespace ASN1;

namespace {

std::string trace(const AbstractData& value)
{
    std::ostringstream out;
    bool valid = trace_invalid(out, "msg", value);
    EXPECT_EQ(valid, out.str().empty());
    return out.str();
}

} // namespace

TEST(Validity, IntegerBounds)
{
    T::Slot slot;
    slot = 1023u;
    EXPECT_TRUE(isValid(slot));
    slot = 1024u;
    EXPECT_FALSE(isValid(slot));
    EXPECT_FALSE(isStrictlyValid(slot));
    EXPECT_EQ(trace(slot), "msg The INTEGER value 1024 is greater than upper bound 1023\n");

    // Extensible range: values outside the root are legal extensions.
    T::Ext10 ext;
    ext.setValue(11);
    EXPECT_TRUE(isValid(ext));
    EXPECT_FALSE(isStrictlyValid(ext));
    EXPECT_EQ(trace(ext), "");

    // Below the root of an extensible range is an extension value too: the
    // encoder takes it, so the lax check does; the strict one does not.
    Constrained_INTEGER<ExtensibleRange, 5, 10> ext5;
    ext5.setValue(3);
    EXPECT_TRUE(isValid(ext5));
    EXPECT_FALSE(isStrictlyValid(ext5));
    EXPECT_EQ(trace(ext5), "");
    std::vector<char> octets;
    EXPECT_TRUE(ASN1Test::encode(ext5, octets, CoderEnv::per_Aligned));
    EXPECT_EQ(ASN1Test::hex(octets), "80 01 03");
    Constrained_INTEGER<ExtensibleRange, -10, 10> signedExt;
    signedExt.setValue(-11);
    EXPECT_TRUE(isValid(signedExt));
    EXPECT_FALSE(isStrictlyValid(signedExt));

    // No constraint: no bounds at all.
    INTEGER plain(-5);
    EXPECT_TRUE(isValid(plain));
    EXPECT_TRUE(isStrictlyValid(plain));

    // Semi-constrained: a lower bound and no upper bound.
    T::From5 from5;
    from5.setValue(-1); // 4294967295 in this type's reading
    EXPECT_TRUE(isStrictlyValid(from5));
    from5.setValue(4);
    EXPECT_FALSE(isValid(from5));
    EXPECT_EQ(trace(from5), "msg The INTEGER value 4 is smaller than lower bound 5\n");

    // The full unsigned range keeps its top half.
    T::U32 u;
    u = 0xFFFFFFFFu;
    EXPECT_TRUE(isStrictlyValid(u));

    // A negative lower bound makes the comparison signed.
    T::Signed8 s;
    s.setValue(-128);
    EXPECT_TRUE(isStrictlyValid(s));
    s.setValue(-129);
    EXPECT_EQ(trace(s), "msg The INTEGER value -129 is smaller than lower bound -128\n");
    s.setValue(128);
    EXPECT_EQ(trace(s), "msg The INTEGER value 128 is greater than upper bound 127\n");
}

TEST(Validity, Enumerations)
{
    T::Colour colour; // extensible, maximum 2
    colour.setValue(5);
    EXPECT_TRUE(isValid(colour));
    EXPECT_FALSE(isStrictlyValid(colour));

    T::ErrorCause cause; // not extensible, maximum 12
    cause.setValue(12);
    EXPECT_TRUE(isStrictlyValid(cause));
    cause.setValue(13);
    EXPECT_FALSE(isValid(cause));
    EXPECT_EQ(trace(cause), "msg This ENUMERATED has invalid value 13\n");
}

TEST(Validity, SizesAndAlphabets)
{
    T::Quad quad; // OCTET STRING (SIZE (4))
    quad.assign(3, 'x');
    EXPECT_EQ(trace(quad), "msg This OCTET STRING has size 3 smaller than its lower bound 4\n");
    quad.assign(5, 'x');
    EXPECT_EQ(trace(quad), "msg This OCTET STRING has size 5 greater than its upper bound 4\n");
    quad.assign(4, 'x');
    EXPECT_TRUE(isStrictlyValid(quad));

    T::Flags flags; // BIT STRING (SIZE (0..20, ...))
    flags.resize(21);
    EXPECT_TRUE(isValid(flags));
    EXPECT_FALSE(isStrictlyValid(flags));

    T::Name name; // IA5String (SIZE (1..64))
    EXPECT_EQ(trace(name), "msg This AbstractString has size 0 smaller than its lower bound 1\n");
    T::Digits2 digits;
    digits.assign("1a");
    EXPECT_EQ(trace(digits), "msg The character 'a' is not valid for the string\n");
    digits.assign("1 ");
    EXPECT_TRUE(isStrictlyValid(digits));

    T::Wide wide; // BMPString (SIZE (0..8))
    wide.assign(9, L'a');
    EXPECT_EQ(trace(wide), "msg This BMPString has size 9 greater than its upper bound 8\n");

    T::SmallList list; // SEQUENCE (SIZE (0..3)) OF INTEGER (0..255)
    list.resize(4);
    EXPECT_EQ(trace(list), "msg This SEQUENCE OF has size 4 greater than its upper bound 3\n");
}

TEST(Validity, OtherKinds)
{
    EXPECT_EQ(trace(OBJECT_IDENTIFIER()), "msg This OBJECT IDENTIFIER is not assigned\n");
    EXPECT_TRUE(isValid(OBJECT_IDENTIFIER({1, 2})));
    EXPECT_EQ(trace(OpenData()), "msg This Open Type does not contain any valid data\n");

    GeneralizedTime midnight(2024, 1, 2, 24, 0, 0);
    EXPECT_TRUE(isValid(midnight));
    GeneralizedTime bad(2024, 13, 2, 3, 0, 0);
    EXPECT_FALSE(isStrictlyValid(bad));
    EXPECT_EQ(trace(bad), "msg This GeneralizedTime is not valid\n");

    T::ExtChoice choice; // a, b, ..., c
    choice.select(2);
    EXPECT_TRUE(isValid(choice));
    EXPECT_FALSE(isStrictlyValid(choice));
}

TEST(Validity, TracePaths)
{
    T::Message m;
    m.set_slot(2000);
    m.get_pdu().select_command().select(5);
    EXPECT_FALSE(isValid(m));
    EXPECT_EQ(trace(m), "msg.slot The INTEGER value 2000 is greater than upper bound 1023\n");

    m.set_slot(3);
    EXPECT_EQ(trace(m), "");
    static_cast<INTEGER*>(m.get_pdu().select_command().select(2))->setValue(1500);
    EXPECT_EQ(trace(m), "msg.pdu.command.connect The INTEGER value 1500 is greater than upper bound 1023\n");

    T::Message unselected;
    EXPECT_EQ(trace(unselected), "msg.pdu This CHOICE is not selected\n");

    T::SmallList list;
    list.resize(3);
    list[2] = 300u;
    EXPECT_EQ(trace(list), "msg[2] The INTEGER value 300 is greater than upper bound 255\n");
}

TEST(Validity, RandomValuesAreValid)
{
    ASN1Test::RandomValues rng(99);
    rng.openTypes = ASN1Test::RandomValues::Open::Filled;
    rng.maxDepth = 6;
    for (int n = 0; n < 200; ++n) {
        T::Everything value;
        rng.fill(value);
        ASSERT_EQ(trace(value), "") << n;
    }
}

TEST(Validity, PrimitiveOrConstructed)
{
    EXPECT_TRUE(isPrimitive(INTEGER(1)));
    EXPECT_TRUE(isPrimitive(IA5String("x")));
    EXPECT_FALSE(isPrimitive(T::Inner()));
    EXPECT_FALSE(isPrimitive(T::SmallList()));
    T::ExtChoiceV2 choice;
    choice.select(0);
    EXPECT_TRUE(isPrimitive(choice));
    choice.select(3); // an Inner SEQUENCE
    EXPECT_FALSE(isPrimitive(choice));
}
