#pragma once

// ED-137 radio RTP header extension (identifier 0x0167): the in-memory record
// of one header and its packer and unpackers. Plain functions over a plain
// record; results are a length, 0, or a negated errno value (-E2BIG for a
// missing record or buffer, -ENOEXEC for a kind or form that cannot be
// packed, -EBADF for a buffer that is too short). Nothing here allocates.
//
// A header is of the TX kind (towards the radio: push-to-talk) or of the RX
// kind (from the radio: push-to-talk state, squelch, signal quality). Every
// multi-byte field is built and read byte by byte, so the results are the
// same on any host byte order.

#include <cstdint>

constexpr std::uint32_t R2S_PROTO_TYPE_TX = 1;
constexpr std::uint32_t R2S_PROTO_TYPE_RX = 2;

// Additional feature types (upper four bits of the feature byte). 3 and 4
// mean different features in the two directions.
constexpr std::uint32_t R2S_PROTO_RX_SQI = 1;
constexpr std::uint32_t R2S_PROTO_TX_CLIMAX_TIME_DELAY = 2;
constexpr std::uint32_t R2S_PROTO_RX_RRC = 3;
constexpr std::uint32_t R2S_PROTO_TX_RRC = 3;
constexpr std::uint32_t R2S_PROTO_RX_MAM = 4;
constexpr std::uint32_t R2S_PROTO_TX_RRM = 4;

constexpr unsigned R2S_PROTO_MAX_ADDITIONALS = 16;

// Feature records, one word per field; the widths in the comments are the
// bits the field has on the wire. The packer masks every field to its width.
struct r2s_proto_rx_additional_sqi {
    std::uint32_t qidx;   // 5 bits
    std::uint32_t method; // 3 bits
};

// RRC forms: one data octet, or four.
constexpr std::uint32_t R2S_PROTO_RRC_ONE_BYTE = 0;
constexpr std::uint32_t R2S_PROTO_RRC_FOUR_BYTES = 1;

struct r2s_proto_rx_additional_rrc {
    std::uint32_t flag[8];     // 1 bit each; flag[0] is the most significant bit
    std::uint32_t form;        // R2S_PROTO_RRC_ONE_BYTE or R2S_PROTO_RRC_FOUR_BYTES
    std::uint32_t ext_flag[2]; // 1 bit each, four-byte form only
    std::uint32_t value[2];    // 8 bits each, four-byte form only
};

// CLIMAX dynamic delay compensation, measurement answer.
struct r2s_proto_rx_additional_mam {
    std::uint32_t tqg; // 1 bit
    std::uint32_t t1;  // 23 bits
    std::uint32_t nmr; // 1 bit
    std::uint32_t t2;  // 23 bits
    std::uint32_t tsd; // 16 bits
    std::uint32_t tj1; // 16 bits
    std::uint32_t tid; // 16 bits
};

struct r2s_proto_tx_additional_climax_time_delay {
    std::uint32_t delay; // 8 bits
};

struct r2s_proto_tx_additional_rrc {
    std::uint32_t flag[8]; // 1 bit each; flag[0] is the most significant bit
};

// CLIMAX dynamic delay compensation, measurement request.
struct r2s_proto_tx_additional_rrm {
    std::uint32_t tqv; // 1 bit
    std::uint32_t t1;  // 23 bits
};

// One feature slot: the type word, then its data words. Which member holds
// the data follows from the type and the record's kind.
struct r2s_proto_additional {
    std::uint32_t type;
    union {
        std::uint32_t data[13];
        r2s_proto_rx_additional_sqi rx_sqi;
        r2s_proto_rx_additional_rrc rx_rrc;
        r2s_proto_rx_additional_mam rx_mam;
        r2s_proto_tx_additional_climax_time_delay tx_climax_time_delay;
        r2s_proto_tx_additional_rrc tx_rrc;
        r2s_proto_tx_additional_rrm tx_rrm;
    };
};

struct r2s_proto_tx_header {
    std::uint32_t ptt_type;      // 3 bits
    std::uint32_t ptt_id;        // 6 bits
    std::uint32_t ptt_mute;      // 1 bit
    std::uint32_t ptt_summation; // 1 bit
};

