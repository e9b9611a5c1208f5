#include "core/packet.hpp"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

#include "core/packet_pool.hpp"

namespace {

// Zero-initialised static storage: usable before any constructor runs, and
// the 64 MiB are committed page by page as buffers are first handed out.
List_allocator<_Packet, packet_pool_size, Dummy_critical_section> packet_pool;

_Packet* take_buffer()
{
    _Packet* raw = packet_pool.allocate();
    if (!raw)
        throw std::bad_alloc();
    return raw;
}

std::uintptr_t addr(void const* p) noexcept
{
    return reinterpret_cast<std::uintptr_t>(p);
}

// The invariant data <= begin <= end <= data + packet_max_size, compared as
// addresses so that broken pointers can be examined without undefined
// behaviour.
enum class Fault { none, begin, end, order };

Fault validate(_Packet const* p) noexcept
{
    std::uintptr_t lo = addr(p->data);
    std::uintptr_t hi = lo + packet_max_size;
    std::uintptr_t b = addr(p->begin);
    std::uintptr_t e = addr(p->end);
    if (b < lo || b > hi)
        return Fault::begin;
    if (e < lo || e > hi)
        return Fault::end;
    if (b > e)
        return Fault::order;
    return Fault::none;
}

} // namespace

void SmartPtrAssertion()
{
    std::clog << "SMART POINTER ASSERTION!" << std::endl;
    std::terminate();
}

void SharedPtrAssertion()
{
    std::clog << "SHARED POINTER ASSERTION!" << std::endl;
    std::terminate();
}

_Packet::_Packet(_Packet const& src) noexcept
    : refs(0), begin(data + (src.begin - src.data)), end(data + (src.end - src.data))
{
    std::memcpy(begin, src.begin, static_cast<std::size_t>(src.end - src.begin));
}

void smart_pointer_add_ref(_Packet* p) noexcept
{
    ++p->refs;
}

void smart_pointer_release(_Packet* p) noexcept
{
    if (--p->refs == 0)
        packet_pool.deallocate(p);
}

template <>
void Smart_pointer<_Packet>::prepare_for_modify()
{
    if (ptr->refs <= 1)
        return;
    _Packet* copy = new (take_buffer()) _Packet(*ptr);
    --ptr->refs; // still held by the other owners
    copy->refs = 1;
    ptr = copy;
}

std::size_t Packet::pool_free() noexcept
{
    return packet_pool.free_count();
}

unsigned int Packet::length() const noexcept
{
    _Packet const* p = buf.get();
    return p ? static_cast<unsigned int>(p->end - p->begin) : 0;
}

unsigned int Packet::headroom() const noexcept
{
    _Packet const* p = buf.get();
    return p ? static_cast<unsigned int>(p->begin - p->data) : 0;
}

unsigned int Packet::tailroom() const noexcept
{
    _Packet const* p = buf.get();
    return p ? static_cast<unsigned int>(p->data + packet_max_size - p->end) : 0;
}

_Packet* Packet::fresh_buffer()
{
    _Packet* p = new (take_buffer()) _Packet();
    buf = p;
    return p;
}

_Packet* Packet::writable()
{
    return buf.operator->();
}

void Packet::reserve_head(unsigned int len)
{
    require(len <= packet_max_size, "length>packet_max_size");
    if (!buf) {
        _Packet* p = fresh_buffer();
        p->begin = p->end = p->data + len;
        return;
    }
    // The window slides over the buffer: its end moves as far as its begin,
    // so the room needed is behind the content, not only in front of it.
    require(len <= tailroom(), "new_len>packet_max_size");
    _Packet* p = writable();
    p->begin += len;
    p->end += len;
    check("reserve_head");
}

