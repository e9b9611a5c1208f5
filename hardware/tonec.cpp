#include "hardware/tonec.hpp"

#include "hardware/detector_port.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace Hardware {

namespace {

using Service = TonecReceiverService;

// Driver records (native order; the board is big-endian).
struct DtmfConfigure {
    std::uint32_t timeslot, twist, ratio, silence, noise;
};
struct DtmfEnable {
    std::uint32_t timeslot, id;
};
struct DtmfDial {
    std::uint32_t timeslot;
    std::uint16_t f1, f2, l1, l2;
};
struct IvaConfigure {
    std::int32_t timeslot;
    std::int32_t det_lvl_dB;
};
struct SelcalDial {
    std::int32_t timeslot;
    std::uint16_t amplitude;
    char signs[4];
    std::uint8_t zero[2];
};
struct TonecEvent {
    std::uint32_t code, timeslot, timestamp, id;
};

using Detector::Tail;
using Driver::RequestSize;
static_assert(sizeof(DtmfConfigure) == RequestSize(Service::DTMF_CONFIGURE_DETECTOR));
static_assert(sizeof(DtmfEnable) == RequestSize(Service::DTMF_ENABLE_DETECTOR));
static_assert(sizeof(DtmfDial) == RequestSize(Service::DTMF_DIAL));
static_assert(offsetof(DtmfDial, f1) == 4 && offsetof(DtmfDial, l2) == 10);
static_assert(sizeof(IvaConfigure) == RequestSize(Service::IVA_CONFIGURE_DETECTOR));
static_assert(sizeof(SelcalDial) == RequestSize(Service::SELCAL_DIAL));
static_assert(offsetof(SelcalDial, amplitude) == 4 && offsetof(SelcalDial, signs) == 6 &&
              offsetof(SelcalDial, zero) == 10);
static_assert(sizeof(TonecEvent) == 16);

constexpr unsigned short kDefaultLevel = 16384; // digit tones without amp1/amp2
constexpr unsigned int kDefaultStepMs = 70;     // tone and pause without durations
constexpr unsigned short kSelcalAmplitude = 12000;

Containers::CyclicList<TonecReceiver, TonecLink>& receivers()
{
    static Containers::CyclicList<TonecReceiver, TonecLink> list;
    return list;
}

// The four fields of an event as the event lines show them.
struct EventFields {
    const TonecEvent& e;
};
std::ostream& operator<<(std::ostream& os, EventFields f)
{
    return os << " timestamp=" << f.e.timestamp << " timeslot=" << f.e.timeslot << " code=" << f.e.code
              << " id=" << f.e.id;
}

} // namespace

// ---------------------------------------------------------------- service

constexpr Detector::DriverOpen kDriver{
    &GetDTMFDevName, O_RDONLY | O_NONBLOCK | O_CLOEXEC,
    "open tonec fail, DTMF proceeding disabled: ", "TonecReceiverService::OnEvent"};

TonecReceiverService::TonecReceiverService() : DriverService(kDriver)
{
    init();
}

bool TonecReceiverService::configureDTMF(unsigned int timeslot, const LGCP::DTMFParams& params)
{
    if (!init()) {
        std::cerr << "configure DTMF fail: (interface not opened)"
                  << " timeslot=" << timeslot << std::endl;
        return false;
    }
    const auto& threshold = params.get_threshold();
    DtmfConfigure rec{timeslot, threshold.get_twist().getValue(), threshold.get_ratio().getValue(),
                      params.get_level().get_silence().getValue(), threshold.get_noise().getValue()};
    if (Driver::Ioctl(m_event.fd(), DTMF_CONFIGURE_DETECTOR, &rec) < 0) {
        std::cerr << "DTMF_CONFIGURE_DETECTOR fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return false;
    }
    std::clog << "DTMF_CONFIGURE_DETECTOR"
              << " ts=" << timeslot << " twist=" << rec.twist << " ratio=" << rec.ratio
              << " noise=" << rec.noise << " silence=" << rec.silence << std::endl;
    return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on)
{
    if (receiver.m_detectorEnabled == on)
        return true;
    const unsigned int ts = receiver.tonec_timeslot();
    if (on) {
        DtmfEnable rec{ts, NextId()};
        if (Driver::Ioctl(m_event.fd(), DTMF_ENABLE_DETECTOR, &rec) < 0) {
            std::cerr << "DTMF_ENABLE_DETECTOR fail:"
                      << " timeslot=" << ts << " id=" << rec.id << Tail() << std::endl;
            return false;
        }
        receiver.m_detectorId = rec.id;
        receiver.m_detectorEnabled = true;
        std::cerr << "DTMF_ENABLE_DETECTOR done:"
                  << " timeslot=" << ts << " id=" << rec.id << std::endl;
        return true;
    }
    if (Driver::IoctlValue(m_event.fd(), DTMF_DISABLE_DETECTOR, ts) < 0) {
        std::cerr << "DTMF_DISABLE_DETECTOR fail:"
                  << " timeslot=" << ts << Tail() << std::endl;
        return false;
    }
    receiver.m_detectorEnabled = false;
    std::cerr << "DTMF_DISABLE_DETECTOR done:"
              << " timeslot=" << ts << std::endl;
    return true;
}

