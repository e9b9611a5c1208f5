#pragma once

// The host's VEZE radio messages and the far side's VEZE packets, as the
// tests give them to a controller.

#include "asn1/modules/TERM.hpp"
#include "radio/sig_proto.hpp"

#include <arpa/inet.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace RadioTest {

struct Flags {
    int prio = 15;
    bool ptt = false, bss = false, vad_rx = false, vad_tx = false, sql = false, sh = false, pwr = false,
         rv = false, resv = false;
    std::uint32_t selcall = 0, li = 0;
};

inline void Fill(TERM::RadioFlags& f, Flags const& v)
{
    f.set_prio(v.prio);
    f.set_ptt(v.ptt);
    f.set_bss(v.bss);
    f.set_vad_rx(v.vad_rx);
    f.set_vad_tx(v.vad_tx);
    f.set_sql(v.sql);
    f.set_sh(v.sh);
    f.set_pwr(v.pwr);
    f.set_rv(v.rv);
    f.set_resv(v.resv);
    f.set_selcall(v.selcall);
    f.set_li(v.li);
}

struct VezeStatusValues {
    Flags flags;
    int channel = 3;
    std::string frequency = "118.500000";
    std::uint32_t remote_no = 1, remote_ch = 2;
    int squelshe = 50, rte = 5, standby_channel = 1;
    std::uint32_t group = 7;
    int standby_receiver = 0;
};

inline TERM::RadioStatus VezeStatus(VezeStatusValues const& v = {})
{
    TERM::RadioStatus s;
    TERM::VezeRadioStatus& e = s.select_veze();
    Fill(e.get_flags(), v.flags);
    e.get_freq().set_channel(v.channel);
    e.get_freq().set_frequency(v.frequency);
    e.get_remote().set_no(v.remote_no);
    e.get_remote().set_ch(v.remote_ch);
    e.get_squelshe().setValue(v.squelshe);
    e.get_rte().setValue(v.rte);
    e.get_standby_state_channel().setValue(v.standby_channel);
    e.set_standby_group(v.group);
    e.get_standby_state_receiver().setValue(v.standby_receiver);
    return s;
}

// A host modifier: `fill` selects and fills the alternative.
inline TERM::RadioModifier VezeModifier(std::function<void(TERM::VezeRadioModifierParams&)> const& fill,
                                        std::string const& addr = "10.9.9.9", std::uint32_t ssrc = 77)
{
    TERM::RadioModifier m;
    TERM::VezeRadioModifier& e = m.select_veze();
    e.get_addr().set_session_addr(addr);
    e.get_addr().set_session_ssrc(ssrc);
    fill(e.get_params());
    return m;
}

// The host's transmission command: push-to-talk of `ip`'s session.
inline TERM::RadioModifier WmTrans(Flags const& flags, std::string const& ip, std::uint32_t ssrc)
{
    return VezeModifier([&](TERM::VezeRadioModifierParams& p) {
        TERM::RadioCommandWMTrans& c = p.select_wm_trans();
        Fill(c.get_flags(), flags);
        c.set_ip(ip);
        c.set_ssrc(ssrc);
    });
}

// A packet record with header fields; the payload is set by the caller.
inline sig_proto VezePacket(std::uint32_t type, std::uint32_t priority = 15, std::uint32_t ptt = 0)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = type;
    p.priority = priority;
    p.flag_p = ptt;
    return p;
}

inline std::vector<unsigned char> Pack(sig_proto const& p)
{
    std::vector<unsigned char> buf(1024);
    int const n = sig_proto_pack(&p, buf.data(), static_cast<int>(buf.size()));
    buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buf;
}

inline in_addr InAddr(char const* dotted)
{
    in_addr a{};
    ::inet_pton(AF_INET, dotted, &a);
    return a;
}

} // namespace RadioTest
