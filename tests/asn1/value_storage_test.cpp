// Where values and encodings live: value objects reused from the runtime's
// free lists, presence maps in and beyond the object, and the PER encoder
// writing into a caller's buffer or vector.
#include <gtest/gtest.h>

#include "asn1/modules/LGCP.hpp"
#include "asn1/per.hpp"
#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"

using namespace ASN1;
using ASN1Test::hex;

namespace {

// seq 1234, slot 17, create rtp {...}: 25 values, strings, enumerations,
// optional fields and nested SEQUENCEs.
const char* const createRtp =
    "C00204D2001108214CF0C00D3139322E3136382E31302E32309C400C3139322E3136382E31302E319C42011401509C12345678"
    "3FB8A186";

T::Params bigParams()
{
    T::Params p;
    p.get_a() = 7u;
    p.includeOptionalField(2, 3); // presence id 2: addition e1
    p.get_e1() = true;
    p.includeOptionalField(3, 4);
    p.get_e2().assign(200, 'x'); // an open type of two-octet length
    return p;
}

} // namespace

TEST(Asn1ValueStorage, ADecodedMessageReusesTheBlocksOfTheLastOne)
{
    const std::vector<char> bytes = hex(createRtp);
    {
        LGCP::Message warm;
        ASSERT_TRUE(ASN1Test::DecodePer(bytes, warm));
    }
    const std::uint64_t before = detail::Pool::refills();
    for (int i = 0; i < 3; ++i) {
        LGCP::Message m;
        ASSERT_TRUE(ASN1Test::DecodePer(bytes, m));
        std::vector<char> again;
        ASSERT_TRUE(ASN1Test::EncodePer(m, again));
        EXPECT_EQ(again, bytes);
    }
    EXPECT_EQ(detail::Pool::refills(), before);
}

TEST(Asn1ValueStorage, PresenceMapsGrowPastTheObjectAndBack)
{
    T::Params p;
    // Presence id 2 + 99: addition 99, far past the known ones.
    p.includeOptionalField(2 + 99, 3);
    ASSERT_EQ(p.extensionMap().size(), 100u);
    EXPECT_TRUE(p.hasOptionalField(2 + 99));
    p.includeOptionalField(2 + 1, 4);
    T::Params copy(p);
    EXPECT_TRUE(copy.hasOptionalField(2 + 99));
    EXPECT_TRUE(copy.hasOptionalField(2 + 1));
    EXPECT_FALSE(copy.hasOptionalField(2 + 98));
    EXPECT_EQ(copy.do_compare(p), 0);

    BitMap& map = p.extensionMap();
    map.resize(9);
    EXPECT_TRUE(map.test(1));
    EXPECT_FALSE(map.test(8));
    map.resize(70); // out of the object again, the kept bits with it
    EXPECT_TRUE(map.test(1));
    for (std::uint32_t bit = 2; bit < 70; ++bit)
        EXPECT_FALSE(map.test(bit)) << bit;
    map.swap(copy.extensionMap());
    EXPECT_EQ(map.size(), 100u);
    EXPECT_TRUE(map.test(99));
    EXPECT_EQ(copy.extensionMap().size(), 70u);
}

TEST(Asn1ValueStorage, EncodingIntoABufferMatchesTheVectorAndKnowsItsEnd)
{
    const T::Params p = bigParams();
    std::vector<char> step;
    PEREncoder byStep(step, true);
    std::size_t stepOctets = 0;
    ASSERT_TRUE(p.accept(byStep) && byStep.finish(stepOctets));
    std::vector<char> whole;
    ASSERT_TRUE(ASN1Test::EncodePer(p, whole));
    EXPECT_EQ(step, whole);
    ASSERT_GT(whole.size(), 200u);

    std::vector<char> buffer(whole.size());
    std::size_t octets = 0;
    ASSERT_TRUE(PEREncoder::encode(p, buffer.data(), buffer.data() + buffer.size(), true, octets));
    EXPECT_EQ(octets, whole.size());
    EXPECT_EQ(buffer, whole);
    EXPECT_FALSE(PEREncoder::encode(p, buffer.data(), buffer.data() + buffer.size() - 1, true, octets));

    T::Params back;
    ASSERT_TRUE(ASN1Test::DecodePer(whole, back));
    EXPECT_EQ(back.do_compare(p), 0);
}

