// BER (X.690) decoding of the protocol messages. The first octet picks the
// type (even: LGCP::Message, odd: MON::Message); the rest is the encoding.

#include <memory>

#include "tests/fuzz/asn1_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto value = GwFuzz::DecodeEnvelope(ASN1::CoderEnv::ber, data, size);
    if (value && !GwFuzz::HasUnknownSelection(*value))
        GwFuzz::RoundTrip(ASN1::CoderEnv::ber, *value);
    return 0;
}
