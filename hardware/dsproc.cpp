#include "hardware/dsproc.hpp"

#include "core/traces.hpp"
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

using Service = DSProcReceiverService;

// DSPROC_CONFIGURE: time slot, feature, then 12 bytes that depend on the
// feature (zero unless a feature gives them).
struct DsprocConfigure {
    std::uint32_t timeslot;
    std::uint32_t feature;
    union {
        std::uint32_t words[3]; // VAD before version 2; delays rx, tx, selcal
        struct {
            std::uint16_t voice_th_msec;
            std::uint16_t silence_th_msec;
            std::uint8_t e_th_dB;
        } vad2;
        std::int8_t gain_dB;
        struct {
            std::uint16_t freq;
            std::uint8_t en;
            std::uint8_t pad;
            std::uint16_t dur_th_msec;
            std::int8_t det_lvl_dB;
        } tone;
    } p;
};
// DSPROC_ENABLE and DSPROC_DISABLE.
struct DsprocEnable {
    std::uint32_t timeslot;
    std::uint32_t id; // 0 for a disable
    std::uint32_t mask;
};
struct DsprocEvent {
    std::uint32_t timeslot;
    std::uint32_t id;
    std::uint32_t type;
    unsigned char payload[12];
};
struct VadPayload {
    std::uint32_t mask; // bit 0: rx reported, bit 1: tx reported
    std::int32_t rx;
    std::int32_t tx;
};

using Detector::Tail;
using Driver::RequestSize;
static_assert(sizeof(DsprocConfigure) == RequestSize(Service::DSPROC_CONFIGURE));
static_assert(offsetof(DsprocConfigure, p) == 8);
static_assert(offsetof(DsprocConfigure, p.vad2.silence_th_msec) == 10);
static_assert(offsetof(DsprocConfigure, p.vad2.e_th_dB) == 12);
static_assert(offsetof(DsprocConfigure, p.tone.en) == 10);
static_assert(offsetof(DsprocConfigure, p.tone.dur_th_msec) == 12);
static_assert(offsetof(DsprocConfigure, p.tone.det_lvl_dB) == 14);
static_assert(sizeof(DsprocEnable) == RequestSize(Service::DSPROC_ENABLE));
static_assert(sizeof(DsprocEnable) == RequestSize(Service::DSPROC_DISABLE));
static_assert(sizeof(DsprocEvent) == 24);
static_assert(sizeof(VadPayload) == 12);

constexpr int kVadVersion2 = 2;

Containers::CyclicList<DSProcReceiver, DSProcLink>& receivers()
{
    static Containers::CyclicList<DSProcReceiver, DSProcLink> list;
    return list;
}

bool Traced()
{
    return traces[TraceCtl::signalling_events];
}

struct EventFields {
    const DsprocEvent& e;
};
std::ostream& operator<<(std::ostream& os, EventFields f)
{
    return os << " timeslot=" << f.e.timeslot << " id=" << f.e.id << " type=" << f.e.type;
}

template <class P>
P Payload(const DsprocEvent& e)
{
    P p;
    std::memcpy(&p, e.payload, sizeof p);
    return p;
}

} // namespace

// ---------------------------------------------------------------- service

constexpr Detector::DriverOpen kDriver{
    &GetDSPDevName, O_RDWR | O_NONBLOCK | O_CLOEXEC,
    "open dsproc fail, VAD proceeding disabled: ", "DSProcReceiverService::OnEvent"};

DSProcReceiverService::DSProcReceiverService() : DriverService(kDriver)
{
    init();
}

