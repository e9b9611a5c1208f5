#pragma once

// The in-process control path of the slot tests, the fuzz target and the
// benchmark: a CtrlSrv::Server whose link is one end of a socket pair, a
// `Slots` bound to it (and put in place of the program's), a TDM switch of
// its own on the simulated board, and the host's end of the pair, from which
// everything the server sent is decoded into responses and signals with
// their seq and slot. Commands are offered through Server::OnMessage, as
// generated LGCP values or as raw payloads (for what the encoder refuses).
//
// Needs a healthy simulated board when built (the switch opens "/dev/hal"),
// and the frozen loop clock for LoseHost(). No GoogleTest in here.

#include "control/ctrl_server.hpp"
#include "control/lgcp_coding.hpp"
#include "control/service.hpp"
#include "core/clock.hpp"
#include "core/fd.hpp"
#include "core/inet.hpp"
#include "core/multiplexer.hpp"
#include "hardware/hw_mux.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"
#include "slots/slots.hpp"
#include "slots/trunk_slot.hpp"
#include "asn1/valuenotation.hpp"
#include "sim/board.hpp"
#include "tests/support/quiet.hpp"
#include "tests/slots/slot_commands.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/socket.h>

namespace SlotsTest {

// One message the host received.
struct Received {
    enum Kind { Success, Error, Signal };
    Kind kind = Success;
    std::optional<std::uint32_t> seq;
    std::optional<std::uint32_t> slot;
    int cause = -1;      // an LGCP::ErrorCause number, for Error
    LGCP::Signal signal; // for Signal

    bool IsError(LGCP::ErrorCause::NamedNumber c) const { return kind == Error && cause == c; }
    // "success seq=3 slot=7", "error slotNotExists seq=4 slot=9",
    // "signal slot=7 transmitter : active : 37" (value notation).
    std::string Text() const
    {
        std::ostringstream os;
        if (kind == Signal) {
            os << "signal";
            if (slot)
                os << " slot=" << *slot;
            os << ' ';
            std::ostringstream value;
            ASN1::operator<<(value, signal);
            // Value notation on one line: each line break and its indent
            // become one space.
            bool in_break = false;
            for (char c : value.str()) {
                if (c == '\n') {
                    in_break = true;
                } else if (!(in_break && c == ' ')) {
                    if (in_break)
                        os << ' ';
                    in_break = false;
                    os << c;
                }
            }
            return os.str();
        }
        if (kind == Success) {
            os << "success";
        } else {
            LGCP::ErrorCause e;
            e.setValue(cause);
            os << "error ";
            ASN1::operator<<(os, e);
        }
        if (seq)
            os << " seq=" << *seq;
        if (slot)
            os << " slot=" << *slot;
        return os.str();
    }
};

inline std::vector<std::string> Texts(std::vector<Received> const& messages)
{
    std::vector<std::string> out;
    for (auto const& m : messages)
        out.push_back(m.Text());
    return out;
}

// The switch channel a `receiver`/`transmitter` signal announces; -1 when
// inactive or when the message is no such signal.
inline int StreamChannel(Received const& m)
{
    if (m.kind != Received::Signal)
        return -1;
    LGCP::Stream const* s = m.signal.is_receiver()      ? &m.signal.get_receiver()
                            : m.signal.is_transmitter() ? &m.signal.get_transmitter()
                                                        : nullptr;
    return s != nullptr && s->is_active() ? s->get_active().getValue() : -1;
}

// A bus channel {bus, channel}.
using BusChannel = std::optional<std::pair<unsigned int, unsigned int>>;

inline LGCP::CreateParams Map(BusChannel transmitter, BusChannel receiver)
{
    LGCP::CreateParams p;
    LGCP::MapParams& m = p.select_map();
    if (transmitter) {
        LGCP::SharedChannel c;
        c.set_bus(transmitter->first);
        c.set_channel(transmitter->second);
        m.set_transmitter(c);
    }
    if (receiver) {
        LGCP::SharedChannel c;
        c.set_bus(receiver->first);
        c.set_channel(receiver->second);
        m.set_receiver(c);
    }
    return p;
}

// What each fuzz target of the slots sets up once: log lines that go
// nowhere (the same few texts, millions of times), a healthy simulated board
// whose request log stays off (a log growing over the runs would look like a
// leak), the frozen loop clock and the trunk factories.
struct FuzzSetUp {
    FuzzSetUp()
    {
        Sim::Board::instance().Reset();
        Sim::Board::instance().SetLogLimit(0);
        Mux::test::freeze();
        KeepTrunkFactories();
    }
    TestQuiet::Quiet quiet;
};

class Host {
public:
    // With a switch of its own, unless given one that lives longer (the
    // fuzz target keeps one for all its runs).
    explicit Host(HwMux* mux = nullptr)
        : own_mux_(mux == nullptr ? new HwMux : nullptr), mux_(mux ? mux : own_mux_.get())
    {
        // As in the program, the trunk factories sit at the chain's tail.
        KeepTrunkFactories();
        Pair();
        old_mux_ = HwMux::UseInstance(mux_);
        old_slots_ = Slots::UseInstance(&slots_);
        slots_.SetPause([this] { ++pauses; });
        server_.Bind(&slots_);
        link_ = new Link();
        server_.Activate(link_);
        Attach();
    }
    ~Host()
    {
        server_.Deactivate();
        Slots::UseInstance(old_slots_);
        HwMux::UseInstance(old_mux_);
    }
    Host(Host const&) = delete;
    Host& operator=(Host const&) = delete;

