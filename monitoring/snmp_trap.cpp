#include "monitoring/snmp_trap.hpp"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace {

// Lengths above this cannot take the two-octet form of the headers; the
// buffer never holds that much anyway.
constexpr std::uint32_t kMaxLength = 0xFFFF;

// Names are limited to 128 sub-identifiers, what SNMP receivers accept; the
// first two count even when fewer were given.
constexpr std::uint32_t kMaxSubIds = 128;

constexpr char kDefaultCommunity[] = "tivrex";

// Values reach the encoders through untyped caller pointers that need not be
// aligned (a byte buffer cast by the caller).
std::uint32_t load32(const void* base, std::uint32_t index)
{
    std::uint32_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(base) + 4 * index, 4);
    return v;
}

// X.690 8.19.2: base 128, most significant group first, bit 8 set on every
// octet but the last.
std::uint32_t subid_octets(std::uint32_t v)
{
    if (v < 0x80)
        return 1;
    if (v < 0x4000)
        return 2;
    if (v < 0x200000)
        return 3;
    if (v <= 0x0FFFFFFF)
        return 4;
    return 5;
}

std::uint8_t* put_subid(std::uint8_t* p, std::uint32_t v)
{
    const std::uint32_t n = subid_octets(v);
    for (std::uint32_t i = n; i-- > 0;) {
        std::uint8_t octet = static_cast<std::uint8_t>((v >> (7 * i)) & 0x7F);
        if (i != 0)
            octet |= 0x80;
        *p++ = octet;
    }
    return p;
}

// The 4-octet header form, rewritten in place once the content is known.
void put_sequence_header(std::uint8_t* p, std::uint8_t type, std::uint32_t length)
{
    p[0] = type;
    p[1] = 0x82;
    p[2] = static_cast<std::uint8_t>(length >> 8);
    p[3] = static_cast<std::uint8_t>(length);
}

// Writes the header and the `size` top octets of `v`.
std::uint8_t* put_integer(std::uint8_t* data, std::uint32_t* room, std::uint8_t type, std::uint32_t v,
                          std::uint32_t size, bool leading_zero)
{
    if (room == nullptr)
        return nullptr;
    const std::uint32_t content = size + (leading_zero ? 1 : 0);
    data = asn_build_header(data, room, type, content);
    if (_asn_build_header_check(data, *room, content))
        return nullptr;
    if (leading_zero)
        *data++ = 0;
    for (std::uint32_t i = 0; i < size; ++i) {
        *data++ = static_cast<std::uint8_t>(v >> 24);
        v <<= 8;
    }
    *room -= content;
    return data;
}

// X.690 8.3.2: drop a leading octet while the following bit repeats it, i.e.
// while the top nine bits are all zero or all one.
std::uint32_t shortest(std::uint32_t& v, std::uint32_t size)
{
    constexpr std::uint32_t mask = 0x1FFu << 23;
    while (((v & mask) == 0 || (v & mask) == mask) && size > 1) {
        v <<= 8;
        --size;
    }
    return size;
}

} // namespace

std::uint8_t* asn_build_length(std::uint8_t* data, std::uint32_t* room, std::uint32_t length)
{
    if (data == nullptr || room == nullptr || length > kMaxLength)
        return nullptr;
    // X.690 8.1.3: short form below 128, long form with one or two octets.
    if (length < 0x80) {
        if (*room < 1)
            return nullptr;
        *data++ = static_cast<std::uint8_t>(length);
        *room -= 1;
    } else if (length <= 0xFF) {
        if (*room < 2)
            return nullptr;
        *data++ = 0x81;
        *data++ = static_cast<std::uint8_t>(length);
        *room -= 2;
    } else {
        if (*room < 3)
            return nullptr;
        *data++ = 0x82;
        *data++ = static_cast<std::uint8_t>(length >> 8);
        *data++ = static_cast<std::uint8_t>(length);
        *room -= 3;
    }
    return data;
}

std::uint8_t* asn_build_header(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                               std::uint32_t length)
{
    if (data == nullptr || room == nullptr || *room < 1)
        return nullptr;
    *data++ = type;
    *room -= 1;
    return asn_build_length(data, room, length);
}

bool _asn_build_header_check(const std::uint8_t* header, std::uint32_t room, std::uint32_t length)
{
    return header == nullptr || room < length;
}

std::uint8_t* asn_build_sequence(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                                 std::uint32_t length)
{
    if (data == nullptr || room == nullptr || *room < 4 || length > kMaxLength)
        return nullptr;
    put_sequence_header(data, type, length);
    *room -= 4;
    return data + 4;
}

std::uint8_t* asn_build_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                            const std::int32_t* value, std::uint32_t size)
{
    if (value == nullptr || size != 4)
        return nullptr;
    std::uint32_t v = load32(value, 0);
    size = shortest(v, size);
    return put_integer(data, room, type, v, size, false);
}

std::uint8_t* asn_build_unsigned_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                                     const std::uint32_t* value, std::uint32_t size)
{
    if (value == nullptr || size != 4)
        return nullptr;
    std::uint32_t v = load32(value, 0);
    // A set top bit would read as negative: a zero octet goes first.
    if ((v & 0x80000000u) != 0)
        return put_integer(data, room, type, v, size, true);
    size = shortest(v, size);
    return put_integer(data, room, type, v, size, false);
}

