#pragma once

// The link reports of the link slots, filled the same way by every slot
// that runs the link: `hdlcLinkInfo` from an HDLC channel's counters as the
// host reads them, `isdnLinkInfo` from a LAPD data link.

#include "asn1/modules/ACP.hpp"
#include "asn1/modules/LGCP.hpp"

class HDLC;
namespace ISDN {
class LAPD;
}

LGCP::HdlcLinkInfo MakeHdlcLinkInfo(HDLC const& channel);

// Fills `info` with the link's state and counters and the side it plays;
// false when nothing changed since the report made last time, which the
// host then does not get again.
bool MakeIsdnLinkInfo(ISDN::LAPD const& lapd, ACP::IsdnLinkInfo& info);
