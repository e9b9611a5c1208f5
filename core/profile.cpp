#include "core/profile.hpp"

#include <ostream>

namespace Profile {

constinit Point* mRoot = nullptr;

Point::Point(const char* name) : next_(mRoot), name_(name)
{
    mRoot = this;
}

Point::~Point()
{
    for (Point** p = &mRoot; *p != nullptr; p = &(*p)->next_) {
        if (*p == this) {
            *p = next_;
            break;
        }
    }
}

void Point::begin()
{
    measure_.begin();
}

void Point::end()
{
    measure_.end();
}

void Point::sample(std::uint32_t d)
{
    measure_.sample(d);
}

void Point::put(std::ostream& os) const
{
    os << "[" << name_ << "]: ";
    measure_.put(os);
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

Block::Block(bool enabled, const char* name, std::ostream& out) : enabled_(enabled), name_(name), out_(out)
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
