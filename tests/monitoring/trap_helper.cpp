#include "monitoring/trap_helper.hpp"

#include <cstring>

namespace TrapTest {

const Oid sys_up_time{1, 3, 6, 1, 2, 1, 1, 3, 0};
const Oid snmp_trap_oid{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const Oid cold_start{1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
const Oid sys_descr{1, 3, 6, 1, 2, 1, 1, 1, 0};

std::unique_ptr<trap_session> NewSession(std::uint32_t seed)
{
    auto s = std::make_unique<trap_session>();
    std::memset(s.get(), 0xA5, sizeof *s);
    snmp_session_seed(s.get(), seed);
    return s;
}

int Add(trap_session& s, Oid const& name, int type, Bytes const& value)
{
    return trap_pack_add(&s, name.data(), static_cast<std::uint32_t>(name.size()), type,
                         value.empty() ? nullptr : value.data(), static_cast<std::uint32_t>(value.size()));
}

int AddU32(trap_session& s, Oid const& name, int type, std::uint32_t value)
{
    return trap_pack_add(&s, name.data(), static_cast<std::uint32_t>(name.size()), type, &value,
                         sizeof value);
}

int AddOid(trap_session& s, Oid const& name, Oid const& value)
{
    return trap_pack_add(&s, name.data(), static_cast<std::uint32_t>(name.size()), ASN_OBJECT_ID,
                         value.data(), static_cast<std::uint32_t>(value.size() * 4));
}

Bytes Message(trap_session& s)
{
    if (trap_pack_end(&s) != 0)
        return {};
    return Bytes(s.buffer, s.buffer + s.length);
}

namespace {

std::unique_ptr<trap_session> Begin(char const* community, std::uint32_t seed)
{
    auto s = NewSession(seed);
    trap_init(s.get(), community);
    trap_pack_begin(s.get());
    return s;
}

} // namespace

Bytes GoldenTrap()
{
    auto s = Begin("public", 1);
    AddU32(*s, sys_up_time, ASN_TIMETICKS, 12345);
    AddOid(*s, snmp_trap_oid, cold_start);
    Add(*s, sys_descr, ASN_OCTET_STR, Bytes{'g', 'a', 't', 'e', 'w', 'a', 'y'});
    return Message(*s);
}

Bytes EveryTypeTrap(std::string const& community, std::uint32_t seed)
{
    auto s = Begin(community.c_str(), seed);
    AddU32(*s, sys_up_time, ASN_TIMETICKS, 4000000000u);
    AddOid(*s, snmp_trap_oid, cold_start);
    auto column = [](std::uint32_t n) { return Oid{1, 3, 6, 1, 2, 1, 1, 9, 1, 3, n}; };
    std::int32_t minus = -123456;
    trap_pack_add(s.get(), column(1).data(), 11, ASN_INTEGER, &minus, 4);        // -123456
    Add(*s, column(2), ASN_BIT_STR, Bytes{0x05, 0xA0});                          // 05 A0
    Add(*s, column(3), ASN_OCTET_STR, Bytes{'l', 'i', 'n', 'k', ' ', 'u', 'p'}); // "link up"
    Add(*s, column(4), ASN_NULL, Bytes{});                                       // NULL
    AddOid(*s, column(5), Oid{1, 3, 6, 1, 4, 1, 4294967295u});                   // 1.3.6.1.4.1.4294967295
    Add(*s, column(6), ASN_IPADDRESS, Bytes{192, 0, 2, 7});                      // 192.0.2.7
    AddU32(*s, column(7), ASN_COUNTER, 2147483648u);                             // 2147483648
    AddU32(*s, column(8), ASN_GAUGE, 4294967295u);                               // 4294967295
    AddU32(*s, column(9), ASN_TIMETICKS, 0);                                     // 0
    Add(*s, column(10), ASN_OPAQUE, Bytes{0xDE, 0xAD});                          // DE AD
    Add(*s, column(11), ASN_NSAP, Bytes{0x47, 0x00});                            // 47 00
    AddU32(*s, column(12), ASN_UINTEGER, 300);                                   // 300
    return Message(*s);
}

Bytes BareTrap(std::string const& community, std::uint32_t seed)
{
    auto s = Begin(community.c_str(), seed);
    return Message(*s);
}

} // namespace TrapTest
