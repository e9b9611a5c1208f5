#include "radio/sig_proto.hpp"

#include "radio/codec_wire.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>

s_sig_proto_table_name const sig_proto_packet_const_name[SIG_PROTO_NAME_TABLE_SIZE] = {
    {SIG_PROTO_GW_FLAG, "GW_FLAG"},
    {SIG_PROTO_GW_ADJUST_CHAN, "GW_ADJUST_CHAN"},
    {SIG_PROTO_GW_FLAG_PTT, "GW_FLAG_PTT"},
    {SIG_PROTO_GW_FLAG_BSS, "GW_FLAG_BSS"},
    {SIG_PROTO_GW_FLAG_RV, "GW_FLAG_RV"},
    {SIG_PROTO_GW_FLAG_SH, "GW_FLAG_SH"},
    {SIG_PROTO_GW_FLAG_PW, "GW_FLAG_PW"},
    {SIG_PROTO_GW_FLAG_RS, "GW_FLAG_RS"},
    {SIG_PROTO_GW_SEL_CALL, "GW_SEL_CALL"},
    {SIG_PROTO_GW_SELECT_RC_CHAN, "GW_SELECT_RC_CHAN"},
    {SIG_PROTO_GW_ADJUST_SQUELSHE, "GW_ADJUST_SQUELSHE"},
    {SIG_PROTO_GW_ADJUST_RTE, "GW_ADJUST_RTE"},
    {SIG_PROTO_GW_ADJUST_STANDBY, "GW_ADJUST_STANDBY"},
    {SIG_PROTO_WM_FLAG, "WM_FLAG"},
    {SIG_PROTO_WM_TRANS, "WM_TRANS"},
    {SIG_PROTO_WM_RADIO_QUALITY, "WM_RADIO_QUALITY"},
    {SIG_PROTO_WM_CHAN, "WM_CHAN"},
    {SIG_PROTO_WM_SEL_CALL_TRANS, "WM_SEL_CALL_TRANS"},
    {SIG_PROTO_WM_SELECT_RC_CHAN, "WM_SELECT_RC_CHAN"},
    {SIG_PROTO_WM_STANDBY, "WM_STANDBY"},
    {-1, ""},
};

s_sig_proto_sprintf const sig_proto_sprintf_table[SIG_PROTO_SPRINTF_TABLE_SIZE] = {
    {0, sprintf_base},
    {SIG_PROTO_GW_FLAG, sprintf_base},
    {SIG_PROTO_GW_ADJUST_CHAN, sprintf_gw_adjust_chan},
    {SIG_PROTO_GW_FLAG_PTT, sprintf_base},
    {SIG_PROTO_GW_FLAG_BSS, sprintf_base},
    {SIG_PROTO_GW_FLAG_RV, sprintf_base},
    {SIG_PROTO_GW_FLAG_SH, sprintf_base},
    {SIG_PROTO_GW_FLAG_PW, sprintf_base},
    {SIG_PROTO_GW_FLAG_RS, sprintf_base},
    {SIG_PROTO_GW_SEL_CALL, sprintf_gw_selcall},
    {SIG_PROTO_GW_SELECT_RC_CHAN, sprintf_gw_select_rc_chan},
    {SIG_PROTO_GW_ADJUST_SQUELSHE, sprintf_gw_adjust_squelsh},
    {SIG_PROTO_GW_ADJUST_RTE, sprintf_gw_adjust_rte},
    {SIG_PROTO_GW_ADJUST_STANDBY, sprintf_gw_adjust_standby},
    {SIG_PROTO_WM_FLAG, sprintf_base},
    {SIG_PROTO_WM_TRANS, sprintf_wm_trans},
    {SIG_PROTO_WM_RADIO_QUALITY, sprintf_wm_radio_qulity},
    {SIG_PROTO_WM_CHAN, sprintf_wm_chan},
    {SIG_PROTO_WM_SEL_CALL_TRANS, sprintf_wm_selcall},
    {SIG_PROTO_WM_SELECT_RC_CHAN, sprintf_wm_select_rc_chan},
    {SIG_PROTO_WM_STANDBY, sprintf_wm_standby},
};

int const init_sig_proto_type[SIG_PROTO_INIT_TYPE_COUNT] = {1,  3,  4,   5,   6,   7,   8,   2,  9,
                                                            10, 13, 129, 130, 132, 131, 133, 135};

