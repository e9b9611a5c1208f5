// The ED-137 header codec on any octets, in both directions. Where an
// unpack succeeds, the record packs (the controllers' 1024-octet buffer) and
// the packed octets unpack again to the same record.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "radio/r2s_proto.hpp"

namespace {

void check(std::uint8_t const* data, std::size_t size, bool rx)
{
    int const len = static_cast<int>(size);
    r2s_proto first;
    r2s_proto_init(&first, 0);
    int const r = rx ? r2s_proto_unpack_rx(&first, data, len) : r2s_proto_unpack_tx(&first, data, len);
    if (r != 0)
        return;
    unsigned char buf[1024];
    int const n = r2s_proto_pack(&first, buf, sizeof buf);
    if (n < 2) {
        std::fprintf(stderr, "pack of a decoded record failed: %d\n", n);
        std::abort();
    }
    r2s_proto second;
    r2s_proto_init(&second, 0);
    int const again = rx ? r2s_proto_unpack_rx(&second, buf, n) : r2s_proto_unpack_tx(&second, buf, n);
    // Both started from the same cleared record, and unused slots are left
    // alone: the whole records must match.
    if (again != 0 || std::memcmp(&first, &second, sizeof first) != 0) {
        std::fprintf(stderr, "re-unpack differs (%d)\n", again);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size > 4096)
        return 0;
    check(data, size, true);
    check(data, size, false);
    return 0;
}
