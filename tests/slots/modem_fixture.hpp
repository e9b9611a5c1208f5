#pragma once

// The modem slots' in-process fixture: a ModemFactory of its own on the
// simulated board, with the stand-in programs of standins/.

#include "child_fixture.hpp"
#include "modem_params.hpp"

#include "sim/mctl.hpp"
#include "sim/netifs.hpp"
#include "slots/auth_relay.hpp"
#include "slots/modem_slot.hpp"
#include "support/netns.hpp"

#include <memory>
#include <string>
#include <vector>

namespace SlotsTest {

class Modems : public ChildFixture {
protected:
    void SetUp() override
    {
        ChildFixture::SetUp();
        // The factory's relay listens on the fixed port.
        TESTNET_NEEDS_PORT(Auth::kPort);
        factory_ = std::make_unique<ModemFactory>();
        board().ClearLog();
    }
    // The relay's descriptors go before the board counts what is open.
    void BeforeSlotsGo() override
    {
        if (factory_)
            factory_->CloseRelay();
    }
    void AfterSlotsGo() override { factory_.reset(); }

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

    std::unique_ptr<ModemFactory> factory_;
};

} // namespace SlotsTest
