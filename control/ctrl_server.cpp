#include "control/ctrl_server.hpp"

#include "control/ctrl_service.hpp"
#include "control/lgcp_coding.hpp"
#include "asn1/valuenotation.hpp"
#include "core/ext.hpp"

#include <iostream>

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

Server::~Server()
{
    Deactivate();
    stat_timer_.reset();
}

void Server::Bind(Service* service)
{
    services_.push_back(service);
    service->server_ = this;
}

bool Server::Activate(Control::Service* link)
{
    Deactivate();
    link_ = link;
    link_->service_name("server");
    link_->Bind(this);
    return link_->Activate();
}

void Server::Deactivate()
{
    if (link_ == nullptr)
        return;
    link_->Deactivate();
    OnDisconnect();
    link_->UnBind();
    delete link_;
    link_ = nullptr;
}

void Server::OnConnect()
{
    std::clog << ext::header(this) << "controller connect." << std::endl;
    signals_dropped_ = false;
    for (Service* s : services_)
        s->OnConnect();
    SetAvgStatTimer();
}

void Server::OnDisconnect()
{
    for (Service* s : services_)
        s->OnDisconnect();
    stat_timer_.reset();
}

void Server::OnMessage(char const* data, int length)
{
    LGCP::Message message;
    if (length >= 0 && lgcp_decode(data, static_cast<std::size_t>(length), message)) {
        OnMessage(message);
    } else {
        std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl
                  << " msg: " << ext::OutBufInHex(data, data + (length > 0 ? length : 0)) << std::endl;
    }
    slot_ = NoSlot;
}

void Server::OnMessage(LGCP::Message const& message)
{
    Dispatch(message);
    // A signal sent once the command is done carries no slot of its own.
    slot_ = NoSlot;
}

void Server::Dispatch(LGCP::Message const& message)
{
    response_ = NoResponse;
    seq_present_ = message.has_seq();
    if (seq_present_)
        seq_ = static_cast<std::uint32_t>(message.get_seq().getValue());
    if (!message.get_pdu().is_command()) {
        Error(LGCP::ErrorCause::unexpectedMsgType);
        return;
    }
    if (message.has_slot()) {
        // A message built in process may hold a slot above the constraint.
        slot_ = message.get_slot().getValue();
        if (slot_ > MaxSlot) {
            slot_ = NoSlot;
            Error(LGCP::ErrorCause::invalidSlot);
            return;
        }
    } else {
        slot_ = NoSlot;
    }
    LGCP::Command const& command = message.get_pdu().get_command();
    bool taken = false;
    for (Service* s : services_) {
        if (s->OnCommand(command)) {
            taken = true;
            break;
        }
    }
    if (!taken) {
        Error(LGCP::ErrorCause::unexpectedMsgType);
        return;
    }
    if (response_ == NoResponse) {
        std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
        Error(LGCP::ErrorCause::internal);
    }
}

void Server::AssignSeq(LGCP::Message& message) const
{
    if (seq_present_)
        message.set_seq(static_cast<int>(seq_));
}

void Server::AssignSlot(LGCP::Message& message) const
{
    if (slot_ != NoSlot)
        message.set_slot(slot_);
}

void Server::Success()
{
    if (response_ != NoResponse)
        return;
    LGCP::Message message;
    AssignSeq(message);
    AssignSlot(message);
    message.get_pdu().select_response().set_success();
    SendMsg(message);
    response_ = SuccessSent;
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause)
{
    if (response_ == ErrorSent)
        return;
    LGCP::Message message;
    AssignSeq(message);
    AssignSlot(message);
    message.get_pdu().select_response().set_error(cause);
    SendMsg(message);
    response_ = ErrorSent;
}

unsigned int Server::delayResponse()
{
    response_ = SuccessSent;
    return seq_present_ ? seq_ : NoSeq;
}

void Server::delayedSuccess(unsigned int slot, unsigned int seq, bool seqPresent)
{
    LGCP::Message message;
    if (seqPresent)
        message.set_seq(static_cast<int>(seq));
    message.set_slot(slot);
    message.get_pdu().select_response().set_success();
    SendMsg(message);
}

void Server::SendSignal(LGCP::Signal const& signal)
{
    LGCP::Message message;
    AssignSlot(message);
    message.get_pdu().set_signal(signal);
    Transmit(message, true);
}

void Server::SendSignal(unsigned int slot, LGCP::Signal const& signal)
{
    LGCP::Message message;
    message.set_slot(slot);
    message.get_pdu().set_signal(signal);
    Transmit(message, true);
}

void Server::SendMsg(LGCP::Message& message)
{
    Transmit(message, false);
}

void Server::Transmit(LGCP::Message& message, bool signal)
{
    if (link_ != nullptr && (!signal || link_->state() == Control::Service::State::Connected)) {
        // Encoded straight into the frame, after the stack's header room.
        Packet pkt = link_->NewPayload();
        char* const at = reinterpret_cast<char*>(pkt.tail_space());
        std::size_t length = 0;
        if (lgcp_encode(message, at, at + pkt.tailroom(), length)) {
            pkt.extend(static_cast<unsigned int>(length));
            link_->Send(pkt);
            return;
        }
        // Invalid, or larger than a packet: the path below says which.
    }
    std::vector<char> bytes;
    bytes.reserve(200);
    if (!lgcp_encode(message, bytes)) {
        std::cerr << ext::header(this) << "send fail: encode error!";
        ASN1::operator<<(std::cerr, message) << std::endl;
        return;
    }
    if (link_ == nullptr) {
        std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
        return;
    }
    if (signal && link_->state() != Control::Service::State::Connected) {
        // Status timers go on reporting with no controller to hear them: one
        // line for the whole absence, not one per signal.
        if (!signals_dropped_)
            std::cerr << ext::header(this) << "signals dropped: no controller" << std::endl;
        signals_dropped_ = true;
        return;
    }
    link_->Send(bytes.data(), static_cast<int>(bytes.size()));
}

bool Server::CheckServerConnection(bool& connected) const
{
    if (link_ == nullptr)
        return false;
    connected = link_->state() == Control::Service::State::Connected;
    return true;
}

void Server::OnHeartbeatTimeout()
{
    if (link_ != nullptr)
        link_->Disconnect();
}

void Server::SetAvgStatTimer()
{
    stat_timer_.set(avg_stat_ms, &Server::OnUpdateAvgStat, this);
}

void Server::OnUpdateAvgStat()
{}

void Server::PutHeader(std::ostream& os) const
{
    if (link_ == nullptr)
        os << "ctrl [null]: ";
    else if (link_->state() == Control::Service::State::Connected)
        os << "ctrl [" << link_->peer_name() << "]: ";
    else
        os << "ctrl [not connected]: ";
}

} // namespace CtrlSrv
