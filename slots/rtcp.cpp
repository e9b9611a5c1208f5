#include "slots/rtcp.hpp"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

constexpr unsigned int Padded(unsigned int n)
{
    return (n + 3) & ~3u;
}

void Put32(char* at, std::uint32_t v)
{
    at[0] = static_cast<char>(v >> 24);
    at[1] = static_cast<char>(v >> 16);
    at[2] = static_cast<char>(v >> 8);
    at[3] = static_cast<char>(v);
}

// Zeros from `from` up to the next multiple of 4; the new length.
unsigned int Pad(char* buffer, unsigned int from)
{
    unsigned int to = Padded(from);
    std::memset(buffer + from, 0, to - from);
    return to;
}

// An SDES item or BYE reason carries at most 255 octets (one length octet).
constexpr std::size_t kMaxText = 255;

} // namespace

unsigned int Msg::encode(char* buffer, unsigned int size) const
{
    // RFC 3550 6.4.1: a packet is at least the common header and an SSRC.
    if (buffer == nullptr || size < 8)
        return 0;
    unsigned int body = encode_body(buffer + 4, size - 4);
    if (body == 0 || Padded(4 + body) > size)
        return 0;
    unsigned int total = Pad(buffer, 4 + body);
    // Version 2, no padding bit (the padding is part of the last item).
    buffer[0] = static_cast<char>(0x80 | (count() & 31));
    buffer[1] = static_cast<char>(pt());
    unsigned int words = total / 4 - 1;
    buffer[2] = static_cast<char>(words >> 8);
    buffer[3] = static_cast<char>(words);
    return total;
}

unsigned int SDES::encode_body(char* buffer, unsigned int size) const
{
    // RFC 3550 6.5: the chunk's item list ends with a null octet and is
    // padded to a 32-bit boundary, even when it holds no item; so the
    // shortest chunk is the SSRC, END and three zeros.
    if (size < 8)
        return 0;
    Put32(buffer, ssrc_);
    unsigned int used = 4;
    for (Item const& item : items_) {
        unsigned int n = static_cast<unsigned int>(std::min(item.text.size(), kMaxText));
        if (Padded(used + 2 + n + 1) > size)
            break;
        buffer[used] = static_cast<char>(item.type);
        buffer[used + 1] = static_cast<char>(n);
        std::memcpy(buffer + used + 2, item.text.data(), n);
        used += 2 + n;
    }
    buffer[used++] = 0; // END
    return Pad(buffer, used);
}

unsigned int BYE::encode_body(char* buffer, unsigned int size) const
{
    if (size < 4)
        return 0;
    Put32(buffer, ssrc_);
    // RFC 3550 6.6: the reason is optional; what does not fit, padded, is
    // cut, and with no room for one octet of it the reason is left out.
    unsigned int room = size & ~3u;
    if (reason_.empty() || room < 4 + 1 + 1)
        return 4;
    unsigned int n = static_cast<unsigned int>(std::min<std::size_t>({reason_.size(), kMaxText, room - 5}));
    buffer[4] = static_cast<char>(n);
    std::memcpy(buffer + 5, reason_.data(), n);
    return Pad(buffer, 5 + n);
}

} // namespace RTPC
