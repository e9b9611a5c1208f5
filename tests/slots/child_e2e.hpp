#pragma once

// The end-to-end fixture of slot kinds that start child programs:
// build/server on the simulated board with the stand-ins of standins/ in
// the programs' places, driven through its control port, and the host's
// signals and responses read apart.

#include "standins.hpp"
#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace SlotsE2E {

using Strings = std::vector<std::string>;

inline LGCP::CreateParams Trunk(int trunk, int timeslot)
{
    LGCP::CreateParams p;
    p.select_trunk().set_trunk(trunk);
    p.get_trunk().set_timeslot(timeslot);
    return p;
}

inline auto Abort(int code)
{
    return [code](LGCP::Signal const& s) { return s.is_abort() && s.get_abort().getValue() == code; };
}

inline auto Stream(bool transmitter, int channel)
{
    return [=](LGCP::Signal const& s) {
        LGCP::Stream const* st = transmitter ? (s.is_transmitter() ? &s.get_transmitter() : nullptr)
                                             : (s.is_receiver() ? &s.get_receiver() : nullptr);
        return st != nullptr && st->is_active() && st->get_active().getValue() == channel;
    };
}

class ChildEndToEnd : public ::testing::Test {
protected:
    // A server with the stand-ins installed, in this STANDIN_MODE.
    void Start(char const* mode, std::string const& setup = {})
    {
        Standins::Install(server_.root());
        E2E::Options options;
        options.setup = setup;
        options.env = {"STANDIN_LOG=" + Log(), std::string("STANDIN_MODE=") + mode};
        options.env.insert(options.env.end(), env_.begin(), env_.end());
        ASSERT_TRUE(server_.Start(options));
        ASSERT_TRUE(host_.Connect(server_.port()));
    }
    std::string Log() const { return server_.Path("standin.log"); }
    std::vector<Standins::Run> Runs() const { return Standins::Read(Log()); }
    bool Started(std::size_t n) const
    {
        return E2E::Eventually([&] { return Runs().size() >= n; });
    }

    // One command; its response.
    E2E::Bytes Command(int slot, std::function<void(LGCP::Command&)> const& fill)
    {
        LGCP::Message m = E2E::Command(++seq_, slot);
        fill(m.get_pdu().get_command());
        host_.Send(m);
        return host_.Reply(&signals_, E2E::Patience(5000));
    }
    E2E::Bytes Create(int slot, LGCP::CreateParams const& params)
    {
        return Command(slot, [&](LGCP::Command& c) { c.set_create(params); });
    }
    E2E::Bytes Connect(int slot, int target)
    {
        return Command(slot, [&](LGCP::Command& c) { c.set_connect(target); });
    }
    // A destroy whose answer is waited for later (Reply).
    void SendDestroy(int slot)
    {
        LGCP::Message m = E2E::Command(++seq_, slot);
        m.get_pdu().get_command().set_destroy();
        host_.Send(m);
    }
    // The next signal of `slot` (-1: of none) that `match` accepts, read
    // past the others; false when none comes within `ms`.
    bool SignalOf(int slot, std::function<bool(LGCP::Signal const&)> const& match,
                  LGCP::Signal* out = nullptr, int ms = 5000)
    {
        auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(E2E::Patience(ms));
        for (;;) {
            while (!signals_.empty()) {
                LGCP::Message m = signals_.front();
                signals_.erase(signals_.begin());
                bool const mine = slot < 0
                                      ? !m.has_slot()
                                      : m.has_slot() && static_cast<int>(m.get_slot().getValue()) == slot;
                if (mine && match(m.get_pdu().get_signal())) {
                    if (out != nullptr)
                        *out = m.get_pdu().get_signal();
                    return true;
                }
            }
            auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            E2E::Bytes payload;
            if (!host_.Receive(payload, static_cast<int>(left.count())))
                return false;
            LGCP::Message m;
            if (E2E::Decode(payload, m) && m.get_pdu().is_signal())
                signals_.push_back(m);
            else
                replies_.push_back(payload);
        }
    }
    // The next response, signals read past (kept).
    E2E::Bytes Reply(int ms)
    {
        if (!replies_.empty()) {
            E2E::Bytes r = replies_.front();
            replies_.erase(replies_.begin());
            return r;
        }
        return host_.Reply(&signals_, E2E::Patience(ms));
    }
    // The board's request log, only the lines of `device`.
    Strings Requests(std::string const& device)
    {
        Strings out;
        for (std::string const& line : E2E::Lines(server_.Ask("log")))
            if (line.rfind(device + " ", 0) == 0)
                out.push_back(line.find(" open = ") != std::string::npos ? device + " open" : line);
        return out;
    }

    E2E::ServerProcess server_{E2E::Later{}};
    E2E::LgcpHost host_;
    std::vector<LGCP::Message> signals_;
    std::vector<E2E::Bytes> replies_;
    // More of the children's environment.
    std::vector<std::string> env_;
    int seq_ = 0;
};

} // namespace SlotsE2E
