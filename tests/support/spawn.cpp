#include "support/spawn.hpp"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSpawn {

std::string FindProgram(std::string const& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(std::string(path != nullptr ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return "";
}

pid_t Spawn(std::vector<std::string> const& args, std::string const& out, std::string const& err,
            std::vector<std::pair<std::string, std::string>> const& env)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0)
        ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    for (auto const& [name, value] : env)
        ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (std::string const& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

int Wait(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace TestSpawn
