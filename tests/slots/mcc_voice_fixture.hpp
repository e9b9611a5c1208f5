#pragma once

// The slot fixture with the external, MCC, echo and voice factories at the
// head of the chain (ahead of the test kind, which also takes `ext`), a
// fresh GW_ROOT for phrase files, and a driver of the loop: each pass is
// followed by the board taking what the MCC channels wrote, and what
// reached the switch outputs and the host is collected.

#include "mcc_voice_params.hpp"
#include "slots_fixture.hpp"

#include "core/clock.hpp"
#include "sim/mcc.hpp"
#include "slots/echo_slot.hpp"
#include "slots/ext_slot.hpp"
#include "slots/mcc_slot.hpp"
#include "slots/voice_slot.hpp"
#include "tests/core/core_helper.hpp"

#include <chrono>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#include <poll.h>

namespace SlotsTest {

class MccVoiceFixture : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        // Writes to a channel or a peer that went away fail with EPIPE, as
        // in the program, instead of ending the test.
        old_pipe_ = std::signal(SIGPIPE, SIG_IGN);
        root_.mkdirs("usr/local/voice");
    }
    void TearDown() override
    {
        Fixture::TearDown();
        std::signal(SIGPIPE, old_pipe_);
    }

    Sim::Mcc& mcc() { return board().device<Sim::Mcc>(); }
    void Phrase(std::string const& name, std::string const& bytes)
    {
        std::string const path = "usr/local/voice/" + name;
        root_.mkdirs(path.substr(0, path.rfind('/')));
        root_.write(path, bytes);
    }

    // What the host received while driving (and earlier Take()s of it).
    std::vector<std::string> Heard() { return Texts(heard_); }
    std::vector<Received> const& HeardMessages() const { return heard_; }
    // The bytes that reached switch output `n` so far, in order.
    std::string Output(std::uint32_t n) { return outputs_[n]; }

    // Loop passes until `done` holds; false when it never did (bounded by
    // real time: the peers are this process's own sockets).
    template <class F>
    bool Drive(F done)
    {
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            Collect();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > until)
                return false;
            int ready = Mux::test::run_once(0);
            mcc().Pump();
            if (ready <= 0)
                ::poll(nullptr, 0, 1); // the kernel's loopback catches up
        }
    }
    // A few passes for what is already under way.
    void Settle(int passes = 20)
    {
        for (int i = 0; i < passes; ++i) {
            Mux::test::run_once(0);
            mcc().Pump();
        }
        Collect();
    }
    bool HeardText(std::string const& text)
    {
        for (auto const& t : Heard())
            if (t == text)
                return true;
        return false;
    }
    void ClearHeard() { heard_.clear(); }
    // What a command brought, kept among what was heard.
    std::vector<std::string> Keep(std::vector<Received> const& messages)
    {
        heard_.insert(heard_.end(), messages.begin(), messages.end());
        return Texts(messages);
    }

    ExtFactory ext_;
    MccFactory mcc_;
    EchoFactory echo_;
    VoiceFactory voice_;

private:
    void Collect()
    {
        for (auto& r : host().Take())
            heard_.push_back(r);
        for (std::uint32_t n : watched_)
            for (auto const& frame : mcc().TakeSent(n))
                outputs_[n].append(frame.begin(), frame.end());
    }

protected:
    // Outputs whose bytes Output() gathers.
    std::vector<std::uint32_t> watched_{40, 41};

private:
    TempRoot root_;
    void (*old_pipe_)(int) = SIG_DFL;
    std::vector<Received> heard_;
    std::map<std::uint32_t, std::string> outputs_;
};

} // namespace SlotsTest
