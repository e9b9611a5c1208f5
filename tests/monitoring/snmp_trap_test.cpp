// The SNMPv2c trap builder at the byte level: whole traps against bytes
// written out by hand, the BER forms of every encoder (X.690 8.1.3 lengths,
// 8.3 integers, 8.19 object identifiers), the session's call order, a buffer
// filled to the brim, and the uptime and OID-text helpers.

#include "monitoring/trap_helper.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace TrapTest;

namespace {

// One encoder call on a fresh buffer: the bytes written, or "null" when the
// encoder refused. Also checks that the room shrank by what was written.
template <class F>
std::string Encode(F&& encode, std::uint32_t room = 64)
{
    std::uint8_t buf[2100];
    const std::uint32_t start = room;
    std::uint8_t* end = encode(buf, &room);
    if (end == nullptr)
        return "null";
    EXPECT_EQ(start - room, static_cast<std::uint32_t>(end - buf));
    std::string hex;
    char cell[4];
    for (std::uint8_t* p = buf; p != end; ++p) {
        std::snprintf(cell, sizeof cell, "%s%02X", p == buf ? "" : " ", *p);
        hex += cell;
    }
    return hex;
}

std::string Int(std::int32_t v)
{
    return Encode([&](std::uint8_t* b, std::uint32_t* r) { return asn_build_int(b, r, ASN_INTEGER, &v, 4); });
}

std::string Unsigned(std::uint32_t v)
{
    return Encode(
        [&](std::uint8_t* b, std::uint32_t* r) { return asn_build_unsigned_int(b, r, ASN_COUNTER, &v, 4); });
}

std::string Objid(Oid const& ids, std::uint32_t count)
{
    return Encode([&](std::uint8_t* b, std::uint32_t* r) {
        return asn_build_objid(b, r, ASN_OBJECT_ID, ids.data(), count);
    });
}

std::string Objid(Oid const& ids)
{
    return Objid(ids, static_cast<std::uint32_t>(ids.size()));
}

// The three constructed headers of a finished message agree with its length.
void ExpectHeadersAgree(trap_session const& s)
{
    const std::uint8_t* b = s.buffer;
    ASSERT_GE(s.length, 4u);
    EXPECT_EQ((b[2] << 8 | b[3]) + 4u, s.length);
    EXPECT_EQ(s.pdu_header[0], 0xA7);
    EXPECT_EQ((s.pdu_header[2] << 8 | s.pdu_header[3]) + (s.pdu_body - b), s.length);
    EXPECT_EQ((s.varlist_header[2] << 8 | s.varlist_header[3]) + (s.varlist_body - b), s.length);
}

} // namespace

TEST(SnmpTrap, GoldenTrapBytes)
{
    const Bytes expected{0x30, 0x82, 0x00, 0x62,                                     // message
                         0x02, 0x01, 0x01,                                           // version 1: SNMPv2c
                         0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',              // community
                         0xA7, 0x82, 0x00, 0x53,                                     // SNMPv2-Trap-PDU
                         0x02, 0x03, 0x1C, 0x1A, 0xDB,                               // request id from seed 1
                         0x02, 0x01, 0x00, 0x02, 0x01, 0x00,                         // error status, index
                         0x30, 0x82, 0x00, 0x44,                                     // variable bindings
                         0x30, 0x82, 0x00, 0x0E,                                     // sysUpTime.0
                         0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, //
                         0x43, 0x02, 0x30, 0x39,                                     // TimeTicks 12345
                         0x30, 0x82, 0x00, 0x17,                                     // snmpTrapOID.0
                         0x06, 0x0A, 0x2B, 0x06, 0x01, 0x06, 0x03, 0x01, 0x01, 0x04, 0x01, 0x00, //
                         0x06, 0x09, 0x2B, 0x06, 0x01, 0x06, 0x03, 0x01, 0x01, 0x05, 0x01,       // coldStart
                         0x30, 0x82, 0x00, 0x13,                                                 // sysDescr.0
                         0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00,             //
                         0x04, 0x07, 'g',  'a',  't',  'e',  'w',  'a',  'y'};
    EXPECT_EQ(GoldenTrap(), expected);
}

