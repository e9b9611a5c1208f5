// The monitoring service in process: the simulated "/dev/hal", a fresh
// GW_ROOT with the board's files, and the frozen loop clock.

#include "monitoring/monitoring_ctl.hpp"

#include "core/paths.hpp"
#include "core/traces.hpp"
#include "sim/hal.hpp"
#include "support/board_services.hpp"
#include "tests/monitoring/store_fixture.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace {

using namespace BoardServicesTest;

TEST(BoardText, DriverBuildTakesTokensOneToThree)
{
    EXPECT_EQ(BoardText::DriverBuild("v 1.2 rc 7 extra\n"), "1.2 [rc 7]");
    EXPECT_EQ(BoardText::DriverBuild("v 1.2 rc\n"), "1.2 [rc]");
    EXPECT_EQ(BoardText::DriverBuild("v 1.2\n"), "none");
    EXPECT_EQ(BoardText::DriverBuild("a  b   c d"), "b [c d]");
    // Only single spaces split; other white space is trimmed off a token.
    EXPECT_EQ(BoardText::DriverBuild("a\tb c"), "none");
    EXPECT_EQ(BoardText::DriverBuild("a b \t c"), "b [ c]");
    EXPECT_EQ(BoardText::DriverBuild(""), "none");
    // Only the first 126 characters are read.
    EXPECT_EQ(BoardText::DriverBuild(std::string(126, 'x') + " b c d"), "none");
}

TEST(BoardText, LinesKeepTheirEndAndStopAtTheLimit)
{
    EXPECT_EQ(BoardText::FirstLine("1.0\n2.0\n"), "1.0\n");
    EXPECT_EQ(BoardText::FirstLine("1.0"), "1.0");
    EXPECT_EQ(BoardText::FirstLine(std::string("1.0\0x", 5)), "1.0");
    EXPECT_EQ(BoardText::FirstLine(std::string(300, 'a')).size(), 254u);
    EXPECT_EQ(BoardText::Temperature("41.5 C\n"), "41.5");
    EXPECT_EQ(BoardText::Temperature(" 41.5"), "");
    EXPECT_EQ(BoardText::Temperature("41.5\v"), "41.5");
}

TEST(BoardText, ConfigurationEntries)
{
    std::uint32_t head = 0;
    std::uint64_t tail = 0;
    EXPECT_TRUE(BoardText::ConfigVersion("config.0000001a-000000000000002b", head, tail));
    EXPECT_EQ(head, 0x1au);
    EXPECT_EQ(tail, 0x2bu);
    EXPECT_FALSE(BoardText::ConfigVersion("config.2save.tar.bz2", head, tail));
    EXPECT_FALSE(BoardText::ConfigVersion("server.conf", head, tail));
    // Short or broken parts leave their number as it was.
    EXPECT_TRUE(BoardText::ConfigVersion("config.ff", head, tail));
    EXPECT_EQ(head, 0xffu);
    EXPECT_EQ(tail, 0x2bu);
    EXPECT_TRUE(BoardText::ConfigVersion("config.zz-0000000000000003", head, tail));
    EXPECT_EQ(head, 0xffu);
    EXPECT_EQ(tail, 3u);
    EXPECT_TRUE(BoardText::ConfigVersion("config.", head, tail));
    EXPECT_EQ(head, 0xffu);
}

class Monitoring : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        char cwd[PATH_MAX];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        cwd_ = cwd;
        root_ = std::make_unique<TempRoot>();
        root_->mkdirs("var");
        NetIfSource::Set(&netifs_);
        Net::set_private_address_source([](std::list<INet4::Addr>& out) {
            INet4::Addr a;
            a.Assign("10.1.2.3");
            out.push_back(a);
            return 1;
        });
    }
    void TearDown() override
    {
        svc.reset();
        traces.Reset();
        NetIfSource::Set(nullptr);
        Net::set_private_address_source({});
        EXPECT_EQ(::chdir(cwd_.c_str()), 0);
        root_.reset();
        ServiceTest::TearDown();
    }
    MonitoringCtl& Make()
    {
        svc = std::make_unique<MonitoringCtl>();
        Bind(svc.get());
        return *svc;
    }
    Sim::HalClockSpi& hal() { return board().device<Sim::Hal>().clock_spi(); }
    std::string Mon(const std::string& relative) const { return root_->read("var/monitoring/" + relative); }

    static LGCP::Command Framer(int e1, bool line, bool value)
    {
        LGCP::Command c;
        LGCP::FramerInfo& f = c.select_display().select_framer();
        f.set_e1(e1);
        if (line)
            f.get_info().select_line() = value;
        else
            f.get_info().select_link() = value;
        return c;
    }
    static LGCP::Signal Trunk(int trunk, ACP::TrunkState::NamedNumber state)
    {
        LGCP::Signal s;
        s.select_trunkStatus().get_trunk().setValue(trunk);
        s.get_trunkStatus().get_state() = state;
        return s;
    }

    std::string cwd_;
    std::unique_ptr<TempRoot> root_;
    MonTest::FakeNetIfs netifs_;
    std::unique_ptr<MonitoringCtl> svc;
};

