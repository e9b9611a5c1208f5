#include "core/measure.hpp"

#include "core/clock.hpp"

#include <ostream>

void Measure::begin()
{
    start_ = Mux::microseconds();
}

std::uint32_t Measure::end()
{
    return end(Mux::microseconds());
}

void Measure::put(std::ostream& os) const
{
    os << std::dec << "min=" << min_ << " max=" << max_ << " avg=" << last_ << " counter=" << count_;
}

std::ostream& operator<<(std::ostream& os, const Measure& m)
{
    m.put(os);
    return os;
}
