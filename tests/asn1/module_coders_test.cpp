// The BER and value-notation coders and the checkers over the generated
// protocol modules: the LGCP envelope as the logs and the wire show it, and
// a random corpus of every type reachable from LGCP::Message and
// MON::Message, printed and parsed back, BER coded and decoded, checked by
// openssl asn1parse and by Erlang/OTP's BER coder built from the same schema.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <unistd.h>

#include "asn1/ber.hpp"
#include "asn1/support/coding.hpp"
#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/registry.hpp"
#include "asn1/valid.hpp"
#include "asn1/valuenotation.hpp"

using namespace ASN1;
namespace fs = std::filesystem;

namespace {

constexpr int valuesPerType = 6;

LGCP::Message destroyMessage()
{
    LGCP::Message m;
    m.set_seq(5);
    m.set_slot(3);
    m.get_pdu().select_command().set_destroy();
    return m;
}

struct Sample {
    std::string type; // "Module.Type"
    std::unique_ptr<AbstractData> value;
};

// Random values of every reachable type, the same on every run.
std::vector<Sample> corpus()
{
    std::vector<Sample> out;
    ASN1Test::RandomValues rng(20260707);
    rng.openTypes = ASN1Test::RandomValues::Open::Avoided;
    rng.maxDepth = 6;
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        if (!e.reachable)
            continue;
        for (int n = 0; n < valuesPerType; ++n) {
            std::unique_ptr<AbstractData> v(e.info->create(e.info));
            rng.fill(*v);
            out.push_back({std::string(e.module) + "." + e.name, std::move(v)});
        }
    }
    return out;
}

std::string hexWord(const std::vector<char>& data)
{
    std::string h = ASN1Test::hex(data);
    std::erase(h, ' ');
    return h;
}

// The Erlang variant writes an enumeration whose numbers have holes as an
// INTEGER range, since our PER codes an enumerator's number rather than its
// index.  In BER only the universal tag tells the two apart (the contents are
// the same two's complement number), so the BER build tags those integers as
// ENUMERATED.
void tagEnumerationsAsEnumerated(const fs::path& dir)
{
    for (std::size_t i = 0; i < ASN1Modules::allTypeCount; ++i) {
        const ASN1Modules::TypeEntry& e = ASN1Modules::allTypes[i];
        if (e.info->tag != tag::ENUMERATED)
            continue;
        fs::path file = dir / (std::string(e.module) + ".asn");
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        std::string from = "\n" + std::string(e.name) + " ::= INTEGER";
        std::size_t at = text.find(from);
        if (at == std::string::npos)
            continue;
        text.replace(at, from.size(), "\n" + std::string(e.name) + " ::= [UNIVERSAL 10] IMPLICIT INTEGER");
        std::ofstream(file) << text;
    }
}

std::string sourceDir()
{
    // CTest gives the source root; __FILE__ is relative in a build whose
    // compiler launcher rewrites paths (ccache's base directory).
    if (const char* dir = std::getenv("GW_SOURCE_DIR"))
        return dir;
    std::string file = __FILE__; // <source>/tests/asn1/
    return file.substr(0, file.rfind("/tests/asn1/"));
}

std::string run(const std::string& cmd)
{
    std::string outFile = fs::temp_directory_path() / ("gw-ber-" + std::to_string(getpid()) + ".out");
    int status = std::system((cmd + " >" + outFile + " 2>&1").c_str());
    std::ifstream in(outFile);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(outFile);
    return (status == 0 ? "" : "exit status " + std::to_string(status) + "\n") + text;
}

} // namespace

TEST(ModuleCoders, LgcpEnvelope)
{
    LGCP::Message m = destroyMessage();
    EXPECT_EQ(asValueNotation(m), "{\n"
                                  "  seq 5,\n"
                                  "  slot 3,\n"
                                  "  pdu command : destroy : NULL\n"
                                  "}");
    std::vector<char> data;
    ASSERT_TRUE(ASN1Test::encode(m, data, CoderEnv::ber));
    EXPECT_EQ(ASN1Test::hex(data), "30 0C 80 01 05 81 01 03 A2 04 A0 02 85 00");

    LGCP::Message back;
    ASSERT_TRUE(ASN1Test::decode(data, back, CoderEnv::ber));
    EXPECT_EQ(back.do_compare(m), 0);
    ASSERT_TRUE(setFromValueNotation(back, asValueNotation(m)));
    EXPECT_EQ(back.do_compare(m), 0);

    m.set_slot(2000);
    std::ostringstream trace;
    EXPECT_FALSE(trace_invalid(trace, "Message", m));
    EXPECT_EQ(trace.str(), "Message.slot The INTEGER value 2000 is greater than upper bound 1023\n");
}

