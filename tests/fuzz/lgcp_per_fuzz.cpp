// LGCP messages as the control server receives them: one TPKT payload,
// aligned PER (X.691), decoded as LGCP::Message.

#include "asn1/modules/LGCP.hpp"
#include "tests/fuzz/asn1_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* first = reinterpret_cast<const char*>(data);
    LGCP::Message message;
    if (!GwFuzz::Decode(ASN1::CoderEnv::per_Aligned, first, first + size, message))
        return 0;
    if (GwFuzz::HasUnknownSelection(message))
        return 0;
    GwFuzz::RoundTrip(ASN1::CoderEnv::per_Aligned, message);
    GwFuzz::TextRoundTrip(message);
    return 0;
}
