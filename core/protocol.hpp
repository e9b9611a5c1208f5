#pragma once
// Layered protocol stacks. A ProtocolsList holds layers bottom (head) to top
// (tail); a ProtocolsFamily is a list that is itself a layer, so stacks nest.
// Packets handed down go through message()/transmit(), packets coming up
// through receive()/on_message(); activation climbs from the bottom,
// deactivation descends from the layer asked, and failures and status reports
// climb to the owning family. The framework does no input or output itself.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "core/packet.hpp"
#include "core/dual_list.hpp"
#include "core/packet_smart_pointer.hpp"

class Protocol;
class ProtocolsList;

class Protocol_name {
public:
    virtual ~Protocol_name() = default;
    virtual int kind() const = 0;
    virtual char const* name() const = 0;
    virtual bool compare(Protocol_name const& other) const = 0;
};

class Protocol_name_null : public Protocol_name {
public:
    int kind() const override { return 0; }
    char const* name() const override { return "(no name)"; }
    bool compare(Protocol_name const& other) const override { return other.kind() == 0; }
};

class Protocol_name_str : public Protocol_name {
public:
    explicit Protocol_name_str(char const* text) : text_(text ? text : "(no name)") {}
    int kind() const override { return 1; }
    char const* name() const override { return text_.c_str(); }
    bool compare(Protocol_name const& other) const override;

private:
    std::string text_;
};

// Outcome of an activation, deactivation or initialisation, or a report
// from a running layer. Shared through Smart_pointer; the last handle
// deletes it.
class Internal_protocol_status {
public:
    Internal_protocol_status(Protocol* origin, std::string message)
        : origin_(origin), message_(std::move(message))
    {}
    Internal_protocol_status(Internal_protocol_status const&) = delete;
    Internal_protocol_status& operator=(Internal_protocol_status const&) = delete;
    virtual ~Internal_protocol_status() = default;

    virtual bool success() const = 0;
    virtual std::string message() const { return message_; }
    virtual void out(std::ostream& os) const;

    // The layer that made the status; it may be gone by the time the
    // status is read.
    Protocol* origin() const { return origin_; }

private:
    friend void smart_pointer_add_ref(Internal_protocol_status* s) noexcept { ++s->refs_; }
    friend void smart_pointer_release(Internal_protocol_status* s) noexcept
    {
        if (--s->refs_ == 0)
            delete s;
    }

    Protocol* origin_;
    std::uint32_t refs_ = 0;
    std::string message_;
};

using Protocol_status = Smart_pointer<Internal_protocol_status>;

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& s);

class Protocol_status_success : public Internal_protocol_status {
public:
    using Internal_protocol_status::Internal_protocol_status;
    bool success() const override { return true; }
};

class Protocol_status_error : public Internal_protocol_status {
public:
    using Internal_protocol_status::Internal_protocol_status;
    bool success() const override { return false; }
};

class Protocol_initialize_error : public Protocol_status_error {
public:
    using Protocol_status_error::Protocol_status_error;
};

class Protocol_info {
public:
    virtual ~Protocol_info() = default;
    // No layer is found by name unless it overrides this.
    virtual bool compare_name(Protocol_name const&) const { return false; }
    virtual Protocol_name const& name() const { return name_; }

private:
    Protocol_name_null name_;
};

class Protocol : public Protocol_info, public F_dual_list_item<Protocol> {
public:
    Protocol() = default;
    Protocol(Protocol const&) = delete;
    Protocol& operator=(Protocol const&) = delete;
    // A listed layer leaves its list.
    ~Protocol() override;

    // Head and tail room this layer needs in front of and behind the data.
    virtual void local_prepare_head(Packet& pkt);
    virtual void local_prepare_tail(Packet& pkt);
    virtual Protocol_status local_initialize();
    // Start-up of this layer alone; calls on_activate() when it is up.
    virtual void local_activate();
    // Shut-down of this layer alone; reports on_deactivate() when done.
    virtual void local_deactivate();
    // Hands a packet down: the layer below, else the family.
    virtual void transmit(Packet& pkt);
    // Hands a packet up: the layer above, else the family.
    virtual void on_message(Packet& pkt);
    // This layer is up: start the one above, else tell the family.
    virtual void on_activate();
    // This layer is down (success) or failed: see protocol.cpp.
    virtual void on_deactivate(Protocol_status status);
    virtual void on_status(Protocol_status status);
    // A packet from above, to be processed and passed on with transmit().
    virtual void message(Packet& pkt);
    // A packet from below, to be processed and passed on with on_message().
    virtual void receive(Packet& pkt);
    // Activation always starts at the bottom of the stack.
    virtual void activate();
    virtual void deactivate();
    virtual void protocol_info(std::ostream& os) const;

    // Reserves the head (tail) room of every layer below and then this one.
    void prepare_head(Packet& pkt);
    void prepare_tail(Packet& pkt);
    // Initialises the layers from the bottom up to this one; stops at the
    // first that fails and returns its status.
    Protocol_status initialize();

    // The layer above and the layer below in the family's list.
    Protocol* next() const { return F_dual_list<Protocol>::next(this); }
    Protocol* previous() const { return F_dual_list<Protocol>::prev(this); }
    ProtocolsList* family() const { return family_; }

protected:
    void descend_prepare_head(Packet& pkt);
    void descend_prepare_tail(Packet& pkt);

private:
    friend class ProtocolsList;
    ProtocolsList* family_ = nullptr;
};

class ProtocolsList : public Protocol, public F_dual_list<Protocol> {
public:
    ProtocolsList() = default;
    // Deletes the layers still listed, top first.
    ~ProtocolsList() override;

    virtual void on_activated(Protocol* p);
    virtual void on_deactivated(Protocol* p, Protocol_status status);
    // The list takes ownership; the layer must not be listed elsewhere.
    virtual void add_protocol_head(Protocol* p);
    virtual void add_protocol_tail(Protocol* p);

    Protocol* search(Protocol_name const& name) const;
    Protocol* bottom() const { return head(); }
    Protocol* top() const { return tail(); }

private:
    friend class Protocol;
    void unlink(Protocol* p);
};

class ProtocolsFamily : public ProtocolsList {
public:
    void local_prepare_head(Packet& pkt) override;
    void local_prepare_tail(Packet& pkt) override;
    Protocol_status local_initialize() override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& pkt) override;
    void receive(Packet& pkt) override;
    void on_activated(Protocol* p) override;
    void on_deactivated(Protocol* p, Protocol_status status) override;
};
