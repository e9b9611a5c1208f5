#pragma once

// VEZE radio packets, carried in the RTP header extension 0x1337: the
// in-memory record `sig_proto`, its packer and unpacker, setters, the text
// renderer used for logging and for comparing packets, the table of packet
// type names and a packet queue.
//
// Wire form: a 4-octet header and a per-type payload. Multi-byte fields are
// big-endian and built byte by byte, except `session_addr`, which travels
// with its octets reversed (a.b.c.d as d, c, b, a). Failures are negated
// errno values (-EBADF, -ENOEXEC, -E2BIG). Nothing here allocates.

#include <cstdint>

#include <netinet/in.h>

// Packet types: 1..13 from a workstation to the gateway, 129..135 from the
// gateway to workstations.
enum : std::uint32_t {
    SIG_PROTO_GW_FLAG = 1,
    SIG_PROTO_GW_ADJUST_CHAN = 2,
    SIG_PROTO_GW_FLAG_PTT = 3,
    SIG_PROTO_GW_FLAG_BSS = 4,
    SIG_PROTO_GW_FLAG_RV = 5,
    SIG_PROTO_GW_FLAG_SH = 6,
    SIG_PROTO_GW_FLAG_PW = 7,
    SIG_PROTO_GW_FLAG_RS = 8,
    SIG_PROTO_GW_SEL_CALL = 9,
    SIG_PROTO_GW_SELECT_RC_CHAN = 10,
    SIG_PROTO_GW_ADJUST_SQUELSHE = 11,
    SIG_PROTO_GW_ADJUST_RTE = 12,
    SIG_PROTO_GW_ADJUST_STANDBY = 13,
    SIG_PROTO_WM_FLAG = 129,
    SIG_PROTO_WM_TRANS = 130,
    SIG_PROTO_WM_RADIO_QUALITY = 131,
    SIG_PROTO_WM_CHAN = 132,
    SIG_PROTO_WM_SEL_CALL_TRANS = 133,
    SIG_PROTO_WM_SELECT_RC_CHAN = 134,
    SIG_PROTO_WM_STANDBY = 135,
};

constexpr int SIG_PROTO_HEADER_SIZE = 4;
// Caller-ID arrays: up to 255 characters and a terminating zero.
constexpr int SIG_PROTO_CALLER_ID_SIZE = 256;

struct s_sig_proto_gw_adjust_chan {
    std::uint32_t id;
    float freq;
};

struct s_sig_proto_gw_sel_call {
    std::uint8_t callerID_length;
    std::uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};

struct s_sig_proto_gw_select_rc_chan {
    std::uint8_t interface;
    std::uint8_t channel;
};

struct s_sig_proto_gw_adjust_squelsh {
    std::uint8_t squelsh;
};

struct s_sig_proto_gw_adjust_rte {
    std::uint8_t rte;
};

struct s_sig_proto_gw_adjust_standby {
    std::uint8_t state;
};

struct s_sig_proto_wm_trans {
    in_addr session_addr; // network order
    std::uint32_t ssrc;
};

struct s_sig_proto_wm_radio_quality {
    float radio_quality;
};

struct s_sig_proto_wm_chan {
    std::uint32_t id;
    float freq;
    std::uint8_t squelsh;
    std::uint8_t rte;
};

struct s_sig_proto_wm_sel_call_trans {
    in_addr session_addr; // network order
    std::uint32_t ssrc;
    std::uint8_t callerID_length;
    std::uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};

struct s_sig_proto_wm_select_rc_chan {
    std::uint8_t interface;
    std::uint8_t channel;
};

struct s_sig_proto_wm_standby {
    std::uint8_t state;
    std::uint8_t group;
    std::uint8_t receiver_state;
};