TEST(SnmpTrap, IntegersTakeTheShortestForm)
{
    EXPECT_EQ(Int(0), "02 01 00");
    EXPECT_EQ(Int(-1), "02 01 FF");
    EXPECT_EQ(Int(127), "02 01 7F");
    EXPECT_EQ(Int(128), "02 02 00 80");
    EXPECT_EQ(Int(-129), "02 02 FF 7F");
    EXPECT_EQ(Int(INT32_MIN), "02 04 80 00 00 00");
    EXPECT_EQ(Int(INT32_MAX), "02 04 7F FF FF FF");
    // A set top bit gets a leading zero octet, so it never reads as negative.
    EXPECT_EQ(Unsigned(0x80000000u), "41 05 00 80 00 00 00");
    EXPECT_EQ(Unsigned(255), "41 02 00 FF");
    EXPECT_EQ(Unsigned(0), "41 01 00");
    EXPECT_EQ(Unsigned(0x7FFFFFFFu), "41 04 7F FF FF FF");

    std::int32_t v = 1;
    std::uint32_t u = 1;
    EXPECT_EQ(Encode([&](std::uint8_t* b, std::uint32_t* r) { return asn_build_int(b, r, 2, &v, 2); }),
              "null");
    EXPECT_EQ(
        Encode([&](std::uint8_t* b, std::uint32_t* r) { return asn_build_unsigned_int(b, r, 0x41, &u, 8); }),
        "null");
    // The header fits, the content does not.
    EXPECT_EQ(Encode([&](std::uint8_t* b, std::uint32_t* r) { return asn_build_int(b, r, 2, &v, 4); }, 2),
              "null");
}

TEST(SnmpTrap, ObjectIdentifiers)
{
    EXPECT_EQ(Objid({}, 0), "06 01 00");
    EXPECT_EQ(Objid({1}), "06 01 28");
    EXPECT_EQ(Objid({1, 3, 6, 1}), "06 03 2B 06 01");
    EXPECT_EQ(Objid({2, 100}), "06 02 81 34");
    EXPECT_EQ(Objid({0, 40}), "null");
    EXPECT_EQ(Objid({1, 40}), "null");
    EXPECT_EQ(Objid({3, 1}), "null");
    // Every width of an encoded value (X.690 8.19.2), the largest in five.
    EXPECT_EQ(
        Objid({1, 3, 0x7F, 0x80, 0x3FFF, 0x4000, 0x1FFFFF, 0x200000, 0x0FFFFFFF, 0x10000000, 0xFFFFFFFF}),
        "06 1E 2B 7F 81 00 FF 7F 81 80 00 FF FF 7F 81 80 80 00 FF FF FF 7F 81 80 80 80 00 8F FF FF FF 7F");

    // 2 × 40 + second must stay within 32 bits.
    EXPECT_EQ(Objid({2, 4294967215u}), "06 05 8F FF FF FF 7F");
    EXPECT_EQ(Objid({2, 4294967216u}), "null");
    EXPECT_EQ(Objid({2, 4294967295u}), "null");

    Oid many(129, 1);
    EXPECT_EQ(Objid(many, 129), "null");
    EXPECT_EQ(
        Encode([&](std::uint8_t* b, std::uint32_t* r) { return asn_build_objid(b, r, 6, many.data(), 128); },
               200)
            .substr(0, 8),
        "06 7F 29");                 // 41, then 126 more
    EXPECT_EQ(Objid({}, 5), "null"); // no array
}

