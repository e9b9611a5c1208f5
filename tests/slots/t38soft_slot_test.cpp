// The software T.38 slot in process: the channel it allocates, the program
// it starts on it (the stand-in of standins/, really started), the
// program's end, the destroy, the refused creates, and the instance query
// with its bound.

#include "child_fixture.hpp"
#include "t38_params.hpp"

#include "core/process.hpp"
#include "sim/mcc.hpp"
#include "slots/t38soft_slot.hpp"

#include <gmock/gmock.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;

// Counts the starts and passes them on.
struct CountingSpawner : ChildSpawner {
    pid_t Start(ChildProgram const& program) override
    {
        ++starts;
        return last = ChildSpawner::Start(program);
    }
    int starts = 0;
    pid_t last = -1;
};

bool Gone(int pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A child of this process that ran exit() instead of _exit() would run the
// handlers of atexit here and leave this mark.
pid_t g_parent;
char g_mark[256];

void MarkForeignExit()
{
    if (::getpid() != g_parent && g_mark[0] != '\0')
        ::close(::open(g_mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

class T38 : public ChildFixture {
protected:
    Sim::Mcc& mcc() { return board().device<Sim::Mcc>(); }
    T38SoftSlot* t38(unsigned int n) { return dynamic_cast<T38SoftSlot*>(slot(n)); }
    std::vector<std::uint32_t> Words(int timeslot)
    {
        auto const c = mcc().Controllers();
        if (c.count(static_cast<std::uint32_t>(timeslot)) == 0)
            return {};
        auto const& w = c.at(static_cast<std::uint32_t>(timeslot)).words;
        return {w, w + 5};
    }
    // The frames that reach output `channel`, pumped until `count` came.
    Lines SentTo(std::uint32_t channel, std::size_t count)
    {
        Lines out;
        Until([&] {
            mcc().Pump();
            for (auto const& f : mcc().TakeSent(channel)) {
                std::string hex;
                char b[3];
                for (unsigned char c : f) {
                    std::snprintf(b, sizeof b, "%02x", c);
                    hex += b;
                }
                out.push_back(hex);
            }
            return out.size() >= count;
        });
        return out;
    }
    int Instances()
    {
        auto r = host().Query();
        EXPECT_EQ(r.size(), 2u);
        return r.back().signal.get_query().get_t38_instances().getValue();
    }

    T38SoftFactory factory_;
};

TEST_F(T38, CreateStartsTheProgramOnAChannelOnlyTheProgramHolds)
{
    host().Create(7, Trunk(1, 5));
    host().Create(8, Trunk(1, 8));
    Capture log(std::clog);
    auto const created = host().Create(5, T38Soft(30));
    ASSERT_NE(t38(5), nullptr);
    int const ts = t38(5)->timeslot;
    EXPECT_EQ(Texts(created),
              (Lines{"success seq=3 slot=5", "signal slot=5 transmitter : active : " + std::to_string(ts),
                     "signal slot=5 receiver : active : " + std::to_string(ts)}));
    EXPECT_EQ(Words(ts), (std::vector<std::uint32_t>{2, 160, 0, 2, 3}));

    ASSERT_TRUE(Started(1));
    auto const run = Runs().at(0);
    Lines argv{Root("/usr/local/sbin/t38"), "--child", "--remote", "127.0.0.1/5000/6000"};
    for (int i = 0; i < 27; ++i)
        argv.push_back("a" + std::to_string(i));
    EXPECT_EQ(run.argv, argv);
    EXPECT_EQ(run.pid, t38(5)->pid);
    EXPECT_EQ(run.fds.at(0).rfind("socket:", 0), 0u) << run.fds.at(0);
    std::string expected = "t38soft: args for run t38 daemon:\n";
    for (std::size_t i = 0; i < argv.size(); ++i)
        expected += "t38soft: arg[" + std::to_string(i) + "]=" + argv[i] + "\n";
    expected += "t38soft: t38 daemon[" + std::to_string(run.pid) + "] successfully started\n";
    EXPECT_EQ(log.str(), expected);

    // Trunk 7 feeds the channel; the channel feeds trunk 8.
    host().Connect(7, 5);
    host().Connect(5, 8);
    EXPECT_EQ(mcc().Receive(37, "\x01\x02\x7f", 3), 1);
    EXPECT_TRUE(Until([&] { return !Runs().at(0).input.empty(); }));
    EXPECT_EQ(Runs().at(0).input, Lines{"01027f"});
    EXPECT_EQ(SentTo(40, 1), Lines{"01027f"});

    // The program's end takes the channel with it: the server kept no copy.
    ::kill(run.pid, SIGKILL);
    auto const got = ReceiveUntil(HasAbort);
    EXPECT_EQ(AbortCode(got), 9);
    EXPECT_THAT(log.str(), testing::HasSubstr("05:t38 soft: t38 daemon terminated by signal=9\n"));
    EXPECT_EQ(t38(5)->pid, -1);
    EXPECT_TRUE(Until([&] { return mcc().Controllers().count(static_cast<std::uint32_t>(ts)) == 0; }));
    // The slot stays for the host to destroy.
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"success seq=6 slot=5"});
}

TEST_F(T38, ProgramEndsAbortWithTheRawWaitStatus)
{
    struct Case {
        char const* mode;
        int status;
        char const* text;
    };
    g_parent = ::getpid();
    std::snprintf(g_mark, sizeof g_mark, "%s", Root("/exit-ran").c_str());
    static bool const registered = std::atexit(MarkForeignExit) == 0;
    ASSERT_TRUE(registered);

    unsigned int n = 10;
    for (Case c : {Case{"exit:3", 768, "t38 daemon terminated with code=3"},
                   Case{"signal:9", 9, "t38 daemon terminated by signal=9"},
                   Case{nullptr, 60672, "t38 daemon terminated with code=237"}}) {
        if (c.mode != nullptr)
            Mode(c.mode);
        else
            std::filesystem::remove(Root("/usr/local/sbin/t38"));
        Capture log(std::clog);
        host().Create(n, T38Soft());
        auto const got = ReceiveUntil(HasAbort);
        EXPECT_EQ(AbortCode(got), c.status) << c.text;
        EXPECT_THAT(log.str(), testing::HasSubstr(std::to_string(n) + ":t38 soft: " + c.text + "\n"));
        ++n;
    }
    // The child whose exec failed ran nothing of this process on its way out.
    EXPECT_FALSE(std::filesystem::exists(Root("/exit-ran")));
    g_mark[0] = '\0';
}

TEST_F(T38, DestroySendsSigtermAndForgetsTheProgram)
{
    host().Create(5, T38Soft());
    ASSERT_TRUE(Started(1));
    int const pid = Runs()[0].pid;
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"success seq=2 slot=5"});
    EXPECT_EQ(slot(5), nullptr);
    EXPECT_TRUE(Until([&] { return !Runs()[0].signals.empty(); }));
    EXPECT_EQ(Runs()[0].signals, std::vector<int>{SIGTERM});
    // Reaped by the loop without a report.
    EXPECT_TRUE(Until([&] { return Gone(pid); }));
    EXPECT_TRUE(host().Take().empty());
    EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
}

