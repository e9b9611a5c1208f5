#pragma once

// The host's ED-137 radio messages, as the tests send them to a controller.

#include "asn1/modules/TERM.hpp"

#include <cstdint>
#include <string>

namespace RadioTest {

struct Header {
    int ptt = 0;
    int squ = 0;
    std::uint32_t ptt_id = 0;
    bool mute = false;
    bool summation = false;
    bool sct = false;
};

struct Sqi {
    int method = 0;
    std::uint32_t quality = 0;
};

inline void Fill(TERM::ED137RadioHeader& h, Header const& v)
{
    h.get_ptt().setValue(v.ptt);
    h.get_squ().setValue(v.squ);
    h.set_ptt_id(v.ptt_id);
    h.set_ptt_mute(v.mute);
    h.set_ptt_summation(v.summation);
    h.set_sct(v.sct);
}

inline void Fill(TERM::ED137RadioExtensionSQI& q, Sqi const& v)
{
    q.get_bss_method().setValue(v.method);
    q.set_bss_quality(v.quality);
}

inline TERM::RadioModifier RxCommand(Header const& h, Sqi const* sqi = nullptr,
                                     std::string const& addr = "10.9.9.9", std::uint32_t ssrc = 77)
{
    TERM::RadioModifier m;
    TERM::ED137RadioModifier& e = m.select_ed_137();
    e.get_addr().set_session_addr(addr);
    e.get_addr().set_session_ssrc(ssrc);
    TERM::ED137RadioRxCommand& rx = e.get_params().select_rx();
    Fill(rx.get_header(), h);
    if (sqi != nullptr) {
        rx.include_sqi();
        Fill(rx.get_sqi(), *sqi);
    }
    return m;
}

inline TERM::RadioModifier TxCommand(Header const& h, std::string const& addr = "10.9.9.9",
                                     std::uint32_t ssrc = 77)
{
    TERM::RadioModifier m;
    TERM::ED137RadioModifier& e = m.select_ed_137();
    e.get_addr().set_session_addr(addr);
    e.get_addr().set_session_ssrc(ssrc);
    Fill(e.get_params().select_tx().get_header(), h);
    return m;
}

inline TERM::RadioStatus Status(Header const& h, Sqi const* sqi = nullptr)
{
    TERM::RadioStatus s;
    TERM::ED137RadioStatus& e = s.select_ed_137();
    Fill(e.get_header(), h);
    if (sqi != nullptr) {
        e.include_sqi();
        Fill(e.get_sqi(), *sqi);
    }
    return s;
}

} // namespace RadioTest
