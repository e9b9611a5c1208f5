#include "slots/auth_relay.hpp"

#include "core/clock.hpp"
#include "core/ext.hpp"
#include "slots/modem_slot.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

std::ostream& Auth::Nowhere()
{
    static std::ostream nowhere(nullptr);
    return nowhere;
}

// ---------------------------------------------------------------------------
// AuthRecords

void AuthRecords::Reset()
{
    held_ = 0;
    want_ = 4;
}

AuthRecords::Step AuthRecords::Filled(std::size_t n)
{
    held_ += n < Wanted() ? n : Wanted();
    if (held_ < want_)
        return Step::More;
    // The length word counts the whole record. One shorter than the header
    // would end before its session word, and the words left in the buffer
    // belong to the record before it.
    const std::uint32_t length = record_.length;
    if (length < Auth::kMinRecord || length > Auth::kMaxRecord) {
        Reset();
        return Step::BadLength;
    }
    if (held_ < length) {
        want_ = length;
        return Step::More;
    }
    Reset();
    return Step::Record;
}

// ---------------------------------------------------------------------------
// AuthClient

AuthClient::AuthClient(OwnedFd fd, INet4::Addr const& peer, ModemFactory& factory)
    : socket(std::move(fd)), peer(peer), factory(factory), heard(Mux::milliseconds())
{
    event.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

AuthClient::~AuthClient()
{
    Summarise();
}

std::ostream& AuthClient::Complaint(Auth::Line kind)
{
    unsigned char& logged = complaints[static_cast<int>(kind)];
    if (logged < kLoggedComplaints) {
        ++logged;
        // A program that connects anew for each bad record is held to
        // the relay's own allowance.
        return factory.AuthLine(kind, std::cerr);
    }
    const std::uint32_t now = Mux::milliseconds();
    if (unlogged++ == 0)
        summarised = now;
    else if (now - summarised >= kSummaryMs)
        Summarise();
    return Auth::Nowhere();
}

void AuthClient::Summarise()
{
    if (unlogged == 0)
        return;
    factory.AuthLine(Auth::Line::Summary, std::cerr, unlogged)
        << "auth client " << peer << ": " << unlogged << " more errors not logged." << std::endl;
    unlogged = 0;
    summarised = Mux::milliseconds();
}

bool AuthClient::Activate()
{
    if (!event.Schedule(socket.fd(), POLLIN))
        return false;
    deadline.set(kRecordMs, &AuthClient::OnDeadline, this);
    return true;
}

void AuthClient::OnDeadline()
{
    if (closed())
        return;
    factory.AuthLine(Auth::Line::TimedOut, std::cerr)
        << "auth client " << peer << ": no whole record in " << kRecordMs << " ms." << std::endl;
    OnDisconnect();
    CheckDisconnect(); // deletes this
}

void AuthClient::OnDisconnect()
{
    event.Release();
    socket.reset();
    deadline.reset();
    // What it frees of a call's place is held again at once.
    factory.KeepPlaces();
}

void AuthClient::CheckDisconnect()
{
    if (depth == 0 && closed())
        factory.OnAuthSocketDisconnect(this); // deletes this
}

bool AuthClient::Send(attr const* record)
{
    if (closed())
        return false;
    ++depth;
    auto const* p = reinterpret_cast<unsigned char const*>(record);
    std::size_t left = record->length;
    bool ok = true;
    while (left > 0) {
        // MSG_NOSIGNAL: a peer that has gone must not stop the server.
        const ssize_t n = ::send(socket.get(), p, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            OnDisconnect();
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    --depth;
    return ok;
}

void AuthClient::OnSocketEvent(int, short revents)
{
    ++depth;
    if ((revents & (POLLERR | POLLHUP)) != 0)
        OnDisconnect();
    else if ((revents & POLLIN) != 0)
        Receive();
    --depth;
    CheckDisconnect();
}

bool AuthClient::HearWaiting()
{
    if (closed())
        return false;
    pollfd p{socket.get(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || p.revents == 0)
        return false;
    OnSocketEvent(p.fd, p.revents); // may delete this
    return true;
}

void AuthClient::Receive()
{
    for (int reads = 0; reads < kReadsPerPass && !closed(); ++reads) {
        const ssize_t n = ::read(socket.get(), records.Space(), records.Wanted());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            OnDisconnect();
            return;
        }
        heard = Mux::milliseconds();
        // The first record is due from the connect on; a later one from
        // its first bytes.
        const bool begins = !records.Begun() && hasSession;
        switch (records.Filled(static_cast<std::size_t>(n))) {
        case AuthRecords::Step::More:
            if (begins)
                deadline.set(kRecordMs, &AuthClient::OnDeadline, this);
            break;
        case AuthRecords::Step::BadLength:
            factory.AuthLine(Auth::Line::BadLength, std::cerr)
                << "auth client " << peer << ": bad record length " << records.Get().length << '.'
                << std::endl;
            OnDisconnect();
            return;
        case AuthRecords::Step::Record:
            deadline.reset();
            session = records.Get().session;
            hasSession = true;
            factory.speaking = this;
            factory.OnAuth(&records.Get());
            factory.speaking = nullptr;
            break;
        }
    }
}
