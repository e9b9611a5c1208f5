#pragma once

// SNMPv2c trap messages (RFC 1901 message, RFC 3416 SNMPv2-Trap-PDU) encoded
// in BER (X.690) into a fixed buffer of the caller's session record. Plain
// functions that report failure through their results and never allocate:
// 0 or -1 for the session functions, the position after what was written or
// null for the encoders.
//
// One trap:
//     snmp_session_seed(&s, seed);          // once, before the first trap
//     trap_init(&s, "public");              // draws the next request id
//     trap_pack_begin(&s);
//     trap_pack_add(&s, ...);               // once per binding
//     trap_pack_end(&s);                    // s.buffer[0 .. s.length)
//
// The builder adds no binding of its own. Receivers drop an SNMPv2-Trap-PDU
// whose first two bindings are not sysUpTime.0 (TimeTicks, get_uptime()) and
// snmpTrapOID.0 (OBJECT IDENTIFIER) (RFC 3416 4.2.6): callers add those two
// first.
//
// Every constructed header (message, PDU, binding list, binding) takes the
// fixed 4-octet form 30 82 HH LL, so that its length can be patched once the
// content is known; primitive elements carry the shortest definite length.
// A failed step spoils the session (cursor null) until the next trap_init.

#include <cstdint>

enum : std::uint32_t {
    TRAP_BUFFER_SIZE = 2048,
};

// Tags (and type numbers of trap_pack_add).
enum : std::uint8_t {
    ASN_INTEGER = 0x02,
    ASN_BIT_STR = 0x03,
    ASN_OCTET_STR = 0x04,
    ASN_NULL = 0x05,
    ASN_OBJECT_ID = 0x06,
    ASN_SEQUENCE = 0x30,
    ASN_IPADDRESS = 0x40,
    ASN_COUNTER = 0x41,
    ASN_GAUGE = 0x42,
    ASN_TIMETICKS = 0x43,
    ASN_OPAQUE = 0x44,
    ASN_NSAP = 0x45,
    ASN_COUNTER64 = 0x46, // refused
    ASN_UINTEGER = 0x47,
    SNMP_MSG_TRAP2 = 0xA7,
};

enum trap_state : std::uint32_t {
    TRAP_STATE_INITIALISED = 0,
    TRAP_STATE_BEGUN = 1,
    TRAP_STATE_ADDED = 2,
    TRAP_STATE_PACKED = 3,
};

struct trap_session {
    std::uint32_t version;
    std::uint32_t pdu_type;
    // Before trap_init: the seed or the previous trap's id; after: this one's.
    std::uint32_t request_id;
    std::uint32_t error_status;
    std::uint32_t error_index;
    char community[32]; // zero-terminated, the 32nd byte always 0
    std::uint32_t state;
    std::uint8_t buffer[TRAP_BUFFER_SIZE];
    std::uint32_t room;   // bytes still free in buffer
    std::uint32_t length; // of the finished message, 0 until trap_pack_end
    std::uint8_t* message_body;
    std::uint8_t* pdu_header;
    std::uint8_t* pdu_body;
    std::uint8_t* varlist_header;
    std::uint8_t* varlist_body;
    std::uint8_t* cursor; // next byte to write; null after any failure
};

// Session functions. A null session: seed and init do nothing and return 0,
// the others return -1.
int snmp_session_seed(trap_session* session, std::uint32_t seed);
// Copies the community up to its terminating zero, at most 31 characters;
// null gives "tivrex".
int trap_init(trap_session* session, const char* community);
int trap_pack_begin(trap_session* session);
// `name` holds `count` sub-identifiers; `length` is the value's size in
// bytes (for an OBJECT IDENTIFIER value: 4 per sub-identifier).
int trap_pack_add(trap_session* session, const std::uint32_t* name, std::uint32_t count, int type,
                  const void* value, std::uint32_t length);
int trap_pack_end(trap_session* session);

// Encoders: write at `data`, take what they wrote from *room, and return the
// position after it, or null when it does not fit or is refused.
std::uint8_t* asn_build_length(std::uint8_t* data, std::uint32_t* room, std::uint32_t length);
std::uint8_t* asn_build_header(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                               std::uint32_t length);
// True (failure) when the header was not written or the content does not fit.
bool _asn_build_header_check(const std::uint8_t* header, std::uint32_t room, std::uint32_t length);
std::uint8_t* asn_build_sequence(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                                 std::uint32_t length);
std::uint8_t* asn_build_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                            const std::int32_t* value, std::uint32_t size);
std::uint8_t* asn_build_unsigned_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                                     const std::uint32_t* value, std::uint32_t size);
// Null bytes write `count` zero bytes.
std::uint8_t* asn_build_string(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                               const std::uint8_t* bytes, std::uint32_t count);
std::uint8_t* asn_build_bitstring(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                                  const std::uint8_t* bytes, std::uint32_t count);
std::uint8_t* asn_build_null(std::uint8_t* data, std::uint32_t* room, std::uint8_t type);
std::uint8_t* asn_build_objid(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                              const std::uint32_t* ids, std::uint32_t count);
// One binding: SEQUENCE { name, value } with the value encoded by `type`.
std::uint8_t* snmp_build_var_op(std::uint8_t* data, const std::uint32_t* name,
                                const std::uint32_t* name_count, int type, std::uint32_t value_length,
                                const void* value, std::uint32_t* room);

// Centiseconds since boot (the TimeTicks of sysUpTime), from the boot clock:
// consecutive values never go backwards.
std::uint32_t get_uptime();

// Dotted text to sub-identifiers: empty fields skipped, each field read as
// strtol reads it (blanks and a sign allowed, no digits give 0) with the
// value clamped at 4294967295, at most the first 127 characters looked at.
// Returns the number stored, at most `capacity`.
int parse_oid(std::uint32_t* out, int capacity, const char* text);
