#pragma once

// Output helpers that give the server's diagnostics their shape: the
// per-object log-line header, fixed-width column tables for the status dump,
// and hexadecimal printers.

#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

class Measure;

namespace ext {

// ext::header(this) written to a stream calls the object's
// PutHeader(std::ostream&) const, the prefix of each of its log lines.
template <class T>
struct OutObjHeader {
    const T* obj;
};

template <class T>
OutObjHeader<T> header(const T* obj)
{
    return OutObjHeader<T>{obj};
}

template <class T>
std::ostream& operator<<(std::ostream& os, const OutObjHeader<T>& h)
{
    h.obj->PutHeader(os);
    return os;
}

class Table {
public:
    // Collects the text of one cell; nextrow writes it.
    class Sentry {
    public:
        Sentry(std::ostream& out, Table& table) : out_(out), table_(table) {}
        const Sentry& row() const;

        std::ostream& out() const { return out_; }
        Table& table() const { return table_; }
        std::ostringstream& cell() const { return cell_; }

    private:
        std::ostream& out_;
        Table& table_;
        mutable std::ostringstream cell_;
    };

    Table() { init(); }
    explicit Table(int w1) : Table() { add(w1); }
    Table(int w1, int w2) : Table(w1) { add(w2); }
    Table(int w1, int w2, int w3) : Table(w1, w2) { add(w3); }
    Table(int w1, int w2, int w3, int w4) : Table(w1, w2, w3) { add(w4); }
    Table(int w1, int w2, int w3, int w4, int w5) : Table(w1, w2, w3, w4) { add(w5); }
    Table(int w1, int w2, int w3, int w4, int w5, int w6) : Table(w1, w2, w3, w4, w5) { add(w6); }
    Table(int w1, int w2, int w3, int w4, int w5, int w6, int w7) : Table(w1, w2, w3, w4, w5, w6) { add(w7); }

    void init() { resetrow(); }
    void resetrow()
    {
        column_ = 0;
        open_ = false;
    }
    void add(int width) { widths_.push_back(width); }
    void row(std::ostream& out, const std::string& text);
    void finalize(std::ostream& out);
    void delimeter(std::ostream& out);
    void gap(std::ostream& out);

private:
    std::vector<int> widths_;
    unsigned column_ = 0;
    bool open_ = false;
};

const Table::Sentry& operator<<(const Table::Sentry& s, const char* text);
const Table::Sentry& operator<<(const Table::Sentry& s, const std::string& text);
const Table::Sentry& operator<<(const Table::Sentry& s, unsigned int value);
const Table::Sentry& operator<<(const Table::Sentry& s, int value);
const Table::Sentry& operator<<(const Table::Sentry& s, const Measure& m);
const Table::Sentry& operator<<(const Table::Sentry& s, std::ios_base& (*manip)(std::ios_base&));
template <std::size_t N>
const Table::Sentry& operator<<(const Table::Sentry& s, const char (&text)[N])
{
    return s << static_cast<const char*>(text);
}

const Table::Sentry& nextrow(const Table::Sentry& s);
const Table::Sentry& beginrow(const Table::Sentry& s);
const Table::Sentry& delimeter(const Table::Sentry& s);

inline const Table::Sentry& operator<<(const Table::Sentry& s,
                                       const Table::Sentry& (*fn)(const Table::Sentry&))
{
    return fn(s);
}

// Each byte as "%02X ".
class OutBufInHex {
public:
    OutBufInHex(const void* begin, const void* end)
        : begin_(static_cast<const unsigned char*>(begin)), end_(static_cast<const unsigned char*>(end))
    {}
    OutBufInHex(const void* data, std::size_t len)
        : OutBufInHex(data, static_cast<const unsigned char*>(data) + len)
    {}
    void Put(std::ostream& os) const;

private:
    const unsigned char* begin_;
    const unsigned char* end_;
};

// "0x" and the value in upper-case hex, zero-filled to `width` digits.
class OutUnsignedInHex {
public:
    OutUnsignedInHex(unsigned int value, int width) : value_(value), width_(width) {}
    void Put(std::ostream& os) const;

private:
    unsigned int value_;
    int width_;
};

// The text between double-quote characters.
class quoted {
public:
    explicit quoted(const char* text) : text_(text != nullptr ? text : "") {}
    explicit quoted(const std::string& text) : text_(text.c_str()) {}
    void Put(std::ostream& os) const { os << '"' << text_ << '"'; }

private:
    const char* text_;
};

inline std::ostream& operator<<(std::ostream& os, const OutBufInHex& x)
{
    x.Put(os);
    return os;
}
inline std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& x)
{
    x.Put(os);
    return os;
}
inline std::ostream& operator<<(std::ostream& os, const quoted& x)
{
    x.Put(os);
    return os;
}

} // namespace ext
