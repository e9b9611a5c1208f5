#include "support/tshark.hpp"

#include "support/spawn.hpp"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include <unistd.h>

namespace TestTshark {

namespace {

std::string ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the program to its end; its exit status, -1 when it did not exit.
int Run(std::vector<std::string> const& args, std::string const& out, std::string const& err)
{
    const pid_t pid = TestSpawn::Spawn(args, out, err);
    return pid < 0 ? -1 : TestSpawn::Wait(pid);
}

void Note(std::string* errors, std::string const& program, int status, std::string const& text)
{
    if (errors == nullptr)
        return;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line.rfind("Running as user", 0) != 0)
            *errors += line + "\n";
    if (status != 0)
        *errors += program + " exited with " + std::to_string(status) + "\n";
}

} // namespace

bool Available()
{
    return !TestSpawn::FindProgram("text2pcap").empty() && !TestSpawn::FindProgram("tshark").empty();
}

std::vector<std::vector<std::string>> Fields(std::vector<Frame> const& frames,
                                             std::vector<std::string> const& text2pcapArgs,
                                             std::vector<std::string> const& tsharkArgs, char separator,
                                             std::string* errors)
{
    std::vector<std::vector<std::string>> rows;
    char dir[] = "/tmp/gw-tshark-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        if (errors != nullptr)
            *errors += "no temporary folder\n";
        return rows;
    }
    const std::string base = dir;
    const std::string in = base + "/in.txt", pcap = base + "/out.pcap", out = base + "/out.txt",
                      err = base + "/err.txt";
    {
        // The hex dump text2pcap reads: an offset that restarts at 0 for
        // each frame, then the octets.
        std::ofstream dump(in);
        for (Frame const& f : frames) {
            if (f.direction != 0)
                dump << f.direction << '\n';
            for (std::size_t i = 0; i < f.bytes.size(); ++i) {
                char cell[24];
                if (i % 16 == 0) {
                    if (i != 0)
                        dump << '\n';
                    std::snprintf(cell, sizeof cell, "%06zx", i);
                    dump << cell;
                }
                std::snprintf(cell, sizeof cell, " %02x", f.bytes[i]);
                dump << cell;
            }
            dump << "\n";
        }
    }
    std::vector<std::string> args{"text2pcap"};
    args.insert(args.end(), text2pcapArgs.begin(), text2pcapArgs.end());
    args.push_back(in);
    args.push_back(pcap);
    int status = Run(args, out, err);
    // text2pcap writes a rule line even under -q: its text counts only when
    // it failed.
    if (status != 0)
        Note(errors, "text2pcap", status, ReadFile(err));
    if (status == 0) {
        args = {"tshark", "-r", pcap};
        args.insert(args.end(), tsharkArgs.begin(), tsharkArgs.end());
        status = Run(args, out, err);
        Note(errors, "tshark", status, ReadFile(err));
        std::istringstream lines(ReadFile(out));
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> row;
            std::string::size_type start = 0;
            for (;;) {
                const std::string::size_type end = line.find(separator, start);
                row.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
                if (end == std::string::npos)
                    break;
                start = end + 1;
            }
            rows.push_back(std::move(row));
        }
    }
    for (std::string const& f : {in, pcap, out, err})
        std::remove(f.c_str());
    ::rmdir(dir);
    return rows;
}

} // namespace TestTshark
