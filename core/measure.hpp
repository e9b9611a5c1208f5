#pragma once

#include <cstdint>
#include <iosfwd>

// Duration statistic in microseconds of the loop clock.
class Measure {
public:
    constexpr Measure() noexcept = default;

    void begin();
    // Records one sample and returns it.
    std::uint32_t end();
    // The same with the loop clock's microseconds read by the caller: the
    // loop times back-to-back calls with one reading between each two.
    void begin(std::uint32_t now_us) noexcept { start_ = now_us; }
    std::uint32_t end(std::uint32_t now_us) noexcept
    {
        // Unsigned 32-bit difference: right across the counter's wrap.
        const std::uint32_t d = now_us - start_;
        sample(d);
        return d;
    }
    // "min=.. max=.. avg=.. counter=..": "avg" holds the last sample.
    void put(std::ostream& os) const;

    std::uint32_t minimum() const noexcept { return min_; }
    std::uint32_t maximum() const noexcept { return max_; }
    std::uint32_t last() const noexcept { return last_; }
    std::uint32_t count() const noexcept { return count_; }

    // Records a sample of `d` microseconds (what end() does after timing).
    void sample(std::uint32_t d) noexcept
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

private:
    std::uint32_t min_ = 0;
    std::uint32_t max_ = 0;
    std::uint32_t last_ = 0;
    bool empty_ = true;
    std::uint32_t start_ = 0;
    std::uint32_t count_ = 0;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);
