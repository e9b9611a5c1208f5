#include "signalling/hdlc_link_info.hpp"

#include "hardware/hdlc.hpp"
#include "signalling/lapd.hpp"

namespace {

// The report's INTEGERs are signed: a counter past 2^31 keeps counting in
// the report's 32 bits, as the host has always seen it wrap.
int AsReported(std::uint32_t counter)
{
    return static_cast<int>(counter);
}

} // namespace

LGCP::HdlcLinkInfo MakeHdlcLinkInfo(HDLC const& channel)
{
    LGCP::HdlcLinkInfo info;
    info.set_txSU(AsReported(channel.txSU));
    info.set_txDiscard(AsReported(channel.txDiscard));
    info.set_txError(AsReported(channel.txError));
    info.set_txOverflow(AsReported(channel.txOverflow));
    info.set_rxSU(AsReported(channel.rxSU));
    return info;
}

bool MakeIsdnLinkInfo(ISDN::LAPD const& lapd, ACP::IsdnLinkInfo& info)
{
    // The side first: the layer compares the whole report with its last
    // one, and a link's side does not change.
    info.set_side(lapd.side == ISDN::Side::network ? ACP::IsdnSide::network : ACP::IsdnSide::user);
    return lapd.GetInfo(info);
}
