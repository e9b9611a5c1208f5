// Prints every generated descriptor's headline counts, one type a line:
//   <Module>.<Type> SEQUENCE <extensible 0|1> <root fields> <optional root fields>
//   <Module>.<Type> CHOICE <extensible> <root alternatives> <extension alternatives>
//   <Module>.<Type> ENUMERATED <extensible> <maximum> <named values>
// tests/asn1/schema_counts_test.py holds them against the protocol tables.

#include <cstdio>

#include "asn1/modules/registry.hpp"

int main()
{
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        const ASN1::TypeInfo* info = e.info;
        if (info->tag == ASN1::tag::SEQUENCE) {
            const auto* s = static_cast<const ASN1::SequenceTypeInfo*>(info);
            std::printf("%s.%s SEQUENCE %d %u %u\n", e.module, e.name, s->extensible ? 1 : 0,
                        static_cast<unsigned>(s->rootFieldCount), static_cast<unsigned>(s->optionalCount));
        } else if (info->tag == ASN1::tag::ENUMERATED) {
            const auto* s = static_cast<const ASN1::EnumeratedTypeInfo*>(info);
            std::printf("%s.%s ENUMERATED %d %d %u\n", e.module, e.name, s->extensible ? 1 : 0,
                        static_cast<int>(s->maxEnumValue), static_cast<unsigned>(s->nameCount));
        } else {
            const auto* s = static_cast<const ASN1::ChoiceTypeInfo*>(info);
            std::printf("%s.%s CHOICE %d %u %u\n", e.module, e.name, s->extensible ? 1 : 0,
                        static_cast<unsigned>(s->rootCount),
                        static_cast<unsigned>(s->totalCount - s->rootCount));
        }
    }
    return 0;
}