namespace {

using radio_wire::get_u32;
using radio_wire::put_u32;

// Floats travel as their 32 bits; the value is not converted.
void put_float(unsigned char* out, float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    put_u32(out, bits);
}

float get_float(unsigned char const* in)
{
    std::uint32_t const bits = get_u32(in);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The session address is the one field that is not big-endian: a.b.c.d
// travels as d, c, b, a. An in_addr holds the octets a, b, c, d in memory
// order on any processor, so reversing them octet by octet is the rule on
// both byte orders.
void put_reversed_addr(unsigned char* out, in_addr a)
{
    unsigned char octet[4];
    std::memcpy(octet, &a.s_addr, sizeof octet);
    for (int i = 0; i < 4; ++i)
        out[i] = octet[3 - i];
}

in_addr get_reversed_addr(unsigned char const* in)
{
    unsigned char const octet[4] = {in[3], in[2], in[1], in[0]};
    in_addr a;
    std::memcpy(&a.s_addr, octet, sizeof octet);
    return a;
}

int round_up4(int n)
{
    return (n + 3) & ~3;
}

bool header_only(unsigned type)
{
    return (type >= SIG_PROTO_GW_FLAG && type <= SIG_PROTO_GW_FLAG_RS && type != SIG_PROTO_GW_ADJUST_CHAN) ||
           type == SIG_PROTO_WM_FLAG;
}

// Copies at most 255 characters of `text` into a cleared caller-ID array.
void copy_caller_id(std::uint8_t (&dst)[SIG_PROTO_CALLER_ID_SIZE], char const* text)
{
    std::memset(dst, 0, sizeof dst);
    if (text != nullptr)
        std::memcpy(dst, text, strnlen(text, SIG_PROTO_CALLER_ID_SIZE - 1));
}

// Text output into a caller's buffer. Each line goes into the room left
// (size minus one minus what is written); the position advances by what
// was really written, so a cut line ends the text and the buffer is never
// overrun, whatever its size.
struct Text {
    Text(char* b, long s) : buf(b), size(s)
    {
        if (size > 0)
            buf[0] = '\0';
    }
    char* buf;
    long size;
    long used = 0;
};

__attribute__((format(printf, 2, 3))) void put(Text& t, char const* fmt, ...)
{
    long const room = t.size - 1 - t.used;
    if (room <= 1)
        return;
    va_list ap;
    va_start(ap, fmt);
    int const n = std::vsnprintf(t.buf + t.used, static_cast<std::size_t>(room), fmt, ap);
    va_end(ap);
    if (n > 0)
        t.used += std::min<long>(n, room - 1);
}

void put_caller_id(Text& t, std::uint8_t const (&id)[SIG_PROTO_CALLER_ID_SIZE], unsigned length)
{
    // `length` is one octet: it never reaches past the array.
    for (unsigned i = 0; i < length; ++i)
        put(t, "[%d] : 0x%02X,\n", static_cast<int>(i), static_cast<unsigned>(id[i]));
}

void put_addr(Text& t, char const* fmt, in_addr a)
{
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &a, text, sizeof text);
    put(t, fmt, text);
}

void put_base(Text& t, sig_proto const& p, int mode)
{
    if ((mode & SIG_PROTO_PRINT_TYPE_NAME) != 0) {
        char const* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, static_cast<int>(p.type));
        if (name != nullptr)
            put(t, "type      : %s,\n", name);
        else
            put(t, "type      : 0x%08lX,\n", static_cast<unsigned long>(p.type));
    } else if ((mode & SIG_PROTO_PRINT_TYPE) != 0) {
        put(t, "type      : 0x%08lX,\n", static_cast<unsigned long>(p.type));
    }
    put(t, "flag_t   : %lu,\n", static_cast<unsigned long>(p.flag_t));
    put(t, "flag_p   : %lu,\n", static_cast<unsigned long>(p.flag_p));
    put(t, "flag_r   : %lu,\n", static_cast<unsigned long>(p.flag_r));
    put(t, "flag_s   : %lu,\n", static_cast<unsigned long>(p.flag_s));
    put(t, "flag_b   : %lu,\n", static_cast<unsigned long>(p.flag_b));
    put(t, "flag_rv  : %lu,\n", static_cast<unsigned long>(p.flag_rv));
    put(t, "flag_sh  : %lu,\n", static_cast<unsigned long>(p.flag_sh));
    put(t, "flag_rs  : %lu,\n", static_cast<unsigned long>(p.flag_rs));
    put(t, "flag_pw  : %lu,\n", static_cast<unsigned long>(p.flag_pw));
    put(t, "flag_c   : %lu,\n", static_cast<unsigned long>(p.flag_c));
    if ((mode & SIG_PROTO_PRINT_FLAGS_ONLY) == 0) {
        put(t, "priority : %lu,\n", static_cast<unsigned long>(p.priority));
        put(t, "status   : %lu,\n", static_cast<unsigned long>(p.status));
    }
}

