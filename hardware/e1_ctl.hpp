#pragma once

// The board's four E1 trunks. From "/dev/maintenance": each trunk's
// synchronisation state and error counters, reported once a second as
// `trunkStatus` signals (which the other services see first), and the
// transmit-clock mask that puts each trunk in master or slave timing. From
// "/dev/e1-cas": channel-associated signalling opened and closed per trunk
// and time slot, bits set and read, and every change of received bits
// reported as a `cas` signal. Takes `trunkCfg` and the `cas` ioctl. Bound
// fifth.

#include "control/ctrl_service.hpp"
#include "core/singleton.hpp"
#include "core/event.hpp"
#include "hardware/device_fd.hpp"
#include "core/timer.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>

namespace Hardware {

// The maintenance driver's trunk status (native words).
struct e1_trunk_status {
    std::uint32_t trunk;
    std::uint32_t unused1[8];
    std::uint32_t slips;
    std::uint32_t lossBF;
    std::uint32_t lossCarrier;
    std::uint32_t ais;
    std::uint32_t rai;
    std::uint32_t unused2[5];
    std::uint32_t state; // an ACP::TrunkState number
};
static_assert(sizeof(e1_trunk_status) == 80, "trunk status record is 80 bytes");
static_assert(offsetof(e1_trunk_status, slips) == 36);
static_assert(offsetof(e1_trunk_status, rai) == 52);
static_assert(offsetof(e1_trunk_status, state) == 76);

// The CAS driver's channel: the record of the set and get requests and of
// every event read from the driver.
struct cas_channel {
    std::uint32_t trunk;
    std::uint32_t timeslot;
    std::uint8_t rx; // received signalling bits
    std::uint8_t tx; // transmitted signalling bits (low four)
    std::uint8_t reserved[2];
};
static_assert(sizeof(cas_channel) == 12, "CAS channel record is 12 bytes");
static_assert(offsetof(cas_channel, rx) == 8);
static_assert(offsetof(cas_channel, tx) == 9);

// Open or close one channel.
struct cas_channel_request {
    cas_channel channel;
    std::uint32_t operation; // kCasChannelOpen or kCasChannelClose
};
static_assert(sizeof(cas_channel_request) == 16, "CAS channel request is 16 bytes");
static_assert(offsetof(cas_channel_request, operation) == 12);

constexpr std::uint32_t kCasChannelOpen = 0;
constexpr std::uint32_t kCasChannelClose = 1;

} // namespace Hardware

class E1Ctl : public CtrlSrv::Service {
public:
    // "/dev/maintenance".
    static constexpr std::uint32_t E1_STATUS = 0xc0504d03; // e1_trunk_status*
    static constexpr std::uint32_t E1_TCLK = 0xc0044d0b;   // the mask, by value
    // "/dev/e1-cas".
    static constexpr std::uint32_t CAS_OPEN = 0x80044300;    // the trunk, by value
    static constexpr std::uint32_t CAS_CLOSE = 0x80044301;   // the trunk, by value
    static constexpr std::uint32_t CAS_SET = 0xc00c4302;     // cas_channel*
    static constexpr std::uint32_t CAS_GET = 0xc00c4303;     // cas_channel*
    static constexpr std::uint32_t CAS_CHANNEL = 0xc0104304; // cas_channel_request*

    static constexpr int kTrunks = 4;
    static constexpr unsigned status_ms = 1000;

    static E1Ctl* instance() { return &Singleton<E1Ctl>::Get(); }
    // The process uses instance(); tests build their own.
    E1Ctl();
    ~E1Ctl() override;

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;

    void OnCheckStatus(Timer*);
    void SendStatus();
    void SetMode(LGCP::TrunkCfg const& cfg);
    void UpdateTclk();
    bool CheckOpenCas();
    void HandleCas(LGCP::IoctlParams const& params);
    void HandleCasOpen(Hardware::cas_channel const& ch, int bits);
    void HandleCasClose(Hardware::cas_channel const& ch);
    void HandleCasSet(Hardware::cas_channel const& ch, int bits);
    void HandleCasGet(Hardware::cas_channel const& ch);
    void OnUpdateCas(int fd, short revents);
    void SendCASSignal(int trunk, int timeslot, int rx, int tx);
    void SendCASTrunkStatus(int trunk, int result);
    void PutHeader(std::ostream& os) const;

    std::uint32_t tclk_mask() const noexcept { return tclk_; }
    bool cas_open(int trunk) const noexcept { return trunk >= 0 && trunk < kTrunks && cas_open_[trunk] != 0; }
    bool cas_driver_open() const noexcept { return static_cast<bool>(cas_fd_); }
    bool status_running() const noexcept { return static_cast<bool>(timer_); }

private:
    bool OpenMaintenance();
    void CloseCasDriver();
    void DriverMissing(bool& said, const char* path);

    int maint_fd_ = -1;
    Timer timer_;
    DeviceFd cas_fd_;
    Event cas_event_;
    std::uint32_t cas_open_[kTrunks] = {};
    std::uint32_t tclk_ = 0;
    // The mask awaits the maintenance driver.
    bool tclk_pending_ = false;
    // The absence of each driver has been logged.
    bool maint_missing_ = false;
    bool cas_missing_ = false;
};
