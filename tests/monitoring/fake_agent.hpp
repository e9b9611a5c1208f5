#pragma once

// A stand-in for the SNMP agent processes: a TCP listener on loopback that
// accepts any number of connections, reassembles TPKT frames (RFC 1006)
// however the bytes are split, decodes each payload as MON::Message with the
// program's own decoder, records the payload and the message in order, and
// answers every command with a success response of the same alternative.
//
// It runs no loop of its own: in process a test calls Poll() between loop
// passes; beside build/server, WaitUntil() polls in real time.
//
//     MonTest::FakeAgent agent;                 // agent.port()
//     ... server connects ...
//     agent.Poll();                             // accept, read, answer
//     agent.commands()[0].is_snmp_set()

#include "asn1/modules/MON.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace MonTest {

using Bytes = std::vector<std::uint8_t>;

class FakeAgent {
public:
    // What the agent does with a command it received.
    enum class Mode { Answer, Silent, Close };

    struct Record {
        int connection = 0; // the accept number, from 1
        Bytes payload;
        bool decoded = false;
        MON::Message message;
    };

    // Listens on 127.0.0.1:port; 0 takes a port the kernel picks.
    explicit FakeAgent(int port = 0);
    ~FakeAgent();
    FakeAgent(FakeAgent const&) = delete;
    FakeAgent& operator=(FakeAgent const&) = delete;

    int port() const { return port_; }
    bool listening() const { return listen_ >= 0; }
    void mode(Mode m) { mode_ = m; }

    // Accepts, reads and answers what is ready, waiting at most timeout_ms
    // for the first event (0: only what is ready now). True when anything
    // happened.
    bool Poll(int timeout_ms = 0);
    // Polls until done() holds or timeout_ms of real time have passed.
    template <class F>
    bool WaitUntil(F done, int timeout_ms = 10000)
    {
        auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            Poll(static_cast<int>(std::min<long long>(left.count(), 50)));
        }
        return true;
    }

    // One payload in one TPKT frame, or bytes as they are, to every open
    // connection.
    void SendPayload(Bytes const& payload);
    void SendRaw(Bytes const& bytes);
    // Closes every open connection; the listener stays.
    void CloseAll();

    int accepted() const { return accepted_; }
    int open() const;
    // Connections closed by the peer (not by CloseAll or Mode::Close).
    int closed_by_peer() const { return closedByPeer_; }
    std::vector<Record> const& records() const { return records_; }
    // The decoded commands, in order.
    std::vector<MON::Command> commands() const;
    // The payloads as "MON.Message <HEX>" lines.
    std::string corpus() const;
    void clear() { records_.clear(); }

    static Bytes Frame(Bytes const& payload);

private:
    struct Connection {
        int fd = -1;
        int number = 0;
        Bytes buffer;
    };

    void Accept();
    // False when the connection is to be dropped.
    bool Read(Connection& c);
    bool Frames(Connection& c);
    void Answer(Connection& c, MON::Command const& command);
    static bool WriteAll(int fd, Bytes const& bytes);

    int listen_ = -1;
    int port_ = 0;
    Mode mode_ = Mode::Answer;
    int accepted_ = 0;
    int closedByPeer_ = 0;
    std::vector<Connection> connections_;
    std::vector<Record> records_;
};

// Text as the agents receive it: the commands' entries, "uniq section.name[index]=value" each.
std::vector<std::string> SetEntries(MON::Command const& command);

} // namespace MonTest
