// Modem slots end to end: build/server on the simulated board, driven
// through its control port, with the stand-in programs of standins/ as its
// children; and Debian's pppd reading the argument list the server built.

#include "child_e2e.hpp"
#include "modem_params.hpp"
#include "support/netns.hpp"
#include "support/spawn.hpp"

#include "core/fd.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using SlotsE2E::Abort;
using SlotsE2E::Stream;
using SlotsE2E::Strings;
using SlotsE2E::Trunk;
using SlotsTest::AddDdm;
using SlotsTest::AddDmp;
using SlotsTest::AddExecArgs;
using SlotsTest::Modem;

class ModemEndToEnd : public SlotsE2E::ChildEndToEnd {
protected:
    // Trunk slot 7 connected to a DSP modem in slot 5, whose pppd has
    // started; its pid (0 when it did not start).
    int DataCall(char const* mode)
    {
        Start(mode);
        Create(7, Trunk(1, 5));
        Create(5, Modem());
        Connect(7, 5);
        return Started(1) ? Runs()[0].pid : 0;
    }
};

TEST_F(ModemEndToEnd, DspDataCallFromConnectToDestroy)
{
    Start("hup-exit");
    ASSERT_EQ(Create(7, Trunk(1, 5)), E2E::Success(1, 7));
    ASSERT_EQ(Create(5, Modem([](TERM::ModemParams& p) {
                         p.set_cid("5551234");
                         p.include_dmp();
                         TERM::DDModemParam d;
                         d.set_offset(5);
                         d.set_value(7);
                         p.get_dmp().push_back(d);
                     })),
              E2E::Success(2, 5));
    server_.Ask("log clear");
    ASSERT_EQ(Connect(7, 5), E2E::Success(3, 7));
    EXPECT_TRUE(SignalOf(5, Stream(true, 1600)));
    EXPECT_TRUE(SignalOf(5, Stream(false, 1600)));
    EXPECT_EQ(Requests("/dev/mctl"),
              (Strings{"/dev/mctl open", "/dev/mctl 0x0000bb0b 0 = 0", "/dev/mctl 0x0000bb15 0 = 1600",
                       "/dev/mctl 0x0000bb3a 0 4294967295 = 0", "/dev/mctl 0x0000bb38 0 5 7 = 0",
                       "/dev/mctl 0x0000bb03 0 4294967295 = 0"}));
    EXPECT_EQ(server_.Ask("/dev/hal switch 1600 1600"), "1600 connected 37\nok 1\n");
    ASSERT_TRUE(Started(1));
    std::string const root = server_.root();
    EXPECT_EQ(Runs()[0].argv,
              (Strings{root + "/usr/local/sbin/pppd", "file", root + "/usr/local/etc/ppp/aoptions",
                       root + "/dev/mdm0", "remotenumber", "5551234"}));

    // The destroy is answered when pppd has gone.
    SendDestroy(5);
    EXPECT_EQ(Reply(10000), E2E::Success(seq_, 5));
    EXPECT_TRUE(server_.Logged("05:dsp-modem: sent HUP to pppd.\n"));
    // The slot goes right after its success: the modem with it.
    EXPECT_TRUE(server_.Becomes("/dev/mctl modem 0", "channel 1600\nallocated no\n0xbb03 0 -1\n0xbb38 0 5 7\n"
                                                     "0xbb3a 0 -1\nok 5\n"));
}

TEST_F(ModemEndToEnd, ProgramIgnoringHangUpIsKilledAfterTheTimeout)
{
    int const pid = DataCall("ignore-hup");
    ASSERT_GT(pid, 0);
    auto const sent = std::chrono::steady_clock::now();
    SendDestroy(5);
    EXPECT_EQ(Reply(15000), E2E::Success(seq_, 5));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(4900));
    EXPECT_TRUE(server_.Logged("05:dsp-modem: pppd terminate timeout!\n05:dsp-modem: pppd isn't terminated, "
                               "killing ...\n"));
    EXPECT_TRUE(E2E::Eventually([&] { return ::kill(pid, 0) != 0; }));
}

