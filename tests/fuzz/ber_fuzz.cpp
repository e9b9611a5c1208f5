// BER (X.690) decoding of the protocol messages. The first octet picks the
// type (even: LGCP::Message, odd: MON::Message); the rest is the encoding.

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
    if (!GwFuzz::Decode(ASN1::CoderEnv::ber, first, first + size - 1, *value))
        return 0;
    if (GwFuzz::HasUnknownSelection(*value))
        return 0;
    GwFuzz::RoundTrip(ASN1::CoderEnv::ber, *value);
    return 0;
}
