#include "support/tshark.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestTshark {

namespace {

bool OnPath(std::string const& tool)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + tool).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the tool with its output and error streams in files; returns its
// exit status, or -1 when it could not be run.
int Run(std::vector<std::string> const& args, std::string const& out, std::string const& err)
{
    std::vector<char*> argv;
    for (std::string const& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0)
            ::_exit(126);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tools' error lines, without tshark's note that it runs as root and
// the rule that text2pcap draws under its (quiet) summary.
std::string ErrorLines(std::string const& text)
{
    std::istringstream in(text);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line.find("Running as user") == std::string::npos &&
            line.find_first_not_of('-') != std::string::npos && !line.empty())
            kept += line + "\n";
    return kept;
}

// One packet per frame: offsets restart at 0, 16 octets a line, and with a
// direction every line carries it.
std::string HexDump(std::vector<Frame> const& frames)
{
    std::string text;
    char buf[24];
    for (Frame const& f : frames) {
        for (std::size_t at = 0; at < f.bytes.size() || at == 0; at += 16) {
            if (f.direction != 0) {
                text += f.direction;
                text += ' ';
            }
            std::snprintf(buf, sizeof buf, "%06zx", at);
            text += buf;
            for (std::size_t i = at; i < f.bytes.size() && i < at + 16; ++i) {
                std::snprintf(buf, sizeof buf, " %02x", static_cast<unsigned>(f.bytes[i]));
                text += buf;
            }
            text += '\n';
            if (f.bytes.empty())
                break;
        }
    }
    return text;
}

} // namespace

bool Available()
{
    return OnPath("text2pcap") && OnPath("tshark");
}

std::vector<std::vector<std::string>> Fields(std::vector<Frame> const& frames,
                                             std::vector<std::string> const& text2pcapArgs,
                                             std::vector<std::string> const& tsharkArgs, char separator,
                                             std::string* errors)
{
    std::vector<std::vector<std::string>> rows;
    std::string problems;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/gw-tshark-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
        if (errors != nullptr)
            *errors = "cannot make a temp folder\n";
        return rows;
    }
    const std::string in = dir + "/in.txt", pcap = dir + "/out.pcap", out = dir + "/out.txt",
                      err = dir + "/err.txt";
    {
        std::ofstream f(in, std::ios::binary);
        f << HexDump(frames);
    }

    std::vector<std::string> args{"text2pcap"};
    args.insert(args.end(), text2pcapArgs.begin(), text2pcapArgs.end());
    args.insert(args.end(), {in, pcap});
    int status = Run(args, out, err);
    problems += ErrorLines(ReadFile(err));
    if (status != 0) {
        problems += "text2pcap exited with " + std::to_string(status) + "\n";
    } else {
        args = {"tshark", "-r", pcap};
        args.insert(args.end(), tsharkArgs.begin(), tsharkArgs.end());
        status = Run(args, out, err);
        problems += ErrorLines(ReadFile(err));
        if (status != 0)
            problems += "tshark exited with " + std::to_string(status) + "\n";
        std::istringstream lines(ReadFile(out));
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> row;
            std::size_t at = 0;
            for (;;) {
                std::size_t next = line.find(separator, at);
                row.push_back(line.substr(at, next == std::string::npos ? std::string::npos : next - at));
                if (next == std::string::npos)
                    break;
                at = next + 1;
            }
            rows.push_back(std::move(row));
        }
    }
    for (std::string const& f : {in, pcap, out, err})
        ::unlink(f.c_str());
    ::rmdir(dir.c_str());
    if (errors != nullptr)
        *errors = problems;
    return rows;
}

} // namespace TestTshark
