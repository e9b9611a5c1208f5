#include "sim/e1.hpp"

#include "sim/model_util.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <ostream>

namespace Sim {

namespace {

// A number no larger than `limit`.
bool Number(const std::string& text, unsigned long limit, std::uint32_t& out)
{
    return Util::ParseNumber(text, out, limit);
}

using Util::Fail;
using Util::SetWord;
using Util::Word;

// Offsets of the channel record: trunk, time slot, rx, tx.
constexpr unsigned kRx = 8, kTx = 9;

bool IsChannel(std::uint32_t slot)
{
    return slot > 0 && slot < E1Cas::kSlots && slot != 16;
}

} // namespace

Maintenance::Maintenance() : Device("/dev/maintenance")
{}

namespace {

// The framer's texts of the states 0 to 5.
constexpr const char* kStateTexts[] = {"Synchronized", "FAS Loss", "No Carrier", "AIS", "RAI", "Unknown"};

} // namespace

const char* Maintenance::StateText(std::uint32_t state)
{
    return state < std::size(kStateTexts) ? kStateTexts[state] : "Unknown";
}

bool Maintenance::StateOfText(const std::string& text, std::uint32_t& state)
{
    for (std::uint32_t i = 0; i < std::size(kStateTexts); ++i)
        if (text == kStateTexts[i]) {
            state = i;
            return true;
        }
    return false;
}

void Maintenance::Reset()
{
    for (auto& t : trunks_)
        t = Trunk{};
    tclk_ = -1;
}

Outcome Maintenance::Ioctl(std::uint32_t request, void* arg, unsigned long value)
{
    switch (request) {
    case kStatus: {
        std::uint32_t n = Word(arg, 0);
        if (n >= kTrunks)
            return Fail(EINVAL);
        const Trunk& t = trunks_[n];
        SetWord(arg, 9, t.slips);
        SetWord(arg, 10, t.lossBF);
        SetWord(arg, 11, t.lossCarrier);
        SetWord(arg, 12, t.ais);
        SetWord(arg, 13, t.rai);
        SetWord(arg, 19, t.state);
        // Read once a second for ever: counted, not logged.
        return Outcome{0, 0, true};
    }
    case kTclk:
        tclk_ = static_cast<std::uint32_t>(value);
        return {};
    default:
        return Fail(ENOTTY);
    }
}

bool Maintenance::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.size() == 1 && words[0] == "tclk") {
        if (tclk_ < 0) {
            out << "ok none\n";
        } else {
            out << "ok 0x" << std::hex << tclk_ << std::dec << '\n';
        }
        return true;
    }
    std::uint32_t n = 0, state = 0;
    if (words.size() < 4 || words.size() % 2 != 0 || words[0] != "trunk" ||
        !Number(words[1], kTrunks - 1, n) || words[2] != "state" || !Number(words[3], 0xFFFFFFFFul, state))
        return false;
    Trunk t = trunks_[n];
    t.state = state;
    for (std::size_t i = 4; i + 1 < words.size(); i += 2) {
        std::uint32_t v;
        if (!Number(words[i + 1], 0xFFFFFFFFul, v))
            return false;
        if (words[i] == "slips")
            t.slips = v;
        else if (words[i] == "lossbf")
            t.lossBF = v;
        else if (words[i] == "losscarrier")
            t.lossCarrier = v;
        else if (words[i] == "ais")
            t.ais = v;
        else if (words[i] == "rai")
            t.rai = v;
        else
            return false;
    }
    trunks_[n] = t;
    LineChanged();
    out << "ok\n";
    return true;
}

void Maintenance::Help(std::ostream& out) const
{
    out << "trunk N state S [slips A] [lossbf B] [losscarrier C] [ais D] [rai E]  what the status request of "
           "trunk N (0..3) answers; S is the line's state, which files framer N state names too: 0 "
           "Synchronized, 1 FAS Loss, 2 No Carrier, 3 AIS, 4 RAI, any other Unknown\n"
           "tclk  \"ok 0xMASK\": the last transmit-clock mask written, \"ok none\" when none\n";
}

E1Cas::E1Cas() : Device("/dev/e1-cas")
{}

void E1Cas::Reset()
{
    for (auto& t : open_)
        t = false;
    for (auto& trunk : channels_)
        for (auto& c : trunk)
            c = Channel{};
}

std::vector<unsigned char> E1Cas::Event(std::uint32_t trunk, std::uint32_t timeslot, std::uint8_t rx,
                                        std::uint8_t tx)
{
    std::vector<unsigned char> record(12, 0);
    std::memcpy(record.data(), &trunk, 4);
    std::memcpy(record.data() + 4, &timeslot, 4);
    record[kRx] = rx;
    record[kTx] = tx;
    return record;
}

Outcome E1Cas::Ioctl(std::uint32_t request, void* arg, unsigned long value)
{
    unsigned char* b = static_cast<unsigned char*>(arg);
    switch (request) {
    case kOpenTrunk:
        if (value >= kTrunks)
            return Fail(EINVAL);
        open_[value] = true;
        return {};
    case kCloseTrunk:
        if (value >= kTrunks || !open_[value])
            return Fail(EINVAL);
        open_[value] = false;
        for (auto& c : channels_[value])
            c = Channel{};
        return {};
    case kSet:
    case kGet:
    case kChannel: {
        std::uint32_t t = Word(arg, 0), s = Word(arg, 1);
        if (t >= kTrunks || !open_[t] || !IsChannel(s))
            return Fail(EINVAL);
        Channel& c = channels_[t][s];
        if (request == kChannel) {
            std::uint32_t op = Word(arg, 3);
            if (op == 0) {
                c.open = true;
                c.tx = b[kTx] & 15;
            } else if (op == 1 && c.open) {
                c.open = false;
                c.tx = 0;
            } else {
                return Fail(EINVAL);
            }
            return {};
        }
        if (!c.open)
            return Fail(EINVAL);
        if (request == kSet) {
            c.tx = b[kTx] & 15;
            return {};
        }
        b[kRx] = c.rx;
        b[kTx] = c.tx;
        return {};
    }
    default:
        return Fail(ENOTTY);
    }
}

bool E1Cas::Control(const std::vector<std::string>& words, std::ostream& out)
{
    std::uint32_t t = 0, s = 0, bits = 0;
    if (words.size() == 4 && words[0] == "rx" && Number(words[1], kTrunks - 1, t) &&
        Number(words[2], kSlots - 1, s) && Number(words[3], 15, bits)) {
        channels_[t][s].rx = static_cast<std::uint8_t>(bits);
        out << "ok\n";
        return true;
    }
    if (words.size() == 1 && words[0] == "state") {
        std::size_t lines = 0;
        for (unsigned i = 0; i < kTrunks; ++i) {
            if (!open_[i])
                continue;
            out << "trunk " << i << " open\n";
            ++lines;
            for (unsigned j = 0; j < kSlots; ++j)
                if (channels_[i][j].open) {
                    out << i << ' ' << j << " rx " << unsigned{channels_[i][j].rx} << " tx "
                        << unsigned{channels_[i][j].tx} << '\n';
                    ++lines;
                }
        }
        out << "ok " << lines << '\n';
        return true;
    }
    return false;
}

void E1Cas::Help(std::ostream& out) const
{
    out << "rx T S BITS  what the line sends on trunk T (0..3), time slot S (1..31 but 16)\n"
           "state  one line per open trunk \"trunk T open\" and per open channel \"T S rx R tx X\", then "
           "\"ok N\"\n";
}

} // namespace Sim