bool DSProcReceiverService::configureVAD(unsigned int timeslot, const LGCP::VADParams& params)
{
    if (!init()) {
        std::cerr << "configure VAD fail: (interface not opened)"
                  << " timeslot=" << timeslot << std::endl;
        return false;
    }
    DsprocConfigure rec{};
    rec.timeslot = timeslot;
    rec.feature = kVAD;
    const int version = Driver::IoctlValue(m_event.fd(), DSPROC_VAD_VERSION, 0);
    if (version == kVadVersion2) {
        if (!params.is_v2()) {
            std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: "
                      << " timeslot=" << timeslot << std::endl;
            return false;
        }
        const auto& v2 = params.get_v2();
        rec.p.vad2.voice_th_msec = static_cast<std::uint16_t>(v2.get_voice_th_msec().getValue());
        rec.p.vad2.silence_th_msec = static_cast<std::uint16_t>(v2.get_silence_th_msec().getValue());
        rec.p.vad2.e_th_dB = static_cast<std::uint8_t>(v2.get_e_th_dB().getValue());
    } else {
        rec.p.words[0] = 3;
        rec.p.words[1] = 127;
        rec.p.words[2] = 0;
    }
    if (Driver::Ioctl(m_event.fd(), DSPROC_CONFIGURE, &rec) < 0) {
        std::cerr << "DSPROC_CONFIGURE VAD fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return false;
    }
    std::clog << "DSPROC_CONFIGURE VAD"
              << " ts=" << timeslot << std::endl;
    return true;
}

bool DSProcReceiverService::configureSD(unsigned int timeslot)
{
    if (!init()) {
        std::cerr << "configure SD fail: (interface not opened)"
                  << " timeslot=" << timeslot << std::endl;
        return false;
    }
    DsprocConfigure rec{};
    rec.timeslot = timeslot;
    rec.feature = kSD;
    if (Driver::Ioctl(m_event.fd(), DSPROC_CONFIGURE, &rec) < 0) {
        std::cerr << "DSPROC_CONFIGURE SD fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return false;
    }
    std::clog << "DSPROC_CONFIGURE SD"
              << " ts=" << timeslot << std::endl;
    return true;
}

void DSProcReceiverService::configureDelays(unsigned int timeslot, unsigned int rx, unsigned int tx,
                                            unsigned int selcal)
{
    if (!init()) {
        std::cerr << "configure Delays fail: (interface not opened)"
                  << " timeslot=" << timeslot << std::endl;
        return;
    }
    DsprocConfigure rec{};
    rec.timeslot = timeslot;
    rec.feature = kDelays;
    rec.p.words[0] = rx;
    rec.p.words[1] = tx;
    rec.p.words[2] = selcal;
    if (Driver::Ioctl(m_event.fd(), DSPROC_CONFIGURE, &rec) < 0) {
        std::cerr << "DSPROC_CONFIGURE DELAYS fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return;
    }
    std::clog << "DSPROC_CONFIGURE DELAYS"
              << " ts=" << timeslot << " rx=" << rx << " tx=" << tx << " selcal=" << selcal << std::endl;
}

void DSProcReceiverService::configureRxGain(unsigned int timeslot, std::int8_t gain_dB)
{
    if (!init()) {
        std::cerr << "Configure Rx gain fail: (interface not opened)"
                  << " timeslot=" << timeslot << std::endl;
        return;
    }
    DsprocConfigure rec{};
    rec.timeslot = timeslot;
    rec.feature = kRxGain;
    rec.p.gain_dB = gain_dB;
    if (Driver::Ioctl(m_event.fd(), DSPROC_CONFIGURE, &rec) < 0) {
        std::cerr << "DSPROC_CONFIGURE Rx Gain fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return;
    }
    std::clog << "DSPROC_CONFIGURE RX GAIN"
              << " ts=" << timeslot << " gain_dB=" << static_cast<int>(gain_dB) << std::endl;
}

