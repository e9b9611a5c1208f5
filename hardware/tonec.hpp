#pragma once

// The tone DSP ("/dev/dtmf"): DTMF and tone detection per TDM time slot,
// DTMF rejection in the speech path, the echo LMS filter, IVA levels, and
// the tone generator with SELCAL sequences. One service owns the driver and
// routes its events to the receiver of each time slot; the media slots that
// use detectors are receivers, and each receiver also runs the ring-back
// and DTMF digit-string cadences on the generator.

#include "core/event.hpp"
#include "core/timer.hpp"
#include "hardware/cyclic_list.hpp"
#include "hardware/detector_port.hpp"

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/TERM.hpp"

#include <cstdint>

namespace Hardware {

class TonecReceiverService;

// The node that links a receiver into the tone service's list.
class TonecLink : public Containers::CyclicNode {};

class TonecReceiver : public TonecLink {
public:
    struct Params {
        std::uint32_t code;
        std::uint32_t timestamp;
    };

    TonecReceiver();
    virtual ~TonecReceiver();
    TonecReceiver(const TonecReceiver&) = delete;
    TonecReceiver& operator=(const TonecReceiver&) = delete;

    // An event of the detector enable this receiver made last.
    virtual void tonec_event(const Params& params) = 0;
    virtual unsigned int tonec_timeslot() const = 0;
    // A digit string played by translateDTMF has ended.
    virtual void tone_gen_complete() {}

    bool configureDTMF(const LGCP::DTMFParams& params);
    bool echoCancel(bool on);
    bool configureIVA(const LGCP::IVAParams& params);
    bool translateSelcal(const TERM::SelcalCommand& command);
    bool enableToneGenerator(unsigned short f1, unsigned short f2, unsigned short l1, unsigned short l2);
    bool enableDTMF(bool on);
    bool disableDTMF() { return enableDTMF(false); }
    bool enableDTMFReject(bool on);
    bool enableIVA(bool on);
    // The generator on with no level: silence between tones.
    bool enableSilence();
    // Stops a running cadence and switches the generator off; without
    // `force` only a digit string is stopped (false when none runs).
    bool disableToneGenerator(bool force);
    // Plays a digit string: tone, pause, for each tone of the list.
    void translateDTMF(const LGCP::TranslateDtmfParams& params);
    // The ring-back cadence: 425 Hz for 1 s, silence for 3 s, again.
    void activateAudibleCall();
    void cancelAudibleCall();
    // Whatever plays, a digit string, the wait tone or a continuous tone,
    // at any step: silence, then off; nothing when the generator is off.
    // Its owner's end does it, or the tone sounds on for the time slot's
    // next user.
    void StopGenerator();
    // Switches off the detectors this receiver switched on; the owner calls
    // it before it goes away.
    void CleanBeforeDestroy();
    // The time slot is about to become another receiver's. While it is
    // still this one's, the generator gets silence and goes off if it was
    // on, and the echo filter and the detectors this receiver switched on
    // go off; then the receiver leaves the service's list, so that the
    // slot's events reach the new receiver, and forgets its states, so that
    // none of its later requests reaches the slot.
    void LetGo();

    // What the service knows of this receiver.
    bool dtmf_detector_enabled() const noexcept { return m_detectorEnabled; }
    bool iva_detector_enabled() const noexcept { return m_ivaEnabled; }
    std::uint32_t detector_id() const noexcept { return m_detectorId; }
    bool digits_in_progress() const noexcept { return m_cadence == Cadence::digits; }
    bool ring_back_running() const noexcept { return m_cadence == Cadence::ring_back; }

private:
    friend class TonecReceiverService;

    // The generator runs at most one cadence at a time: starting one ends
    // the other, and stopping one drops its pending step.
    enum class Cadence { idle, ring_back, digits };

    void RingBackOn();
    void RingBackOff();
    void NextDigit();
    void DigitPause();

    bool m_detectorEnabled = false; // DTMF detection
    bool m_ivaEnabled = false;      // IVA detection, kept apart from DTMF
    Timer m_timer;                  // the cadence's pending step
    Cadence m_cadence = Cadence::idle;
    std::uint32_t m_detectorId = 0;
    LGCP::TranslateDtmfParams m_digits;
    bool m_ivaOn = false;
    bool m_dtmfOn = false;
    bool m_rejectOn = false;
    bool m_lmsOn = false;
    // The last generator request that the board took was not an off: a
    // tone, a digit's tone or pause, or the silence of a cadence.
    bool m_generatorOn = false;
};

class TonecReceiverService : public Detector::DriverService<TonecReceiverService> {
public:
    // DTMF driver requests (board encoding).
    static constexpr std::uint32_t DTMF_CONFIGURE_DETECTOR = 0x40144202;
    static constexpr std::uint32_t DTMF_ENABLE_DETECTOR = 0x40084203;
    static constexpr std::uint32_t DTMF_DISABLE_DETECTOR = 0x40044204; // time slot by value
    static constexpr std::uint32_t DTMF_DIAL = 0x400c4205;
    static constexpr std::uint32_t CHANNEL_LMS_ON = 0x40044206;         // by value
    static constexpr std::uint32_t CHANNEL_LMS_OFF = 0x40044207;        // by value
    static constexpr std::uint32_t DTMF_REJECTION_ENABLE = 0x40044209;  // by value
    static constexpr std::uint32_t DTMF_REJECTION_DISABLE = 0x4004420a; // by value
    static constexpr std::uint32_t IVA_DETECTOR_ENABLE = 0x4004420b;    // by value
    static constexpr std::uint32_t IVA_DETECTOR_DISABLE = 0x4004420c;   // by value
    static constexpr std::uint32_t IVA_CONFIGURE_DETECTOR = 0x4008420d;
    static constexpr std::uint32_t SELCAL_DIAL = 0x400c420e;

    TonecReceiverService();

    bool configureDTMF(unsigned int timeslot, const LGCP::DTMFParams& params);
    bool enableDTMF(TonecReceiver& receiver, bool on);
    bool echoCancel(unsigned int timeslot, bool on);
    bool enableDTMFReject(unsigned int timeslot, bool on);
    bool enableToneGenerator(unsigned int timeslot, unsigned short f1, unsigned short f2, unsigned short l1,
                             unsigned short l2);
    bool configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params);
    bool enableIVA(TonecReceiver& receiver, bool on);
    bool translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& command);

    void OnEvent(int fd, short revents);

private:
    bool ByValue(const char* name, const char* suffix, std::uint32_t request, unsigned int timeslot);
};

} // namespace Hardware