std::uint8_t* asn_build_string(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                               const std::uint8_t* bytes, std::uint32_t count)
{
    if (room == nullptr)
        return nullptr;
    data = asn_build_header(data, room, type, count);
    if (_asn_build_header_check(data, *room, count))
        return nullptr;
    if (bytes != nullptr)
        std::memcpy(data, bytes, count);
    else
        std::memset(data, 0, count);
    *room -= count;
    return data + count;
}

std::uint8_t* asn_build_bitstring(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                                  const std::uint8_t* bytes, std::uint32_t count)
{
    if (bytes == nullptr || count == 0)
        return nullptr;
    return asn_build_string(data, room, type, bytes, count);
}

std::uint8_t* asn_build_null(std::uint8_t* data, std::uint32_t* room, std::uint8_t type)
{
    if (room == nullptr)
        return nullptr;
    data = asn_build_header(data, room, type, 0);
    if (_asn_build_header_check(data, *room, 0))
        return nullptr;
    return data;
}

std::uint8_t* asn_build_objid(std::uint8_t* data, std::uint32_t* room, std::uint8_t type,
                              const std::uint32_t* ids, std::uint32_t count)
{
    if (room == nullptr)
        return nullptr;
    if ((count < 2 ? 2 : count) > kMaxSubIds)
        return nullptr;
    if (count > 0 && ids == nullptr)
        return nullptr;
    // X.690 8.19.4: the first two sub-identifiers share one encoded value,
    // first × 40 + second; the second stays below 40 under arcs 0 and 1.
    std::uint32_t first_value = 0;
    if (count >= 1) {
        const std::uint32_t first = load32(ids, 0);
        if (first > 2)
            return nullptr;
        first_value = first * 40;
        if (count >= 2) {
            const std::uint32_t second = load32(ids, 1);
            if (first < 2 && second >= 40)
                return nullptr;
            // Under arc 2 the sum must still fit the 32 bits of a value.
            if (second > 0xFFFFFFFFu - first_value)
                return nullptr;
            first_value += second;
        }
    }
    std::uint32_t content = subid_octets(first_value);
    for (std::uint32_t i = 2; i < count; ++i)
        content += subid_octets(load32(ids, i));

    data = asn_build_header(data, room, type, content);
    if (_asn_build_header_check(data, *room, content))
        return nullptr;
    data = put_subid(data, first_value);
    for (std::uint32_t i = 2; i < count; ++i)
        data = put_subid(data, load32(ids, i));
    *room -= content;
    return data;
}

std::uint8_t* snmp_build_var_op(std::uint8_t* data, const std::uint32_t* name,
                                const std::uint32_t* name_count, int type, std::uint32_t value_length,
                                const void* value, std::uint32_t* room)
{
    if (data == nullptr || room == nullptr || name_count == nullptr || *room < 4)
        return nullptr;
    // The binding's header goes in last, over these four reserved octets.
    std::uint8_t* const header = data;
    *room -= 4;
    std::uint8_t* const body = data + 4;

    std::uint8_t* p = asn_build_objid(body, room, ASN_OBJECT_ID, name, *name_count);
    if (p == nullptr)
        return nullptr;
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    const auto tag = static_cast<std::uint8_t>(type);
    switch (type) {
    case ASN_INTEGER:
        p = asn_build_int(p, room, tag, static_cast<const std::int32_t*>(value), value_length);
        break;
    case ASN_BIT_STR:
        p = asn_build_bitstring(p, room, tag, bytes, value_length);
        break;
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
    case ASN_NSAP:
        p = asn_build_string(p, room, tag, bytes, value_length);
        break;
    case ASN_NULL:
        p = asn_build_null(p, room, tag);
        break;
    case ASN_OBJECT_ID:
        p = asn_build_objid(p, room, tag, static_cast<const std::uint32_t*>(value), value_length / 4);
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
        p = asn_build_unsigned_int(p, room, tag, static_cast<const std::uint32_t*>(value), value_length);
        break;
    default:
        return nullptr;
    }
    if (p == nullptr)
        return nullptr;
    put_sequence_header(header, ASN_SEQUENCE, static_cast<std::uint32_t>(p - body));
    return p;
}

int snmp_session_seed(trap_session* session, std::uint32_t seed)
{
    if (session != nullptr)
        session->request_id = seed;
    return 0;
}