TEST_F(T38, RefusedCreatesLogTheStepAndKeepNothing)
{
    struct Case {
        std::uint32_t request;
        int error;
        char const* text;
    };
    for (Case c : {Case{Sim::kOpen, ENOENT, "FAIL to open </dev/mcc/ctl> [2]"},
                   Case{Sim::Mcc::kAllocate, EBUSY, "FAIL to ioctl MCC_ALLOCATE [16]"},
                   Case{Sim::Mcc::kTimeslot, EIO, "FAIL to ioctl MCC_TIMESLOT [5]"}}) {
        board().Fail("/dev/mcc/ctl", c.request, 1, c.error);
        Capture err(std::cerr);
        auto const r = host().Create(5, T38Soft());
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));
        EXPECT_EQ(err.str(), std::string("t38soft: T38SoftFactory::INewSlot - ") + c.text + "\n");
        EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
    }
    // A fork that fails: refused without a word, the channel closed.
    NoFork nofork;
    ChildSpawner* old = ChildSpawner::UseInstance(&nofork);
    Capture err(std::cerr);
    auto const r = host().Create(5, T38Soft());
    ChildSpawner::UseInstance(old);
    EXPECT_TRUE(r.at(0).IsError(LGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
    EXPECT_TRUE(Runs().empty());
}

TEST_F(T38, InstanceQueryReadsOneLineWithinTheBound)
{
    struct Case {
        char const* printed; // null: no program there
        int count;
        bool complaint;
    };
    CountingSpawner counting;
    ChildSpawner* old = ChildSpawner::UseInstance(&counting);
    std::size_t runs = 0;
    for (Case c : {Case{"4", 4, false}, Case{"7\nmore\n", 7, false}, Case{"x", 0, false}, Case{"", 0, true},
                   Case{nullptr, 0, true}}) {
        if (c.printed != nullptr)
            ::setenv("STANDIN_INSTANCES", c.printed, 1);
        else
            std::filesystem::remove(Root("/usr/local/sbin/t38"));
        counting.starts = 0;
        Capture log(std::clog);
        EXPECT_EQ(Instances(), c.count) << (c.printed ? c.printed : "missing");
        EXPECT_EQ(counting.starts, 1);
        EXPECT_EQ(log.str(), c.complaint ? "t38: can't detect T38 resources\n" : "");
        if (c.printed != nullptr) {
            EXPECT_EQ(Runs().size(), ++runs);
        }
    }
    Standins::Install(root_);

    // A program that never answers is cut off at the bound and killed.
    ::setenv("STANDIN_INSTANCES", "hang", 1);
    factory_.queryBoundMs = 200;
    Capture log(std::clog);
    EXPECT_EQ(Instances(), 0);
    EXPECT_EQ(log.str(), "t38: can't detect T38 resources\n");
    ASSERT_GT(counting.last, 0);
    EXPECT_TRUE(Until([&] { return Gone(counting.last); }));

    NoFork nofork;
    ChildSpawner::UseInstance(&nofork);
    Capture again(std::clog);
    EXPECT_EQ(Instances(), 0);
    ChildSpawner::UseInstance(old);
    EXPECT_EQ(again.str(), "t38 daemon not found!\n");
}

TEST(T38Count, IsWhatStrtolReadsWithin32Bits)
{
    struct Case {
        char const* line;
        int count;
    };
    for (Case c : {Case{"4", 4}, Case{"4\n", 4}, Case{"", 0}, Case{"x", 0}, Case{" 12", 12}, Case{"-3", -3},
                   Case{"99999999999", 0}, Case{"2147483647", INT_MAX}, Case{"-2147483648", INT_MIN},
                   Case{"-2147483649", 0}, Case{"12abc", 12}})
        EXPECT_EQ(T38SoftFactory::ParseNumOfInstances(c.line), c.count) << '"' << c.line << '"';
}

} // namespace
