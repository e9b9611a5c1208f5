#pragma once

// Each test starts on a healthy simulated board and ends by proving that it
// left no descriptor open: the board forgets its opens on Reset, so any
// descriptor still open afterwards was leaked by the code under test.

#include "core/accept_pause.hpp"
#include "core/inet.hpp"
#include "sim/board.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include <dirent.h>
#include <stdlib.h>
#include <sys/resource.h>

namespace SimTest {

// Every open descriptor but the interface-scan socket and the listeners'
// spare descriptor, which live as long as the process once made.
inline std::set<int> OpenDescriptors()
{
    std::set<int> fds;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        int own = ::dirfd(d);
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && std::atoi(e->d_name) != own &&
                std::atoi(e->d_name) != Net::interface_socket_descriptor() &&
                std::atoi(e->d_name) != AcceptPause::spare())
                fds.insert(std::atoi(e->d_name));
        ::closedir(d);
    }
    return fds;
}

// The soft descriptor limit lowered, for the scope's life, so that exactly
// `free` descriptor numbers are left below it.
class DescriptorLimit {
public:
    explicit DescriptorLimit(int free)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        std::set<int> open;
        if (DIR* d = ::opendir("/proc/self/fd")) {
            int own = ::dirfd(d);
            while (dirent* e = ::readdir(d))
                if (e->d_name[0] != '.' && std::atoi(e->d_name) != own)
                    open.insert(std::atoi(e->d_name));
            ::closedir(d);
        }
        for (int left = 0; left < free; ++value_)
            left += open.count(value_) == 0 ? 1 : 0;
        rlimit low = saved_;
        low.rlim_cur = static_cast<rlim_t>(value_);
        ::setrlimit(RLIMIT_NOFILE, &low);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    DescriptorLimit(DescriptorLimit const&) = delete;
    DescriptorLimit& operator=(DescriptorLimit const&) = delete;
    // The soft limit in force.
    int value() const { return value_; }

private:
    rlimit saved_{};
    int value_ = 0;
};

// Collects what is written to a standard stream while it lives.
class Capture {
public:
    explicit Capture(std::ostream& os) : os_(os), old_(os.rdbuf(text_.rdbuf())) {}
    ~Capture() { os_.rdbuf(old_); }
    std::string str() const { return text_.str(); }
    void clear() { text_.str(""); }

private:
    std::ostream& os_;
    std::ostringstream text_;
    std::streambuf* old_;
};

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Sim::Board::instance().Reset();
        fds_ = OpenDescriptors();
    }
    void TearDown() override
    {
        Sim::Board::instance().Reset();
        EXPECT_EQ(OpenDescriptors(), fds_) << "descriptors leaked";
    }
    Sim::Board& board() { return Sim::Board::instance(); }

private:
    std::set<int> fds_;
};

} // namespace SimTest
