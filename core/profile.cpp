#include "core/profile.hpp"

#include "core/clock.hpp"

#include <ostream>

namespace Profile {

constinit Point* mRoot = nullptr;

Point::Point(const char* name) : next_(mRoot), name_(name) { mRoot = this; }

Point::~Point()
{
    for (Point** p = &mRoot; *p != nullptr; p = &(*p)->next_) {
        if (*p == this) {
            *p = next_;
            break;
        }
    }
}

void Point::begin() { start_ = Mux::microseconds(); }

void Point::end() { sample(Mux::microseconds() - start_); }

void Point::sample(std::uint32_t d)
{
    if (empty_) {
        min_ = max_ = last_ = d;
        count_ = 1;
        empty_ = false;
        return;
    }
    ++count_;
    if (d < min_)
        min_ = d;
    if (d > max_)
        max_ = d;
    last_ = d;
}

void Point::put(std::ostream& os) const
{
    os << std::dec << "[" << name_ << "]: " << "min=" << min_ << " max=" << max_
       << " avg=" << last_ << " counter=" << count_;
}

void dump(std::ostream& os)
{
    for (const Point* p = mRoot; p != nullptr; p = p->next()) {
        p->put(os);
        os << std::endl;
    }
}

} // namespace Profile

namespace Trace {

Block::Block(bool enabled, const char* name, std::ostream& out)
    : enabled_(enabled), name_(name), out_(out)
{
    if (enabled_)
        out_ << "Enter " << name_ << std::endl;
}

Block::~Block()
{
    if (enabled_)
        out_ << "Leave " << name_ << std::endl;
}

} // namespace Trace
