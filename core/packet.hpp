#pragma once
// Pooled, reference-counted, copy-on-write packet buffers. Layers reserve
// their head room before the payload is written, then prepend headers on the
// way down and strip them on the way up, without moving the payload.
//
// Every operation checks that it stays inside its buffer; one that would not
// prints the packet's state to the log stream and ends the process. The only
// exception is std::bad_alloc, when the pool has no free buffer.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/packet_smart_pointer.hpp"

inline constexpr unsigned int packet_max_size = 65536;
inline constexpr unsigned int packet_pool_size = 1024;

// The buffer. The content is [begin, end) inside data.
struct _Packet {
    std::uint32_t refs;
    std::uint8_t* begin;
    std::uint8_t* end;
    std::uint8_t data[packet_max_size];

    // Empty, with all of the buffer as head room.
    _Packet() noexcept : refs(0), begin(data + packet_max_size), end(data + packet_max_size) {}
    // Count 0, same offsets as the source, only the content copied.
    _Packet(_Packet const& src) noexcept;
    _Packet& operator=(_Packet const&) = delete;
};

void smart_pointer_add_ref(_Packet* p) noexcept;
void smart_pointer_release(_Packet* p) noexcept;

template <>
void Smart_pointer<_Packet>::prepare_for_modify();

class Packet {
public:
    Packet() noexcept = default;

    unsigned int length() const noexcept;
    unsigned int headroom() const noexcept;
    unsigned int tailroom() const noexcept;
    bool null() const noexcept { return !buf; }
    // Drops this handle's reference.
    void reset() noexcept { buf.reset(); }

    // On a null packet: a fresh buffer with len bytes of head room (the rest
    // tail room). On a packet with a buffer: slide the content window forward
    // by len; the bytes are not moved. May throw std::bad_alloc.
    void reserve_head(unsigned int len);
    // Mirror image: len bytes of tail room, or slide the window back by len.
    void reserve_tail(unsigned int len);

    void put8(std::uint8_t v);
    void put16_b(unsigned short v); // high byte first
    void put16(unsigned short v);   // low byte first
    void push8(std::uint8_t v);
    void push16_b(unsigned short v); // ends up high byte first
    // Reading past the end is not an error: missing bytes read as 0.
    std::uint8_t pull8();
    unsigned short pull16_b();
    unsigned short pull16_l();

    // Appends every byte of other.
    void put(Packet const& other);
    // One length byte, then the characters. A string that one byte cannot
    // count is refused: false, and the packet is unchanged.
    bool put(std::string const& s);
    std::string pull_string();

    // Block operations for layers that move whole chunks (socket reads and
    // writes, frame reassembly); each checks its bounds once.
    void put(void const* src, unsigned int n);         // append n bytes
    std::uint8_t* tail_space();                        // first byte of tail room
    void extend(unsigned int n);                       // take n bytes of tail room as content
    void drop(unsigned int n);                         // consume n bytes from the front
    void trim(unsigned int n);                         // give n bytes at the end back to tail room
    std::uint8_t const* data() const noexcept;         // content, null for a null packet
    std::uint8_t operator[](unsigned int index) const; // content byte

    // Unshared copy of bytes [start, start + len), same buffer offsets.
    Packet sub(unsigned int start, unsigned int len) const;

    // "03 00 00 07"; "(null)"; "(bad)" when the pointers are broken.
    std::string text() const;
    // "head=H, data=L, tail=T"; false for a null packet.
    bool dump(std::ostream& os) const;
    // "dump: 3 0 0 7"; false for a null packet or broken pointers.
    bool dump_context(std::ostream& os) const;

    void check(char const* op) const;
    [[noreturn]] static void check_fail(char const* format, ...) __attribute__((format(printf, 1, 2)));
    void passert(bool ok, std::string const& message) const
    {
        if (!ok)
            passert_fail(message.c_str());
    }

    // Pool figures: tests prove with them that nothing leaked.
    static std::size_t pool_free() noexcept;
    static constexpr std::size_t pool_size() noexcept { return packet_pool_size; }

private:
    friend struct PacketInfo;
    [[noreturn]] void passert_fail(char const* message) const;
    // passert without building a string on the hot path.
    void require(bool ok, char const* message) const
    {
        if (!ok) [[unlikely]]
            passert_fail(message);
    }
    _Packet* fresh_buffer();
    _Packet* writable();

    Smart_pointer<_Packet> buf;
};

// A snapshot of a packet for diagnostics.
struct PacketInfo {
    explicit PacketInfo(Packet const& p);
    void put(std::ostream& os) const;

    bool null = true;
    bool consistent = false;
    std::ptrdiff_t begin = 0; // offsets from the start of the data area
    std::ptrdiff_t end = 0;
    std::vector<std::uint8_t> content;
};

std::ostream& operator<<(std::ostream& os, PacketInfo const& info);
