// The monitoring service in process: the simulated "/dev/hal", a fresh
// GW_ROOT with the board's files, and the frozen loop clock.

#include "monitoring/monitoring_ctl.hpp"

#include "core/paths.hpp"
#include "core/process.hpp"
#include "core/traces.hpp"
#include "sim/hal.hpp"
#include "core/version.hpp"
#include "hardware/driver_port.hpp"
#include "support/board_services.hpp"
#include "tests/monitoring/fake_agent.hpp"
#include "tests/monitoring/store_fixture.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>

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
        agent = std::make_unique<MonTest::FakeAgent>();
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
        DisconnectHost();
        svc.reset();
        agent.reset();
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

    // The fake agent as the service's one agent, connected, with the
    // refresh its connect brings delivered.
    void ConnectAgent(MonitoringCtl& m)
    {
        IniFile::File file;
        std::istringstream in("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent->port()) +
                              "\nname = dakv\n");
        in >> file;
        m.Configure(file);
        Pump();
        ASSERT_EQ(m.agents().instances()[0]->state(), SnmpAgentInstance::Connected);
    }
    void Pump()
    {
        for (int i = 0; i < 8; ++i) {
            Pass();
            agent->Poll(0);
        }
    }
    // The entries of every command the agent received, without their
    // numbering; a trap receivers' list as "trapsink host...".
    std::vector<std::vector<std::string>> Received() const
    {
        std::vector<std::vector<std::string>> out;
        for (MON::Command const& c : agent->commands()) {
            std::vector<std::string> entries;
            if (c.is_snmp_trapsink_set()) {
                std::string text = "trapsink";
                for (MON::SnmpTrapsink const& sink : c.get_snmp_trapsink_set().get_trapsinks())
                    text += " " + std::string(sink.get_host());
                entries.push_back(text);
            }
            for (std::string const& e : MonTest::SetEntries(c))
                entries.push_back(e.substr(e.find(' ') + 1));
            out.push_back(entries);
        }
        return out;
    }
    // The status `poll` leaves without a host: notrun, or notconnection
    // while a process named "controller" runs elsewhere on the machine
    // (another test's: the look-up reads the machine's own "/proc").
    template <class F>
    void ExpectWithoutHost(MonitoringCtl& m, F poll)
    {
        const bool before = find_proc_by_name("controller", 0) > 0;
        poll();
        const bool after = find_proc_by_name("controller", 0) > 0;
        const int status = m.store().ownControllerStatus.getValue();
        if (!before && !after)
            EXPECT_EQ(status, HSP::ControllerStatus::notrun);
        else
            EXPECT_TRUE(status == HSP::ControllerStatus::notrun ||
                        status == HSP::ControllerStatus::notconnection);
        EXPECT_EQ(Mon("controller/self/status"), std::to_string(status));
    }
    static std::string Tag()
    {
        std::ostringstream os;
        Version::current.put(os);
        return os.str();
    }

    static LGCP::Command Board(int position)
    {
        LGCP::Command c;
        LGCP::BoardStatusParams& b = c.select_display().select_board().select_boardStatus();
        b.set_position(position);
        b.get_version().assign({'1', '.', '0'});
        b.get_status() = LGCP::ExtBoardStatus::ready;
        b.get_type() = LGCP::ExtBoardType::fxs;
        return c;
    }
    static LGCP::Command Phone(int id)
    {
        LGCP::Command c;
        LGCP::EmPhoneStatusParams& p = c.select_display().select_emPhone().select_phoneStatus();
        p.set_id(id);
        p.get_panelSV().assign({'p', '1'});
        p.get_ctrlSV().assign({'c', '2'});
        p.get_fpgaSV().assign({'f', '3'});
        p.get_status() = LGCP::EmPhoneStatus::ready;
        p.get_powerStatus() = LGCP::POWERStatus::main;
        p.get_mode() = LGCP::EmPhoneMode::sleep;
        p.get_hookStatus() = LGCP::EmPhoneConnectionStatus::connected;
        p.get_baseStatus() = LGCP::EmPhoneConnectionStatus::unknown;
        return c;
    }
    static LGCP::Command Counter(LGCP::TermCounterOwner::NamedNumber owner, int cnt, int ownerId = -1)
    {
        LGCP::Command c;
        LGCP::TermCounter& t = c.select_display().select_termCounter();
        t.get_owner() = owner;
        if (ownerId >= 0)
            t.set_ownerId(ownerId);
        t.set_cnt(cnt);
        return c;
    }
    static LGCP::Command SnmpSet(const std::string& name, const std::string& value)
    {
        LGCP::Command c;
        MON::SnmpSetCommand entry;
        entry.set_uniq(9);
        MON::IniName& id = entry.get_id().select_name();
        id.set_section("sysGroup");
        id.set_name(name);
        id.set_index(0);
        entry.set_value(value);
        c.select_display().select_snmp_set().get_commands().push_back(entry);
        return c;
    }
    static LGCP::Command Receivers(const char* host)
    {
        LGCP::Command c;
        ASN1::IA5String text;
        text = host;
        c.select_display().select_snmpTrapReceivers().push_back(text);
        return c;
    }
    static LGCP::Command Controller(const std::string& host, HSP::ControllerStatus::NamedNumber status)
    {
        LGCP::Command c;
        LGCP::ControllerInfo& info = c.select_display().select_controller();
        info.get_host().set_iaddr(host);
        info.get_host().set_port(0);
        info.get_status() = status;
        return c;
    }

    std::string cwd_;
    std::unique_ptr<TempRoot> root_;
    // Made after the descriptor count of the set-up, gone before its check.
    std::unique_ptr<MonTest::FakeAgent> agent;
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

