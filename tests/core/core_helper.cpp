#include "tests/core/core_helper.hpp"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

TestPipe::TestPipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        ADD_FAILURE() << "pipe2 failed";
    rd.reset(fds[0]);
    wr.reset(fds[1]);
}

void TestPipe::put(const char* bytes) const
{
    const std::size_t len = std::char_traits<char>::length(bytes);
    EXPECT_EQ(static_cast<ssize_t>(len), ::write(wr.get(), bytes, len));
}

int TestPipe::drain() const
{
    char buf[256];
    int total = 0;
    ssize_t n;
    while ((n = ::read(rd.get(), buf, sizeof buf)) > 0)
        total += static_cast<int>(n);
    return total;
}

TempRoot::TempRoot()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "gw-root-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    dir_ = pattern;
    ::setenv("GW_ROOT", dir_.c_str(), 1);
}

TempRoot::~TempRoot()
{
    ::unsetenv("GW_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void TempRoot::mkdirs(const std::string& relative) const
{
    std::filesystem::create_directories(dir_ + "/" + relative);
}

void TempRoot::write(const std::string& relative, const std::string& text) const
{
    std::ofstream(dir_ + "/" + relative, std::ios::binary) << text;
}

std::string TempRoot::read(const std::string& relative) const
{
    std::ifstream in(dir_ + "/" + relative, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool TempRoot::exists(const std::string& relative) const
{
    return std::filesystem::exists(dir_ + "/" + relative);
}
