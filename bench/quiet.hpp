#pragma once

// Log lines inside a benchmark are formatted as in the program, then
// dropped: `Quiet quiet;` for the benchmark's scope.

#include <iostream>
#include <streambuf>

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
