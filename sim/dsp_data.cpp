#include "sim/dsp_data.hpp"

#include "sim/mcc.hpp"
#include "sim/model_util.hpp"

#include <cerrno>
#include <ostream>

namespace Sim {

namespace {

using Util::Fail;

struct BRecord {
    std::int32_t index;
    std::int32_t timeslot;
};
static_assert(sizeof(BRecord) == Driver::RequestSize(DspData::kAddB));
static_assert(sizeof(BRecord) == Driver::RequestSize(DspData::kRemoveB));
static_assert(Driver::RequestSize(DspData::kTimeslot) == 4);

} // namespace

DspData::DspData(Mcc& mcc) : Device("/dev/dsp-data"), mcc_(mcc)
{}

Outcome DspData::Ioctl(std::uint32_t, void*, unsigned long)
{
    return Fail(ENOTTY); // every request belongs to an open (IoctlOn)
}

void DspData::ForgetDead()
{
    for (auto it = lines_.begin(); it != lines_.end();) {
        if (Util::ProgramGone(it->first)) {
            mcc_.DetachChannel(it->first);
            it = lines_.erase(it);
        } else {
            ++it;
        }
    }
}

void DspData::Opened(int open, int program)
{
    ForgetDead();
    Line line;
    for (std::uint32_t ts = kFirstSlot; ts < kFirstSlot + kSlots && !line.has_slot; ++ts) {
        bool taken = false;
        for (const auto& [fd, l] : lines_)
            taken = taken || (l.has_slot && l.timeslot == ts);
        if (!taken) {
            line.has_slot = true;
            line.timeslot = ts;
        }
    }
    lines_[open] = line;
    if (line.has_slot)
        mcc_.AttachChannel(open, program, line.timeslot);
}

void DspData::Closed(int open)
{
    lines_.erase(open);
    mcc_.DetachChannel(open);
}

void DspData::Reset()
{
    lines_.clear();
    unset_ = 0;
}

Outcome DspData::IoctlOn(int open, std::uint32_t request, void* arg, unsigned long)
{
    auto it = lines_.find(open);
    if (it == lines_.end())
        return Fail(EBADF);
    Line& line = it->second;
    if (request == kTimeslot) {
        if (!line.has_slot)
            return Fail(ENOSPC);
        Util::SetWord(arg, 0, line.timeslot);
        return Outcome{static_cast<int>(line.timeslot), 0, false};
    }
    if (request != kAddB && request != kRemoveB)
        return Fail(ENOTTY);
    if (!line.has_slot)
        return Fail(ENODEV);
    BRecord rec = Util::Take<BRecord>(arg);
    if (rec.index < 0 || rec.index >= static_cast<std::int32_t>(kBChannels))
        return Fail(EINVAL);
    bool& held = line.held[rec.index];
    if (request == kRemoveB) {
        if (!held)
            return Fail(EINVAL);
        held = false;
        return Outcome{0, 0, false};
    }
    if (held)
        return Fail(EBUSY);
    held = true;
    if (unset_ > 0) {
        --unset_;
        return Outcome{0, 0, false};
    }
    const std::uint32_t b =
        kFirstB + 3 * (line.timeslot - kFirstSlot) + static_cast<std::uint32_t>(rec.index);
    Util::SetWord(arg, 1, b);
    return Outcome{0, 0, false};
}

std::vector<DspData::BChannel> DspData::BChannels()
{
    ForgetDead();
    std::vector<BChannel> out;
    for (const auto& [fd, line] : lines_)
        for (unsigned int i = 0; i < kBChannels; ++i)
            if (line.held[i])
                out.push_back({line.timeslot, i, kFirstB + 3 * (line.timeslot - kFirstSlot) + i});
    return out;
}

bool DspData::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.empty())
        return false;
    const std::string& verb = words[0];
    std::uint32_t n = 0;
    if (verb == "slots" && words.size() == 1) {
        ForgetDead();
        auto channels = mcc_.Controllers(true);
        for (const auto& [ts, c] : channels)
            out << ts << " written " << c.written << " delivered " << c.delivered << '\n';
        out << "ok " << channels.size() << '\n';
        return true;
    }
    if (verb == "bchannels" && words.size() == 1) {
        auto held = BChannels();
        for (const BChannel& b : held)
            out << b.line << ' ' << b.index << ' ' << b.timeslot << '\n';
        out << "ok " << held.size() << '\n';
        return true;
    }
    if (verb == "pump" && words.size() == 1) {
        out << "ok " << mcc_.Pump() << '\n';
        return true;
    }
    if ((verb == "eof" || verb == "error") && words.size() == 2 && Util::ParseNumber(words[1], n)) {
        ForgetDead();
        bool ours = false;
        for (const auto& [fd, line] : lines_)
            ours = ours || (line.has_slot && line.timeslot == n);
        bool done = ours && (verb == "eof" ? mcc_.Eof(n) : mcc_.ReadError(n));
        out << (done ? "ok\n" : "error no D channel on that time slot\n");
        return true;
    }
    return false;
}

void DspData::Help(std::ostream& out) const
{
    out << "slots  one line per D channel \"TS written W delivered D\", then \"ok N\"\n"
           "bchannels  one line per B channel held \"DTS INDEX TS\", then \"ok N\"\n"
           "pump  \"ok N\": moves the N frames the programs wrote along the switch (as /dev/mcc/ctl pump)\n"
           "eof TS  the program's next read of the D channel at time slot TS sees end of file\n"
           "error TS  the program's next read fails (ECONNRESET), every later one sees end of file\n";
}

} // namespace Sim