TEST_F(ModemEndToEnd, FaxTransferPagesAndReceiver)
{
    Start("exit:3");
    Create(7, Trunk(1, 5));
    Create(8, Trunk(1, 8));
    Create(5, Modem([](TERM::ModemParams& p) {
               p.set_fax();
               AddExecArgs(p, 1);
           }));
    Create(6, Modem([](TERM::ModemParams& p) { p.set_fax(); }));
    ASSERT_EQ(Connect(7, 5), E2E::Success(5, 7));
    LGCP::Signal s;
    ASSERT_TRUE(SignalOf(
        5, [](LGCP::Signal const& x) { return x.is_modemProceeding(); }, &s));
    ASSERT_TRUE(s.get_modemProceeding().is_acct());
    EXPECT_EQ(s.get_modemProceeding().get_acct().get_octetsIn().get_low().getValue(), 3);
    EXPECT_EQ(s.get_modemProceeding().get_acct().get_octetsIn().get_high().getValue(), 0);
    EXPECT_TRUE(SignalOf(5, Abort(768)));

    ASSERT_EQ(Connect(8, 6), E2E::Success(6, 8));
    ASSERT_TRUE(Started(2));
    std::string const root = server_.root();
    auto runs = Runs();
    EXPECT_EQ(runs[0].argv, (Strings{root + "/usr/local/sbin/fax", "-m", "0", "arg0"}));
    ASSERT_EQ(runs[1].argv.size(), 5u);
    EXPECT_EQ(runs[1].argv[0], root + "/usr/local/bin/fax");
    EXPECT_EQ(runs[1].argv[3], "receive");
    EXPECT_EQ(runs[1].argv[4].rfind(root + "/var/fax-", 0), 0u);
    EXPECT_TRUE(server_.Printed("executing\n"));
    // The receiver's end is told to nobody.
    EXPECT_FALSE(SignalOf(6, Abort(768), nullptr, 500));
}

TEST_F(ModemEndToEnd, DigitalModemOnItsInterface)
{
    Start("hup-exit", "netif add hdlc0 0x51 700");
    LGCP::Message q = E2E::Command(++seq_);
    q.get_pdu().get_command().set_query();
    host_.Send(q);
    EXPECT_EQ(Reply(5000), E2E::Success(seq_));
    LGCP::Signal s;
    ASSERT_TRUE(E2E::Eventually([&] {
        for (auto const& m : signals_)
            if (!m.has_slot() && m.get_pdu().get_signal().is_query()) {
                s = m.get_pdu().get_signal();
                return true;
            }
        E2E::Bytes p;
        LGCP::Message m;
        if (host_.Receive(p, 100) && E2E::Decode(p, m) && m.get_pdu().is_signal())
            signals_.push_back(m);
        return false;
    }));
    EXPECT_EQ(s.get_query().get_digital_modems().getValue(), 2);
    EXPECT_EQ(s.get_query().get_modem().getValue(), 4);

    Create(7, Trunk(1, 5));
    Create(5, Modem([](TERM::ModemParams& p) {
               p.include_ddm();
               TERM::DigitalDataModeEnum e;
               e.setValue(TERM::DigitalDataModeEnum::ddm8BIT);
               p.get_ddm().push_back(e);
           }));
    server_.Ask("log clear");
    E2E::Bytes const connected = Connect(7, 5);
    ASSERT_EQ(connected, E2E::Success(seq_, 7));
    EXPECT_TRUE(SignalOf(5, Stream(false, 700)));
    EXPECT_EQ(Requests("netif"),
              (Strings{"netif 0x0000894a hdlc0 1 128 -> 4100 700 = 0", "netif 0x0000894a hdlc0 8193 4 = 0"}));
    // The query ran the T.38 program first.
    ASSERT_TRUE(Started(2));
    EXPECT_EQ(Runs()[1].argv, (Strings{server_.root() + "/usr/local/sbin/pppd", "file",
                                       server_.root() + "/usr/local/etc/ppp/ioptions", "hdlc0"}));
    SendDestroy(5);
    EXPECT_EQ(Reply(10000), E2E::Success(seq_, 5));
    EXPECT_TRUE(server_.Becomes("netifs", "hdlc0 flags 0x50 slotmap 700 proto hdlc\n"
                                          "hdlc1 flags 0x51 slotmap 1701 proto hdlc\nok 2\n"));
}

