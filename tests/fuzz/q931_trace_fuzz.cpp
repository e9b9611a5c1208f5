// The frame trace on any frame from the line (0 to 4096 octets): decoded
// both ways into a heap buffer of exactly the trace buffer's size, it reads
// nothing outside the frame, writes nothing outside the buffer, and always
// ends its text with a NUL inside it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "signalling/q931_trace.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 4096)
        return 0;
    // Exact sizes, so that AddressSanitizer sees the first octet past either.
    std::unique_ptr<unsigned char[]> frame(new unsigned char[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(frame.get(), data, size);
    std::unique_ptr<char[]> out(new char[ISDN::logbuf_size]);
    for (unsigned int direction : {0u, 1u}) {
        std::memset(out.get(), 'x', ISDN::logbuf_size);
        dlogframe(frame.get(), static_cast<unsigned int>(size), direction, out.get());
        if (std::memchr(out.get(), '\0', ISDN::logbuf_size) == nullptr) {
            std::fprintf(stderr, "fuzz property broken: the text has no NUL inside the buffer\n");
            std::abort();
        }
    }
    return 0;
}