struct sig_proto {
    // Not on the wire: filled by the receiver from the driver's packet
    // information. The address is in network order.
    std::uint32_t src_addr;
    std::uint32_t src_ssrc;
    std::uint32_t type;     // 8 bits on the wire
    std::uint32_t priority; // 4 bits
    std::uint32_t flag_t;   // flags: 1 bit each
    std::uint32_t flag_p;
    std::uint32_t flag_r;
    std::uint32_t flag_s;
    std::uint32_t flag_b;
    std::uint32_t flag_rv;
    std::uint32_t flag_sh;
    std::uint32_t flag_rs;
    std::uint32_t flag_pw;
    std::uint32_t flag_c; // 2 bits
    std::uint32_t status; // 9 bits
    // The payload of the type; one shared area.
    union {
        s_sig_proto_gw_adjust_chan gw_adjust_chan;
        s_sig_proto_gw_sel_call gw_sel_call;
        s_sig_proto_gw_select_rc_chan gw_select_rc_chan;
        s_sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
        s_sig_proto_gw_adjust_rte gw_adjust_rte;
        s_sig_proto_gw_adjust_standby gw_adjust_standby;
        s_sig_proto_wm_trans wm_trans;
        s_sig_proto_wm_radio_quality wm_radio_quality;
        s_sig_proto_wm_chan wm_chan;
        s_sig_proto_wm_sel_call_trans wm_sel_call_trans;
        s_sig_proto_wm_select_rc_chan wm_select_rc_chan;
        s_sig_proto_wm_standby wm_standby;
    };
};

// Packet type names: the 20 types in type order, then the terminator row
// {-1, ""}; the remaining rows ({0, ""}) are never reached by the lookups,
// which stop at the first negative id.
constexpr int SIG_PROTO_NAME_TABLE_SIZE = 128;

struct s_sig_proto_table_name {
    int id = 0;
    char const* name = "";
};

extern s_sig_proto_table_name const sig_proto_packet_const_name[SIG_PROTO_NAME_TABLE_SIZE];

// The name of the first row with `id`, or null.
char const* sig_proto_find_name_by_id(s_sig_proto_table_name const* table, int id);
// The id of the first row named exactly `name`, or -1 (also for nulls).
int sig_proto_find_id_by_name(s_sig_proto_table_name const* table, char const* name);

// Record set-up. All return 0 and do nothing for a null record.
int sig_proto_init(sig_proto* p);
// Header fields, in this order; a negative argument leaves its field alone.
int sig_proto_set_base(sig_proto* p, int priority, int t, int ptt, int r, int s, int b, int rv, int sh,
                       int pw, int rs, int c, int status);
int sig_proto_set_ptt(sig_proto* p, int ptt);
// Payload setters: the arguments are stored as given, without range checks.
int sig_proto_set_gw_adjust_chan(sig_proto* p, unsigned id, float freq);
int sig_proto_set_gw_adjust_squelsh(sig_proto* p, std::uint8_t squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* p, std::uint8_t rte);
int sig_proto_set_gw_adjust_standby(sig_proto* p, std::uint8_t state);
int sig_proto_set_gw_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel);
int sig_proto_set_wm_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel);
int sig_proto_set_wm_radio_quality(sig_proto* p, float quality);
int sig_proto_set_wm_transmite(sig_proto* p, in_addr session_addr, unsigned ssrc);
int sig_proto_set_wm_chan(sig_proto* p, unsigned id, float freq, std::uint8_t squelsh, std::uint8_t rte);
int sig_proto_set_wm_standby(sig_proto* p, std::uint8_t state, std::uint8_t group,
                             std::uint8_t receiver_state);
// Caller IDs: the text of `id` (at most 255 characters) replaces the array;
// `length` is stored as given, not taken from the text. A null `id` stores
// an empty caller ID of length 0.
int sig_proto_set_gw_selcall(sig_proto* p, char const* id, std::uint8_t length);
int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr session_addr, unsigned ssrc, char const* id,
                                       std::uint8_t length);

// 1 for the push-to-talk carrying types 1, 3, 9, 129, 130 and 133, else 0.
int sig_proto_is_ptt_command(sig_proto const* p);

