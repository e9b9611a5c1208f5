#pragma once

// The board services (clock, E1, SPI, monitoring) in process: a control server without a
// controller link, the service under test bound to it, and a listener bound
// after it that records every signal the service sends (the fan-out shows
// them to the other services before they leave). The loop clock is frozen,
// so the one-second reports fire only when a test advances it.

#include "asn1/modules/ACP.hpp"
#include "asn1/modules/LGCP.hpp"
#include "control/ctrl_server.hpp"
#include "control/ctrl_service.hpp"
#include "control/service.hpp"
#include "core/fd.hpp"
#include "sim/board_fixture.hpp"

#include <memory>
#include <string>
#include <vector>

namespace BoardServicesTest {

struct TrunkReport {
    int trunk, state, slips, lossBF, lossCarrier, lossAIS, lossRAI, type;
    bool operator==(const TrunkReport&) const = default;
};

struct CasReport {
    int path, timeslot, rx, tx;
    bool operator==(const CasReport&) const = default;
};

class Listener : public CtrlSrv::Service {
public:
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(LGCP::Command const&) override { return false; }
    void OnSignal(LGCP::Signal const& signal) override;

    std::vector<TrunkReport> trunks;
    std::vector<CasReport> cas;
    std::vector<int> powers;
    int others = 0;
    void clear()
    {
        trunks.clear();
        cas.clear();
        powers.clear();
        others = 0;
    }
};

class ServiceTest : public SimTest::BoardTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Binds the service under test, then the listener.
    void Bind(CtrlSrv::Service* service);
    // One loop pass without waiting.
    void Pass();
    void Advance(unsigned ms);
    // A controlling host on a socket pair: the server's link comes up (the
    // services hear OnConnect) and goes again (OnDisconnect). A fixture that
    // destroys its service before TearDown disconnects first.
    void ConnectHost();
    void DisconnectHost();

    CtrlSrv::Server server;
    Listener listener;
    // Without a controller link the server says so for every message.
    std::unique_ptr<SimTest::Capture> quiet_;

private:
    Control::ServiceNet* link_ = nullptr; // owned by the server
    OwnedFd serverEnd_, hostEnd_;
};

LGCP::Command ClockCfg(int sel, int ext, int source);
LGCP::Command TrunkCfg(int trunk, int mode);
LGCP::Command Cas(int path, int timeslot, int cmd, int bits = 0);

} // namespace BoardServicesTest
