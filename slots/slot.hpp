#pragma once

// A termination that the controlling host creates by number (0..1023): a
// trunk time slot, a bus channel, an RTP session, a mixer port, a modem, a
// signalling link. Every kind derives from Slot and overrides only what
// differs from the defaults below; `Slots` owns every slot and calls nothing
// but these virtual operations, so a new kind never changes `Slots`.
//
// Contracts that every kind keeps:
// - A kind that reports detector events derives privately from
//   Hardware::TonecReceiver and/or Hardware::DSProcReceiver and forwards
//   their callbacks to the protected translators (processTonecEvent and
//   the others), which turn them into LGCP signals.
// - IBeforeDestroy() true: the slot may be deleted at once. False: its end
//   is postponed; the slot keeps running (a child program stopping, say)
//   and later calls on_release() exactly once, touching nothing of itself
//   afterwards (the call deletes it). on_release() is never called from
//   inside IBeforeDestroy(): a slot that is done at once returns true.
// - The destructor leaves every list that names the slot: its source's
//   listeners, its listeners' source, its factory's `slots` (through
//   SlotFactory::Remove, which may run twice) and any list of the kind's
//   own (its destructor). So a slot deleted without on_release (a straggler
//   after the host was lost) leaves no pointer to itself behind.

#include "asn1/modules/ACP.hpp"
#include "asn1/modules/DIZORU.hpp"
#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/TERM.hpp"
#include "hardware/drivers.hpp"
#include "hardware/dsproc.hpp"
#include "hardware/tonec.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class SlotFactory;

class Slot {
public:
    // `id` of a slot that `Slots` has not stored (yet).
    static constexpr std::uint32_t NoId = 0xFFFFFFFFu;

    Slot() = default;
    virtual ~Slot();
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    virtual int GetTrunk() { return -1; }
    virtual int GetTrunkTimeSlot() { return -1; }
    virtual void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state);
    // After the host got the success of the create: announce the streams.
    virtual void IAfterCreate() {}
    virtual bool IBeforeDestroy() { return true; }
    virtual bool IActivate(TERM::TermActivateParams const& params);
    virtual bool IDeactivate() { return false; }
    virtual bool IUserData(std::vector<char> const& data);
    virtual bool Ioctl(LGCP::IoctlParams const& params);
    // The side with the higher priority does the hardware work of a
    // connection (llConnect, llDisconnect).
    virtual int GetConnectionPriority() { return 0; }
    virtual bool IHwConnectTransmitter(Slot& listener);
    virtual bool IHwConnectReceiver(Slot& source);
    virtual bool IHwDisconnectTransmitter(Slot& listener);
    virtual bool IHwDisconnectReceiver(Slot& source);
    // Asked when the first listener or the source arrives: may start the
    // media path; false when the slot cannot send (receive).
    virtual bool IOnOutputStream() { return false; }
    virtual bool IOnInputStream() { return false; }
    // The last listener or the source has gone.
    virtual void IOnOutputRelease() {}
    virtual void IOnInputRelease() {}
    // Switch channels the slot sends on and receives from; -1 when none.
    virtual int IGetTransmitChannel() { return -1; }
    virtual int IGetReceiveChannel() { return -1; }
    // False once those channels carry another slot's path (a port of a
    // mixer unit that came back as a new object, an RTP slot whose restart
    // failed): no connection is made with the slot, its disconnection
    // leaves the switch alone, and a peer that stored one of its channels
    // forgets it on that disconnection.
    virtual bool IHoldsChannels() { return true; }
    // The kind's short name ("trunk", "map", "rtp").
    virtual const char* GetName() const = 0;

    // The label of log lines: "07:trunk", "123:rtp", "i1024:map" for a
    // number past the table, "na:trunk" before the slot is stored.
    void Put(std::ostream& os) const;
    std::string Label() const;

    // Sends the signal to the host with this slot's number, through Slots.
    void SendSignal(LGCP::Signal const& signal);
    // IBeforeDestroy(); when it lets the slot go, the slot leaves its
    // factory. False: the end is postponed.
    bool BeforeDestroy();
    // Ends a postponed destroy; the slot is deleted before this returns.
    // Does nothing unless a destroy has begun.
    void on_release();
    // The logical half of a connection (connection.hpp does the rest).
    void LogicalConnect(Slot& from);
    void LogicalDisconnect();
    // Tell the host of a change of the receiver (transmitter); nothing when
    // it already knows. Going inactive also disconnects.
    void OnChangeInputStream(bool active);
    void OnChangeOutputStream(bool active);

    std::uint32_t id = NoId;
    // The slots that receive this slot's output: ascending by address, no
    // duplicates. Not owned.
    std::vector<Slot*> listeners;
    // The slot whose output this one receives; not owned.
    Slot* source = nullptr;
    // Set by SlotFactory::NewSlot; null for a slot made otherwise.
    SlotFactory* factory = nullptr;
    bool inputStream = false;  // the host was last told: receiver active
    bool outputStream = false; // the host was last told: transmitter active
    bool destroying = false;   // Slots::Destroy has begun
    // The postponed success of a `destroy` command: its seq, whether the
    // command had one, and whether a command waits at all. An end
    // postponed by anything else (a create on the number, a factory taking
    // the slot's channel, the host's loss) completes without a response.
    std::uint32_t delayedSeq = 0;
    bool delayedSeqPresent = false;
    bool delayedResponse = false;

protected:
    // Signal senders: one LGCP signal each, with this slot's number.
    void OnTonecEvent(LGCP::TonecEvent const& event);
    void OnNumber(std::string const& number);
    void OnModem(TERM::ModemProceeding const& value);
    void OnModem(TERM::ModemInformation const& value);
    void OnActivated();
    void OnDeactivated();
    void OnAbort(int code);
    void OnUserData(std::vector<char> const& data);
    void OnIoctlResponse(LGCP::IoctlResponse const& response);
    void OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
    void OnVADEvent(LGCP::VADEvent const& event);
    void OnProtoVezeEvent(DIZORU::ProtoVezePackets const& packets);
    void OnSDEvent(LGCP::SDEvent const& event);
    void OnRtpEvent(LGCP::RtpEvent const& event);

    // Detector translators: driver event in, LGCP signal out (or a log line
    // for an event that makes no sense).
    void processTonecEvent(Hardware::TonecReceiver::Params const& params);
    void processToneGenEvent();
    void processVADEvent(Hardware::DSProcVADEvent const& event);
    void processToneFltEvent(dsproc_tone_event const* event);
    void processFlagsEvent(dsproc_flags_event const* event);
    void processBSSEvent(dsproc_bss_event const* event);
    void processSDEvent(Hardware::DSProcSDEvent const& event);
    void processRtpEvent(rtp_event const& event);
};

std::ostream& operator<<(std::ostream& os, Slot const& slot);
