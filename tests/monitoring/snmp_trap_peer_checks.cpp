// Built traps read by independent SNMP implementations: net-snmp's
// snmptrapd receives them over UDP on loopback and logs every binding, and
// tshark's SNMP dissector decodes them from a capture file without an
// expert warning.

#include "monitoring/trap_helper.hpp"
#include "support/server_process.hpp"
#include "support/spawn.hpp"
#include "support/tshark.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TrapTest;

namespace {

std::string ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// snmptrapd in the foreground on 127.0.0.1, logging each trap as one line
// "TRAP <security info>|<binding>~<binding>..." into a file of its own
// folder; stopped and reaped on destruction.
class TrapDaemon {
public:
    TrapDaemon()
    {
        char dir[] = "/tmp/gw-snmptrapd-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            return;
        dir_ = dir;
        log_ = dir_ + "/log";
        std::ofstream(dir_ + "/conf") << "disableAuthorization yes\n";
        const std::string program = TestSpawn::FindProgram("snmptrapd");
        if (program.empty())
            return;
        port_ = E2E::FreePort(SOCK_DGRAM);
        const std::vector<std::string> args{program,
                                            "-f",
                                            "-Lf",
                                            log_,
                                            "-m",
                                            "",
                                            "-M",
                                            "/dev/null",
                                            "-C",
                                            "-c",
                                            dir_ + "/conf",
                                            "-n",
                                            "-On",
                                            "-F",
                                            "TRAP %P|%V~%v\n",
                                            "udp:127.0.0.1:" + std::to_string(port_)};
        // Its persistent state goes to the test's folder, not /var/lib.
        pid_ = TestSpawn::Spawn(args, "/dev/null", "/dev/null", {{"SNMP_PERSISTENT_DIR", dir_}});
        sock_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    ~TrapDaemon()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            TestSpawn::Wait(pid_);
        }
        if (sock_ >= 0)
            ::close(sock_);
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    TrapDaemon(const TrapDaemon&) = delete;
    TrapDaemon& operator=(const TrapDaemon&) = delete;

    bool running() const { return pid_ > 0; }

    void send(Bytes const& trap)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port_));
        ::sendto(sock_, trap.data(), trap.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    // Waits until the log holds `text`; `resend`, when given, goes out again
    // on every try, for the time before the daemon listens. False at once
    // when the daemon ended (its port was taken meanwhile, say).
    bool await(std::string const& text, Bytes const& resend = {})
    {
        bool found = false;
        E2E::Eventually([&] {
            if (!resend.empty())
                send(resend);
            found = log().find(text) != std::string::npos;
            int status;
            if (!found && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
                pid_ = -1;
            return found || pid_ < 0;
        });
        return found;
    }

    std::string log() const { return ReadFile(log_); }

private:
    std::string dir_, log_;
    int port_ = 0;
    pid_t pid_ = -1;
    int sock_ = -1;
};

Bytes ProbeTrap()
{
    auto s = NewSession(99);
    trap_init(s.get(), "probe");
    trap_pack_begin(s.get());
    AddU32(*s, sys_up_time, ASN_TIMETICKS, 0);
    AddOid(*s, snmp_trap_oid, cold_start);
    return Message(*s);
}

// A binding, but not the two that must come first.
Bytes DescrOnlyTrap()
{
    auto s = NewSession(7);
    trap_init(s.get(), "descr-only");
    trap_pack_begin(s.get());
    Add(*s, sys_descr, ASN_OCTET_STR, Bytes{'x'});
    return Message(*s);
}

// The line of the log that names the community.
std::string LineOf(std::string const& log, std::string const& community)
{
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line))
        if (line.find("community " + community + "|") != std::string::npos)
            return line;
    return "";
}

std::vector<std::string> Split(std::string const& s, char separator)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string part;
    while (std::getline(in, part, separator))
        out.push_back(part);
    return out;
}

} // namespace

