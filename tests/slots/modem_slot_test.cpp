// Modem slots in process, on the test clock: which kind a create makes, the
// DSP modem's set-up on "/dev/mctl" and the digital modem's on its HDLC
// interface, the child programs (the stand-ins of standins/, really
// started), their ends, the stop sequence, the host's loss, and the
// enumeration for the resources query.

#include "modem_fixture.hpp"

#include "core/child_wait.hpp"
#include "core/process.hpp"
#include "sim/mctl.hpp"
#include "sim/netifs.hpp"
#include "slots/modem_slot.hpp"
#include "support/leak_check.hpp"

#include <gmock/gmock.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

using namespace SlotsTest;
using Sim::Mctl;
using Sim::NetIfs;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;
using Words = std::vector<std::uint32_t>;

bool IsAbort(Received const& m, int code)
{
    return m.kind == Received::Signal && m.signal.is_abort() && m.signal.get_abort().getValue() == code;
}

TEST_F(Modems, CreateMakesADigitalModemOnlyForDataModesAndAFreeInterface)
{
    LGCP::Resources r = Query();
    EXPECT_EQ(r.get_modem().getValue(), 4);
    EXPECT_EQ(r.get_digital_modems().getValue(), 2);

    auto ddm = Modem([](auto& p) { AddDdm(p, {TERM::DigitalDataModeEnum::ddmV120}); });
    EXPECT_EQ(Texts(host().Create(1, Modem())), Lines{"success seq=2 slot=1"});
    EXPECT_EQ(slot(1)->GetName(), std::string("dsp-modem"));
    // An empty list of modes asks for no digital modem.
    host().Create(2, Modem([](auto& p) { p.include_ddm(); }));
    EXPECT_EQ(slot(2)->GetName(), std::string("dsp-modem"));
    host().Create(3, ddm);
    ASSERT_EQ(slot(3)->GetName(), std::string("digital-modem"));
    EXPECT_EQ(dynamic_cast<HdlcModemSlot*>(slot(3))->GetIfName(), "hdlc0");
    EXPECT_EQ(modem(3)->modem_id(), -1);

    // A query between two creates rebuilds the free list from what is
    // present, yet hdlc0 stays with slot 3.
    r = Query();
    EXPECT_EQ(r.get_digital_modems().getValue(), 2);
    host().Create(4, ddm);
    EXPECT_EQ(dynamic_cast<HdlcModemSlot*>(slot(4))->GetIfName(), "hdlc1");
    // None free: a DSP modem, and no create fails for want of a modem.
    host().Create(6, ddm);
    EXPECT_EQ(slot(6)->GetName(), std::string("dsp-modem"));
    EXPECT_EQ(factory().modemSlots.size(), 5u);
    EXPECT_EQ(factory().dspSlots.size(), 3u);
    EXPECT_EQ(factory().hdlcSlots.size(), 2u);
    // Nothing is taken before a connection.
    EXPECT_EQ(board().Count("/dev/mctl", Mctl::kAllocate), 0u);

    // Without a child the destroy is done at once, and the interface comes
    // back once, though the slot leaves its lists twice (release, then its
    // destructor).
    EXPECT_EQ(Texts(host().Destroy(3)), Lines{"success seq=8 slot=3"});
    EXPECT_EQ(factory().freeHdlc, Lines{"hdlc0"});
    host().Destroy(1);
    EXPECT_EQ(factory().modemSlots.size(), 3u);
    EXPECT_EQ(factory().dspSlots.size(), 2u);
    host().Create(3, ddm);
    EXPECT_EQ(dynamic_cast<HdlcModemSlot*>(slot(3))->GetIfName(), "hdlc0");
    EXPECT_TRUE(factory().freeHdlc.empty());
}

