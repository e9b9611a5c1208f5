#include "control/heartbeat.hpp"

#include "control/ctrl_server.hpp"

#include <iostream>

void HeartBeatCtl::OnDisconnect()
{
    timer_.reset();
}

bool HeartBeatCtl::OnCommand(LGCP::Command const& command)
{
    ResetTimeOut();
    if (!command.is_ping())
        return false;
    Success();
    return true;
}

void HeartBeatCtl::ResetTimeOut()
{
    timer_.set(timeout_ms, &HeartBeatCtl::OnHeartbeatTimeout, this);
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*)
{
    std::clog << "heartbeat timeout!!!" << std::endl;
    // The server this service is bound to: `ctrlServer` in the process.
    if (server() != nullptr)
        server()->OnHeartbeatTimeout();
}
