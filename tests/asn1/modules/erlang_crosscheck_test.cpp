// Independent cross-check of our aligned-PER coder with Erlang/OTP's asn1
// compiler, over every reachable protocol type, both ways:
//  - Erlang's random corpus: we decode each value, decode our re-encoding
//    again to an equal value, and re-encode byte-identically;
//  - our seeded random corpus: Erlang decodes each value and re-encodes it
//    byte-identically (tests/asn1/erlang/cpp_corpus.escript).
// Host only: the board's build has no Erlang.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/modules/registry.hpp"
#include "asn1/support/coding.hpp"

namespace {

std::string GenDir()
{
    return GW_ASN1_GEN_DIR;
}

TEST(ErlangCrossCheck, WeDecodeErlangsCorpus)
{
    std::ifstream in(GenDir() + "/corpus_erlang_per.txt");
    ASSERT_TRUE(in) << "no Erlang corpus; the asn1_erlang_corpus test writes it";
    std::string line;
    std::set<std::string> types;
    int values = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, hex;
        fields >> name >> hex;
        const ASN1Modules::TypeEntry* e = ASN1Modules::findType(name);
        ASSERT_NE(e, nullptr) << name;
        std::vector<char> bytes, again, third;
        ASSERT_TRUE(ASN1Test::FromHex(hex, bytes)) << line;
        std::unique_ptr<ASN1::AbstractData> first(e->info->create(e->info));
        if (!ASN1Test::DecodePer(bytes, *first)) {
            ADD_FAILURE() << "decoding " << line;
            continue;
        }
        ASSERT_TRUE(ASN1Test::EncodePer(*first, again)) << line;
        EXPECT_EQ(ASN1Test::ToHex(again), hex) << name;
        std::unique_ptr<ASN1::AbstractData> second(e->info->create(e->info));
        ASSERT_TRUE(ASN1Test::DecodePer(again, *second)) << line;
        EXPECT_EQ(second->do_compare(*first), 0) << line;
        types.insert(name);
        ++values;
    }
    std::size_t reachable = 0;
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i)
        reachable += ASN1Modules::allTypes[i].reachable;
    EXPECT_EQ(types.size(), reachable);
    EXPECT_GE(values, static_cast<int>(reachable) * 20);
}

TEST(ErlangCrossCheck, ErlangDecodesOurCorpus)
{
    const std::string corpus = GenDir() + "/corpus_cpp_per.txt";
    {
        std::ofstream out(corpus);
        ASSERT_TRUE(out);
        ASN1Test::RandomValues rnd(20261207);
        for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
            const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
            if (!e.reachable)
                continue;
            for (int k = 0; k < 24; ++k) {
                std::vector<char> bytes;
                ASSERT_TRUE(ASN1Test::EncodePer(*rnd.make(e.info), bytes)) << e.module << "." << e.name;
                out << e.module << "." << e.name << " " << ASN1Test::ToHex(bytes) << "\n";
            }
        }
    }
    const std::string command = "escript " GW_ASN1_ERLANG_TESTS "/cpp_corpus.escript " + GenDir() +
                                "/erlang/per " + GenDir() + "/reachable.txt " + corpus;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

} // namespace
