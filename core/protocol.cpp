#include "core/protocol.hpp"

#include <cstring>
#include <ostream>

bool Protocol_name_str::compare(Protocol_name const& other) const
{
    return other.kind() == kind() && std::strcmp(other.name(), name()) == 0;
}

void Internal_protocol_status::out(std::ostream& os) const
{
    os << message_;
}

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& s)
{
    s.out(os);
    return os;
}

Protocol::~Protocol()
{
    if (family_)
        family_->unlink(this);
}

void Protocol::local_prepare_head(Packet& pkt)
{
    // Gives a null packet its buffer even when the layer adds no header.
    pkt.reserve_head(0);
}

void Protocol::local_prepare_tail(Packet& pkt)
{
    pkt.reserve_tail(0);
}

Protocol_status Protocol::local_initialize()
{
    return new Protocol_status_success(this, "success");
}

void Protocol::local_activate()
{
    on_activate();
}

void Protocol::local_deactivate()
{
    on_deactivate(new Protocol_status_success(this, "success"));
}

void Protocol::transmit(Packet& pkt)
{
    if (previous())
        previous()->message(pkt);
    else if (family_)
        family_->transmit(pkt);
}

void Protocol::on_message(Packet& pkt)
{
    if (next())
        next()->receive(pkt);
    else if (family_)
        family_->on_message(pkt);
}

void Protocol::on_activate()
{
    if (next())
        next()->local_activate();
    else if (family_)
        family_->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status status)
{
    if (status->success()) {
        // Orderly shut-down continues downwards; the bottom tells the family.
        if (previous())
            previous()->deactivate();
        else if (family_)
            family_->on_deactivated(this, status);
    } else {
        // A failure climbs to the family through every layer above; the
        // layers below are left to the owner.
        if (next())
            next()->on_deactivate(status);
        else if (family_)
            family_->on_deactivated(this, status);
    }
}

void Protocol::on_status(Protocol_status status)
{
    if (next())
        next()->on_status(status);
    else if (family_)
        family_->on_status(status);
}

void Protocol::message(Packet&)
{}

void Protocol::receive(Packet&)
{}

void Protocol::activate()
{
    if (previous())
        previous()->activate();
    else
        local_activate();
}

void Protocol::deactivate()
{
    local_deactivate();
}

void Protocol::protocol_info(std::ostream&) const
{}

void Protocol::prepare_head(Packet& pkt)
{
    if (previous())
        descend_prepare_head(pkt);
    local_prepare_head(pkt);
}

void Protocol::prepare_tail(Packet& pkt)
{
    if (previous())
        descend_prepare_tail(pkt);
    local_prepare_tail(pkt);
}

void Protocol::descend_prepare_head(Packet& pkt)
{
    previous()->prepare_head(pkt);
}

void Protocol::descend_prepare_tail(Packet& pkt)
{
    previous()->prepare_tail(pkt);
}

Protocol_status Protocol::initialize()
{
    if (previous()) {
        Protocol_status below = previous()->initialize();
        if (!below->success())
            return below;
    }
    return local_initialize();
}

ProtocolsList::~ProtocolsList()
{
    while (Protocol* p = pop_back()) {
        p->family_ = nullptr;
        delete p;
    }
}

void ProtocolsList::on_activated(Protocol*)
{}

void ProtocolsList::on_deactivated(Protocol*, Protocol_status)
{}

void ProtocolsList::add_protocol_head(Protocol* p)
{
    push_front(p);
    p->family_ = this;
}

void ProtocolsList::add_protocol_tail(Protocol* p)
{
    push_back(p);
    p->family_ = this;
}

Protocol* ProtocolsList::search(Protocol_name const& name) const
{
    for (Protocol* p = head(); p; p = p->next())
        if (p->compare_name(name))
            return p;
    return nullptr;
}

void ProtocolsList::unlink(Protocol* p)
{
    remove(p);
    p->family_ = nullptr;
}

void ProtocolsFamily::local_prepare_head(Packet& pkt)
{
    if (top())
        top()->prepare_head(pkt);
}

void ProtocolsFamily::local_prepare_tail(Packet& pkt)
{
    if (top())
        top()->prepare_tail(pkt);
}

Protocol_status ProtocolsFamily::local_initialize()
{
    if (top())
        return top()->initialize();
    return new Protocol_initialize_error(this, "error");
}

void ProtocolsFamily::local_activate()
{
    if (top())
        top()->activate();
}

void ProtocolsFamily::local_deactivate()
{
    if (top())
        top()->deactivate();
}

void ProtocolsFamily::message(Packet& pkt)
{
    if (top())
        top()->message(pkt);
}

void ProtocolsFamily::receive(Packet& pkt)
{
    if (bottom())
        bottom()->receive(pkt);
}

void ProtocolsFamily::on_activated(Protocol* p)
{
    if (p == top())
        on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status status)
{
    on_deactivate(status);
}