TEST_F(Modems, EnumerationCountsModemsToEnodevAndInterfacesToTheFirstGap)
{
    mctl().SetModems(7);
    EXPECT_EQ(Query().get_modem().getValue(), 7);
    mctl().SetModems(300);
    EXPECT_EQ(Query().get_modem().getValue(), 256);

    // hdlc3 is not looked at: the scan stops at the missing hdlc2. A
    // loopback or broadcast interface is present but no digital modem.
    netifs().Set("hdlc1", NetIfs::kUp | NetIfs::kPointToPoint | NetIfs::kLoopback, 1701);
    netifs().Set("hdlc3", NetIfs::kUp | NetIfs::kPointToPoint, 1703);
    Capture log(std::clog);
    EXPECT_EQ(Query().get_digital_modems().getValue(), 1);
    EXPECT_NE(log.str().find("modem[256,0]: found point-o-point devices: hdlc0\n"), std::string::npos);
    EXPECT_EQ(factory().freeHdlc, Lines{"hdlc0"});

    Capture err(std::cerr);
    board().Fail("/dev/mctl", Mctl::kEnumerate, 1, EIO);
    EXPECT_EQ(Query().get_modem().getValue(), 0);
    EXPECT_NE(err.str().find("enum fail: Input/output error\n"), std::string::npos);
    board().SetPresent("/dev/mctl", false);
    EXPECT_EQ(Query().get_modem().getValue(), 0);
    EXPECT_NE(err.str().find("modem[0,0]: fail to open \"/dev/mctl\" : No such file or directory\n"),
              std::string::npos);
}

TEST_F(Modems, TrunkToDspModemTakesTheModemAndStartsPppd)
{
    TrunkAndModem(Modem([](auto& p) {
        p.set_cid("5551234");
        AddDmp(p, 5, 7);
        AddDmp(p, 64, 1); // refused by the driver: logged, and the next one still goes
        AddDmp(p, -1, -2);
        AddDmp(p, 6, 8);
    }));
    Capture log(std::clog);
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Connect(7, 5)),
              (Lines{"signal slot=5 transmitter : active : 1600", "signal slot=5 receiver : active : 1600",
                     "success seq=3 slot=7"}));
    EXPECT_EQ(Requests("/dev/mctl"), (Lines{
                                         "/dev/mctl open",
                                         "/dev/mctl 0x0000bb0b 0 = 0",
                                         "/dev/mctl 0x0000bb15 0 = 1600",
                                         "/dev/mctl 0x0000bb3a 0 4294967295 = 0",
                                         "/dev/mctl 0x0000bb38 0 5 7 = 0",
                                         "/dev/mctl 0x0000bb38 0 64 1 = -1 EINVAL",
                                         "/dev/mctl 0x0000bb38 0 4294967295 4294967294 = -1 EINVAL",
                                         "/dev/mctl 0x0000bb38 0 6 8 = 0",
                                         "/dev/mctl 0x0000bb03 0 4294967295 = 0",
                                     }));
    EXPECT_THAT(err.str(),
                testing::HasSubstr("05:dsp-modem: set dmp parameter index=64 value=1 failed : Invalid "
                                   "argument\n05:dsp-modem: set dmp parameter index=-1 value=-2 failed"));
    EXPECT_EQ(Switch(1600), "1600 connected 37");
    EXPECT_TRUE(mctl().Allocated(0));
    EXPECT_EQ(modem(5)->modem_id(), 0);
    EXPECT_TRUE(modem(5)->EqAuthId(0));

    ASSERT_TRUE(Started(1));
    auto run = Runs().at(0);
    EXPECT_EQ(run.argv, (Lines{Root("/usr/local/sbin/pppd"), "file", Root("/usr/local/etc/ppp/aoptions"),
                               Root("/dev/mdm0"), "remotenumber", "5551234"}));
    EXPECT_EQ(run.pid, modem(5)->child_pid());
    EXPECT_NE(
        log.str().find("05:dsp-modem: pppd executed cid=\"5551234\" pid=" + std::to_string(run.pid) + "\n"),
        std::string::npos);

    // A second connection: no driver request, the modem is the source now.
    host().Create(8, Trunk(1, 8));
    board().ClearLog();
    EXPECT_EQ(Texts(host().Connect(5, 8)), Lines{"success seq=5 slot=5"});
    EXPECT_TRUE(Requests("/dev/mctl").empty());
    EXPECT_EQ(Switch(40), "40 connected 1600");

    // Destroy: SIGHUP, and the success when pppd has gone.
    EXPECT_TRUE(host().Destroy(5).empty());
    std::uint32_t const seq = host().LastSeq();
    auto got = ReceiveUntil([](auto const& all) { return !all.empty(); });
    EXPECT_EQ(Texts(got), Lines{"success seq=" + std::to_string(seq) + " slot=5"});
    EXPECT_NE(err.str().find("05:dsp-modem: sent HUP to pppd.\n"), std::string::npos);
    EXPECT_NE(log.str().find("05:dsp-modem: pppd terminated with code 0\n"), std::string::npos);
    EXPECT_EQ(slot(5), nullptr);
    EXPECT_FALSE(mctl().Allocated(0));
    EXPECT_TRUE(factory().modemSlots.empty());
}

