// The RTP parameters of a create as the host may send them: aligned PER
// (X.691) decoded as LGCP::CreateRtpParams. Whatever decodes goes through
// the session record fill and the codec table in both forms; an accepted
// record keeps its invariants. The RTCP encoders then write an SDES and a
// BYE with the input's texts into every buffer size from 0 to 80, guard
// octets after the buffer.

#include "slots/rtp_slot.hpp"
#include "tests/fuzz/asn1_fuzz.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

bool TableType(unsigned int pt)
{
    for (unsigned int t : {8u, 0u, 4u, 18u, 136u, 128u, 15u, 9u, 255u})
        if (pt == t)
            return true;
    return false;
}

void CheckRecord(LGCP::CreateRtpParams const& create, RtpSessionFill const& f)
{
    TERM::RtpParams const& p = create.get_codecRTP();
    if (!f.ok()) {
        Check(f.clockRate == 0 || f.refusal.find(" out of range") != std::string::npos ||
              f.refusal.find("dotted quad") != std::string::npos);
        return;
    }
    rtp_connection_params const& r = f.params;
    Check(f.clockRate == 8000 || f.clockRate == 16000 || f.clockRate == 32000 || f.clockRate == 48000);
    Check(TableType(f.rxPayload) && TableType(f.txPayload));
    const bool dynamic = p.has_dynamic_payload() && r.rx_map_count == 1;
    if (dynamic) {
        Check(r.rx_pt >= 96 && r.rx_pt <= 127 && r.tx_pt == r.rx_pt);
        Check(r.rx_map_pt == f.rxPayload && r.tx_map_pt == f.txPayload);
        Check(r.rx_clock_rate == f.clockRate && r.tx_clock_rate == f.clockRate && r.tx_map_count == 1);
    } else {
        Check(r.rx_pt == f.rxPayload && r.tx_pt == f.txPayload);
        Check(r.rx_map_pt == 0 && r.rx_clock_rate == 0 && r.rx_map_count == 0);
        Check(r.tx_map_pt == 0 && r.tx_clock_rate == 0 && r.tx_map_count == 0);
    }
    // TOS: a DSCP in the upper six bits, or all ones.
    Check(r.tos == 0xFFFFFFFFu || (r.tos & ~0xFCu) == 0);
    Check(r.vad <= 1 && r.crate <= 1);
    Check(!p.has_ssrc() || r.ssrc == p.get_ssrc().getValue());
    Check(p.has_shost() || (r.local_addr == 0 && r.local_port == r.remote_port));
    Check(f.rtcpPort == static_cast<std::uint16_t>(r.local_port + 1));
    // Nothing but the fields is set: the pads stay zero.
    Check(r.pad0[0] == 0 && r.pad0[1] == 0 && r.pad1[0] == 0 && r.pad1[1] == 0);
    Check(r.reserved0 == 0 && r.reserved1 == 0);
}

void CheckEncoder(RTPC::Msg const& msg)
{
    constexpr unsigned int kGuard = 8;
    for (unsigned int size = 0; size <= 80; ++size) {
        std::vector<char> buf(size + kGuard, '\x5A');
        unsigned int n = msg.encode(buf.data(), size);
        Check(n <= size && n % 4 == 0);
        if (n > 0)
            Check(((unsigned(std::uint8_t(buf[2])) << 8) | std::uint8_t(buf[3])) == n / 4 - 1);
        for (unsigned int i = size; i < buf.size(); ++i)
            Check(buf[i] == '\x5A');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* first = reinterpret_cast<const char*>(data);
    LGCP::CreateRtpParams create;
    std::string texts[3];
    std::uint32_t ssrc = static_cast<std::uint32_t>(size);
    if (GwFuzz::Decode(ASN1::CoderEnv::per_Aligned, first, first + size, create)) {
        SsrcSource source(ssrc);
        RtpSessionFill f = FillRtpSession(create, source);
        CheckRecord(create, f);
        TERM::RtpParams const& p = create.get_codecRTP();
        const int payload = p.get_payload().getValue();
        Check(TableType(RtpFactoryBase::translateCodec(payload)));
        Check(TableType(RtpFactoryBase::translateCodec(payload, create.get_txPayload().getValue())));
        Check(TableType(RtpFactoryBase::translateCodec(create.get_rxPayload().getValue(), payload)));
        texts[0] = p.get_dhost().get_iaddr();
        if (p.has_shost())
            texts[1] = p.get_shost().get_iaddr();
        if (p.has_dname())
            texts[2] = p.get_dname();
        ssrc = f.params.ssrc;
    } else {
        // Undecodable input still gives the encoders texts.
        texts[0].assign(first, size);
        texts[1].assign(first, size / 2);
    }
    RTPC::SDES sdes(ssrc);
    sdes.add(RTPC::SDES::Item::CNAME, texts[0]);
    sdes.add(RTPC::SDES::Item::EMAIL, texts[1]);
    sdes.add(RTPC::SDES::Item::PHONE, texts[2]);
    CheckEncoder(sdes);
    CheckEncoder(RTPC::SDES(ssrc));
    CheckEncoder(RTPC::BYE(ssrc, texts[0]));
    CheckEncoder(RTPC::BYE(ssrc, texts[1]));
    return 0;
}
