#include "control/lgcp_coding.hpp"

#include "asn1/coder.hpp"

#include <iterator>

namespace CtrlSrv {

namespace {
// Rule 2: PER aligned.
constexpr int per_aligned = 2;
} // namespace

bool lgcp_decode(char const* data, std::size_t length, LGCP::Message& message)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(per_aligned);
    return ASN1::decode(data, data + length, &env, message, true);
}

bool lgcp_encode(LGCP::Message const& message, std::vector<char>& out)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(per_aligned);
    return ASN1::encode(message, &env, std::back_inserter(out));
}

void lgcp_set_seq(LGCP::Message& message, std::uint32_t seq)
{
    message.include_seq();
    message.set_seq(static_cast<int>(seq));
}

void lgcp_set_slot(LGCP::Message& message, unsigned int slot)
{
    message.include_slot();
    message.set_slot(slot);
}

void lgcp_set_success(LGCP::Message& message)
{
    message.get_pdu().select_response().select_success();
}

void lgcp_set_error(LGCP::Message& message, LGCP::ErrorCause::NamedNumber cause)
{
    message.get_pdu().select_response().select_error().setValue(cause);
}

void lgcp_set_signal(LGCP::Message& message, LGCP::Signal const& signal)
{
    message.get_pdu().select_signal() = signal;
}

} // namespace CtrlSrv
