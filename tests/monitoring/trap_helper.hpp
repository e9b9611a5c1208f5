#pragma once

// Traps built the way a caller builds them, shared by the byte-level tests
// and the checks against snmptrapd and tshark.

#include "monitoring/snmp_trap.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace TrapTest {

using Bytes = std::vector<std::uint8_t>;
using Oid = std::vector<std::uint32_t>;

// sysUpTime.0 and snmpTrapOID.0 (SNMPv2-MIB), coldStart as the trap.
extern const Oid sys_up_time;
extern const Oid snmp_trap_oid;
extern const Oid cold_start;
extern const Oid sys_descr;

// A session filled with garbage first, so that nothing relies on zeroed
// memory; trap_init does the rest.
std::unique_ptr<trap_session> NewSession(std::uint32_t seed);

// trap_pack_add with the value given as bytes or as a sub-identifier list.
int Add(trap_session& s, Oid const& name, int type, Bytes const& value);
int AddU32(trap_session& s, Oid const& name, int type, std::uint32_t value);
int AddOid(trap_session& s, Oid const& name, Oid const& value);

// The finished message; empty when trap_pack_end failed.
Bytes Message(trap_session& s);

// Community "public", seed 1: sysUpTime.0 = 12345, snmpTrapOID.0 =
// coldStart, sysDescr.0 = "gateway".
Bytes GoldenTrap();

// After the two leading bindings, one binding of every value type the
// builder takes (the value of each is documented beside it).
Bytes EveryTypeTrap(std::string const& community, std::uint32_t seed);

// No binding at all (what receivers drop).
Bytes BareTrap(std::string const& community, std::uint32_t seed);

} // namespace TrapTest
