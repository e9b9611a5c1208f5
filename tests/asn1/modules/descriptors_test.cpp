// The generated descriptors: spot checks against the protocol tables, the
// shape of every record (arrays, presence ids, hooks), and a seeded random
// round trip of every reachable type through our own coder.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "asn1/modules/DIZORU.hpp"
#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/MON.hpp"
#include "asn1/modules/TERM.hpp"
#include "asn1/modules/registry.hpp"
#include "asn1/support/coding.hpp"

namespace {

TEST(ModuleDescriptors, SpotChecks)
{
    const ASN1::SequenceTypeInfo& message = LGCP::Message::theInfo;
    ASSERT_EQ(message.rootFieldCount, 3u);
    EXPECT_EQ(message.fieldIds[0], 0);
    EXPECT_EQ(message.fieldIds[1], 1);
    EXPECT_EQ(message.fieldIds[2], -1);
    EXPECT_EQ(message.optionalCount, 2u);
    EXPECT_FALSE(message.extensible);
    EXPECT_EQ(message.fieldInfos[2], &LGCP::PDU::theInfo);
    EXPECT_STREQ(message.fieldNames[1], "slot");
    const auto* slot = static_cast<const ASN1::ConstrainedTypeInfo*>(message.fieldInfos[1]);
    EXPECT_EQ(slot->kind, ASN1::RangeConstraint);
    EXPECT_EQ(slot->lowerLimit, 0);
    EXPECT_EQ(slot->upperLimit, 1023u);

    EXPECT_EQ(LGCP::Command::theInfo.rootCount, 15u);
    EXPECT_EQ(LGCP::Command::theInfo.totalCount, 15u);
    EXPECT_TRUE(LGCP::Command::theInfo.extensible);
    EXPECT_STREQ(LGCP::Command::theInfo.selectionNames[static_cast<int>(LGCP::Command::Alt::protoVeze)],
                 "protoVeze");
    EXPECT_EQ(LGCP::Signal::theInfo.rootCount, 23u);
    EXPECT_TRUE(LGCP::Signal::theInfo.extensible);
    EXPECT_EQ(LGCP::TonecCode::theInfo.rootCount, 6u);
    EXPECT_EQ(LGCP::TonecCode::theInfo.totalCount, 7u);

    EXPECT_EQ(LGCP::ErrorCause::theInfo.maxEnumValue, 12);
    EXPECT_TRUE(LGCP::ErrorCause::theInfo.extensible);
    EXPECT_EQ(LGCP::ErrorCause::theInfo.nameCount, 13u);

    const ASN1::EnumeratedTypeInfo& msgId = DIZORU::ProtoVezeMsgID::theInfo;
    EXPECT_EQ(msgId.maxEnumValue, 13056);
    EXPECT_TRUE(msgId.extensible);
    EXPECT_STREQ(msgId.names[0], "gw-get-id=4097");
    EXPECT_EQ(static_cast<int>(DIZORU::ProtoVezeMsgID::gw_get_id), 4097);

    const ASN1::StringTypeInfo& dname = TERM::RtpParams::dname::value_type::theInfo;
    EXPECT_EQ(dname.kind, ASN1::RangeConstraint);
    EXPECT_EQ(dname.lowerLimit, 1);
    EXPECT_EQ(dname.upperLimit, 64u);
    EXPECT_EQ(dname.charSetSize, 128u);
    EXPECT_EQ(dname.tag, ASN1::tag::IA5String);
    EXPECT_EQ(TERM::RtpParams::theInfo.fieldInfos[3], &dname);

    // Alternative constants are the descriptor's indexes, names included.
    EXPECT_STREQ(
        LGCP::CreateParams::theInfo.selectionNames[static_cast<int>(LGCP::CreateParams::Alt::spi_tdm)],
        "spi-tdm");
}

TEST(ModuleDescriptors, TypesPerModule)
{
    std::map<std::string, int> all, reachable;
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        ++all[e.module];
        if (e.reachable)
            ++reachable[e.module];
    }
    const std::map<std::string, int> expected = {{"ACP", 10},   {"BASE", 1}, {"DIZORU", 152}, {"HSP", 1},
                                                 {"LGCP", 106}, {"MON", 19}, {"TERM", 71}};
    EXPECT_EQ(all, expected);
    int total = 0;
    for (const auto& [module, n] : reachable)
        total += n;
    // Every named type is reachable; with RtpParams' sized dname that makes
    // 361 descriptors reachable from the roots.
    EXPECT_EQ(total, 360);
    ASSERT_NE(ASN1Modules::findType("LGCP.Message"), nullptr);
    EXPECT_EQ(ASN1Modules::findType("LGCP.Message")->info, &LGCP::Message::theInfo);
    EXPECT_EQ(ASN1Modules::findType("MON.Message")->info, &MON::Message::theInfo);
    EXPECT_EQ(ASN1Modules::findType("LGCP.Messag"), nullptr);
    EXPECT_EQ(ASN1Modules::findType("LGCP"), nullptr);
}

