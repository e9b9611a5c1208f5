#pragma once

// The base of every radio controller: one session of the radio-extension
// driver, through which the RTP header extensions of a radio slot's RTP
// session are read and written, its registration with the event loop, the
// periodic status timer, the access filter kept in the driver, and the log
// prefix. The packet formats belong to the derived controllers.

#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/inet.hpp"
#include "core/timer.hpp"
#include "hardware/device_fd.hpp"
#include "hardware/drivers.hpp"

#include <cstdint>
#include <string>

#include <netinet/in.h>

namespace TERM {
class RadioStatus;
class RadioModifier;
class RtpRadioRequest;
} // namespace TERM

namespace RTPSignalling {

// What the owning slot calls.
class IRadioController {
public:
    virtual ~IRadioController() = default;
    virtual bool SendASNToChan(TERM::RadioStatus const&) { return false; }
    virtual bool SendASNToChan(TERM::RadioModifier const&) { return false; }
    // Whether SendASNToChan would take the modifier, asked without sending.
    virtual bool Takes(TERM::RadioModifier const&) const { return false; }
    // Whether the radio's squelch is open.
    virtual bool GetSQU() { return false; }
};

// What the event loop and the status timer call.
class IRadioIntController {
public:
    virtual ~IRadioIntController() = default;
    virtual void OnRtpExtEvent(int fd, short events)
    {
        (void)fd;
        (void)events;
    }
    // The delay in milliseconds until the next call.
    virtual unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval)
    {
        (void)now;
        return interval;
    }
};

// The slot's sink for what the controller reports.
class IRadioControlNotify {
public:
    virtual ~IRadioControlNotify() = default;
    virtual void RadioControlNotify(TERM::RtpRadioRequest const& request) = 0;
    // An abort code (151: the far side fell silent).
    virtual void RadioControlNotify(int code) = 0;
};

class RadioControl : public IRadioController, private IRadioIntController {
public:
    enum RadioControlType {
        // Own extension session attached to an RTP session of this process.
        kOwnAttached = 0,
        // The RTP device attached to an extension session that exists.
        kRtpAttached = 1,
        // Own extension session, initialised but not attached.
        kOwnDetached = 2,
    };

    // Kept for diagnosis; never reported.
    struct Counters {
        std::uint32_t infos = 0;   // packet-information requests with a positive result
        std::uint32_t decoded = 0; // packets decoded
        std::uint32_t written = 0; // packets written
        std::uint32_t bytes_read = 0;
        std::uint32_t bytes_written = 0;
        int pack_error = 0;   // last negative result of packing
        int unpack_error = 0; // last negative result of unpacking
        int info_errno = 0;
        int read_errno = 0;
        int write_errno = 0;
        std::uint32_t write_failures = 0; // writes the driver refused
    };

    RadioControl(int channel, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach);
    explicit RadioControl(rtp_ext_init_params const& init);
    ~RadioControl() override;

    RadioControl(RadioControl const&) = delete;
    RadioControl& operator=(RadioControl const&) = delete;

    bool SendASNToChan(TERM::RadioStatus const&) override { return false; }
    bool SendASNToChan(TERM::RadioModifier const&) override { return false; }
    bool GetSQU() override { return false; }

    // Opens (form 0 and, with `init`, form 2) or attaches (form 1) the
    // extension session; false after logging a driver failure.
    bool RtpExtStart(bool init);
    // Ends a form 0 session: detach, close, stop reading. Always true.
    bool RtpExtStop();
    // The construction had its session: opened, initialised and attached
    // as its form asks. False once its failure was logged; the controller
    // then carries no radio signalling.
    bool set_up() const noexcept { return set_up_; }

    // The slot's RTP session was begun again on `rtp`: form 0 attaches to
    // it from the next RtpExtStart on; form 1 keeps a duplicate of it in
    // place of the old one, which is closed so that the old driver session
    // ends. Other forms keep nothing of the RTP session.
    void SetRtpSession(Fd rtp);

    void SetTimerEnable(bool enable);
    // Takes effect at the next arming.
    void SetTimerInterval(unsigned long ms) { interval_ = ms; }
    void SetTimer(unsigned long ms);
    void OnProcessStatus(Timer* timer);