TEST_F(ModemEndToEnd, RefusedAllocationAbortsWithTheErrorNumber)
{
    Start("hup-exit", "fail /dev/mctl 0xbb0b 1 EBUSY");
    Create(7, Trunk(1, 5));
    Create(5, Modem());
    Connect(7, 5);
    EXPECT_TRUE(SignalOf(5, Abort(16)));
    EXPECT_TRUE(server_.Logged("05:dsp-modem: insufficient resources : Device or resource busy\n"));
    EXPECT_TRUE(Runs().empty());
}

TEST_F(ModemEndToEnd, LostHostTakesAProgramThatIgnoresHangUpWithIt)
{
    int const pid = DataCall("ignore-hup");
    ASSERT_GT(pid, 0);
    host_.Close();
    EXPECT_TRUE(server_.Logged("05:dsp-modem: pppd isn't terminated, killing ...\n"));
    EXPECT_TRUE(E2E::Eventually([&] { return ::kill(pid, 0) != 0; }));
    // The server goes on: a new host connects.
    ASSERT_TRUE(host_.Connect(server_.port()));
    E2E::Bytes const created = Create(5, Modem());
    EXPECT_EQ(created, E2E::Success(seq_, 5));
}

// Debian's pppd parses the options and checks the device before it looks for
// the kernel's PPP support: it must accept the argument list that the
// server gave the stand-in, with its option file and its tty.
TEST_F(ModemEndToEnd, DebianPppdAcceptsTheArgumentList)
{
    std::string const pppd = TestSpawn::FindProgram("pppd");
    if (pppd.empty())
        GTEST_SKIP() << "pppd is not installed (Debian package ppp)";
    if (::geteuid() != 0)
        GTEST_SKIP() << "pppd runs for root only";
    Start("hup-exit");
    Create(7, Trunk(1, 5));
    Create(5, Modem([](TERM::ModemParams& p) { p.set_cid("5551234"); }));
    Connect(7, 5);
    ASSERT_TRUE(Started(1));
    Strings args = Runs()[0].argv;
    ASSERT_EQ(args.size(), 6u);
    // The option file: without `noauth` a machine with the kernel's PPP
    // wants secrets (Debian's /etc/ppp/options says `auth`); `dryrun` stops
    // there before a link starts.
    std::filesystem::create_directories(std::filesystem::path(args[2]).parent_path());
    {
        std::FILE* f = std::fopen(args[2].c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("dryrun\nnoauth\n", f);
        std::fclose(f);
    }
    // The modem's tty: a pseudo-terminal at the path.
    int const master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    std::filesystem::create_directories(std::filesystem::path(args[3]).parent_path());
    std::filesystem::create_symlink(::ptsname(master), args[3]);

    args[0] = pppd;
    pid_t const pid = TestSpawn::Spawn(args, server_.Path("pppd.out"), server_.Path("pppd.err"));
    ASSERT_GT(pid, 0);
    int status = -1;
    bool ended = E2E::Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(master);
    ASSERT_TRUE(ended) << "pppd did not end";
    ASSERT_TRUE(WIFEXITED(status));
    // 4: accepted, no PPP in this kernel; 0: accepted, dry run. 2 would be
    // an option error, a missing option file or a missing device.
    int const code = WEXITSTATUS(status);
    EXPECT_TRUE(code == 4 || code == 0)
        << "pppd exit " << code << ": " << server_.Read("pppd.err") << server_.Read("pppd.out");
}

} // namespace

