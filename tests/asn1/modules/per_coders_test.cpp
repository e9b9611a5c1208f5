// The PER coders generated with every SEQUENCE and CHOICE class: that they
// are the ones the coders run, that a value reused for a second message holds
// only the second, and that damaged input fails cleanly in them.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/registry.hpp"
#include "asn1/per.hpp"
#include "asn1/support/coding.hpp"

namespace {

bool Constructed(const ASN1::TypeInfo* info)
{
    // Named types are SEQUENCE, CHOICE (tag 0) or ENUMERATED.
    return info->tag == ASN1::tag::SEQUENCE || info->tag == 0;
}

// Calls `check(entry, value, octets)` with a seeded random value of every
// reachable SEQUENCE and CHOICE type and its encoding.
template <class Check>
void ForEachEncoding(std::uint64_t seed, Check check)
{
    ASN1Test::RandomValues rnd(seed);
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        if (!e.reachable || !Constructed(e.info))
            continue;
        std::unique_ptr<ASN1::AbstractData> value = rnd.make(e.info);
        std::vector<char> whole;
        ASSERT_TRUE(ASN1Test::EncodePer(*value, whole)) << e.module << "." << e.name;
        check(e, *value, whole);
    }
}

TEST(ModulePerCoders, EveryConstructedTypeHasItsOwn)
{
    int withCoders = 0;
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        if (Constructed(e.info)) {
            ASSERT_NE(e.info->per, nullptr) << e.module << "." << e.name;
            ++withCoders;
        } else {
            EXPECT_EQ(e.info->per, nullptr) << e.module << "." << e.name;
        }
    }
    EXPECT_GT(withCoders, 250);
    // Fields of builtin types keep the descriptor's coders.
    EXPECT_EQ(LGCP::Message::theInfo.fieldInfos[1]->per, nullptr);
}

// A message decoded into the value of the one before must read exactly as
// when decoded into a fresh value: presence maps, selections and additions
// of the first do not survive.
TEST(ModulePerCoders, DecodingIntoAUsedValueKeepsNothingOfTheLastMessage)
{
    ASN1Test::RandomValues rnd(20261207);
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        if (!e.reachable || !Constructed(e.info))
            continue;
        std::unique_ptr<ASN1::AbstractData> reused(e.info->create(e.info));
        for (int k = 0; k < 6; ++k) {
            std::unique_ptr<ASN1::AbstractData> value = rnd.make(e.info);
            std::vector<char> first, again;
            ASSERT_TRUE(ASN1Test::EncodePer(*value, first)) << e.module << "." << e.name;
            ASSERT_TRUE(ASN1Test::DecodePer(first, *reused))
                << e.module << "." << e.name << " " << ASN1Test::ToHex(first);
            EXPECT_EQ(reused->do_compare(*value), 0)
                << e.module << "." << e.name << " " << ASN1Test::ToHex(first);
            ASSERT_TRUE(ASN1Test::EncodePer(*reused, again));
            EXPECT_EQ(ASN1Test::ToHex(again), ASN1Test::ToHex(first)) << e.module << "." << e.name;
        }
    }
}

// Every cut of a valid encoding, and every single bit flipped in its first
// octets, decodes or fails without reading past the input (the sanitizers
// watch) and without leaking what was decoded before the failure.
TEST(ModulePerCoders, DamagedInputFailsCleanly)
{
    int refused = 0;
    ForEachEncoding(
        7, [&](const ASN1Modules::TypeEntry& e, const ASN1::AbstractData&, const std::vector<char>& whole) {
            for (std::size_t cut = 0; cut < whole.size(); ++cut) {
                // Copied to an exact buffer: a read past the cut is a read past
                // the allocation.
                const std::vector<char> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
                std::unique_ptr<ASN1::AbstractData> out(e.info->create(e.info));
                refused += ASN1Test::DecodePer(part, *out) ? 0 : 1;
            }
            for (std::size_t bit = 0; bit < std::min<std::size_t>(whole.size(), 6) * 8; ++bit) {
                std::vector<char> flipped = whole;
                flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (0x80 >> (bit % 8)));
                std::unique_ptr<ASN1::AbstractData> out(e.info->create(e.info));
                if (ASN1Test::DecodePer(flipped, *out)) {
                    std::vector<char> again;
                    ASN1Test::EncodePer(*out, again);
                }
            }
        });
    EXPECT_GT(refused, 1000);
}

// The generated coders into a caller's buffer of every size up to the
// message's: they fail, writing nothing past the buffer (the sanitizers
// watch), until it is large enough, and then write the octets a vector gets.
TEST(ModulePerCoders, EncodingIntoATooSmallBufferFailsAtEverySize)
{
    ForEachEncoding(20261208, [](const ASN1Modules::TypeEntry& e, const ASN1::AbstractData& value,
                                 const std::vector<char>& whole) {
        for (std::size_t size = 0; size <= whole.size(); ++size) {
            std::vector<char> buffer(size);
            std::size_t octets = 0;
            const bool fits =
                ASN1::PEREncoder::encode(value, buffer.data(), buffer.data() + size, true, octets);
            ASSERT_EQ(fits, size == whole.size()) << e.module << "." << e.name << " into " << size;
            if (fits) {
                EXPECT_EQ(buffer, whole) << e.module << "." << e.name;
            }
        }
    });
}

} // namespace
