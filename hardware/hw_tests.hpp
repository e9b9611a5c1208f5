#pragma once

// The LGCP `testBpc` command: backplane bus tests through the TDM switch.
// Bound third to the control server. The tests run to completion inside the
// command's handling (at most 127 time slots and one short sleep).

#include "control/ctrl_service.hpp"
#include "core/singleton.hpp"
#include "hardware/bpc_test.hpp"

#include <iosfwd>

class HwTests : public CtrlSrv::Service {
public:
    static HwTests* instance() { return &Singleton<HwTests>::Get(); }

    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(LGCP::Command const& command) override;

    void OnTestBpc(LGCP::BpcTestParams const& params);
    void PutHeader(std::ostream& os) const { test_.PutHeader(os); }

private:
    friend class Singleton<HwTests>;
    HwTests();

    Hardware::BpcTest test_;
};