// Runs a formatter's payload lines after the base lines; the payload is
// left out in the flags-only mode.
template <class Payload>
int render(char* buf, long size, sig_proto const* p, int mode, Payload payload)
{
    if (buf == nullptr || p == nullptr || size < 1)
        return 0;
    Text t(buf, size);
    put_base(t, *p, mode);
    if ((mode & SIG_PROTO_PRINT_FLAGS_ONLY) == 0)
        payload(t, *p);
    return static_cast<int>(t.used);
}

int cmp_rendered(sig_proto const* a, sig_proto const* b, int mode)
{
    if (a == nullptr || b == nullptr)
        return -1;
    char ta[8192];
    char tb[8192];
    int const la = sprintf_sig_proto(ta, sizeof ta, a, mode);
    int const lb = sprintf_sig_proto(tb, sizeof tb, b, mode);
    if (la != lb)
        return lb - la;
    return std::strncmp(ta, tb, sizeof ta);
}

} // namespace

char const* sig_proto_find_name_by_id(s_sig_proto_table_name const* table, int id)
{
    if (table == nullptr)
        return nullptr;
    for (int i = 0; i < SIG_PROTO_NAME_TABLE_SIZE && table[i].id >= 0; ++i)
        if (table[i].id == id)
            return table[i].name;
    return nullptr;
}

int sig_proto_find_id_by_name(s_sig_proto_table_name const* table, char const* name)
{
    if (table == nullptr || name == nullptr)
        return -1;
    for (int i = 0; i < SIG_PROTO_NAME_TABLE_SIZE && table[i].id >= 0; ++i)
        if (table[i].name != nullptr && std::strcmp(table[i].name, name) == 0)
            return table[i].id;
    return -1;
}

int sig_proto_init(sig_proto* p)
{
    if (p != nullptr)
        std::memset(p, 0, sizeof *p);
    return 0;
}

int sig_proto_set_base(sig_proto* p, int priority, int t, int ptt, int r, int s, int b, int rv, int sh,
                       int pw, int rs, int c, int status)
{
    if (p == nullptr)
        return 0;
    auto set = [](std::uint32_t& field, int v) {
        if (v >= 0)
            field = static_cast<std::uint32_t>(v);
    };
    set(p->priority, priority);
    set(p->flag_t, t);
    set(p->flag_p, ptt);
    set(p->flag_r, r);
    set(p->flag_s, s);
    set(p->flag_b, b);
    set(p->flag_rv, rv);
    set(p->flag_sh, sh);
    set(p->flag_pw, pw);
    set(p->flag_rs, rs);
    set(p->flag_c, c);
    set(p->status, status);
    return 0;
}

int sig_proto_set_ptt(sig_proto* p, int ptt)
{
    if (p != nullptr && ptt >= 0)
        p->flag_p = static_cast<std::uint32_t>(ptt);
    return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* p, unsigned id, float freq)
{
    if (p != nullptr) {
        p->gw_adjust_chan.id = id;
        p->gw_adjust_chan.freq = freq;
    }
    return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* p, std::uint8_t squelsh)
{
    if (p != nullptr)
        p->gw_adjust_squelsh.squelsh = squelsh;
    return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* p, std::uint8_t rte)
{
    if (p != nullptr)
        p->gw_adjust_rte.rte = rte;
    return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* p, std::uint8_t state)
{
    if (p != nullptr)
        p->gw_adjust_standby.state = state;
    return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel)
{
    if (p != nullptr) {
        p->gw_select_rc_chan.interface = interface;
        p->gw_select_rc_chan.channel = channel;
    }
    return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel)
{
    if (p != nullptr) {
        p->wm_select_rc_chan.interface = interface;
        p->wm_select_rc_chan.channel = channel;
    }
    return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* p, float quality)
{
    if (p != nullptr)
        p->wm_radio_quality.radio_quality = quality;
    return 0;
}

