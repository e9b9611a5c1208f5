// ASN.1 value notation (X.680) parsing of the protocol messages. The first
// character picks the type (even code: LGCP::Message, so 'L'; odd: MON::Message,
// so 'M'); the rest is the text. What parses prints back to text that parses
// to the same value.

#include <memory>

#include "tests/fuzz/asn1_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto value = GwFuzz::DecodeEnvelope(ASN1::CoderEnv::avn, data, size);
    if (value)
        GwFuzz::TextRoundTrip(*value);
    return 0;
}
