#include "sim/rtp.hpp"

#include "sim/model_util.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <sstream>

#include <sys/socket.h>

namespace Sim {

namespace {

using Util::Fail;

// The session record as the driver reads it: native fields, network-order
// addresses, zero padding.
struct SessionRecord {
    std::uint32_t remote_addr;
    std::uint16_t remote_port;
    std::uint16_t zero0;
    std::uint32_t local_addr;
    std::uint16_t local_port;
    std::uint16_t rx_pt;
    std::uint16_t tx_pt;
    std::uint16_t pfactor;
    std::uint8_t vad;
    std::uint8_t crate;
    std::uint16_t zero1;
    std::uint32_t ssrc;
    std::uint32_t zero2[2];
    std::uint32_t ttl;
    std::uint32_t tos;
    std::uint16_t rx_map_pt;
    std::uint16_t zero3;
    std::uint32_t rx_clock;
    std::uint32_t rx_channels;
    std::uint16_t tx_map_pt;
    std::uint16_t zero4;
    std::uint32_t tx_clock;
    std::uint32_t tx_channels;
};
static_assert(sizeof(SessionRecord) == Driver::RequestSize(Rtp::kBegin));
static_assert(offsetof(SessionRecord, ssrc) == 24 && offsetof(SessionRecord, ttl) == 36);
static_assert(offsetof(SessionRecord, rx_map_pt) == 44 && offsetof(SessionRecord, tx_channels) == 64);

struct ChannelRecord {
    std::uint32_t words[4];
};
static_assert(sizeof(ChannelRecord) == Driver::RequestSize(Rtp::kAddChannel));
static_assert(Driver::RequestSize(Rtp::kSetEvent) == 36);
static_assert(Driver::RequestSize(Rtp::kResetEvent) == 4);
static_assert(Driver::RequestSize(Rtp::kAttach) == 8);

std::string Address(std::uint32_t network_order, std::uint16_t port)
{
    unsigned char b[4];
    std::memcpy(b, &network_order, sizeof b);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], port);
    return text;
}

Rtp::Record Read(const SessionRecord& r)
{
    Rtp::Record out;
    out.remote = Address(r.remote_addr, r.remote_port);
    out.local = Address(r.local_addr, r.local_port);
    out.rx_pt = r.rx_pt;
    out.tx_pt = r.tx_pt;
    out.pfactor = r.pfactor;
    out.vad = r.vad;
    out.crate = r.crate;
    out.ssrc = r.ssrc;
    out.ttl = r.ttl;
    out.tos = r.tos;
    out.rx_map[0] = r.rx_map_pt;
    out.rx_map[1] = r.rx_clock;
    out.rx_map[2] = r.rx_channels;
    out.tx_map[0] = r.tx_map_pt;
    out.tx_map[1] = r.tx_clock;
    out.tx_map[2] = r.tx_channels;
    return out;
}

} // namespace

Rtp::Rtp() : Device("/dev/rtp")
{}

Outcome Rtp::Ioctl(std::uint32_t, void*, unsigned long)
{
    return Fail(ENOTTY); // every request belongs to a session (IoctlOn)
}

void Rtp::Opened(int open, int)
{
    opens_[open] = Session{};
    order_.push_back(open);
}

void Rtp::Closed(int open)
{
    opens_.erase(open);
    order_.erase(std::remove(order_.begin(), order_.end(), open), order_.end());
}

void Rtp::Reset()
{
    opens_.clear();
    order_.clear();
    first_ = kFirstChannel;
    count_ = kChannels;
}

void Rtp::ForgetDead()
{
    for (auto it = order_.begin(); it != order_.end();) {
        if (Util::ProgramGone(*it)) {
            opens_.erase(*it);
            it = order_.erase(it);
        } else {
            ++it;
        }
    }
}

bool Rtp::ChannelFree(std::uint32_t channel) const
{
    for (const auto& [fd, s] : opens_)
        if (s.channel >= 0 && static_cast<std::uint32_t>(s.channel) == channel)
            return false;
    return true;
}

Outcome Rtp::IoctlOn(int open, std::uint32_t request, void* arg, unsigned long)
{
    auto it = opens_.find(open);
    if (it == opens_.end())
        return Fail(EBADF);
    Session& s = it->second;
    switch (request) {
    case kBegin: {
        SessionRecord r;
        std::memcpy(&r, arg, sizeof r);
        s.begun = true;
        s.record = Read(r);
        return Outcome{};
    }
    case kAddChannel: {
        ChannelRecord r;
        std::memcpy(&r, arg, sizeof r);
        if (!s.begun)
            return Fail(EINVAL);
        if (s.channel >= 0)
            return Fail(EBUSY);
        // Channels of sessions that the program has ended go back first.
        ForgetDead();
        std::uint32_t channel = r.words[0];
        if (channel == 0xFFFFFFFFu) {
            channel = first_;
            while (channel < first_ + count_ && !ChannelFree(channel))
                ++channel;
            if (channel == first_ + count_)
                return Fail(ENOSPC);
        } else if (channel < first_ || channel >= first_ + count_) {
            return Fail(EINVAL);
        } else if (!ChannelFree(channel)) {
            return Fail(EBUSY);
        }
        s.channel = static_cast<std::int32_t>(channel);
        s.channelWord3 = r.words[3];
        Util::SetWord(arg, 0, channel);
        return Outcome{};
    }
    case kRxOn:
    case kRxOff:
        s.rx = request == kRxOn;
        return Outcome{};
    case kEnd1:
    case kEnd2:
    case kEnd3:
        s.ended = true;
        return Outcome{};
    case kSetEvent:
        if (Util::Word(arg, 0) != 1)
            return Fail(EINVAL);
        s.pd = true;
        for (unsigned i = 0; i < 9; ++i)
            s.pdWords[i] = Util::Word(arg, i);
        return Outcome{};
    case kResetEvent:
        if (Util::Word(arg, 0) != 1)
            return Fail(EINVAL);
        s.pd = false;
        return Outcome{};
    case kAttach:
        s.attached = true;
        s.attachFd = static_cast<std::int32_t>(Util::Word(arg, 0));
        s.attachPid = static_cast<std::int32_t>(Util::Word(arg, 1));
        return Outcome{};
    default:
        return Fail(ENOTTY);
    }
}

