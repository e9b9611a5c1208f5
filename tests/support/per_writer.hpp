#pragma once

// An aligned PER (X.691) bit writer for tests that build messages by hand,
// apart from the program's own coder.

#include <cstdint>
#include <vector>

namespace TestPer {

using Bytes = std::vector<std::uint8_t>;

class BitWriter {
public:
    void Bits(unsigned value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            if (bit_ == 0)
                out_.push_back(0);
            if ((value >> i) & 1)
                out_.back() |= static_cast<std::uint8_t>(0x80 >> bit_);
            bit_ = (bit_ + 1) % 8;
        }
    }
    void Align() { bit_ = 0; }
    // X.691 13.2.6 with 11.9: an unconstrained whole number is an octet
    // aligned length and the minimal two's-complement octets.
    void Unconstrained(long long v)
    {
        Bytes octets;
        do {
            octets.insert(octets.begin(), static_cast<std::uint8_t>(v & 0xFF));
            v >>= 8;
        } while (!((v == 0 && !(octets.front() & 0x80)) || (v == -1 && (octets.front() & 0x80))));
        Align();
        out_.push_back(static_cast<std::uint8_t>(octets.size()));
        out_.insert(out_.end(), octets.begin(), octets.end());
    }
    const Bytes& bytes() const { return out_; }

private:
    Bytes out_;
    int bit_ = 0;
};

} // namespace TestPer
