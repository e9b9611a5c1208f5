#include "sim/dsp.hpp"

#include "sim/model_util.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace Sim {

namespace {

struct ConfigureRecord {
    std::uint32_t timeslot;
    std::uint32_t feature;
    unsigned char params[12];
};
struct EnableRecord {
    std::uint32_t timeslot, id, mask;
};
struct EventRecord {
    std::uint32_t timeslot, id, type;
    unsigned char payload[12];
};
static_assert(sizeof(ConfigureRecord) == Driver::RequestSize(Dsp::kConfigure));
static_assert(sizeof(EnableRecord) == Driver::RequestSize(Dsp::kEnable));
static_assert(sizeof(EnableRecord) == Driver::RequestSize(Dsp::kDisable));
static_assert(sizeof(EventRecord) == 24);
static_assert(offsetof(EventRecord, payload) == 12);

} // namespace

Dsp::Dsp() : DetectorDevice("/dev/dsp")
{}

void Dsp::Reset()
{
    ResetCommon();
    slots_.clear();
    vad_version_ = 1;
}

Dsp::Slot Dsp::Get(std::uint32_t timeslot) const
{
    auto it = slots_.find(timeslot);
    return it == slots_.end() ? Slot{} : it->second;
}

std::optional<Dsp::Params> Dsp::Config(std::uint32_t timeslot, std::uint32_t feature) const
{
    auto it = slots_.find(timeslot);
    if (it == slots_.end())
        return std::nullopt;
    auto c = it->second.config.find(feature);
    if (c == it->second.config.end())
        return std::nullopt;
    return c->second;
}

Outcome Dsp::Ioctl(std::uint32_t request, void* arg, unsigned long value)
{
    if (request == kVadVersion) {
        (void)value;
        return Outcome{vad_version_, 0, false};
    }
    if (request != kConfigure && request != kEnable && request != kDisable)
        return Outcome{-1, ENOTTY, false};
    if (arg == nullptr)
        return Outcome{-1, EFAULT, false};
    std::uint32_t ts;
    std::memcpy(&ts, arg, sizeof ts);
    int error = 0;
    if (TakeFailure(ts, error))
        return Outcome{-1, error, false};
    if (request == kConfigure) {
        ConfigureRecord r;
        std::memcpy(&r, arg, sizeof r);
        Params p;
        std::memcpy(p.data(), r.params, p.size());
        slots_[ts].config[r.feature] = p;
        return Outcome{0, 0, false};
    }
    EnableRecord r;
    std::memcpy(&r, arg, sizeof r);
    Slot& s = slots_[ts];
    if (request == kEnable) {
        s.enabled |= r.mask;
        for (std::uint32_t bit = 1; bit != 0; bit <<= 1)
            if (r.mask & bit)
                s.ids[bit] = r.id;
    } else {
        s.enabled &= ~r.mask;
    }
    return Outcome{0, 0, false};
}

int Dsp::Event(std::uint32_t timeslot, std::uint32_t id, std::uint32_t type, const void* payload)
{
    EventRecord r{timeslot, id, type, {}};
    std::memcpy(r.payload, payload, sizeof r.payload);
    return Inject(&r, sizeof r);
}

int Dsp::VadEvent(std::uint32_t timeslot, std::uint32_t id, std::uint32_t mask, std::int32_t rx,
                  std::int32_t tx)
{
    struct {
        std::uint32_t mask;
        std::int32_t rx, tx;
    } p{mask, rx, tx};
    static_assert(sizeof p == 12);
    return Event(timeslot, id, kEventVad, &p);
}

int Dsp::SdEvent(std::uint32_t timeslot, std::uint32_t id, std::int32_t rx)
{
    std::int32_t p[3] = {rx, 0, 0};
    return Event(timeslot, id, kEventSd, p);
}

int Dsp::BssEvent(std::uint32_t timeslot, std::uint32_t id, float score)
{
    static_assert(sizeof(float) == 4);
    unsigned char p[12] = {};
    std::memcpy(p, &score, sizeof score);
    return Event(timeslot, id, kEventBss, p);
}

int Dsp::ToneEvent(std::uint32_t timeslot, std::uint32_t id, std::uint32_t freq, std::uint32_t present)
{
    std::uint32_t p[3] = {freq, present, 0};
    return Event(timeslot, id, kEventTone, p);
}

int Dsp::FlagsEvent(std::uint32_t timeslot, std::uint32_t id, std::uint32_t flags, std::uint32_t mask)
{
    std::uint32_t p[3] = {flags, mask, 0};
    return Event(timeslot, id, kEventFlags, p);
}

bool Dsp::Control(const std::vector<std::string>& words, std::ostream& out)
{
    std::uint32_t v[6];
    if (words.size() == 2 && words[0] == "slot" && Util::ParseNumber(words[1], v[0])) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(Get(v[0]).enabled));
        out << "enabled " << hex << "\nok\n";
        return true;
    }
    if (words.size() == 2 && words[0] == "vad-version" && Util::ParseNumber(words[1], v[0])) {
        SetVadVersion(static_cast<int>(v[0]));
        out << "ok\n";
        return true;
    }
    if (words.size() == 7 && words[0] == "event") {
        for (int i = 0; i < 6; ++i)
            if (!Util::ParseNumber(words[i + 1], v[i]))
                return false;
        out << "ok " << Event(v[0], v[1], v[2], v + 3) << '\n';
        return true;
    }
    return false;
}

void Dsp::Help(std::ostream& out) const
{
    out << "slot TS  \"enabled 0xMASK\": the features enabled on time slot TS, then \"ok\"\n"
           "vad-version N  what the VAD version request answers\n"
           "event TS ID TYPE W0 W1 W2  one event record (payload: three 32-bit words) to read on every open; "
           "\"ok N\": opens reached\n";
}

} // namespace Sim
