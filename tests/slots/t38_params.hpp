#pragma once

// Create parameters of the software T.38 slot. No GoogleTest in here: the
// fuzz target uses it too.

#include "mcc_voice_params.hpp"

#include "asn1/modules/LGCP.hpp"

#include <string>

namespace SlotsTest {

// Peer 127.0.0.1:5000 from local port 6000, packets of 160 octets,
// thresholds 2 and 3, and `args` strings "a0", "a1", ...
inline LGCP::CreateParams T38Soft(int args = 0, std::string const& iaddr = "127.0.0.1")
{
    LGCP::CreateParams p;
    LGCP::T38Soft& t = p.select_t38soft();
    t.set_dhost(Address(iaddr, 5000));
    t.set_shost(Address("0.0.0.0", 6000));
    t.set_rx_packet_size(160);
    t.set_rx_threshold(2);
    t.set_tx_threshold(3);
    for (int i = 0; i < args; ++i)
        t.get_args().push_back(ASN1::IA5String("a" + std::to_string(i)));
    return p;
}

} // namespace SlotsTest
