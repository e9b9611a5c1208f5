#include "sim/hal.hpp"

#include "sim/model_util.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>

namespace Sim {

namespace {

using Util::Fail;
using Util::ParseNumber;
using Util::SetWord;
using Util::Word;

} // namespace

// An Output of all zero bits is a default one (Unset, 0, no disables).
Hal::Hal() : Device("/dev/hal"), outputs_(static_cast<Output*>(std::calloc(kChannels, sizeof(Output))))
{
    if (!outputs_)
        throw std::bad_alloc();
}

void Hal::Free::operator()(Output* p) const noexcept
{
    std::free(p);
}

void Hal::Reset()
{
    std::fill_n(outputs_.get(), kChannels, Output{});
    clock_spi_.Reset();
}

Hal::Output Hal::Get(std::uint32_t output) const
{
    return output < kChannels ? outputs_[output] : Output{};
}

std::uint8_t Hal::ReadChannel(std::uint32_t channel) const
{
    // A connected output carries its source; follow the chain a few steps
    // (the switch itself cannot loop, a badly programmed table can).
    for (int depth = 0; depth < 16; ++depth) {
        if (channel >= kChannels)
            return kIdleRead;
        const Output& o = outputs_[channel];
        switch (o.state) {
        case State::Constant:
            return static_cast<std::uint8_t>(o.value);
        case State::Connected:
            channel = o.value;
            continue;
        case State::Unset:
        case State::Disabled:
            return kIdleRead;
        }
    }
    return kIdleRead;
}

Outcome Hal::Ioctl(std::uint32_t request, void* arg, unsigned long)
{
    switch (request) {
    case kConnect: {
        std::uint32_t output = Word(arg, 0), source = Word(arg, 1);
        if (output >= kChannels || source >= kChannels)
            return Fail(EINVAL);
        Output& o = outputs_[output];
        o.state = State::Connected;
        o.value = source;
        return {};
    }
    case kDisable: {
        std::uint32_t output = Word(arg, 0);
        if (output >= kChannels)
            return Fail(EINVAL);
        Output& o = outputs_[output];
        ++o.disables;
        Outcome r;
        // Disabling a disabled output changes nothing; the program's switch
        // refresh does that for ever, so the log leaves it out.
        r.quiet = o.state == State::Disabled;
        o.state = State::Disabled;
        o.value = 0;
        return r;
    }
    case kWrite: {
        std::uint32_t output = Word(arg, 0), value = Word(arg, 1);
        if (output >= kChannels)
            return Fail(EINVAL);
        Output& o = outputs_[output];
        o.state = State::Constant;
        o.value = value & 0xFF;
        return {};
    }
    case kRead: {
        std::uint32_t channel = Word(arg, 0);
        if (channel >= kChannels)
            return Fail(EINVAL);
        SetWord(arg, 1, ReadChannel(channel));
        return {};
    }
    default: {
        Outcome o;
        if (clock_spi_.Ioctl(request, arg, o))
            return o;
        return Fail(ENOTTY);
    }
    }
}

std::size_t Hal::Dump(std::ostream& out, std::uint32_t first, std::uint32_t last) const
{
    std::size_t lines = 0;
    for (std::uint32_t channel = first; channel < kChannels && channel <= last; ++channel) {
        const Output& o = outputs_[channel];
        if (o.state == State::Unset)
            continue;
        out << channel << ' ';
        switch (o.state) {
        case State::Unset:
            out << "unset";
            break;
        case State::Disabled:
            out << "disabled";
            break;
        case State::Connected:
            out << "connected " << o.value;
            break;
        case State::Constant: {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(o.value));
            out << "constant " << hex;
            break;
        }
        }
        out << '\n';
        ++lines;
    }
    return lines;
}

bool Hal::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.empty())
        return false;
    if (words[0] == "switch" && words.size() <= 3) {
        std::uint32_t first = 0, last = 0xFFFFFFFFu;
        if (words.size() >= 2 && !ParseNumber(words[1], first))
            return false;
        if (words.size() == 3 && !ParseNumber(words[2], last))
            return false;
        if (words.size() == 2)
            last = first;
        std::size_t n = Dump(out, first, last);
        out << "ok " << n << '\n';
        return true;
    }
    if (words[0] == "read" && words.size() == 2) {
        std::uint32_t channel;
        if (!ParseNumber(words[1], channel))
            return false;
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", ReadChannel(channel));
        out << "ok " << hex << '\n';
        return true;
    }
    return clock_spi_.Control(words, out);
}

void Hal::Help(std::ostream& out) const
{
    out << "switch [FIRST [LAST]]  one line per programmed output (\"8192 disabled\", \"8200 connected 5\", "
           "\"8193 constant 0xD5\"), then \"ok N\"\n"
           "read CHANNEL  \"ok 0xNN\": what a read request of the channel returns\n";
    clock_spi_.Help(out);
}

} // namespace Sim
