#pragma once
// Small self-contained TCP servers that exchange TPKT-framed payloads
// (RFC 1006: version 3, reserved 0, 16-bit big-endian length that counts the
// 4 header octets) with any number of clients, for traces and peer links.
// They share nothing with the controller connection.
//
// TPKTTracer hands every payload it receives to one receiver and broadcasts
// what it is given; TPKTTracerP2P keeps one connection per peer address and
// sends to a chosen peer.
//
// A connection closed while the listener is walking its connections (a
// broadcast, a delivery to the receiver, a receiver that closes or sends
// from its callback) leaves the walk at once but its record, and the
// payload buffer the receiver was given, live until the walk is over.

#include "core/accept_pause.hpp"
#include "core/event.hpp"
#include "core/inet.hpp"

#include <cstddef>
#include <list>

class TPKTTracer {
public:
    class Receiver {
    public:
        virtual ~Receiver() = default;
        // One payload; valid only during the call.
        virtual void OnPacket(void const* data, unsigned int length) = 0;
    };

    static constexpr unsigned int max_payload = 512;

    TPKTTracer();
    ~TPKTTracer();
    TPKTTracer(TPKTTracer const&) = delete;
    TPKTTracer& operator=(TPKTTracer const&) = delete;

    void SetReceiver(Receiver* receiver) noexcept { receiver_ = receiver; }

    // Listens on every address at `port`; false if any step fails.
    bool Listen(unsigned short port);
    // The port actually bound (useful with port 0); 0 when not listening.
    unsigned short local_port() const;

    void OnEvent(int fd, short revents);
    void OnDataEvent(int fd, short revents);

    // While a payload is being delivered, a reply to its connection only;
    // otherwise to every connection.
    void Send(void const* data, unsigned int length);

    std::size_t connection_count() const;

private:
    struct Connection {
        int state = 1; // 1: reading a header, 0: reading a payload
        unsigned int need = 4;
        unsigned int have = 0;
        bool closed = false;
        Event event; // owns the socket
        unsigned char buffer[max_payload];
    };
    using List = std::list<Connection>;

    List::iterator FindConnection(int fd);
    void CloseConnection(List::iterator it);
    void SendTo(List::iterator it, void const* data, unsigned int length);
    void Leave();

    Receiver* receiver_ = nullptr;
    Event listen_;
    AcceptPause pause_;
    List connections_;
    List::iterator current_;
    bool delivering_ = false;
    int busy_ = 0;
};

class TPKTTracerP2P {
public:
    class Receiver {
    public:
        virtual ~Receiver() = default;
        // `fd` is the connection's socket, valid while it is open.
        virtual void OnOpen(INet4::Addr const& peer, int fd) = 0;
        virtual void OnClose(INet4::Addr const& peer) = 0;
        // One payload; valid only during the call.
        virtual void OnPacket(INet4::Addr const& peer, void const* data, unsigned int length) = 0;
    };

    static constexpr unsigned int max_payload = 2048;

    TPKTTracerP2P();
    ~TPKTTracerP2P();
    TPKTTracerP2P(TPKTTracerP2P const&) = delete;
    TPKTTracerP2P& operator=(TPKTTracerP2P const&) = delete;

    void SetReceiver(Receiver* receiver) noexcept { receiver_ = receiver; }

    bool Listen(unsigned short port);
    unsigned short port() const noexcept { return port_; }
    unsigned short local_port() const;

    void OnEvent(int fd, short revents);
    void OnDataEvent(int fd, short revents);

    // The byte count sent; -EFAULT without a connection to `peer`,
    // -EMSGSIZE for a payload no TPKT frame can carry, minus the error
    // number of a failed send.
    int Send(INet4::Addr const& peer, void const* data, unsigned int length);
    // 0, or -EFAULT without a connection to `peer`.
    int Close(INet4::Addr const& peer);
    bool IsConnected(INet4::Addr const& peer);

    std::size_t connection_count() const;

private:
    struct Connection {
        int state = 1;
        unsigned int need = 4;
        unsigned int have = 0;
        bool closed = false;
        INet4::Addr peer;
        Event event;
        unsigned char buffer[max_payload];
    };
    using List = std::list<Connection>;

    List::iterator FindConnection(int fd);
    List::iterator FindConnection(INet4::Addr const& peer);
    void CloseConnection(List::iterator it);
    void Leave();

    Receiver* receiver_ = nullptr;
    Event listen_;
    AcceptPause pause_;
    List connections_;
    unsigned short port_ = 0;
    int busy_ = 0;
};
