#include "sim/mixer.hpp"

#include "sim/model_util.hpp"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <ostream>

namespace Sim {

namespace {

// The driver's records, as the board's driver declares them.
struct SlotRecord {
    std::int32_t dev_no, type, number;
};
struct RxRecord {
    SlotRecord rx, tx;
    std::int32_t gain;
};
struct UnitRecord {
    std::int32_t unit, tdm, reserved, inputs;
};
static_assert(sizeof(SlotRecord) == Driver::RequestSize(MixerDev::kRxClear));
static_assert(sizeof(SlotRecord) == Driver::RequestSize(MixerDev::kTdm));
static_assert(sizeof(RxRecord) == Driver::RequestSize(MixerDev::kRxAdd));
static_assert(sizeof(RxRecord) == Driver::RequestSize(MixerDev::kRxRemove));
static_assert(offsetof(RxRecord, gain) == 24);
static_assert(sizeof(UnitRecord) == Driver::RequestSize(MixerDev::kUnitInfo));

using Util::Take;

} // namespace

MixerDev::MixerDev() : Device("/dev/mixer")
{
    Reset();
}

void MixerDev::Reset()
{
    // Fully equipped: two units of equal size.
    units_ = {Unit{0, 32, 16}, Unit{1, 32, 16}};
    forever_ = false;
    forever_counts_ = Unit{};
    sums_.clear();
    timeslots_.clear();
}

void MixerDev::AddUnit(Unit const& unit)
{
    for (Unit& u : units_)
        if (u.unit == unit.unit) {
            u = unit;
            return;
        }
    units_.push_back(unit);
}

void MixerDev::RemoveUnit(std::int32_t unit)
{
    units_.erase(std::remove_if(units_.begin(), units_.end(), [&](Unit const& u) { return u.unit == unit; }),
                 units_.end());
}

void MixerDev::Forever(bool on, std::int32_t tdm, std::int32_t inputs)
{
    forever_ = on;
    forever_counts_ = Unit{0, tdm, inputs};
}

const MixerDev::Unit* MixerDev::Find(std::int32_t unit) const
{
    for (const Unit& u : units_)
        if (u.unit == unit)
            return &u;
    return nullptr;
}

bool MixerDev::Valid(std::int32_t unit, std::int32_t type, std::int32_t channel) const
{
    const Unit* u = Find(unit);
    std::int32_t tdm = u != nullptr ? u->tdm : (forever_ && unit >= 0 ? forever_counts_.tdm : -1);
    return type == 0 && channel >= 0 && channel < tdm;
}

std::vector<MixerDev::Source> MixerDev::Sources(std::int32_t unit, std::int32_t point) const
{
    auto it = sums_.find({unit, point});
    return it == sums_.end() ? std::vector<Source>{} : it->second;
}

std::vector<std::string> MixerDev::Sums(std::int32_t unit) const
{
    std::vector<std::string> lines;
    for (const auto& [key, sources] : sums_) {
        if (key.first != unit || sources.empty())
            continue;
        // Appended piece by piece: g++ 12 at -O3 sees a false overlap in
        // `" " + std::to_string(...)` (-Wrestrict).
        std::string line = std::to_string(key.second);
        line += ':';
        for (const Source& s : sources) {
            line += ' ';
            line += std::to_string(s.unit);
            line += '.';
            line += std::to_string(s.channel);
            line += '@';
            line += std::to_string(s.gain);
        }
        lines.push_back(line);
    }
    return lines;
}

int MixerDev::Timeslot(std::int32_t unit, std::int32_t channel) const
{
    auto it = timeslots_.find({unit, channel});
    return it == timeslots_.end() ? -1 : static_cast<int>(it->second);
}

Outcome MixerDev::Ioctl(std::uint32_t request, void* arg, unsigned long)
{
    if (arg == nullptr)
        return Util::Fail(EFAULT);
    switch (request) {
    case kUnitInfo: {
        auto r = Take<UnitRecord>(arg);
        std::optional<Unit> next;
        if (r.unit == -1) {
            if (!units_.empty())
                next = units_.front();
        } else {
            auto it =
                std::find_if(units_.begin(), units_.end(), [&](Unit const& u) { return u.unit == r.unit; });
            if (it != units_.end() && it + 1 != units_.end())
                next = *(it + 1);
            else if (it == units_.end() && !forever_)
                return Util::Fail(ENODEV); // the walk lost its place
        }
        if (!next && forever_ && r.unit != INT32_MAX) {
            next = forever_counts_;
            next->unit = r.unit + 1;
        }
        if (!next)
            return Util::Fail(ENODEV);
        r.unit = next->unit;
        r.tdm = next->tdm;
        r.inputs = next->inputs;
        std::memcpy(arg, &r, sizeof r);
        return Outcome{};
    }
    case kTdm: {
        auto s = Take<SlotRecord>(arg);
        if (!Valid(s.dev_no, s.type, s.number))
            return Util::Fail(EINVAL);
        auto key = std::make_pair(s.dev_no, s.number);
        auto it = timeslots_.find(key);
        if (it == timeslots_.end()) {
            if (timeslots_.size() >= kTimeslots)
                return Util::Fail(ENOSPC);
            it =
                timeslots_.emplace(key, kFirstTimeslot + static_cast<std::uint32_t>(timeslots_.size())).first;
        }
        return Outcome{static_cast<int>(it->second), 0, false};
    }
    case kRxClear: {
        auto s = Take<SlotRecord>(arg);
        if (!Valid(s.dev_no, s.type, s.number))
            return Util::Fail(EINVAL);
        sums_.erase({s.dev_no, s.number});
        return Outcome{};
    }
    case kRxAdd:
    case kRxRemove: {
        auto r = Take<RxRecord>(arg);
        if (!Valid(r.rx.dev_no, r.rx.type, r.rx.number) || !Valid(r.tx.dev_no, r.tx.type, r.tx.number))
            return Util::Fail(EINVAL);
        auto& sources = sums_[{r.rx.dev_no, r.rx.number}];
        auto same = [&](Source const& s) { return s.unit == r.tx.dev_no && s.channel == r.tx.number; };
        auto it = std::find_if(sources.begin(), sources.end(), same);
        if (request == kRxAdd) {
            if (it != sources.end())
                it->gain = r.gain;
            else
                sources.push_back(Source{r.tx.dev_no, r.tx.number, r.gain});
            return Outcome{};
        }
        if (it == sources.end())
            return Util::Fail(ENOENT);
        sources.erase(it);
        return Outcome{};
    }
    default:
        return Util::Fail(ENOTTY);
    }
}

bool MixerDev::Control(const std::vector<std::string>& words, std::ostream& out)
{
    std::int32_t v[3];
    if (words.size() == 5 && words[0] == "unit" && words[1] == "add") {
        for (int i = 0; i < 3; ++i)
            if (!Util::ParseSigned(words[i + 2], v[i]))
                return false;
        AddUnit(Unit{v[0], v[1], v[2]});
        out << "ok\n";
        return true;
    }
    if (words.size() == 3 && words[0] == "unit" && words[1] == "remove" &&
        Util::ParseSigned(words[2], v[0])) {
        RemoveUnit(v[0]);
        out << "ok\n";
        return true;
    }
    if (words.size() == 1 && words[0] == "units") {
        for (const Unit& u : units_)
            out << u.unit << ' ' << u.tdm << ' ' << u.inputs << '\n';
        out << "ok " << units_.size() << '\n';
        return true;
    }
    if (words.size() == 2 && words[0] == "forever" && (words[1] == "on" || words[1] == "off")) {
        Forever(words[1] == "on");
        out << "ok\n";
        return true;
    }
    if (words.size() == 4 && words[0] == "forever" && words[1] == "on" && Util::ParseSigned(words[2], v[0]) &&
        Util::ParseSigned(words[3], v[1])) {
        Forever(true, v[0], v[1]);
        out << "ok\n";
        return true;
    }
    if (words.size() == 2 && words[0] == "sums" && Util::ParseSigned(words[1], v[0])) {
        auto lines = Sums(v[0]);
        for (const auto& l : lines)
            out << l << '\n';
        out << "ok " << lines.size() << '\n';
        return true;
    }
    if (words.size() == 3 && words[0] == "timeslot" && Util::ParseSigned(words[1], v[0]) &&
        Util::ParseSigned(words[2], v[1])) {
        out << "ok " << Timeslot(v[0], v[1]) << '\n';
        return true;
    }
    return false;
}

void MixerDev::Help(std::ostream& out) const
{
    out << "unit add U TDM INPUTS  unit U with TDM channels and INPUTS mixer inputs (replaces U, else joins "
           "the "
           "end of the list)\n"
           "unit remove U  unit U leaves the list\n"
           "units  one line per unit \"U TDM INPUTS\", then \"ok N\"\n"
           "forever on [TDM INPUTS]|off  after the last unit, answer the next number for ever (32 16)\n"
           "sums U  one line per receiving point of unit U \"POINT: UNIT.CHANNEL@GAIN ...\", then \"ok N\"\n"
           "timeslot U C  \"ok T\": the switch channel of channel C of unit U, -1 when never asked\n";
}

} // namespace Sim