TEST_F(Monitoring, PowerIsMappedSentOnChangeAndAlwaysAtConnect)
{
    MonitoringCtl& m = Make();
    hal().SetPower(1);
    Advance(2000);
    EXPECT_EQ(listener.powers, std::vector<int>{LGCP::POWERStatus::standby});
    EXPECT_EQ(Mon("powerstatus"), "1");
    Advance(2000);
    EXPECT_EQ(listener.powers.size(), 1u) << "an unchanged byte sends nothing";
    hal().SetPower(0);
    Advance(2000);
    hal().SetPower(7);
    Advance(2000);
    EXPECT_EQ(listener.powers, (std::vector<int>{1, LGCP::POWERStatus::both, LGCP::POWERStatus::unknown}));
    listener.clear();
    m.OnConnect();
    EXPECT_EQ(listener.powers, std::vector<int>{LGCP::POWERStatus::unknown});
}

TEST_F(Monitoring, DipAndAFailedRequest)
{
    MonitoringCtl& m = Make();
    hal().SetDip(5);
    Advance(2000);
    EXPECT_EQ(m.store().dipValue, 5);
    EXPECT_EQ(Mon("dip"), "5");
    hal().SetDip(6);
    board().Fail("/dev/hal", MonitoringCtl::HAL_DIP, 1, EIO);
    Advance(2000);
    EXPECT_EQ(m.store().dipValue, 5);
    Advance(2000);
    EXPECT_EQ(m.store().dipValue, 6);
}

TEST_F(Monitoring, MissingHalIsSkippedAndOpenedAgainLater)
{
    board().SetPresent("/dev/hal", false);
    MonitoringCtl& m = Make();
    hal().SetPower(1);
    Advance(2000);
    EXPECT_TRUE(listener.powers.empty());
    ASSERT_TRUE(m.OnCommand(Framer(0, true, true)));
    EXPECT_EQ(m.led(), 0);
    board().SetPresent("/dev/hal", true);
    Advance(2000);
    EXPECT_EQ(listener.powers, std::vector<int>{1});
}

TEST_F(Monitoring, FramerLedsAndTheLastWriteAtDestruction)
{
    MonitoringCtl& m = Make();
    ASSERT_TRUE(m.OnCommand(Framer(1, true, true)));
    EXPECT_EQ(hal().led(), 0x0c) << "a line that comes up shows no link";
    ASSERT_TRUE(m.OnCommand(Framer(1, false, true)));
    EXPECT_EQ(hal().led(), 0x08);
    ASSERT_TRUE(m.OnCommand(Framer(3, false, false)));
    EXPECT_EQ(hal().led(), 0x48);
    ASSERT_TRUE(m.OnCommand(Framer(1, true, true)));
    EXPECT_EQ(hal().led(), 0x48) << "a line already up keeps its link LED";
    ASSERT_TRUE(m.OnCommand(Framer(1, true, false)));
    EXPECT_EQ(hal().led(), 0x40);
    svc.reset();
    ASSERT_FALSE(hal().led_writes().empty());
    EXPECT_EQ(hal().led_writes().back(), 0);
}

TEST_F(Monitoring, TrunkReportsBatchIntoOneRefresh)
{
    root_->mkdirs("proc/driver/hdlc/peb22554");
    root_->write("proc/driver/hdlc/peb22554/0", "");
    MonitoringCtl& m = Make();
    ASSERT_EQ(m.store().framers.size(), 1u);
    m.OnSignal(Trunk(1, ACP::TrunkState::normal));
    EXPECT_FALSE(m.refresh_pending()) << "no framer numbered 2";
    m.OnSignal(Trunk(0, ACP::TrunkState::normal));
    m.OnSignal(Trunk(0, ACP::TrunkState::ais));
    m.OnSnmpAgentConnect("agent");
    EXPECT_TRUE(m.refresh_pending());
    EXPECT_NE(m.store().framers.front().stateText, "absent");
    Pass();
    EXPECT_FALSE(m.refresh_pending());
}