TEST(SnmpTrapPeers, SnmptrapdLogsEveryBinding)
{
    // The free port may be taken before the daemon binds it: a few tries.
    std::unique_ptr<TrapDaemon> started;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        auto candidate = std::make_unique<TrapDaemon>();
        ASSERT_TRUE(candidate->running()) << "snmptrapd is missing (Debian package snmptrapd)";
        if (candidate->await("community probe|", ProbeTrap()))
            started = std::move(candidate);
    }
    ASSERT_TRUE(started) << "snmptrapd never logged the probe trap";
    TrapDaemon& daemon = *started;

    daemon.send(GoldenTrap());
    daemon.send(EveryTypeTrap("every-type", 5));
    // What callers must avoid: without sysUpTime.0 and snmpTrapOID.0 first
    // the receiver drops the trap.
    daemon.send(BareTrap("bare", 6));
    daemon.send(DescrOnlyTrap());
    ASSERT_TRUE(daemon.await("Cannot find TrapOID in TRAP2 PDU\nCannot find TrapOID in TRAP2 PDU\n"))
        << daemon.log();
    ASSERT_TRUE(daemon.await("community every-type|")) << daemon.log();
    const std::string log = daemon.log();

    EXPECT_EQ(LineOf(log, "public"), "TRAP TRAP2, SNMP v2c, community public|"
                                     ".1.3.6.1.2.1.1.3.0 = Timeticks: (12345) 0:02:03.45~"
                                     ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1~"
                                     ".1.3.6.1.2.1.1.1.0 = STRING: \"gateway\"");
    const std::vector<std::string> every = Split(LineOf(log, "every-type"), '~');
    const std::vector<std::string> expected{
        "TRAP TRAP2, SNMP v2c, community every-type|.1.3.6.1.2.1.1.3.0 = Timeticks: (4000000000) 462 days, "
        "23:06:40.00",
        ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1",
        ".1.3.6.1.2.1.1.9.1.3.1 = INTEGER: -123456",
        ".1.3.6.1.2.1.1.9.1.3.2 = BITS: 05 A0 5 7 8 10 ",
        ".1.3.6.1.2.1.1.9.1.3.3 = STRING: \"link up\"",
        ".1.3.6.1.2.1.1.9.1.3.4 = NULL",
        ".1.3.6.1.2.1.1.9.1.3.5 = OID: .1.3.6.1.4.1.4294967295",
        ".1.3.6.1.2.1.1.9.1.3.6 = IpAddress: 192.0.2.7",
        ".1.3.6.1.2.1.1.9.1.3.7 = Counter32: 2147483648",
        ".1.3.6.1.2.1.1.9.1.3.8 = Gauge32: 4294967295",
        ".1.3.6.1.2.1.1.9.1.3.9 = Timeticks: (0) 0:00:00.00",
        ".1.3.6.1.2.1.1.9.1.3.10 = OPAQUE: DE AD ",
        // net-snmp prints no type for the NSAP and UInteger32 tags.
        ".1.3.6.1.2.1.1.9.1.3.11 = Variable has bad type",
        ".1.3.6.1.2.1.1.9.1.3.12 = 300",
    };
    EXPECT_EQ(every, expected);
    EXPECT_EQ(LineOf(log, "bare"), "") << log;
    EXPECT_EQ(LineOf(log, "descr-only"), "") << log;
}

TEST(SnmpTrapPeers, TsharkDecodesTheTraps)
{
    ASSERT_TRUE(TestTshark::Available()) << "text2pcap or tshark is missing";
    std::string errors;
    const auto rows =
        TestTshark::Fields({{GoldenTrap()}, {EveryTypeTrap("every-type", 5)}, {BareTrap("bare", 6)}},
                           {"-q", "-u", "40000,162"}, {"-T", "fields",
                                                       "-E", "occurrence=a",
                                                       "-e", "snmp.version",
                                                       "-e", "snmp.community",
                                                       "-e", "snmp.request_id",
                                                       "-e", "snmp.name",
                                                       "-e", "snmp.value.timeticks",
                                                       "-e", "snmp.value.oid",
                                                       "-e", "snmp.value.octets",
                                                       "-e", "snmp.value.int",
                                                       "-e", "snmp.value.counter",
                                                       "-e", "snmp.value.ipv4",
                                                       "-e", "_ws.expert.message"},
                           '\t', &errors);
    EXPECT_EQ(errors, "");
    using Row = std::vector<std::string>;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0],
              (Row{"1", "public", "1841883", "1.3.6.1.2.1.1.3.0,1.3.6.1.6.3.1.1.4.1.0,1.3.6.1.2.1.1.1.0",
                   "12345", "1.3.6.1.6.3.1.1.5.1", "67617465776179", "", "", "", ""}));
    auto every = NewSession(5);
    trap_init(every.get(), nullptr);
    std::string names = "1.3.6.1.2.1.1.3.0,1.3.6.1.6.3.1.1.4.1.0";
    for (int n = 1; n <= 12; ++n)
        names += ",1.3.6.1.2.1.1.9.1.3." + std::to_string(n);
    EXPECT_EQ(rows[1], (Row{"1", "every-type", std::to_string(every->request_id), names, "4000000000,0",
                            "1.3.6.1.6.3.1.1.5.1,1.3.6.1.4.1.4294967295", "6c696e6b207570", "-123456",
                            "2147483648", "192.0.2.7", ""}));
    auto bare = NewSession(6);
    trap_init(bare.get(), nullptr);
    EXPECT_EQ(rows[2], (Row{"1", "bare", std::to_string(bare->request_id), "", "", "", "", "", "", "", ""}));
}
