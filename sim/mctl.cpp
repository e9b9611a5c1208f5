#include "sim/mctl.hpp"

#include "sim/model_util.hpp"

#include <cerrno>
#include <ostream>

namespace Sim {

using Util::Fail;

Mctl::Mctl() : Device("/dev/mctl")
{}

void Mctl::Reset()
{
    count_ = kModems;
    opens_.clear();
    records_.clear();
}

void Mctl::SetModems(std::uint32_t count)
{
    count_ = count > kMaxModems ? kMaxModems : count;
    for (auto& [open, modem] : opens_)
        if (modem >= static_cast<int>(count_))
            modem = -1;
}

std::uint32_t Mctl::RecordSize(std::uint32_t request) const
{
    switch (request) {
    case kAnswer:
    case kOriginate:
    case kSetDdm:
    case kResetDmp:
    case kFaxOriginate:
        return 8;
    case kSetDmp:
        return 12;
    default:
        return 0;
    }
}

void Mctl::Opened(int open, int)
{
    opens_[open] = -1;
}

void Mctl::Closed(int open)
{
    opens_.erase(open);
}

void Mctl::ForgetDead()
{
    for (auto it = opens_.begin(); it != opens_.end();) {
        if (Util::ProgramGone(it->first))
            it = opens_.erase(it);
        else
            ++it;
    }
}

bool Mctl::Allocated(std::uint32_t modem)
{
    ForgetDead();
    for (const auto& [open, m] : opens_)
        if (m == static_cast<int>(modem))
            return true;
    return false;
}

std::map<std::uint32_t, std::vector<std::uint32_t>> Mctl::Records(std::uint32_t modem) const
{
    auto it = records_.find(modem);
    return it == records_.end() ? std::map<std::uint32_t, std::vector<std::uint32_t>>{} : it->second;
}

Outcome Mctl::Ioctl(std::uint32_t, void*, unsigned long)
{
    return Fail(ENOTTY); // every request belongs to an open (IoctlOn)
}

Outcome Mctl::IoctlOn(int open, std::uint32_t request, void* arg, unsigned long value)
{
    auto it = opens_.find(open);
    if (it == opens_.end())
        return Fail(EBADF);
    int& held = it->second;
    switch (request) {
    case kEnumerate: {
        // The previous modem as the driver's int: -1 starts the walk.
        const auto previous = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        if (previous < -1)
            return Fail(EINVAL);
        const std::uint32_t next = static_cast<std::uint32_t>(previous + 1);
        if (next >= count_)
            return Fail(ENODEV);
        return Outcome{static_cast<int>(next), 0, false};
    }
    case kAllocate: {
        if (value != 0)
            return Fail(EINVAL);
        if (held >= 0)
            return Fail(EBUSY);
        ForgetDead();
        for (std::uint32_t m = 0; m < count_; ++m) {
            if (!Allocated(m)) {
                held = static_cast<int>(m);
                records_.erase(m);
                return Outcome{static_cast<int>(m), 0, false};
            }
        }
        return Fail(EBUSY);
    }
    case kTimeslot:
        if (held < 0)
            return Fail(EINVAL);
        return Outcome{static_cast<int>(Channel(static_cast<std::uint32_t>(held))), 0, false};
    default:
        break;
    }
    const std::uint32_t size = RecordSize(request);
    if (size == 0)
        return Fail(ENOTTY);
    if (arg == nullptr)
        return Fail(EFAULT);
    std::vector<std::uint32_t> words(size / 4);
    for (std::uint32_t i = 0; i < words.size(); ++i)
        words[i] = Util::Word(arg, i);
    // A record for another open's modem, or none, is refused.
    if (held < 0 || words[0] != static_cast<std::uint32_t>(held))
        return Fail(EINVAL);
    if (request == kSetDmp && words[1] >= kDmpParams)
        return Fail(EINVAL);
    if (request == kResetDmp)
        records_[words[0]].erase(kSetDmp);
    records_[words[0]][request] = words;
    return Outcome{};
}

bool Mctl::Control(const std::vector<std::string>& words, std::ostream& out)
{
    std::uint32_t n;
    if (words.size() == 2 && words[0] == "modems" && Util::ParseNumber(words[1], n, kMaxModems)) {
        SetModems(n);
        out << "ok\n";
        return true;
    }
    if (words.size() == 1 && words[0] == "modems") {
        out << "ok " << count_ << '\n';
        return true;
    }
    if (words.size() == 2 && words[0] == "modem" && Util::ParseNumber(words[1], n)) {
        if (n >= count_) {
            out << "error no such modem\n";
            return true;
        }
        out << "channel " << Channel(n) << '\n';
        out << "allocated " << (Allocated(n) ? "yes" : "no") << '\n';
        std::size_t lines = 2;
        for (const auto& [request, record] : Records(n)) {
            out << "0x" << std::hex << request << std::dec;
            for (std::uint32_t w : record)
                out << ' ' << static_cast<std::int32_t>(w);
            out << '\n';
            ++lines;
        }
        out << "ok " << lines << '\n';
        return true;
    }
    return false;
}

void Mctl::Help(std::ostream& out) const
{
    out << "modems  \"ok N\": the modems of the pool\n"
           "modems N  the pool holds N modems (at most 1024; 4 after reset)\n"
           "modem M  its channel, whether an open holds it, and the last record of each request "
           "(\"0xbb16 1 3\")\n";
}

} // namespace Sim
