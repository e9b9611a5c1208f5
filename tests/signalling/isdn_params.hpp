#pragma once

// The host's commands for the ISDN and QSIG signalling slots, as the
// in-process tests, the end-to-end tests and the fuzz target build them.

#include "asn1/modules/LGCP.hpp"

#include <cstdint>
#include <string>

namespace IsdnTest {

inline LGCP::IsdnSide Side(bool network)
{
    LGCP::IsdnSide side;
    if (network)
        side.set_network();
    else
        side.set_user();
    return side;
}

inline LGCP::CreateParams Isdn(LGCP::IsdnType::NamedNumber type, bool network, int trunk = 1, int log = 0)
{
    LGCP::CreateParams p;
    LGCP::IsdnParams& i = p.select_isdn();
    i.set_type(type);
    i.set_trunk(trunk);
    i.set_log(log);
    i.set_side(Side(network));
    return p;
}

inline LGCP::CreateParams Qsig(bool network = false, int log = 0)
{
    LGCP::CreateParams p;
    LGCP::AtsQsigParams& q = p.select_ats_qsig();
    q.set_side(Side(network));
    q.set_log(log);
    return p;
}

inline LGCP::CreateParams QsigB(std::uint32_t slot, std::uint32_t subslot)
{
    LGCP::CreateParams p;
    LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
    b.set_slot(slot);
    b.set_subslot(subslot);
    return p;
}

inline LGCP::Command Activate()
{
    LGCP::Command c;
    c.select_activate().set_empty();
    return c;
}

inline LGCP::Command UserData(std::string const& bytes)
{
    LGCP::Command c;
    c.set_userData(bytes);
    return c;
}

} // namespace IsdnTest
