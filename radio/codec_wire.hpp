#pragma once

// What the two radio packet codecs share: big-endian fields built and read
// octet by octet (the same on any host byte order), and the source rule of
// their receive loops.

#include <cstdint>

namespace radio_wire {

inline void put_u16(unsigned char* out, std::uint32_t v)
{
    out[0] = static_cast<unsigned char>(v >> 8);
    out[1] = static_cast<unsigned char>(v);
}

inline std::uint32_t get_u16(unsigned char const* in)
{
    return static_cast<std::uint32_t>(in[0]) << 8 | in[1];
}

inline void put_u32(unsigned char* out, std::uint32_t v)
{
    put_u16(out, v >> 16);
    put_u16(out + 2, v);
}

inline std::uint32_t get_u32(unsigned char const* in)
{
    return get_u16(in) << 16 | get_u16(in + 2);
}

// Two packets come from the same source when kind, SSRC and address agree:
// 0 then, else the first difference b - a as a 32-bit value (never 0).
inline int source_difference(std::uint32_t a_type, std::uint32_t a_ssrc, std::uint32_t a_addr,
                             std::uint32_t b_type, std::uint32_t b_ssrc, std::uint32_t b_addr)
{
    std::uint32_t d = b_type - a_type;
    if (d == 0)
        d = b_ssrc - a_ssrc;
    if (d == 0)
        d = b_addr - a_addr;
    return static_cast<int>(static_cast<std::int32_t>(d));
}

} // namespace radio_wire
