#include "sim/netifs.hpp"

#include "sim/model_util.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace Sim {

namespace {

using Util::Fail;

// The interface record: the name, then the union.
constexpr std::size_t kNameSize = 16;
constexpr std::size_t kUnion = 16;
// SIOCWANDEV settings inside the union: type, size, then the pointer (after
// two words, so at the same place on 32- and 64-bit machines).
constexpr std::size_t kSettingsType = kUnion;
constexpr std::size_t kSettingsSize = kUnion + 4;
constexpr std::size_t kSettingsData = kUnion + 8;
// The E1 physical settings: clock rate, clock type, loopback, slot_map.
constexpr std::size_t kTe1SlotMap = 12;
constexpr std::uint32_t kTe1Size = 16;

std::uint32_t WordAt(const void* p, std::size_t at)
{
    std::uint32_t w;
    std::memcpy(&w, static_cast<const unsigned char*>(p) + at, sizeof w);
    return w;
}

void PutWord(void* p, std::size_t at, std::uint32_t w)
{
    std::memcpy(static_cast<unsigned char*>(p) + at, &w, sizeof w);
}

std::uint16_t FlagsAt(const void* p)
{
    std::uint16_t f;
    std::memcpy(&f, static_cast<const unsigned char*>(p) + kUnion, sizeof f);
    return f;
}

void* DataPointer(const void* p)
{
    void* data;
    std::memcpy(&data, static_cast<const unsigned char*>(p) + kSettingsData, sizeof data);
    return data;
}

} // namespace

NetIfs::NetIfs() : Device("netif")
{
    Reset();
}

void NetIfs::Reset()
{
    interfaces_.clear();
    for (std::uint32_t n = 0; n < 2; ++n) {
        Interface i;
        i.flags = kUp | kPointToPoint | kRunning;
        i.slotMap = kFirstSlotMap + n;
        interfaces_[n] = i;
    }
}

bool NetIfs::Number(const std::string& name, std::uint32_t& n)
{
    if (name.size() < 5 || name.size() >= kNameSize || name.compare(0, 4, "hdlc") != 0)
        return false;
    std::string digits = name.substr(4);
    if (digits.find_first_not_of("0123456789") != std::string::npos ||
        (digits.size() > 1 && digits[0] == '0'))
        return false;
    return Util::ParseNumber(digits, n, 99999);
}

std::string NetIfs::NameOf(const void* ifreq)
{
    const char* name = static_cast<const char*>(ifreq);
    return std::string(name, ::strnlen(name, kNameSize - 1));
}

bool NetIfs::Owns(const void* ifreq)
{
    std::uint32_t n;
    return Number(NameOf(ifreq), n);
}

std::vector<std::uint32_t> NetIfs::WordsIn(std::uint32_t request, const void* ifreq)
{
    if (request == kSetFlags)
        return {FlagsAt(ifreq)};
    if (request == kWanDev)
        return {WordAt(ifreq, kSettingsType), WordAt(ifreq, kSettingsSize)};
    return {};
}

std::vector<std::uint32_t> NetIfs::WordsOut(std::uint32_t request, const void* ifreq)
{
    if (request == kGetIndex)
        return {WordAt(ifreq, kUnion)};
    if (request == kGetFlags)
        return {FlagsAt(ifreq)};
    if (request == kWanDev && WordAt(ifreq, kSettingsType) == kIfaceE1)
        return {WordAt(ifreq, kSettingsType), WordAt(DataPointer(ifreq), kTe1SlotMap)};
    return {};
}