int sig_proto_set_wm_transmite(sig_proto* p, in_addr session_addr, unsigned ssrc)
{
    if (p != nullptr) {
        p->wm_trans.session_addr = session_addr;
        p->wm_trans.ssrc = ssrc;
    }
    return 0;
}

int sig_proto_set_wm_chan(sig_proto* p, unsigned id, float freq, std::uint8_t squelsh, std::uint8_t rte)
{
    if (p != nullptr) {
        p->wm_chan.id = id;
        p->wm_chan.freq = freq;
        p->wm_chan.squelsh = squelsh;
        p->wm_chan.rte = rte;
    }
    return 0;
}

int sig_proto_set_wm_standby(sig_proto* p, std::uint8_t state, std::uint8_t group,
                             std::uint8_t receiver_state)
{
    if (p != nullptr) {
        p->wm_standby.state = state;
        p->wm_standby.group = group;
        p->wm_standby.receiver_state = receiver_state;
    }
    return 0;
}

int sig_proto_set_gw_selcall(sig_proto* p, char const* id, std::uint8_t length)
{
    if (p == nullptr)
        return 0;
    copy_caller_id(p->gw_sel_call.callerID, id);
    p->gw_sel_call.callerID_length = id != nullptr ? length : 0;
    return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr session_addr, unsigned ssrc, char const* id,
                                       std::uint8_t length)
{
    if (p == nullptr)
        return 0;
    p->wm_sel_call_trans.session_addr = session_addr;
    p->wm_sel_call_trans.ssrc = ssrc;
    copy_caller_id(p->wm_sel_call_trans.callerID, id);
    p->wm_sel_call_trans.callerID_length = id != nullptr ? length : 0;
    return 0;
}

int sig_proto_is_ptt_command(sig_proto const* p)
{
    if (p == nullptr)
        return 0;
    switch (p->type) {
    case SIG_PROTO_GW_FLAG:
    case SIG_PROTO_GW_FLAG_PTT:
    case SIG_PROTO_GW_SEL_CALL:
    case SIG_PROTO_WM_FLAG:
    case SIG_PROTO_WM_TRANS:
    case SIG_PROTO_WM_SEL_CALL_TRANS:
        return 1;
    default:
        return 0;
    }
}

