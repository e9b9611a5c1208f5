#pragma once

// The program's one door to the board's TDM time-slot switch ("/dev/hal").
// It keeps a shadow of the 2048 backplane outputs (8192..10239) and, from a
// permanent deferred call, keeps disabling the outputs that nobody uses, 128
// per call, so that an output left driven by a lost request heals itself.

#include "core/dpc.hpp"
#include "core/singleton.hpp"

#include <cstdint>

class HwMux {
public:
    // Switch requests on "/dev/hal" (board encoding; records of 32-bit words).
    static constexpr std::uint32_t MUX_CONNECT = 0x80084d02; // {output, source}
    static constexpr std::uint32_t MUX_DISABLE = 0x80044d03; // {output}
    static constexpr std::uint32_t MUX_WRITE = 0xc0084d04;   // {output, value}
    static constexpr std::uint32_t MUX_READ = 0xc0084d05;    // {channel, value}

    static constexpr int kFirstOutput = 8192; // backplane bus 0, channel 0
    static constexpr int kOutputs = 2048;     // 16 buses of 128 channels
    static constexpr std::uint16_t kConstant = 0xFFFE;
    static constexpr std::uint16_t kDisabled = 0xFFFF;
    static constexpr unsigned char kIdle = 0xD5; // the idle pattern of a disconnected output

    // The switch, created (and opened) on first use, unless a test put its
    // own in place.
    static HwMux& instance() { return Singleton<HwMux>::Get(); }
    static HwMux* UseInstance(HwMux* mux) { return Singleton<HwMux>::Use(mux); }

    HwMux();
    ~HwMux();
    HwMux(const HwMux&) = delete;
    HwMux& operator=(const HwMux&) = delete;

    bool Connect(int source, int output);
    bool Disconnect(int output);
    bool Write(int output, unsigned char value);
    // The channel's current byte; 255 on any failure.
    unsigned char Read(int channel);
    bool Disable(int output);
    // Opens the device on demand; true when the switch is usable.
    bool IsOpened();
    void Reset() {}

    // The refresh, run by the deferred call on every loop pass.
    void OnDPC();

    // The shadow entry of a backplane output (kDisabled outside the range).
    std::uint16_t Shadow(int output) const;
    std::uint32_t RefreshCursor() const noexcept { return cursor_; }

private:
    void Record(int output, std::uint16_t entry);

    int fd_ = -1;
    std::uint16_t shadow_[kOutputs];
    std::uint32_t cursor_ = 0;
    Dpc dpc_;
};

// Prints the current call stack (at most 10 frames) to standard output.
void print_trace();
