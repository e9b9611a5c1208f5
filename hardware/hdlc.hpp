#pragma once

// An HDLC channel: one HDLC controller of the board's MCC device
// ("/dev/mcc/ctl"), cross-connected through the TDM switch to the time
// slots of a signalling link. It carries whole frames as packets and tells
// one listener of received frames, read failures and readiness to send.

#include "core/event.hpp"
#include "core/packet.hpp"
#include "hardware/mcc_channel.hpp"

#include <cstdint>
#include <iosfwd>

class HwMux;

// A frame channel as the link protocols see it.
class GenericHDLC {
public:
    virtual ~GenericHDLC() = default;
    // The packet stays the caller's; false when the frame was not sent.
    virtual bool hdlc_transmit(Packet& frame) = 0;
    virtual bool is_open() const = 0;
    virtual bool is_ready() const = 0;
    // After a refused hdlc_transmit: true when that frame will never go
    // (the channel has counted and logged it, and no readiness follows for
    // it), false when the channel is busy or closed.
    virtual bool transmit_failed() const { return false; }
};

class HDLC : public GenericHDLC {
public:
    class Notify {
    public:
        struct Cause {
            enum Type { read_error = 0 };
        };
        virtual ~Notify() = default;
        virtual void on_hdlc_receive(Packet& frame) = 0;
        virtual void on_hdlc_error(Cause::Type cause) = 0;
        virtual void on_hdlc_ready() = 0;
    };

    // The longest frame the channel hands to the controller: well above
    // every link's own limit (an SS7 MSU of 276 octets, a LAPD I frame of
    // 264), and within what the controller takes in one piece.
    static constexpr unsigned int MaxFrame = 4096;

    // MCC driver requests (hardware/mcc_channel.hpp).
    static constexpr std::uint32_t MCC_ALLOCATE = ::MCC_ALLOCATE;
    static constexpr std::uint32_t MCC_TIMESLOT = ::MCC_TIMESLOT;

    HDLC();
    ~HDLC() override;
    HDLC(const HDLC&) = delete;
    HDLC& operator=(const HDLC&) = delete;

    // The listener becomes the shared one that ignores everything.
    void unbind();
    // (Re)opens the controller, connects it through the switch and starts
    // listening; false (after one error line) leaves the channel closed.
    bool activate();
    // Closes the controller; the switch connections stay as they are.
    void deactivate();

    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override;
    bool is_ready() const override { return ready; }
    bool transmit_failed() const override { return m_failed; }

    void PutHeader(std::ostream& os) const;

    // The descriptor event's handler.
    void on_event(int fd, short revents);

    bool ready = false;

    // Link configuration, written by the owner before activate().
    std::int32_t source_trunk = 0; // kept for the owner
    std::int32_t timeslot = 0;     // the link's trunk time slot (log header)
    std::int32_t rx_channel = -1;  // A: feeds the controller; modes 0, 1: also its output
    std::int32_t tx_channel = -1;  // B: the controller's output in mode 2
    std::int32_t mode = 0;         // 0 SS7, 1 ISDN primary rate, 2 ISDN basic rate

    // Counters, zeroed by every activate(), in the order the owner reports them.
    std::uint32_t txSU = 0;       // frames written
    std::uint32_t txDiscard = 0;  // frames offered while closed
    std::uint32_t txError = 0;    // writes that failed
    std::uint32_t txOverflow = 0; // never counted here
    std::uint32_t rxSU = 0;       // frames received

    std::int32_t log_level = 0; // the owner's
    std::int32_t trunk = 0;     // first number of the log header and frame traces

    Notify* notify = nullptr;

private:
    void do_read();
    void read_failed(const char* what);
    bool transmit_error(const Packet& frame, const char* why);

    Event m_event;
    // The last refusal was a failure, not flow control.
    bool m_failed = false;
    // Advances whenever the channel closes, so that a callback that closed
    // (or closed and reopened) the channel stops the work on the old one.
    std::uint32_t m_generation = 0;
};
