#pragma once

// The link reports of the link slots: an HDLC channel's counters
// (`hdlcLinkInfo`) and a LAPD data link's state (`isdnLinkInfo`), as the
// host reads them. Every slot that runs such a channel or link reports them
// the same way.

#include "asn1/modules/ACP.hpp"
#include "asn1/modules/LGCP.hpp"

class HDLC;
namespace ISDN {
class LAPD;
}

LGCP::HdlcLinkInfo MakeHdlcLinkInfo(HDLC const& channel);

// The link's state with the side it plays; false when nothing changed since
// the link's last report (the report is then not sent).
bool MakeIsdnLinkInfo(ISDN::LAPD const& lapd, ACP::IsdnLinkInfo& info);
