#pragma once
// The LGCP payload coder: aligned PER (X.691) of one whole LGCP::Message.
// Everything else about a message is read and written through its generated
// accessors.

#include "asn1/modules/LGCP.hpp"

#include <cstddef>
#include <vector>

namespace CtrlSrv {

bool lgcp_decode(char const* data, std::size_t length, LGCP::Message& message);
// Appends the encoding to `out`; on failure `out` is as it was.
bool lgcp_encode(LGCP::Message const& message, std::vector<char>& out);
// Encodes into [first, last): false for an invalid message or one that does
// not fit.
bool lgcp_encode(LGCP::Message const& message, char* first, char* last, std::size_t& length);

} // namespace CtrlSrv
