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
    : socket(std::move(fd)), peer(peer), factory(factory)
{
    event.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

AuthClient::~AuthClient()
{
    Summarise();
}

std::ostream& AuthClient::Complaint(Auth::Complaint kind)
{
    unsigned char& logged = complaints[static_cast<int>(kind)];
    if (logged < kLoggedComplaints) {
        ++logged;
        return std::cerr;
    }
    const std::uint32_t now = Mux::milliseconds();
    if (unlogged++ == 0)
        summarised = now;
    else if (now - summarised >= kSummaryMs)
        Summarise();
    static std::ostream nowhere(nullptr);
    return nowhere;
}

void AuthClient::Summarise()
{
    if (unlogged == 0)
        return;
    std::cerr << "auth client " << peer << ": " << unlogged << " more errors not logged." << std::endl;
    unlogged = 0;
    summarised = Mux::milliseconds();
}

void AuthClient::Activate()
{
    event.Schedule(socket.fd(), POLLIN);
}

void AuthClient::OnDisconnect()
{
    event.Release();
    socket.reset();
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
        switch (records.Filled(static_cast<std::size_t>(n))) {
        case AuthRecords::Step::More:
            break;
        case AuthRecords::Step::BadLength:
            std::cerr << "auth client " << peer << ": bad record length " << records.Get().length << '.'
                      << std::endl;
            OnDisconnect();
            return;
        case AuthRecords::Step::Record:
            session = records.Get().session;
            hasSession = true;
            factory.speaking = this;
            factory.OnAuth(&records.Get());
            factory.speaking = nullptr;
            break;
        }
    }
}
