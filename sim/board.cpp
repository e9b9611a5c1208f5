#include "sim/board.hpp"

#include "hardware/driver_port.hpp"
#include "sim/board_files.hpp"
#include "sim/dsp.hpp"
#include "sim/dsp_data.hpp"
#include "sim/dtmf.hpp"
#include "sim/e1.hpp"
#include "sim/hal.hpp"
#include "sim/mcc.hpp"
#include "sim/mctl.hpp"
#include "sim/mixer.hpp"
#include "sim/model_util.hpp"
#include "sim/netifs.hpp"
#include "sim/rtp.hpp"
#include "sim/rtp_ext.hpp"
#include "sim/voice.hpp"
#include "sim/watchdog.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Sim {

namespace {

struct ErrnoName {
    const char* name;
    int value;
};
constexpr ErrnoName kErrnoNames[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EINTR", EINTR},   {"EIO", EIO},       {"ENXIO", ENXIO},
    {"EBADF", EBADF},   {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EFAULT", EFAULT}, {"EBUSY", EBUSY},
    {"ENODEV", ENODEV}, {"EINVAL", EINVAL}, {"ENOSPC", ENOSPC}, {"ENOTTY", ENOTTY}, {"ETIMEDOUT", ETIMEDOUT},
};

std::string ErrnoText(int error)
{
    for (const auto& e : kErrnoNames)
        if (e.value == error)
            return e.name;
    return std::to_string(error);
}

bool ParseErrno(const std::string& text, int& out)
{
    for (const auto& e : kErrnoNames)
        if (text == e.name) {
            out = e.value;
            return true;
        }
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || v <= 0 || v > 4095)
        return false;
    out = static_cast<int>(v);
    return true;
}

// "open", "any" or a request number.
bool ParseRequest(const std::string& text, std::uint32_t& out)
{
    if (text == "open") {
        out = kOpen;
        return true;
    }
    if (text == "any") {
        out = kAny;
        return true;
    }
    return Util::ParseNumber(text, out) && out != kOpen && out != kAny;
}

// Whether the argument has the form that the request number encodes (the
// board's _IOC layout: direction and size): a record of that size through a
// pointer for a number with a size, a value or nothing for one without.
// The exceptions are the models' own: requests their drivers take by value
// although the number names a size (TakesValue), and records of numbers
// without one (RecordSize). A missing record is left to EFAULT.
bool FormMatches(const Device& d, std::uint32_t request, bool by_value)
{
    const std::uint32_t encoded = Driver::RequestSize(request);
    const bool moves = (Driver::RequestDir(request) & (Driver::kDirRead | Driver::kDirWrite)) != 0;
    if ((encoded > 0) != moves)
        return false;
    if (d.TakesValue(request))
        return by_value;
    return !by_value || (encoded == 0 && d.RecordSize(request) == 0);
}

std::string Hex(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(v));
    return buf;
}

} // namespace

std::string Format(const Request& r)
{
    std::ostringstream s;
    s << r.device << ' ';
    if (r.request == kOpen)
        s << "open";
    else
        s << Hex(r.request);
    if (!r.name.empty())
        s << ' ' << r.name;
    for (std::uint32_t w : r.in)
        s << ' ' << w;
    if (!r.out.empty()) {
        s << " ->";
        for (std::uint32_t w : r.out)
            s << ' ' << w;
    }
    s << " = " << r.result;
    if (r.result < 0)
        s << ' ' << ErrnoText(r.error);
    return s.str();
}

Board& Board::instance()
{
    // Never destroyed: the control socket's thread may still use it while
    // the program's static objects go away.
    static Board* board = new Board;
    return *board;
}

// Every device of the board, one line each. A model that uses another
// comes after it (the MCC controllers move their frames through the switch).
Board::Board()
{
    Add<Hal>();
    Add<Mcc>(device<Hal>(), lock_);
    Add<Dtmf>();
    Add<Dsp>();
    Add<MixerDev>();
    Add<Maintenance>();
    Add<E1Cas>();
    Add<Watchdog>();
    Add<Mctl>();
    Add<NetIfs>();
    Add<Rtp>();
    Add<Voice>();
    Add<RtpExt>([this](ino_t inode, std::string& path) { return OpenOf(inode, path); },
                [this](int open) { return device<Rtp>().ChannelOfOpen(open); });
    Add<DspData>(device<Mcc>());
    Add<BoardFiles>(device<Maintenance>());
}

