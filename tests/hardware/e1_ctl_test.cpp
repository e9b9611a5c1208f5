// E1 trunk status and CAS: the reports of the four trunks on connect and
// every second, the transmit-clock mask, the CAS request table and its
// signals, events read from the CAS driver, and the requests that must
// touch nothing.

#include "support/board_services.hpp"
#include "hardware/e1_ctl.hpp"
#include "sim/e1.hpp"

#include <cstring>
#include <memory>
#include <sstream>

using namespace BoardServicesTest;

namespace {

constexpr int kOpen = 0, kClose = 1, kSet = 2, kGet = 3;
const char* const kMaint = "/dev/maintenance";
const char* const kCas = "/dev/e1-cas";

class E1CtlTest : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        e1p = std::make_unique<E1Ctl>();
        Bind(e1p.get());
    }
    void TearDown() override
    {
        e1p.reset();
        ServiceTest::TearDown();
    }
    // Dispatches one command as the server does; it must be taken and
    // answered success.
    void Command(const LGCP::Command& c)
    {
        LGCP::Message m;
        m.get_pdu().set_command(c);
        server.OnMessage(m);
        EXPECT_EQ(server.response_state(), CtrlSrv::Server::SuccessSent);
    }
    std::uint64_t CasRequests()
    {
        std::uint64_t n = 0;
        for (std::uint32_t r :
             {E1Ctl::CAS_OPEN, E1Ctl::CAS_CLOSE, E1Ctl::CAS_SET, E1Ctl::CAS_GET, E1Ctl::CAS_CHANNEL})
            n += board().Count(kCas, r);
        return n;
    }
    std::unique_ptr<E1Ctl> e1p;
    E1Ctl& e1() { return *e1p; }
};