// A created value is of the record's own class and bound to the record, and
// so is its clone; every table entry of the record holds.
void CheckRecord(const char* what, const ASN1::TypeInfo* info)
{
    SCOPED_TRACE(what);
    ASSERT_NE(info, nullptr);
    std::unique_ptr<ASN1::AbstractData> value(info->create(info));
    ASSERT_EQ(value->info(), info);
    std::unique_ptr<ASN1::AbstractData> copy(value->do_clone());
    EXPECT_EQ(typeid(*copy), typeid(*value));
    EXPECT_EQ(copy->info(), info);

    if (info->tag == ASN1::tag::SEQUENCE && dynamic_cast<ASN1::SEQUENCE*>(value.get()) != nullptr) {
        const auto* seq = static_cast<const ASN1::SequenceTypeInfo*>(info);
        int nextId = 0;
        for (std::uint32_t i = 0; i < seq->rootFieldCount + seq->knownExtensionCount; ++i) {
            ASSERT_NE(seq->fieldInfos[i], nullptr) << i;
            ASSERT_NE(seq->fieldNames[i], nullptr) << i;
            if (i < seq->rootFieldCount && seq->fieldIds[i] != -1) {
                EXPECT_EQ(seq->fieldIds[i], nextId++) << i;
            }
            auto& s = static_cast<ASN1::SEQUENCE&>(*value);
            EXPECT_EQ(s.fieldObject(i).info(), seq->fieldInfos[i]) << seq->fieldNames[i];
        }
        EXPECT_EQ(static_cast<std::uint32_t>(nextId), seq->optionalCount);
    } else if (info->tag == 0 && dynamic_cast<ASN1::CHOICE*>(value.get()) != nullptr) {
        const auto* choice = static_cast<const ASN1::ChoiceTypeInfo*>(info);
        EXPECT_LE(choice->rootCount, choice->totalCount);
        EXPECT_TRUE(choice->extensible || choice->rootCount == choice->totalCount);
        auto& c = static_cast<ASN1::CHOICE&>(*value);
        for (std::uint32_t i = 0; i < choice->totalCount; ++i) {
            ASSERT_NE(choice->selectionNames[i], nullptr);
            ASSERT_NE(c.select(static_cast<int>(i)), nullptr) << choice->selectionNames[i];
            EXPECT_EQ(c.alternative()->info(), choice->selectionInfos[i]) << choice->selectionNames[i];
        }
    } else if (info->tag == ASN1::tag::ENUMERATED) {
        const auto* e = static_cast<const ASN1::EnumeratedTypeInfo*>(info);
        EXPECT_GE(e->maxEnumValue, 0);
        EXPECT_GT(e->nameCount, 0u);
    } else {
        ADD_FAILURE() << "a named type of unexpected kind, tag " << info->tag;
    }
}

TEST(ModuleDescriptors, EveryRecordIsWellFormed)
{
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        CheckRecord((std::string(e.module) + "." + e.name).c_str(), e.info);
    }
}

TEST(ModuleDescriptors, AccessorsMapToTheirFields)
{
    TERM::RtpParams p;
    EXPECT_FALSE(p.has_dname());
    p.set_dname("gw1");
    EXPECT_TRUE(p.has_dname());
    EXPECT_EQ(p.get_dname(), "gw1");
    EXPECT_EQ(p.get_dname().info(), &TERM::RtpParams::dname::value_type::theInfo);
    p.set_ssrc(4294967295u);
    EXPECT_EQ(p.get_ssrc().getValue(), 4294967295u);
    p.remove_dname();
    EXPECT_FALSE(p.has_dname());
    EXPECT_TRUE(p.has_ssrc());
    p.set_payload(TERM::Payload::ptG729);
    EXPECT_EQ(p.get_payload().getValue(), 3);

    TERM::RtpParams copy(p);
    EXPECT_EQ(copy.do_compare(p), 0);
    copy.get_dhost().set_port(5004);
    EXPECT_NE(copy.do_compare(p), 0);
    copy = p;
    EXPECT_EQ(copy.do_compare(p), 0);
}

// Our coder against itself over every reachable type: encode, decode into a
// fresh value, compare, and encode again to the same octets.
TEST(ModuleRoundTrip, EveryReachableTypeSeeded)
{
    ASN1Test::RandomValues rnd(20260707);
    int values = 0;
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        if (!e.reachable)
            continue;
        for (int k = 0; k < 20; ++k) {
            std::unique_ptr<ASN1::AbstractData> value = rnd.make(e.info);
            std::vector<char> first, second;
            ASSERT_TRUE(ASN1Test::EncodePer(*value, first)) << e.module << "." << e.name << " #" << k;
            std::unique_ptr<ASN1::AbstractData> decoded(e.info->create(e.info));
            ASSERT_TRUE(ASN1Test::DecodePer(first, *decoded))
                << e.module << "." << e.name << " " << ASN1Test::ToHex(first);
            EXPECT_EQ(decoded->do_compare(*value), 0)
                << e.module << "." << e.name << " " << ASN1Test::ToHex(first);
            ASSERT_TRUE(ASN1Test::EncodePer(*decoded, second));
            EXPECT_EQ(ASN1Test::ToHex(second), ASN1Test::ToHex(first)) << e.module << "." << e.name;
            ++values;
        }
    }
    EXPECT_EQ(values, 360 * 20);
}

// Every proper prefix of a valid encoding is refused, never overread (the
// sanitizers watch the reads).
TEST(ModuleRoundTrip, TruncatedMessagesAreRefused)
{
    ASN1Test::RandomValues rnd(7);
    for (int k = 0; k < 40; ++k) {
        std::unique_ptr<ASN1::AbstractData> value = rnd.make(&LGCP::Message::theInfo);
        std::vector<char> bytes;
        ASSERT_TRUE(ASN1Test::EncodePer(*value, bytes));
        for (std::size_t n = 0; n + 1 < bytes.size(); ++n) {
            std::vector<char> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            LGCP::Message m;
            EXPECT_FALSE(ASN1Test::DecodePer(cut, m)) << ASN1Test::ToHex(bytes) << " cut at " << n;
        }
    }
}

} // namespace