void Rtp::SetPool(std::uint32_t first, std::uint32_t count)
{
    first_ = first;
    count_ = count;
}

int Rtp::ChannelOfOpen(int open) const
{
    auto it = opens_.find(open);
    return it == opens_.end() ? -1 : it->second.channel;
}

std::vector<Rtp::Session> Rtp::Sessions()
{
    ForgetDead();
    std::vector<Session> out;
    for (int fd : order_)
        out.push_back(opens_[fd]);
    return out;
}

Rtp::Session Rtp::Get(std::uint32_t channel, bool* found)
{
    for (const Session& s : Sessions()) {
        if (s.channel >= 0 && static_cast<std::uint32_t>(s.channel) == channel) {
            if (found != nullptr)
                *found = true;
            return s;
        }
    }
    if (found != nullptr)
        *found = false;
    return Session{};
}

int Rtp::Holder(std::uint32_t channel)
{
    ForgetDead();
    for (int fd : order_) {
        const Session& s = opens_[fd];
        if (s.channel >= 0 && static_cast<std::uint32_t>(s.channel) == channel)
            return fd;
    }
    return -1;
}

int Rtp::Event(std::uint32_t channel, const void* data, std::size_t length)
{
    int fd = Holder(channel);
    return fd >= 0 && ::send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(length)
               ? 1
               : 0;
}

bool Rtp::Hangup(std::uint32_t channel)
{
    int fd = Holder(channel);
    return fd >= 0 && ::shutdown(fd, SHUT_WR) == 0;
}

std::string Rtp::Describe(const Session& s)
{
    std::ostringstream o;
    o << "channel ";
    if (s.channel >= 0)
        o << s.channel;
    else
        o << '-';
    if (s.begun) {
        const Record& r = s.record;
        char tos[16];
        std::snprintf(tos, sizeof tos, "0x%08x", static_cast<unsigned>(r.tos));
        o << " remote " << r.remote << " local " << r.local << " rxpt " << r.rx_pt << " txpt " << r.tx_pt
          << " pfactor " << r.pfactor << " vad " << r.vad << " crate " << r.crate << " ssrc " << r.ssrc
          << " ttl " << r.ttl << " tos " << tos << " rxmap " << r.rx_map[0] << '/' << r.rx_map[1] << '/'
          << r.rx_map[2] << " txmap " << r.tx_map[0] << '/' << r.tx_map[1] << '/' << r.tx_map[2];
    }
    o << " word3 " << s.channelWord3 << " rx " << (s.rx ? "on" : "off") << " pd ";
    if (s.pd)
        o << s.pdWords[2];
    else
        o << "off";
    if (s.attached)
        o << " attach " << s.attachFd << '/' << s.attachPid;
    if (s.ended)
        o << " ended";
    return o.str();
}

bool Rtp::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.size() == 1 && words[0] == "sessions") {
        auto sessions = Sessions();
        for (const Session& s : sessions)
            out << Describe(s) << '\n';
        out << "ok " << sessions.size() << '\n';
        return true;
    }
    std::uint32_t channel = 0;
    if (words.size() == 3 && words[0] == "event" && Util::ParseNumber(words[1], channel)) {
        std::vector<unsigned char> bytes;
        if (!Util::ParseHex(words[2], bytes))
            return false;
        out << "ok " << Event(channel, bytes.data(), bytes.size()) << '\n';
        return true;
    }
    if (words.size() >= 3 && words[0] == "event-words" && Util::ParseNumber(words[1], channel)) {
        std::vector<std::uint32_t> record(words.size() - 2);
        for (std::size_t i = 2; i < words.size(); ++i)
            if (!Util::ParseNumber(words[i], record[i - 2]))
                return false;
        out << "ok " << Event(channel, record.data(), record.size() * sizeof record[0]) << '\n';
        return true;
    }
    if (words.size() == 2 && words[0] == "hangup" && Util::ParseNumber(words[1], channel)) {
        out << (Hangup(channel) ? "ok\n" : "error no open holds that channel\n");
        return true;
    }
    return false;
}

void Rtp::Help(std::ostream& out) const
{
    out << "sessions  one line per open: \"channel C remote A:P local A:P rxpt R txpt T pfactor F vad V "
           "crate C "
           "ssrc S ttl T tos 0x.. rxmap PT/RATE/N txmap PT/RATE/N word3 W rx on|off pd off|TIMEOUT\" "
           "[attach FD/PID] [ended], then \"ok N\"\n"
           "event CHANNEL HEX  one event record for the open holding CHANNEL; \"ok N\": opens reached\n"
           "event-words CHANNEL W...  the same, a record of the native 32-bit words W\n"
           "hangup CHANNEL  the program's next read of the open holding CHANNEL sees end of file\n";
}

} // namespace Sim
