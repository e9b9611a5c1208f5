#pragma once
// Control::Service, the framed connection (not CtrlSrv::Service, the LGCP
// command handler base of control/ctrl_service.hpp).
//
// One framed stream connection: the stream socket layer under the TPKT
// layer, a connection state and one sink that hears of connect, disconnect
// and every received payload. How the socket is obtained is left to the
// acceptor and connector that derive from it.

#include "core/dpc.hpp"
#include "core/fd.hpp"
#include "core/measure.hpp"
#include "core/inet.hpp"
#include "core/packet.hpp"
#include "core/protocol.hpp"

#include <cstdint>
#include <string>

class StrmProtocol;
class Tpkt_protocol;

namespace Control {

class Notify {
public:
    virtual ~Notify() = default;
    virtual void OnConnect() = 0;
    virtual void OnDisconnect() = 0;
    // One TPKT payload; valid only during the call.
    virtual void OnMessage(char const* data, int length) = 0;
};

class Service : protected ProtocolsFamily {
public:
    struct State {
        enum Type { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
    };

    Service();
    ~Service() override;

    bool Activate();
    void Deactivate();
    void Disconnect();
    // Sends one payload as one TPKT frame while Connected.
    void Send(char const* data, int length);
    // A packet with the stack's head room: a payload written straight into
    // its tail room and sent with Send(Packet&) is never copied.
    Packet NewPayload();
    // Sends the packet's content as one TPKT frame, as Send(data, length).
    void Send(Packet& payload);

    void Bind(Notify* notify) { notify_ = notify; }
    void UnBind() { notify_ = nullptr; }
    Notify* notify() const noexcept { return notify_; }

    void service_name(std::string const& name);
    std::string const& service_name() const;
    void Release();

    std::uint32_t GetOverflowCounter() const;
    Measure const& get_read_measure() const;
    Measure const& get_write_measure() const;

    State::Type state() const noexcept { return state_; }
    std::string const& peer_name() const noexcept { return name_; }
    bool log() const noexcept { return log_; }
    void log(bool on) noexcept { log_ = on; }

protected:
    void on_message(Packet& pkt) override;
    void on_activated(Protocol* p) override;
    void on_deactivated(Protocol* p, Protocol_status status) override;

    virtual bool ImplActivate() = 0;
    virtual void ImplDeactivate() = 0;
    virtual void ImplOnDisconnect() = 0;

    void OnDeactivateDPC();
    // Attaches a connected socket and brings the stack up; the sink hears
    // OnConnect last.
    void attach_connected(Fd fd, std::string const& name);

    StrmProtocol& stream() const noexcept { return *stream_; }

private:
    // The state and size checks of a send, with their lines.
    bool MaySend(long length) const;
    void Transmit(Packet& pkt);

protected:
    std::string name_;
    bool log_ = true;
    State::Type state_ = State::Idle;
    Notify* notify_ = nullptr;
    StrmProtocol* stream_ = nullptr;
    Tpkt_protocol* tpkt_ = nullptr;
    Dpc dpc_;
};

char const* GetTextNotation(Service::State::Type state);

class ServiceNet : public Service {
public:
    ServiceNet();

    // Attaches a connected TCP socket (ignored while Deactivating).
    void Connected(Fd fd, INet4::Addr const& peer);

    INet4::Addr const& peer() const noexcept { return peer_; }

protected:
    INet4::Addr peer_;
};

} // namespace Control