int sig_proto_pack(sig_proto const* p, unsigned char* buf, int size)
{
    if (p == nullptr || buf == nullptr)
        return 0;
    if (size < SIG_PROTO_HEADER_SIZE)
        return -EBADF;
    // Clearing first makes every pad octet zero.
    std::memset(buf, 0, static_cast<std::size_t>(size));
    buf[0] = static_cast<unsigned char>(p->type);
    buf[1] = static_cast<unsigned char>((p->priority & 15) << 4 | (p->flag_t & 1) << 3 |
                                        (p->flag_p & 1) << 2 | (p->flag_r & 1) << 1 | (p->flag_s & 1));
    buf[2] = static_cast<unsigned char>((p->flag_b & 1) << 7 | (p->flag_rv & 1) << 6 | (p->flag_sh & 1) << 5 |
                                        (p->flag_pw & 1) << 4 | (p->status & 511) >> 5);
    buf[3] = static_cast<unsigned char>((p->status & 31) << 3 | (p->flag_c & 3) << 1 | (p->flag_rs & 1));
    switch (p->type) {
    case SIG_PROTO_GW_ADJUST_CHAN:
        if (size < 12)
            return -EBADF;
        put_u32(buf + 4, p->gw_adjust_chan.id);
        put_float(buf + 8, p->gw_adjust_chan.freq);
        return 12;
    case SIG_PROTO_GW_SEL_CALL: {
        int const length = p->gw_sel_call.callerID_length;
        // More room than the padded packet takes (length + 8 would do);
        // callers size their buffers by this rule, so it stays.
        if (size < length + 12)
            return -EBADF;
        buf[4] = static_cast<unsigned char>(length);
        std::memcpy(buf + 5, p->gw_sel_call.callerID, static_cast<std::size_t>(length));
        return round_up4(5 + length);
    }
    case SIG_PROTO_GW_SELECT_RC_CHAN:
        if (size < 8)
            return -EBADF;
        buf[4] = p->gw_select_rc_chan.interface;
        buf[5] = p->gw_select_rc_chan.channel;
        return 8;
    case SIG_PROTO_GW_ADJUST_SQUELSHE:
        if (size < 8)
            return -EBADF;
        buf[4] = p->gw_adjust_squelsh.squelsh;
        return 8;
    case SIG_PROTO_GW_ADJUST_RTE:
        if (size < 8)
            return -EBADF;
        buf[4] = p->gw_adjust_rte.rte;
        return 8;
    case SIG_PROTO_GW_ADJUST_STANDBY:
        if (size < 8)
            return -EBADF;
        buf[4] = p->gw_adjust_standby.state;
        return 8;
    case SIG_PROTO_WM_TRANS:
        if (size < 12)
            return -EBADF;
        put_reversed_addr(buf + 4, p->wm_trans.session_addr);
        put_u32(buf + 8, p->wm_trans.ssrc);
        return 12;
    case SIG_PROTO_WM_RADIO_QUALITY:
        if (size < 8)
            return -EBADF;
        put_float(buf + 4, p->wm_radio_quality.radio_quality);
        return 8;
    case SIG_PROTO_WM_CHAN:
        if (size < 16)
            return -EBADF;
        put_u32(buf + 4, p->wm_chan.id);
        put_float(buf + 8, p->wm_chan.freq);
        buf[12] = p->wm_chan.squelsh;
        buf[13] = p->wm_chan.rte;
        return 16;
    case SIG_PROTO_WM_SEL_CALL_TRANS: {
        int const length = p->wm_sel_call_trans.callerID_length;
        if (size < length + 20)
            return -EBADF;
        put_reversed_addr(buf + 4, p->wm_sel_call_trans.session_addr);
        put_u32(buf + 8, p->wm_sel_call_trans.ssrc);
        buf[12] = static_cast<unsigned char>(length);
        std::memcpy(buf + 13, p->wm_sel_call_trans.callerID, static_cast<std::size_t>(length));
        return round_up4(13 + length);
    }
    case SIG_PROTO_WM_SELECT_RC_CHAN:
        if (size < 8)
            return -EBADF;
        buf[4] = p->wm_select_rc_chan.interface;
        buf[5] = p->wm_select_rc_chan.channel;
        return 8;
    case SIG_PROTO_WM_STANDBY:
        if (size < 8)
            return -EBADF;
        buf[4] = p->wm_standby.state;
        buf[5] = p->wm_standby.group;
        buf[6] = p->wm_standby.receiver_state;
        return 8;
    default:
        return SIG_PROTO_HEADER_SIZE;
    }
}

