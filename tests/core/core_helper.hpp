#pragma once

#include "core/fd.hpp"

#include <string>

// A close-on-exec pipe whose ends close with the object.
struct TestPipe {
    TestPipe();
    void put(const char* bytes = "x") const;
    // Reads (and drops) what is waiting; returns the byte count.
    int drain() const;
    OwnedFd rd;
    OwnedFd wr;
};

// A fresh directory set as GW_ROOT for the life of the object, removed with
// everything in it afterwards; GW_ROOT is unset again.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& dir() const { return dir_; }
    // Creates the directories of `relative` below the root.
    void mkdirs(const std::string& relative) const;
    void write(const std::string& relative, const std::string& text) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::string dir_;
};
