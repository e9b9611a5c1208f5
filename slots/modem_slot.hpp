#pragma once

// Modem slots: the host's data and fax calls. Two kinds, made by one
// factory from the `modem` create alternative:
// - the DSP modem ("dsp-modem"): a modem of the board's DSP taken from
//   "/dev/mctl" when the slot is first connected; a data call runs pppd on
//   the modem's tty "/dev/mdm<m>", a fax call the fax transfer program or
//   the fax receiver;
// - the digital modem ("digital-modem"): one of the kernel's
//   point-to-point HDLC interfaces "hdlc<N>", switched to PPP and handed to
//   pppd, for calls with digital data modes.
//
// The program runs as a child process. A destroy while it runs sends it
// SIGHUP and waits up to 5000 ms for its end (then SIGKILL): the slot's end
// is postponed, and the host's success follows the child's exit. A child
// that ends on its own makes the slot abort with its raw wait status.
//
// Fixed paths handed to a child (programs, option files, the tty, the fax
// page) go through RootPath; a host-given `execfile` is used as given.

#include "core/accept_pause.hpp"
#include "core/child_wait.hpp"
#include "core/event.hpp"
#include "core/fd.hpp"
#include "hardware/device_fd.hpp"
#include "core/timer.hpp"
#include "slots/auth_relay.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class ModemFactory;

class ModemSlot : public Slot {
public:
    // Host strings beyond this many are dropped from a child's arguments.
    static constexpr std::size_t kMaxExecArgs = 62;
    static constexpr unsigned int kTerminateTimeoutMs = 5000;

    ModemSlot(ModemFactory& factory, TERM::ModemParams const& params);
    // A child still recorded is killed: none outlives its slot.
    ~ModemSlot() override;

    bool IBeforeDestroy() override;
    // The host's answer to an authentication request: the accept and IP
    // records for the authentication program.
    bool IActivate(TERM::TermActivateParams const& params) override;
    const char* GetName() const override { return "generic-modem"; }
    // The driver's modem number; -1 for a digital modem or a modem not yet
    // taken.
    virtual int modem_id() const = 0;
    // Leaves the factory's lists.
    virtual void unbind() = 0;

    ModemFactory& GetSlotFactory() const { return owner_; }
    bool EqAuthId(int id) const { return modem_id() == id; }
    // The running child (pppd or the fax transfer program); -1 when none.
    int child_pid() const { return pid; }
    // pppd runs and its authentication program has not named the call's
    // session yet: the relay keeps a place for it.
    bool awaits_program() const { return pid != -1 && pppd && !named; }
    void PutHeader(std::ostream& os) const;

    // A record of the authentication program for this slot's session.
    virtual void OnAuth(attr const* record);
    void OnAuthRequest(voauth const* request);
    void OnAcctInformation(voacct const* acct);

protected:
    // Starts pppd (or `execfile`) unless a child runs already.
    void pppd_exec(std::string const& device, std::string const& optionsFile);
    // SIGKILL to a recorded child, which is then forgotten: its exit is
    // reaped without a report.
    void pppd_kill();
    void on_terminate(int status);
    void on_terminate_timeout(Timer*);
    // The child has ended: the postponed destroy completes, or the host
    // hears of it as an abort with the raw status.
    void ChildGone(int status);
    // Logs `what` and the error text, and aborts the slot with the error.
    void Abort(char const* what, int error);
    // pppd's authentication program connects as soon as it runs: false,
    // logged, when the descriptors left, `closing` of them to come back
    // before it runs, would not hold its connection.
    bool RoomForProgram(std::size_t closing) const;

    TERM::ModemParams params;
    int pid = -1;
    // The recorded child is pppd, not the fax transfer program.
    bool pppd = false;
    // A record of the call's session has come since pppd started.
    bool named = false;
    ChildWait child;
    Timer terminateTimer;

private:
    ModemFactory& owner_;
};

class DspModemSlot : public ModemSlot {
public:
    DspModemSlot(ModemFactory& factory, TERM::ModemParams const& params);
    ~DspModemSlot() override;

    bool IOnOutputStream() override;
    bool IOnInputStream() override;
    int IGetTransmitChannel() override { return timeslot; }
    int IGetReceiveChannel() override { return timeslot; }
    const char* GetName() const override { return "dsp-modem"; }
    int modem_id() const override { return modemId; }
    void unbind() override;

    int GetTimeslot() const { return timeslot; }
    bool HoldsModem() const { return static_cast<bool>(modemFd); }

private:
    // Takes a modem and starts the call's program, on the first connection;
    // false when too few descriptors are left for the call.
    bool InitModem();
    // InitModem's result for a failure: false (the connect fails) when the
    // descriptors ran out, else the call is aborted and true.
    bool Failed(char const* what, int error);
    void RunFaxTransfer(DeviceFd& working);
    void RunFaxReceiver();
    void on_fax_terminate(int status);

    OwnedFd modemFd; // holds the modem while open
    int timeslot = -1;
    int modemId = -1;
};

class HdlcModemSlot : public ModemSlot {
public:
    HdlcModemSlot(ModemFactory& factory, TERM::ModemParams const& params, std::string ifname);
    // After the child: the interface goes down and back to raw HDLC.
    ~HdlcModemSlot() override;

    bool IOnOutputStream() override;
    bool IOnInputStream() override;
    int IGetTransmitChannel() override { return timeslot; }
    int IGetReceiveChannel() override { return timeslot; }
    const char* GetName() const override { return "digital-modem"; }
    int modem_id() const override { return -1; }
    void unbind() override;

