#include "sim/mcc.hpp"

#include "sim/hal.hpp"
#include "sim/model_util.hpp"

#include <cerrno>
#include <cstring>
#include <ostream>

#include <sys/socket.h>

namespace Sim {

namespace {

// The allocation record: driver mode, then four words the program fixes.
struct AllocateRecord {
    std::uint32_t words[5];
};
static_assert(sizeof(AllocateRecord) == Driver::RequestSize(Mcc::kAllocate));

using Util::Fail;

// The driver modes of the controller: 0 (LAPD), 1 (basic rate), 3 (SS7).
bool KnownMode(std::uint32_t mode)
{
    return mode == 0 || mode == 1 || mode == 3;
}

} // namespace

Mcc::Mcc(Hal& hal) : Device("/dev/mcc/ctl"), hal_(hal)
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
}

void Mcc::Closed(int open)
{
    opens_.erase(open);
}

void Mcc::Reset()
{
    opens_.clear();
    sent_.clear();
    first_ = kFirstSlot;
    count_ = kSlots;
}

void Mcc::ForgetDead()
{
    for (auto it = opens_.begin(); it != opens_.end();) {
        if (Util::ProgramGone(it->first))
            it = opens_.erase(it);
        else
            ++it;
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
    return Fail(ENOTTY);
}

void Mcc::SetPool(std::uint32_t first, std::uint32_t count)
{
    first_ = first;
    count_ = count;
}

std::map<std::uint32_t, Mcc::Controller> Mcc::Controllers()
{
    ForgetDead();
    std::map<std::uint32_t, Controller> out;
    for (const auto& [fd, o] : opens_)
        if (o.allocated)
            out[o.controller.timeslot] = o.controller;
    return out;
}

void Mcc::Deliver(std::uint32_t source, const Frame& frame)
{
    for (std::uint32_t output = 0; output < Hal::kChannels; ++output) {
        Hal::Output out = hal_.Get(output);
        if (out.state != Hal::State::Connected || out.value != source)
            continue;
        bool taken = false;
        for (auto& [fd, o] : opens_) {
            if (o.allocated && !o.broken && o.controller.timeslot == output) {
                if (::send(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
                    ++o.controller.delivered;
                taken = true;
            }
        }
        if (!taken)
            sent_[output].push_back(frame);
    }
}

std::size_t Mcc::Pump()
{
    ForgetDead();
    std::vector<std::pair<std::uint32_t, Frame>> frames;
    Frame buf(65536);
    for (auto& [fd, o] : opens_) {
        if (o.broken)
            continue;
        for (;;) {
            ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
            if (n < 0)
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
    o->broken = true;
    Util::CloseInPlace(fd);
    return true;
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
    if ((verb == "eof" || verb == "error") && words.size() == 2 && Util::ParseNumber(words[1], n)) {
        bool done = verb == "eof" ? Eof(n) : ReadError(n);
        out << (done ? "ok\n" : "error no controller on that time slot\n");
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
           "error TS  the program's next read fails (ECONNRESET), every later one sees end of file\n";
}

} // namespace Sim