TEST_F(Modems, DataModesOriginateAndTheHostsCommandLine)
{
    NoInterfaces();
    host().Create(7, Trunk(1, 5));
    host().Create(8, Trunk(1, 8));
    host().Create(9, Trunk(1, 9));
    host().Create(1, Modem([](auto& p) {
                      AddDdm(p, {TERM::DigitalDataModeEnum::ddmV110, TERM::DigitalDataModeEnum::ddm8BIT});
                      p.set_originate();
                  }));
    host().Create(2, Modem([](auto& p) {
                      AddDdm(p, {TERM::DigitalDataModeEnum::ddmV120});
                      AddExecArgs(p, 70);
                      p.set_cid(std::string(5000, '7'));
                  }));
    host().Create(3, Modem([&](auto& p) {
                      AddDdm(p, {TERM::DigitalDataModeEnum::ddm7BIT});
                      p.set_execfile(Root("/usr/local/bin/fax"));
                      p.set_cid(std::string(5000, '7'));
                  }));
    host().Connect(7, 1);
    host().Connect(8, 2);
    host().Connect(9, 3);
    EXPECT_EQ(mctl().Records(0).at(Mctl::kSetDdm), (Words{0, 3}));
    EXPECT_EQ(mctl().Records(0).at(Mctl::kOriginate), (Words{0, 0xFFFFFFFF}));
    EXPECT_EQ(mctl().Records(0).count(Mctl::kAnswer), 0u);
    EXPECT_EQ(mctl().Records(1).at(Mctl::kSetDdm), (Words{1, 0}));
    EXPECT_EQ(mctl().Records(2).at(Mctl::kSetDdm), (Words{2, 4}));

    ASSERT_TRUE(Started(3));
    std::map<std::string, Standins::Run> by_modem;
    for (auto const& run : Runs())
        by_modem[std::to_string(run.pid)] = run;
    auto of = [&](unsigned int n) { return by_modem.at(std::to_string(modem(n)->child_pid())).argv; };
    EXPECT_EQ(of(1), (Lines{Root("/usr/local/sbin/pppd"), "file", Root("/usr/local/etc/ppp/coptions"),
                            Root("/dev/mdm0")}));
    // The host's strings are the whole command line, and at most 62 of them.
    Lines args = of(2);
    ASSERT_EQ(args.size(), 63u);
    EXPECT_EQ(args[1], "arg0");
    EXPECT_EQ(args[62], "arg61");
    EXPECT_EQ(std::count(args.begin(), args.end(), "file"), 0);
    // `execfile` names the program; a long number is one argument.
    args = of(3);
    EXPECT_EQ(args, (Lines{Root("/usr/local/bin/fax"), "file", Root("/usr/local/etc/ppp/aoptions"),
                           Root("/dev/mdm2"), "remotenumber", std::string(5000, '7')}));
}

