#pragma once
// The one object that speaks LGCP with the controlling host (global
// `ctrlServer`). It decodes each TPKT payload as one LGCP::Message, offers a
// command to the bound services in bind order and makes sure every command
// gets exactly the responses the reply rules allow. It also encodes and
// sends every response and signal the services produce.

#include "asn1/modules/LGCP.hpp"
#include "control/service.hpp"
#include "core/timer.hpp"

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace CtrlSrv {

class Service;

class Server : public Control::Notify {
public:
    // GetSlot() when the command carried no slot.
    static constexpr unsigned int NoSlot = 0xFFFFFFFFu;
    // delayResponse() for a command that carried no seq; whether it carried
    // one is IsSeqPresent(), since -1 is a seq too.
    static constexpr unsigned int NoSeq = 0xFFFFFFFFu;
    static constexpr unsigned int MaxSlot = 1023;
    static constexpr unsigned int avg_stat_ms = 5000;

    enum ResponseState { NoResponse = 0, SuccessSent = 1, ErrorSent = 2 };

    Server() = default;
    Server(Server const&) = delete;
    Server& operator=(Server const&) = delete;
    ~Server() override;

    void Bind(Service* service);
    // Takes ownership of the link and starts it.
    bool Activate(Control::Service* link);
    void Deactivate();

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(char const* data, int length) override;
    void OnMessage(LGCP::Message const& message);

    void Success();
    void Error(LGCP::ErrorCause::NamedNumber cause);
    void SendSignal(LGCP::Signal const& signal);
    void SendSignal(unsigned int slot, LGCP::Signal const& signal);
    void SendMsg(LGCP::Message& message);
    unsigned int delayResponse();
    // The late success carries `seq` only when the delayed command had one.
    void delayedSuccess(unsigned int slot, unsigned int seq, bool seqPresent = true);
    bool IsSeqPresent() const { return seq_present_; }
    bool IsSlotPresent() const { return slot_ != NoSlot; }
    unsigned int GetSlot() const { return slot_; }
    bool CheckServerConnection(bool& connected) const;
    void OnHeartbeatTimeout();

    void AssignSeq(LGCP::Message& message) const;
    void AssignSlot(LGCP::Message& message) const;
    void SetAvgStatTimer();
    void OnUpdateAvgStat();
    void PutHeader(std::ostream& os) const;

    std::vector<Service*> const& services() const noexcept { return services_; }
    Control::Service* link() const noexcept { return link_; }
    int response_state() const noexcept { return response_; }
    bool stat_timer_pending() const noexcept { return static_cast<bool>(stat_timer_); }

private:
    void Dispatch(LGCP::Message const& message);
    // Encodes and sends; a signal without a controller is dropped.
    void Transmit(LGCP::Message& message, bool signal);

    std::vector<Service*> services_;
    Control::Service* link_ = nullptr;
    bool seq_present_ = false;
    std::uint32_t seq_ = 0;
    unsigned int slot_ = NoSlot;
    int response_ = NoResponse;
    Timer stat_timer_;
    // The absence of the controller has been logged.
    bool signals_dropped_ = false;
};

} // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;
