#pragma once

// For fuzz targets and benchmarks of code that logs: while a Quiet lives,
// the log and error lines are formatted as in the program, then dropped.

#include <iostream>
#include <streambuf>

namespace TestQuiet {

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
    NullBuf null_;
    std::streambuf* clog_;
    std::streambuf* cerr_;
};

} // namespace TestQuiet
