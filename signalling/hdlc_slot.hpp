#pragma once

// A packet channel between the host and an HDLC channel tied to a TDM time
// slot. The host hands the slot lists of packages (`hdlcPackages` ioctl);
// each goes out as one frame:
//
//     offset 0  2 octets  address: the slot's own, big-endian
//            2  1 octet   control: bits 7..5 our send sequence (mod 8),
//                         bits 2..0 the sequence last received, 4..3 zero
//            3  n octets  the package's body
//
// Frames received for the slot's address come back to the host in batches,
// as `ioctl` signals carrying `hdlcPackages`: bit 7 of a frame's fifth octet
// (the body's second) says that more of the batch follows, and a batch that
// stops without its last frame goes out after 100 ms. Every 3000 ms the host
// gets the channel's counters (`hdlcLinkInfo`).
//
// The channel opens on the first connection that names a switch channel, or
// on `activate`; either disconnect closes it.

#include "core/packet.hpp"
#include "core/packet_queue.hpp"
#include "core/timer.hpp"
#include "hardware/hdlc.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>

class HdlcSlot : public Slot, public HDLC::Notify {
public:
    // Frames waiting for the channel.
    static constexpr unsigned int QueueSize = 120;
    // An unfinished batch goes to the host after this long.
    static constexpr unsigned int FlushMs = 100;
    static constexpr unsigned int StatisticsMs = 3000;
    // What one LGCP message can carry, so that a long batch is split
    // rather than lost: a decoder of the host takes at most 128 elements of
    // a SEQUENCE OF, the control connection at most 65531 octets in one TPKT
    // frame (RFC 1006), and the PER coder writes no OCTET STRING of 16384
    // octets or more (no fragmented lengths, X.691 11.9.3.8).
    static constexpr std::size_t MaxBatchPackages = 128;
    static constexpr std::size_t MaxBatchOctets = 65531;
    static constexpr std::size_t MaxReceivedBody = 16383;
    // Packet buffers left to the rest of the server: a host that fills the
    // queues of many unconnected slots must not exhaust the shared pool.
    static constexpr std::size_t PoolReserve = 128;

    explicit HdlcSlot(LGCP::HdlcParams const& params);
    ~HdlcSlot() override;

    void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state) override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    int GetConnectionPriority() override { return 1; }
    bool IHwConnectTransmitter(Slot& peer) override;
    bool IHwConnectReceiver(Slot& peer) override;
    bool IHwDisconnectTransmitter(Slot& peer) override;
    bool IHwDisconnectReceiver(Slot& peer) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    const char* GetName() const override { return "hdlc-slot"; }

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    // "HdlcSlot[<trunk index>/*]: "
    void PutHeader(std::ostream& os) const;

    // A received frame: its body joins the pending batch when the frame is
    // addressed to this slot.
    void enqResponce(Packet& frame);
    // The pending batch to the host (nothing when empty), then a new one.
    void flushResponce();
    void UpdateHDLC_Statistics();
    void OnUpdateTimer();

    HDLC& channel() noexcept { return channel_; }
    std::uint16_t address() const noexcept { return address_; }
    long long trunk_index() const noexcept { return trunk_index_; }
    // The batch being collected, and the octets its message will take at
    // most; tests and the fuzz target read them.
    LGCP::IoctlResponse::hdlcPackages_type const& pending() const { return pending_.get_hdlcPackages(); }
    std::size_t pending_octets() const noexcept { return pending_octets_; }
    unsigned int queued() const { return queue_.count(); }
    bool flush_armed() const noexcept { return static_cast<bool>(flush_timer_); }

    static const TimerSpec<HdlcSlot>::Spec TUpdatespec;

private:
    // Opens the channel; false (the host told `deactivated`) when it could
    // not be opened or watched.
    bool Activate();
    void Connected(int channel);
    void Disconnected(Slot& peer);
    void OnFlushTimer();
    // Appends one received body to the batch, sending the batch first when
    // the body would not fit in its message.
    void AddReceived(std::uint8_t const* body, std::size_t length);
    bool Traced() const;

    HDLC channel_;
    LGCP::IoctlResponse pending_;
    std::size_t pending_octets_ = 0;
    long long trunk_index_ = 0;
    Timer update_timer_;
    Timer flush_timer_;
    CleanQueue<Packet, QueueSize> queue_;
    std::uint16_t address_ = 0;
    std::uint8_t send_seq_ = 0;
    std::uint8_t received_seq_ = 0;
};

class HdlcSlotFactory : public SlotFactory {
public:
    static HdlcSlotFactory* instance();

    HdlcSlotFactory() = default;

    const char* GetName() const override { return "HdlcSlotFactory"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
    void SelfSignal(LGCP::Signal const& signal) override;
};
