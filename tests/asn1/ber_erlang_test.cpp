// Independent check of the BER coder: Erlang/OTP's BER coder, built from the
// same types written as ASN.1 (erlang/ber_types.asn), decodes each of our
// encodings and encodes it again to the same octets.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"

using namespace ASN1;

namespace {

std::string sourceDir()
{
    if (const char* dir = std::getenv("GW_SOURCE_DIR"))
        return dir;
    // This file is tests/asn1/ under the source root.
    std::string file = __FILE__;
    return file.substr(0, file.rfind("/tests/asn1/"));
}

std::string hexWord(const std::vector<char>& data)
{
    std::string h = ASN1Test::hex(data);
    std::erase(h, ' ');
    return h;
}

} // namespace

TEST(BerErlang, CorpusDecodesAndReencodesIdentically)
{
    char path[] = "/tmp/ber_corpusXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream corpus(path);
        ASN1Test::RandomValues rng(4242);
        rng.openTypes = ASN1Test::RandomValues::Open::Filled;
        rng.maxDepth = 6;
        for (int n = 0; n < 400; ++n) {
            T::Everything value;
            rng.fill(value);
            std::vector<char> data;
            ASSERT_TRUE(ASN1Test::encode(value, data, CoderEnv::ber));
            corpus << "Everything " << hexWord(data) << '\n';
        }
        T::Message m;
        m.set_seq(5);
        m.set_slot(3);
        m.get_pdu().select_command().select(5);
        std::vector<char> data;
        ASSERT_TRUE(ASN1Test::encode(m, data, CoderEnv::ber));
        corpus << "Message " << hexWord(data) << '\n';
    }
    std::string cmd = "bash " + sourceDir() + "/tests/asn1/erlang/ber_check.sh " + sourceDir() +
                      "/tests/asn1/erlang/ber_types.asn BerTypes " + path + " > " + path + ".out 2>&1";
    int status = std::system(cmd.c_str());
    std::ifstream out(std::string(path) + ".out");
    std::string report((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("401 passed, 0 failed"), std::string::npos) << report;
    unlink(path);
    unlink((std::string(path) + ".out").c_str());
}
