// ASN.1 value notation (X.680) parsing of the protocol messages. The first
// character picks the type (even code: LGCP::Message, so 'L'; odd: MON::Message,
// so 'M'); the rest is the text. What parses prints back to text that parses
// to the same value.

#include <memory>

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/MON.hpp"
#include "tests/fuzz/asn1_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::unique_ptr<ASN1::AbstractData> value;
    if (data[0] & 1)
        value = std::make_unique<MON::Message>();
    else
        value = std::make_unique<LGCP::Message>();
    const char* first = reinterpret_cast<const char*>(data) + 1;
    if (!GwFuzz::Decode(ASN1::CoderEnv::avn, first, first + size - 1, *value))
        return 0;
    GwFuzz::TextRoundTrip(*value);
    return 0;
}