// Packs the record into `buf`, clearing all `size` octets first. Returns the
// packed length, -EBADF when `size` is below what the type asks, or 0 for a
// null pointer. Types outside the table pack as the header alone.
int sig_proto_pack(sig_proto const* p, unsigned char* buf, int size);
// Reads one packet of `size` octets. Returns 0; -EBADF for fewer octets than
// the type needs (record unchanged); -ENOEXEC for a type outside the table
// (only `type` changes); -E2BIG for a null pointer. Payload fields that the
// type does not carry keep their values; trailing octets are ignored.
int sig_proto_unpack(sig_proto* p, unsigned char const* buf, int size);

// Rendering modes, or-ed.
constexpr int SIG_PROTO_PRINT_TYPE = 1;       // the type as a number
constexpr int SIG_PROTO_PRINT_TYPE_NAME = 2;  // the type by its name where it has one
constexpr int SIG_PROTO_PRINT_FLAGS_ONLY = 4; // no priority, status or payload

// A formatter writes the record's text into `buf` and returns the number of
// characters in it. The text is always terminated and never longer than
// `size` - 2 characters; it is cut where the room ends.
typedef int (*sig_proto_formatter)(char* buf, long size, sig_proto const* p, int mode);

struct s_sig_proto_sprintf {
    int type;
    sig_proto_formatter formatter;
};

constexpr int SIG_PROTO_SPRINTF_TABLE_SIZE = 21;
extern s_sig_proto_sprintf const sig_proto_sprintf_table[SIG_PROTO_SPRINTF_TABLE_SIZE];

// Clears `size` octets of `buf` and renders the record with the formatter of
// its type; 0 (empty text) for a null argument, a size below 1 or a type
// without a formatter.
int sprintf_sig_proto(char* buf, long size, sig_proto const* p, int mode);

int sprintf_base(char* buf, long size, sig_proto const* p, int mode);
int sprintf_gw_adjust_chan(char* buf, long size, sig_proto const* p, int mode);
int sprintf_gw_selcall(char* buf, long size, sig_proto const* p, int mode);
int sprintf_gw_select_rc_chan(char* buf, long size, sig_proto const* p, int mode);
int sprintf_gw_adjust_squelsh(char* buf, long size, sig_proto const* p, int mode);
int sprintf_gw_adjust_rte(char* buf, long size, sig_proto const* p, int mode);
int sprintf_gw_adjust_standby(char* buf, long size, sig_proto const* p, int mode);
int sprintf_wm_trans(char* buf, long size, sig_proto const* p, int mode);
int sprintf_wm_radio_qulity(char* buf, long size, sig_proto const* p, int mode);
int sprintf_wm_chan(char* buf, long size, sig_proto const* p, int mode);
int sprintf_wm_selcall(char* buf, long size, sig_proto const* p, int mode);
int sprintf_wm_select_rc_chan(char* buf, long size, sig_proto const* p, int mode);
int sprintf_wm_standby(char* buf, long size, sig_proto const* p, int mode);

// Comparisons: 0 when equal in their sense, -1 when a pointer is null,
// otherwise non-zero.
// By the texts rendered with mode 1: type, flags, priority, status and the
// payload as printed (frequencies to four decimals).
int cmp_sig_proto(sig_proto const* a, sig_proto const* b);
// By the ten flag lines only.
int cmp_sig_proto_flags(sig_proto const* a, sig_proto const* b);
// By type, then SSRC, then source address: the first difference b - a.
int cmp_sig_proto_header(sig_proto const* a, sig_proto const* b);

// A queue of 32 packets, each with a companion word.
constexpr int SIG_PROTO_QUEUE_SIZE = 32;

struct sig_proto_queue {
    sig_proto packet[SIG_PROTO_QUEUE_SIZE];
    std::uint32_t word[SIG_PROTO_QUEUE_SIZE];
};

// The types that seed the queue's first 17 records, in this order.
constexpr int SIG_PROTO_INIT_TYPE_COUNT = 17;
extern int const init_sig_proto_type[SIG_PROTO_INIT_TYPE_COUNT];

// Clears the queue, types records 0..16 from `init_sig_proto_type` and the
// others -1.
int init_sig_proto_queue(sig_proto_queue* q);

// True when the processor stores the least significant octet of a word
// first.
bool is_little_endian();
