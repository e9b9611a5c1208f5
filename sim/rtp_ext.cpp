#include "sim/rtp_ext.hpp"

#include "sim/model_util.hpp"

#include <cerrno>
#include <cstring>
#include <ostream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Sim {

namespace {

using Util::Fail;

std::string Dotted(std::uint32_t network_order)
{
    in_addr a{};
    a.s_addr = network_order;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

} // namespace

RtpExt::~RtpExt()
{
    StopTaking();
}

Outcome RtpExt::Ioctl(std::uint32_t, void*, unsigned long)
{
    return Fail(ENOTTY); // every request belongs to an open (IoctlOn)
}

void RtpExt::Opened(int open, int)
{
    {
        std::lock_guard<std::mutex> g(lock_);
        opens_[open] = Open{};
    }
    StartTaking();
    taker_.Wake();
}

void RtpExt::Closed(int open)
{
    {
        std::lock_guard<std::mutex> g(lock_);
        opens_.erase(open);
    }
    // Before the board closes its end: the thread lets the number go.
    taker_.Wake();
}

void RtpExt::Reset()
{
    StopTaking();
    std::lock_guard<std::mutex> g(lock_);
    opens_.clear();
}

void RtpExt::StartTaking()
{
    // Without a pipe the writes are taken when asked for, as before a thread.
    taker_.Start([this] { Take(); });
}

void RtpExt::StopTaking()
{
    taker_.Stop();
}

void RtpExt::Take()
{
    std::vector<pollfd> fds;
    while (taker_.running()) {
        fds.assign(1, taker_.WakeFd());
        {
            std::lock_guard<std::mutex> g(lock_);
            // A broken or ended open stays readable with nothing to take.
            for (const auto& [fd, o] : opens_)
                if (!o.broken && !o.ended)
                    fds.push_back(pollfd{fd, POLLIN | POLLRDHUP, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue; // EINTR
        taker_.Drain(fds[0]);
        std::lock_guard<std::mutex> g(lock_);
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            // The open may have gone (and its number come back) meanwhile.
            auto it = opens_.find(fds[i].fd);
            if (it == opens_.end() || it->second.broken)
                continue;
            if (Collect(it->first, it->second) == 0 &&
                (fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0)
                it->second.ended = true;
        }
    }
}

void RtpExt::ForgetDead()
{
    for (auto it = opens_.begin(); it != opens_.end();) {
        if (Util::ProgramGone(it->first))
            it = opens_.erase(it);
        else
            ++it;
    }
}

std::size_t RtpExt::Collect(int open, Open& o)
{
    buffer_.resize(65536);
    std::size_t taken = 0;
    for (;; ++taken) {
        ssize_t n = ::recv(open, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
        if (n <= 0)
            break;
        if (o.session.written.size() == kWrittenKept)
            o.session.written.pop_front();
        o.session.written.emplace_back(buffer_.begin(), buffer_.begin() + n);
        ++o.session.writes;
    }
    return taken;
}

Outcome RtpExt::IoctlOn(int open, std::uint32_t request, void* arg, unsigned long)
{
    std::lock_guard<std::mutex> g(lock_);
    auto it = opens_.find(open);
    if (it == opens_.end())
        return Fail(EBADF);
    Open& o = it->second;
    Session& s = o.session;
    switch (request) {
    case kInit: {
        std::memcpy(&s.etype, arg, sizeof s.etype);
        for (unsigned i = 0; i < 4; ++i)
            s.words[i] = Util::Word(arg, 1 + i);
        s.initialised = true;
        return {};
    }
    case kAttach: {
        std::int32_t fd = static_cast<std::int32_t>(Util::Word(arg, 0));
        std::int32_t pid = static_cast<std::int32_t>(Util::Word(arg, 1));
        if (fd < 0 || ::fcntl(fd, F_GETFD) == -1)
            return Fail(EBADF);
        if (pid != -1 && pid != static_cast<std::int32_t>(::getpid()))
            return Fail(ESRCH);
        if (s.attached)
            return Fail(EBUSY);
        s.attached = true;
        s.fd = fd;
        s.pid = pid;
        s.device.clear();
        s.device_open = resolver_ ? resolver_(Util::InodeOf(fd), s.device) : -1;
        return {};
    }
    case kDetach:
        if (!s.attached)
            return Fail(EINVAL);
        s.attached = false;
        s.fd = -1;
        s.pid = 0;
        s.device.clear();
        s.device_open = -1;
        return {};
    case kPacketInfo: {
        if (o.undescribed.empty())
            return Fail(EAGAIN);
        Info i = o.undescribed.front();
        o.undescribed.pop_front();
        s.queued = o.undescribed.size();
        Util::SetWord(arg, 0, i.ssrc);
        Util::SetWord(arg, 1, i.addr);
        Util::SetWord(arg, 2, 0);
        // The length of the extension that the next read returns.
        return Outcome{static_cast<int>(i.length), 0, false};
    }
    case kSetFilter:
        s.filter = true;
        s.filter_addr = Util::Word(arg, 0);
        return {};
    case kResetFilter:
        if (!s.filter)
            return Fail(EINVAL);
        s.filter = false;
        s.filter_addr = 0;
        return {};
    default:
        return Fail(ENOTTY);
    }
}

std::map<int, RtpExt::Session> RtpExt::Sessions()
{
    std::lock_guard<std::mutex> g(lock_);
    return SessionsLocked();
}

std::map<int, RtpExt::Session> RtpExt::SessionsLocked()
{
    ForgetDead();
    std::map<int, Session> out;
    for (auto& [fd, o] : opens_) {
        Collect(fd, o);
        out[fd] = o.session;
        Session& s = out[fd];
        s.channel = s.attached && s.device == "/dev/rtp" && s.device_open >= 0 && channels_
                        ? channels_(s.device_open)
                        : -1;
    }
    return out;
}

int RtpExt::OpenOfChannel(std::uint32_t channel)
{
    for (const auto& [fd, s] : Sessions())
        if (s.channel >= 0 && static_cast<std::uint32_t>(s.channel) == channel)
            return fd;
    return -1;
}

bool RtpExt::Inject(int open, std::uint32_t ssrc, std::uint32_t addr, const Bytes& bytes)
{
    std::lock_guard<std::mutex> g(lock_);
    ForgetDead();
    auto it = opens_.find(open);
    if (it == opens_.end() || it->second.broken)
        return false;
    // The bytes wait on the program's side at once, so that its poll wakes;
    // the information request describes them in the same order.
    if (::send(open, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size()))
        return false;
    it->second.undescribed.push_back(Info{ssrc, addr, bytes.size()});
    it->second.session.queued = it->second.undescribed.size();
    return true;
}

std::vector<RtpExt::Bytes> RtpExt::Written(int open)
{
    std::lock_guard<std::mutex> g(lock_);
    ForgetDead();
    auto it = opens_.find(open);
    if (it == opens_.end())
        return {};
    Collect(open, it->second);
    const auto& written = it->second.session.written;
    return std::vector<Bytes>(written.begin(), written.end());
}

bool RtpExt::Hangup(int open)
{
    {
        std::lock_guard<std::mutex> g(lock_);
        ForgetDead();
        auto it = opens_.find(open);
        if (it == opens_.end())
            return false;
        Collect(open, it->second);
        it->second.broken = true;
        ::shutdown(open, SHUT_RDWR);
    }
    taker_.Wake();
    return true;
}

bool RtpExt::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.empty())
        return false;
    std::vector<std::string> w = words;
    // "channel N" in place of an open: the open attached to that session.
    if (w.size() >= 3 && w[1] == "channel") {
        std::uint32_t channel = 0;
        if (!Util::ParseNumber(w[2], channel))
            return false;
        int found = OpenOfChannel(channel);
        if (found < 0) {
            out << "error no such channel\n";
            return true;
        }
        w.erase(w.begin() + 2);
        w[1] = std::to_string(found);
    }
    const std::string& verb = w[0];
    std::uint32_t open = 0;
    if (verb == "sessions" && w.size() == 1) {
        auto sessions = Sessions();
        for (const auto& [fd, s] : sessions) {
            out << fd << " init";
            if (s.initialised)
                out << " 0x" << std::hex << s.etype << std::dec << ' ' << s.words[0] << ' ' << s.words[1]
                    << ' ' << s.words[2] << ' ' << s.words[3];
            else
                out << " none";
            out << " attached ";
            if (s.attached) {
                out << (s.device.empty() ? "-" : s.device) << ' ' << s.device_open << " pid " << s.pid;
                if (s.channel >= 0)
                    out << " channel " << s.channel;
            } else
                out << "none";
            out << " filter " << (s.filter ? Dotted(s.filter_addr) : std::string("none")) << " queued "
                << s.queued << " written " << s.writes << '\n';
        }
        out << "ok " << sessions.size() << '\n';
        return true;
    }
    if (verb == "inject" && w.size() == 5 && Util::ParseNumber(w[1], open)) {
        std::uint32_t ssrc = 0;
        in_addr addr{};
        Bytes bytes;
        if (!Util::ParseNumber(w[2], ssrc) || ::inet_pton(AF_INET, w[3].c_str(), &addr) != 1 ||
            !Util::ParseHex(w[4], bytes))
            return false;
        out << (Inject(static_cast<int>(open), ssrc, addr.s_addr, bytes) ? "ok\n" : "error no such open\n");
        return true;
    }
    if (verb == "written" && w.size() == 2 && Util::ParseNumber(w[1], open)) {
        auto written = Written(static_cast<int>(open));
        for (const auto& w : written)
            out << Util::Hex(w.data(), w.size()) << '\n';
        out << "ok " << written.size() << '\n';
        return true;
    }
    if (verb == "hangup" && w.size() == 2 && Util::ParseNumber(w[1], open)) {
        out << (Hangup(static_cast<int>(open)) ? "ok\n" : "error no such open\n");
        return true;
    }
    return false;
}

void RtpExt::Help(std::ostream& out) const
{
    out << "sessions  one line per open \"OPEN init ETYPE W1 W2 W3 W4|none attached DEVICE DEVOPEN pid "
           "PID|none "
           "filter ADDR|none queued N written N\", then \"ok N\"\n"
           "inject OPEN SSRC ADDR HEX  one extension for the open, from SSRC at the dotted ADDR\n"
           "written OPEN  one line of hex per extension the program wrote, the last 256 only, then \"ok "
           "N\"\n"
           "hangup OPEN  ends the open from the board: the program reads end of file and sees a hang-up\n"
           "\"channel N\" may stand for OPEN: the open attached to the RTP session on switch channel N\n";
}

} // namespace Sim
