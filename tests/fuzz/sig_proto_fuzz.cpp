// The VEZE packet codec on any octets. Where an unpack succeeds, the record
// packs (the controllers' 1024-octet buffer) and the packed octets unpack
// again to the same record; every decoded record renders into buffers of 1,
// 7, 64 and 8192 octets, each text terminated within its buffer.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "radio/sig_proto.hpp"

namespace {

[[noreturn]] void fail(char const* what, int value)
{
    std::fprintf(stderr, "%s (%d)\n", what, value);
    std::abort();
}

void render(sig_proto const& p)
{
    for (long size : {1L, 7L, 64L, 8192L}) {
        // Exactly `size` octets, so that AddressSanitizer sees any overrun.
        std::unique_ptr<char[]> buf(new char[static_cast<std::size_t>(size)]);
        for (int mode : {1, 2, 4, 7}) {
            int const n = sprintf_sig_proto(buf.get(), size, &p, mode);
            if (n < 0 || n >= size || buf[static_cast<std::size_t>(n)] != '\0' ||
                std::strlen(buf.get()) != static_cast<std::size_t>(n))
                fail("text not terminated where its length says", n);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size > 4096)
        return 0;
    sig_proto first;
    sig_proto_init(&first);
    int const r = sig_proto_unpack(&first, data, static_cast<int>(size));
    if (r == -ENOEXEC)
        render(first);
    if (r != 0)
        return 0;
    render(first);
    unsigned char buf[1024];
    int const n = sig_proto_pack(&first, buf, sizeof buf);
    if (n < 4)
        fail("pack of a decoded record failed", n);
    sig_proto second;
    sig_proto_init(&second);
    int const again = sig_proto_unpack(&second, buf, n);
    if (again != 0 || std::memcmp(&first, &second, sizeof first) != 0)
        fail("re-unpack differs", again);
    if (cmp_sig_proto(&first, &second) != 0 || cmp_sig_proto_header(&first, &second) != 0)
        fail("a record differs from its own copy", 0);
    return 0;
}
