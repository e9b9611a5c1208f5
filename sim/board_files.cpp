#include "sim/board_files.hpp"

#include "sim/e1.hpp"
#include "sim/model_util.hpp"

#include <cerrno>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>

#include <sys/stat.h>

namespace Sim {

namespace {

constexpr const char* kTemperature = "/proc/temperature";
constexpr const char* kFramerDir = "/proc/driver/hdlc/peb22554/";

// The words from `first` on, joined by single spaces.
std::string Joined(const std::vector<std::string>& words, std::size_t first)
{
    std::string text;
    for (std::size_t i = first; i < words.size(); ++i)
        text += (i == first ? "" : " ") + words[i];
    return text;
}

bool ParseYesNo(const std::string& word, bool& out)
{
    if (word != "yes" && word != "no")
        return false;
    out = word == "yes";
    return true;
}

// Every folder on the way to `path`'s file.
void MakeParents(const std::string& path)
{
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        ::mkdir(path.substr(0, at).c_str(), 0755);
}

} // namespace

static_assert(BoardFiles::kFramers == Maintenance::kTrunks, "one framer per E1 trunk");

BoardFiles::BoardFiles(Maintenance& lines) : Device("files"), lines_(lines)
{
    lines_.OnLineChange([this] { WriteAll(); });
    Reset();
}

Outcome BoardFiles::Ioctl(std::uint32_t, void*, unsigned long)
{
    return Util::Fail(ENOTTY); // files are read, not driven
}

void BoardFiles::Reset()
{
    temperature_ = "42";
    versions_ = {
        {"build", "/var/version", "2.4.1 sim"},
        {"boot", "/var/u-boot-version", "U-Boot 2009.11 sim"},
        {"fpga", "/var/fpga-version", "1.7"},
        {"board", "/var/board-version", "3"},
        {"driver", "/proc/voice/version", "voice 1.3 build 12"},
    };
    // The lines themselves are the trunks', reset with them.
    for (Framer& f : framers_)
        f = Framer{};
    WriteAll();
}

std::string BoardFiles::FramerText(unsigned n) const
{
    const Framer& f = framers_[n];
    const Maintenance::Trunk& e1 = lines_.trunk(n);
    // Each label padded to 24 characters, then ": " and the value.
    std::ostringstream s;
    auto line = [&s](const char* label, const std::string& value) {
        s << std::left << std::setw(24) << label << ": " << value << '\n';
    };
    line("Current state", Maintenance::StateText(e1.state));
    line("Loss of Signal", e1.signal_loss ? "yes" : "no");
    line("Loss of Frame Alignment", e1.frame_loss ? "yes" : "no");
    line("Receive Slip Negative", std::to_string(f.negative_slips));
    line("Receive Slip Positive", std::to_string(f.positive_slips));
    return s.str();
}

std::vector<std::pair<std::string, std::string>> BoardFiles::Files() const
{
    std::vector<std::pair<std::string, std::string>> files;
    files.emplace_back(kTemperature, temperature_ + "\n");
    for (const Version& v : versions_)
        files.emplace_back(v.path, v.text + "\n");
    for (unsigned i = 0; i < kFramers; ++i)
        files.emplace_back(kFramerDir + std::to_string(i), FramerText(i));
    return files;
}

void BoardFiles::Publish(const std::string& root)
{
    root_ = root;
    WriteAll();
}

void BoardFiles::WriteAll() const
{
    if (root_.empty())
        return;
    for (const auto& [path, text] : Files())
        Write(root_ + path, text);
}

void BoardFiles::Write(const std::string& path, const std::string& text) const
{
    MakeParents(path);
    const std::string fresh = path + ".new";
    std::FILE* f = std::fopen(fresh.c_str(), "we");
    if (f == nullptr)
        return;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) == 0 && written)
        std::rename(fresh.c_str(), path.c_str());
    else
        std::remove(fresh.c_str());
}

bool BoardFiles::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.size() == 1 && words[0] == "show") {
        const auto files = Files();
        for (const auto& [path, text] : files) {
            std::string shown = text;
            for (char& c : shown)
                c = c == '\n' ? '|' : c;
            out << path << ' ' << shown << '\n';
        }
        out << "ok " << files.size() << '\n';
        return true;
    }
    if (words.empty())
        return false;
    std::uint32_t n = 0;
    bool done = false;
    if (words[0] == "temperature" && words.size() == 2) {
        temperature_ = words[1];
        done = true;
    } else if (words[0] == "version" && words.size() >= 3) {
        for (Version& v : versions_)
            if (words[1] == v.name) {
                v.text = Joined(words, 2);
                done = true;
            }
    } else if (words[0] == "framer" && words.size() >= 4 && Util::ParseNumber(words[1], n, kFramers - 1)) {
        Framer& f = framers_[n];
        Maintenance::Trunk& line = lines_.trunk(n);
        std::int32_t negative = 0, positive = 0;
        std::uint32_t state = 0;
        bool signal = false, frame = false;
        if (words[2] == "state") {
            // A text the trunk's status could not report would make the two
            // disagree about the line.
            if (!Maintenance::StateOfText(Joined(words, 3), state)) {
                out << "error unknown line state " << Joined(words, 3) << '\n';
                return true;
            }
            line.state = state;
            done = true;
        } else if (words[2] == "loss" && words.size() == 5 && ParseYesNo(words[3], signal) &&
                   ParseYesNo(words[4], frame)) {
            line.signal_loss = signal;
            line.frame_loss = frame;
            done = true;
        } else if (words[2] == "slips" && words.size() == 5 && Util::ParseSigned(words[3], negative) &&
                   Util::ParseSigned(words[4], positive)) {
            f.negative_slips = negative;
            f.positive_slips = positive;
            done = true;
        }
    }
    if (!done)
        return false;
    WriteAll();
    out << "ok\n";
    return true;
}

void BoardFiles::Help(std::ostream& out) const
{
    out << "show  one line per board file \"PATH TEXT\" (line ends shown as |), then \"ok N\"; the "
           "files are written below GW_ROOT (never without it) as the program starts and at each change\n"
           "temperature TEXT  \"/proc/temperature\" reads TEXT\n"
           "version build|boot|fpga|board|driver TEXT...  the first line of \"/var/version\", "
           "\"/var/u-boot-version\", \"/var/fpga-version\", \"/var/board-version\" or "
           "\"/proc/voice/version\"\n"
           "framer N state TEXT...  the line state of framer N (0 to 3: "
           "\"/proc/driver/hdlc/peb22554/N\"), which is E1 trunk N's: Synchronized, FAS Loss, No Carrier, "
           "AIS, RAI or Unknown, as /dev/maintenance trunk N state 0, 1, 2, 3, 4 or 5 (or any other number)\n"
           "framer N loss yes|no yes|no  its loss of signal and loss of frame alignment\n"
           "framer N slips NEG POS  its negative and positive receive slips\n";
}

} // namespace Sim