// The polls change nothing on the board, so the simulated board's log of
// requests (what tests of other services read) stays free of them.
TEST_F(Monitoring, PollsStayOutOfTheBoardsLog)
{
    // As in the server, the switch has "/dev/hal" open from the start.
    const int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    MonitoringCtl& m = Make();
    board().ClearLog();
    Advance(4000);
    EXPECT_TRUE(board().Log().empty());
    ASSERT_TRUE(m.OnCommand(Framer(0, true, true)));
    EXPECT_EQ(board().Log().size(), 1u);
    Driver::Close(fd);
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
    ConnectAgent(m);
    agent->clear();
    m.OnSignal(Trunk(1, ACP::TrunkState::normal));
    EXPECT_FALSE(m.refresh_pending()) << "no framer numbered 2";
    m.OnSignal(Trunk(0, ACP::TrunkState::normal));
    m.OnSignal(Trunk(0, ACP::TrunkState::ais));
    m.OnSnmpAgentConnect("dakv");
    EXPECT_TRUE(m.refresh_pending());
    Pump();
    EXPECT_FALSE(m.refresh_pending());
    // One refresh: one list per address type, the framer's state in it once.
    std::vector<std::vector<std::string>> const got = Received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(std::count(got[0].begin(), got[0].end(),
                         "e1Table.e1StatusDsc[1]=" + m.store().framers.front().stateText),
              1);
    EXPECT_NE(m.store().framers.front().stateText, "absent");
    // A report that changes nothing asks for nothing.
    m.OnSignal(Trunk(0, ACP::TrunkState::ais));
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

// Each polled input changed once, on the poll that reads it: the one item
// it causes, for dakv (key 2) and dizoru.qv (key 4).
TEST_F(Monitoring, EachPolledChangeSendsItsItemOnItsTimer)
{
    const std::string etc = "usr/local/etc/";
    const std::string framer = "proc/driver/hdlc/peb22554/0";
    root_->mkdirs("proc/driver/hdlc/peb22554");
    root_->mkdirs(etc);
    root_->write(framer, "Current state           : No Carrier\n");
    root_->write(etc + "config.0000001a-000000000000002b", "");
    netifs_.Add(1, "eth0");
    MonitoringCtl& m = Make();
    ConnectAgent(m);
    // In steps, so that the agent answers its pings in time.
    const auto run = [&](unsigned ms) {
        for (unsigned step = 0; ms > 0; ms -= step) {
            step = std::min(ms, 1000u);
            Advance(step);
            Pump();
        }
    };
    hal().SetDip(5);
    Advance(1999);
    EXPECT_EQ(m.store().dipValue, -1) << "the first power poll is at 2000 ms";
    Advance(1);
    EXPECT_EQ(m.store().dipValue, 5);
    Advance(2999);
    EXPECT_FALSE(root_->exists("var/monitoring/controller/self/status"))
        << "the controller check is at 5000 ms";
    Advance(1);
    EXPECT_TRUE(root_->exists("var/monitoring/controller/self/status"));
    // From 62000 ms on: the power poll every 2000 ms, the background
    // check next at 121000 ms.
    run(57000);
    unsigned now = 62000, background = 121000;

    using Rows = std::vector<std::vector<std::string>>;
    const auto both = [](std::string const& entry) { return Rows{{entry}, {entry}}; };
    // Down at the second of three samples.
    const std::vector<std::string> eth0{"ifTable.ifOperStatus[1]=2", "ifTable.ifAdminStatus[1]=2",
                                        "ifTable.ifDescr[1]=eth0"};
    struct Row {
        const char* input;
        std::function<void()> change;
        unsigned ms; // to the poll that sends it; 0: the next background check
        Rows sent;
    } const rows[] = {
        {"dip", [&] { hal().SetDip(9); }, 2000, both("gatewayCommon.gatewayDip[0]=9")},
        {"power", [&] { hal().SetPower(1); }, 2000, both("gatewayCommon.powerStatus[0]=1")},
        {"interface", [&] { netifs_.SetRunning(1, false); }, 4000, Rows{eth0, eth0}},
        {"framer", [&] { root_->write(framer, "Current state           : Normal\n"); }, 0,
         Rows{{"e1Table.e1Connected[1]=1", "e1Table.e1StatusDsc[1]=Normal", "e1Table.e1SignalLoss[1]=1",
               "e1Table.e1FrameAlignLoss[1]=1", "e1Table.e1NegSlipCount[1]=0",
               "e1Table.e1PosSlipCount[1]=0"}}},
        {"temperature", [&] { root_->write("proc/temperature", "42.0 C\n"); }, 0,
         Rows{{"gatewayCommon.temperature[0]=42.0"}}},
        {"build", [&] { root_->write("var/version", "2.0\n"); }, 0,
         Rows{{"statusGeneral.sgBuildVersion[0]=2.0\n"}}},
        {"boot", [&] { root_->write("var/u-boot-version", "u2\n"); }, 0,
         Rows{{"statusGeneral.sgBootVersion[0]=u2\n"}}},
        {"fpga", [&] { root_->write("var/fpga-version", "f2\n"); }, 0,
         Rows{{"statusGeneral.sgFPGAVersion[0]=f2\n"}}},
        {"board", [&] { root_->write("var/board-version", "b2"); }, 0,
         Rows{{"statusGeneral.sgBoardVersion[0]=b2"}}},
        {"configuration",
         [&] {
             ASSERT_EQ(::rename((root_->dir() + "/" + etc + "config.0000001a-000000000000002b").c_str(),
                                (root_->dir() + "/" + etc + "config.0000001b-000000000000002b").c_str()),
                       0);
         },
         0, both("gatewayCommon.gatewayConfigVersion[0]=27")},
    };
    // The controller status may follow another test's "controller" process:
    // left out.
    const auto sent = [&] {
        Rows out;
        for (auto entries : Received()) {
            std::erase_if(entries, [](std::string const& e) {
                return e.find(".controllerStatus") != std::string::npos;
            });
            if (!entries.empty())
                out.push_back(entries);
        }
        return out;
    };
    for (Row const& row : rows) {
        agent->clear();
        row.change();
        const unsigned wait = row.ms == 0 ? background - now : row.ms;
        run(wait - 1);
        EXPECT_EQ(sent(), Rows{}) << row.input << " before its poll";
        run(1);
        EXPECT_EQ(sent(), row.sent) << row.input;
        now += wait;
        if (row.ms == 0)
            background += 60000;
    }
}

TEST_F(Monitoring, ControllerStatusWithoutHostAndAfterDisconnect)
{
    MonitoringCtl& m = Make();
    ExpectWithoutHost(m, [&] { Advance(5000); });
    root_->write("var/monitoring/board1", "x");
    ExpectWithoutHost(m, [&] { m.OnDisconnect(); });
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
    // Ours, or another test's running just now.
    EXPECT_GT(m.store().controllerPid, 0);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ExpectWithoutHost(m, [&] { Advance(5000); });
}

TEST_F(Monitoring, DisplayIsStoredAndAlwaysTaken)
{
    MonitoringCtl& m = Make();
    EXPECT_TRUE(m.OnCommand(Board(2)));
    ASSERT_EQ(m.store().boards.size(), 1u);
    EXPECT_TRUE(root_->exists("var/monitoring/board2"));

    EXPECT_TRUE(m.OnCommand(Counter(LGCP::TermCounterOwner::extBoard, 4)))
        << "a board counter without its id sends nothing, but is taken";

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

// What an agent that comes up receives: the ready lists at once, then the
// queued values by address type (2, then 4), each in the refresh's order.
TEST_F(Monitoring, AnAgentThatConnectsReceivesTheWholeStateInWireOrder)
{
    root_->mkdirs("proc/voice");
    root_->mkdirs("proc/driver/hdlc/peb22554/0");
    root_->mkdirs("usr/local/etc");
    root_->write("var/version", "1.0\n");
    root_->write("var/u-boot-version", "u1\n");
    root_->write("var/fpga-version", "f1\n");
    root_->write("var/board-version", "b1");
    root_->write("proc/temperature", "41.5 C\n");
    root_->write("proc/voice/version", "v 1.2 rc 7\n");
    root_->write("usr/local/etc/config.0000001a-000000000000002b", "");
    netifs_.Add(1, "eth0");
    hal().SetPower(1);
    hal().SetDip(5);
    MonitoringCtl& m = Make();
    Advance(5000);
    LGCP::Command const receivers = Receivers("10.0.0.9");
    for (LGCP::Command const& c :
         {receivers, SnmpSet("sysContact", "ops"), Board(2), Phone(0),
          Counter(LGCP::TermCounterOwner::router, 7), Counter(LGCP::TermCounterOwner::extBoard, 4, 3),
          Counter(LGCP::TermCounterOwner::controller, 8), Counter(LGCP::TermCounterOwner::server, 9)})
        ASSERT_TRUE(m.OnCommand(c));
    Pass();

    ConnectAgent(m);
    std::vector<std::string> const common{"gatewayCommon.driverBuild[0]=1.2 [rc 7]",
                                          "gatewayCommon.softwareBuild[0]=" + Tag(),
                                          "gatewayCommon.powerStatus[0]=1",
                                          "gatewayCommon.controllerStatus[0]=" +
                                              std::to_string(m.store().ownControllerStatus.getValue()),
                                          "gatewayCommon.gatewayDip[0]=5",
                                          "gatewayCommon.gatewayConfigVersion[0]=26"};
    std::vector<std::string> const counters{"gatewayTermCounters.routerTermCnt[0]=7",
                                            "gatewayTermCounters.controllerTermCnt[0]=8",
                                            "gatewayTermCounters.serverTermCnt[0]=9"};
    std::vector<std::string> const interfaces{"ifTable.ifOperStatus[1]=1", "ifTable.ifAdminStatus[1]=1",
                                              "ifTable.ifDescr[1]=eth0"};
    std::vector<std::string> dakv = common;
    dakv.push_back("gatewayCommon.temperature[0]=41.5");
    dakv.insert(dakv.end(), {"extBoardTable.extBoardStatus[2]=3", "extBoardTable.extBoardSoftVer[2]=1.0",
                             "extBoardTable.extBoardType[2]=2", "emPhoneTable.emPhonePanelSoftVer[1]=p1",
                             "emPhoneTable.emPhoneCtrlSoftVer[1]=c2", "emPhoneTable.emPhoneFpgaSoftVer[1]=f3",
                             "emPhoneTable.emPhoneStatus[1]=2", "emPhoneTable.emPhonePowerStatus[1]=2",
                             "emPhoneTable.emPhoneMode[1]=2", "emPhoneTable.emPhoneHookStatus[1]=1",
                             "emPhoneTable.emPhoneBaseStatus[1]=0"});
    dakv.insert(dakv.end(), counters.begin(), counters.end());
    dakv.insert(dakv.end(), {"extBoardTermCntTable.extBoardTermCnt[3]=4", "e1Table.e1Connected[1]=0",
                             "e1Table.e1StatusDsc[1]=absent", "e1Table.e1SignalLoss[1]=1",
                             "e1Table.e1FrameAlignLoss[1]=1", "e1Table.e1NegSlipCount[1]=0",
                             "e1Table.e1PosSlipCount[1]=0"});
    dakv.insert(dakv.end(), interfaces.begin(), interfaces.end());
    std::vector<std::string> status = common;
    // Version lines go out as read, line end and all.
    status.insert(status.end(),
                  {"statusGeneral.sgBuildVersion[0]=1.0\n", "statusGeneral.sgFPGAVersion[0]=f1\n",
                   "statusGeneral.sgBootVersion[0]=u1\n", "statusGeneral.sgBoardVersion[0]=b1"});
    status.insert(status.end(), counters.begin(), counters.end());
    status.insert(status.end(), interfaces.begin(), interfaces.end());

    EXPECT_EQ(Received(), (std::vector<std::vector<std::string>>{
                              {"trapsink 10.0.0.9"}, {"sysGroup.sysContact[0]=ops"}, dakv, status}));
    for (MonTest::FakeAgent::Record const& r : agent->records())
        EXPECT_TRUE(r.decoded);
}

TEST_F(Monitoring, EachDisplayReachesTheAgents)
{
    MonitoringCtl& m = Make();
    ConnectAgent(m);
    using Rows = std::vector<std::vector<std::string>>;
    // Numbers go out unsigned: the DIP before its first poll is -1.
    auto const refresh = Received();
    ASSERT_FALSE(refresh.empty());
    EXPECT_EQ(std::count(refresh[0].begin(), refresh[0].end(), "gatewayCommon.gatewayDip[0]=4294967295"), 1);
    const auto display = [&](LGCP::Command const& c) {
        agent->clear();
        EXPECT_TRUE(m.OnCommand(c));
        Pump();
        return Received();
    };
    EXPECT_EQ(display(Board(4)),
              (Rows{{"extBoardTable.extBoardStatus[4]=3", "extBoardTable.extBoardSoftVer[4]=1.0",
                     "extBoardTable.extBoardType[4]=2"}}));
    EXPECT_EQ(display(Phone(6)),
              (Rows{{"emPhoneTable.emPhonePanelSoftVer[7]=p1", "emPhoneTable.emPhoneCtrlSoftVer[7]=c2",
                     "emPhoneTable.emPhoneFpgaSoftVer[7]=f3", "emPhoneTable.emPhoneStatus[7]=2",
                     "emPhoneTable.emPhonePowerStatus[7]=2", "emPhoneTable.emPhoneMode[7]=2",
                     "emPhoneTable.emPhoneHookStatus[7]=1", "emPhoneTable.emPhoneBaseStatus[7]=0"}}));
    // Every stored counter, whichever one the host reported, owners in
    // a fixed order.
    display(Counter(LGCP::TermCounterOwner::extBoard, 4, 3));
    display(Counter(LGCP::TermCounterOwner::server, 9));
    EXPECT_EQ(display(Counter(LGCP::TermCounterOwner::router, 7)),
              (Rows{{"gatewayTermCounters.routerTermCnt[0]=7", "gatewayTermCounters.serverTermCnt[0]=9",
                     "extBoardTermCntTable.extBoardTermCnt[3]=4"},
                    {"gatewayTermCounters.routerTermCnt[0]=7", "gatewayTermCounters.serverTermCnt[0]=9"}}));
    // The own status, whatever host the display named.
    EXPECT_EQ(display(Controller("10.1.2.3", HSP::ControllerStatus::active)),
              (Rows{{"gatewayCommon.controllerStatus[0]=2"}, {"gatewayCommon.controllerStatus[0]=2"}}));
    EXPECT_EQ(display(Controller("10.9.9.9", HSP::ControllerStatus::standby)),
              (Rows{{"gatewayCommon.controllerStatus[0]=2"}, {"gatewayCommon.controllerStatus[0]=2"}}));
    EXPECT_EQ(display(Receivers("10.0.0.9:162")), (Rows{{"trapsink 10.0.0.9:162"}}));

    // The host's own list leaves at once, ahead of the values queued in the
    // same pass.
    agent->clear();
    ASSERT_TRUE(m.OnCommand(Board(1)));
    ASSERT_TRUE(m.OnCommand(SnmpSet("sysName", "gw")));
    Pump();
    ASSERT_EQ(Received().size(), 2u);
    EXPECT_EQ(Received()[0], std::vector<std::string>{"sysGroup.sysName[0]=gw"});
    EXPECT_EQ(root_->read("var/monitoring/sysGroup/0/sysName"), "gw");

    auto const counters = display(Counter(LGCP::TermCounterOwner::controller, -2));
    ASSERT_EQ(counters.size(), 2u);
    EXPECT_EQ(counters[0][1], "gatewayTermCounters.controllerTermCnt[0]=4294967294");

    LGCP::Command unknown;
    unknown.select_display().setSelectionIndex(ASN1::CHOICE::unknownSelection_);
    EXPECT_EQ(display(unknown), Rows{});
    EXPECT_EQ(display(Counter(LGCP::TermCounterOwner::none, 3)).size(), 2u) << "stored counters resent";
}

TEST_F(Monitoring, ControllerStatusWithTheHostConnectedIsTheHostsOwn)
{
    MonitoringCtl& m = Make();
    ConnectHost();
    // The check at connect found the supply's first value, and the connect
    // sends its own.
    EXPECT_EQ(listener.powers, (std::vector<int>{LGCP::POWERStatus::main, LGCP::POWERStatus::main}));
    ASSERT_TRUE(m.OnCommand(Controller("10.1.2.3", HSP::ControllerStatus::active)));
    Advance(5000);
    EXPECT_EQ(m.store().ownControllerStatus.getValue(), HSP::ControllerStatus::active);
    EXPECT_EQ(Mon("controller/self/status"), "2");
    // Another host's report is kept apart from the board's own.
    ASSERT_TRUE(m.OnCommand(Controller("10.9.9.9", HSP::ControllerStatus::standby)));
    Advance(5000);
    EXPECT_EQ(Mon("controller/self/status"), "2");
    ExpectWithoutHost(m, [&] { DisconnectHost(); });
}

} // namespace
