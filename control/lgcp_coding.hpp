#pragma once
// The few operations the control server needs of the generated LGCP module
// and the PER coder, in one place.

#include "asn1/modules/LGCP.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace CtrlSrv {

// PER aligned (X.691), the whole payload as one LGCP::Message.
bool lgcp_decode(char const* data, std::size_t length, LGCP::Message& message);
// Appends the encoding to `out`; on failure `out` holds what was produced.
bool lgcp_encode(LGCP::Message const& message, std::vector<char>& out);

void lgcp_set_seq(LGCP::Message& message, std::uint32_t seq);
void lgcp_set_slot(LGCP::Message& message, unsigned int slot);
void lgcp_set_success(LGCP::Message& message);
void lgcp_set_error(LGCP::Message& message, LGCP::ErrorCause::NamedNumber cause);
void lgcp_set_signal(LGCP::Message& message, LGCP::Signal const& signal);

} // namespace CtrlSrv
