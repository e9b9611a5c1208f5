#include "radio/sig_proto_samples.hpp"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

namespace vezetest {

void Header(sig_proto& p)
{
    sig_proto_set_base(&p, 5, 1, 0, 1, 0, 1, 0, 1, 0, 1, 2, 300);
}

in_addr Addr(char const* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a;
}

namespace {

sig_proto make(unsigned type)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = type;
    Header(p);
    return p;
}

Sample header_only(unsigned type)
{
    return Sample{make(type), {static_cast<unsigned char>(type), 0x5A, 0xA9, 0x65}, ""};
}

std::vector<Sample> build()
{
    std::vector<Sample> s;
    s.push_back(header_only(SIG_PROTO_GW_FLAG));

    sig_proto p = make(SIG_PROTO_GW_ADJUST_CHAN);
    sig_proto_set_gw_adjust_chan(&p, 0x01020304, 118.5f);
    s.push_back({p,
                 {0x02, 0x5A, 0xA9, 0x65, 0x01, 0x02, 0x03, 0x04, 0x42, 0xED, 0x00, 0x00},
                 "gw_adjust_chan.id   : 16909060,\n"
                 "gw_adjust_chan.freq : 118.5000,\n"});

    for (unsigned t = SIG_PROTO_GW_FLAG_PTT; t <= SIG_PROTO_GW_FLAG_RS; ++t)
        s.push_back(header_only(t));

    p = make(SIG_PROTO_GW_SEL_CALL);
    sig_proto_set_gw_selcall(&p, "ABCD", 4);
    s.push_back({p,
                 {0x09, 0x5A, 0xA9, 0x65, 0x04, 'A', 'B', 'C', 'D', 0x00, 0x00, 0x00},
                 "gw_sel_call.callerID_length: 4,\n"
                 "gw_sel_call.callerID : \n"
                 "[0] : 0x41,\n"
                 "[1] : 0x42,\n"
                 "[2] : 0x43,\n"
                 "[3] : 0x44,\n"});

    p = make(SIG_PROTO_GW_SELECT_RC_CHAN);
    sig_proto_set_gw_select_rc_chan(&p, 3, 7);
    s.push_back({p,
                 {0x0A, 0x5A, 0xA9, 0x65, 0x03, 0x07, 0x00, 0x00},
                 "gw_select_rc_chan.interface : 3,\n"
                 "gw_select_rc_chan.channel   : 7,\n"});

    p = make(SIG_PROTO_GW_ADJUST_SQUELSHE);
    sig_proto_set_gw_adjust_squelsh(&p, 100);
    s.push_back(
        {p, {0x0B, 0x5A, 0xA9, 0x65, 0x64, 0x00, 0x00, 0x00}, "gw_adjust_squelsh.squelsh   : 100,\n"});

    p = make(SIG_PROTO_GW_ADJUST_RTE);
    sig_proto_set_gw_adjust_rte(&p, 5);
    s.push_back({p, {0x0C, 0x5A, 0xA9, 0x65, 0x05, 0x00, 0x00, 0x00}, "gw_adjust_rte.rte   : 5,\n"});

    p = make(SIG_PROTO_GW_ADJUST_STANDBY);
    sig_proto_set_gw_adjust_standby(&p, 1);
    s.push_back({p, {0x0D, 0x5A, 0xA9, 0x65, 0x01, 0x00, 0x00, 0x00}, "gw_adjust_standby.state   : 1,\n"});

    s.push_back(header_only(SIG_PROTO_WM_FLAG));

    p = make(SIG_PROTO_WM_TRANS);
    sig_proto_set_wm_transmite(&p, Addr("10.1.2.3"), 0x11223344);
    s.push_back({p,
                 {0x82, 0x5A, 0xA9, 0x65, 0x03, 0x02, 0x01, 0x0A, 0x11, 0x22, 0x33, 0x44},
                 "wm_trans.session_addr : 10.1.2.3,\n"
                 "wm_trans.ssrc         : 0x11223344,\n"});

    p = make(SIG_PROTO_WM_RADIO_QUALITY);
    sig_proto_set_wm_radio_quality(&p, 0.75f);
    s.push_back(
        {p, {0x83, 0x5A, 0xA9, 0x65, 0x3F, 0x40, 0x00, 0x00}, "wm_radio_quality.radio_quality : 0.75000,\n"});

    p = make(SIG_PROTO_WM_CHAN);
    sig_proto_set_wm_chan(&p, 7, 118.5f, 50, 3);
    s.push_back(
        {p,
         {0x84, 0x5A, 0xA9, 0x65, 0x00, 0x00, 0x00, 0x07, 0x42, 0xED, 0x00, 0x00, 0x32, 0x03, 0x00, 0x00},
         "wm_chan.id   : 7,\n"
         "wm_chan.freq : 118.5000,\n"
         "wm_chan.squelsh : 50,\n"
         "wm_chan.rte     : 3,\n"});

    p = make(SIG_PROTO_WM_SEL_CALL_TRANS);
    sig_proto_set_wm_selcall_transmite(&p, Addr("192.168.1.20"), 0xCAFEBABE, "12345", 5);
    s.push_back({p,
                 {0x85, 0x5A, 0xA9, 0x65, 0x14, 0x01, 0xA8, 0xC0, 0xCA, 0xFE,
                  0xBA, 0xBE, 0x05, '1',  '2',  '3',  '4',  '5',  0x00, 0x00},
                 "wm_sel_call_trans.session_addr : 192.168.1.20,\n"
                 "wm_sel_call_trans.ssrc         : 0xCAFEBABE,\n"
                 "wm_sel_call_trans.callerID_length: 5,\n"
                 "wm_sel_call_trans.callerID : \n"
                 "[0] : 0x31,\n"
                 "[1] : 0x32,\n"
                 "[2] : 0x33,\n"
                 "[3] : 0x34,\n"
                 "[4] : 0x35,\n"});

    p = make(SIG_PROTO_WM_SELECT_RC_CHAN);
    sig_proto_set_wm_select_rc_chan(&p, 1, 2);
    s.push_back({p,
                 {0x86, 0x5A, 0xA9, 0x65, 0x01, 0x02, 0x00, 0x00},
                 "wm_select_rc_chan.interface : 1,\n"
                 "wm_select_rc_chan.channel   : 2,\n"});

    p = make(SIG_PROTO_WM_STANDBY);
    sig_proto_set_wm_standby(&p, 1, 9, 0);
    s.push_back({p,
                 {0x87, 0x5A, 0xA9, 0x65, 0x01, 0x09, 0x00, 0x00},
                 "wm_standby.state           : 1,\n"
                 "wm_standby.group           : 9,\n"
                 "wm_standby.receiver_state  : 0,\n"});
    return s;
}

} // namespace

std::vector<Sample> const& Samples()
{
    static std::vector<Sample> const samples = build();
    return samples;
}

Sample const& SampleOf(unsigned type)
{
    for (Sample const& s : Samples())
        if (s.record.type == type)
            return s;
    std::abort();
}

bool SameRecord(sig_proto const& a, sig_proto const& b)
{
    return a.src_addr == b.src_addr && a.src_ssrc == b.src_ssrc && a.type == b.type &&
           a.priority == b.priority && a.flag_t == b.flag_t && a.flag_p == b.flag_p && a.flag_r == b.flag_r &&
           a.flag_s == b.flag_s && a.flag_b == b.flag_b && a.flag_rv == b.flag_rv && a.flag_sh == b.flag_sh &&
           a.flag_rs == b.flag_rs && a.flag_pw == b.flag_pw && a.flag_c == b.flag_c && a.status == b.status &&
           std::memcmp(&a.wm_sel_call_trans, &b.wm_sel_call_trans, sizeof a.wm_sel_call_trans) == 0;
}

} // namespace vezetest
