#pragma once

// Model of "/dev/rtp_ext": the radio-extension driver. Each open is one
// extension session, through which the program reads and writes the RTP
// header extensions of one RTP session, one extension per read and per
// write. Packets arrive only as the board is told (Inject): each waits on
// the program's side at once (so poll wakes the program), and the packet
// information request describes them oldest first. The access filter is
// recorded, not applied: packets from any address still arrive.
//
// The board takes each extension the program writes as it comes, in a
// thread of its own that runs from the first open on (as a driver would),
// so a program that writes for ever without anybody asking the board never
// finds its side full; only the latest writes are kept. The model's own
// lock keeps that thread and the model's callers apart: in-process tests
// call the model without the board's lock.

#include "sim/board_thread.hpp"
#include "sim/device.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace Sim {

class RtpExt final : public Device {
public:
    static constexpr std::uint32_t kInit = 0xc0144500;        // 20 bytes: u16 etype, u16 0, four words
    static constexpr std::uint32_t kAttach = 0xc0084501;      // descriptor, pid
    static constexpr std::uint32_t kDetach = 0x20004502;      // no record
    static constexpr std::uint32_t kPacketInfo = 0xc00c4503;  // SSRC, source address, unused
    static constexpr std::uint32_t kSetFilter = 0xc0084504;   // address, 0
    static constexpr std::uint32_t kResetFilter = 0x20004505; // no record

    using Bytes = std::vector<unsigned char>;

    struct Session {
        bool initialised = false;
        std::uint16_t etype = 0;
        std::uint32_t words[4] = {};
        bool attached = false;
        std::int32_t fd = -1; // the descriptor number the program gave
        std::int32_t pid = 0; // as given: the program's own, or -1
        std::string device;   // the device of the open it names ("" for none)
        int device_open = -1; // the board's end of that open, or -1
        int channel = -1;     // the switch channel of that RTP session, or -1
        bool filter = false;
        std::uint32_t filter_addr = 0; // network order, as given
        std::size_t queued = 0;        // injected, not yet described
        std::deque<Bytes> written;     // the last kWrittenKept writes, in order
        std::uint64_t writes = 0;      // every write of the session
    };

    // A session lives as long as the program keeps it: a long run writes
    // without end, so only the latest writes are kept.
    static constexpr std::size_t kWrittenKept = 256;

    // Names the device open whose program end has this inode: the board's
    // end and the device path, or -1. Given by the board; called under its lock.
    using OpenResolver = std::function<int(ino_t, std::string&)>;

    // The switch channel of the RTP session of a board's end of an open of
    // "/dev/rtp", or -1.
    using ChannelResolver = std::function<int(int)>;

    explicit RtpExt(OpenResolver resolver, ChannelResolver channels = {})
        : Device("/dev/rtp_ext"), resolver_(std::move(resolver)), channels_(std::move(channels))
    {}
    ~RtpExt() override;

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    Outcome IoctlOn(int open, std::uint32_t request, void* arg, unsigned long value) override;
    void Opened(int open, int program) override;
    void Closed(int open) override;
    void Reset() override;
    // "sessions": one line per open (its count of writes); "inject OPEN
    // SSRC ADDR HEX" (ADDR dotted); "written OPEN" (one hex line per kept
    // write); "hangup OPEN".
    // "channel N" may stand for OPEN: the open attached to the RTP session
    // on switch channel N.
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // The sessions of live opens, by the board's end of the open.
    std::map<int, Session> Sessions();
    // One packet for the open, from `ssrc` at `addr` (network order); false
    // when the open is unknown or its queue is full.
    bool Inject(int open, std::uint32_t ssrc, std::uint32_t addr, const Bytes& bytes);
    // The last kWrittenKept writes of the program to the open, oldest first.
    std::vector<Bytes> Written(int open);
    // Ends the open from the board's side: the program reads end of file
    // and poll reports a hang-up.
    bool Hangup(int open);

    // Stops the thread that takes the writes (Reset does, and so does the
    // program's exit); the next open starts it again.
    void StopTaking();

private:
    struct Info {
        std::uint32_t ssrc;
        std::uint32_t addr;
        std::size_t length;
    };
    struct Open {
        Session session;
        std::deque<Info> undescribed;
        bool broken = false;
        // The program's side can write no more (closed or shut down): the
        // thread stops watching the open until the board forgets it.
        bool ended = false;
    };

    // Under lock_.
    void ForgetDead();
    // Takes every write waiting on the open; the number taken.
    std::size_t Collect(int open, Open& o);
    std::map<int, Session> SessionsLocked();

    // The open attached to the RTP session on `channel`, or -1.
    int OpenOfChannel(std::uint32_t channel);

    void StartTaking();
    void Take();

    OpenResolver resolver_;
    ChannelResolver channels_;
    std::mutex lock_;
    std::map<int, Open> opens_;
    Bytes buffer_;
    // Woken to look at the list of opens again.
    BoardThread taker_;
};

} // namespace Sim
