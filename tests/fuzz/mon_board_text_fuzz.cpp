// The board's own text files, any bytes: a version or temperature file, the
// voice driver's version line, a configuration entry name.
//
// No read may go past the lengths the board's readers use (254 characters of
// a line, 126 of the driver line), and what comes out is bounded by them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "monitoring/monitoring_ctl.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string line = BoardText::FirstLine(text);
    if (line.size() > 254 || line.find('\0') != std::string::npos)
        std::abort();
    if (BoardText::Temperature(line).size() > line.size())
        std::abort();
    // "b [c d]" of a 126-character line: the tokens plus three characters.
    if (BoardText::DriverBuild(text).size() > 126 + 3)
        std::abort();
    std::uint32_t head = 7;
    std::uint64_t tail = 9;
    const bool matched = BoardText::ConfigVersion(text, head, tail);
    if (!matched && (head != 7 || tail != 9))
        std::abort();
    return 0;
}
