#include "core/ext.hpp"

#include "core/measure.hpp"

#include <algorithm>
#include <iomanip>

namespace ext {

void Table::row(std::ostream& out, const std::string& text)
{
    if (column_ >= widths_.size())
        return;
    open_ = true;
    const int w = widths_[column_];
    const int n =
        static_cast<int>(std::min<std::size_t>(text.size(), static_cast<std::size_t>(std::max(w, 0))));
    const int left = (w - n) / 2;
    const int right = (w - n + 1) / 2;
    out << '|' << std::string(static_cast<std::size_t>(left), ' ') << text
        << std::string(static_cast<std::size_t>(right), ' ');
    // A full row stays at its end: further cells are ignored until beginrow.
    if (++column_ >= widths_.size()) {
        out << '|' << '\n';
        open_ = false;
    }
}

void Table::finalize(std::ostream& out)
{
    while (open_)
        row(out, " ");
}

void Table::delimeter(std::ostream& out)
{
    finalize(out);
    if (widths_.empty())
        return;
    for (int w : widths_)
        out << '+' << std::string(static_cast<std::size_t>(std::max(w, 0)), '-');
    out << '+' << '\n';
}

void Table::gap(std::ostream& out)
{
    finalize(out);
    for (int w : widths_)
        out << '|' << std::string(static_cast<std::size_t>(std::max(w, 0)), ' ');
    out << '|' << '\n';
}

const Table::Sentry& Table::Sentry::row() const
{
    table_.row(out_, cell_.str());
    cell_.str(std::string());
    return *this;
}

const Table::Sentry& operator<<(const Table::Sentry& s, const char* text)
{
    s.cell() << (text != nullptr ? text : "");
    return s;
}

const Table::Sentry& operator<<(const Table::Sentry& s, const std::string& text)
{
    s.cell() << text;
    return s;
}

const Table::Sentry& operator<<(const Table::Sentry& s, unsigned int value)
{
    s.cell() << value;
    return s;
}

const Table::Sentry& operator<<(const Table::Sentry& s, int value)
{
    const auto base = s.cell().flags() & std::ios_base::basefield;
    if (base == std::ios_base::oct || base == std::ios_base::hex)
        s.cell() << static_cast<unsigned int>(value);
    else
        s.cell() << value;
    return s;
}

const Table::Sentry& operator<<(const Table::Sentry& s, const Measure& m)
{
    m.put(s.cell());
    return s;
}

const Table::Sentry& operator<<(const Table::Sentry& s, std::ios_base& (*manip)(std::ios_base&))
{
    manip(s.cell());
    return s;
}

const Table::Sentry& nextrow(const Table::Sentry& s)
{
    return s.row();
}

const Table::Sentry& beginrow(const Table::Sentry& s)
{
    s.table().resetrow();
    return s;
}

const Table::Sentry& delimeter(const Table::Sentry& s)
{
    s.table().delimeter(s.out());
    return s;
}

void OutBufInHex::Put(std::ostream& os) const
{
    static const char digits[] = "0123456789ABCDEF";
    for (const unsigned char* p = begin_; p < end_; ++p) {
        const char text[3] = {digits[*p >> 4], digits[*p & 0x0F], ' '};
        os.write(text, 3);
    }
}

void OutUnsignedInHex::Put(std::ostream& os) const
{
    const std::ios_base::fmtflags flags = os.flags();
    os << "0x" << std::hex << std::uppercase << std::setfill('0') << std::setw(width_ > 0 ? width_ : 0)
       << value_;
    os.flags(flags);
    os.fill(' ');
}

} // namespace ext