TEST(SnmpTrap, LengthForms)
{
    // Primitive elements: short form, then 0x81 and one octet, then 0x82.
    const Bytes b200(200, 'x'), b300(300, 'y');
    auto string = [](Bytes const& b) {
        return Encode(
            [&](std::uint8_t* p, std::uint32_t* r) {
                return asn_build_string(p, r, ASN_OCTET_STR, b.data(), static_cast<std::uint32_t>(b.size()));
            },
            400);
    };
    EXPECT_EQ(string(b200).substr(0, 8), "04 81 C8");
    EXPECT_EQ(string(b300).substr(0, 11), "04 82 01 2C");
    EXPECT_EQ(string(Bytes(127, 0)).substr(0, 5), "04 7F");
    EXPECT_EQ(string(Bytes(128, 0)).substr(0, 8), "04 81 80");
    EXPECT_EQ(string(Bytes(256, 0)).substr(0, 11), "04 82 01 00");

    // Constructed headers keep four octets even for short content: a
    // binding whose name and value take 200 octets (10 + 190).
    auto s = NewSession(1);
    trap_init(s.get(), "public");
    ASSERT_EQ(trap_pack_begin(s.get()), 0);
    std::uint8_t* binding = s->cursor;
    ASSERT_EQ(Add(*s, sys_descr, ASN_OCTET_STR, Bytes(187, 'z')), 0);
    EXPECT_EQ(Bytes(binding, binding + 7), (Bytes{0x30, 0x82, 0x00, 0xC8, 0x06, 0x08, 0x2B}));
    EXPECT_EQ(Bytes(binding + 14, binding + 17), (Bytes{0x04, 0x81, 0xBB}));
}

TEST(SnmpTrap, BareTrapAndCommunities)
{
    Bytes bare = BareTrap("public", 1);
    ASSERT_GE(bare.size(), 4u);
    EXPECT_EQ(Bytes(bare.end() - 4, bare.end()), (Bytes{0x30, 0x82, 0x00, 0x00}));

    auto s = NewSession(1);
    trap_init(s.get(), nullptr);
    ASSERT_EQ(trap_pack_begin(s.get()), 0);
    EXPECT_EQ(Bytes(s->buffer + 7, s->buffer + 15), (Bytes{0x04, 0x06, 't', 'i', 'v', 'r', 'e', 'x'}));
    EXPECT_STREQ(s->community, "tivrex");

    const std::string c31(31, 'c');
    trap_init(s.get(), c31.c_str());
    ASSERT_EQ(trap_pack_begin(s.get()), 0);
    EXPECT_EQ(Bytes(s->buffer + 7, s->buffer + 9), (Bytes{0x04, 31}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->buffer) + 9, 31), c31);
    // Longer ones are cut at 31; the last byte stays the terminator.
    trap_init(s.get(), (c31 + "overflow").c_str());
    EXPECT_EQ(std::string(s->community), c31);
    EXPECT_EQ(s->community[31], '\0');

    // A short community in a heap block of its exact size: the copy stops
    // at the terminator (AddressSanitizer would see a read past the block).
    auto exact = std::make_unique<char[]>(7);
    std::memcpy(exact.get(), "public", 7);
    trap_init(s.get(), exact.get());
    EXPECT_STREQ(s->community, "public");
    EXPECT_EQ(std::memcmp(s->community, "public\0\0\0\0", 10), 0);
}

TEST(SnmpTrap, RequestIdsFollowTheSeed)
{
    auto a = NewSession(7), b = NewSession(7), c = NewSession(8);
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        trap_init(a.get(), "x");
        trap_init(b.get(), "x");
        trap_init(c.get(), "x");
        EXPECT_EQ(a->request_id & 1u, 1u);
        EXPECT_LT(a->request_id, 0x80000000u);
        EXPECT_EQ(a->request_id, b->request_id);
        seen.insert(a->request_id);
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_NE(a->request_id, c->request_id);
    // The first id from seed 1 is (850009 + 991873) with the low bit set.
    auto one = NewSession(1);
    trap_init(one.get(), "x");
    EXPECT_EQ(one->request_id, 1841883u);
    // The top bit of the step is cleared, whatever the seed.
    auto big = NewSession(0xFFFFFFFFu);
    trap_init(big.get(), "x");
    EXPECT_LT(big->request_id, 0x80000000u);
}