    CtrlSrv::Server& server() { return server_; }
    Slots& slots() { return slots_; }
    HwMux& mux() { return *mux_; }

    // One command; `seq` absent sends none. Returns what the host received.
    std::vector<Received> Exchange(LGCP::Command const& command, std::optional<std::uint32_t> slot,
                                   std::optional<std::uint32_t> seq)
    {
        Offer(command, slot, seq);
        return Take();
    }
    // The command alone; what it sends stays unread until Take() or Discard().
    void Offer(LGCP::Command const& command, std::optional<std::uint32_t> slot,
               std::optional<std::uint32_t> seq)
    {
        LGCP::Message m;
        if (seq)
            m.set_seq(static_cast<int>(*seq));
        if (slot)
            m.set_slot(*slot);
        m.get_pdu().set_command(command);
        server_.OnMessage(m);
    }
    // A payload as the host's bytes (after the TPKT header).
    std::vector<Received> ExchangeBytes(std::vector<std::uint8_t> const& payload)
    {
        server_.OnMessage(reinterpret_cast<char const*>(payload.data()), static_cast<int>(payload.size()));
        return Take();
    }
    // With the next seq of this host.
    std::vector<Received> Exchange(LGCP::Command const& command, std::optional<std::uint32_t> slot)
    {
        return Exchange(command, slot, ++seq_);
    }
    std::uint32_t LastSeq() const noexcept { return seq_; }
    // The server still holds its link to this host (it closes a link whose
    // peer stops reading).
    bool Connected() const { return link_->state() == Control::Service::State::Connected; }

    std::vector<Received> Create(std::uint32_t slot, LGCP::CreateParams const& params)
    {
        return Exchange(CreateCommand(params), slot);
    }
    std::vector<Received> Destroy(std::uint32_t slot)
    {
        LGCP::Command c;
        c.set_destroy();
        return Exchange(c, slot);
    }
    // `slot` becomes the source of `target`.
    std::vector<Received> Connect(std::uint32_t slot, std::uint32_t target)
    {
        return Exchange(ConnectCommand(target), slot);
    }
    std::vector<Received> Disconnect(std::uint32_t slot)
    {
        LGCP::Command c;
        c.set_disconnect();
        return Exchange(c, slot);
    }
    std::vector<Received> Query(std::optional<std::uint32_t> slot = std::nullopt)
    {
        LGCP::Command c;
        c.set_query();
        return Exchange(c, slot);
    }

