#include "sim/mcc.hpp"

#include "sim/hal.hpp"
#include "sim/model_util.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Sim {

namespace {

// The allocation record: driver mode, then four words the program fixes.
struct AllocateRecord {
    std::uint32_t words[5];
};
static_assert(sizeof(AllocateRecord) == Driver::RequestSize(Mcc::kAllocate));

using Util::Fail;

// The driver modes of the controller: 0 (LAPD, data), 1 (basic rate),
// 2 (transparent), 3 (SS7).
constexpr std::uint32_t kTransparent = 2;
bool KnownMode(std::uint32_t mode)
{
    return mode <= 3;
}

} // namespace

Mcc::Mcc(Hal& hal, std::mutex& board_lock) : Device("/dev/mcc/ctl"), hal_(hal), board_lock_(board_lock)
{}

Outcome Mcc::Ioctl(std::uint32_t, void*, unsigned long)
{
    return Fail(ENOTTY); // every request belongs to an open (IoctlOn)
}

void Mcc::Opened(int open, int program)
{
    Open o;
    o.program = Util::InodeOf(program);
    // A small send buffer, so that a program that writes faster than the
    // board takes frames sees EAGAIN after a handful of frames.
    int bytes = kSendBuffer;
    ::setsockopt(program, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    opens_[open] = o;
    Rewatch();
}

void Mcc::AttachChannel(int open, int program, std::uint32_t timeslot)
{
    Opened(open, program);
    Open& o = opens_[open];
    o.attached = true;
    o.allocated = true;
    o.controller.timeslot = timeslot;
}

void Mcc::DetachChannel(int open)
{
    Closed(open);
}

void Mcc::Closed(int open)
{
    opens_.erase(open);
    Rewatch();
}

void Mcc::Reset()
{
    Autopump(false);
    opens_.clear();
    sent_.clear();
    loops_.clear();
    observer_ = nullptr;
    first_ = kFirstSlot;
    count_ = kSlots;
    capacity_[0] = kDataControllers;
    capacity_[1] = kBriControllers;
    capacity_[2] = kTransparentControllers;
    Rewatch();
}

void Mcc::ForgetDead()
{
    bool gone = false;
    for (auto it = opens_.begin(); it != opens_.end();) {
        if (Util::ProgramGone(it->first)) {
            it = opens_.erase(it);
            gone = true;
        } else {
            ++it;
        }
    }
    if (gone)
        Rewatch();
}

void Mcc::Rewatch()
{
    {
        std::lock_guard<std::mutex> g(watch_lock_);
        watched_.clear();
        // A broken open stays readable with nothing the pump would take.
        for (const auto& [fd, o] : opens_)
            if (!o.broken)
                watched_.push_back(fd);
    }
    pumper_.Wake();
}

void Mcc::Autopump(bool on)
{
    if (on == pumper_.running())
        return;
    if (on)
        pumper_.Start([this] { AutopumpThread(); });
    else
        pumper_.Stop();
}

void Mcc::AutopumpThread()
{
    std::vector<pollfd> fds;
    while (pumper_.running()) {
        fds.assign(1, pumper_.WakeFd());
        {
            std::lock_guard<std::mutex> g(watch_lock_);
            for (int fd : watched_)
                fds.push_back(pollfd{fd, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue; // EINTR
        pumper_.Drain(fds[0]);
        bool written = false;
        for (std::size_t i = 1; i < fds.size(); ++i)
            written = written || fds[i].revents != 0;
        if (!written)
            continue;
        // The board's operations hold its lock while they call the model,
        // and Reset holds it while it stops this thread: wait for the lock
        // only while still asked to pump.
        while (pumper_.running()) {
            if (board_lock_.try_lock()) {
                Pump();
                board_lock_.unlock();
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

bool Mcc::SlotFree(std::uint32_t timeslot) const
{
    for (const auto& [fd, o] : opens_)
        if (o.allocated && o.controller.timeslot == timeslot)
            return false;
    return true;
}

Mcc::Open* Mcc::FindSlot(std::uint32_t timeslot)
{
    ForgetDead();
    for (auto& [fd, o] : opens_)
        if (o.allocated && o.controller.timeslot == timeslot)
            return &o;
    return nullptr;
}

int Mcc::SlotOpen(std::uint32_t timeslot)
{
    Open* o = FindSlot(timeslot);
    if (o != nullptr)
        for (auto& [fd, v] : opens_)
            if (&v == o)
                return fd;
    return -1;
}

Outcome Mcc::IoctlOn(int open, std::uint32_t request, void* arg, unsigned long)
{
    auto it = opens_.find(open);
    if (it == opens_.end())
        return Fail(EBADF);
    Open& o = it->second;
    if (request == kAllocate) {
        AllocateRecord rec;
        std::memcpy(&rec, arg, sizeof rec);
        if (!KnownMode(rec.words[0]))
            return Fail(EINVAL);
        if (o.allocated)
            return Fail(EBUSY);
        // Controllers of opens that the program has closed go back first.
        ForgetDead();
        for (std::uint32_t ts = first_; ts < first_ + count_; ++ts) {
            if (SlotFree(ts)) {
                o.allocated = true;
                o.controller = Controller{};
                o.controller.timeslot = ts;
                std::memcpy(o.controller.words, rec.words, sizeof rec.words);
                if (rec.words[0] == kTransparent) {
                    int program = Util::FindProgramEnd(o.program);
                    int bytes = kStreamSendBuffer;
                    if (program >= 0)
                        ::setsockopt(program, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
                }
                return Outcome{0, 0, false};
            }
        }
        return Fail(ENOSPC);
    }
    if (request == kTimeslot) {
        if (!o.allocated)
            return Fail(EINVAL);
        return Outcome{static_cast<int>(o.controller.timeslot), 0, false};
    }
    if (request == kCapacity) {
        for (unsigned i = 0; i < 3; ++i)
            Util::SetWord(arg, i, capacity_[i]);
        return Outcome{0, 0, false};
    }
    return Fail(ENOTTY);
}

void Mcc::SetPool(std::uint32_t first, std::uint32_t count)
{
    first_ = first;
    count_ = count;
}

void Mcc::SetCapacity(std::uint32_t data, std::uint32_t bri, std::uint32_t transparent)
{
    capacity_[0] = data;
    capacity_[1] = bri;
    capacity_[2] = transparent;
}

std::map<std::uint32_t, Mcc::Controller> Mcc::Controllers(bool attached)
{
    ForgetDead();
    std::map<std::uint32_t, Controller> out;
    for (const auto& [fd, o] : opens_)
        if (o.allocated && o.attached == attached)
            out[o.controller.timeslot] = o.controller;
    return out;
}

void Mcc::Deliver(std::uint32_t source, const Frame& frame)
{
    for (std::uint32_t output = 0; output < Hal::kChannels; ++output) {
        Hal::Output out = hal_.Get(output);
        if (out.state != Hal::State::Connected || out.value != source)
            continue;
        if (observer_)
            observer_(output, frame);
        bool taken = false;
        for (auto& [fd, o] : opens_) {
            if (o.allocated && !o.broken && o.controller.timeslot == output) {
                if (::send(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
                    ++o.controller.delivered;
                taken = true;
            }
        }
        if (taken)
            continue;
        auto loop = loops_.find(output);
        if (loop != loops_.end())
            ReceiveOn(loop->second, frame.data(), frame.size());
        else
            sent_[output].push_back(frame);
    }
}

std::size_t Mcc::Pump()
{
    ForgetDead();
    if (opens_.empty())
        return 0;
    std::vector<std::pair<std::uint32_t, Frame>> frames;
    Frame buf(65536);
    for (auto& [fd, o] : opens_) {
        if (o.broken)
            continue;
        for (;;) {
            ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
            // 0: end of file, which stays (the program shut its side down,
            // or closed it after ForgetDead looked), or an empty record,
            // which carries no frame; what follows waits for the next pump.
            if (n <= 0)
                break;
            if (!o.allocated)
                continue; // no controller: the frame goes nowhere
            ++o.controller.written;
            frames.emplace_back(o.controller.timeslot, Frame(buf.begin(), buf.begin() + n));
        }
    }
    for (const auto& [source, frame] : frames)
        Deliver(source, frame);
    return frames.size();
}

std::vector<Mcc::Frame> Mcc::TakeSent(std::uint32_t channel)
{
    std::vector<Frame> out;
    auto it = sent_.find(channel);
    if (it != sent_.end()) {
        out.swap(it->second);
        sent_.erase(it);
    }
    return out;
}

int Mcc::Receive(std::uint32_t channel, const void* data, std::size_t length)
{
    ForgetDead();
    return ReceiveOn(channel, data, length);
}

int Mcc::ReceiveOn(std::uint32_t channel, const void* data, std::size_t length)
{
    int reached = 0;
    for (auto& [fd, o] : opens_) {
        if (!o.allocated || o.broken)
            continue;
        Hal::Output out = hal_.Get(o.controller.timeslot);
        if (out.state != Hal::State::Connected || out.value != channel)
            continue;
        if (::send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(length)) {
            ++o.controller.delivered;
            ++reached;
        }
    }
    return reached;
}

bool Mcc::Eof(std::uint32_t timeslot)
{
    int fd = SlotOpen(timeslot);
    if (fd < 0)
        return false;
    Open* o = &opens_.find(fd)->second;
    o->broken = true;
    ::shutdown(fd, SHUT_WR);
    Rewatch();
    return true;
}

bool Mcc::ReadError(std::uint32_t timeslot)
{
    int fd = SlotOpen(timeslot);
    if (fd < 0)
        return false;
    Open* o = &opens_.find(fd)->second;
    // The reset needs a record left unread on the board's end: one the
    // program wrote, or one put there now from the program's own end.
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0) {
        int program = Util::FindProgramEnd(o->program);
        if (program < 0)
            return false;
        const unsigned char byte = 0;
        if (::send(program, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL) != 1)
            return false;
    }
    if (!Util::CloseInPlace(fd))
        return false;
    o->broken = true;
    Rewatch();
    return true;
}

bool Mcc::Loop(std::uint32_t a, std::uint32_t b)
{
    if (a >= Hal::kChannels || b >= Hal::kChannels)
        return false;
    Unloop(a);
    Unloop(b);
    loops_[a] = b;
    loops_[b] = a;
    return true;
}

bool Mcc::Unloop(std::uint32_t a)
{
    auto it = loops_.find(a);
    if (it == loops_.end())
        return false;
    const std::uint32_t b = it->second;
    loops_.erase(it);
    loops_.erase(b);
    return true;
}

std::map<std::uint32_t, std::uint32_t> Mcc::Loops() const
{
    std::map<std::uint32_t, std::uint32_t> out;
    for (const auto& [a, b] : loops_)
        if (a <= b)
            out[a] = b;
    return out;
}

bool Mcc::Control(const std::vector<std::string>& words, std::ostream& out)
{
    if (words.empty())
        return false;
    std::uint32_t n = 0;
    const std::string& verb = words[0];
    if (verb == "slots" && words.size() == 1) {
        auto controllers = Controllers();
        for (const auto& [ts, c] : controllers)
            out << ts << " mode " << c.words[0] << " written " << c.written << " delivered " << c.delivered
                << '\n';
        out << "ok " << controllers.size() << '\n';
        return true;
    }
    if (verb == "pump" && words.size() == 1) {
        out << "ok " << Pump() << '\n';
        return true;
    }
    if (verb == "receive" && words.size() == 3 && Util::ParseNumber(words[1], n)) {
        Frame frame;
        if (!Util::ParseHex(words[2], frame))
            return false;
        out << "ok " << Receive(n, frame.data(), frame.size()) << '\n';
        return true;
    }
    if (verb == "sent" && words.size() == 2 && Util::ParseNumber(words[1], n)) {
        auto frames = TakeSent(n);
        for (const auto& f : frames)
            out << Util::Hex(f.data(), f.size()) << '\n';
        out << "ok " << frames.size() << '\n';
        return true;
    }
    std::uint32_t bri = 0, transparent = 0;
    if (verb == "caps" && words.size() == 4 && Util::ParseNumber(words[1], n) &&
        Util::ParseNumber(words[2], bri) && Util::ParseNumber(words[3], transparent)) {
        SetCapacity(n, bri, transparent);
        out << "ok\n";
        return true;
    }
    if ((verb == "eof" || verb == "error") && words.size() == 2 && Util::ParseNumber(words[1], n)) {
        bool done = verb == "eof" ? Eof(n) : ReadError(n);
        out << (done ? "ok\n" : "error no controller on that time slot\n");
        return true;
    }
    std::uint32_t m = 0;
    if (verb == "loop" && words.size() == 3 && Util::ParseNumber(words[1], n) &&
        Util::ParseNumber(words[2], m)) {
        out << (Loop(n, m) ? "ok\n" : "error no such switch channel\n");
        return true;
    }
    if (verb == "unloop" && words.size() == 2 && Util::ParseNumber(words[1], n)) {
        out << (Unloop(n) ? "ok\n" : "error channel not looped\n");
        return true;
    }
    if (verb == "loops" && words.size() == 1) {
        auto loops = Loops();
        for (const auto& [a, b] : loops)
            out << a << ' ' << b << '\n';
        out << "ok " << loops.size() << '\n';
        return true;
    }
    if (verb == "autopump" && words.size() == 1) {
        out << "ok " << (autopump() ? "on" : "off") << '\n';
        return true;
    }
    if (verb == "autopump" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        Autopump(words[1] == "on");
        if (autopump() == (words[1] == "on"))
            out << "ok\n";
        else
            out << "error cannot start the pump: " << std::strerror(errno) << '\n';
        return true;
    }
    return false;
}

void Mcc::Help(std::ostream& out) const
{
    out << "slots  one line per controller \"TS mode M written W delivered D\", then \"ok N\"\n"
           "pump  \"ok N\": moves the N frames the program wrote along the switch\n"
           "receive CHANNEL HEX  a frame arriving on CHANNEL; \"ok N\": the controllers that received it\n"
           "sent CHANNEL  one line of hex per frame that reached CHANNEL and no controller, then \"ok N\"\n"
           "eof TS  the program's next read of the controller at time slot TS sees end of file\n"
           "error TS  the program's next read fails (ECONNRESET), every later one sees end of file\n"
           "loop A B  frames that reach output A are received on channel B and the other way round\n"
           "unloop A  the loop of channel A (both ways) is removed\n"
           "loops  one line \"A B\" per loop, then \"ok N\"\n"
           "autopump [on|off]  frames move as soon as a program writes them; alone: \"ok on\" or \"ok "
           "off\"\n"
           "caps DATA BRI TRANS  what the capacity request reports: data, basic-rate and transparent "
           "controllers\n";
}

} // namespace Sim