void DSProcReceiverService::configureToneFilter(unsigned int timeslot, unsigned int freq, unsigned int en,
                                                int dur_th_msec, int det_lvl_dB)
{
    if (!init()) {
        std::cerr << "Configure Tone Filter fail: (interface not opened)"
                  << " timeslot=" << timeslot << std::endl;
        return;
    }
    DsprocConfigure rec{};
    rec.timeslot = timeslot;
    rec.feature = kToneFilter;
    rec.p.tone.freq = static_cast<std::uint16_t>(freq);
    rec.p.tone.en = static_cast<std::uint8_t>(en);
    rec.p.tone.dur_th_msec = static_cast<std::uint16_t>(dur_th_msec);
    rec.p.tone.det_lvl_dB = static_cast<std::int8_t>(det_lvl_dB);
    if (Driver::Ioctl(m_event.fd(), DSPROC_CONFIGURE, &rec) < 0) {
        std::cerr << "DSPROC_CONFIGURE Tone Filter fail:"
                  << " timeslot=" << timeslot << Tail() << std::endl;
        return;
    }
    std::clog << "DSPROC_CONFIGURE TONE FILTER"
              << " ts=" << timeslot << " freq=" << freq << ", en=" << en << ", dur_th_msec=" << dur_th_msec
              << ", det_lvl_dB=" << det_lvl_dB << std::endl;
}

