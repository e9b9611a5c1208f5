#pragma once
// CtrlSrv::Service, the LGCP command handler base (not Control::Service, the
// framed connection of control/service.hpp).
//
// Base of every object that the control server offers LGCP commands to.
// A service hears of the controller's arrival and departure, is asked in
// turn whether it takes each command, and answers through the operations
// below, which forward to the server it is bound to.

#include "asn1/modules/LGCP.hpp"

namespace CtrlSrv {

class Server;

class Service {
public:
    Service() = default;
    Service(Service const&) = delete;
    Service& operator=(Service const&) = delete;
    virtual ~Service() = default;

    virtual void OnConnect() = 0;
    // The controller has gone (also once more when the server stops).
    virtual void OnDisconnect() = 0;
    // True when this service takes the command; it must then answer or
    // delay. The command lives only for the duration of the call.
    virtual bool OnCommand(LGCP::Command const& command) = 0;
    // Another service is sending this signal to the controller.
    virtual void OnSignal(LGCP::Signal const&) {}

    bool CheckServer() const;
    void Success();
    void Error(LGCP::ErrorCause::NamedNumber cause);
    void SendSignal(LGCP::Signal const& signal);
    void SendSignal(unsigned int slot, LGCP::Signal const& signal);
    unsigned int GetSlot() const;
    bool IsSlotPresent() const;
    unsigned int delayResponse();
    bool IsSeqPresent() const;
    void delayedSuccess(unsigned int slot, unsigned int seq, bool seqPresent = true);
    bool CheckServerConnection(bool& connected) const;

    Server* server() const noexcept { return server_; }

private:
    friend class Server;
    void fan_out(LGCP::Signal const& signal);

    Server* server_ = nullptr;
};

} // namespace CtrlSrv
