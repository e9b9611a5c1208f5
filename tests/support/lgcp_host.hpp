#pragma once
// A controlling host for end-to-end tests: TCP to the server's control port,
// LGCP messages in TPKT frames (RFC 1006). Commands are built with the
// generated types and coded by the program's own coder (cross-checked
// against Erlang's asn1); what that encoder refuses is sent as raw bytes
// (support/per_writer.hpp writes them). Every wait is bounded.
//
//     E2E::LgcpHost host(server.port());
//     LGCP::Message m = E2E::Command(3);
//     m.get_pdu().select_command().set_connect(17);
//     host.Send(m);
//     EXPECT_EQ(host.Reply(), E2E::Success(3));

#include "asn1/modules/LGCP.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace E2E {

using Bytes = std::vector<std::uint8_t>;

class LgcpHost {
public:
    LgcpHost() = default;
    // Connects at once (see Connect); ok() tells whether it did.
    explicit LgcpHost(int port);
    ~LgcpHost();
    LgcpHost(LgcpHost const&) = delete;
    LgcpHost& operator=(LgcpHost const&) = delete;

    // Connects to 127.0.0.1:port, retrying while the server is not yet
    // listening. A `rcvbuf` above 0 shrinks the receive buffer first.
    bool Connect(int port, int rcvbuf = 0);
    void Close();
    bool ok() const { return fd_ >= 0; }
    int LocalPort() const;

    // The octets as they are: no frame is added.
    bool SendRaw(Bytes const& bytes);
    // One payload in one frame.
    bool Send(Bytes const& payload);
    bool Send(LGCP::Message const& message);

    // The next payload; false on end, error or time-out.
    bool Receive(Bytes& payload, int ms = 5000);
    // The next payload that is not a signal (an empty one on end, error or
    // time-out). Board services report on their own (trunk status on
    // connect and every second): the signals before it are read past and,
    // when `signals` is given, kept there.
    Bytes Reply(std::vector<LGCP::Message>* signals = nullptr, int ms = 5000);
    // The next payload that is not a trunk status (those come every second,
    // so a wait that restarts after each would never end) nor a power state
    // (at every connect, once or twice by the board's poll); empty after
    // `ms` in all.
    Bytes Next(int ms = 5000);
    // True when the server closes the connection within `ms`.
    bool ClosedWithin(int ms);

    // RFC 1006: version 3, reserved 0, the length of the whole frame.
    static Bytes Frame(Bytes const& payload)
    {
        std::size_t const len = payload.size() + 4;
        // Reserved whole, then appended: g++ 12 at -O2 saw the initializer
        // list's four octets as the buffer's bounds and flagged the insert.
        Bytes f;
        f.reserve(len);
        f.push_back(3);
        f.push_back(0);
        f.push_back(static_cast<std::uint8_t>(len >> 8));
        f.push_back(static_cast<std::uint8_t>(len));
        f.insert(f.end(), payload.begin(), payload.end());
        return f;
    }

private:
    bool Fill(int ms);
    bool ReceiveUntil(Bytes& payload, std::chrono::steady_clock::time_point until);
    // The next payload that decodes to a message `skip` does not read past,
    // within `ms` in all; empty after that.
    template <class Skip>
    Bytes ReceivePast(int ms, Skip skip);

    int fd_ = -1;
    Bytes buffer_;
    bool eof_ = false;
};

// A message with `seq` and `slot` (none when negative); select the PDU.
inline LGCP::Message Message(int seq, int slot = -1)
{
    LGCP::Message m;
    if (seq >= 0)
        m.set_seq(seq);
    if (slot >= 0)
        m.set_slot(static_cast<std::uint32_t>(slot));
    return m;
}
// `Message` with the command PDU selected.
inline LGCP::Message Command(int seq, int slot = -1)
{
    LGCP::Message m = Message(seq, slot);
    m.get_pdu().select_command();
    return m;
}

// The program's aligned-PER coder; Encode gives nothing when it refuses.
Bytes Encode(LGCP::Message const& message);
bool Decode(Bytes const& payload, LGCP::Message& message);
// The responses as the server must send them.
Bytes Success(int seq, int slot = -1);
Bytes Error(int seq, LGCP::ErrorCause::NamedNumber cause, int slot = -1);

// "80 01 01 18" <-> octets (anything but hex digits between octets is
// skipped).
std::string Hex(Bytes const& bytes);
Bytes Unhex(std::string const& text);
// The value notation of a payload on one line ("{ seq 1, pdu command : ping :
// NULL }"); "(no value notation)" for an alternative that the schema does
// not name; empty when it does not decode.
std::string Notation(Bytes const& payload);

} // namespace E2E