bool DSProcReceiverService::EnableFeature(DSProcReceiver& receiver, DSProcReceiver::Feature& feature,
                                          std::uint32_t mask, const char* name, bool on)
{
    if (feature.state >= 0 && (feature.state != 0) == on)
        return true;
    const unsigned int ts = receiver.dsproc_timeslot();
    if (on) {
        DsprocEnable rec{ts, NextId(), mask};
        if (Driver::Ioctl(m_event.fd(), DSPROC_ENABLE, &rec) < 0) {
            std::cerr << "DSPROC_ENABLE " << name << " fail:"
                      << " timeslot=" << ts << " id=" << rec.id << Tail() << std::endl;
            return false;
        }
        feature.id = rec.id;
        feature.state = 1;
        std::cerr << "DSPROC_ENABLE " << name << " done:"
                  << " timeslot=" << ts << " id=" << rec.id << std::endl;
        return true;
    }
    DsprocEnable rec{ts, 0, mask};
    if (Driver::Ioctl(m_event.fd(), DSPROC_DISABLE, &rec) < 0) {
        std::cerr << "DSPROC_DISABLE " << name << " fail:"
                  << " timeslot=" << ts << Tail() << std::endl;
        return false;
    }
    feature.state = 0;
    std::cerr << "DSPROC_DISABLE " << name << " done:"
              << " timeslot=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& r, bool on)
{
    return EnableFeature(r, r.m_vad, kVAD, "VAD", on);
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& r, bool on)
{
    return EnableFeature(r, r.m_bss, kBSS, "BSS", on);
}

bool DSProcReceiverService::enableNG(DSProcReceiver& r, bool on)
{
    return EnableFeature(r, r.m_ng, kNG, "NG", on);
}

bool DSProcReceiverService::enableSelcalSh(DSProcReceiver& r, bool on)
{
    return EnableFeature(r, r.m_selcalSh, kSelcalSh, "SELCAL_SH", on);
}

bool DSProcReceiverService::enableSh(DSProcReceiver& r, bool on)
{
    return EnableFeature(r, r.m_sh, kSh, "SH", on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& r, bool on)
{
    return EnableFeature(r, r.m_sd, kSD, "SD", on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& r, bool first, bool second)
{
    if (r.m_muteFirst >= 0 && r.m_muteSecond >= 0 && (r.m_muteFirst != 0) == first &&
        (r.m_muteSecond != 0) == second)
        return true;
    const unsigned int ts = r.dsproc_timeslot();
    if (!first && !second) {
        DsprocEnable rec{ts, 0, kMuteFirst | kMuteSecond};
        if (Driver::Ioctl(m_event.fd(), DSPROC_DISABLE, &rec) < 0) {
            std::cerr << "DSPROC_DISABLE MUTE fail:"
                      << " timeslot=" << ts << Tail() << std::endl;
            return false;
        }
        r.m_muteFirst = r.m_muteSecond = 0;
        std::cerr << "DSPROC_DISABLE MUTE done:"
                  << " timeslot=" << ts << std::endl;
        return true;
    }
    DsprocEnable rec{ts, NextId(), (first ? kMuteFirst : 0u) | (second ? kMuteSecond : 0u)};
    if (Driver::Ioctl(m_event.fd(), DSPROC_ENABLE, &rec) < 0) {
        std::cerr << "DSPROC_ENABLE MUTE fail:"
                  << " timeslot=" << ts << " id=" << rec.id << Tail() << std::endl;
        return false;
    }
    r.m_muteId = rec.id;
    r.m_muteFirst = first ? 1 : 0;
    r.m_muteSecond = second ? 1 : 0;
    std::cerr << "DSPROC_ENABLE MUTE done:"
              << " timeslot=" << ts << " id=" << rec.id << std::endl;
    return true;
}

void DSProcReceiverService::disableToneAll(DSProcReceiver& r)
{
    const unsigned int ts = r.dsproc_timeslot();
    if (!init()) {
        std::cerr << "Disable All Tone fail: (interface not opened)"
                  << " timeslot=" << ts << std::endl;
        return;
    }
    DsprocEnable rec{ts, 0, kToneFilter};
    if (Driver::Ioctl(m_event.fd(), DSPROC_DISABLE, &rec) < 0) {
        std::cerr << "Disable All Tone fail:"
                  << " timeslot=" << ts << Tail() << std::endl;
        return;
    }
    std::clog << "DISABLE ALL TONE done: "
              << " ts=" << ts << std::endl;
}

void DSProcReceiverService::OnEvent(int fd, short revents)
{
    Detector::ReadRecords<DsprocEvent>(m_event, fd, revents, "dsproc", [](const DsprocEvent& e) {
        const bool traced = Traced();
        if (traced) {
            std::clog << "dsproc event: " << EventFields{e} << std::endl;
            if (e.type == kEventVAD) {
                auto v = Payload<VadPayload>(e);
                std::clog << "dsproc vad event: "
                          << " dir_mask=" << v.mask << " vad_rx=" << v.rx << " vad_tx=" << v.tx << std::endl;
            } else if (e.type == kEventSD) {
                std::clog << "dsproc sd event: "
                          << " sd_rx=" << Payload<std::int32_t>(e) << std::endl;
            } else if (e.type == kEventBSS) {
                std::clog << "dsproc bss event: "
                          << " score=" << Payload<dsproc_bss_event>(e).score << std::endl;
            } else if (e.type == kEventFlags) {
                auto f = Payload<dsproc_flags_event>(e);
                std::clog << "dsproc flags event: " << std::hex << " flags=" << f.flags << ", mask=" << f.mask
                          << std::dec << std::endl;
            }
        }
        DSProcReceiver* found = Detector::FindReceiver(
            receivers(), [&e](DSProcReceiver& r) { return r.dsproc_timeslot() == e.timeslot; });
        if (found == nullptr) {
            if (traced)
                std::cerr << "receive dsproc event from unknown timeslot " << e.timeslot << std::endl;
            return;
        }
        DSProcReceiver& r = *found;
        switch (e.type) {
        case kEventVAD:
            if (r.m_vad.state == 0) {
                if (traced)
                    std::clog << "ignore spurious dsproc vad event (dsproc disabled): " << EventFields{e}
                              << std::endl;
            } else if (r.m_vad.id == e.id) {
                auto v = Payload<VadPayload>(e);
                r.dsproc_vad_event(DSProcVADEvent{(v.mask & 1) ? v.rx : -1, (v.mask & 2) ? v.tx : -1});
            } else if (traced) {
                std::clog << "ignore spurious dsproc vad event: " << EventFields{e} << " rid=" << r.m_vad.id
                          << std::endl;
            }
            break;
        case kEventSD:
            if (r.m_sd.state != 0 && r.m_sd.id == e.id)
                r.dsproc_sd_event(DSProcSDEvent{Payload<std::int32_t>(e)});
            break;
        case kEventBSS:
            if (r.m_bss.state == 0) {
                if (traced)
                    std::clog << "ignore spurious dsproc bss event (dsproc disabled): " << EventFields{e}
                              << std::endl;
            } else {
                auto b = Payload<dsproc_bss_event>(e);
                r.dsproc_bss_event(&b);
            }
            break;
        case kEventTone: {
            auto t = Payload<dsproc_tone_event>(e);
            r.dsproc_tone_flt_event(&t);
            break;
        }
        case kEventFlags: {
            auto f = Payload<dsproc_flags_event>(e);
            r.dsproc_flags_event(&f);
            break;
        }
        default:
            break;
        }
    });
}

// ---------------------------------------------------------------- receiver

DSProcReceiver::DSProcReceiver()
{
    receivers().push_back(*this);
}

DSProcReceiver::~DSProcReceiver()
{
    Containers::CyclicList<DSProcReceiver, DSProcLink>::remove(*this);
}

bool DSProcReceiver::configureVAD(const LGCP::VADParams& params)
{
    return DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::configureSD()
{
    return DSProcReceiverService::instance().configureSD(dsproc_timeslot());
}

bool DSProcReceiver::enableVAD(bool on)
{
    return DSProcReceiverService::instance().enableVAD(*this, on);
}

bool DSProcReceiver::enableBSS(bool on)
{
    return DSProcReceiverService::instance().enableBSS(*this, on);
}

bool DSProcReceiver::enableNG(bool on)
{
    return DSProcReceiverService::instance().enableNG(*this, on);
}

bool DSProcReceiver::enableSelcalSh(bool on)
{
    return DSProcReceiverService::instance().enableSelcalSh(*this, on);
}

bool DSProcReceiver::enableSh(bool on)
{
    return DSProcReceiverService::instance().enableSh(*this, on);
}

bool DSProcReceiver::enableSD(bool on)
{
    return DSProcReceiverService::instance().enableSD(*this, on);
}

bool DSProcReceiver::enableMute(bool first, bool second)
{
    return DSProcReceiverService::instance().enableMute(*this, first, second);
}

void DSProcReceiver::configureDelays(unsigned int rx, unsigned int tx, unsigned int selcal)
{
    m_delaysSet = rx != 0 || tx != 0 || selcal != 0;
    DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx, selcal);
}

void DSProcReceiver::configureRxGain(std::int8_t gain_dB)
{
    m_rxGainSet = gain_dB != 0;
    DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gain_dB);
}

void DSProcReceiver::configureToneFilter(unsigned int freq, unsigned int en, int dur_th_msec, int det_lvl_dB)
{
    DSProcReceiverService::instance().configureToneFilter(dsproc_timeslot(), freq, en, dur_th_msec,
                                                          det_lvl_dB);
}

void DSProcReceiver::disableToneAll()
{
    DSProcReceiverService::instance().disableToneAll(*this);
}

void DSProcReceiver::LetGo()
{
    CleanBeforeDestroy();
    if (m_sd.state > 0)
        disableSD();
    if (m_muteFirst > 0 || m_muteSecond > 0)
        disableMute();
    Containers::CyclicList<DSProcReceiver, DSProcLink>::remove(*this);
    m_vad = m_sd = Feature{-1, 0};
    m_bss = m_ng = m_selcalSh = m_sh = Feature{0, 0};
    m_muteFirst = m_muteSecond = -1;
    m_muteId = 0;
    m_delaysSet = m_rxGainSet = false;
}

void DSProcReceiver::CleanBeforeDestroy()
{
    if (m_vad.state > 0)
        disableVAD();
    if (m_bss.state > 0)
        disableBSS();
    if (m_ng.state > 0)
        disableNG();
    if (m_selcalSh.state > 0)
        disableSelcalSh();
    if (m_sh.state > 0)
        disableSh();
    if (m_delaysSet)
        configureDelays(0, 0, 0);
    if (m_rxGainSet)
        configureRxGain(0);
    disableToneAll();
}

} // namespace Hardware
