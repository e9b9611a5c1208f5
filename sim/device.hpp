#pragma once

// A simulated driver: the model of one device file of the board, holding
// only what the program expects of that driver.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace Sim {

// What a model answers to one request.
struct Outcome {
    int result = 0;     // the ioctl result; -1 on failure
    int error = 0;      // errno when result is -1
    bool quiet = false; // the request changed nothing: counted, not logged
};

class Device {
public:
    explicit Device(std::string path) : path_(std::move(path)) {}
    virtual ~Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& path() const noexcept { return path_; }

    // One request. `arg` is the program's record (native words, already
    // checked to hold the size the request number gives) or null; `value`
    // is the argument of a request that takes a value instead.
    virtual Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) = 0;

    // Back to the state of a healthy board.
    virtual void Reset() = 0;

    // A command of the control language addressed to this device (the words
    // after the device path); writes its answer lines and returns false for
    // a command it does not know.
    virtual bool Control(const std::vector<std::string>& words, std::ostream& out)
    {
        (void)words;
        (void)out;
        return false;
    }

private:
    std::string path_;
};

} // namespace Sim
