#include "control/lgcp_coding.hpp"

#include "asn1/coder_env.hpp"
#include "asn1/per.hpp"

#include <iterator>

namespace CtrlSrv {

namespace {

constexpr unsigned seq_field = 0, slot_field = 1, pdu_field = 2;
constexpr unsigned seq_id = 0, slot_id = 1;
constexpr int pdu_command = 0, pdu_response = 1, pdu_signal = 2;
constexpr int response_success = 0, response_error = 1;

ASN1::CHOICE& pdu_of(LGCP::Message& m)
{
    return m.fieldAs<ASN1::CHOICE>(pdu_field);
}

ASN1::CHOICE const& pdu_of(LGCP::Message const& m)
{
    return m.fieldAs<ASN1::CHOICE>(pdu_field);
}

} // namespace

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

bool lgcp_has_seq(LGCP::Message const& message)
{
    return message.hasOptionalField(seq_id);
}

std::uint32_t lgcp_seq(LGCP::Message const& message)
{
    return static_cast<std::uint32_t>(message.fieldAs<ASN1::INTEGER>(seq_field).getValue());
}

bool lgcp_has_slot(LGCP::Message const& message)
{
    return message.hasOptionalField(slot_id);
}

std::uint32_t lgcp_slot(LGCP::Message const& message)
{
    return static_cast<std::uint32_t>(message.fieldAs<ASN1::INTEGER>(slot_field).getValue());
}

bool lgcp_is_command(LGCP::Message const& message)
{
    return pdu_of(message).currentSelection() == pdu_command;
}

LGCP::Command const& lgcp_command(LGCP::Message const& message)
{
    return pdu_of(message).alternativeAs<LGCP::Command>();
}

void lgcp_set_seq(LGCP::Message& message, std::uint32_t seq)
{
    message.fieldForWrite<ASN1::INTEGER>(seq_field).setValue(static_cast<int>(seq));
}

void lgcp_set_slot(LGCP::Message& message, unsigned int slot)
{
    message.fieldForWrite<ASN1::INTEGER>(slot_field).setValue(static_cast<int>(slot));
}

void lgcp_set_success(LGCP::Message& message)
{
    pdu_of(message).selectAs<ASN1::CHOICE>(pdu_response).select(response_success);
}

void lgcp_set_error(LGCP::Message& message, LGCP::ErrorCause::NamedNumber cause)
{
    pdu_of(message)
        .selectAs<ASN1::CHOICE>(pdu_response)
        .selectAs<ASN1::ENUMERATED>(response_error)
        .setValue(static_cast<int>(cause));
}

void lgcp_set_signal(LGCP::Message& message, LGCP::Signal const& signal)
{
    pdu_of(message).selectAs<ASN1::CHOICE>(pdu_signal) = signal;
}

} // namespace CtrlSrv
