#include "support/tshark.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace TestTshark {

namespace {

bool on_path(std::string const& tool)
{
    char const* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + tool).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string read_file(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `args` with standard input from /dev/null and the two output streams
// into files; returns the exit status, or -1 when it could not run.
int run(std::vector<std::string> const& args, std::string const& out, std::string const& err)
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> argv;
    for (std::string const& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int const rc = ::posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void write_dump(std::vector<Frame> const& frames, std::string const& path)
{
    std::ofstream out(path);
    for (Frame const& f : frames) {
        if (f.direction != 0)
            out << f.direction << '\n';
        for (std::size_t i = 0; i < f.bytes.size(); i += 16) {
            char line[8 + 16 * 3 + 2];
            int n = std::snprintf(line, sizeof line, "%06zx", i);
            for (std::size_t j = i; j < f.bytes.size() && j < i + 16; ++j)
                n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %02x", f.bytes[j]);
            out << line << '\n';
        }
        out << '\n';
    }
}

std::vector<std::string> split(std::string const& line, char separator)
{
    std::vector<std::string> cells;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type const end = line.find(separator, start);
        cells.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return cells;
        start = end + 1;
    }
}

} // namespace

bool Available()
{
    static bool const available = on_path("text2pcap") && on_path("tshark");
    return available;
}

std::vector<std::vector<std::string>> Fields(std::vector<Frame> const& frames,
                                             std::vector<std::string> const& text2pcapArgs,
                                             std::vector<std::string> const& tsharkArgs, char separator,
                                             std::string* errors)
{
    std::vector<std::vector<std::string>> rows;
    char tmpl[] = "/tmp/gw-tshark-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        if (errors != nullptr)
            *errors += "no temporary folder\n";
        return rows;
    }
    std::string const dir = tmpl;
    std::string const in = dir + "/in.txt", pcap = dir + "/out.pcap", out = dir + "/out.txt",
                      err = dir + "/err.txt";
    write_dump(frames, in);

    std::vector<std::string> args = {"text2pcap"};
    args.insert(args.end(), text2pcapArgs.begin(), text2pcapArgs.end());
    args.push_back(in);
    args.push_back(pcap);
    int const made = run(args, out, err);
    int shown = -1;
    if (made == 0) {
        args = {"tshark", "-r", pcap};
        args.insert(args.end(), tsharkArgs.begin(), tsharkArgs.end());
        shown = run(args, out, err);
    }

    std::istringstream text(read_file(out));
    for (std::string line; std::getline(text, line);)
        rows.push_back(split(line, separator));
    if (errors != nullptr) {
        std::istringstream diag(read_file(err));
        // Not problems: tshark's note on running as root, and the blank
        // and dashed lines that text2pcap writes even when quiet.
        for (std::string line; std::getline(diag, line);)
            if (line.rfind("Running as user", 0) != 0 && line.find_first_not_of('-') != std::string::npos)
                *errors += line + "\n";
        if (made != 0)
            *errors += "text2pcap exited with " + std::to_string(made) + "\n";
        else if (shown != 0)
            *errors += "tshark exited with " + std::to_string(shown) + "\n";
    }
    for (std::string const& f : {in, pcap, out, err})
        ::unlink(f.c_str());
    ::rmdir(dir.c_str());
    return rows;
}

} // namespace TestTshark