// Under the board's lock: the radio-extension model asks which open an
// extension session is attached to.
int Board::OpenOf(ino_t inode, std::string& path) const
{
    auto it = opens_.find(inode);
    if (it == opens_.end())
        return -1;
    path = it->second.device->path();
    return it->second.fd;
}

// The list never changes after construction: no lock needed to read it.
Device* Board::Find(const std::string& path) const
{
    for (const auto& d : devices_)
        if (d->path() == path)
            return d.get();
    return nullptr;
}

Board::Opens::iterator Board::Drop(Opens::iterator it)
{
    OpenFile& open = it->second;
    open.device->Closed(open.fd);
    ::close(open.fd);
    if (open.program >= 0)
        by_descriptor_[static_cast<std::size_t>(open.program)] = nullptr;
    return opens_.erase(it);
}

void Board::CloseAllOpens()
{
    for (auto it = opens_.begin(); it != opens_.end();)
        it = Drop(it);
}

void Board::ForgetStaleOpens()
{
    if (opens_.empty())
        return;
    // Close hears the last descriptor of an open that goes through it. The
    // board hears nothing of a duplicate closed with close(2) (an event's
    // watch that outlives its owner, a modem's holding duplicate), nor of a
    // copy that a started program held until its exec: such an open is
    // found here, by one poll for every open, before each open (its
    // descriptors are free again for the new one) and each query (which
    // counts live opens only).
    polled_.clear();
    for (const auto& [inode, open] : opens_)
        polled_.push_back(pollfd{open.fd, 0, 0});
    if (::poll(polled_.data(), polled_.size(), 0) <= 0)
        return;
    std::size_t i = 0;
    for (auto it = opens_.begin(); it != opens_.end(); ++i) {
        if ((polled_[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            it = Drop(it);
        else
            ++it;
    }
}

void Board::Reset()
{
    std::lock_guard<std::mutex> g(lock_);
    CloseAllOpens();
    for (const auto& d : devices_)
        d->Reset();
    absent_.clear();
    absent_devices_.clear();
    counts_.clear();
    requests_.clear();
    failures_.clear();
    log_.clear();
    log_first_ = 0;
    log_limit_ = 8192;
    log_quiet_ = false;
    form_mismatches_ = 0;
}

bool Board::TakeFailure(const std::string& path, std::uint32_t request, int& error)
{
    if (failures_.empty())
        return false;
    for (std::uint32_t key : {request, request == kOpen ? kOpen : kAny}) {
        auto it = failures_.find({path, key});
        if (it != failures_.end() && it->second.count > 0) {
            error = it->second.error;
            if (--it->second.count == 0)
                failures_.erase(it);
            return true;
        }
    }
    return false;
}

Request& Board::NextLogEntry()
{
    if (log_.size() < log_limit_) {
        log_.emplace_back();
        return log_.back();
    }
    // Full: the oldest entry is overwritten, its storage kept.
    Request& r = log_[log_first_];
    log_first_ = (log_first_ + 1) % log_.size();
    return r;
}

void Board::Record(Request&& r, bool quiet)
{
    if ((quiet && !log_quiet_) || log_limit_ == 0)
        return;
    NextLogEntry() = std::move(r);
}

void Board::Enter(int program, OpenFile* open)
{
    const auto slot = static_cast<std::size_t>(program);
    if (by_descriptor_.size() <= slot)
        by_descriptor_.resize(slot + 1);
    // A number closed without Close and given out again.
    if (OpenFile* stale = by_descriptor_[slot])
        stale->program = -1;
    by_descriptor_[slot] = open;
}

int Board::Open(const char* path, int flags)
{
    if (path == nullptr) {
        errno = EFAULT;
        return -1;
    }
    std::lock_guard<std::mutex> g(lock_);
    ForgetStaleOpens();
    Request r;
    r.device = path;
    r.request = kOpen;
    ++counts_[{r.device, kOpen}];
    Device* d = Find(r.device);
    bool shared = false;
    if (d != nullptr && d->SharedOpens())
        for (const auto& [inode, open] : opens_)
            shared = shared || open.device == d;
    int error = 0;
    if (d == nullptr || absent_[r.device])
        error = ENOENT;
    else
        TakeFailure(r.device, kOpen, error);
    int sv[2] = {-1, -1};
    if (error == 0 && d->WriteOnly()) {
        // Nothing is ever read back: the writes go nowhere.
        sv[0] = ::open("/dev/null", flags & (O_ACCMODE | O_NONBLOCK | O_CLOEXEC));
        if (sv[0] < 0)
            error = errno;
        else
            Enter(sv[0], nullptr);
    } else if (error == 0) {
        // The board's end never blocks the program, nor outlives an exec;
        // the program's end takes the flags it asked for (the server's
        // usual O_NONBLOCK | O_CLOEXEC costs nothing more).
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) {
            error = errno;
        } else {
            if ((flags & O_NONBLOCK) == 0)
                ::fcntl(sv[0], F_SETFL, ::fcntl(sv[0], F_GETFL) & ~O_NONBLOCK);
            if ((flags & O_CLOEXEC) == 0)
                ::fcntl(sv[0], F_SETFD, 0);
            struct stat st {};
            if (::fstat(sv[0], &st) != 0) {
                error = errno;
                ::close(sv[0]);
                ::close(sv[1]);
            } else {
                auto old = opens_.find(st.st_ino);
                if (old != opens_.end())
                    Drop(old);
                Enter(sv[0], &opens_.emplace(st.st_ino, OpenFile{d, sv[1], sv[0]}).first->second);
                d->Opened(sv[1], sv[0]);
            }
        }
    }
    r.result = error == 0 ? sv[0] : -1;
    r.error = error;
    Record(std::move(r), shared && error == 0);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return sv[0];
}

int Board::Ioctl(int fd, std::uint32_t request, void* arg, unsigned long value, bool by_value)
{
    std::lock_guard<std::mutex> g(lock_);
    // A number that Open returned is in the table until Close, which every
    // such number goes through: the entry is its open, with no system call.
    OpenFile* open = nullptr;
    if (fd >= 0 && static_cast<std::size_t>(fd) < by_descriptor_.size())
        open = by_descriptor_[static_cast<std::size_t>(fd)];
    if (open == nullptr) {
        // Any other number is a duplicate of an open, found by the inode of
        // its socket, or no device at all. Duplicates may be closed with
        // close(2), so they never enter the table.
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return -1; // EBADF from fstat
        auto it = S_ISSOCK(st.st_mode) ? opens_.find(st.st_ino) : opens_.end();
        if (it != opens_.end() && Util::ProgramGone(it->second.fd)) {
            // The inode was reused by a socket that is not a device open.
            Drop(it);
            it = opens_.end();
        }
        if (it == opens_.end()) {
            errno = ENOTTY;
            return -1;
        }
        open = &it->second;
    }
    Device* d = open->device;
    // The counters are map nodes, which stay where they are until Reset
    // (which forgets every open).
    if (open->last_count == nullptr || open->last_request != request) {
        open->last_count = &requests_[{d, request}];
        open->last_request = request;
    }
    ++*open->last_count;

    std::uint32_t size = Driver::RequestSize(request);
    if (size == 0)
        size = d->RecordSize(request);
    const std::uint32_t words = size / 4;
    // The argument words as the program gave them, for the log; kept on the
    // stack for every request of the board.
    std::uint32_t given[64];
    std::vector<std::uint32_t> large;
    std::uint32_t* in = given;
    std::uint32_t inCount = 0;
    Outcome o;
    if (!FormMatches(*d, request, by_value)) {
        // On the board the driver would read a value as an address (EFAULT
        // at best), or an address as a value: a test must see it fail.
        if (by_value)
            given[inCount++] = static_cast<std::uint32_t>(value);
        ++form_mismatches_;
        o = Outcome{-1, by_value ? EFAULT : EINVAL, false};
    } else if (size > 0 && arg == nullptr && !by_value) {
        o = Outcome{-1, EFAULT, false};
    } else {
        if (by_value) {
            given[inCount++] = static_cast<std::uint32_t>(value);
        } else if (words > 0) {
            if (words > std::size(given)) {
                large.resize(words);
                in = large.data();
            }
            std::memcpy(in, arg, words * 4);
            inCount = words;
        }
        // Refusals are looked up only while some are asked for.
        if ((absent_devices_.empty() && failures_.empty()) || !Refused(d->path(), request, o))
            o = d->IoctlOn(open->fd, request, arg, value);
    }
    if ((!o.quiet || log_quiet_) && log_limit_ > 0) {
        Request& r = NextLogEntry();
        r.device.assign(d->path());
        r.request = request;
        r.name.clear();
        r.in.assign(in, in + inCount);
        r.out.clear();
        if (o.result >= 0 && !by_value && words > 0 && arg != nullptr &&
            (Driver::RequestDir(request) & Driver::kDirRead) != 0) {
            const auto* answered = static_cast<const std::uint32_t*>(arg);
            r.out.assign(answered, answered + words);
        }
        r.result = o.result;
        r.error = o.result < 0 ? o.error : 0;
    }
    if (o.result < 0)
        errno = o.error;
    return o.result;
}

bool Board::Refused(const std::string& path, std::uint32_t request, Outcome& o)
{
    int error = 0;
    if (absent_[path])
        o = Outcome{-1, ENODEV, false};
    else if (TakeFailure(path, request, error))
        o = Outcome{-1, error, false};
    else
        return false;
    return true;
}

int Board::Finish(Request&& r, const Outcome& o)
{
    r.result = o.result;
    r.error = o.result < 0 ? o.error : 0;
    Record(std::move(r), o.quiet);
    if (o.result < 0)
        errno = o.error;
    return o.result;
}

int Board::Close(int fd)
{
    std::lock_guard<std::mutex> g(lock_);
    if (fd >= 0 && static_cast<std::size_t>(fd) < by_descriptor_.size()) {
        if (OpenFile* open = by_descriptor_[static_cast<std::size_t>(fd)])
            open->program = -1;
        by_descriptor_[static_cast<std::size_t>(fd)] = nullptr;
    }
    // The open the number holds, whether Open returned it or it is a
    // duplicate: once its last descriptor is closed the board's end hears
    // the hang-up at once (the kernel releases the socket before close
    // returns), and the open goes now rather than at the next sweep.
    struct stat st {};
    auto it = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) ? opens_.find(st.st_ino) : opens_.end();
    const int result = ::close(fd);
    const int error = errno;
    if (it != opens_.end() && Util::ProgramGone(it->second.fd))
        Drop(it);
    errno = error;
    return result;
}

int Board::NetIoctl(std::uint32_t request, void* ifreq)
{
    std::lock_guard<std::mutex> g(lock_);
    NetIfs& netifs = device<NetIfs>();
    Request r;
    r.device = netifs.path();
    r.request = request;
    r.name = NetIfs::NameOf(ifreq);
    r.in = NetIfs::WordsIn(request, ifreq);
    ++requests_[{&netifs, request}];
    Outcome o;
    if (!Refused(r.device, request, o))
        o = netifs.Ioctl(request, ifreq, 0);
    if (o.result >= 0)
        r.out = NetIfs::WordsOut(request, ifreq);
    return Finish(std::move(r), o);
}

std::uint64_t Board::Count(const std::string& path, std::uint32_t request) const
{
    std::lock_guard<std::mutex> g(lock_);
    if (request != kOpen) {
        auto it = requests_.find({Find(path), request});
        return it == requests_.end() ? 0 : it->second;
    }
    auto it = counts_.find({path, request});
    return it == counts_.end() ? 0 : it->second;
}

std::vector<Request> Board::Log() const
{
    std::lock_guard<std::mutex> g(lock_);
    std::vector<Request> out;
    out.reserve(log_.size());
    for (std::size_t i = 0; i < log_.size(); ++i)
        out.push_back(log_[(log_first_ + i) % log_.size()]);
    return out;
}

std::uint64_t Board::FormMismatches() const
{
    std::lock_guard<std::mutex> g(lock_);
    return form_mismatches_;
}

void Board::ClearLog()
{
    std::lock_guard<std::mutex> g(lock_);
    log_.clear();
    log_first_ = 0;
}

void Board::LogQuiet(bool on)
{
    std::lock_guard<std::mutex> g(lock_);
    log_quiet_ = on;
}

void Board::SetLogLimit(std::size_t limit)
{
    std::lock_guard<std::mutex> g(lock_);
    // In order again, the newest `limit` kept.
    std::vector<Request> ordered;
    const std::size_t keep = std::min(limit, log_.size());
    ordered.reserve(keep);
    for (std::size_t i = log_.size() - keep; i < log_.size(); ++i)
        ordered.push_back(std::move(log_[(log_first_ + i) % log_.size()]));
    log_.swap(ordered);
    log_first_ = 0;
    log_limit_ = limit;
}

bool Board::Fail(const std::string& path, std::uint32_t request, int count, int error)
{
    if (Find(path) == nullptr)
        return false;
    std::lock_guard<std::mutex> g(lock_);
    if (count <= 0)
        failures_.erase({path, request});
    else
        failures_[{path, request}] = Failure{count, error};
    return true;
}

bool Board::SetPresent(const std::string& path, bool present)
{
    if (Find(path) == nullptr)
        return false;
    std::lock_guard<std::mutex> g(lock_);
    absent_[path] = !present;
    if (const Device* d = Find(path)) {
        absent_devices_.erase(std::remove(absent_devices_.begin(), absent_devices_.end(), d),
                              absent_devices_.end());
        if (!present)
            absent_devices_.push_back(d);
    }
    return true;
}

int Board::Inject(const std::string& path, const void* data, std::size_t length)
{
    std::lock_guard<std::mutex> g(lock_);
    ForgetStaleOpens();
    int reached = 0;
    for (auto& [ino, open] : opens_)
        if (open.device->path() == path &&
            ::send(open.fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(length))
            ++reached;
    return reached;
}

std::vector<std::vector<unsigned char>> Board::Drain(const std::string& path)
{
    std::lock_guard<std::mutex> g(lock_);
    std::vector<std::vector<unsigned char>> records;
    std::vector<unsigned char> buf(65536);
    for (auto& [ino, open] : opens_) {
        if (open.device->path() != path)
            continue;
        for (;;) {
            ssize_t n = ::recv(open.fd, buf.data(), buf.size(), MSG_DONTWAIT);
            if (n <= 0)
                break;
            records.emplace_back(buf.begin(), buf.begin() + n);
        }
    }
    return records;
}

std::size_t Board::OpenCount(const std::string& path)
{
    std::lock_guard<std::mutex> g(lock_);
    ForgetStaleOpens();
    std::size_t n = 0;
    for (auto& [ino, open] : opens_)
        if (open.device->path() == path)
            ++n;
    return n;
}

std::string Board::Help() const
{
    // REQ: a request number such as 0x80044d03, or "open"; ERR: a number or
    // a name such as EIO.
    static const char* const board[] = {
        "help  this list",
        "reset  a healthy, fully equipped board again",
        "log  the request log, one line per request",
        "log clear  empties the request log",
        "log quiet on|off  also log the requests that change nothing (the switch refresh)",
        "log limit N  keeps at most N entries, the oldest dropped first (8192 after reset)",
        "count PATH REQ  \"ok N\": requests of that kind that reached the device, failed ones too",
        "fail PATH REQ|any N [ERR]  the next N such requests (any: but opens) fail with ERR, EIO by default",
        "absent PATH  opens fail with ENOENT, requests on earlier opens with ENODEV",
        "present PATH  the device is there again",
        "opens PATH  \"ok N\": live opens of the device",
        "inject PATH HEX  one record to read on every open; \"ok N\": the opens that received it",
        "netifs  the network interfaces of the board (as \"netif\")",
    };
    std::ostringstream out;
    std::size_t lines = 0;
    for (const char* line : board) {
        out << line << '\n';
        ++lines;
    }
    for (const auto& d : devices_) {
        std::ostringstream own;
        d->Help(own);
        std::istringstream in(own.str());
        for (std::string line; std::getline(in, line);) {
            out << d->path() << ' ' << line << '\n';
            ++lines;
        }
    }
    out << "ok " << lines << '\n';
    return out.str();
}

std::string Board::Command(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.empty())
        return "error empty request\n";
    if (words.size() == 1 && words[0] == "netifs")
        words[0] = "netif";
    // The public operations take the lock themselves; only the device
    // commands run under it here.
    const std::string& verb = words[0];
    if (verb == "help" && words.size() == 1)
        return Help();
    // A misspelt path must not answer "ok" for a failure that never fires.
    const bool names_path = verb == "count" || verb == "fail" || verb == "absent" || verb == "present" ||
                            verb == "opens" || verb == "inject";
    if (names_path && words.size() >= 2 && Find(words[1]) == nullptr)
        return "error unknown device " + words[1] + "\n";
    std::ostringstream out;
    std::uint32_t request = 0, n = 0;
    int error = EIO;
    std::vector<unsigned char> bytes;
    if (verb == "reset" && words.size() == 1) {
        Reset();
        return "ok\n";
    }
    if (verb == "log" && words.size() == 1) {
        auto log = Log();
        for (const Request& r : log)
            out << Format(r) << '\n';
        out << "ok " << log.size() << '\n';
        return out.str();
    }
    if (verb == "log" && words.size() == 2 && words[1] == "clear") {
        ClearLog();
        return "ok\n";
    }
    if (verb == "log" && words.size() == 3 && words[1] == "quiet" &&
        (words[2] == "on" || words[2] == "off")) {
        LogQuiet(words[2] == "on");
        return "ok\n";
    }
    if (verb == "log" && words.size() == 3 && words[1] == "limit" && Util::ParseNumber(words[2], n)) {
        SetLogLimit(n);
        return "ok\n";
    }
    if (verb == "count" && words.size() == 3 && ParseRequest(words[2], request) && request != kAny) {
        out << "ok " << Count(words[1], request) << '\n';
        return out.str();
    }
    if (verb == "fail" && (words.size() == 4 || words.size() == 5) && ParseRequest(words[2], request) &&
        Util::ParseNumber(words[3], n) && n <= 0x7FFFFFFF &&
        (words.size() == 4 || ParseErrno(words[4], error))) {
        Fail(words[1], request, static_cast<int>(n), error);
        return "ok\n";
    }
    if ((verb == "absent" || verb == "present") && words.size() == 2) {
        SetPresent(words[1], verb == "present");
        return "ok\n";
    }
    if (verb == "opens" && words.size() == 2) {
        out << "ok " << OpenCount(words[1]) << '\n';
        return out.str();
    }
    if (verb == "inject" && words.size() == 3) {
        if (!Util::ParseHex(words[2], bytes))
            return "error bad hex\n";
        out << "ok " << Inject(words[1], bytes.data(), bytes.size()) << '\n';
        return out.str();
    }
    if (Device* d = Find(verb)) {
        std::lock_guard<std::mutex> g(lock_);
        std::vector<std::string> rest(words.begin() + 1, words.end());
        if (d->Control(rest, out))
            return out.str();
        return "error unknown request for " + verb + "\n";
    }
    return "error unknown request\n";
}

void Board::Setup(const std::string& requests, std::ostream& errors)
{
    std::size_t at = 0;
    while (at <= requests.size()) {
        std::size_t end = requests.find(';', at);
        if (end == std::string::npos)
            end = requests.size();
        std::string line = requests.substr(at, end - at);
        if (line.find_first_not_of(' ') != std::string::npos) {
            std::string answer = Command(line);
            if (answer.rfind("ok", 0) != 0 && answer.find("\nok") == std::string::npos)
                errors << "GW_SIM_SETUP: " << line << ": " << answer << std::flush;
        }
        at = end + 1;
    }
}

} // namespace Sim
