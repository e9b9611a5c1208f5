// The SNMPv2c trap builder driven by arbitrary calls.
//
// Input: octet 0 flags (bit 0: a community is given), a 4-octet seed, a
// community length octet and that many octets, then records until the
// input ends. Each record starts with an operation octet:
//   op % 8 == 0..4: add: type octet, name count octet, that many 4-octet
//                   sub-identifiers, 2-octet value length (mod 2100), and,
//                   when op bit 3 is clear, that many value octets (set:
//                   no value pointer)
//   op % 8 == 5:    trap_pack_begin      6: trap_pack_end
//   op % 8 == 7:    parse_oid: capacity octet, text length octet, text
// trap_pack_begin runs first. After every call: the room and the cursor
// stay within the 2048-octet buffer and account for every octet written; a
// finished message's three headers agree with its length, and its bindings
// walk exactly to its end.

#include "monitoring/snmp_trap.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

struct Input {
    const std::uint8_t* p;
    std::size_t n;
    bool take(std::size_t count, const std::uint8_t** out)
    {
        if (count > n)
            return false;
        *out = p;
        p += count;
        n -= count;
        return true;
    }
    bool byte(std::uint32_t* v)
    {
        const std::uint8_t* b;
        if (!take(1, &b))
            return false;
        *v = *b;
        return true;
    }
    bool u32(std::uint32_t* v)
    {
        const std::uint8_t* b;
        if (!take(4, &b))
            return false;
        *v = std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
        return true;
    }
};

std::uint32_t Len16(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 8 | p[1];
}

// Reads one TLV at p (primitive or the 4-octet constructed form) and
// returns the position after it, or null when it overruns `end`.
const std::uint8_t* Skip(const std::uint8_t* p, const std::uint8_t* end)
{
    if (end - p < 2)
        return nullptr;
    std::uint32_t len = p[1];
    const std::uint8_t* content = p + 2;
    if (p[1] == 0x81) {
        if (end - p < 3)
            return nullptr;
        len = p[2];
        content = p + 3;
    } else if (p[1] == 0x82) {
        if (end - p < 4)
            return nullptr;
        len = Len16(p + 2);
        content = p + 4;
    } else if (p[1] > 0x7F) {
        return nullptr;
    }
    if (static_cast<std::uint32_t>(end - content) < len)
        return nullptr;
    return content + len;
}

void CheckSession(trap_session const& s)
{
    Check(s.room <= TRAP_BUFFER_SIZE);
    if (s.cursor != nullptr) {
        Check(s.cursor >= s.buffer && s.cursor <= s.buffer + TRAP_BUFFER_SIZE);
        Check(static_cast<std::uint32_t>(s.cursor - s.buffer) + s.room == TRAP_BUFFER_SIZE);
    }
}

void CheckMessage(trap_session const& s)
{
    Check(s.length <= TRAP_BUFFER_SIZE && s.length >= 4);
    const std::uint8_t* b = s.buffer;
    const std::uint8_t* end = b + s.length;
    Check(b[0] == 0x30 && b[1] == 0x82 && Len16(b + 2) + 4 == s.length);
    Check(s.pdu_header[0] == 0xA7 && Len16(s.pdu_header + 2) + (s.pdu_body - b) == s.length);
    Check(s.varlist_header[0] == 0x30 && Len16(s.varlist_header + 2) + (s.varlist_body - b) == s.length);
    // Bindings: each a 4-octet header over exactly a name and a value.
    const std::uint8_t* p = s.varlist_body;
    while (p != end) {
        Check(end - p >= 4 && p[0] == 0x30 && p[1] == 0x82);
        const std::uint8_t* binding_end = p + 4 + Len16(p + 2);
        Check(binding_end <= end);
        const std::uint8_t* name = p + 4;
        Check(name < binding_end && *name == 0x06);
        const std::uint8_t* value = Skip(name, binding_end);
        Check(value != nullptr && value < binding_end);
        Check(Skip(value, binding_end) == binding_end);
        p = binding_end;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    std::uint32_t flags = 0, seed = 0, community_length = 0;
    if (!in.byte(&flags) || !in.u32(&seed) || !in.byte(&community_length))
        return 0;
    const std::uint8_t* community_bytes;
    if (!in.take(community_length, &community_bytes))
        return 0;
    // An exact-size copy: the builder must not read past a short community.
    std::vector<char> community(community_bytes, community_bytes + community_length);
    community.push_back('\0');

    auto s = std::make_unique<trap_session>();
    std::memset(s.get(), 0x5A, sizeof *s);
    snmp_session_seed(s.get(), seed);
    trap_init(s.get(), (flags & 1) != 0 ? community.data() : nullptr);
    Check((s->request_id & 1) == 1 && s->request_id < 0x80000000u && s->community[31] == '\0');
    trap_pack_begin(s.get());
    CheckSession(*s);

    std::uint32_t op;
    while (in.byte(&op)) {
        switch (op % 8) {
        case 5:
            trap_pack_begin(s.get());
            break;
        case 6:
            if (trap_pack_end(s.get()) == 0)
                CheckMessage(*s);
            break;
        case 7: {
            std::uint32_t capacity, text_length;
            const std::uint8_t* text;
            if (!in.byte(&capacity) || !in.byte(&text_length) || !in.take(text_length, &text))
                return 0;
            std::vector<char> copy(text, text + text_length);
            copy.push_back('\0');
            std::vector<std::uint32_t> out(capacity + 1, 0xA5A5A5A5u);
            const int n = parse_oid(out.data(), static_cast<int>(capacity), copy.data());
            Check(n >= 0 && static_cast<std::uint32_t>(n) <= capacity && out[capacity] == 0xA5A5A5A5u);
            break;
        }
        default: {
            std::uint32_t type, count;
            if (!in.byte(&type) || !in.byte(&count))
                return 0;
            std::vector<std::uint32_t> name(count + 1);
            for (std::uint32_t i = 0; i < count; ++i)
                if (!in.u32(&name[i]))
                    return 0;
            const std::uint8_t* len;
            if (!in.take(2, &len))
                return 0;
            const std::uint32_t value_length = Len16(len) % 2100;
            const std::uint8_t* value = nullptr;
            if ((op & 8) == 0 && !in.take(value_length, &value))
                return 0;
            // The value in a block of its own size, so a read past it shows.
            std::unique_ptr<std::uint8_t[]> copy;
            if (value != nullptr) {
                copy = std::make_unique<std::uint8_t[]>(value_length + 1);
                std::memcpy(copy.get(), value, value_length);
            }
            const std::uint32_t room = s->room;
            const bool usable = s->cursor != nullptr && (s->state == 1 || s->state == 2);
            const int r =
                trap_pack_add(s.get(), name.data(), count, static_cast<int>(type), copy.get(), value_length);
            Check(r == 0 || r == -1);
            Check(r == -1 || usable);
            if (r == -1)
                Check(s->cursor == nullptr || !usable);
            if (!usable)
                Check(s->room == room);
            break;
        }
        }
        CheckSession(*s);
    }
    if (trap_pack_end(s.get()) == 0)
        CheckMessage(*s);
    return 0;
}
