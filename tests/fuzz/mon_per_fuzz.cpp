// MON messages as an SNMP agent link receives them: one TPKT payload,
// aligned PER (X.691), decoded as MON::Message.

#include "tests/fuzz/asn1_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return GwFuzz::PerMessage<MON::Message>(data, size);
}
