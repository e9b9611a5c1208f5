#pragma once
// Watches the controller connection for silence: every command that reaches
// dispatch restarts a two-minute timer; `ping` is answered here and goes no
// further; when the timer runs out the server drops the connection. Bound
// first, so it sees every command.

#include "control/ctrl_service.hpp"
#include "core/singleton.hpp"
#include "core/timer.hpp"

class HeartBeatCtl : public CtrlSrv::Service {
public:
    static constexpr unsigned int timeout_ms = 120000;

    static HeartBeatCtl* instance() { return &Singleton<HeartBeatCtl>::Get(); }

    void OnConnect() override {}
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;

    void ResetTimeOut();
    void OnHeartbeatTimeout(Timer*);
    bool watching() const noexcept { return static_cast<bool>(timer_); }

private:
    friend class Singleton<HeartBeatCtl>;
    HeartBeatCtl() = default;

    Timer timer_;
};