    // Keeps the driver's access filter at `addr` while `enable`; returns 0.
    int UpdateAccess(bool enable, in_addr const& addr);

    // "rtp_ext[<channel>] <time>:" ("rtp_ext <time>:" in form 2).
    std::string const& GetPrefix();

    void SetNotify(IRadioControlNotify* notify) { notify_ = notify; }
    void SetWorkstation(bool workstation) { workstation_ = workstation ? 1 : 0; }
    void SetVerbose(bool verbose) { verbose_ = verbose; }

    RadioControlType type() const noexcept { return type_; }
    int channel() const noexcept { return channel_; }
    unsigned long interval() const noexcept { return interval_; }
    bool timer_enabled() const noexcept { return timer_enabled_; }
    bool timer_pending() const noexcept { return static_cast<bool>(timer_); }
    bool filter_active() const noexcept { return filter_active_; }
    rtp_ext_filter const& filter() const noexcept { return filter_; }
    Counters const& counters() const noexcept { return counters_; }
    INet4::Addr const& local_address() const noexcept { return local_; }
    rtp_ext_init_params const& init_params() const noexcept { return ext_init_; }
    // The extension descriptor (-1 when there is no session).
    int ext_fd() const noexcept { return ext_.get(); }
    // Whether the descriptor is watched by the event loop.
    bool reading() const noexcept { return static_cast<bool>(event_.fd()); }

    // Called by the event loop; public so that the loop can be bypassed.
    void OnRtpExtEvent(int fd, short events) override;

protected:
    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override
    {
        (void)now;
        return interval;
    }

    // The read burst's pieces, shared by the families. WakeUp: whether the
    // returned events carry input to read; a hang-up or error without data
    // ends the session's reading (one log line). ReadOne: one
    // packet-information request and one read into `buf`; the bytes read,
    // or 0 when the burst ends (nothing more to read, end of file, error).
    bool WakeUp(short events);
    int ReadOne(unsigned char* buf, int size);
    rtp_ext_packet_info const& packet_info() const noexcept { return packet_info_; }

    // Writes one packed extension; the write result. A failure is counted,
    // and logged once until a write succeeds again.
    int WriteExtension(unsigned char const* buf, int length);
    // The same for a packer's result: below 1 it is kept as the last pack
    // error and nothing is written.
    int WritePacked(unsigned char const* buf, int packed);

    // Hands a request to the sink; a request that is not valid (strictly
    // valid with `strict_requests_`) is logged instead, as a last line of
    // defence against a fault in a family.
    void Notify(TERM::RtpRadioRequest const& request);
    void Notify(int code);
    bool HasNotify() const noexcept { return notify_ != nullptr; }

    Counters counters_;
    std::uint32_t last_activity_ = 0; // Mux::milliseconds
    bool verbose_ = false;
    std::uint32_t workstation_ = 0;
    // Every bound holds, extensible ones too (a family whose values all lie
    // in the roots of their types).
    bool strict_requests_ = false;

private:
    void Init(RadioControlType type);
    // Opens and initialises an extension descriptor; -1 after logging.
    int OpenSession();
    // Watches the extension descriptor; false (logged, descriptor closed)
    // when it cannot be watched.
    bool WatchSession();
    void StopReading(char const* why);

    RadioControlType type_;
    bool set_up_ = false;
    OwnedFd rtp_;
    DeviceFd ext_;
    Event event_;
    Timer timer_;
    rtp_attach_session_params rtp_attach_{};
    rtp_ext_attach_session_params ext_attach_{};
    rtp_ext_init_params ext_init_{};
    rtp_ext_packet_info packet_info_{};
    unsigned long interval_ = 1000;
    int channel_ = 0;
    bool timer_enabled_ = false;
    bool filter_active_ = false;
    rtp_ext_filter filter_{};
    IRadioControlNotify* notify_ = nullptr;
    std::string prefix_;
    INet4::Addr local_;
    short wake_events_ = 0;
    // Writes have failed since the last one that went through.
    std::uint32_t failing_writes_ = 0;
};

} // namespace RTPSignalling