namespace {

// The relay's records as the server writes them: its words in its own
// byte order (big-endian for a board build under emulation).
std::string HexWords(std::vector<std::uint32_t> const& words, std::vector<std::uint8_t> const& tail = {})
{
    std::string out;
    char buf[3];
    auto put = [&](std::uint8_t b) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    };
    for (std::uint32_t w : words) {
        if (E2E::Emulated()) {
            for (int shift = 24; shift >= 0; shift -= 8)
                put(static_cast<std::uint8_t>(w >> shift));
        } else {
            std::uint8_t b[4];
            std::memcpy(b, &w, 4);
            for (std::uint8_t x : b)
                put(x);
        }
    }
    for (std::uint8_t b : tail)
        put(b);
    return out;
}

class AuthEndToEnd : public ModemEndToEnd {
protected:
    void SetUp() override
    {
        // The server listens on 127.0.0.1:52000: only in a network of this
        // test's own.
        TESTNET_NEEDS_PRIVATE();
        env_ = {"STANDIN_USER=alice", "STANDIN_PASSWORD=s3cret", "STANDIN_ACCT=4294967298,7,8,2147483648,65",
                "STANDIN_AUTH_LOG=" + AuthLog(),
                std::string("STANDIN_AUTH_ORDER=") + (E2E::Emulated() ? ">" : "=")};
    }
    std::string AuthLog() const { return server_.Path("auth.log"); }
    Strings AuthRecords() const { return E2E::Lines(server_.Read("auth.log")); }
    E2E::Bytes Activate(int slot, std::string const& remote)
    {
        return Command(slot, [&](LGCP::Command& c) {
            TERM::ModemUserParameters& u = c.select_activate().select_modem();
            u.set_remoteAddr(remote);
            u.set_netmask("255.255.255.0");
            u.set_gateway("10.1.2.1");
            u.set_dns("10.1.2.53");
            u.set_mtu(1500);
        });
    }
};