int trap_init(trap_session* session, const char* community)
{
    if (session == nullptr)
        return 0;
    session->version = 1; // SNMPv2c (RFC 1901)
    session->pdu_type = SNMP_MSG_TRAP2;
    // A linear congruential step; masked to a positive INTEGER and made odd.
    session->request_id = ((session->request_id * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
    session->error_status = 0;
    session->error_index = 0;
    std::memset(session->community, 0, sizeof session->community);
    if (community != nullptr) {
        // Up to the terminating zero: a short string has nothing past it to read.
        const std::size_t n = ::strnlen(community, sizeof session->community - 1);
        std::memcpy(session->community, community, n);
    } else {
        std::memcpy(session->community, kDefaultCommunity, sizeof kDefaultCommunity - 1);
    }
    std::memset(session->buffer, 0, sizeof session->buffer);
    session->length = 0;
    session->room = TRAP_BUFFER_SIZE;
    session->state = TRAP_STATE_INITIALISED;
    session->message_body = nullptr;
    session->pdu_header = nullptr;
    session->pdu_body = nullptr;
    session->varlist_header = nullptr;
    session->varlist_body = nullptr;
    session->cursor = nullptr;
    return 0;
}

int trap_pack_begin(trap_session* session)
{
    if (session == nullptr || session->state != TRAP_STATE_INITIALISED)
        return -1;
    session->state = TRAP_STATE_BEGUN;
    std::uint32_t* const room = &session->room;
    std::uint8_t*& c = session->cursor;

    // The three constructed headers get their lengths in trap_pack_end.
    c = asn_build_sequence(session->buffer, room, ASN_SEQUENCE, 0);
    if (c == nullptr)
        return -1;
    session->message_body = c;
    const auto version = static_cast<std::int32_t>(session->version);
    c = asn_build_int(c, room, ASN_INTEGER, &version, sizeof version);
    if (c == nullptr)
        return -1;
    c = asn_build_string(
        c, room, ASN_OCTET_STR, reinterpret_cast<const std::uint8_t*>(session->community),
        static_cast<std::uint32_t>(::strnlen(session->community, sizeof session->community)));
    if (c == nullptr)
        return -1;
    session->pdu_header = c;
    c = asn_build_sequence(c, room, static_cast<std::uint8_t>(session->pdu_type), 0);
    if (c == nullptr)
        return -1;
    session->pdu_body = c;
    for (std::uint32_t field : {session->request_id, session->error_status, session->error_index}) {
        const auto v = static_cast<std::int32_t>(field);
        c = asn_build_int(c, room, ASN_INTEGER, &v, sizeof v);
        if (c == nullptr)
            return -1;
    }
    session->varlist_header = c;
    c = asn_build_sequence(c, room, ASN_SEQUENCE, 0);
    if (c == nullptr)
        return -1;
    session->varlist_body = c;
    return 0;
}

int trap_pack_add(trap_session* session, const std::uint32_t* name, std::uint32_t count, int type,
                  const void* value, std::uint32_t length)
{
    if (session == nullptr || session->cursor == nullptr ||
        (session->state != TRAP_STATE_BEGUN && session->state != TRAP_STATE_ADDED))
        return -1;
    // A failure leaves the cursor null: the trap stays spoiled until the
    // next trap_init, and the room already taken is not given back.
    session->cursor = snmp_build_var_op(session->cursor, name, &count, type, length, value, &session->room);
    if (session->cursor == nullptr)
        return -1;
    session->state = TRAP_STATE_ADDED;
    return 0;
}

int trap_pack_end(trap_session* session)
{
    if (session == nullptr || (session->state != TRAP_STATE_BEGUN && session->state != TRAP_STATE_ADDED))
        return -1;
    std::uint8_t* const c = session->cursor;
    if (c == nullptr || session->message_body == nullptr || session->pdu_header == nullptr ||
        session->pdu_body == nullptr || session->varlist_header == nullptr ||
        session->varlist_body == nullptr)
        return -1;
    put_sequence_header(session->varlist_header, ASN_SEQUENCE,
                        static_cast<std::uint32_t>(c - session->varlist_body));
    put_sequence_header(session->pdu_header, static_cast<std::uint8_t>(session->pdu_type),
                        static_cast<std::uint32_t>(c - session->pdu_body));
    put_sequence_header(session->buffer, ASN_SEQUENCE, static_cast<std::uint32_t>(c - session->message_body));
    session->length = static_cast<std::uint32_t>(c - session->buffer);
    session->state = TRAP_STATE_PACKED;
    return 0;
}

std::uint32_t get_uptime()
{
    // One clock only: mixing uptime seconds with the time of day's fraction
    // could step back by almost a second.
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    const auto centis =
        static_cast<std::uint64_t>(ts.tv_sec) * 100u + static_cast<std::uint64_t>(ts.tv_nsec) / 10000000u;
    return static_cast<std::uint32_t>(centis);
}

int parse_oid(std::uint32_t* out, int capacity, const char* text)
{
    if (out == nullptr || text == nullptr || capacity <= 0)
        return 0;
    char work[128] = {};
    std::strncpy(work, text, sizeof work - 1);
    int stored = 0;
    char* p = work;
    while (*p != '\0' && stored < capacity) {
        if (*p == '.') {
            ++p;
            continue;
        }
        char* end = std::strchr(p, '.');
        if (end != nullptr)
            *end = '\0';
        // 64 bits on every build, so that sub-identifiers up to 2^32 - 1 read
        // the same on a 32-bit long; larger ones are clamped there.
        const long long v = std::strtoll(p, nullptr, 10);
        out[stored++] = v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
        if (end == nullptr)
            break;
        p = end + 1;
    }
    return stored;
}