    std::string const& GetIfName() const { return ifname; }
    int GetTimeslot() const { return timeslot; }

private:
    // False when too few descriptors are left for the call.
    bool initModem();

    int timeslot = -1;
    const std::string ifname;
};

class ModemFactory : public SlotFactory {
public:
    // The enumerations stop here whatever the drivers say.
    static constexpr int kMaxModems = 256;
    static constexpr int kMaxHdlc = 256;

    static ModemFactory* instance();

    // Enumerates the modems and the interfaces once.
    ModemFactory();
    ~ModemFactory() override;

    const char* GetName() const override { return "Modem"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;

    void IQuery();
    void update_modemDevices();
    void update_hdlcDevices();
    void ReleaseModemSlot(DspModemSlot* slot);
    void ReleaseModemSlot(HdlcModemSlot* slot);
    void PutHeader(std::ostream& os) const;

    // The relay's connections beyond one per modem slot: a program that
    // connects again while its old connection is still being closed, or one
    // whose slot is being destroyed.
    static constexpr std::size_t kAuthClientsBeyondSlots = 8;
    // The connections that carry no call hold at most this share (one in
    // four) of the descriptors that the limit leaves once the server's own
    // and kReservedDescriptors are counted: the slots, their children and
    // the host's link need the rest, whatever local programs do.
    static constexpr unsigned int kAuthDescriptorShare = 4;
    // Kept from those connections: what one more call takes at most (its
    // modem's descriptor, the duplicate that holds the modem, and a third
    // where the simulated board serves the driver; its program's
    // connection), and a pipe, as a resources query opens for the T.38
    // program's answer.
    static constexpr std::size_t kReservedDescriptors = 3 + AuthClient::kDescriptors + 2;
    // Lines of each kind about the relay's connections that are logged in
    // kSummaryMs (AuthClient); the rest are counted and summed up once the
    // time is over. A busy board starts a few calls a second.
    static constexpr unsigned int kLoggedAuthLines = 10;

    // The authentication relay (auth_relay.hpp).
    void OnSocketEvent(int fd, short revents);
    void OnAuthSocketDisconnect(AuthClient* client);
    // To the connection whose last record carried the record's session.
    void SendAuth(attr const* record);
    // To the first modem slot of the record's session.
    void OnAuth(attr const* record);
    // Where a complaint about a received record goes: the error stream, or
    // nowhere once the connection it came from has had its share.
    std::ostream& AuthError(Auth::Line kind);
    // Where a line of the relay goes: `os`, or nowhere once its kind has
    // had its allowance; `weight` is what it counts for then.
    std::ostream& AuthLine(Auth::Line kind, std::ostream& os, unsigned long weight = 1);
    // How many connections the relay holds at most now; `unlisted`
    // descriptors are open for a connection not in `authClients` yet.
    std::size_t AuthClientLimit(std::size_t unlisted = 0) const;
    // Whether the descriptors left once `closing` more are closed hold the
    // relay connection of one more call's pppd, beside those of the started
    // calls whose program has not named its session yet. A call is started
    // only then: it would be answered success and never heard from.
    bool RoomForProgram(std::size_t closing) const;
    bool listening() const { return static_cast<bool>(authSocket); }
    // Closes the listener and every connection (the factory's end does it
    // too).
    void CloseRelay();

    std::vector<DspModemSlot*> dspSlots;
    std::vector<HdlcModemSlot*> hdlcSlots;
    // Both kinds, in creation order.
    std::vector<ModemSlot*> modemSlots;
    // DSP modems found by the last enumeration.
    int modemCount = 0;
    // Point-to-point interfaces present at the last enumeration, in use or
    // not: what the host is told.
    int hdlcCount = 0;
    // Interfaces a digital modem may take: present, and held by no live
    // digital modem slot.
    std::vector<std::string> freeHdlc;
    std::vector<std::unique_ptr<AuthClient>> authClients;

private:
    // Opens the relay's listener; a failure leaves the relay closed for
    // the factory's life.
    void Init();
    // What each of `authClients` is to the live modem slots: it names no
    // slot's session; it names one whose answers go to another; or it is
    // the one they go to, which carries the call and is never closed to
    // make room.
    enum class AuthRole : unsigned char { Other, NamesCall, Call };
    std::vector<AuthRole> AuthRoles() const;
    // What the relay may hold now: the connections that carry a call; the
    // started calls whose pppd's program has not named their session yet
    // (ModemSlot::awaits_program) and that no connection carries; and,
    // where the descriptor limit counts, the descriptors left to the
    // others, theirs and `unlisted` ones included.
    struct AuthRoom {
        std::size_t calls = 0;
        std::size_t awaited = 0;
        bool limited = false;
        std::size_t free = 0;
    };
    AuthRoom Room(std::size_t unlisted) const;
    // Makes room for a newcomer: the connection silent longest among those
    // that name no call, else among those that name one but do not carry
    // it; null when there is none.
    AuthClient* Quietest() const;
    // What waits on the connections that may have to make room is served
    // first: a call's program may have just sent its first record.
    void ServeWaiting();
    void SummariseAuthLines();

    OwnedFd authSocket;
    Event authEvent;
    AcceptPause acceptPause;
    // Connections beyond the limit are being refused.
    bool refusing = false;
    // The connection whose record is being handled.
    AuthClient* speaking = nullptr;
    // The relay's lines: how many of each kind went out since `linesSince`,
    // how many did not, and when that count goes out.
    unsigned char authLines[static_cast<int>(Auth::Line::Count)] = {};
    std::uint32_t linesSince = 0;
    unsigned long linesUnlogged = 0;
    Timer linesTimer;
    friend class AuthClient;
};
