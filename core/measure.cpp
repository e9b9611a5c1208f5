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

std::uint32_t Measure::end(std::uint32_t now_us) noexcept
{
    // Unsigned 32-bit difference: right across the counter's wrap.
    std::uint32_t d = now_us - start_;
    sample(d);
    return d;
}

void Measure::sample(std::uint32_t d) noexcept
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

void Measure::put(std::ostream& os) const
{
    os << std::dec << "min=" << min_ << " max=" << max_ << " avg=" << last_ << " counter=" << count_;
}

std::ostream& operator<<(std::ostream& os, const Measure& m)
{
    m.put(os);
    return os;
}