TEST_F(Modems, SetUpFailuresAbortWithTheErrorAndKeepNothing)
{
    struct Case {
        std::uint32_t request;
        char const* text;
    };
    NoInterfaces();
    host().Create(7, Trunk(1, 5));
    unsigned int n = 10;
    for (Case c : {Case{Mctl::kAllocate, "insufficient resources : Device or resource busy"},
                   Case{Mctl::kTimeslot, "get timeslot fail : Device or resource busy"},
                   Case{Mctl::kSetDdm, "set DDM failed : Device or resource busy"}}) {
        host().Create(n, Modem([](auto& p) { AddDdm(p, {TERM::DigitalDataModeEnum::ddmV110}); }));
        board().Fail("/dev/mctl", c.request, 1, EBUSY);
        Capture err(std::cerr);
        auto r = host().Connect(7, n);
        EXPECT_EQ(err.str().substr(0, err.str().find('\n') + 1),
                  std::to_string(n) + ":dsp-modem: " + c.text + "\n");
        EXPECT_EQ(AbortCode(r), EBUSY);
        // With no channel the switch cannot connect it.
        EXPECT_TRUE(r.back().IsError(LGCP::ErrorCause::connectFail));
        // The modem went back with the descriptor.
        EXPECT_EQ(board().OpenCount("/dev/mctl"), 0u);
        EXPECT_FALSE(mctl().Allocated(0));
        EXPECT_EQ(modem(n)->modem_id(), -1);
        EXPECT_TRUE(Runs().empty());
        ++n;
    }
    board().SetPresent("/dev/mctl", false);
    auto r = host().Connect(7, n - 1);
    EXPECT_EQ(AbortCode(r), ENOENT);
    board().SetPresent("/dev/mctl", true);

    // A refused answer: the modem is taken and the slot keeps it, but no
    // program starts.
    board().Fail("/dev/mctl", Mctl::kAnswer, 1, EIO);
    Capture err(std::cerr);
    r = host().Connect(7, n - 1);
    EXPECT_EQ(AbortCode(r), EIO);
    EXPECT_NE(err.str().find("answer failed : Input/output error\n"), std::string::npos);
    EXPECT_TRUE(mctl().Allocated(0));
    EXPECT_EQ(modem(n - 1)->child_pid(), -1);
    EXPECT_EQ(Texts(host().Destroy(n - 1)).size(), 1u);
    EXPECT_FALSE(mctl().Allocated(0));

    // A fork that fails.
    NoFork nofork;
    ChildSpawner* old = ChildSpawner::UseInstance(&nofork);
    host().Create(5, Modem());
    r = host().Connect(7, 5);
    ChildSpawner::UseInstance(old);
    EXPECT_EQ(AbortCode(r), EAGAIN);
    EXPECT_NE(err.str().find("05:dsp-modem: vfork fail: Resource temporarily unavailable\n"),
              std::string::npos);
}

TEST_F(Modems, AProgramThatIgnoresHangUpIsKilledAfter5000Ms)
{
    Mode("ignore-hup");
    TrunkAndModem(Modem());
    host().Connect(7, 5);
    ASSERT_TRUE(Started(1));
    int const pid = modem(5)->child_pid();
    host().Take();
    Capture err(std::cerr);
    EXPECT_TRUE(host().Destroy(5).empty());
    std::uint32_t const seq = host().LastSeq();
    // The program is alive and ignores the hang-up; only the clock ends it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Mux::test::advance(4999);
    EXPECT_TRUE(host().Take().empty());
    EXPECT_EQ(::kill(pid, 0), 0);
    Mux::test::advance(1);
    EXPECT_EQ(Texts(host().Take()), Lines{"success seq=" + std::to_string(seq) + " slot=5"});
    EXPECT_EQ(err.str(), "05:dsp-modem: sent HUP to pppd.\n05:dsp-modem: pppd terminate timeout!\n"
                         "05:dsp-modem: pppd isn't terminated, killing ...\n");
    EXPECT_EQ(slot(5), nullptr);
    // Its end is reaped without a report.
    EXPECT_TRUE(Until([] { return RunningChildren().empty(); }));
    for (int i = 0; i < 5; ++i)
        Mux::test::run_once(0);
    EXPECT_TRUE(host().Take().empty());
}

