#include "control/ctrl_service.hpp"

#include "control/ctrl_server.hpp"

#include <iostream>

namespace CtrlSrv {

bool Service::CheckServer() const
{
    if (server_ != nullptr)
        return true;
    std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
    return false;
}

void Service::Success()
{
    if (CheckServer())
        server_->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause)
{
    if (CheckServer())
        server_->Error(cause);
}

void Service::fan_out(LGCP::Signal const& signal)
{
    for (Service* s : server_->services())
        if (s != this)
            s->OnSignal(signal);
}

void Service::SendSignal(LGCP::Signal const& signal)
{
    if (!CheckServer())
        return;
    fan_out(signal);
    server_->SendSignal(signal);
}

void Service::SendSignal(unsigned int slot, LGCP::Signal const& signal)
{
    if (!CheckServer())
        return;
    fan_out(signal);
    server_->SendSignal(slot, signal);
}

unsigned int Service::GetSlot() const
{
    if (!CheckServer())
        return 0xFFFFFFFFu;
    return server_->GetSlot();
}

bool Service::IsSlotPresent() const
{
    return CheckServer() && server_->IsSlotPresent();
}

unsigned int Service::delayResponse()
{
    if (!CheckServer())
        return 0xFFFFFFFFu;
    return server_->delayResponse();
}

bool Service::IsSeqPresent() const
{
    return CheckServer() && server_->IsSeqPresent();
}

void Service::delayedSuccess(unsigned int slot, unsigned int seq, bool seqPresent)
{
    if (CheckServer())
        server_->delayedSuccess(slot, seq, seqPresent);
}

bool Service::CheckServerConnection(bool& connected) const
{
    if (server_ == nullptr)
        return false;
    return server_->CheckServerConnection(connected);
}

} // namespace CtrlSrv
