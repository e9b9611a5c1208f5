#pragma once
// A controlling host for the end-to-end tests: TCP, TPKT framing (RFC 1006),
// payloads in and out as octets. Every wait is bounded.

#include <cstdint>
#include <string>
#include <vector>

namespace ctltest {

using Bytes = std::vector<std::uint8_t>;

class LgcpClient {
public:
    LgcpClient() = default;
    ~LgcpClient();
    LgcpClient(LgcpClient const&) = delete;
    LgcpClient& operator=(LgcpClient const&) = delete;

    // Connects to 127.0.0.1:port, retrying for up to `seconds` while the
    // server is not yet listening. A `rcvbuf` above 0 shrinks the receive
    // buffer before the connection is made.
    bool connect(int port, int seconds = 10, int rcvbuf = 0);
    void close();
    int fd() const { return fd_; }
    int local_port() const;

    bool send_raw(Bytes const& bytes);
    bool send(Bytes const& payload);
    // The next payload, or false on EOF, error or time-out.
    bool receive(Bytes& payload, int timeout_ms = 5000);
    // The next payload that is not a signal, or an empty vector (see
    // receive()).
    Bytes reply(int timeout_ms = 5000);
    // True when the server closes the connection within the time-out.
    bool closed_within(int timeout_ms);
    bool eof() const { return eof_; }

    static Bytes frame(Bytes const& payload);

private:
    bool fill(int timeout_ms);

    int fd_ = -1;
    Bytes buffer_;
    bool eof_ = false;
};

} // namespace ctltest
