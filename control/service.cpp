#include "control/service.hpp"

#include "control/strm_protocol.hpp"
#include "control/tpkt_protocol.hpp"
#include "core/profile.hpp"

#include <iostream>

#include <netinet/tcp.h>
#include <sys/socket.h>

namespace Control {

char const* GetTextNotation(Service::State::Type state)
{
    switch (state) {
    case Service::State::Idle:
        return "Idle";
    case Service::State::Connecting:
        return "Connecting";
    case Service::State::Deactivating:
        return "Deactivating";
    case Service::State::Connected:
        return "Connected";
    }
    return "Unknown";
}

Service::Service()
{
    stream_ = new StrmProtocol();
    add_protocol_tail(stream_);
    tpkt_ = new Tpkt_protocol();
    add_protocol_tail(tpkt_);
    dpc_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service()
{
    dpc_.Deactivate();
    dpc_.Bind(nullptr);
    // The layers go with the family, which closes an attached socket.
}

bool Service::Activate()
{
    Deactivate();
    state_ = State::Connecting;
    bool r = ImplActivate();
    if (!r)
        state_ = State::Idle;
    return r;
}

void Service::Deactivate()
{
    ImplDeactivate();
    state_ = State::Idle;
}

void Service::Disconnect()
{
    if (state_ == State::Deactivating)
        return;
    deactivate();
}

namespace {
Profile::Point& prepare_point()
{
    static Profile::Point point("Control::Service::Send [1]");
    return point;
}
Profile::Point& transmit_point()
{
    static Profile::Point point("Control::Service::Send [2]");
    return point;
}
} // namespace

bool Service::MaySend(long length) const
{
    if (state_ == State::Deactivating)
        return false;
    if (state_ != State::Connected) {
        if (log_)
            std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state_)
                      << " state." << std::endl;
        return false;
    }
    if (length < 0 || static_cast<unsigned long>(length) > Tpkt_protocol::max_payload) {
        // One TPKT frame cannot carry it; a truncated length field would
        // desynchronise the peer.
        std::cerr << "Control::Service::Send() refuse payload of " << length << " bytes, max "
                  << Tpkt_protocol::max_payload << "." << std::endl;
        return false;
    }
    return true;
}

void Service::Transmit(Packet& pkt)
{
    transmit_point().begin();
    message(pkt);
    transmit_point().end();
}

void Service::Send(char const* data, int length)
{
    if (!MaySend(length))
        return;
    prepare_point().begin();
    Packet pkt;
    prepare_head(pkt);
    pkt.put(data, static_cast<unsigned int>(length));
    prepare_point().end();
    Transmit(pkt);
}

Packet Service::NewPayload()
{
    prepare_point().begin();
    Packet pkt;
    prepare_head(pkt);
    prepare_point().end();
    return pkt;
}

void Service::Send(Packet& payload)
{
    if (MaySend(static_cast<long>(payload.length())))
        Transmit(payload);
}

void Service::service_name(std::string const& name)
{
    stream_->link_name(name);
}

std::string const& Service::service_name() const
{
    return stream_->link_name();
}

void Service::Release()
{
    stream_->release();
}

std::uint32_t Service::GetOverflowCounter() const
{
    return stream_->overflow_counter();
}

Measure const& Service::get_read_measure() const
{
    return stream_->read_measure();
}

Measure const& Service::get_write_measure() const
{
    return stream_->write_measure();
}

void Service::on_message(Packet& pkt)
{
    if (state_ == State::Deactivating || notify_ == nullptr)
        return;
    notify_->OnMessage(reinterpret_cast<char const*>(pkt.data()), static_cast<int>(pkt.length()));
}

void Service::on_activated(Protocol* p)
{
    ProtocolsFamily::on_activated(p);
}

void Service::on_deactivated(Protocol*, Protocol_status)
{
    if (log_)
        std::cerr << "control connection " << name_ << " closed." << std::endl;
    state_ = State::Deactivating;
    dpc_.Activate();
}

void Service::OnDeactivateDPC()
{
    dpc_.Deactivate();
    state_ = State::Connecting;
    ImplOnDisconnect();
    if (notify_ != nullptr)
        notify_->OnDisconnect();
}

void Service::attach_connected(Fd fd, std::string const& name)
{
    name_ = name;
    state_ = State::Connected;
    stream_->attach(fd);
    activate();
    if (notify_ != nullptr)
        notify_->OnConnect();
}

ServiceNet::ServiceNet() = default;

void ServiceNet::Connected(Fd fd, INet4::Addr const& peer)
{
    if (state_ == State::Deactivating)
        return;
    int on = 1;
    if (setsockopt(fd.get(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && log_)
        std::cerr << "fail set keepalive to control socket." << std::endl;
    if (setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && log_)
        std::cerr << "fail to turn off Nagle algorithm." << std::endl;
    peer_ = peer;
    attach_connected(fd, peer.GetString());
}

} // namespace Control