struct r2s_proto_rx_header {
    std::uint32_t ptt_type;      // 3 bits
    std::uint32_t squ;           // 1 bit
    std::uint32_t ptt_id;        // 6 bits
    std::uint32_t ptt_mute;      // 1 bit
    std::uint32_t ptt_summation; // 1 bit
    std::uint32_t sct;           // 1 bit
};

struct r2s_proto {
    // Not on the wire: the receiver fills them from the packet information,
    // the sender from its state. The address is in network order.
    std::uint32_t src_addr;
    std::uint32_t src_ssrc;
    std::uint32_t type; // R2S_PROTO_TYPE_TX, R2S_PROTO_TYPE_RX, or 0
    union {
        std::uint32_t header[6];
        r2s_proto_tx_header tx; // kind TX
        r2s_proto_rx_header rx; // kind RX
    };
    std::uint32_t additional_count; // 0..16
    r2s_proto_additional additional[R2S_PROTO_MAX_ADDITIONALS];
};

static_assert(sizeof(r2s_proto_additional) == 14 * 4);
static_assert(sizeof(r2s_proto) == (10 + 16 * 14) * 4);

// Record set-up. All return 0 and leave a null record alone.
int r2s_proto_init(r2s_proto* p, unsigned long type);
int r2s_proto_set_type(r2s_proto* p, unsigned long type);
int r2s_proto_set_tx_header(r2s_proto* p, unsigned long ptt_type, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation);
int r2s_proto_set_rx_header(r2s_proto* p, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation, unsigned long sct);
int r2s_proto_reset_additionals(r2s_proto* p);

// The `add` family: each appends one feature (type and data words) unless
// the record or the item is null or 16 features are present. All return 0.
int r2s_proto_add_rx_sqi(r2s_proto* p, r2s_proto_rx_additional_sqi const* item);
int r2s_proto_add_rx_sqi(r2s_proto* p, unsigned long qidx, unsigned long method);
int r2s_proto_add_rx_rrc(r2s_proto* p, r2s_proto_rx_additional_rrc const* item);
int r2s_proto_add_rx_mam(r2s_proto* p, r2s_proto_rx_additional_mam const* item);
int r2s_proto_add_tx_time_delay(r2s_proto* p, r2s_proto_tx_additional_climax_time_delay const* item);
int r2s_proto_add_tx_rrc(r2s_proto* p, r2s_proto_tx_additional_rrc const* item);
int r2s_proto_add_tx_rrm(r2s_proto* p, r2s_proto_tx_additional_rrm const* item);

// Packs the header of the record's kind into `buf` (all `size` bytes are
// cleared first). Returns the number of bytes written: 4 for a header
// without features (two zero bytes follow it), else 2 plus the features of
// the kind's direction (no padding). -E2BIG for a null record, -ENOEXEC for
// another kind or an RRC form other than 0 and 1, -EBADF when the buffer is
// too short.
int r2s_proto_pack(r2s_proto const* p, unsigned char* buf, int size);
// The two directions; a null record or buffer gives 0.
int r2s_proto_pack_rx(r2s_proto const* p, unsigned char* buf, int size);
int r2s_proto_pack_tx(r2s_proto const* p, unsigned char* buf, int size);

// Reads one header of the given direction from `len` bytes. Returns 0,
// -E2BIG for a null record or buffer, -EBADF for fewer than 2 bytes or a
// feature that runs past the end (the features before it stay decoded and
// counted). Features of unknown type or length are skipped whole; at most
// 16 are decoded and nothing after the 16th is looked at.
int r2s_proto_unpack_rx(r2s_proto* p, unsigned char const* buf, int len);
int r2s_proto_unpack_tx(r2s_proto* p, unsigned char const* buf, int len);

// 0 when both headers come from the same source (kind, SSRC and address),
// -1 when either is null, else the first difference b - a of those words.
int cmp_r2s_proto_source(r2s_proto const* a, r2s_proto const* b);