Outcome NetIfs::Ioctl(std::uint32_t request, void* arg, unsigned long)
{
    std::uint32_t n;
    if (arg == nullptr || !Number(NameOf(arg), n))
        return Fail(EFAULT);
    auto it = interfaces_.find(n);
    if (it == interfaces_.end())
        return Fail(ENODEV);
    Interface& i = it->second;
    switch (request) {
    case kGetIndex:
        // Indexes after the kernel's own few.
        PutWord(arg, kUnion, 100 + n);
        return Outcome{};
    case kGetFlags: {
        std::uint16_t f = static_cast<std::uint16_t>(i.flags);
        std::memcpy(static_cast<unsigned char*>(arg) + kUnion, &f, sizeof f);
        return Outcome{};
    }
    case kSetFlags:
        i.flags = FlagsAt(arg);
        return Outcome{};
    case kWanDev:
        break;
    default:
        return Fail(ENOTTY);
    }
    const std::uint32_t type = WordAt(arg, kSettingsType);
    const std::uint32_t size = WordAt(arg, kSettingsSize);
    void* data = DataPointer(arg);
    if (type == kGetIface) {
        // As the kernel: a buffer too small is refused and told the size.
        if (size < kTe1Size) {
            PutWord(arg, kSettingsSize, kTe1Size);
            return Fail(ENOBUFS);
        }
        if (data == nullptr)
            return Fail(EFAULT);
        unsigned char te1[kTe1Size] = {};
        PutWord(te1, 0, 2048000); // clock rate
        PutWord(te1, 4, 1);       // clock type: external
        PutWord(te1, kTe1SlotMap, i.slotMap);
        std::memcpy(data, te1, sizeof te1);
        PutWord(arg, kSettingsType, kIfaceE1);
        PutWord(arg, kSettingsSize, kTe1Size);
        return Outcome{};
    }
    if (type == kProtoPpp) {
        i.proto = kProtoPpp;
        return Outcome{};
    }
    if (type == kProtoHdlc) {
        if (size < 4 || data == nullptr)
            return Fail(EINVAL);
        std::memcpy(&i.encoding, data, 2);
        std::memcpy(&i.parity, static_cast<unsigned char*>(data) + 2, 2);
        i.proto = kProtoHdlc;
        return Outcome{};
    }
    return Fail(EINVAL);
}

std::optional<NetIfs::Interface> NetIfs::Get(const std::string& name) const
{
    std::uint32_t n;
    if (!Number(name, n))
        return std::nullopt;
    auto it = interfaces_.find(n);
    if (it == interfaces_.end())
        return std::nullopt;
    return it->second;
}

bool NetIfs::Set(const std::string& name, std::uint32_t flags, std::uint32_t slotMap)
{
    std::uint32_t n;
    if (!Number(name, n))
        return false;
    Interface& i = interfaces_[n];
    i.flags = flags;
    i.slotMap = slotMap;
    return true;
}

bool NetIfs::Remove(const std::string& name)
{
    std::uint32_t n;
    return Number(name, n) && interfaces_.erase(n) == 1;
}

void NetIfs::List(std::ostream& out) const
{
    for (const auto& [n, i] : interfaces_) {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%x", static_cast<unsigned>(i.flags));
        out << "hdlc" << n << " flags " << flags << " slotmap " << i.slotMap << " proto "
            << (i.proto == kProtoPpp ? "ppp" : "hdlc") << '\n';
    }
    out << "ok " << interfaces_.size() << '\n';
}

bool NetIfs::Control(const std::vector<std::string>& words, std::ostream& out)
{
    std::uint32_t flags, slotMap;
    if (words.empty()) {
        List(out);
        return true;
    }
    if (words[0] == "add" && words.size() == 4 && Util::ParseNumber(words[2], flags, 0xFFFF) &&
        Util::ParseNumber(words[3], slotMap)) {
        if (!Set(words[1], flags, slotMap))
            out << "error not an hdlc<N> name\n";
        else
            out << "ok\n";
        return true;
    }
    if (words[0] == "remove" && words.size() == 2) {
        out << (Remove(words[1]) ? "ok\n" : "error no such interface\n");
        return true;
    }
    return false;
}

void NetIfs::Help(std::ostream& out) const
{
    out << " the interfaces: \"hdlcN flags F slotmap C proto hdlc|ppp\" each (also \"netifs\")\n"
           "add NAME FLAGS SLOTMAP  adds hdlcN, or sets its flags and switch channel\n"
           "remove NAME  the interface is gone\n";
}

} // namespace Sim