TEST_F(Modems, AProgramThatEndsByItselfAbortsWithItsWaitStatus)
{
    Mode("exit:3");
    TrunkAndModem(Modem());
    host().Connect(7, 5);
    auto got = ReceiveUntil(HasAbort);
    EXPECT_TRUE(IsAbort(got.back(), 768)) << got.back().Text();
    EXPECT_EQ(modem(5)->child_pid(), -1);
    // Nothing runs: the destroy is done at once.
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"success seq=4 slot=5"});
}

TEST_F(Modems, FaxTransferReportsItsPagesThenAborts)
{
    Mode("exit:3");
    TrunkAndModem(Modem([](auto& p) {
        p.set_fax();
        AddExecArgs(p, 2);
    }));
    Capture log(std::clog);
    host().Connect(7, 5);
    // The modem was let go before the program started.
    EXPECT_EQ(board().OpenCount("/dev/mctl"), 0u);
    EXPECT_FALSE(mctl().Allocated(0));
    auto got = ReceiveUntil(HasAbort);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(
        got[got.size() - 2].Text(),
        "signal slot=5 modemProceeding : acct : { octetsOut { low 0, high 0 }, octetsIn { low 3, high 0 }, "
        "packetsOut { low 0, high 0 }, packetsIn { low 0, high 0 }, time { low 0, high 0 } }");
    EXPECT_TRUE(IsAbort(got.back(), 768));
    auto run = Runs().at(0);
    EXPECT_EQ(run.argv, (Lines{Root("/usr/local/sbin/fax"), "-m", "0", "arg0", "arg1"}));
    // No descriptor of the board reached the program.
    for (std::string const& fd : run.fds)
        EXPECT_EQ(fd.find("socket:"), std::string::npos) << fd;
    EXPECT_THAT(log.str(), testing::HasSubstr("05:dsp-modem: fax transfer executed modem=0 ts=1600\n"));
    EXPECT_THAT(log.str(),
                testing::HasSubstr("05:dsp-modem: fax terminated with code 768\n05:dsp-modem: pages "
                                   "received: 3\n"));
}

TEST_F(Modems, MissingFaxTransferProgramCountsItsExitAsPagesAndTouchesNoOtherSlot)
{
    std::filesystem::remove(Root("/usr/local/sbin/fax"));
    NoInterfaces();
    host().Create(7, Trunk(1, 5));
    host().Create(8, Trunk(1, 8));
    host().Create(1, Modem());
    host().Connect(8, 1); // a data call on modem 0
    ASSERT_TRUE(Started(1));
    host().Create(5, Modem([](auto& p) {
                      p.set_fax();
                      AddExecArgs(p, 1);
                  }));
    host().Take();
    auto const before = mctl().Records(0);
    host().Connect(7, 5);
    auto got = ReceiveUntil(HasAbort);
    ASSERT_GE(got.size(), 2u);
    EXPECT_THAT(got[got.size() - 2].Text(), testing::HasSubstr("octetsIn { low 2, high 0 }"));
    EXPECT_TRUE(IsAbort(got.back(), 512));
    EXPECT_EQ(got.back().slot, 5u);
    EXPECT_EQ(mctl().Records(0), before);
    EXPECT_TRUE(mctl().Allocated(0));
    EXPECT_NE(modem(1)->child_pid(), -1);
    EXPECT_EQ(Switch(1600), "1600 connected 40");
}

