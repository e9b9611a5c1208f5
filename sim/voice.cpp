#include "sim/voice.hpp"

#include "sim/model_util.hpp"

#include <cerrno>
#include <cstring>
#include <ostream>

namespace Sim {

static_assert(Driver::RequestSize(Voice::kCapacity) == 4);

Voice::Voice() : Device("/dev/voice")
{
    Reset();
}

void Voice::Reset()
{
    // G.711 (1), G.723 (2), G.729 (4), G.711 on the MCC (8), universal (65),
    // L16 (128), G.722 (256).
    caps_ = {{1, 120}, {2, 60}, {4, 60}, {8, 30}, {65, 120}, {128, 30}, {256, 30}};
}

std::uint32_t Voice::Capacity(std::uint32_t mask) const
{
    auto it = caps_.find(mask);
    return it == caps_.end() ? 0 : it->second;
}

Outcome Voice::Ioctl(std::uint32_t request, void* arg, unsigned long)
{
    if (request != kCapacity)
        return Util::Fail(ENOTTY);
    std::uint32_t mask = 0;
    std::memcpy(&mask, arg, sizeof mask);
    return Outcome{static_cast<int>(Capacity(mask)), 0, false};
}

bool Voice::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.size() == 1 && words[0] == "caps") {
        for (const auto& [mask, count] : caps_)
            out << mask << ' ' << count << '\n';
        out << "ok " << caps_.size() << '\n';
        return true;
    }
    std::uint32_t mask = 0, count = 0;
    if (words.size() == 3 && words[0] == "caps" && Util::ParseNumber(words[1], mask) &&
        Util::ParseNumber(words[2], count, 0x7FFFFFFF)) {
        SetCapacity(mask, count);
        out << "ok\n";
        return true;
    }
    return false;
}

void Voice::Help(std::ostream& out) const
{
    out << "caps  one line per codec mask \"MASK N\", then \"ok N\"\n"
           "caps MASK N  the board can carry N sessions of the codecs in MASK\n";
}

} // namespace Sim