bool TonecReceiverService::ByValue(const char* name, const char* suffix, std::uint32_t request,
                                   unsigned int timeslot)
{
    if (Driver::IoctlValue(m_event.fd(), request, timeslot) < 0) {
        std::cerr << name << suffix << " fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return false;
    }
    std::clog << name << suffix << "[" << timeslot << "] ok" << std::endl;
    return true;
}

bool TonecReceiverService::echoCancel(unsigned int timeslot, bool on)
{
    return ByValue("CHANNEL_LMS", on ? "_ON" : "_OFF", on ? CHANNEL_LMS_ON : CHANNEL_LMS_OFF, timeslot);
}

bool TonecReceiverService::enableDTMFReject(unsigned int timeslot, bool on)
{
    return ByValue("DTMF_REJECTION", on ? "_ENABLE" : "_DISABLE",
                   on ? DTMF_REJECTION_ENABLE : DTMF_REJECTION_DISABLE, timeslot);
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on)
{
    if (!ByValue("IVA_DETECTOR", on ? "_ENABLE" : "_DISABLE", on ? IVA_DETECTOR_ENABLE : IVA_DETECTOR_DISABLE,
                 receiver.tonec_timeslot()))
        return false;
    // A flag of its own: IVA must neither stand in for an enabled DTMF
    // detector nor switch its events off.
    receiver.m_ivaEnabled = on;
    return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned int timeslot, unsigned short f1, unsigned short f2,
                                               unsigned short l1, unsigned short l2)
{
    DtmfDial rec{timeslot, f1, f2, l1, l2};
    if (Driver::Ioctl(m_event.fd(), DTMF_DIAL, &rec) < 0) {
        std::cerr << "DTMF_DIAL fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return false;
    }
    return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params)
{
    const unsigned int ts = receiver.tonec_timeslot();
    if (!init()) {
        std::cerr << "configure IVA fail: (interface not opened)"
                  << " timeslot=" << ts << std::endl;
        return false;
    }
    IvaConfigure rec{static_cast<std::int32_t>(ts), params.get_det_lvl_dB().getValue()};
    if (Driver::Ioctl(m_event.fd(), IVA_CONFIGURE_DETECTOR, &rec) < 0) {
        std::cerr << "IVA_CONFIGURE_DETECTOR fail:"
                  << " timeslot=" << ts << Tail() << std::endl;
        return false;
    }
    std::clog << "IVA_CONFIGURE_DETECTOR"
              << " ts=" << ts << " det_lvl_dB=" << rec.det_lvl_dB << std::endl;
    return true;
}

bool TonecReceiverService::translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& command)
{
    const unsigned int ts = receiver.tonec_timeslot();
    const std::string& signs = command.get_signs();
    if (signs.size() < 4) {
        std::cerr << "SELCAL_DIAL fail:"
                  << " timeslot=" << ts << " incorect signs:" << signs << std::endl;
        return false;
    }
    SelcalDial rec{};
    rec.timeslot = static_cast<std::int32_t>(ts);
    rec.amplitude =
        command.has_amp() ? static_cast<std::uint16_t>(command.get_amp().getValue()) : kSelcalAmplitude;
    std::memcpy(rec.signs, signs.data(), sizeof rec.signs);
    if (Driver::Ioctl(m_event.fd(), SELCAL_DIAL, &rec) < 0) {
        std::cerr << "SELCAL_DIAL fail:"
                  << " timeslot=" << ts << Tail() << std::endl;
        return false;
    }
    return true;
}

void TonecReceiverService::OnEvent(int fd, short revents)
{
    Detector::ReadRecords<TonecEvent>(m_event, fd, revents, "tonec", [](const TonecEvent& e) {
        std::clog << "dtmf event: " << EventFields{e} << std::endl;
        TonecReceiver* r = Detector::FindReceiver(
            receivers(), [&e](TonecReceiver& x) { return x.tonec_timeslot() == e.timeslot; });
        if (r == nullptr)
            std::cerr << "receive tonec event from unknown timeslot " << e.timeslot << std::endl;
        else if (!r->m_detectorEnabled && !r->m_ivaEnabled)
            std::clog << "ignore spurious dtmf event (DTMF disabled): " << EventFields{e} << std::endl;
        else if (r->m_detectorId == e.id)
            r->tonec_event(TonecReceiver::Params{e.code, e.timestamp});
        else
            std::clog << "ignore spurious dtmf event: " << EventFields{e} << " rid=" << r->m_detectorId
                      << std::endl;
    });
}

// ---------------------------------------------------------------- receiver

TonecReceiver::TonecReceiver()
{
    receivers().push_back(*this);
}

TonecReceiver::~TonecReceiver()
{
    Containers::CyclicList<TonecReceiver, TonecLink>::remove(*this);
}

