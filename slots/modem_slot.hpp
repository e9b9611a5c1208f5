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
#include "core/held_descriptors.hpp"
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
    // A data call lives: from the connect that started its pppd until pppd
    // ends. While no connection carries its session the relay keeps its
    // program's place, whether the program was heard before or not: it
    // connects again for the call's accounting, or after a break.
    bool awaits_program() const { return placeKept; }
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
    // pppd's authentication program connects as soon as it runs: its place
    // is held from here, `lent` of its descriptors being the caller's,
    // which it hands over (ModemFactory::AdoptKept) once pppd runs; false,
    // logged and with nothing held, when the descriptors left cannot hold
    // it.
    bool KeepPlace(std::size_t lent);
    // No pppd runs for the call (any more): its place goes.
    void LetPlaceGo();

    TERM::ModemParams params;
    int pid = -1;
    // The relay holds a place for the data call's program (awaits_program).
    bool placeKept = false;
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

    // Holds the modem while open; closed through the driver, as the board
    // hears the modem's last descriptor go there.
    DeviceFd modemFd;
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
    // Holds, as open descriptors, the places of the data calls whose
    // program no connection carries (ModemSlot::awaits_program): two
    // descriptors each, less those of the connections let in on such a
    // place that carry no call, and less `lent` that a starting call hands
    // over once its pppd runs (AdoptKept). A count would be ignored by
    // every other open in the server; a held descriptor is not. Run at
    // every change of what it counts, so that what a closing connection
    // frees is held again before anything else can take it. False when
    // fewer could be held.
    bool KeepPlaces(std::size_t lent = 0);
    // A descriptor whose own use is over becomes one of the kept ones.
    void AdoptKept(OwnedFd fd);
    std::size_t kept() const { return kept_.size(); }
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
    // The data calls whose program's place is kept and that no connection
    // carries.
    std::size_t Awaited(std::vector<AuthRole> const& roles) const;
    // What the relay holds now: the connections that carry a call; the
    // calls whose place is kept (Awaited); the connections on general
    // places (those let in on a kept place that carry no call are not); and,
    // where the descriptor limit counts, the descriptors left to the
    // general places, theirs and `unlisted` ones included, the kept ones
    // not.
    struct AuthRoom {
        std::size_t calls = 0;
        std::size_t awaited = 0;
        std::size_t general = 0;
        bool limited = false;
        std::size_t free = 0;
    };
    AuthRoom Room(std::size_t unlisted) const;
    // How many connections the general places hold at most.
    std::size_t GeneralPlaces(AuthRoom const& room) const;
    // Where a newcomer goes now: a general place; a kept one, when every
    // general one is taken; or none, and a connection must make room.
    // `unlisted` descriptors are open for it already.
    enum class Place : unsigned char { None, General, Kept };
    Place NewcomerPlace(std::size_t unlisted) const;
    // How many connections the relay holds at most now: the calls', the
    // kept places and the general ones.
    std::size_t AuthClientLimit() const;
    // Makes room for a newcomer: the connection silent longest among those
    // that name no call, else among those that name one but do not carry
    // it, those on kept places too or not; null when there is none.
    AuthClient* Quietest(bool keptToo) const;
    // What waits on the connections is served first: a call's program may
    // have just sent its first record, and the end of a call's connection
    // frees its place to keep.
    void ServeWaiting();
    void SummariseAuthLines();

    OwnedFd authSocket;
    Event authEvent;
    AcceptPause acceptPause;
    HeldDescriptors kept_;
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
