#pragma once

// Voice slots move audio between the TDM switch and a byte stream, through
// one transparent channel of the MCC controller each:
// - a file player plays phrase files stored on the board;
// - a network player plays what a TCP peer serves;
// - a recorder streams what its source sends to a TCP peer.
// A player starts when it gets its first listener, a recorder when it gets
// its source. Both end by themselves (a player: transmitter inactive and
// abort 0; a recorder: the stopRecording ioctl response with its cause) and
// wait for the host to destroy them, which returns their channel.
//
// The copiers and connectors call back into the slot, which drops or
// replaces them from inside those calls; both are written for that.

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/TERM.hpp"
#include "core/async.hpp"
#include "core/dpc.hpp"
#include "core/fd.hpp"
#include "hardware/device_fd.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class VoiceFactory;

// "a.b.c.d:port", the form ASync::Connect takes.
std::string dhost2str(TERM::HostAddress const& address);

// The folder of the phrase files.
constexpr const char* kVoiceFolder = "/usr/local/voice/";
// Phrase names come from the network: one that is absolute or has a ".."
// component could name a file outside the voice folder, one without any
// other word than "." names the folder itself, and one with a NUL is cut
// short by the C library: all are refused. Sub-folders are allowed.
bool IsPhraseNameSafe(std::string const& name);

class VoiceSlot : public Slot {};

class PlaySlotGeneric : public VoiceSlot {
public:
    // Takes over the allocated channel's descriptor.
    PlaySlotGeneric(VoiceFactory* owner, DeviceFd channel, int timeslot);
    ~PlaySlotGeneric() override;

    bool IBeforeDestroy() override;
    int IGetTransmitChannel() override { return timeslot; }
    const char* GetName() const override { return "player"; }

    void PutHeader(std::ostream& os) const;

    const int timeslot;

protected:
    DeviceFd mccFd; // opened for writing

private:
    VoiceFactory* owner_;
};

class PlaySlotNetwork : public PlaySlotGeneric {
public:
    enum State { Idle = 0, Connecting = 1, Playing = 2, Released = 3 };
    static constexpr unsigned ConnectTimeoutMs = 5000;

    PlaySlotNetwork(VoiceFactory* owner, DeviceFd channel, int timeslot, std::string host, int id);

    bool IOnOutputStream() override;

    int state() const noexcept { return state_; }
    std::string const& host() const noexcept { return host_; }

private:
    void OnConnect(ASync::Connect::Status::Type status, Fd fd);
    void OnCopy(ASync::Copy::Status::Type status);
    void Release();

    std::string host_;
    int id_;
    int state_ = Idle;
    std::unique_ptr<ASync::Copy> copier_;
    std::unique_ptr<ASync::Connect> connector_;
};

class PlaySlotFile : public PlaySlotGeneric {
public:
    // Phrase files are read in blocks of this size.
    static constexpr unsigned BufferSize = 8192;

    PlaySlotFile(VoiceFactory* owner, DeviceFd channel, int timeslot, std::vector<std::string> phrases,
                 int repeat);

    bool IOnOutputStream() override;

    int repeat() const noexcept { return repeat_; }
    bool aborting() const noexcept { return abortDpc_.active(); }

private:
    // From the first phrase; false when none plays.
    bool restart();
    // The next phrase that opens starts playing; false at the end of the list.
    bool next_phrase();
    void OnCopy(ASync::Copy::Status::Type status);
    void Release();
    void delayed_abort();

    std::unique_ptr<ASync::Copy> copier_;
    OwnedFd phraseFd_;
    int repeat_; // passes still to play; 0 (or less): without end
    bool started_ = false;
    bool released_ = false;
    Dpc abortDpc_;
    std::vector<std::string> phrases_;
    std::vector<std::string>::const_iterator next_;
};

class RecordSlot : public VoiceSlot {
public:
    static constexpr unsigned ConnectTimeoutMs = 5000;

    RecordSlot(VoiceFactory* owner, DeviceFd channel, int timeslot, std::string host);
    ~RecordSlot() override;

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnInputStream() override;
    int IGetReceiveChannel() override { return timeslot; }
    const char* GetName() const override { return "recorder"; }

    void PutHeader(std::ostream& os) const;

    const int timeslot;

private:
    void OnConnect(ASync::Connect::Status::Type status, Fd fd);
    void OnCopy(ASync::Copy::Status::Type status);
    void StopRecording(LGCP::StopRecordingCause::NamedNumber cause);

    DeviceFd mccFd; // opened for reading
    std::string host_;
    std::unique_ptr<ASync::Copy> copier_;
    std::unique_ptr<ASync::Connect> connector_;
    VoiceFactory* owner_;
};

class VoiceFactory : public SlotFactory {
public:
    static VoiceFactory* instance();

    const char* GetName() const override { return "Voice/mcc"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}

    Slot* CreatePlay(LGCP::PlayerParams const& params);
    Slot* CreateRecord(std::string const& host);
    // The slot leaves the list (harmless when it has left already).
    void OnDestroy(RecordSlot* slot);
    void OnDestroy(PlaySlotGeneric* slot);

    void PutHeader(std::ostream& os) const;

    std::vector<RecordSlot*> recorders;
    std::vector<PlaySlotGeneric*> players;
};
