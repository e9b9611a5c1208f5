#pragma once

// Radio requests as the host receives them (an LGCP `rtpExt` signal), and
// their independent check with Erlang/OTP's aligned-PER coder: every message
// must decode there and encode back to the very same octets
// (tests/asn1/erlang/cpp_corpus.escript over "LGCP.Message HEX" lines).
//
// Header only: a test program that includes it links gw_asn1_modules and
// gw_asn1_random, defines GW_ASN1_GEN_DIR and GW_ASN1_ERLANG_TESTS (as
// tests/asn1/modules does), carries the label host-only and requires the
// CTest fixture asn1_erlang, which compiles the Erlang modules.

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/TERM.hpp"
#include "asn1/support/coding.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace TestRtpExt {

// The signal that a radio slot sends for a controller's report.
inline LGCP::Message RtpExtSignal(TERM::RtpRadioRequest const& request, unsigned slot = 5)
{
    LGCP::Message m;
    m.set_slot(slot);
    m.get_pdu().select_signal().select_rtpExt() = request;
    return m;
}

#if defined(GW_ASN1_GEN_DIR) && defined(GW_ASN1_ERLANG_TESTS)
// Has Erlang decode and re-encode each LGCP payload (as the host received
// it); true when every one came back byte-identical. Erlang's report goes
// to *output.
inline bool ErlangRoundTrip(std::vector<std::vector<std::uint8_t>> const& payloads,
                            std::string* output = nullptr)
{
    char dir[] = "/tmp/gw_rtpext_XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return false;
    std::string const corpus = std::string(dir) + "/corpus.txt";
    std::string const report = std::string(dir) + "/report.txt";
    {
        std::ofstream out(corpus);
        for (std::vector<std::uint8_t> const& p : payloads)
            out << "LGCP.Message " << ASN1Test::ToHex(std::vector<char>(p.begin(), p.end())) << "\n";
    }
    std::string const command =
        std::string("escript " GW_ASN1_ERLANG_TESTS "/cpp_corpus.escript " GW_ASN1_GEN_DIR
                    "/erlang/per " GW_ASN1_GEN_DIR "/reachable.txt ") +
        corpus + " > " + report + " 2>&1";
    int const status = std::system(command.c_str());
    if (output != nullptr) {
        std::ifstream in(report);
        output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(corpus.c_str());
    std::remove(report.c_str());
    ::rmdir(dir);
    return status == 0;
}

// Encodes each message with our coder, then as above.
inline bool ErlangRoundTrip(std::vector<LGCP::Message> const& messages, std::string* output = nullptr)
{
    std::vector<std::vector<std::uint8_t>> payloads;
    bool encoded = true;
    for (LGCP::Message const& m : messages) {
        std::vector<char> bytes;
        encoded = encoded && ASN1Test::EncodePer(m, bytes);
        payloads.emplace_back(bytes.begin(), bytes.end());
    }
    bool const same = ErlangRoundTrip(payloads, output);
    return encoded && same;
}
#endif

} // namespace TestRtpExt
