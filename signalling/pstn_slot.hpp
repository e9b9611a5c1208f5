#pragma once

// One signalling link of the telephone network on a TDM time slot: SS7
// level 2, ISDN LAPD on either side (primary rate, or basic rate on the user
// side), the network side of a basic-rate line with several terminals, or
// CAS with no layer at all. The slot owns an HDLC channel that the switch
// ties to the time slot of the slot it is connected to, stacks the chosen
// layer in its own protocol family and carries layer-3 messages between the
// host (`userData`) and the top of that stack. Every 3000 ms from creation
// the host gets the channel's counters and the layer's statistics.
//
// Link kinds:
//   0  SS7 (SS7::SLC) or CAS (no layer)   channel mode 0 (driver mode 3)
//   1  ISDN primary rate (ISDN::LAPD)     channel mode 1
//   2  ISDN basic rate, user side         channel mode 2
//   3  ISDN basic rate, network side      channel mode 2 (ISDN::LAPD_NT)
// Kinds 0 and 1 start once their receive side is connected, kinds 2 and 3
// once both directions are, in either order.
//
// The SS7 and LAPD layers send on the channel themselves and hear it through
// HDLC::Notify. The network side of a basic-rate line sends through the
// stack's transmit path instead, which ends here: its frames go to the
// channel, wait in order while the channel refuses them, and the channel's
// frames go up to it through the family.

#include "core/packet.hpp"
#include "core/packet_queue.hpp"
#include "core/protocol.hpp"
#include "core/timer.hpp"
#include "hardware/hdlc.hpp"
#include "signalling/lapd.hpp"
#include "signalling/lapd_nt.hpp"
#include "signalling/ss7_slc.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <iosfwd>
#include <memory>
#include <vector>

class PstnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public HDLC::Notify {
public:
    enum Kind { ss7_or_cas = 0, isdn_pri = 1, isdn_bri_user = 2, isdn_bri_network = 3 };

    static constexpr unsigned int StatisticsMs = 3000;
    // Frames of the basic-rate network side that wait for the channel: as
    // many as one terminal's outgoing queue holds.
    static constexpr unsigned int QueueSize = 135;

    explicit PstnSlot(LGCP::PstnParams const& params);
    ~PstnSlot() override;

    // Slot
    void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state) override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IUserData(std::vector<char> const& data) override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    int GetConnectionPriority() override { return 1; }
    bool IHwConnectTransmitter(Slot& peer) override;
    bool IHwConnectReceiver(Slot& peer) override;
    bool IHwDisconnectTransmitter(Slot& peer) override;
    bool IHwDisconnectReceiver(Slot& peer) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    const char* GetName() const override { return "pstn"; }

    // The channel's events, for the layer that listens to it.
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    // The family
    void on_activated(Protocol* p) override;
    void on_deactivated(Protocol* p, Protocol_status status) override;
    void on_message(Packet& pkt) override;
    // Below the bottom layer: the network side's frames to the channel.
    void transmit(Packet& pkt) override;

    void OnLAPD_FlowStatusChange(ISDN::LAPD* lapd) override;

    void OnUpdateTimer();
    void PutHeader(std::ostream& os) const;

    Kind kind() const noexcept { return kind_; }
    long long trunk_index() const noexcept { return trunk_index_; }
    HDLC& channel() noexcept { return *channel_; }
    SS7::SLC* ss7() noexcept { return ss7_; }
    ISDN::LAPD* lapd() noexcept { return lapd_; }
    ISDN::LAPD_NT* lapd_nt() noexcept { return lapd_nt_; }
    unsigned int queued() const { return queue_.count(); }

    static const TimerSpec<PstnSlot>::Spec TUpdatespec;

private:
    // The channel, then the layers; false (the host told `deactivated`)
    // when the channel could not be opened or watched.
    bool Activate();
    void SendIsdnInfo();
    void SendSS7Info();
    HDLC::Notify* Listener();

    std::unique_ptr<HDLC> channel_;
    Kind kind_ = ss7_or_cas;
    long long trunk_index_ = 0;
    SS7::SLC* ss7_ = nullptr;
    ISDN::LAPD* lapd_ = nullptr;
    ISDN::LAPD_NT* lapd_nt_ = nullptr;
    ACP::TrunkState::NamedNumber trunk_state_ = ACP::TrunkState::unknown;
    Timer update_timer_;
    CleanQueue<Packet, QueueSize> queue_;
};

class PstnFactory : public SlotFactory {
public:
    static PstnFactory* instance();

    PstnFactory() = default;

    const char* GetName() const override { return "PSTN"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
    void SelfSignal(LGCP::Signal const& signal) override { PassTrunkStatus(signal); }
};