int Occurrences(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TrunkReport E1(int trunk, int state, int slips = 0, int bf = 0, int carrier = 0, int ais = 0, int rai = 0)
{
    return {trunk, state, slips, bf, carrier, ais, rai, ACP::TrunkType::e1};
}

TEST_F(E1CtlTest, ConnectReportsEveryTrunkThenOnceASecond)
{
    auto& t2 = board().device<Sim::Maintenance>().trunk(2);
    t2.state = ACP::TrunkState::lossCarrier;
    t2.slips = 1;
    t2.lossBF = 2;
    t2.lossCarrier = 3;
    t2.ais = 4;
    t2.rai = 5;
    e1().OnConnect();
    std::vector<TrunkReport> expected = {E1(0, 0), E1(1, 0), E1(2, 2, 1, 2, 3, 4, 5), E1(3, 0)};
    EXPECT_EQ(listener.trunks, expected);
    EXPECT_TRUE(e1().status_running());

    listener.clear();
    Advance(999);
    EXPECT_TRUE(listener.trunks.empty());
    Advance(1);
    EXPECT_EQ(listener.trunks, expected);
    Advance(2000);
    EXPECT_EQ(listener.trunks.size(), 12u);

    // The reports go on without a controller: the other services need them.
    e1().OnDisconnect();
    listener.clear();
    Advance(1000);
    EXPECT_EQ(listener.trunks.size(), 4u);
}

TEST_F(E1CtlTest, StatesTheEnumerationDoesNotHaveAreUnknown)
{
    board().device<Sim::Maintenance>().trunk(0).state = ACP::TrunkState::disabled;
    board().device<Sim::Maintenance>().trunk(1).state = 7;
    board().device<Sim::Maintenance>().trunk(3).state = 0xFFFFFFFFu;
    e1().SendStatus();
    ASSERT_EQ(listener.trunks.size(), 4u);
    EXPECT_EQ(listener.trunks[0].state, ACP::TrunkState::disabled);
    EXPECT_EQ(listener.trunks[1].state, ACP::TrunkState::unknown);
    EXPECT_EQ(listener.trunks[3].state, ACP::TrunkState::unknown);
}

TEST_F(E1CtlTest, AFailedStatusReadSkipsOnlyThatTrunk)
{
    SimTest::Capture err(std::cerr);
    board().Fail(kMaint, E1Ctl::E1_STATUS, 1, EIO);
    e1().SendStatus();
    ASSERT_EQ(listener.trunks.size(), 3u);
    EXPECT_EQ(listener.trunks[0].trunk, 1);
    EXPECT_NE(err.str().find("E1: synchronization status read fail, trunk = 0 cause = " +
                             std::string(std::strerror(EIO)) + "\n"),
              std::string::npos)
        << err.str();

    // No driver: no report, and the next use tries again.
    board().SetPresent(kMaint, false);
    listener.clear();
    {
        E1Ctl other;
        other.SendStatus();
    }
    EXPECT_TRUE(listener.trunks.empty());
    board().SetPresent(kMaint, true);
    e1().SendStatus();
    EXPECT_EQ(board().Count(kMaint, Sim::kOpen), 2u);
}

TEST_F(E1CtlTest, TrunkCfgWritesTheTransmitClockMask)
{
    SimTest::Capture log(std::clog);
    e1().OnConnect();
    EXPECT_EQ(board().device<Sim::Maintenance>().tclk(), 0);
    Command(TrunkCfg(1, LGCP::TrunkMode::slave));
    EXPECT_EQ(board().device<Sim::Maintenance>().tclk(), 0x2);
    Command(TrunkCfg(3, LGCP::TrunkMode::slave));
    EXPECT_EQ(board().device<Sim::Maintenance>().tclk(), 0xa);
    Command(TrunkCfg(1, LGCP::TrunkMode::master));
    EXPECT_EQ(board().device<Sim::Maintenance>().tclk(), 0x8);
    EXPECT_NE(log.str().find("E1: TCLT = 0xa\n"), std::string::npos) << log.str();
    // Only the mask is printed in hexadecimal.
    std::ostringstream after;
    after << 10;
    EXPECT_EQ(after.str(), "10");

    // A reconnection makes every trunk master again.
    e1().OnConnect();
    EXPECT_EQ(board().device<Sim::Maintenance>().tclk(), 0);
}

TEST_F(E1CtlTest, TrunkNumbersWithoutAMaskBitChangeNothing)
{
    SimTest::Capture err(std::cerr);
    Command(TrunkCfg(31, LGCP::TrunkMode::slave));
    EXPECT_EQ(e1().tclk_mask(), 0x80000000u);
    std::uint64_t writes = board().Count(kMaint, E1Ctl::E1_TCLK);
    for (int trunk : {32, 33, 64, 1000, -1, -32})
        Command(TrunkCfg(trunk, LGCP::TrunkMode::slave));
    EXPECT_EQ(e1().tclk_mask(), 0x80000000u);
    EXPECT_EQ(board().Count(kMaint, E1Ctl::E1_TCLK), writes);
    EXPECT_NE(err.str().find("E1: trunk config: trunk 32 out of range, ignored\n"), std::string::npos)
        << err.str();

    board().Fail(kMaint, E1Ctl::E1_TCLK, 1, EIO);
    Command(TrunkCfg(0, LGCP::TrunkMode::slave));
    EXPECT_EQ(e1().tclk_mask(), 0x80000001u) << "the member keeps the new value";
    EXPECT_NE(err.str().find("E1: fail to set TCLK [cause=" + std::string(std::strerror(EIO)) + "]"),
              std::string::npos);
}

TEST_F(E1CtlTest, CasOpenSetGetCloseSignalSequences)
{
    board().device<Sim::E1Cas>().channel(0, 1).rx = 0x9;
    SimTest::Capture log(std::clog);
    Command(Cas(0, 1, kOpen, 0x15));
    EXPECT_NE(log.str().find("E1: cas interface opened!\n"), std::string::npos);
    EXPECT_NE(log.str().find("E1: open cas signalling on trunk(0) - ok\n"), std::string::npos);
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{0, 0, 0, 0}, {0, 1, 0x9, 0x5}}));
    EXPECT_TRUE(e1().cas_open(0));

    // Already open; time slot 16 opens no channel.
    listener.clear();
    Command(Cas(0, 16, kOpen, 3));
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{0, 0, 0, 0}}));
    EXPECT_FALSE(board().device<Sim::E1Cas>().channel(0, 16).open);

    listener.clear();
    Command(Cas(0, 1, kSet, 0xF3));
    Command(Cas(0, 1, kGet));
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{0, 1, 0x9, 0x3}, {0, 1, 0x9, 0x3}}));

    // A channel that is not open: the driver refuses, reported as rx -1.
    listener.clear();
    Command(Cas(0, 2, kSet, 1));
    Command(Cas(0, 2, kGet));
    Command(Cas(0, 2, kClose));
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{0, 2, -1, 0}, {0, 2, -1, 0}, {0, 2, -1, 0}}));

    listener.clear();
    Command(Cas(0, 1, kClose));
    Command(Cas(0, 0, kClose));
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{0, 1, -1, 1}, {0, 0, 1, 0}}));
    EXPECT_FALSE(e1().cas_open(0));

    // Closed: set, get and close are not even tried.
    listener.clear();
    std::uint64_t before = CasRequests();
    Command(Cas(0, 1, kSet, 1));
    Command(Cas(0, 1, kGet));
    Command(Cas(0, 0, kClose));
    EXPECT_TRUE(listener.cas.empty());
    EXPECT_EQ(CasRequests(), before);
}