TEST(SnmpTrap, CallOrder)
{
    auto s = NewSession(1);
    trap_init(s.get(), "public");
    EXPECT_EQ(AddU32(*s, sys_up_time, ASN_TIMETICKS, 1), -1); // before begin
    EXPECT_EQ(trap_pack_end(s.get()), -1);
    ASSERT_EQ(trap_pack_begin(s.get()), 0);
    EXPECT_EQ(trap_pack_begin(s.get()), -1); // twice
    EXPECT_EQ(s->state, TRAP_STATE_BEGUN);
    EXPECT_EQ(AddU32(*s, sys_up_time, ASN_TIMETICKS, 1), 0);
    EXPECT_EQ(s->state, TRAP_STATE_ADDED);
    ASSERT_EQ(trap_pack_end(s.get()), 0);
    EXPECT_EQ(s->state, TRAP_STATE_PACKED);
    ExpectHeadersAgree(*s);
    EXPECT_EQ(AddU32(*s, sys_up_time, ASN_TIMETICKS, 1), -1); // after end
    EXPECT_EQ(trap_pack_end(s.get()), -1);

    // A failed add spoils the trap until the next trap_init.
    trap_init(s.get(), "public");
    ASSERT_EQ(trap_pack_begin(s.get()), 0);
    EXPECT_EQ(AddU32(*s, sys_up_time, ASN_COUNTER64, 1), -1);
    EXPECT_EQ(s->cursor, nullptr);
    EXPECT_EQ(AddU32(*s, sys_up_time, ASN_TIMETICKS, 1), -1);
    EXPECT_EQ(trap_pack_end(s.get()), -1);
    trap_init(s.get(), "public");
    ASSERT_EQ(trap_pack_begin(s.get()), 0);
    EXPECT_EQ(AddU32(*s, sys_up_time, ASN_TIMETICKS, 1), 0);

    // Null sessions.
    EXPECT_EQ(snmp_session_seed(nullptr, 1), 0);
    EXPECT_EQ(trap_init(nullptr, "x"), 0);
    EXPECT_EQ(trap_pack_begin(nullptr), -1);
    EXPECT_EQ(trap_pack_add(nullptr, sys_up_time.data(), 9, ASN_NULL, nullptr, 0), -1);
    EXPECT_EQ(trap_pack_end(nullptr), -1);

    // Encoders without room to count down.
    std::uint8_t buf[8] = {};
    const std::int32_t v = 1;
    const std::uint32_t ids[2] = {1, 3};
    EXPECT_EQ(asn_build_int(buf, nullptr, ASN_INTEGER, &v, 4), nullptr);
    EXPECT_EQ(asn_build_string(buf, nullptr, ASN_OCTET_STR, buf, 1), nullptr);
    EXPECT_EQ(asn_build_null(buf, nullptr, ASN_NULL), nullptr);
    EXPECT_EQ(asn_build_objid(buf, nullptr, ASN_OBJECT_ID, ids, 2), nullptr);
}

