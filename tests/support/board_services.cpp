#include "support/board_services.hpp"

#include "core/clock.hpp"

#include <sys/socket.h>

namespace BoardServicesTest {

void Listener::OnSignal(LGCP::Signal const& signal)
{
    if (signal.is_trunkStatus()) {
        const ACP::TrunkStatus& t = signal.get_trunkStatus();
        trunks.push_back({t.get_trunk().getValue(), t.get_state().getValue(), t.get_slips().getValue(),
                          t.get_lossBF().getValue(), t.get_lossCarrier().getValue(),
                          t.get_lossAIS().getValue(), t.get_lossRAI().getValue(), t.get_type().getValue()});
    } else if (signal.is_cas()) {
        const LGCP::CasSignalling& c = signal.get_cas();
        cas.push_back({c.get_channel().get_path().getValue(), c.get_channel().get_timeslot().getValue(),
                       c.get_rx().getValue(), c.get_tx().getValue()});
    } else if (signal.is_power()) {
        powers.push_back(signal.get_power().getValue());
    } else {
        ++others;
    }
}

void ServiceTest::SetUp()
{
    SimTest::BoardTest::SetUp();
    Mux::test::freeze();
    quiet_ = std::make_unique<SimTest::Capture>(std::cerr);
}

namespace {

struct HostLink : Control::ServiceNet {
    bool ImplActivate() override { return true; }
    void ImplDeactivate() override { Release(); }
    void ImplOnDisconnect() override {}
};

} // namespace

void ServiceTest::TearDown()
{
    DisconnectHost();
    quiet_.reset();
    Mux::test::thaw();
    SimTest::BoardTest::TearDown();
}

void ServiceTest::Bind(CtrlSrv::Service* service)
{
    server.Bind(service);
    server.Bind(&listener);
}

void ServiceTest::Pass()
{
    Mux::test::run_once(0);
}

void ServiceTest::Advance(unsigned ms)
{
    Mux::test::advance(ms);
}

void ServiceTest::ConnectHost()
{
    int sv[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    serverEnd_.reset(sv[0]);
    hostEnd_.reset(sv[1]);
    if (link_ == nullptr) {
        link_ = new HostLink();
        server.Activate(link_);
    }
    INet4::Addr peer;
    peer.Assign("127.0.0.1:20001");
    link_->Connected(serverEnd_.fd(), peer);
}

void ServiceTest::DisconnectHost()
{
    server.Deactivate();
    link_ = nullptr;
    serverEnd_.reset();
    hostEnd_.reset();
}

LGCP::Command ClockCfg(int sel, int ext, int source)
{
    LGCP::Command c;
    LGCP::ClockCfg& cfg = c.select_clockCfg();
    cfg.set_clkSel0(static_cast<LGCP::ClkSel0::NamedNumber>(sel));
    cfg.set_bextEn(static_cast<LGCP::BExtEn::NamedNumber>(ext));
    cfg.set_source(source);
    return c;
}

LGCP::Command TrunkCfg(int trunk, int mode)
{
    LGCP::Command c;
    LGCP::TrunkCfg& cfg = c.select_trunkCfg();
    cfg.set_trunk(trunk);
    cfg.set_mode(static_cast<LGCP::TrunkMode::NamedNumber>(mode));
    return c;
}

LGCP::Command Cas(int path, int timeslot, int cmd, int bits)
{
    LGCP::Command c;
    LGCP::CasCommand& cas = c.select_ioctl().select_cas();
    LGCP::CasChannel channel;
    channel.set_path(path);
    channel.set_timeslot(timeslot);
    cas.set_channel(channel);
    LGCP::CasCommandSignal sig;
    switch (cmd) {
    case 0:
        sig.set_open(bits);
        break;
    case 1:
        sig.set_close();
        break;
    case 2:
        sig.set_set(bits);
        break;
    default:
        sig.set_get();
        break;
    }
    cas.set_cmd(sig);
    return c;
}

} // namespace BoardServicesTest
