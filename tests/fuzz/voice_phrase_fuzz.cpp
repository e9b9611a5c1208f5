// Phrase names come from the network. Every name the file player accepts,
// appended to the voice folder, must name something inside it: the path is
// resolved here by its words alone (".", "..", empty words), independently
// of how the player checks it.
//
// Input: the name's octets as they are (NUL included).

#include "slots/voice_slot.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// The words of `path` after resolving "." and "..", or false when a ".."
// climbs above the first word.
bool Resolve(std::string const& path, std::vector<std::string>& words)
{
    words.clear();
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string word = path.substr(start, end - start);
        if (word == "..") {
            if (words.empty())
                return false;
            words.pop_back();
        } else if (!word.empty() && word != ".") {
            words.push_back(word);
        }
        start = end + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string const name(reinterpret_cast<char const*>(data), size);
    if (!IsPhraseNameSafe(name))
        return 0;
    // The C library sees the name up to its first NUL.
    std::string const path = std::string(kVoiceFolder) + name.c_str();
    std::vector<std::string> folder, words;
    Check(Resolve(kVoiceFolder, folder));
    Check(Resolve(path, words));
    // Inside the folder, and not the folder itself.
    Check(words.size() > folder.size());
    for (std::size_t i = 0; i < folder.size(); ++i)
        Check(words[i] == folder[i]);
    return 0;
}