bool TonecReceiver::configureDTMF(const LGCP::DTMFParams& params)
{
    return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::echoCancel(bool on)
{
    if (!TonecReceiverService::instance().echoCancel(tonec_timeslot(), on))
        return false;
    m_lmsOn = on;
    return true;
}

bool TonecReceiver::configureIVA(const LGCP::IVAParams& params)
{
    return TonecReceiverService::instance().configureIVA(*this, params);
}

bool TonecReceiver::translateSelcal(const TERM::SelcalCommand& command)
{
    return TonecReceiverService::instance().translateSelcal(*this, command);
}

bool TonecReceiver::enableToneGenerator(unsigned short f1, unsigned short f2, unsigned short l1,
                                        unsigned short l2)
{
    if (!TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), f1, f2, l1, l2))
        return false;
    m_generatorOn = f1 != 0 || f2 != 0 || l1 != 0 || l2 != 0;
    return true;
}

bool TonecReceiver::enableDTMF(bool on)
{
    if (!TonecReceiverService::instance().enableDTMF(*this, on))
        return false;
    m_dtmfOn = on;
    return true;
}

bool TonecReceiver::enableDTMFReject(bool on)
{
    if (!TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on))
        return false;
    m_rejectOn = on;
    return true;
}

bool TonecReceiver::enableIVA(bool on)
{
    if (!TonecReceiverService::instance().enableIVA(*this, on))
        return false;
    m_ivaOn = on;
    return true;
}

bool TonecReceiver::enableSilence()
{
    return enableToneGenerator(1000, 1000, 0, 0);
}

bool TonecReceiver::disableToneGenerator(bool force)
{
    if (!force && m_cadence != Cadence::digits)
        return false;
    // Whatever cadence runs ends here, so that no pending step switches the
    // tone on again after the generator was switched off.
    m_timer.reset();
    m_cadence = Cadence::idle;
    return enableToneGenerator(0, 0, 0, 0);
}

void TonecReceiver::translateDTMF(const LGCP::TranslateDtmfParams& params)
{
    m_digits = params;
    if (m_cadence == Cadence::digits)
        return; // the running string goes on with the new list
    m_cadence = Cadence::digits;
    NextDigit();
}

void TonecReceiver::NextDigit()
{
    auto& digits = m_digits.get_digits();
    if (digits.empty()) {
        disableToneGenerator(true);
        tone_gen_complete();
        return;
    }
    const LGCP::DualTone& tone = digits[0];
    const unsigned short l1 =
        m_digits.has_amp1() ? static_cast<unsigned short>(m_digits.get_amp1().getValue()) : kDefaultLevel;
    const unsigned short l2 =
        m_digits.has_amp2() ? static_cast<unsigned short>(m_digits.get_amp2().getValue()) : kDefaultLevel;
    enableToneGenerator(static_cast<unsigned short>(tone.get_freq1().getValue()),
                        static_cast<unsigned short>(tone.get_freq2().getValue()), l1, l2);
    digits.erase(0, 1);
    const unsigned int ms = m_digits.has_toneDuration()
                                ? static_cast<unsigned int>(m_digits.get_toneDuration().getValue())
                                : kDefaultStepMs;
    m_timer.set(ms, &TonecReceiver::DigitPause, this);
}

void TonecReceiver::DigitPause()
{
    enableSilence();
    const unsigned int ms = m_digits.has_pauseDuration()
                                ? static_cast<unsigned int>(m_digits.get_pauseDuration().getValue())
                                : kDefaultStepMs;
    m_timer.set(ms, &TonecReceiver::NextDigit, this);
}

void TonecReceiver::activateAudibleCall()
{
    // A digit string in progress ends here: left marked as running, it
    // would make every later digit request wait for a string that the
    // ring-back has replaced.
    m_cadence = Cadence::ring_back;
    RingBackOn();
}

void TonecReceiver::RingBackOn()
{
    enableToneGenerator(425, 0, 2048, 2048);
    m_timer.set(1000, &TonecReceiver::RingBackOff, this);
}

void TonecReceiver::RingBackOff()
{
    enableSilence();
    m_timer.set(3000, &TonecReceiver::RingBackOn, this);
}

void TonecReceiver::cancelAudibleCall()
{
    if (m_cadence == Cadence::digits)
        return;
    disableToneGenerator(true);
}

void TonecReceiver::StopGenerator()
{
    if (m_generatorOn || m_cadence != Cadence::idle) {
        enableSilence();
        disableToneGenerator(true);
    }
}

void TonecReceiver::LetGo()
{
    // No later request of this receiver may switch the generator off, and
    // the new receiver does not know it is on.
    StopGenerator();
    if (m_lmsOn)
        echoCancel(false);
    CleanBeforeDestroy();
    Containers::CyclicList<TonecReceiver, TonecLink>::remove(*this);
    m_timer.reset();
    m_cadence = Cadence::idle;
    m_detectorEnabled = m_ivaEnabled = false;
    m_dtmfOn = m_ivaOn = m_rejectOn = m_lmsOn = m_generatorOn = false;
}

void TonecReceiver::CleanBeforeDestroy()
{
    if (m_dtmfOn)
        disableDTMF();
    if (m_ivaOn)
        enableIVA(false);
    if (m_rejectOn)
        enableDTMFReject(false);
}

} // namespace Hardware
