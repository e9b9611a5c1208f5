#pragma once

// Log lines of the code under measurement are formatted as in the program,
// then dropped, for as long as a Quiet lives.

#include <iostream>
#include <streambuf>

namespace Bench {

struct NullBuf : std::streambuf {
    int overflow(int c) override { return c; }
};

struct Quiet {
    Quiet() : clog_(std::clog.rdbuf(&null_)), cerr_(std::cerr.rdbuf(&null_)) {}
    ~Quiet()
    {
        std::clog.rdbuf(clog_);
        std::cerr.rdbuf(cerr_);
    }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

    NullBuf null_;
    std::streambuf* clog_;
    std::streambuf* cerr_;
};

} // namespace Bench