void Packet::reserve_tail(unsigned int len)
{
    require(len <= packet_max_size, "len>packet_max_size");
    if (!buf) {
        _Packet* p = fresh_buffer();
        p->begin = p->end = p->data + packet_max_size - len;
        return;
    }
    // As in reserve_head, the begin of the content moves too.
    require(len <= headroom(), "_tailroom()+len <= packet_max_size");
    _Packet* p = writable();
    p->begin -= len;
    p->end -= len;
    check("reserve_tail");
}

void Packet::put8(std::uint8_t v)
{
    require(!null(), "null packet");
    require(tailroom() >= 1, "len<=_tailroom()");
    _Packet* p = writable();
    ++p->end;
    check("put");
    p->end[-1] = v;
}

void Packet::put16_b(unsigned short v)
{
    put8(static_cast<std::uint8_t>(v >> 8));
    put8(static_cast<std::uint8_t>(v));
}

void Packet::put16(unsigned short v)
{
    put8(static_cast<std::uint8_t>(v));
    put8(static_cast<std::uint8_t>(v >> 8));
}

void Packet::push8(std::uint8_t v)
{
    require(!null(), "null packet");
    require(headroom() >= 1, "len<=_headroom()");
    _Packet* p = writable();
    --p->begin;
    check("push");
    *p->begin = v;
}

void Packet::push16_b(unsigned short v)
{
    push8(static_cast<std::uint8_t>(v));
    push8(static_cast<std::uint8_t>(v >> 8));
}

std::uint8_t Packet::pull8()
{
    require(!null(), "null packet");
    if (length() == 0)
        return 0;
    _Packet* p = writable();
    require(p->end - p->begin >= 1, "len<=_length()");
    return *p->begin++;
}

unsigned short Packet::pull16_b()
{
    unsigned int hi = pull8();
    unsigned int lo = pull8();
    return static_cast<unsigned short>(hi << 8 | lo);
}

unsigned short Packet::pull16_l()
{
    unsigned int lo = pull8();
    unsigned int hi = pull8();
    return static_cast<unsigned short>(hi << 8 | lo);
}

void Packet::put(Packet const& other)
{
    unsigned int n = other.length();
    if (n == 0)
        return;
    // Keeps the source alive (and its bytes in place) should it be this
    // packet or share its buffer.
    Packet source = other;
    put(source.data(), n);
}

bool Packet::put(std::string const& s)
{
    if (s.size() > 0xFF)
        return false;
    require(!null(), "null packet");
    require(s.size() + 1 <= tailroom(), "len<=_tailroom()");
    put8(static_cast<std::uint8_t>(s.size()));
    put(s.data(), static_cast<unsigned int>(s.size()));
    return true;
}

std::string Packet::pull_string()
{
    unsigned int n = pull8();
    std::string s;
    s.reserve(n);
    for (unsigned int i = 0; i < n; ++i)
        s.push_back(static_cast<char>(pull8()));
    return s;
}

void Packet::put(void const* src, unsigned int n)
{
    require(!null(), "null packet");
    require(n <= tailroom(), "len<=_tailroom()");
    if (n == 0)
        return;
    _Packet* p = writable();
    std::memmove(p->end, src, n);
    p->end += n;
    check("put");
}

std::uint8_t* Packet::tail_space()
{
    require(!null(), "null packet");
    return writable()->end;
}

void Packet::extend(unsigned int n)
{
    require(!null(), "null packet");
    require(n <= tailroom(), "len<=_tailroom()");
    writable()->end += n;
    check("extend");
}

void Packet::drop(unsigned int n)
{
    require(!null(), "null packet");
    require(n <= length(), "len<=_length()");
    if (n == 0)
        return;
    writable()->begin += n;
    check("pull");
}

void Packet::trim(unsigned int n)
{
    require(!null(), "null packet");
    require(n <= length(), "len<=_length()");
    if (n == 0)
        return;
    writable()->end -= n;
    check("trim");
}

std::uint8_t const* Packet::data() const noexcept
{
    _Packet const* p = buf.get();
    return p ? p->begin : nullptr;
}