int sig_proto_unpack(sig_proto* p, unsigned char const* buf, int size)
{
    if (p == nullptr || buf == nullptr)
        return -E2BIG;
    if (size < SIG_PROTO_HEADER_SIZE)
        return -EBADF;
    // Decoded into a copy: a short packet leaves the record as it was, and
    // payload fields that the type does not carry keep their values.
    sig_proto r = *p;
    unsigned const type = buf[0];
    r.type = type;
    r.priority = buf[1] >> 4;
    r.flag_t = buf[1] >> 3 & 1;
    r.flag_p = buf[1] >> 2 & 1;
    r.flag_r = buf[1] >> 1 & 1;
    r.flag_s = buf[1] & 1;
    r.flag_b = buf[2] >> 7;
    r.flag_rv = buf[2] >> 6 & 1;
    r.flag_sh = buf[2] >> 5 & 1;
    r.flag_pw = buf[2] >> 4 & 1;
    r.status = static_cast<std::uint32_t>(buf[2] & 15) << 5 | buf[3] >> 3;
    r.flag_c = buf[3] >> 1 & 3;
    r.flag_rs = buf[3] & 1;
    if (header_only(type)) {
        *p = r;
        return 0;
    }
    switch (type) {
    case SIG_PROTO_GW_ADJUST_CHAN:
        if (size < 12)
            return -EBADF;
        r.gw_adjust_chan.id = get_u32(buf + 4);
        r.gw_adjust_chan.freq = get_float(buf + 8);
        break;
    case SIG_PROTO_GW_SEL_CALL: {
        if (size < 5 || size < 5 + buf[4])
            return -EBADF;
        unsigned const length = buf[4];
        r.gw_sel_call.callerID_length = static_cast<std::uint8_t>(length);
        std::memcpy(r.gw_sel_call.callerID, buf + 5, length);
        // Terminated, so that the caller ID can be taken as text; the
        // length is at most 255, the array holds 256.
        r.gw_sel_call.callerID[length] = 0;
        break;
    }
    case SIG_PROTO_GW_SELECT_RC_CHAN:
        if (size < 8)
            return -EBADF;
        r.gw_select_rc_chan.interface = buf[4];
        r.gw_select_rc_chan.channel = buf[5];
        break;
    case SIG_PROTO_GW_ADJUST_SQUELSHE:
        if (size < 8)
            return -EBADF;
        r.gw_adjust_squelsh.squelsh = buf[4];
        break;
    case SIG_PROTO_GW_ADJUST_RTE:
        if (size < 8)
            return -EBADF;
        r.gw_adjust_rte.rte = buf[4];
        break;
    case SIG_PROTO_GW_ADJUST_STANDBY:
        if (size < 8)
            return -EBADF;
        r.gw_adjust_standby.state = buf[4];
        break;
    case SIG_PROTO_WM_TRANS:
        if (size < 12)
            return -EBADF;
        r.wm_trans.session_addr = get_reversed_addr(buf + 4);
        r.wm_trans.ssrc = get_u32(buf + 8);
        break;
    case SIG_PROTO_WM_RADIO_QUALITY:
        if (size < 8)
            return -EBADF;
        r.wm_radio_quality.radio_quality = get_float(buf + 4);
        break;
    case SIG_PROTO_WM_CHAN:
        if (size < 16)
            return -EBADF;
        r.wm_chan.id = get_u32(buf + 4);
        r.wm_chan.freq = get_float(buf + 8);
        r.wm_chan.squelsh = buf[12];
        r.wm_chan.rte = buf[13];
        break;
    case SIG_PROTO_WM_SEL_CALL_TRANS: {
        if (size < 13 || size < 13 + buf[12])
            return -EBADF;
        unsigned const length = buf[12];
        r.wm_sel_call_trans.session_addr = get_reversed_addr(buf + 4);
        r.wm_sel_call_trans.ssrc = get_u32(buf + 8);
        r.wm_sel_call_trans.callerID_length = static_cast<std::uint8_t>(length);
        std::memcpy(r.wm_sel_call_trans.callerID, buf + 13, length);
        r.wm_sel_call_trans.callerID[length] = 0;
        break;
    }
    case SIG_PROTO_WM_SELECT_RC_CHAN:
        if (size < 8)
            return -EBADF;
        r.wm_select_rc_chan.interface = buf[4];
        r.wm_select_rc_chan.channel = buf[5];
        break;
    case SIG_PROTO_WM_STANDBY:
        if (size < 8)
            return -EBADF;
        r.wm_standby.state = buf[4];
        r.wm_standby.group = buf[5];
        r.wm_standby.receiver_state = buf[6];
        break;
    default:
        p->type = type;
        return -ENOEXEC;
    }
    *p = r;
    return 0;
}

int sprintf_sig_proto(char* buf, long size, sig_proto const* p, int mode)
{
    if (buf == nullptr || p == nullptr || size < 1)
        return 0;
    std::memset(buf, 0, static_cast<std::size_t>(size));
    for (s_sig_proto_sprintf const& row : sig_proto_sprintf_table)
        if (static_cast<std::uint32_t>(row.type) == p->type)
            return row.formatter(buf, size, p, mode);
    return 0;
}

int sprintf_base(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text&, sig_proto const&) {});
}

int sprintf_gw_adjust_chan(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "gw_adjust_chan.id   : %lu,\n", static_cast<unsigned long>(r.gw_adjust_chan.id));
        put(t, "gw_adjust_chan.freq : %4.4f,\n", static_cast<double>(r.gw_adjust_chan.freq));
    });
}

int sprintf_gw_selcall(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "gw_sel_call.callerID_length: %d,\n", static_cast<int>(r.gw_sel_call.callerID_length));
        put(t, "gw_sel_call.callerID : \n");
        put_caller_id(t, r.gw_sel_call.callerID, r.gw_sel_call.callerID_length);
    });
}

