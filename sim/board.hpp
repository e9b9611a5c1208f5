#pragma once

// The simulated board: the drivers of the board's device files, for the
// machines that have no board. Each open of a known device returns one end
// of a SOCK_SEQPACKET socket pair (real poll readiness, real EAGAIN, one
// record per read); the board keeps the other end. A request on a number
// that Open returned costs a table lookup and no system call nor allocation:
// every such number is closed through Close (a DeviceFd), which takes it out
// of the table. Any other number is a duplicate (dup(2)), which may be
// closed with close(2): it is found by the inode of the socket it holds at
// that moment (one fstat and one poll), so every duplicate reaches the same
// open, and a number given out again reaches whatever it holds now. The
// open goes, and the board closes its end, when Close takes its last
// descriptor; one whose last duplicate went with close(2) goes at the next
// open or query.
//
// Two faces over one model: this C++ API for in-process tests, and a line
// protocol (Command) that the control socket serves when GW_SIM_SOCKET names
// a path (see control.hpp). Every public operation takes the board's lock,
// except the device models returned by device<M>(): in-process tests use
// those directly, with no control socket running.
//
// The devices are registered in one list, in Board::Board() (board.cpp): a
// new device model is a Device subclass and one line there. Its requests,
// counters, request log, failure injection and absence come from the board;
// its own words of the control language from its Control and Help.

#include "sim/device.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/types.h>

namespace Sim {

// Pseudo request numbers (no board request is 0 or all ones).
constexpr std::uint32_t kOpen = 0;          // an open of the device
constexpr std::uint32_t kAny = 0xFFFFFFFFu; // any request (failure injection)

// One entry of the request log.
struct Request {
    std::string device;
    std::uint32_t request = 0;      // kOpen for an open
    std::string name;               // the interface of a network-interface request
    std::vector<std::uint32_t> in;  // argument words as the program gave them
    std::vector<std::uint32_t> out; // the same words after the driver answered (read requests)
    int result = 0;
    int error = 0;
};

// "/dev/hal 0xc0084d05 8458 255 -> 8458 62 = 0", "/dev/hal open = 5",
// "/dev/hal 0x80044d03 8192 = -1 EIO", "netif 0x0000894a hdlc0 8193 4 = 0".
std::string Format(const Request& r);

class Board {
public:
    static Board& instance();

    // A healthy, fully equipped board: every device present and in its
    // normal state, no failure pending, counters and log empty, every open
    // forgotten (the board closes its ends, so the program's reads see EOF).
    void Reset();

    // The model of class M, e.g. device<Hal>() for "/dev/hal".
    template <class M>
    M& device() const
    {
        for (const auto& d : devices_)
            if (auto* m = dynamic_cast<M*>(d.get()))
                return *m;
        std::abort(); // not a device of this board: a test's mistake
    }
    // The device at `path`, null when the board has none there.
    Device* Find(const std::string& path) const;

    // The driver side, called by the simulated backend of the driver port.
    int Open(const char* path, int flags);
    int Ioctl(int fd, std::uint32_t request, void* arg, unsigned long value, bool by_value);
    int Close(int fd);
    // A network-interface request for one of the board's interfaces
    // (NetIfs::Owns); `ifreq` is the kernel's interface record.
    int NetIoctl(std::uint32_t request, void* ifreq);

    // Requests that reached the device (kOpen: opens); failed ones count too.
    std::uint64_t Count(const std::string& path, std::uint32_t request) const;
    std::vector<Request> Log() const;
    void ClearLog();
    // Requests whose argument had another form than the request number
    // encodes; each failed, a value for a record with EFAULT, a record for a
    // value with EINVAL. 0 after Reset.
    std::uint64_t FormMismatches() const;
    // Also log requests that change nothing (the switch refresh); off after Reset.
    void LogQuiet(bool on);
    // At most this many entries are kept, the oldest dropped first (8192 after
    // Reset); a full log reuses its oldest entry's storage.
    void SetLogLimit(std::size_t limit);

    // The next `count` requests of this kind on the device (kOpen: opens,
    // kAny: any request but opens) fail with `error`; false when the board
    // has no device at `path`.
    bool Fail(const std::string& path, std::uint32_t request, int count, int error);
    // An absent device: opens fail with ENOENT, requests on earlier opens
    // with ENODEV. False when the board has no device at `path`.
    bool SetPresent(const std::string& path, bool present);

    // Queues one record to be read on every live open of the device; returns
    // the number of opens that received it.
    int Inject(const std::string& path, const void* data, std::size_t length);
    // Takes the records that the program wrote to the device's opens.
    std::vector<std::vector<unsigned char>> Drain(const std::string& path);
    // Opens of the device whose program side is still open.
    std::size_t OpenCount(const std::string& path);

    // One line of the control language; returns the answer: zero or more
    // data lines, then a last line "ok ..." or "error ...". The request
    // "help" lists the language: the board's requests and every device's.
    // A request that names a path where the board has no device is refused.
    std::string Command(const std::string& line);
    // Requests separated by ';' (GW_SIM_SETUP); a refused one is reported on
    // `errors`.
    void Setup(const std::string& requests, std::ostream& errors);

private:
    Board();
    // Registers a device model built from `args`.
    template <class M, class... A>
    void Add(A&&... args)
    {
        devices_.push_back(std::make_unique<M>(std::forward<A>(args)...));
    }
    struct OpenFile {
        Device* device;
        int fd;           // the board's end
        int program = -1; // the descriptor Open returned, until Close
        // The count of the request this open received last.
        std::uint32_t last_request = 0;
        std::uint64_t* last_count = nullptr;
    };
    using Opens = std::map<ino_t, OpenFile>;
    struct Failure {
        int count = 0;
        int error = 0;
    };
    bool TakeFailure(const std::string& path, std::uint32_t request, int& error);
    // The entry to fill for the next logged request.
    Request& NextLogEntry();
    // An absent device or a failure asked for: `o` says how; false when
    // the request reaches the model.
    bool Refused(const std::string& path, std::uint32_t request, Outcome& o);
    // Logs the request with its outcome, sets errno; the result.
    int Finish(Request&& r, const Outcome& o);
    void Record(Request&& r, bool quiet);
    // `program` (a descriptor Open returns) stands for `open` from now on.
    void Enter(int program, OpenFile* open);
    // Tells the device, closes the board's end, forgets the open.
    Opens::iterator Drop(Opens::iterator it);
    void ForgetStaleOpens();
    void CloseAllOpens();
    // The board's end and device of the open whose program end has `inode`,
    // or -1.
    int OpenOf(ino_t inode, std::string& path) const;
    std::string CommandLocked(const std::vector<std::string>& words);

    std::string Help() const;

    mutable std::mutex lock_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::map<std::string, bool> absent_;
    Opens opens_;
    std::vector<OpenFile*> by_descriptor_; // by the descriptor Open returned
    std::vector<pollfd> polled_;           // ForgetStaleOpens' working list
    std::vector<const Device*> absent_devices_;
    std::map<std::pair<std::string, std::uint32_t>, std::uint64_t> counts_; // opens, by path
    std::map<std::pair<const Device*, std::uint32_t>, std::uint64_t> requests_;
    std::map<std::pair<std::string, std::uint32_t>, Failure> failures_;
    std::vector<Request> log_; // a ring once full: log_first_ is the oldest
    std::size_t log_first_ = 0;
    std::size_t log_limit_ = 8192;
    bool log_quiet_ = false;
    std::uint64_t form_mismatches_ = 0;
};

} // namespace Sim
