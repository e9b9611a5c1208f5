// The software T.38 slot end to end: build/server on the simulated board,
// driven through its control port, with the stand-in of standins/ in the
// T.38 program's place; the board's MCC controller steered through its
// control socket.

#include "child_e2e.hpp"
#include "t38_params.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sched.h>
#include <filesystem>
#include <string>

namespace {

using SlotsE2E::Abort;
using SlotsE2E::Stream;
using SlotsE2E::Strings;
using SlotsE2E::Trunk;
using SlotsTest::T38Soft;

bool Gone(int pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

class T38EndToEnd : public SlotsE2E::ChildEndToEnd {
protected:
    // Whether `hex` reaches switch output `channel`, the board moving what
    // the channels wrote.
    bool Reaches(int channel, std::string const& hex)
    {
        return E2E::Eventually([&] {
            server_.Ask("/dev/mcc/ctl pump");
            for (std::string const& line :
                 E2E::Lines(server_.Ask("/dev/mcc/ctl sent " + std::to_string(channel))))
                if (line == hex)
                    return true;
            return false;
        });
    }
    // The resources of one query; -1 when they did not come.
    int Instances()
    {
        LGCP::Message m = E2E::Command(++seq_);
        m.get_pdu().get_command().set_query();
        host_.Send(m);
        EXPECT_EQ(Reply(5000), E2E::Success(seq_));
        LGCP::Signal s;
        // The board may take the whole bound of a hung program.
        if (!SignalOf(
                -1, [](LGCP::Signal const& x) { return x.is_query(); }, &s, 10000))
            return -1;
        return s.get_query().get_t38_instances().getValue();
    }
};

TEST_F(T38EndToEnd, TheProgramRunsOnAChannelOnlyItHolds)
{
    Start("hup-exit");
    ASSERT_EQ(Create(7, Trunk(1, 5)), E2E::Success(1, 7));
    ASSERT_EQ(Create(8, Trunk(1, 8)), E2E::Success(2, 8));
    server_.Ask("log clear");
    ASSERT_EQ(Create(5, T38Soft(30)), E2E::Success(3, 5));
    EXPECT_TRUE(SignalOf(5, Stream(true, 300)));
    EXPECT_TRUE(SignalOf(5, Stream(false, 300)));
    EXPECT_EQ(Requests("/dev/mcc/ctl"),
              (Strings{"/dev/mcc/ctl open", "/dev/mcc/ctl 0x40144d00 2 160 0 2 3 -> 2 160 0 2 3 = 0",
                       "/dev/mcc/ctl 0x20004d02 = 300"}));

    ASSERT_TRUE(Started(1));
    auto const run = Runs()[0];
    Strings argv{server_.Path("usr/local/sbin/t38"), "--child", "--remote", "127.0.0.1/5000/6000"};
    for (int i = 0; i < 27; ++i)
        argv.push_back("a" + std::to_string(i));
    EXPECT_EQ(run.argv, argv);
    std::string log = "t38soft: args for run t38 daemon:\n";
    for (std::size_t i = 0; i < argv.size(); ++i)
        log += "t38soft: arg[" + std::to_string(i) + "]=" + argv[i] + "\n";
    log += "t38soft: t38 daemon[" + std::to_string(run.pid) + "] successfully started\n";
    EXPECT_TRUE(server_.Logged(log));

    // Trunk 7 feeds the channel, the channel feeds trunk 8: the program
    // reads the one and writes the other on its standard input.
    EXPECT_EQ(run.fds.at(0).rfind("socket:", 0), 0u) << run.fds.at(0);
    ASSERT_EQ(Connect(7, 5), E2E::Success(4, 7));
    ASSERT_EQ(Connect(5, 8), E2E::Success(5, 5));
    EXPECT_EQ(server_.Ask("/dev/mcc/ctl receive 37 0102ff"), "ok 1\n");
    EXPECT_TRUE(E2E::Eventually([&] { return Runs()[0].input == Strings{"0102ff"}; }));
    EXPECT_TRUE(Reaches(40, "0102ff"));

    // Its end is the host's abort; the channel goes with it, the server
    // holding no copy.
    ::kill(run.pid, SIGKILL);
    EXPECT_TRUE(SignalOf(5, Abort(9)));
    EXPECT_TRUE(server_.Logged("05:t38 soft: t38 daemon terminated by signal=9\n"));
    EXPECT_TRUE(server_.Becomes("/dev/mcc/ctl slots", "ok 0\n"));
}

TEST_F(T38EndToEnd, ExitCodeIsTheAbortsRawStatus)
{
    Start("exit:3");
    Create(5, T38Soft());
    EXPECT_TRUE(SignalOf(5, Abort(768)));
    EXPECT_TRUE(server_.Logged("05:t38 soft: t38 daemon terminated with code=3\n"));
}

// The child of a failed exec leaves at once: none of the server's own
// teardown runs in it, on the sessions and devices it shares with the
// server.
TEST_F(T38EndToEnd, MissingProgramAbortsAndLeavesTheOtherSlotsAlone)
{
    Start("hup-exit");
    Create(7, Trunk(1, 5));
    Create(6, T38Soft());
    Connect(7, 6);
    ASSERT_TRUE(Started(1));
    std::string const hal = server_.Ask("/dev/hal switch 0 400");
    std::string const mcc = server_.Ask("/dev/mcc/ctl slots");
    signals_.clear();

    std::filesystem::remove(server_.Path("usr/local/sbin/t38"));
    E2E::Bytes const created = Create(5, T38Soft());
    ASSERT_EQ(created, E2E::Success(seq_, 5));
    EXPECT_TRUE(SignalOf(5, Abort(60672)));
    EXPECT_TRUE(server_.Logged("05:t38 soft: t38 daemon terminated with code=237\n"));
    // Nothing else reached the host, nothing changed on the board.
    EXPECT_FALSE(SignalOf(
        -1, [](LGCP::Signal const& s) { return !s.is_trunkStatus(); }, nullptr, 500));
    EXPECT_EQ(server_.Ask("/dev/hal switch 0 400"), hal);
    EXPECT_TRUE(server_.Becomes("/dev/mcc/ctl slots", mcc));
    // Both still work.
    EXPECT_EQ(server_.Ask("/dev/mcc/ctl receive 37 55"), "ok 1\n");
    EXPECT_TRUE(E2E::Eventually([&] { return Runs()[0].input == Strings{"55"}; }));
    Create(8, Trunk(1, 8));
    E2E::Bytes const connected = Connect(7, 8);
    EXPECT_EQ(connected, E2E::Success(seq_, 7));
}

TEST_F(T38EndToEnd, DestroyIsAnsweredAtOnceAndTheProgramGetsSigterm)
{
    Start("hup-exit");
    Create(5, T38Soft());
    ASSERT_TRUE(Started(1));
    int const pid = Runs()[0].pid;
    ASSERT_TRUE(SignalOf(5, Stream(false, 300)));
    SendDestroy(5);
    EXPECT_EQ(Reply(5000), E2E::Success(seq_, 5));
    EXPECT_TRUE(E2E::Eventually([&] { return Runs()[0].signals == std::vector<int>{SIGTERM}; }));
    EXPECT_TRUE(E2E::Eventually([&] { return Gone(pid); }));
    // Its end is reported nowhere.
    EXPECT_FALSE(SignalOf(
        5, [](LGCP::Signal const&) { return true; }, nullptr, 500));
    EXPECT_TRUE(server_.Becomes("/dev/mcc/ctl slots", "ok 0\n"));
}

// Each destroy comes in the create's segment: the server, first on its one
// CPU, sends SIGTERM before the child has reached its exec.
TEST_F(T38EndToEnd, ADestroyInTheCreatesSegmentLeavesNoProgramAndNoChannel)
{
    Start("hup-exit");
    cpu_set_t allowed;
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(::sched_setaffinity(server_.pid(), sizeof one, &one), 0);
    for (int i = 0; i < 30; ++i) {
        E2E::Bytes segment;
        for (bool create : {true, false}) {
            LGCP::Message m = E2E::Command(++seq_, 5);
            if (create)
                m.get_pdu().get_command().set_create(T38Soft());
            else
                m.get_pdu().get_command().set_destroy();
            E2E::Bytes const frame = E2E::LgcpHost::Frame(E2E::Encode(m));
            segment.insert(segment.end(), frame.begin(), frame.end());
        }
        ASSERT_TRUE(host_.SendRaw(segment));
        ASSERT_EQ(Reply(5000), E2E::Success(seq_ - 1, 5));
        ASSERT_EQ(Reply(5000), E2E::Success(seq_, 5));
    }
    EXPECT_TRUE(server_.Becomes("/dev/mcc/ctl slots", "ok 0\n"));
    for (auto const& run : Runs())
        EXPECT_TRUE(E2E::Eventually([&] { return Gone(run.pid); })) << run.pid;
}

struct QueryCase {
    char const* name;
    char const* printed; // null: no program there
    int count;
    bool complaint;
};

class T38Query : public T38EndToEnd, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(T38Query, RunsTheProgramOnceAndWaitsNoLongerThanTheBound)
{
    QueryCase const c = GetParam();
    env_ = {std::string("STANDIN_INSTANCES=") + (c.printed != nullptr ? c.printed : "")};
    Start("hup-exit");
    if (c.printed == nullptr)
        std::filesystem::remove(server_.Path("usr/local/sbin/t38"));
    EXPECT_EQ(Instances(), c.count);
    bool const complained = server_.Err().find("t38: can't detect T38 resources\n") != std::string::npos;
    EXPECT_EQ(complained, c.complaint);
    auto const runs = Runs();
    EXPECT_EQ(runs.size(), c.printed != nullptr ? 1u : 0u);
    // A hung program was killed: nothing waits for it any longer.
    for (auto const& r : runs)
        EXPECT_TRUE(E2E::Eventually([&] { return Gone(r.pid); }));
}

INSTANTIATE_TEST_SUITE_P(Programs, T38Query,
                         ::testing::Values(QueryCase{"Count", "4\n", 4, false},
                                           QueryCase{"NoNumber", "x", 0, false},
                                           QueryCase{"Silent", "", 0, true},
                                           QueryCase{"Missing", nullptr, 0, true},
                                           QueryCase{"Hung", "hang", 0, true}),
                         [](auto const& info) { return std::string(info.param.name); });

} // namespace
