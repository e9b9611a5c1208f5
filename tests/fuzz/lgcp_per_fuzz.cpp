// LGCP messages as the control server receives them: one TPKT payload,
// aligned PER (X.691), decoded as LGCP::Message.

#include "tests/fuzz/asn1_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return GwFuzz::PerMessage<LGCP::Message>(data, size);
}
