#pragma once

// The RTP parameters of a `create` as a host sends them, for the RTP slot
// tests, the end-to-end tests and the benchmark.

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/TERM.hpp"

#include <cstdint>
#include <optional>

namespace RtpTest {

inline TERM::HostAddress HostAddr(const char* address, std::uint16_t port)
{
    TERM::HostAddress h;
    h.set_iaddr(address);
    h.set_port(port);
    return h;
}

// Towards `daddr`:`dport`, from 127.0.0.1:`sport` when given; both
// directions in `payload`.
inline LGCP::CreateRtpParams RtpParams(std::uint16_t dport, std::optional<std::uint16_t> sport = std::nullopt,
                                       TERM::Payload::NamedNumber payload = TERM::Payload::ptG729,
                                       const char* daddr = "127.0.0.1")
{
    LGCP::CreateRtpParams r;
    TERM::RtpParams& p = r.get_codecRTP();
    p.set_payload(payload);
    p.set_dhost(HostAddr(daddr, dport));
    if (sport)
        p.set_shost(HostAddr("127.0.0.1", *sport));
    r.set_txPayload(payload);
    r.set_rxPayload(payload);
    return r;
}

// The same as the `create` alternative.
inline LGCP::CreateParams RtpCreate(std::uint16_t dport, std::optional<std::uint16_t> sport = std::nullopt,
                                    TERM::Payload::NamedNumber payload = TERM::Payload::ptG729,
                                    const char* daddr = "127.0.0.1")
{
    LGCP::CreateParams c;
    c.set_rtp(RtpParams(dport, sport, payload, daddr));
    return c;
}

} // namespace RtpTest
