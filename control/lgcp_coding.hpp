#pragma once
// The few operations the control server needs of the LGCP envelope and the
// PER coder, in one place. Only the runtime's generic SEQUENCE and CHOICE
// operations are used on the envelope: seq is field 0 (presence id 0), slot
// field 1 (presence id 1), pdu field 2; pdu alternatives command 0,
// response 1, signal 2; response alternatives success 0, error 1.

#include "asn1/modules/LGCP.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace CtrlSrv {

// PER aligned (X.691), the whole payload as one LGCP::Message.
bool lgcp_decode(char const* data, std::size_t length, LGCP::Message& message);
// Appends the encoding to `out`; on failure `out` is as it was.
bool lgcp_encode(LGCP::Message const& message, std::vector<char>& out);
// Encodes into [first, last): false for an invalid message or one that does
// not fit.
bool lgcp_encode(LGCP::Message const& message, char* first, char* last, std::size_t& length);

bool lgcp_has_seq(LGCP::Message const& message);
std::uint32_t lgcp_seq(LGCP::Message const& message);
bool lgcp_has_slot(LGCP::Message const& message);
// The slot as decoded, unsigned (a value above 1023 stays above it).
std::uint32_t lgcp_slot(LGCP::Message const& message);
bool lgcp_is_command(LGCP::Message const& message);
LGCP::Command const& lgcp_command(LGCP::Message const& message);

void lgcp_set_seq(LGCP::Message& message, std::uint32_t seq);
void lgcp_set_slot(LGCP::Message& message, unsigned int slot);
void lgcp_set_success(LGCP::Message& message);
void lgcp_set_error(LGCP::Message& message, LGCP::ErrorCause::NamedNumber cause);
void lgcp_set_signal(LGCP::Message& message, LGCP::Signal const& signal);

} // namespace CtrlSrv