TEST_F(Monitoring, BackgroundChecksOnTheirTimers)
{
    root_->mkdirs("proc");
    root_->mkdirs("usr/local/etc");
    root_->write("var/version", "1.0\n");
    root_->write("proc/temperature", "41.5 C\n");
    root_->write("usr/local/etc/config.0000001a-000000000000002b", "");
    root_->write("usr/local/etc/config.2save.tar.bz2", "");
    root_->mkdirs("usr/local/etc/config.000000ff-00000000000000ff");
    MonitoringCtl& m = Make();
    Advance(999);
    EXPECT_EQ(m.store().buildVersion, "");
    Advance(1);
    EXPECT_EQ(m.store().buildVersion, "1.0\n");
    EXPECT_EQ(m.store().temperature, "41.5");
    EXPECT_EQ(m.store().configVersionHead, 0x1au);
    EXPECT_EQ(m.store().configVersionTail, 0x2bu);
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd) + "/", RootPath("/usr/local/etc/"));

    root_->write("var/version", "2.0\n");
    Advance(59999);
    EXPECT_EQ(m.store().buildVersion, "1.0\n");
    Advance(1);
    EXPECT_EQ(m.store().buildVersion, "2.0\n");
}

TEST_F(Monitoring, ControllerStatusWithoutHostAndAfterDisconnect)
{
    MonitoringCtl& m = Make();
    Advance(5000);
    EXPECT_EQ(m.store().ownControllerStatus.getValue(), HSP::ControllerStatus::notrun);
    EXPECT_EQ(Mon("controller/self/status"), "5");
    root_->write("var/monitoring/board1", "x");
    m.OnDisconnect();
    EXPECT_EQ(m.store().ownControllerStatus.getValue(), HSP::ControllerStatus::notrun);
}

TEST_F(Monitoring, ControllerProcessWithoutHostIsNotConnected)
{
    int ready[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::prctl(PR_SET_NAME, "controller", 0, 0, 0);
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    MonitoringCtl& m = Make();
    Advance(5000);
    EXPECT_EQ(m.store().ownControllerStatus.getValue(), HSP::ControllerStatus::notconnection);
    EXPECT_EQ(m.store().controllerPid, child);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    Advance(5000);
    EXPECT_EQ(m.store().ownControllerStatus.getValue(), HSP::ControllerStatus::notrun);
}

TEST_F(Monitoring, DisplayIsStoredAndAlwaysTaken)
{
    MonitoringCtl& m = Make();
    LGCP::Command board;
    LGCP::BoardStatusParams& b = board.select_display().select_board().select_boardStatus();
    b.set_position(2);
    b.get_version().assign({'1', '.', '0'});
    b.get_status() = LGCP::ExtBoardStatus::ready;
    b.get_type() = LGCP::ExtBoardType::fxs;
    EXPECT_TRUE(m.OnCommand(board));
    ASSERT_EQ(m.store().boards.size(), 1u);
    EXPECT_TRUE(root_->exists("var/monitoring/board2"));

    LGCP::Command counter;
    LGCP::TermCounter& t = counter.select_display().select_termCounter();
    t.get_owner() = LGCP::TermCounterOwner::extBoard;
    t.set_cnt(4);
    EXPECT_TRUE(m.OnCommand(counter)) << "a board counter without its id sends nothing, but is taken";

    // The host's departure voids its board reports.
    m.OnDisconnect();
    EXPECT_TRUE(m.store().boards.empty());
    EXPECT_FALSE(root_->exists("var/monitoring/board2"));

    LGCP::Command other;
    other.set_destroy();
    EXPECT_FALSE(m.OnCommand(other));
}

TEST_F(Monitoring, FramerFileErrorsAreTracedOnlyWhenAsked)
{
    root_->mkdirs("proc/driver/hdlc/peb22554/0");
    MonitoringCtl& m = Make();
    ASSERT_EQ(m.store().framers.size(), 1u);
    SimTest::Capture log{std::clog};
    m.doFramerCheck();
    EXPECT_EQ(log.str(), "");
    traces[TraceCtl::monitoring_internal] = true;
    m.doFramerCheck();
    EXPECT_NE(log.str().find("monitoring: Error read file: \""), std::string::npos);
}

} // namespace
