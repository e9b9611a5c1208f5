#include "sim/dtmf.hpp"

#include "sim/model_util.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ostream>

namespace Sim {

namespace {

// The driver's records, as the board's driver declares them.
struct ConfigureRecord {
    std::uint32_t timeslot, twist, ratio, silence, noise;
};
struct EnableRecord {
    std::uint32_t timeslot, id;
};
struct DialRecord {
    std::uint32_t timeslot;
    std::uint16_t f1, f2, l1, l2;
};
struct IvaRecord {
    std::int32_t timeslot, level;
};
struct SelcalRecord {
    std::int32_t timeslot;
    std::uint16_t amp;
    char signs[4];
    unsigned char pad[2];
};
struct EventRecord {
    std::uint32_t code, timeslot, timestamp, id;
};
static_assert(sizeof(ConfigureRecord) == Driver::RequestSize(Dtmf::kConfigure));
static_assert(sizeof(EnableRecord) == Driver::RequestSize(Dtmf::kEnable));
static_assert(sizeof(DialRecord) == Driver::RequestSize(Dtmf::kDial));
static_assert(offsetof(DialRecord, l2) == 10);
static_assert(sizeof(IvaRecord) == Driver::RequestSize(Dtmf::kIvaConfigure));
static_assert(sizeof(SelcalRecord) == Driver::RequestSize(Dtmf::kSelcal));
static_assert(offsetof(SelcalRecord, signs) == 6);
static_assert(sizeof(EventRecord) == 16);

using Util::Take;

} // namespace

Dtmf::Dtmf() : DetectorDevice("/dev/dtmf")
{}

void Dtmf::Reset()
{
    ResetCommon();
    slots_.clear();
    dials_.clear();
}

Dtmf::Slot Dtmf::Get(std::uint32_t timeslot) const
{
    auto it = slots_.find(timeslot);
    return it == slots_.end() ? Slot{} : it->second;
}

bool Dtmf::TakesValue(std::uint32_t request) const
{
    switch (request) {
    case kDisable:
    case kLmsOn:
    case kLmsOff:
    case kRejectionOn:
    case kRejectionOff:
    case kIvaOn:
    case kIvaOff:
        return true;
    default:
        return false;
    }
}

Outcome Dtmf::Ioctl(std::uint32_t request, void* arg, unsigned long value)
{
    // The time slot: the first word of the record, or the value itself.
    std::uint32_t ts = static_cast<std::uint32_t>(value);
    switch (request) {
    case kConfigure:
    case kEnable:
    case kDial:
    case kIvaConfigure:
    case kSelcal:
        if (arg == nullptr)
            return Outcome{-1, EFAULT, false};
        std::memcpy(&ts, arg, sizeof ts);
        break;
    default:
        if (!TakesValue(request))
            return Outcome{-1, ENOTTY, false};
    }
    int error = 0;
    if (TakeFailure(ts, error))
        return Outcome{-1, error, false};
    Slot& s = slots_[ts];
    switch (request) {
    case kConfigure: {
        auto r = Take<ConfigureRecord>(arg);
        s.configured = true;
        s.twist = r.twist;
        s.ratio = r.ratio;
        s.silence = r.silence;
        s.noise = r.noise;
        break;
    }
    case kEnable: {
        auto r = Take<EnableRecord>(arg);
        s.detector = true;
        s.id = r.id;
        break;
    }
    case kDisable:
        s.detector = false;
        break;
    case kDial: {
        auto r = Take<DialRecord>(arg);
        s.tone[0] = r.f1;
        s.tone[1] = r.f2;
        s.tone[2] = r.l1;
        s.tone[3] = r.l2;
        dials_.push_back(Dial{Now(), ts, r.f1, r.f2, r.l1, r.l2});
        break;
    }
    case kLmsOn:
    case kLmsOff:
        s.lms = request == kLmsOn;
        break;
    case kRejectionOn:
    case kRejectionOff:
        s.rejection = request == kRejectionOn;
        break;
    case kIvaOn:
    case kIvaOff:
        s.iva = request == kIvaOn;
        break;
    case kIvaConfigure: {
        auto r = Take<IvaRecord>(arg);
        s.iva_configured = true;
        s.iva_level = r.level;
        break;
    }
    case kSelcal: {
        auto r = Take<SelcalRecord>(arg);
        s.selcal_amp = r.amp;
        s.selcal_signs.assign(r.signs, sizeof r.signs);
        std::memcpy(s.selcal_pad, r.pad, sizeof r.pad);
        break;
    }
    }
    return Outcome{0, 0, false};
}

int Dtmf::Event(std::uint32_t timeslot, std::uint32_t code, std::uint32_t timestamp, std::uint32_t id)
{
    EventRecord r{code, timeslot, timestamp, id};
    return Inject(&r, sizeof r);
}

bool Dtmf::Control(const std::vector<std::string>& words, std::ostream& out)
{
    std::uint32_t v[4];
    if (words.size() == 2 && words[0] == "slot" && Util::ParseNumber(words[1], v[0])) {
        Slot s = Get(v[0]);
        out << "detector " << (s.detector ? "on" : "off") << " id " << s.id << " lms " << s.lms
            << " rejection " << s.rejection << " iva " << s.iva << " tone " << s.tone[0] << ' ' << s.tone[1]
            << ' ' << s.tone[2] << ' ' << s.tone[3] << '\n'
            << "ok\n";
        return true;
    }
    if (words.size() == 1 && words[0] == "dials") {
        for (const Dial& d : dials_)
            out << d.ms << ' ' << d.timeslot << ' ' << d.f1 << ' ' << d.f2 << ' ' << d.l1 << ' ' << d.l2
                << '\n';
        out << "ok " << dials_.size() << '\n';
        return true;
    }
    if (words.size() == 5 && words[0] == "event") {
        for (int i = 0; i < 4; ++i)
            if (!Util::ParseNumber(words[i + 1], v[i]))
                return false;
        out << "ok " << Event(v[0], v[1], v[2], v[3]) << '\n';
        return true;
    }
    return false;
}

void Dtmf::Help(std::ostream& out) const
{
    out << "slot TS  the state of time slot TS in one line, then \"ok\"\n"
           "dials  one line per generator request \"MS TS F1 F2 L1 L2\", then \"ok N\"\n"
           "event TS CODE TIMESTAMP ID  one event record to read on every open; \"ok N\": opens reached\n";
}

} // namespace Sim