std::uint8_t Packet::operator[](unsigned int index) const
{
    require(!null(), "null packet");
    require(index < length(), "index out of range");
    return buf.get()->begin[index];
}

Packet Packet::sub(unsigned int start, unsigned int len) const
{
    require(!null(), "null packet");
    require(start <= length(), "start<=_length()");
    require(len <= length() - start, "start+len<=_length()");
    _Packet const* src = buf.get();
    Packet r;
    _Packet* p = r.fresh_buffer();
    p->begin = p->data + (src->begin - src->data) + start;
    p->end = p->begin + len;
    std::memcpy(p->begin, src->begin + start, len);
    return r;
}

std::string Packet::text() const
{
    _Packet const* p = buf.get();
    if (!p)
        return "(null)";
    if (validate(p) != Fault::none)
        return "(bad)";
    static char const hex[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(static_cast<std::size_t>(p->end - p->begin) * 3);
    for (std::uint8_t const* c = p->begin; c != p->end; ++c) {
        if (c != p->begin)
            s.push_back(' ');
        s.push_back(hex[*c >> 4]);
        s.push_back(hex[*c & 0xF]);
    }
    return s;
}

bool Packet::dump(std::ostream& os) const
{
    if (!buf)
        return false;
    os << "head=" << headroom() << ", "
       << "data=" << length() << ", "
       << "tail=" << tailroom();
    return true;
}

bool Packet::dump_context(std::ostream& os) const
{
    _Packet const* p = buf.get();
    if (!p || validate(p) != Fault::none)
        return false;
    if (p->begin == p->end)
        return true;
    os << "dump:";
    char tmp[4];
    for (std::uint8_t const* c = p->begin; c != p->end; ++c) {
        std::snprintf(tmp, sizeof tmp, " %x", static_cast<unsigned int>(*c));
        os << tmp;
    }
    return true;
}

void Packet::check(char const* op) const
{
    _Packet const* p = buf.get();
    if (!p)
        check_fail("after \"%s\" packet is null", op);
    switch (validate(p)) {
    case Fault::none:
        return;
    case Fault::begin:
        check_fail("after \"%s\" fdata invalid", op);
    case Fault::end:
        check_fail("after \"%s\" ftail invalid", op);
    case Fault::order:
        check_fail("after \"%s\" fdata>ftail", op);
    }
}

void Packet::check_fail(char const* format, ...)
{
    char text[256];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    std::clog << "packet check fail" << std::endl << text << std::endl << "terminate." << std::endl;
    std::terminate();
}

void Packet::passert_fail(char const* message) const
{
    std::clog << "PACKET ASSERTION FAILED!" << std::endl
              << message << std::endl
              << PacketInfo(*this) << std::endl;
    std::terminate();
}

PacketInfo::PacketInfo(Packet const& pkt)
{
    _Packet const* p = pkt.buf.get();
    if (!p)
        return;
    null = false;
    begin = static_cast<std::ptrdiff_t>(addr(p->begin) - addr(p->data));
    end = static_cast<std::ptrdiff_t>(addr(p->end) - addr(p->data));
    consistent = validate(p) == Fault::none;
    if (consistent)
        content.assign(p->begin, p->end);
}

void PacketInfo::put(std::ostream& os) const
{
    if (null) {
        os << "(null)";
        return;
    }
    os << "head=" << begin << ", "
       << "data=" << (end - begin) << ", "
       << "tail=" << (static_cast<std::ptrdiff_t>(packet_max_size) - end) << std::endl;
    if (!consistent) {
        os << "can't dump packet: wrong pointers";
        return;
    }
    if (content.empty())
        return;
    os << "dump:" << std::endl;
    char tmp[4];
    for (std::uint8_t c : content) {
        std::snprintf(tmp, sizeof tmp, " %x", static_cast<unsigned int>(c));
        os << tmp;
    }
    os << std::endl;
}

std::ostream& operator<<(std::ostream& os, PacketInfo const& info)
{
    info.put(os);
    return os;
}
