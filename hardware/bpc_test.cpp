#include "hardware/bpc_test.hpp"

#include "core/ext.hpp"
#include "hardware/hw_mux.hpp"

#include <cstdlib>
#include <iostream>

#include <unistd.h>

namespace Hardware {

namespace {

unsigned char NextPatternByte()
{
    return static_cast<unsigned char>(::random() & 0xFF);
}

} // namespace

void BpcTest::PutHeader(std::ostream& os) const
{
    os << "bus " << bus_ << ": ";
}

BpcTest::Result BpcTest::Run(unsigned bus, std::uint32_t seed, Mode mode, unsigned start, unsigned length)
{
    bus_ = bus;
    first_ = 8192 + bus * kSlots + start;
    end_ = first_ + length;
    seed_ = seed;
    if (bus >= kBuses || start >= kSlots || length > kSlots || start + length > kSlots)
        return Result::InvalidParams;
    ::srandom(seed_);
    switch (mode) {
    case Mode::Read:
        return TestRead();
    case Mode::Write:
        return TestWrite();
    case Mode::Disconnect:
        return TestDisconnect();
    }
    return Result::InvalidParams;
}

BpcTest::Result BpcTest::Compare(const char* failed, const char* expected, const char* got)
{
    for (std::uint32_t channel = first_; channel < end_; ++channel) {
        unsigned char want = NextPatternByte();
        unsigned char have = mux_.Read(static_cast<int>(channel));
        if (want != have) {
            std::cerr << ext::header(this) << failed << (channel & 127) << expected
                      << ext::OutBufInHex(&want, 1) << got << ext::OutBufInHex(&have, 1) << std::endl;
            return Result::BusError;
        }
    }
    return Result::Success;
}

BpcTest::Result BpcTest::TestRead()
{
    return Compare("test failed on channel ", " expected ", " read ");
}

BpcTest::Result BpcTest::TestWrite()
{
    for (std::uint32_t channel = first_; channel < end_; ++channel)
        mux_.Write(static_cast<int>(channel), NextPatternByte());
    ::usleep(500);
    ::srandom(seed_);
    return Compare("write failed on channel ", " write ", " written ");
}

BpcTest::Result BpcTest::TestDisconnect()
{
    // Every channel is released that can be; a channel left driving the bus
    // fails the test.
    std::uint32_t failed = end_;
    for (std::uint32_t channel = first_; channel < end_; ++channel)
        if (!mux_.Disable(static_cast<int>(channel)) && failed == end_)
            failed = channel;
    ::usleep(250);
    if (failed == end_)
        return Result::Success;
    std::cerr << ext::header(this) << "disconnect failed on channel " << (failed & 127) << std::endl;
    return Result::BusError;
}

} // namespace Hardware
