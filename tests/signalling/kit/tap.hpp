#pragma once

// The frame tap: every frame that crosses a test channel, or reaches a
// watched switch output of the simulated board, with its sender and the
// loop-clock time at which it was sent.

#include <cstdint>
#include <string>
#include <vector>

namespace SigTest {

class End;

struct TapFrame {
    std::string from;   // the sending end (or the switch output's name)
    char direction = 0; // the sender's text2pcap -D label
    std::uint64_t time_us = 0;
    std::vector<std::uint8_t> bytes;
    bool lost = false;       // dropped by a fault: the receiver never saw it
    bool duplicated = false; // delivered twice by a fault
};

class Tap {
public:
    Tap() = default;
    ~Tap();
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;

    void Record(const End& from, const std::vector<std::uint8_t>& frame, bool lost, bool duplicated);
    // Also records every frame that a controller of the simulated board
    // writes and the switch carries to `output` (looped or not), named
    // `name`. Ends with the tap or Unwatch().
    void WatchSwitch(std::uint32_t output, std::string name, char direction = 0);
    void Unwatch();

    const std::vector<TapFrame>& frames() const noexcept { return frames_; }
    // The frames sent by the end (or output) of that name.
    std::vector<TapFrame> From(const std::string& name) const;
    void clear() { frames_.clear(); }

private:
    struct Watch {
        std::uint32_t output;
        std::string name;
        char direction;
    };
    std::vector<TapFrame> frames_;
    std::vector<Watch> watches_;
};

} // namespace SigTest