TEST_F(AuthEndToEnd, TheHostAuthenticatesAndHearsTheAccounting)
{
    Start("auth");
    // A fax call takes modem 0, so the data call's pppd runs on modem 1.
    Create(8, Trunk(1, 6));
    Create(6, Modem([](TERM::ModemParams& p) {
               p.set_fax();
               p.set_originate();
           }));
    {
        E2E::Bytes const r = Connect(8, 6);
        ASSERT_EQ(r, E2E::Success(seq_, 8));
    }
    Create(7, Trunk(1, 5));
    Create(5, Modem());
    {
        E2E::Bytes const r = Connect(7, 5);
        ASSERT_EQ(r, E2E::Success(seq_, 7));
    }
    ASSERT_TRUE(Started(1));
    EXPECT_EQ(Runs()[0].argv.back(), server_.root() + "/dev/mdm1");

    LGCP::Signal s;
    ASSERT_TRUE(SignalOf(
        5, [](LGCP::Signal const& g) { return g.is_modemProceeding(); }, &s));
    ASSERT_TRUE(s.get_modemProceeding().is_auth());
    EXPECT_EQ(std::string(s.get_modemProceeding().get_auth().get_username()), "alice");
    EXPECT_EQ(std::string(s.get_modemProceeding().get_auth().get_password()), "s3cret");

    {
        E2E::Bytes const r = Activate(5, "10.1.2.3");
        ASSERT_EQ(r, E2E::Success(seq_, 5));
    }
    ASSERT_TRUE(E2E::Eventually([&] { return AuthRecords().size() >= 2; }));
    EXPECT_EQ(AuthRecords(),
              (Strings{HexWords({16, 2, 1, 1}),
                       HexWords({36, 3, 1, 0}, {10, 1, 2, 3, 255, 255, 255, 0, 10, 1, 2, 1, 10, 1, 2, 53}) +
                           HexWords({1500})}));

    // The counters split into 32-bit halves, each the signed integer with
    // the same bits.
    ASSERT_TRUE(SignalOf(
        5, [](LGCP::Signal const& g) { return g.is_modemProceeding(); }, &s));
    ASSERT_TRUE(s.get_modemProceeding().is_acct());
    auto const& a = s.get_modemProceeding().get_acct();
    auto pair = [](BASE::INTEGER64Bits const& v) {
        return std::make_pair(static_cast<long long>(v.get_low().getValue()),
                              static_cast<long long>(v.get_high().getValue()));
    };
    EXPECT_EQ(pair(a.get_octetsOut()), std::make_pair(2LL, 1LL));
    EXPECT_EQ(pair(a.get_octetsIn()), std::make_pair(7LL, 0LL));
    EXPECT_EQ(pair(a.get_packetsOut()), std::make_pair(8LL, 0LL));
    EXPECT_EQ(pair(a.get_packetsIn()), std::make_pair(-2147483648LL, 0LL));
    EXPECT_EQ(pair(a.get_time()), std::make_pair(65LL, 0LL));

    // A malformed address becomes 255.255.255.255; another alternative is
    // refused.
    {
        E2E::Bytes const r = Activate(5, "10.1.2.x");
        ASSERT_EQ(r, E2E::Success(seq_, 5));
    }
    ASSERT_TRUE(E2E::Eventually([&] { return AuthRecords().size() >= 4; }));
    EXPECT_EQ(AuthRecords()[3].substr(32, 8), "ffffffff");
    E2E::Bytes const refused = Command(5, [](LGCP::Command& c) { c.select_activate().select_empty(); });
    EXPECT_EQ(refused, E2E::Error(seq_, LGCP::ErrorCause::unsupported, 5));
    EXPECT_TRUE(server_.Logged("05:dsp-modem: modem's activation requests parameter.\n"));
}

TEST_F(AuthEndToEnd, AnActivateBeforeAnyRecordIsAnsweredAndDropped)
{
    env_.clear();
    Start("hup-exit");
    Create(7, Trunk(1, 5));
    Create(5, Modem());
    {
        E2E::Bytes const r = Connect(7, 5);
        ASSERT_EQ(r, E2E::Success(seq_, 7));
    }
    {
        E2E::Bytes const r = Activate(5, "10.1.2.3");
        EXPECT_EQ(r, E2E::Success(seq_, 5));
    }
    EXPECT_TRUE(server_.Logged("send error: unknown auth 0 session.\n"));
}

TEST_F(AuthEndToEnd, ARestartAfterAStopWithAConnectionOpenListensAgain)
{
    Start("auth");
    Create(7, Trunk(1, 5));
    Create(5, Modem());
    Connect(7, 5);
    ASSERT_TRUE(SignalOf(5, [](LGCP::Signal const& g) { return g.is_modemProceeding(); }));
    ASSERT_TRUE(server_.Logged("incoming auth connection from 127.0.0.1:"));
    // The server goes first, so its side of the connection waits in
    // TIME_WAIT on the port.
    server_.Stop();
    E2E::ServerProcess again{E2E::Later{}};
    ASSERT_TRUE(again.Start());
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(52000);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    OwnedFd peer;
    ASSERT_TRUE(E2E::Eventually([&] {
        peer.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        return ::connect(peer.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }));
    EXPECT_TRUE(again.Logged("incoming auth connection from 127.0.0.1:"));
    EXPECT_EQ(again.Err().find("fail to bind auth socket"), std::string::npos);
}

TEST_F(AuthEndToEnd, APortTakenAtStartIsLogged)
{
    OwnedFd taken(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(52000);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(taken.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(taken.get(), 1), 0);
    env_.clear();
    Start("hup-exit");
    EXPECT_TRUE(server_.Logged("fail to bind auth socket: Address already in use\n"));
}

} // namespace
