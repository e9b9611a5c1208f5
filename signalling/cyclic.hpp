#pragma once

// Sequence numbers of the link layers: an unsigned value kept modulo
// Mask + 1 (Q.921 3.5.2 and Q.703 5.2 count modulo 128), so that sums,
// differences, ++ and -- wrap the way the protocols count.

template <class T, T Mask>
class Cyclic {
public:
    // The window test x <= y <= z, built as (x <= y) <= z: true when y lies
    // in the window from x to z, both ends included, counted modulo Mask + 1.
    class LessEqPair {
    public:
        constexpr LessEqPair(Cyclic x, Cyclic y) noexcept : x_(x), y_(y) {}
        constexpr bool operator<=(Cyclic z) const noexcept
        {
            return ((z - x_).value()) >= ((y_ - x_).value());
        }

    private:
        Cyclic x_;
        Cyclic y_;
    };

    constexpr Cyclic() noexcept = default;
    // A value outside the range is masked, not refused.
    constexpr Cyclic(T v) noexcept : v_(v & Mask) {}

    constexpr T value() const noexcept { return v_; }
    constexpr explicit operator T() const noexcept { return v_; }

    constexpr Cyclic operator+(Cyclic o) const noexcept { return Cyclic(v_ + o.v_); }
    constexpr Cyclic operator-(Cyclic o) const noexcept { return Cyclic(v_ - o.v_); }

    constexpr Cyclic& operator++() noexcept
    {
        v_ = v_ >= Mask ? T(0) : T(v_ + 1);
        return *this;
    }
    constexpr Cyclic operator++(int) noexcept
    {
        Cyclic old = *this;
        ++*this;
        return old;
    }
    constexpr Cyclic& operator--() noexcept
    {
        v_ = v_ == T(0) ? Mask : T(v_ - 1);
        return *this;
    }
    constexpr Cyclic operator--(int) noexcept
    {
        Cyclic old = *this;
        --*this;
        return old;
    }

    constexpr bool operator==(const Cyclic&) const noexcept = default;

    constexpr LessEqPair operator<=(Cyclic y) const noexcept { return LessEqPair(*this, y); }

private:
    T v_ = 0;
};
