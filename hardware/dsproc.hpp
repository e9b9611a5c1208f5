#pragma once

// The voice-processing DSP ("/dev/dsp"): per time slot voice activity
// detection (VAD), signal detection (SD), BSS scoring, noise gate (NG), the
// SH and SELCAL SH features, muting, delays, receive gain and tone filters.
// One service owns the driver and routes its events to the receiver of each
// time slot; a receiver remembers what it switched on so that it can
// switch it off before it goes away.

#include "core/event.hpp"
#include "hardware/cyclic_list.hpp"
#include "hardware/detector_port.hpp"

#include "asn1/modules/LGCP.hpp"

#include <cstdint>

// Event payloads (12 bytes each) as the driver writes them.
struct dsproc_bss_event {
    float score;
    std::uint32_t reserved[2];
};
struct dsproc_tone_event {
    std::uint32_t frequency;
    std::uint32_t present; // non-zero: the tone is there
    std::uint32_t reserved;
};
struct dsproc_flags_event {
    std::uint32_t flags;
    std::uint32_t mask;
    std::uint32_t reserved;
};
static_assert(sizeof(float) == 4);
static_assert(sizeof(dsproc_bss_event) == 12);
static_assert(sizeof(dsproc_tone_event) == 12);
static_assert(sizeof(dsproc_flags_event) == 12);

namespace Hardware {

class DSProcReceiverService;

// -1: the direction was not reported.
struct DSProcVADEvent {
    std::int32_t rx;
    std::int32_t tx;
};
struct DSProcSDEvent {
    std::int32_t rx;
};

// The node that links a receiver into the DSP service's list.
class DSProcLink : public Containers::CyclicNode {};

class DSProcReceiver : public DSProcLink {
public:
    DSProcReceiver();
    virtual ~DSProcReceiver();
    DSProcReceiver(const DSProcReceiver&) = delete;
    DSProcReceiver& operator=(const DSProcReceiver&) = delete;

    virtual void dsproc_vad_event(const DSProcVADEvent& event) = 0;
    virtual void dsproc_bss_event(const ::dsproc_bss_event* event) = 0;
    virtual void dsproc_sd_event(const DSProcSDEvent& event) = 0;
    virtual void dsproc_tone_flt_event(const ::dsproc_tone_event* event) = 0;
    virtual void dsproc_flags_event(const ::dsproc_flags_event* event) = 0;
    virtual unsigned int dsproc_timeslot() const = 0;

    bool configureVAD(const LGCP::VADParams& params);
    bool configureSD();
    bool enableVAD(bool on);
    bool disableVAD() { return enableVAD(false); }
    bool enableBSS(bool on);
    bool disableBSS() { return enableBSS(false); }
    bool enableNG(bool on);
    bool disableNG() { return enableNG(false); }
    bool enableSelcalSh(bool on);
    bool disableSelcalSh() { return enableSelcalSh(false); }
    bool enableSh(bool on);
    bool disableSh() { return enableSh(false); }
    bool enableSD(bool on);
    bool disableSD() { return enableSD(false); }
    bool enableMute(bool first, bool second);
    bool disableMute() { return enableMute(false, false); }
    void configureDelays(unsigned int rx, unsigned int tx, unsigned int selcal);
    // The gain is signed: plain char is unsigned on the board's PowerPC.
    void configureRxGain(std::int8_t gain_dB);
    void configureToneFilter(unsigned int freq, unsigned int en, int dur_th_msec, int det_lvl_dB);
    void disableToneAll();
    // Switches off what this receiver switched on (SD and mute excepted);
    // the owner calls it before it goes away.
    void CleanBeforeDestroy();
    // The time slot is about to become another receiver's. While it is
    // still this one's, what this receiver switched on goes off, SD and
    // mute included; then the receiver leaves the service's list, so that
    // the slot's events reach the new receiver, and forgets its states, so
    // that none of its later requests reaches the slot.
    void LetGo();

    // Feature states: -1 unknown, 0 off, 1 on.
    struct Feature {
        std::int32_t state;
        std::uint32_t id;
    };
    const Feature& vad() const noexcept { return m_vad; }
    const Feature& bss() const noexcept { return m_bss; }
    const Feature& ng() const noexcept { return m_ng; }
    const Feature& selcal_sh() const noexcept { return m_selcalSh; }
    const Feature& sh() const noexcept { return m_sh; }
    const Feature& sd() const noexcept { return m_sd; }
    bool delays_set() const noexcept { return m_delaysSet; }
    bool rx_gain_set() const noexcept { return m_rxGainSet; }

private:
    friend class DSProcReceiverService;

    Feature m_vad{-1, 0};
    Feature m_bss{0, 0};
    Feature m_ng{0, 0};
    Feature m_selcalSh{0, 0};
    Feature m_sh{0, 0};
    Feature m_sd{-1, 0};
    std::int32_t m_muteFirst = -1;
    std::int32_t m_muteSecond = -1;
    std::uint32_t m_muteId = 0;
    bool m_delaysSet = false;
    bool m_rxGainSet = false;
};

class DSProcReceiverService : public Detector::DriverService<DSProcReceiverService> {
public:
    // DSP driver requests (board encoding).
    static constexpr std::uint32_t DSPROC_CONFIGURE = 0x40146401;
    static constexpr std::uint32_t DSPROC_ENABLE = 0x400c6402;
    static constexpr std::uint32_t DSPROC_DISABLE = 0x400c6403;
    static constexpr std::uint32_t DSPROC_VAD_VERSION = 0x40046404; // value 0; result: version

    // Features and event types.
    static constexpr std::uint32_t kVAD = 1, kSD = 2, kMuteFirst = 4, kMuteSecond = 8, kBSS = 0x10,
                                   kDelays = 32, kRxGain = 64, kNG = 128, kToneFilter = 256, kSelcalSh = 1024,
                                   kSh = 2048;
    static constexpr std::uint32_t kEventVAD = 1, kEventSD = 2, kEventBSS = 0x10, kEventTone = 0x100,
                                   kEventFlags = 0x200;

    DSProcReceiverService();

    bool configureVAD(unsigned int timeslot, const LGCP::VADParams& params);
    bool configureSD(unsigned int timeslot);
    void configureDelays(unsigned int timeslot, unsigned int rx, unsigned int tx, unsigned int selcal);
    void configureRxGain(unsigned int timeslot, std::int8_t gain_dB);
    void configureToneFilter(unsigned int timeslot, unsigned int freq, unsigned int en, int dur_th_msec,
                             int det_lvl_dB);
    bool enableVAD(DSProcReceiver& receiver, bool on);
    bool enableBSS(DSProcReceiver& receiver, bool on);
    bool enableNG(DSProcReceiver& receiver, bool on);
    bool enableSelcalSh(DSProcReceiver& receiver, bool on);
    bool enableSh(DSProcReceiver& receiver, bool on);
    bool enableSD(DSProcReceiver& receiver, bool on);
    bool enableMute(DSProcReceiver& receiver, bool first, bool second);
    void disableToneAll(DSProcReceiver& receiver);

    void OnEvent(int fd, short revents);

private:
    bool EnableFeature(DSProcReceiver& receiver, DSProcReceiver::Feature& feature, std::uint32_t mask,
                       const char* name, bool on);
};

} // namespace Hardware