TEST(Asn1ValueStorage, AFailedAppendLeavesTheVectorAsItWas)
{
    T::Params p = bigParams();
    p.get_a().setValue(300); // outside 0..255
    std::vector<char> out{'k', 'e', 'e', 'p'};
    EXPECT_FALSE(PEREncoder::append(p, out, true));
    EXPECT_EQ(out, (std::vector<char>{'k', 'e', 'e', 'p'}));
    p.get_a().setValue(255);
    ASSERT_TRUE(PEREncoder::append(p, out, true));
    std::vector<char> alone;
    ASSERT_TRUE(ASN1Test::EncodePer(p, alone));
    EXPECT_EQ(std::vector<char>(out.begin() + 4, out.end()), alone);
}

TEST(Asn1ValueStorage, AnAppendLongerThanTheStackBufferIsWhole)
{
    // 3000 octets do not fit where an append codes first; coded again
    // straight into the vector, after what it held.
    OCTET_STRING big(3000, 'z');
    std::vector<char> out{'k'};
    ASSERT_TRUE(PEREncoder::append(big, out, true));
    ASSERT_EQ(out.size(), 1u + 2u + 3000u);
    EXPECT_EQ(hex(std::vector<char>(out.begin(), out.begin() + 4)), "6B 8B B8 7A"); // X.691 11.9.3.7
    EXPECT_EQ(out.back(), 'z');
    OCTET_STRING back;
    ASSERT_TRUE(ASN1Test::DecodePer(std::vector<char>(out.begin() + 1, out.end()), back));
    EXPECT_EQ(back.do_compare(big), 0);
}

TEST(Asn1ValueStorage, SlotsHeldInTheObjectChangeHandsOnSwapAndAssign)
{
    // Two fields: the slots live in the value itself.
    TERM::HostAddress a;
    a.set_iaddr("192.168.10.20");
    a.set_port(40000);
    {
        TERM::HostAddress b;
        b.set_iaddr("10.0.0.1");
        b.set_port(5004);
        a.swap(b);
        EXPECT_EQ(static_cast<const std::string&>(b.get_iaddr()), "192.168.10.20");
        EXPECT_EQ(b.get_port().getValue(), 40000u);
    } // b goes first: a must not point into it
    EXPECT_EQ(static_cast<const std::string&>(a.get_iaddr()), "10.0.0.1");
    EXPECT_EQ(a.get_port().getValue(), 5004u);

    TERM::HostAddress c;
    c = a; // a copy in slots of its own
    a.set_port(1);
    EXPECT_EQ(c.get_port().getValue(), 5004u);

    // A message with its slots inline and one with them in a block, swapped
    // both ways (a walk over a SEQUENCE built from another descriptor does it).
    SEQUENCE small(&TERM::HostAddress::theInfo);
    SEQUENCE big(&TERM::RtpParams::theInfo);
    static_cast<IA5String&>(small.fieldObject(0)) = "small";
    small.swap(big);
    ASSERT_EQ(big.fieldCount(), 2u);
    ASSERT_EQ(small.fieldCount(), 15u);
    EXPECT_EQ(static_cast<const std::string&>(static_cast<IA5String&>(big.fieldObject(0))), "small");
    big.swap(small);
    EXPECT_EQ(small.fieldCount(), 2u);
    EXPECT_EQ(static_cast<const std::string&>(static_cast<IA5String&>(small.fieldObject(0))), "small");
}

TEST(Asn1ValueStorage, AFieldOfAnotherClassThanItsSlotsIsFreedAsItIs)
{
    // The generated destructor frees fields knowing their classes; objects
    // of other classes (here from another type of two fields) are freed
    // through their own destructor, under the sanitizers and leak check.
    TERM::HostAddress host;
    SEQUENCE jitter(&TERM::RtpJitter::theInfo);
    static_cast<INTEGER&>(jitter.fieldObject(0)).setValue(20);
    host.swap(jitter);
    EXPECT_EQ(static_cast<const INTEGER&>(*host.fieldAt(0)).getValue(), 20);
}
