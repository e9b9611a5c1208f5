#pragma once

// ISDN D channels that run the data link (ISDN::LAPD) on a descriptor the
// slot reads and writes itself: the slot is the link's channel. Layer-3
// messages travel between the host (`userData`) and the link.
//
// - "MCC": an HDLC controller channel of "/dev/mcc/ctl" (`isdn` create).
// - "ATS-QSIG": a QSIG D channel towards an exchange on "/dev/dsp-data"
//   (`ats-qsig` create). Its line's B channels are slots of their own,
//   "ATS-QSIG-B" (`ats-qsig-b` create), which carry no traffic of the
//   server's: other slots connect to them through the TDM switch.
//
// One frame per read and per write. A write that would block makes the slot
// wait for output and tell the link when it may send again; one that fails
// otherwise loses that frame (logged), and the link goes on. A descriptor
// that can give nothing more (end of file, a read error, a hang-up) is no
// longer watched, and the link is released: the host hears `deactivated`
// once the link has let go.

#include "core/event.hpp"
#include "hardware/device_fd.hpp"
#include "core/protocol.hpp"
#include "hardware/hdlc.hpp"
#include "signalling/lapd.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

class IsdnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public GenericHDLC {
public:
    // Takes over the channel's descriptor and the link (which joins the
    // family); `timeslot` is the channel's switch channel.
    IsdnSlot(DeviceFd channel, int timeslot, ISDN::LAPD* lapd, char const* event_name = "IsdnSlot::OnEvent");
    ~IsdnSlot() override;

    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IUserData(std::vector<char> const& data) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot_; }
    int IGetReceiveChannel() override { return timeslot_; }
    const char* GetName() const override { return "MCC"; }

    // The link's channel.
    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return channel_ && !ended_; }
    bool is_ready() const override { return ready_; }
    bool transmit_failed() const override { return failed_; }

    // The family's owner side: what the link reports.
    Protocol_name const& name() const override { return name_; }
    void on_activated(Protocol* p) override;
    void on_deactivated(Protocol* p, Protocol_status status) override;
    void on_message(Packet& pkt) override;
    // Nothing leaves the family downwards: the link sends on the slot itself.
    void transmit(Packet&) override {}
    void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

    void OnEvent(int fd, short revents);

    // "isdn-slot[<time slot>]: "
    void PutHeader(std::ostream& os) const;

    ISDN::LAPD& lapd() noexcept { return *lapd_; }
    int timeslot() const noexcept { return timeslot_; }
    // The channel's descriptor, for the requests of the kinds built on this.
    int descriptor() const noexcept { return channel_.get(); }
    // Whether the descriptor is still watched, and for what.
    bool watched() const noexcept { return event_.attached; }
    short polled() const noexcept { return event_.events(); }

protected:
    void StopWatching() { event_.Release(); }

private:
    void Read(int fd);
    // The descriptor gives nothing more: one line, no more watching, and
    // the link is released.
    void Ended(char const* why);
    void SendStatistics();

    DeviceFd channel_;
    Event event_;
    ISDN::LAPD* lapd_; // owned by the family
    int timeslot_;
    bool ready_ = false;
    bool ended_ = false;
    // The last refused frame failed; it was not flow control.
    bool failed_ = false;
    Protocol_name_str name_{"ISDN/HDLC"};
};

class AtsQsigBSlot;

class AtsQsigSlot : public IsdnSlot {
public:
    AtsQsigSlot(DeviceFd channel, int timeslot, ISDN::LAPD* lapd);

    bool IBeforeDestroy() override;
    const char* GetName() const override { return "ATS-QSIG"; }

    // Adds B channel `index` (0-based) of the line; null (after an error
    // line) when the driver does not give one.
    AtsQsigBSlot* NewBChannel(unsigned int index);
    // Gives B channel `index`, on switch channel `timeslot`, back.
    void ReleaseBChannel(unsigned int index, int timeslot);

    // Tells this signalling slot from an earlier one that had the same
    // number: a B channel belongs to the one that added it.
    const std::uint32_t serial;
};

class AtsQsigBSlot : public Slot {
public:
    AtsQsigBSlot(std::uint32_t signalling, std::uint32_t serial, unsigned int index, int timeslot);
    ~AtsQsigBSlot() override;

    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot; }
    int IGetReceiveChannel() override { return timeslot; }
    const char* GetName() const override { return "ATS-QSIG-B"; }

    const std::uint32_t signalling; // the ATS-QSIG slot's number
    const std::uint32_t serial;     // and which one it was
    const unsigned int index;       // 0-based
    const int timeslot;             // assigned by the driver
};

class IsdnFactory : public SlotFactory {
public:
    static IsdnFactory* instance();

    const char* GetName() const override { return "ISDN"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}

    // The first slot made here whose number is `id`; null when none.
    Slot* FindSlot(std::uint32_t id) const;

    // "mcc/isdn: "
    void PutHeader(std::ostream& os) const;

    Slot* NewIsdnSlot(LGCP::IsdnParams const& params);
    Slot* NewAtsQsigSlot(LGCP::AtsQsigParams const& params);
    Slot* NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params);

private:
    // The slot, or null (logged, slot deleted) when its channel could not
    // be watched: the link would be neither read nor written.
    Slot* Watched(IsdnSlot* slot);
};