TEST(SnmpTrap, ValueTypes)
{
    auto value_of = [](int type, void const* value, std::uint32_t length) {
        auto s = NewSession(1);
        trap_init(s.get(), "");
        trap_pack_begin(s.get());
        std::uint8_t* at = s->cursor;
        const Oid name{1, 3};
        if (trap_pack_add(s.get(), name.data(), 2, type, value, length) != 0)
            return std::string("null");
        // Past the binding header and the name 06 01 2B.
        std::string hex;
        char cell[4];
        for (std::uint8_t* p = at + 7; p != s->cursor; ++p) {
            std::snprintf(cell, sizeof cell, "%s%02X", p == at + 7 ? "" : " ", *p);
            hex += cell;
        }
        return hex;
    };
    const std::uint8_t bytes[] = {0xAB, 0xCD, 0xEF};
    std::uint32_t u = 5;
    std::int32_t i = -2;
    EXPECT_EQ(value_of(ASN_INTEGER, &i, 4), "02 01 FE");
    EXPECT_EQ(value_of(ASN_INTEGER, &i, 3), "null");
    EXPECT_EQ(value_of(ASN_INTEGER, nullptr, 4), "null");
    EXPECT_EQ(value_of(ASN_BIT_STR, bytes, 2), "03 02 AB CD");
    EXPECT_EQ(value_of(ASN_BIT_STR, bytes, 0), "null");
    EXPECT_EQ(value_of(ASN_BIT_STR, nullptr, 2), "null");
    EXPECT_EQ(value_of(ASN_OCTET_STR, bytes, 3), "04 03 AB CD EF");
    EXPECT_EQ(value_of(ASN_OCTET_STR, nullptr, 3), "04 03 00 00 00");
    EXPECT_EQ(value_of(ASN_NULL, bytes, 3), "05 00");
    EXPECT_EQ(value_of(ASN_IPADDRESS, bytes, 3), "40 03 AB CD EF");
    EXPECT_EQ(value_of(ASN_OPAQUE, bytes, 1), "44 01 AB");
    EXPECT_EQ(value_of(ASN_NSAP, bytes, 1), "45 01 AB");
    for (int type : {ASN_COUNTER, ASN_GAUGE, ASN_TIMETICKS, ASN_UINTEGER}) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02X 01 05", type);
        EXPECT_EQ(value_of(type, &u, 4), expected);
        EXPECT_EQ(value_of(type, &u, 2), "null");
    }
    // An OBJECT IDENTIFIER value counts length / 4 sub-identifiers.
    const std::uint32_t oid[] = {1, 3, 6, 1};
    EXPECT_EQ(value_of(ASN_OBJECT_ID, oid, 16), "06 03 2B 06 01");
    EXPECT_EQ(value_of(ASN_OBJECT_ID, oid, 15), "06 02 2B 06");
    EXPECT_EQ(value_of(ASN_OBJECT_ID, oid, 0), "06 01 00");
    for (int type : {0, 1, 7, 0x30, int{ASN_COUNTER64}, 0x48, 0xA7, 0x102, -1})
        EXPECT_EQ(value_of(type, &u, 4), "null") << type;
}

TEST(SnmpTrap, OneTrapCarriesEveryValueType)
{
    const Bytes trap = EveryTypeTrap("public", 3);
    ASSERT_FALSE(trap.empty());
    // The tag of each value follows its binding's name (11 sub-identifiers
    // of the column OID take 06 0A and ten octets).
    std::vector<int> tags;
    for (std::size_t i = 0; i + 12 < trap.size(); ++i)
        if (trap[i] == 0x06 && trap[i + 1] == 0x0A && trap[i + 2] == 0x2B && trap[i + 8] == 0x09)
            tags.push_back(trap[i + 12]);
    EXPECT_EQ(tags,
              (std::vector<int>{0x02, 0x03, 0x04, 0x05, 0x06, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x47}));
}

