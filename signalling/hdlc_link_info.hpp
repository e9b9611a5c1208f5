#pragma once

// The `hdlcLinkInfo` report of a link slot: an HDLC channel's counters as
// the host reads them. Every slot that runs an HDLC channel reports them
// the same way.

#include "asn1/modules/LGCP.hpp"

class HDLC;

LGCP::HdlcLinkInfo MakeHdlcLinkInfo(HDLC const& channel);