int sprintf_gw_select_rc_chan(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "gw_select_rc_chan.interface : %d,\n", static_cast<int>(r.gw_select_rc_chan.interface));
        put(t, "gw_select_rc_chan.channel   : %d,\n", static_cast<int>(r.gw_select_rc_chan.channel));
    });
}

int sprintf_gw_adjust_squelsh(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "gw_adjust_squelsh.squelsh   : %d,\n", static_cast<int>(r.gw_adjust_squelsh.squelsh));
    });
}

int sprintf_gw_adjust_rte(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "gw_adjust_rte.rte   : %d,\n", static_cast<int>(r.gw_adjust_rte.rte));
    });
}

int sprintf_gw_adjust_standby(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "gw_adjust_standby.state   : %d,\n", static_cast<int>(r.gw_adjust_standby.state));
    });
}

int sprintf_wm_trans(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put_addr(t, "wm_trans.session_addr : %s,\n", r.wm_trans.session_addr);
        put(t, "wm_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(r.wm_trans.ssrc));
    });
}

int sprintf_wm_radio_qulity(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "wm_radio_quality.radio_quality : %4.5f,\n",
            static_cast<double>(r.wm_radio_quality.radio_quality));
    });
}

int sprintf_wm_chan(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "wm_chan.id   : %lu,\n", static_cast<unsigned long>(r.wm_chan.id));
        put(t, "wm_chan.freq : %4.4f,\n", static_cast<double>(r.wm_chan.freq));
        put(t, "wm_chan.squelsh : %d,\n", static_cast<int>(r.wm_chan.squelsh));
        put(t, "wm_chan.rte     : %d,\n", static_cast<int>(r.wm_chan.rte));
    });
}

int sprintf_wm_selcall(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put_addr(t, "wm_sel_call_trans.session_addr : %s,\n", r.wm_sel_call_trans.session_addr);
        put(t, "wm_sel_call_trans.ssrc         : 0x%08lX,\n",
            static_cast<unsigned long>(r.wm_sel_call_trans.ssrc));
        put(t, "wm_sel_call_trans.callerID_length: %d,\n",
            static_cast<int>(r.wm_sel_call_trans.callerID_length));
        put(t, "wm_sel_call_trans.callerID : \n");
        put_caller_id(t, r.wm_sel_call_trans.callerID, r.wm_sel_call_trans.callerID_length);
    });
}

int sprintf_wm_select_rc_chan(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "wm_select_rc_chan.interface : %d,\n", static_cast<int>(r.wm_select_rc_chan.interface));
        put(t, "wm_select_rc_chan.channel   : %d,\n", static_cast<int>(r.wm_select_rc_chan.channel));
    });
}

int sprintf_wm_standby(char* buf, long size, sig_proto const* p, int mode)
{
    return render(buf, size, p, mode, [](Text& t, sig_proto const& r) {
        put(t, "wm_standby.state           : %d,\n", static_cast<int>(r.wm_standby.state));
        put(t, "wm_standby.group           : %d,\n", static_cast<int>(r.wm_standby.group));
        put(t, "wm_standby.receiver_state  : %d,\n", static_cast<int>(r.wm_standby.receiver_state));
    });
}

int cmp_sig_proto(sig_proto const* a, sig_proto const* b)
{
    return cmp_rendered(a, b, SIG_PROTO_PRINT_TYPE);
}

int cmp_sig_proto_flags(sig_proto const* a, sig_proto const* b)
{
    return cmp_rendered(a, b, SIG_PROTO_PRINT_FLAGS_ONLY);
}

int cmp_sig_proto_header(sig_proto const* a, sig_proto const* b)
{
    if (a == nullptr || b == nullptr)
        return -1;
    return radio_wire::source_difference(a->type, a->src_ssrc, a->src_addr, b->type, b->src_ssrc,
                                         b->src_addr);
}

int init_sig_proto_queue(sig_proto_queue* q)
{
    if (q == nullptr)
        return 0;
    std::memset(q, 0, sizeof *q);
    for (int i = 0; i < SIG_PROTO_QUEUE_SIZE; ++i)
        q->packet[i].type = i < SIG_PROTO_INIT_TYPE_COUNT ? static_cast<std::uint32_t>(init_sig_proto_type[i])
                                                          : static_cast<std::uint32_t>(-1);
    return 0;
}

bool is_little_endian()
{
    std::uint32_t const one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}