TEST_F(Modems, FaxReceiverIsStartedAndNotFollowed)
{
    Mode("exit:0");
    TrunkAndModem(Modem([](auto& p) { p.set_fax(); }));
    Capture log(std::clog);
    host().Connect(7, 5);
    EXPECT_FALSE(mctl().Allocated(0));
    EXPECT_EQ(modem(5)->child_pid(), -1);
    ASSERT_TRUE(Started(1));
    auto run = Runs().at(0);
    ASSERT_EQ(run.argv.size(), 5u);
    EXPECT_EQ(Lines(run.argv.begin(), run.argv.begin() + 4),
              (Lines{Root("/usr/local/bin/fax"), "-m", "0", "receive"}));
    EXPECT_THAT(run.argv[4], testing::StartsWith(Root("/var/fax-")));
    EXPECT_THAT(run.argv[4], testing::MatchesRegex(".*/var/fax-[0-9]{2}-[0-9]{2}-[0-9]{2}\\.g3"));
    EXPECT_NE(log.str().find("05:dsp-modem: fax receiver executed modem=0 ts=1600\n"), std::string::npos);
    // Its end is reaped and told to nobody.
    EXPECT_TRUE(Until([] { return RunningChildren().empty(); }));
    for (int i = 0; i < 5; ++i)
        Mux::test::run_once(0);
    host().Take();
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"success seq=4 slot=5"});
}

TEST_F(Modems, FaxOriginateStartsNothing)
{
    TrunkAndModem(Modem([](auto& p) {
        p.set_fax();
        p.set_originate();
    }));
    host().Connect(7, 5);
    EXPECT_EQ(mctl().Records(0).at(Mctl::kFaxOriginate), (Words{0, 0xFFFFFFFF}));
    EXPECT_EQ(mctl().Records(0).count(Mctl::kAnswer), 0u);
    EXPECT_TRUE(mctl().Allocated(0));
    EXPECT_EQ(modem(5)->child_pid(), -1);
    EXPECT_TRUE(RunningChildren().empty());
}

class DigitalModems : public Modems {
protected:
    void SetUp() override
    {
        Modems::SetUp();
        if (IsSkipped())
            return;
        netifs().Set("hdlc0", NetIfs::kUp | NetIfs::kPointToPoint | NetIfs::kRunning, 700);
        factory().IQuery();
    }
    LGCP::CreateParams Digital()
    {
        return Modem([](auto& p) { AddDdm(p, {TERM::DigitalDataModeEnum::ddm8BIT}); });
    }
};

TEST_F(DigitalModems, ConnectSwitchesTheInterfaceToPppAndDestroyBringsItBack)
{
    TrunkAndModem(Digital());
    EXPECT_EQ(Texts(host().Connect(7, 5)),
              (Lines{"signal slot=5 receiver : active : 700", "success seq=3 slot=7"}));
    EXPECT_EQ(Requests("netif"),
              (Lines{"netif 0x0000894a hdlc0 1 128 -> 4100 700 = 0", "netif 0x0000894a hdlc0 8193 4 = 0"}));
    EXPECT_EQ(netifs().Get("hdlc0")->proto, NetIfs::kProtoPpp);
    EXPECT_EQ(Switch(700), "700 connected 37");
    ASSERT_TRUE(Started(1));
    EXPECT_EQ(Runs().at(0).argv,
              (Lines{Root("/usr/local/sbin/pppd"), "file", Root("/usr/local/etc/ppp/ioptions"), "hdlc0"}));

    // A later connection while pppd runs sets nothing up again.
    host().Disconnect(5);
    board().ClearLog();
    host().Connect(7, 5);
    EXPECT_TRUE(Requests("netif").empty());

    host().Take();
    EXPECT_TRUE(host().Destroy(5).empty());
    auto got = ReceiveUntil([](auto const& all) { return !all.empty(); });
    EXPECT_EQ(Texts(got), Lines{"success seq=" + std::to_string(host().LastSeq()) + " slot=5"});
    auto hdlc0 = netifs().Get("hdlc0");
    EXPECT_EQ(hdlc0->flags, NetIfs::kPointToPoint | NetIfs::kRunning);
    EXPECT_EQ(hdlc0->proto, NetIfs::kProtoHdlc);
    EXPECT_EQ(factory().freeHdlc, (Lines{"hdlc1", "hdlc0"}));
}