TEST(SnmpTrap, FillingTheBufferStopsAtTheFirstElementThatDoesNotFit)
{
    // Bindings of every size from 1 to 300 octets of string: the trap
    // always fails at the binding that does not fit, the room accounts for
    // every octet written, and nothing after the buffer is touched.
    for (std::uint32_t size = 1; size <= 300; size += 7) {
        auto s = NewSession(1);
        trap_init(s.get(), "public");
        ASSERT_EQ(trap_pack_begin(s.get()), 0);
        std::uint8_t* const body = s->message_body;
        const Bytes value(size, 'v');
        for (int n = 0;; ++n) {
            ASSERT_LT(n, 2048);
            const std::uint32_t before = s->room;
            const std::uint32_t length_octets = size < 128 ? 1 : size < 256 ? 2 : 3;
            const std::uint32_t need = 4 + 10 + 1 + length_octets + size; // header, name, value
            if (Add(*s, sys_descr, ASN_OCTET_STR, value) != 0) {
                EXPECT_LT(before, need) << size;
                break;
            }
            EXPECT_GE(before, need);
            EXPECT_EQ(before - s->room, need);
            EXPECT_EQ((s->cursor - s->buffer) + s->room, TRAP_BUFFER_SIZE);
        }
        EXPECT_LE(s->room, TRAP_BUFFER_SIZE);
        EXPECT_EQ(s->length, 0u);
        EXPECT_EQ(s->message_body, body);
        EXPECT_EQ(trap_pack_end(s.get()), -1);
    }

    // Just fitting: a last binding that ends on the buffer's last octet.
    auto s = NewSession(1);
    trap_init(s.get(), "public");
    ASSERT_EQ(trap_pack_begin(s.get()), 0);
    while (s->room >= 2 * (4 + 10 + 4 + 300))
        ASSERT_EQ(Add(*s, sys_descr, ASN_OCTET_STR, Bytes(300, 'a')), 0);
    const std::uint32_t last = s->room - (4 + 10 + 4);
    ASSERT_GE(last, 256u);
    ASSERT_EQ(Add(*s, sys_descr, ASN_OCTET_STR, Bytes(last, 'b')), 0);
    EXPECT_EQ(s->room, 0u);
    ASSERT_EQ(trap_pack_end(s.get()), 0);
    EXPECT_EQ(s->length, TRAP_BUFFER_SIZE);
    ExpectHeadersAgree(*s);
    EXPECT_EQ(s->buffer[TRAP_BUFFER_SIZE - 1], 'b');
}

TEST(SnmpTrap, UptimeNeverGoesBackwards)
{
    std::uint32_t last = get_uptime();
    for (int i = 0; i < 10000; ++i) {
        const std::uint32_t now = get_uptime();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(SnmpTrap, ParseOid)
{
    std::uint32_t out[130];
    auto parse = [&](char const* text, int capacity) {
        std::memset(out, 0xEE, sizeof out);
        const int n = parse_oid(out, capacity, text);
        EXPECT_EQ(out[n < 0 ? 0 : n], 0xEEEEEEEEu) << "wrote past the count";
        return Oid(out, out + (n < 0 ? 0 : n));
    };
    EXPECT_EQ(parse("1.3.6.1.4.1", 4), (Oid{1, 3, 6, 1}));
    EXPECT_EQ(parse(".1..3.", 10), (Oid{1, 3}));
    EXPECT_EQ(parse("", 10), Oid{});
    EXPECT_EQ(parse("...", 10), Oid{});
    EXPECT_EQ(parse("1.3", 0), Oid{});
    EXPECT_EQ(parse("1.3", -1), Oid{});
    EXPECT_EQ(parse_oid(nullptr, 4, "1.3"), 0);
    EXPECT_EQ(parse_oid(out, 4, nullptr), 0);
    // As strtol reads a field, but in 64 bits clamped at 2^32 - 1 on every
    // build: a 32-bit long would stop at 2147483647.
    EXPECT_EQ(parse("1.4294967295.4294967296", 10), (Oid{1, 4294967295u, 4294967295u}));
    EXPECT_EQ(parse("2147483648.99999999999999999999", 10), (Oid{2147483648u, 4294967295u}));
    EXPECT_EQ(parse(" 5.-1.+7.x.12abc", 10), (Oid{5, 4294967295u, 7, 0, 12}));
    // Only the first 127 characters are read.
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "1.";
    ASSERT_EQ(text.size(), 200u);
    text[126] = '9';
    text[127] = '9';
    const Oid cut = parse(text.c_str(), 130);
    ASSERT_EQ(cut.size(), 64u);
    EXPECT_EQ(cut.back(), 9u); // "9" at 126, its neighbour cut off
}