TEST_F(E1CtlTest, CasTrunkOpenFailureSkipsTheChannel)
{
    SimTest::Capture log(std::clog);
    e1().CheckOpenCas();
    board().Fail(kCas, E1Ctl::CAS_OPEN, 1, EIO);
    Command(Cas(1, 5, kOpen, 1));
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{1, 0, -1, 0}}));
    EXPECT_NE(log.str().find("E1: open cas signalling on trunk(1) - fail(-1)\n"), std::string::npos);
    EXPECT_FALSE(e1().cas_open(1));
    EXPECT_EQ(board().Count(kCas, E1Ctl::CAS_CHANNEL), 0u);
}

TEST_F(E1CtlTest, CasPathsOutsideTheTrunksTouchNothing)
{
    e1().CheckOpenCas();
    Command(Cas(0, 0, kOpen)); // trunk 0 open, so that every command has work
    listener.clear();
    std::uint64_t before = CasRequests();
    for (int path : {4, 5, 31, 1000, -1, -4, 0x7FFFFFFF, -0x7FFFFFFF - 1})
        for (int cmd : {kOpen, kClose, kSet, kGet})
            Command(Cas(path, 1, cmd, 1));
    EXPECT_TRUE(listener.cas.empty());
    EXPECT_EQ(CasRequests(), before);
}

TEST_F(E1CtlTest, IoctlsThatAreNotCasAndCasWithoutDriverAreAnsweredSuccess)
{
    board().SetPresent(kCas, false);
    LGCP::Command other;
    other.select_ioctl().select_dtmf_disable();
    Command(other);
    Command(Cas(0, 1, kOpen, 1));
    EXPECT_TRUE(listener.cas.empty());
    EXPECT_FALSE(e1().cas_driver_open());
    EXPECT_EQ(CasRequests(), 0u);
    LGCP::Command ping;
    ping.select_ping();
    EXPECT_FALSE(e1().OnCommand(ping));
    EXPECT_FALSE(e1().OnCommand(ClockCfg(0, 0, 0)));
}

TEST_F(E1CtlTest, AnIoctlWithASlotNumberIsLeftToTheSlots)
{
    e1().CheckOpenCas();
    LGCP::Message m;
    m.set_slot(4);
    m.get_pdu().set_command(Cas(0, 1, kOpen, 5));
    server.OnMessage(m);
    // No later service takes it: the server's own error, not E1's success.
    EXPECT_EQ(server.response_state(), CtrlSrv::Server::ErrorSent);
    EXPECT_TRUE(listener.cas.empty());
    EXPECT_EQ(CasRequests(), 0u);
    EXPECT_FALSE(e1().cas_open(0));
    // Without a slot number the same request is E1's.
    Command(Cas(0, 1, kOpen, 5));
    EXPECT_TRUE(e1().cas_open(0));
}