TEST_F(DigitalModems, InterfaceFailuresAreOnlyLogged)
{
    TrunkAndModem(Digital());
    board().Fail("netif", NetIfs::kWanDev, 1, EIO);
    Capture err(std::cerr);
    auto r = host().Connect(7, 5);
    EXPECT_EQ(err.str().substr(0, err.str().find('\n') + 1),
              "05:digital-modem: SIOCWANDEV/IF_GET_IFACE fail!\n");
    EXPECT_FALSE(HasAbort(r));
    EXPECT_EQ(modem(5)->child_pid(), -1);
    EXPECT_EQ(netifs().Get("hdlc0")->proto, NetIfs::kProtoHdlc);

    // No child runs: the next connection sets up again.
    host().Disconnect(5);
    board().ClearLog();
    host().Connect(7, 5);
    EXPECT_EQ(Requests("netif").size(), 2u);
    ASSERT_TRUE(Started(1));

    // Destroy: the restore stops at the first failure.
    board().Fail("netif", NetIfs::kGetFlags, 1, EIO);
    host().Take();
    EXPECT_TRUE(host().Destroy(5).empty());
    ReceiveUntil([](auto const& all) { return !all.empty(); });
    EXPECT_NE(err.str().find("05:digital-modem: SIOCGIFFLAGS fail!!!\n"), std::string::npos);
    EXPECT_EQ(netifs().Get("hdlc0")->proto, NetIfs::kProtoPpp);
}

TEST_F(DigitalModems, HostLossWithAProgramIgnoringHangUpLeavesNothingBehind)
{
    Mode("ignore-hup");
    NoInterfaces();
    netifs().Set("hdlc0", NetIfs::kUp | NetIfs::kPointToPoint, 700);
    factory().IQuery();
    host().Create(7, Trunk(1, 5));
    host().Create(5, Digital());
    host().Create(6, Modem());
    host().Connect(7, 5);
    host().Connect(7, 6);
    ASSERT_TRUE(Started(2));
    std::vector<int> const pids{modem(5)->child_pid(), modem(6)->child_pid()};
    Capture err(std::cerr);
    host().LoseHost();
    EXPECT_EQ(host().pauses, 1);
    // The stragglers were deleted after the pause, their programs killed,
    // and no list names them.
    EXPECT_TRUE(host().slots().slots().empty());
    EXPECT_TRUE(factory().modemSlots.empty());
    EXPECT_TRUE(factory().dspSlots.empty());
    EXPECT_TRUE(factory().hdlcSlots.empty());
    EXPECT_EQ(factory().freeHdlc, Lines{"hdlc0"});
    EXPECT_EQ(netifs().Get("hdlc0")->proto, NetIfs::kProtoHdlc);
    EXPECT_FALSE(mctl().Allocated(0));
    EXPECT_NE(err.str().find("06:dsp-modem: pppd isn't terminated, killing ...\n"), std::string::npos);
    EXPECT_NE(err.str().find("05:digital-modem: pppd isn't terminated, killing ...\n"), std::string::npos);
    // The programs' ends are reaped later, told to nobody.
    EXPECT_TRUE(Until([] { return RunningChildren().empty(); }));
    for (int i = 0; i < 5; ++i)
        Mux::test::run_once(0);
    for (int pid : pids)
        EXPECT_NE(::kill(pid, 0), 0);
    host().Reconnect();
}

} // namespace
