#pragma once

#include "core/measure.hpp"

#include <cstdint>
#include <iosfwd>

namespace Profile {

// A named code span whose durations (microseconds of the loop clock) are
// listed in the status dump. Points form one list, newest first.
class Point {
public:
    explicit Point(const char* name);
    ~Point();
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;

    void begin();
    void end();
    // Records a sample of `d` microseconds (what end() does after timing).
    void sample(std::uint32_t d);
    // "[name]: min=.. max=.. avg=<last sample> counter=..".
    void put(std::ostream& os) const;

    Point* next() const { return next_; }

private:
    Point* next_;
    const char* name_;
    Measure measure_;
};

extern Point* mRoot;

void dump(std::ostream& os);

} // namespace Profile

namespace Trace {

// "Enter name" on construction and "Leave name" on destruction, when enabled.
class Block {
public:
    Block(bool enabled, const char* name, std::ostream& out);
    ~Block();
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

private:
    bool enabled_;
    const char* name_;
    std::ostream& out_;
};

} // namespace Trace
