#pragma once

// The modem slots' in-process fixture: a ModemFactory of its own on the
// simulated board, the stand-in programs of standins/ installed below a
// GW_ROOT of the test's own, and helpers that wait for what other processes
// bring about.

#include "modem_params.hpp"
#include "slots_fixture.hpp"
#include "standins.hpp"

#include "core/child_wait.hpp"
#include "sim/mctl.hpp"
#include "sim/netifs.hpp"
#include "slots/modem_slot.hpp"
#include "support/leak_check.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace SlotsTest {

class Modems : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        char dir[] = "/tmp/gw-modem-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        root_ = dir;
        Standins::Install(root_);
        ::setenv("GW_ROOT", root_.c_str(), 1);
        ::setenv("STANDIN_LOG", Log().c_str(), 1);
        Mode("hup-exit");
        ChildWait::Activate();
        factory_ = std::make_unique<ModemFactory>();
        board().ClearLog();
    }
    void TearDown() override
    {
        ChildWait::Deactivate();
        // The relay's descriptors go before the board counts what is open.
        factory_->CloseRelay();
        Fixture::TearDown(); // the slots go, and kill their programs
        factory_.reset();
        // Killed programs take a moment to end; then nothing may be left.
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!RunningChildren().empty() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(LeftChildProcesses(), "");
        for (char const* v : {"GW_ROOT", "STANDIN_LOG", "STANDIN_MODE"})
            ::unsetenv(v);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    static void Mode(char const* mode) { ::setenv("STANDIN_MODE", mode, 1); }
    std::string Log() const { return root_ + "/standin.log"; }
    std::string Root(std::string const& path) const { return root_ + path; }
    std::vector<Standins::Run> Runs() const { return Standins::Read(Log()); }

    // Waits for something another process brings about (a program's start
    // or end), running the loop meanwhile; timers do not move.
    static bool Until(std::function<bool()> const& done)
    {
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            Mux::test::run_once(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool Started(std::size_t n) const
    {
        return Until([&] { return Runs().size() >= n; });
    }
    // Everything the host receives until `done` holds for it.
    std::vector<Received> ReceiveUntil(std::function<bool(std::vector<Received> const&)> const& done)
    {
        std::vector<Received> all;
        Until([&] {
            auto more = host().Take();
            all.insert(all.end(), more.begin(), more.end());
            return done(all);
        });
        return all;
    }
    // The requests of one device in the board's log, as the log prints them.
    std::vector<std::string> Requests(std::string const& device)
    {
        std::vector<std::string> out;
        for (auto const& r : board().Log())
            if (r.device == device)
                out.push_back(r.request == Sim::kOpen ? device + " open" : Sim::Format(r));
        return out;
    }
    Sim::Mctl& mctl() { return board().device<Sim::Mctl>(); }
    Sim::NetIfs& netifs() { return board().device<Sim::NetIfs>(); }
    ModemFactory& factory() { return *factory_; }
    ModemSlot* modem(unsigned int n) { return dynamic_cast<ModemSlot*>(slot(n)); }
    // Trunk 1 time slot 5 (channel 37) in slot 7, the modem in slot 5.
    void TrunkAndModem(LGCP::CreateParams const& params)
    {
        host().Create(7, Trunk(1, 5));
        host().Create(5, params);
        host().Take();
        board().ClearLog();
    }
    // Interfaces none: every create is a DSP modem.
    void NoInterfaces()
    {
        netifs().Remove("hdlc0");
        netifs().Remove("hdlc1");
        factory().IQuery();
    }
    LGCP::Resources Query()
    {
        auto r = host().Query();
        EXPECT_EQ(r.size(), 2u);
        return r.back().signal.get_query();
    }

    std::string root_;
    std::unique_ptr<ModemFactory> factory_;
};

} // namespace SlotsTest