TEST_F(E1CtlTest, AMissingDriverIsLoggedOncePerAbsence)
{
    SimTest::Capture err(std::cerr);
    const std::string cas_line =
        "E1: cannot open /dev/e1-cas [cause=" + std::string(std::strerror(ENOENT)) + "]\n";
    const std::string maint_line =
        "E1: cannot open /dev/maintenance [cause=" + std::string(std::strerror(ENOENT)) + "]\n";
    board().SetPresent(kCas, false);
    board().SetPresent(kMaint, false);
    e1().OnConnect();
    Command(Cas(0, 1, kOpen, 1));
    Command(TrunkCfg(1, LGCP::TrunkMode::slave));
    Advance(5000);
    Command(Cas(0, 1, kOpen, 1));
    EXPECT_EQ(Occurrences(err.str(), cas_line), 1) << err.str();
    EXPECT_EQ(Occurrences(err.str(), maint_line), 1);

    // Back, then gone again: one more line.
    board().SetPresent(kCas, true);
    Advance(1000);
    ASSERT_TRUE(e1().cas_driver_open());
    board().Reset();
    board().SetPresent(kCas, false);
    board().SetPresent(kMaint, false);
    Pass();
    ASSERT_FALSE(e1().cas_driver_open());
    Advance(3000);
    EXPECT_EQ(Occurrences(err.str(), cas_line), 2) << err.str();
    EXPECT_EQ(Occurrences(err.str(), maint_line), 1);
}

TEST_F(E1CtlTest, AMaskThatCannotBeWrittenIsWrittenWhenTheDriverOpens)
{
    SimTest::Capture err(std::cerr);
    board().SetPresent(kMaint, false);
    e1().OnConnect();
    Command(TrunkCfg(1, LGCP::TrunkMode::slave));
    Command(TrunkCfg(3, LGCP::TrunkMode::slave));
    const std::string line = "E1: fail to set TCLK [cause=" + std::string(std::strerror(ENOENT)) +
                             "], written when the driver opens\n";
    EXPECT_EQ(Occurrences(err.str(), line), 3) << err.str();
    EXPECT_EQ(board().Count(kMaint, E1Ctl::E1_TCLK), 0u);

    board().SetPresent(kMaint, true);
    SimTest::Capture log(std::clog);
    Advance(1000);
    EXPECT_EQ(board().device<Sim::Maintenance>().tclk(), 0xa);
    EXPECT_EQ(board().Count(kMaint, E1Ctl::E1_TCLK), 1u);
    EXPECT_NE(log.str().find("E1: TCLT = 0xa\n"), std::string::npos) << log.str();
    Advance(1000);
    EXPECT_EQ(board().Count(kMaint, E1Ctl::E1_TCLK), 1u) << "written once";
}

TEST_F(E1CtlTest, DriverEventsBecomeCasSignals)
{
    ASSERT_TRUE(e1().CheckOpenCas());
    auto record = Sim::E1Cas::Event(2, 7, 0xA, 0x5);
    ASSERT_EQ(board().Inject(kCas, record.data(), record.size()), 1);
    Pass();
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{2, 7, 0xA, 0x5}}));

    // A short record says nothing.
    listener.clear();
    ASSERT_EQ(board().Inject(kCas, record.data(), 11), 1);
    Pass();
    Pass();
    EXPECT_TRUE(listener.cas.empty());

    // The driver goes away: the descriptor is dropped, not polled for ever,
    // and the next status tick opens it again.
    board().Reset();
    Pass();
    EXPECT_FALSE(e1().cas_driver_open());
    e1().OnCheckStatus(nullptr);
    EXPECT_TRUE(e1().cas_driver_open());
}

TEST_F(E1CtlTest, DisconnectClosesEveryOpenTrunk)
{
    Command(Cas(0, 0, kOpen));
    Command(Cas(2, 3, kOpen, 1));
    ASSERT_TRUE(e1().cas_open(0) && e1().cas_open(2));
    listener.clear();
    e1().OnDisconnect();
    EXPECT_EQ(board().Count(kCas, E1Ctl::CAS_CLOSE), 2u);
    EXPECT_EQ(listener.cas, (std::vector<CasReport>{{0, 0, 1, 0}, {2, 0, 1, 0}}));
    EXPECT_FALSE(e1().cas_open(0) || e1().cas_open(2));
    EXPECT_FALSE(board().device<Sim::E1Cas>().trunk_open(0) || board().device<Sim::E1Cas>().trunk_open(2));
}

} // namespace
