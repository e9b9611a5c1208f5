#pragma once

// The PPP authentication relay's records and its local connections.
//
// While pppd runs for a modem slot, the board's authentication program
// connects to 127.0.0.1:52000, asks for the PPP user to be authenticated
// (type 1) and later reports the call's accounting (type 4); the server
// answers with an accept (type 2) and an IP configuration (type 3). Every
// word is 32-bit in the machine's byte order (the peer is local); the
// first counts the whole record, itself included. The session word is the
// modem number of the slot the record is for.

#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/inet.hpp"
#include "core/timer.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>

class ModemFactory;

namespace Auth {

constexpr std::uint16_t kPort = 52000;
// A record shorter than its header would end before its session word.
constexpr std::uint32_t kMinRecord = 12;
constexpr std::uint32_t kMaxRecord = 512;

enum Type : std::uint32_t {
    kRequest = 1,
    kAccept = 2,
    kIp = 3,
    kAccounting = 4,
};

// What a line of the relay's log is about: each kind has its own allowance.
enum class Line : unsigned char {
    // About a received record; counted per connection too.
    RequestSize,
    Accept,
    Ip,
    AccountingSize,
    Type,
    Session,
    // About a connection.
    Incoming,
    Disconnected,
    Evicted,
    TimedOut,
    BadLength,
    Summary,
    Count,
};

// A stream that writes nowhere, for lines beyond their allowance.
std::ostream& Nowhere();

} // namespace Auth

// One record in general: the header, then the payload its type gives.
struct attr {
    std::uint32_t length;
    std::uint32_t type;
    std::uint32_t session;
    std::uint32_t payload[(Auth::kMaxRecord - 12) / 4];
};
static_assert(sizeof(attr) == Auth::kMaxRecord);
static_assert(offsetof(attr, payload) == 12);

// Type 1: each field a NUL-terminated string within its 64 bytes, or not.
struct voauth {
    std::uint32_t length;
    std::uint32_t type;
    std::uint32_t session;
    char username[64];
    char password[64];
};
static_assert(sizeof(voauth) == 140);
static_assert(offsetof(voauth, password) == 76);

// Type 4: the 64-bit counters high word first.
struct voacct {
    std::uint32_t length;
    std::uint32_t type;
    std::uint32_t session;
    std::uint32_t unread1[3];
    std::uint32_t octetsOut[2];
    std::uint32_t octetsIn[2];
    std::uint32_t packetsOut[2];
    std::uint32_t packetsIn[2];
    std::uint32_t time;
    std::uint32_t unread2;
};
static_assert(sizeof(voacct) == 64);
static_assert(offsetof(voacct, octetsOut) == 24);
static_assert(offsetof(voacct, time) == 56);

// Cuts a byte stream into records, without any socket: the caller reads
// into Space() and reports the count to Filled().
class AuthRecords {
public:
    enum class Step { More, Record, BadLength };

    AuthRecords() { Reset(); }

    // Where the next bytes go, and how many are wanted at most.
    unsigned char* Space() { return bytes() + held_; }
    // Part of a record has arrived.
    bool Begun() const { return held_ > 0; }
    std::size_t Wanted() const { return want_ - held_; }
    // `n` bytes (at most Wanted()) have arrived. Record: Get() holds a
    // whole record until the next call. BadLength: the stream is unusable.
    Step Filled(std::size_t n);
    attr const& Get() const { return record_; }
    void Reset();

private:
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(&record_); }

    attr record_;
    std::size_t held_ = 0;
    std::size_t want_ = 4;
};

// One accepted connection of the authentication program.
class AuthClient {
public:
    // Reads per readiness callback: a peer that never stops writing must
    // not hold the loop (the poll is level-triggered, the rest waits for
    // the next pass).
    static constexpr int kReadsPerPass = 32;
    // The same complaint about its records is logged this many times as it
    // comes; the rest are counted, and summed up at most every kSummaryMs
    // and at the end.
    static constexpr unsigned int kLoggedComplaints = 3;
    static constexpr std::uint32_t kSummaryMs = 10000;
    // The program is local and writes each record whole, at once after
    // connecting: a connection with no whole record this long after its
    // connect, or after the first bytes of a record, is idle or stalled and
    // is closed, so that it does not keep its place from a call's program.
    // Seconds leave a loaded board ample room.
    static constexpr std::uint32_t kRecordMs = 5000;
    // The socket and its event's duplicate.
    static constexpr std::size_t kDescriptors = 2;

    AuthClient(OwnedFd fd, INet4::Addr const& peer, ModemFactory& factory);
    ~AuthClient();
    AuthClient(AuthClient const&) = delete;
    AuthClient& operator=(AuthClient const&) = delete;

    // Starts polling for input; false (errno set) when the socket cannot be
    // watched.
    bool Activate();
    // Writes the whole record; false (and the connection closed) on failure.
    bool Send(attr const* record);
    void OnSocketEvent(int fd, short revents);
    // Closes the socket and leaves the loop.
    void OnDisconnect();
    // A closed connection is handed to the factory to be forgotten, unless
    // one of its callbacks is still running.
    void CheckDisconnect();

    bool closed() const { return !socket; }
    // The session word of the last complete record, once there is one.
    bool has_session() const { return hasSession; }
    std::uint32_t get_session() const { return session; }
    INet4::Addr const& get_peer() const { return peer; }
    // Loop milliseconds when it connected or bytes last came.
    std::uint32_t last_heard() const { return heard; }
    // Serves what is waiting on the connection, or its end, now rather
    // than at the loop's next pass; false when nothing is waiting.
    bool HearWaiting();
    // Where the next complaint of this kind about one of its records goes.
    std::ostream& Complaint(Auth::Line kind);
    // Let in on the place kept for a data call's program
    // (ModemFactory::KeepPlaces).
    bool on_kept_place() const { return keptPlace; }
    void set_kept_place(bool on) { keptPlace = on; }

private:
    void Receive();
    void Summarise();
    void OnDeadline();

    Event event;
    OwnedFd socket;
    INet4::Addr peer;
    int depth = 0;
    AuthRecords records;
    ModemFactory& factory;
    // Until the first record, no answer may reach the connection: not even
    // one for a modem whose number is -1 (0xFFFFFFFF on the wire).
    bool hasSession = false;
    std::uint32_t session = 0;
    bool keptPlace = false;
    std::uint32_t heard = 0;
    // Armed while a whole record is due.
    Timer deadline;
    unsigned char complaints[static_cast<int>(Auth::Line::Count)] = {};
    unsigned long unlogged = 0;
    std::uint32_t summarised = 0;
};