TEST(ModuleCoders, ConstAccessorsReadDefaultsForWhatAHostLeftOut)
{
    const LGCP::Message none;
    EXPECT_FALSE(none.has_seq());
    EXPECT_EQ(none.get_seq().getValue(), 0);
    EXPECT_EQ(none.get_slot().getValue(), 0);
    EXPECT_FALSE(none.get_pdu().is_command());
    EXPECT_EQ(none.get_pdu().get_command().get_trunkCfg().get_trunk().getValue(), 0);

    // ping with seq 1 from a host: read as if it were another command.
    LGCP::Message ping;
    ASSERT_TRUE(ASN1Test::decode(ASN1Test::bytes({0x80, 0x01, 0x01, 0x18}), ping, CoderEnv::per_Aligned));
    const LGCP::Message& host = ping;
    EXPECT_FALSE(host.has_slot());
    EXPECT_EQ(host.get_slot().getValue(), 0);
    const LGCP::Command& command = host.get_pdu().get_command();
    ASSERT_TRUE(command.is_ping());
    EXPECT_FALSE(command.get_ioctl().is_cas());
    EXPECT_EQ(command.get_ioctl().get_cas().get_channel().get_path().getValue(), 0);
    EXPECT_EQ(host.get_pdu().get_response().currentSelection(), -1);
    EXPECT_TRUE(command.is_ping()) << "reads change nothing";
}

TEST(ModuleCoders, EveryReachableTypeRoundTrips)
{
    std::vector<Sample> samples = corpus();
    ASSERT_GT(samples.size(), 0u);
    for (const Sample& s : samples) {
        const AbstractData& value = *s.value;
        ASSERT_TRUE(isValid(value)) << s.type;

        std::string text = asValueNotation(value);
        std::unique_ptr<AbstractData> fromText(value.info()->create(value.info()));
        ASSERT_TRUE(setFromValueNotation(*fromText, text)) << s.type << "\n" << text;
        ASSERT_EQ(fromText->do_compare(value), 0) << s.type << "\n" << text;

        std::vector<char> data;
        ASSERT_TRUE(ASN1Test::encode(value, data, CoderEnv::ber)) << s.type;
        std::unique_ptr<AbstractData> fromBer(value.info()->create(value.info()));
        ASSERT_TRUE(ASN1Test::decode(data, *fromBer, CoderEnv::ber)) << s.type << " " << hexWord(data);
        ASSERT_EQ(fromBer->do_compare(value), 0) << s.type << " " << hexWord(data);
    }
}

// openssl reads every encoding as DER: one file holding them all back to
// back would stop at the first, so each goes in its own run; a sample of
// each type keeps the run short.
TEST(ModuleCoders, OpensslParsesEncodings)
{
    std::vector<Sample> samples = corpus();
    fs::path file = fs::temp_directory_path() / ("gw-ber-" + std::to_string(getpid()) + ".der");
    for (std::size_t i = 0; i < samples.size(); i += valuesPerType * 4) {
        std::vector<char> data;
        ASSERT_TRUE(ASN1Test::encode(*samples[i].value, data, CoderEnv::ber));
        std::ofstream(file, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
        EXPECT_EQ(run("openssl asn1parse -inform DER -in " + file.string()).rfind("exit status", 0),
                  std::string::npos)
            << samples[i].type << " " << hexWord(data);
    }
    fs::remove(file);
}

TEST(ModuleCoders, ErlangBerDecodesAndReencodesEveryEncoding)
{
    const char* build = std::getenv("GW_TEST_BINARY_DIR");
    ASSERT_NE(build, nullptr) << "GW_TEST_BINARY_DIR names the build tree";
    fs::path variant = fs::path(build) / "gen/asn1/modules/erlang";
    ASSERT_TRUE(fs::exists(variant / "order.txt")) << variant;

    char pattern[] = "/tmp/gw-ber-erlang-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    for (const auto& entry : fs::directory_iterator(variant))
        if (entry.path().extension() == ".asn" || entry.path().filename() == "order.txt")
            fs::copy_file(entry.path(), dir / entry.path().filename());

    tagEnumerationsAsEnumerated(dir);

    // Our names against the Erlang variant's (anonymous inner types are
    // "Outer_field" here and "Outer-field" there).
    std::map<std::string, std::string> erlangName;
    {
        std::ifstream reachable(variant.parent_path() / "reachable.txt");
        for (std::string name, module, type; reachable >> name >> module >> type;)
            erlangName[name] = module + "." + type;
    }

    std::vector<Sample> samples = corpus();
    {
        std::ofstream lines(dir / "corpus");
        for (const Sample& s : samples) {
            std::vector<char> data;
            ASSERT_TRUE(ASN1Test::encode(*s.value, data, CoderEnv::ber));
            auto it = erlangName.find(s.type);
            lines << (it == erlangName.end() ? s.type : it->second) << ' ' << hexWord(data) << '\n';
        }
    }
    std::string compile = run("cd '" + dir.string() +
                              "' && while read -r m; do [ -z \"$m\" ] || erlc -bber +maps -I . \"$m.asn\" "
                              "|| exit 1; done < order.txt");
    ASSERT_EQ(compile.rfind("exit status", 0), std::string::npos) << compile;
    std::string report = run("escript " + sourceDir() + "/tests/asn1/erlang/ber_check.escript LGCP '" +
                             dir.string() + "' '" + (dir / "corpus").string() + "'");
    EXPECT_NE(report.find(std::to_string(samples.size()) + " passed, 0 failed"), std::string::npos)
        << report.substr(0, 4000);
    fs::remove_all(dir);
}
