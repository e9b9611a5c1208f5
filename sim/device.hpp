#pragma once

// A simulated driver: the model of one device file of the board, holding
// only what the program expects of that driver.
//
// The models restate the drivers' request numbers and record layouts on
// purpose instead of including the hardware code's: written a second time
// from the drivers' descriptions, they check the hardware code independently
// (a wrong number or offset there fails against the model rather than
// agreeing with itself). Record sizes come from the request number's size
// field (Driver::RequestSize).

#include "hardware/driver_port.hpp"

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
    // checked to hold the size the request number, or RecordSize, gives) or null; `value`
    // is the argument of a request that takes a value instead.
    virtual Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) = 0;

    // Models whose state belongs to one open (a controller allocated on it,
    // records queued for it) see the opens: `open` is the board's end of the
    // open, the same number for as long as the open lives; `program` is the
    // program's end, valid only during the call.
    virtual void Opened(int open, int program)
    {
        (void)open;
        (void)program;
    }
    // The open is gone (the program closed its last descriptor of it, or
    // the board was reset); called before the board closes its end.
    virtual void Closed(int open) { (void)open; }
    // A request whose argument is a value (a time slot) rather than the
    // record that its size names; any other request without a record fails
    // with EFAULT.
    virtual bool TakesValue(std::uint32_t request) const
    {
        (void)request;
        return false;
    }
    // The record length in bytes of a request whose number carries no size
    // (the number's size field is 0) but that takes a record of words all
    // the same; 0 when it takes none. The board checks and logs the record
    // by it.
    virtual std::uint32_t RecordSize(std::uint32_t request) const
    {
        (void)request;
        return 0;
    }
    // A device that only takes what the program writes and answers nothing
    // (the watchdog): its opens write into nothing, so that a program that
    // writes for ever never fills a socket that the board does not read.
    virtual bool WriteOnly() const { return false; }
    // A device that several services open, each for its own descriptor: an
    // open while another is still open changes nothing, so it is counted
    // and not logged (the log keeps what the services do to the board).
    virtual bool SharedOpens() const { return false; }
    // One request on one open; by default the open does not matter.
    virtual Outcome IoctlOn(int open, std::uint32_t request, void* arg, unsigned long value)
    {
        (void)open;
        return Ioctl(request, arg, value);
    }

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
    // The commands that Control knows, one line each: the words after the
    // device path, then what the command does or answers.
    virtual void Help(std::ostream& out) const { (void)out; }

private:
    std::string path_;
};

} // namespace Sim
