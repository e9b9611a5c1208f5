#include "control/lgcp_coding.hpp"

#include "asn1/coder_env.hpp"
#include "asn1/per.hpp"

#include <iterator>

namespace CtrlSrv {

bool lgcp_decode(char const* data, std::size_t length, LGCP::Message& message)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    return ASN1::decode(data, data + length, &env, message, true);
}

bool lgcp_encode(LGCP::Message const& message, std::vector<char>& out)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    return ASN1::encode(message, &env, std::back_inserter(out));
}

bool lgcp_encode(LGCP::Message const& message, char* first, char* last, std::size_t& length)
{
    return ASN1::PEREncoder::encode(message, first, last, true, length);
}

} // namespace CtrlSrv
