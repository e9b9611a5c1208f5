#pragma once

// Test channels for the link layers: ends that a link layer sends on and
// hears from exactly as it does with the built HDLC channel (GenericHDLC
// down, HDLC::Notify up), joined in process or to a switch channel of the
// simulated board.
//
// A frame never reaches its receiver inside the sender's call: it travels
// through one deferred call of the loop and arrives on a later loop pass, as
// a frame read from a descriptor would. (A synchronous delivery would let a
// UA be handled inside establish(), before its "start T200".) While any
// frame or notice is on its way, the kit keeps a timer plugin hooked that
// asks the loop to come back at once, so the manual clock never jumps past
// a frame in flight.
//
// Every end takes faults on the frames it sends (drop, duplicate, refuse, fail)
// and read errors on its own listener; fractions come from the end's own
// seeded generator, so a run repeats exactly.

#include "hardware/hdlc.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace SigTest {

class Tap;
class Hub;

using Bytes = std::vector<std::uint8_t>;

// One end of a test channel. A peer or a link layer attaches here through
// the same interface whether the end is half of a loopback pair, a terminal
// of a multipoint bus or a terminal at a switch channel.
class End : public GenericHDLC {
public:
    End(Hub& hub, std::string name, char direction = 0);
    ~End() override;
    End(const End&) = delete;
    End& operator=(const End&) = delete;

    // The listener of this end (none: frames arrive and are counted only).
    HDLC::Notify* notify = nullptr;
    // How the tap labels this end's frames for text2pcap -D: 'O' for the
    // user side, 'I' for the network side, 0 for none.
    char direction = 0;
    // Records every frame this end sends (none: not recorded).
    Tap* tap = nullptr;

    const std::string& name() const noexcept { return name_; }

    // Sends a copy of the frame; an empty frame is taken and goes nowhere.
    // False while the end refuses.
    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refusing_; }
    bool transmit_failed() const override { return failed_; }
    // The same for raw octets (what a peer or the board hands over).
    bool Send(const Bytes& frame);

    // Faults on the frames this end sends. Counts come first: a frame taken
    // by DropNext is not also weighed by the fractions.
    void Seed(std::uint32_t seed);
    void DropNext(unsigned int n) { drop_next_ += n; }
    void DropFraction(double fraction) { drop_ppm_ = Ppm(fraction); }
    void DuplicateNext(unsigned int n) { duplicate_next_ += n; }
    void DuplicateFraction(double fraction) { duplicate_ppm_ = Ppm(fraction); }
    // hdlc_transmit returns false and is_ready() is false until Release(),
    // which is followed by one on_hdlc_ready() on a later pass.
    void Refuse() { refusing_ = true; }
    void Release();
    // The next n frames fail as a write error does: hdlc_transmit returns
    // false and transmit_failed() true, and nothing follows for them.
    void FailNext(unsigned int n) { fail_next_ += n; }
    // This end's listener hears on_hdlc_error(read_error) on a later pass.
    void ReadError();

    struct Counters {
        std::uint64_t sent = 0;       // frames taken (lost and duplicated ones included)
        std::uint64_t lost = 0;       // dropped by a fault
        std::uint64_t duplicated = 0; // sent twice by a fault
        std::uint64_t refused = 0;    // hdlc_transmit calls refused
        std::uint64_t received = 0;   // frames handed to this end's listener
    };
    Counters counters;

private:
    friend class Scheduler;

    static std::uint32_t Ppm(double fraction);
    bool Roll(std::uint32_t ppm);
    void Deliver(const Bytes& frame);

    Hub& hub_;
    std::string name_;
    bool refusing_ = false;
    bool failed_ = false;
    unsigned int fail_next_ = 0;
    unsigned int drop_next_ = 0;
    unsigned int duplicate_next_ = 0;
    std::uint32_t drop_ppm_ = 0;
    std::uint32_t duplicate_ppm_ = 0;
    std::mt19937 rng_{1};
};

// What joins ends: it decides where a frame sent on one of its ends goes.
class Hub {
public:
    virtual ~Hub() = default;
    // Every end of the hub records into `tap` (null: none).
    virtual void SetTap(Tap* tap) = 0;

protected:
    friend class End;
    virtual void Route(End& from, const Bytes& frame) = 0;
    // Hands the frame to `to` on a later loop pass.
    static void Post(End& to, const Bytes& frame);
};

// Two ends, each frame to the other one.
class LoopbackHdlc : public Hub {
public:
    explicit LoopbackHdlc(std::string a_name = "a", std::string b_name = "b");

    End a;
    End b;

    void SetTap(Tap* tap) override;

protected:
    void Route(End& from, const Bytes& frame) override;
};

// One head end and any number of terminal ends: a frame from the head
// reaches every terminal end; a frame from a terminal reaches the head only.
class Bus : public Hub {
public:
    End& terminal(unsigned int i = 0) { return *terminals_.at(i); }
    unsigned int terminals() const noexcept { return static_cast<unsigned int>(terminals_.size()); }
    // One more terminal, named "terminal<i>" unless given a name.
    End& AddTerminal(std::string name = {});

    void SetTap(Tap* tap) override;

protected:
    Bus(std::string head_name, unsigned int terminals);
    End& head() noexcept { return head_; }
    void Route(End& from, const Bytes& frame) override;

private:
    End head_;
    std::vector<std::unique_ptr<End>> terminals_;
    Tap* tap_ = nullptr;
};

// A basic-rate bus: the network end is the head.
class MultipointHdlc : public Bus {
public:
    explicit MultipointHdlc(unsigned int terminals, std::string network_name = "network")
        : Bus(std::move(network_name), terminals)
    {}
    End& network() noexcept { return head(); }
};

// Terminal ends at one switch channel of the simulated board. Frames that
// reach switch output `take` are taken from the board (Sim::Mcc::TakeSent)
// and handed to every terminal end; a frame from a terminal end arrives on
// channel `receive` (Sim::Mcc::Receive), where the switch carries it to
// whatever listens there. Frames move when the board is pumped (the runner
// does it) and the port collects them (on every pass while the kit is busy,
// in the runner, or through Collect()).
class SwitchPort : public Bus {
public:
    SwitchPort(std::uint32_t channel, unsigned int terminals = 1);
    SwitchPort(std::uint32_t take, std::uint32_t receive, unsigned int terminals);
    ~SwitchPort() override;

    // The board's side of the port (the head): its faults apply to the
    // frames taken from the switch (while it refuses, they stay at the
    // output), and the tap names them after it.
    End& board() noexcept { return head(); }

    // Takes the frames that reached the output; returns how many.
    std::size_t Collect();

private:
    class Receiver : public HDLC::Notify {
    public:
        explicit Receiver(std::uint32_t channel) : channel_(channel) {}
        void on_hdlc_receive(Packet& frame) override;
        void on_hdlc_error(Cause::Type) override {}
        void on_hdlc_ready() override {}

    private:
        std::uint32_t channel_;
    };

    std::uint32_t take_;
    Receiver receiver_;
};

// Frames and notices on their way (for the runner).
bool InFlight();
// Collects the frames waiting at every switch port; returns how many.
std::size_t CollectPorts();

} // namespace SigTest
