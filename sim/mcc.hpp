#pragma once

// Model of "/dev/mcc/ctl": the board's HDLC controllers. Each open may
// allocate one controller, which takes a time slot from a pool and keeps it
// until the program closes its last descriptor of the open. A controller
// carries whole frames both ways, one frame per read; a write that finds the
// program's side full fails with EAGAIN until the board has taken frames
// away (Pump). Frames go through the TDM switch model: what a controller
// writes reaches every switch output that its time slot feeds, and a frame
// that arrives on a channel reaches every controller whose time slot the
// switch feeds from that channel.
//
// Two switch channels can be looped like a cable between two E1 time slots
// (Loop): what reaches one output is received on the other channel. With
// autopump on, a thread of the board moves frames as soon as a program
// writes them, for programs that run on their own (the server); in-process
// tests pump themselves.

#include "sim/board_thread.hpp"
#include "sim/device.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace Sim {

class Hal;

class Mcc final : public Device {
public:
    static constexpr std::uint32_t kAllocate = 0x40144d00; // five words: mode, 512, 0, 1, 4
    static constexpr std::uint32_t kTimeslot = 0x20004d02; // result: the controller's time slot
    // Four words: the data, basic-rate and transparent controllers the board
    // has, then one the driver leaves alone. The number's direction says
    // "write", yet the driver fills the record.
    static constexpr std::uint32_t kCapacity = 0x80104d03;

    // The pool of controller time slots after Reset: 300..331.
    static constexpr std::uint32_t kFirstSlot = 300;
    static constexpr std::uint32_t kSlots = 32;
    // The program's side of an open holds this many bytes of frames (the
    // kernel doubles it and counts its own overhead: about ten short frames).
    static constexpr int kSendBuffer = 4096;
    // A transparent controller (mode 2) carries a byte stream in blocks of
    // any size a program writes at once (a voice player's 8192 bytes).
    static constexpr int kStreamSendBuffer = 65536;
    // The counts of the capacity request after Reset.
    static constexpr std::uint32_t kDataControllers = 32;
    static constexpr std::uint32_t kBriControllers = 8;
    static constexpr std::uint32_t kTransparentControllers = 32;

    using Frame = std::vector<unsigned char>;

    struct Controller {
        std::uint32_t timeslot = 0;
        std::uint32_t words[5] = {}; // the allocation record as the program gave it
        std::uint64_t written = 0;   // frames taken from the program
        std::uint64_t delivered = 0; // frames handed to the program
    };

    // `board_lock` is the lock that the board's operations hold while they
    // call the model; the autopump thread takes it to pump.
    Mcc(Hal& hal, std::mutex& board_lock);

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    Outcome IoctlOn(int open, std::uint32_t request, void* arg, unsigned long value) override;
    void Opened(int open, int program) override;
    void Closed(int open) override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // The pool: `count` time slots from `first` (for opens made afterwards).
    void SetPool(std::uint32_t first, std::uint32_t count);
    // What the capacity request reports.
    void SetCapacity(std::uint32_t data, std::uint32_t bri, std::uint32_t transparent);
    // The controllers of live opens, by time slot; with `attached`, the
    // frame channels of other devices instead (AttachChannel).
    std::map<std::uint32_t, Controller> Controllers(bool attached = false);

    // A frame channel of another device's open (the DSP data driver's D
    // channel) on switch channel `timeslot`: from now on it moves frames
    // along the switch as a controller of an open of this device does
    // (pump, autopump, eof, error). `program` as for Opened. The device
    // detaches it when the open goes (its Closed).
    void AttachChannel(int open, int program, std::uint32_t timeslot);
    void DetachChannel(int open);

    // Takes every frame the programs wrote and moves it along the switch;
    // returns the number of frames taken.
    std::size_t Pump();
    // Frames that reached `channel` and no controller there, oldest first;
    // they are forgotten once taken.
    std::vector<Frame> TakeSent(std::uint32_t channel);
    // A frame arriving on `channel`; returns the number of controllers that
    // received it.
    int Receive(std::uint32_t channel, const void* data, std::size_t length);

    // The program's next read of the controller at `timeslot` sees end of
    // file; false when no controller has that time slot.
    bool Eof(std::uint32_t timeslot);
    // The program's next read fails (ECONNRESET); every later one sees end
    // of file.
    bool ReadError(std::uint32_t timeslot);

    // Loops switch channels `a` and `b`: frames that reach output a are
    // received on channel b, and frames that reach b on a; they are not kept
    // for TakeSent. A channel looped before leaves its old partner. False
    // for a channel the switch does not have.
    bool Loop(std::uint32_t a, std::uint32_t b);
    // Removes the loop of channel `a` (both ways); false when it had none.
    bool Unloop(std::uint32_t a);
    // The loops, each pair once (lower channel first).
    std::map<std::uint32_t, std::uint32_t> Loops() const;

    // Pumps from a thread of the board whenever a program has written a
    // frame, under the board's lock. Off after Reset. Turning it off waits
    // for the thread, which gives way to a caller that holds the lock.
    void Autopump(bool on);
    bool autopump() const noexcept { return pumper_.running(); }

    // Called for every frame that a controller writes, with each switch
    // output it reaches (looped or not); for tests that record the traffic.
    // One observer at a time; null removes it, and so does Reset.
    using Observer = std::function<void(std::uint32_t output, const Frame& frame)>;
    void Observe(Observer observer) { observer_ = std::move(observer); }

private:
    struct Open {
        ino_t program = 0; // inode of the program's end
        bool allocated = false;
        bool broken = false;   // Eof or ReadError happened: nothing more moves
        bool attached = false; // another device's open (AttachChannel)
        Controller controller;
    };

    void ForgetDead();
    Open* FindSlot(std::uint32_t timeslot);
    // The board's end of the open holding `timeslot`, or -1.
    int SlotOpen(std::uint32_t timeslot);
    bool SlotFree(std::uint32_t timeslot) const;
    void Deliver(std::uint32_t source, const Frame& frame);
    int ReceiveOn(std::uint32_t channel, const void* data, std::size_t length);
    // The board's ends that the autopump thread watches: the opens still
    // moving frames.
    void Rewatch();
    void AutopumpThread();

    Hal& hal_;
    std::uint32_t first_ = kFirstSlot;
    std::uint32_t count_ = kSlots;
    std::uint32_t capacity_[3] = {kDataControllers, kBriControllers, kTransparentControllers};
    std::map<int, Open> opens_;
    std::map<std::uint32_t, std::vector<Frame>> sent_;
    std::map<std::uint32_t, std::uint32_t> loops_; // both ways
    Observer observer_;

    // Shared with the autopump thread, which reads them without the board's
    // lock.
    std::mutex& board_lock_;
    std::mutex watch_lock_;
    std::vector<int> watched_;
    BoardThread pumper_;
};

} // namespace Sim