    // Everything received since the last call, decoded.
    std::vector<Received> Take()
    {
        std::vector<Received> out;
        std::uint8_t buf[8192];
        for (;;) {
            ssize_t n = ::recv(host_.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0)
                break;
            pending_.insert(pending_.end(), buf, buf + n);
        }
        // RFC 1006 TPKT: version 3, reserved, 16-bit length with the header.
        std::size_t i = 0;
        while (i + 4 <= pending_.size()) {
            std::size_t len = (std::size_t(pending_[i + 2]) << 8) | pending_[i + 3];
            if (pending_[i] != 3 || len < 4) {
                out.push_back(Undecodable());
                i = pending_.size();
                break;
            }
            if (i + len > pending_.size())
                break;
            out.push_back(Decode(reinterpret_cast<char const*>(&pending_[i + 4]), len - 4));
            if (keep_payloads)
                payloads.emplace_back(pending_.begin() + static_cast<std::ptrdiff_t>(i + 4),
                                      pending_.begin() + static_cast<std::ptrdiff_t>(i + len));
            i += len;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
        return out;
    }

    // Drops whatever arrived, undecoded (a benchmark's host keeps up).
    void Discard()
    {
        std::uint8_t buf[65536];
        while (::recv(host_.get(), buf, sizeof buf, MSG_DONTWAIT) > 0) {}
        pending_.clear();
    }

    // The host goes (the server and every service hear of it); Reconnect()
    // brings a new one.
    void LoseHost()
    {
        link_->Disconnect();
        // The link reports its close from a deferred call. A pass with
        // nothing to wait for would rightly abort as hung.
        for (int i = 0; i < 2; ++i) {
            if (multiplexer.dpc_count() > 0)
                multiplexer.execute_dpc();
            if (multiplexer.event_count() > 0 || multiplexer.timer_count() > 0)
                Mux::test::run_once(0);
        }
    }
    void Reconnect()
    {
        Pair();
        Attach();
    }

    // Host losses so far (the pause after each; stubbed out here).
    int pauses = 0;
    // When set, Take() keeps every payload as it came, for an independent
    // decoder to read.
    bool keep_payloads = false;
    std::vector<std::vector<std::uint8_t>> payloads;

private:
    struct Link : Control::ServiceNet {
        bool ImplActivate() override { return true; }
        void ImplDeactivate() override { Release(); }
        void ImplOnDisconnect() override {}
    };

    void Pair()
    {
        int sv[2] = {-1, -1};
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
        server_end_.reset(sv[0]);
        host_.reset(sv[1]);
        pending_.clear();
    }
    void Attach()
    {
        INet4::Addr peer;
        peer.Assign("127.0.0.1:20001");
        link_->Connected(server_end_.fd(), peer);
    }
    static Received Undecodable()
    {
        Received r;
        r.kind = Received::Error;
        r.cause = -1;
        return r;
    }
    static Received Decode(char const* data, std::size_t length)
    {
        LGCP::Message m;
        if (!CtrlSrv::lgcp_decode(data, length, m))
            return Undecodable();
        Received r;
        if (m.has_seq())
            r.seq = static_cast<std::uint32_t>(m.get_seq().getValue());
        if (m.has_slot())
            r.slot = m.get_slot().getValue();
        LGCP::PDU const& pdu = m.get_pdu();
        if (pdu.is_signal()) {
            r.kind = Received::Signal;
            r.signal = pdu.get_signal();
        } else if (pdu.is_response() && pdu.get_response().is_success()) {
            r.kind = Received::Success;
        } else if (pdu.is_response()) {
            r.kind = Received::Error;
            r.cause = pdu.get_response().get_error().getValue();
        } else {
            return Undecodable();
        }
        return r;
    }

    OwnedFd server_end_;
    OwnedFd host_;
    std::vector<std::uint8_t> pending_;
    std::unique_ptr<HwMux> own_mux_;
    HwMux* mux_;
    CtrlSrv::Server server_;
    Slots slots_;
    Link* link_ = nullptr; // owned by the server
    HwMux* old_mux_ = nullptr;
    Slots* old_slots_ = nullptr;
    std::uint32_t seq_ = 0;
};

} // namespace SlotsTest
