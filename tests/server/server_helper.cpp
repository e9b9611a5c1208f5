#include "server_helper.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ServerRoot::ServerRoot()
{
    // Short: "<root>/dev/log" has to fit a Unix socket address.
    char pattern[] = "/tmp/gw-srv-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    dir_ = pattern;
}

ServerRoot::~ServerRoot()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void ServerRoot::mkdirs(const std::string& relative) const
{
    std::filesystem::create_directories(path(relative));
}

void ServerRoot::write(const std::string& relative, const std::string& text) const
{
    std::ofstream(path(relative), std::ios::trunc) << text;
}

std::string ServerRoot::read(const std::string& relative) const
{
    std::ifstream in(path(relative));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ServerRoot::exists(const std::string& relative) const
{
    struct stat st;
    return ::stat(path(relative).c_str(), &st) == 0;
}

std::string ServerBinary()
{
    const char* dir = std::getenv("GW_TEST_BINARY_DIR");
    EXPECT_NE(nullptr, dir) << "GW_TEST_BINARY_DIR is not set";
    return std::string(dir != nullptr ? dir : ".") + "/server";
}

ServerProcess::ServerProcess(const ServerRoot& root, const std::vector<std::string>& args) : root_(root)
{
    std::string binary = ServerBinary();
    std::vector<std::string> argv_s{binary};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_s{"GW_ROOT=" + root.dir()};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "GW_ROOT=", 8) != 0)
            env_s.push_back(*e);
    std::vector<char*> envp;
    for (auto& e : env_s)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::string out = root.path("stdout"), err = root.path("stderr");
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The test program's own signal dispositions must not leak into it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, binary.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    EXPECT_EQ(0, rc) << "cannot start " << binary << ": " << std::strerror(rc);
    pid_ = rc == 0 ? pid : -1;
}

ServerProcess::~ServerProcess()
{
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        int st;
        ::waitpid(pid_, &st, 0);
    }
}

void ServerProcess::signal(int sig) const
{
    if (pid_ > 0)
        ::kill(pid_, sig);
}

int ServerProcess::wait()
{
    if (pid_ <= 0 || reaped_)
        return -1;
    int status = -1;
    bool ended = Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!ended)
        return -1;
    reaped_ = true;
    return status;
}

bool EventuallyImpl(bool (*probe)(void*), void* ctx, int seconds)
{
    for (int i = 0; i < seconds * 100; ++i) {
        if (probe(ctx))
            return true;
        ::usleep(10000);
    }
    return probe(ctx);
}
