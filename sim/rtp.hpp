#pragma once

// Model of "/dev/rtp": the board's RTP driver. Each open is one session: the
// program begins it with a 68-byte session record, then attaches it to a
// TDM switch channel, which the add-channel request takes from a pool of
// its own (apart from the MCC controllers' pool) and writes back into the
// record's first word; a record that names a channel takes that one back
// (a session restarted on its old channel). The channel is free again when
// the program closes its last descriptor of the open. The model keeps the
// receive direction, packet detection and an attachment to a radio
// extension session per open, and sends an event record of any length to
// the open that holds a channel.

#include "sim/device.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace Sim {

class Rtp final : public Device {
public:
    static constexpr std::uint32_t kBegin = 0xc0445200;      // the 68-byte session record
    static constexpr std::uint32_t kAddChannel = 0xc0105202; // channel or all ones, -1, -1, word 3
    static constexpr std::uint32_t kRxOn = 0x20005204;
    static constexpr std::uint32_t kRxOff = 0x20005205;
    static constexpr std::uint32_t kEnd1 = 0x2000520a; // the three requests of a session's end
    static constexpr std::uint32_t kEnd2 = 0x20005203;
    static constexpr std::uint32_t kEnd3 = 0x2000520b;
    static constexpr std::uint32_t kSetEvent = 0xc024520c; // nine words: 1, 0, time-out, 0, 0, time-out, 0...
    static constexpr std::uint32_t kResetEvent = 0x8004520d; // one word: 1
    static constexpr std::uint32_t kAttach = 0xc0085209;     // {fd, pid} of a radio extension session

    // The channel pool after Reset: 1024..1087.
    static constexpr std::uint32_t kFirstChannel = 1024;
    static constexpr std::uint32_t kChannels = 64;

    // The session record, read from the program's native words.
    struct Record {
        std::string remote; // "a.b.c.d:port"
        std::string local;  // likewise; "0.0.0.0:port" without a local address
        std::uint32_t rx_pt = 0, tx_pt = 0, pfactor = 0, vad = 0, crate = 0;
        std::uint32_t ssrc = 0, ttl = 0, tos = 0;
        std::uint32_t rx_map[3] = {}; // payload type, clock rate, channels
        std::uint32_t tx_map[3] = {};
    };

    struct Session {
        bool begun = false;
        Record record;
        std::int32_t channel = -1;      // -1 until the add-channel request
        std::uint32_t channelWord3 = 0; // the add-channel record's fourth word
        bool rx = false;
        bool pd = false;
        std::uint32_t pdWords[9] = {}; // the last packet-detection record
        bool ended = false;            // the end requests came
        bool attached = false;
        std::int32_t attachFd = 0, attachPid = 0;
    };

    Rtp();

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    Outcome IoctlOn(int open, std::uint32_t request, void* arg, unsigned long value) override;
    void Opened(int open, int program) override;
    void Closed(int open) override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // The pool: `count` channels from `first` (for channels taken afterwards).
    void SetPool(std::uint32_t first, std::uint32_t count);
    // The sessions of live opens, in the order of their opens.
    std::vector<Session> Sessions();
    // The session holding `channel`, if any (`found` false otherwise).
    Session Get(std::uint32_t channel, bool* found = nullptr);
    // One event record for the open holding `channel`; 1 when it was
    // queued, 0 when no open holds the channel.
    int Event(std::uint32_t channel, const void* data, std::size_t length);
    // The program's next read of the open holding `channel` sees end of
    // file; false when no open holds it.
    bool Hangup(std::uint32_t channel);

    // The switch channel of the session of the board's end `open`, or -1.
    int ChannelOfOpen(int open) const;

    // The line "sessions" prints for a session.
    static std::string Describe(const Session& s);

private:
    void ForgetDead();
    bool ChannelFree(std::uint32_t channel) const;
    // The board's end of the open holding `channel`, or -1.
    int Holder(std::uint32_t channel);

    std::uint32_t first_ = kFirstChannel;
    std::uint32_t count_ = kChannels;
    std::map<int, Session> opens_; // by the board's end of the open
    std::vector<int> order_;       // opens, oldest first
};

} // namespace Sim
