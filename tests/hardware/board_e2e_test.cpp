// End to end: the clock, E1 and SPI services of build/server on the
// simulated board, driven over the control port. Commands are built here
// bit by bit and the signals read back bit by bit (X.691 aligned PER of
// LGCP::Message in TPKT frames, RFC 1006), apart from the program's coder;
// the board is inspected and steered through its control socket.

#include "sim/server_helper.hpp"
#include "support/per_writer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

using TestPer::BitWriter;

class BitReader {
public:
    explicit BitReader(const Bytes& b) : b_(b) {}
    unsigned Bits(int count)
    {
        unsigned v = 0;
        for (int i = 0; i < count; ++i) {
            std::size_t byte = pos_ / 8;
            if (byte >= b_.size()) {
                ok_ = false;
                return 0;
            }
            v = v << 1 | ((b_[byte] >> (7 - pos_ % 8)) & 1);
            ++pos_;
        }
        return v;
    }
    void Align() { pos_ = (pos_ + 7) / 8 * 8; }
    long long Unconstrained()
    {
        Align();
        unsigned n = Bits(8);
        if (n == 0 || n > 8) {
            ok_ = false;
            return 0;
        }
        long long v = static_cast<std::int8_t>(Bits(8));
        for (unsigned i = 1; i < n; ++i)
            v = v * 256 + Bits(8);
        return v;
    }
    bool ok() const { return ok_; }
    bool at_end() const { return (pos_ + 7) / 8 == b_.size(); }

private:
    const Bytes& b_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// LGCP::Message { seq, [slot,] pdu command <alternative> }: the preamble
// with seq present and slot present when it is not negative (X.691 18.2),
// seq, slot INTEGER (0..1023) in two aligned octets (X.691 10.5.7.3), PDU
// command (3 alternatives), Command's extension bit and its index among 15
// root alternatives.
BitWriter CommandHead(int seq, unsigned alternative, int slot = -1)
{
    BitWriter w;
    w.Bits(slot < 0 ? 0b10 : 0b11, 2);
    w.Unconstrained(seq);
    if (slot >= 0) {
        w.Align();
        w.Bits(static_cast<unsigned>(slot), 16);
    }
    w.Bits(0, 2);
    w.Bits(0, 1);
    w.Bits(alternative, 4);
    return w;
}

Bytes ClockCfg(int seq, unsigned sel, unsigned ext, long long source)
{
    BitWriter w = CommandHead(seq, 11);
    w.Bits(sel, 1); // ENUMERATED of two, no extension (X.691 13.2)
    w.Bits(ext, 1);
    w.Unconstrained(source);
    return w.bytes();
}

Bytes TrunkCfg(int seq, long long trunk, unsigned mode)
{
    BitWriter w = CommandHead(seq, 10);
    w.Unconstrained(trunk);
    w.Bits(mode, 1);
    return w.bytes();
}

enum CasCmd { kOpen = 0, kClose = 1, kSet = 2, kGet = 3 };

Bytes Cas(int seq, long long path, long long timeslot, CasCmd cmd, long long bits = 0, int slot = -1)
{
    BitWriter w = CommandHead(seq, 9, slot);
    w.Bits(0, 1);  // IoctlParams: extension bit, root
    w.Bits(15, 6); // cas of 38 root alternatives
    w.Unconstrained(path);
    w.Unconstrained(timeslot);
    w.Bits(cmd, 2);
    if (cmd == kOpen || cmd == kSet)
        w.Unconstrained(bits);
    return w.bytes();
}

Bytes Success(int seq)
{
    BitWriter w;
    w.Bits(0b10, 2);
    w.Unconstrained(seq);
    w.Bits(1, 2); // response
    w.Bits(0, 1); // success
    return w.bytes();
}

struct TrunkStatus {
    long long trunk, state, slips;
    unsigned type;
};
struct CasSignal {
    long long path, timeslot, rx, tx;
    bool operator==(const CasSignal&) const = default;
};

// What one payload from the server is.
struct Message {
    enum Kind { Other, Response, Trunk, CasSig } kind = Other;
    TrunkStatus trunk{};
    CasSignal cas{};
};

Message Parse(const Bytes& payload)
{
    Message m;
    BitReader r(payload);
    bool seq = r.Bits(1), slot = r.Bits(1);
    if (seq)
        r.Unconstrained();
    if (slot) {
        r.Align();
        r.Bits(16);
    }
    unsigned pdu = r.Bits(2);
    if (pdu == 1) {
        m.kind = Message::Response;
        return m;
    }
    if (pdu != 2 || r.Bits(1) != 0)
        return m;
    unsigned alternative = r.Bits(5); // Signal: 23 root alternatives
    if (alternative == 11) {
        r.Bits(1); // TrunkStatus is extensible
        TrunkStatus& t = m.trunk;
        t.trunk = r.Unconstrained();
        t.state = r.Bits(3); // 7 values
        t.slips = r.Unconstrained();
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(r.Unconstrained(), 0) << "counter " << i;
        r.Align();
        EXPECT_EQ(r.Bits(8), 0u) << "name";
        EXPECT_EQ(r.Bits(1), 0u) << "clockMaster";
        EXPECT_EQ(r.Bits(1), 0u) << "type: root value";
        t.type = r.Bits(1);
        if (r.ok() && r.at_end())
            m.kind = Message::Trunk;
    } else if (alternative == 14) {
        CasSignal& c = m.cas;
        c.path = r.Unconstrained();
        c.timeslot = r.Unconstrained();
        c.rx = r.Unconstrained();
        c.tx = r.Unconstrained();
        if (r.ok() && r.at_end())
            m.kind = Message::CasSig;
    }
    return m;
}

using SimTest::FreePort;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// build/server below a private root, its board on a control socket there.
class Server {
public:
    explicit Server(const std::vector<std::string>& args = {}, const std::string& setup = "")
    {
        char dir[] = "/tmp/gw-board-e2e-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            return;
        root_ = dir;
        std::system(("mkdir -p " + root_ + "/var/run " + root_ + "/var/log").c_str());
        socket_ = root_ + "/board.sock";
        port_ = FreePort();
        const char* bin = std::getenv("GW_TEST_BINARY_DIR");
        std::string server = std::string(bin != nullptr ? bin : ".") + "/server";
        std::vector<std::string> argv = {server, "--port", std::to_string(port_)};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            int out = ::open((root_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = ::open((root_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::setenv("GW_ROOT", root_.c_str(), 1);
            ::setenv("GW_SIM_SOCKET", socket_.c_str(), 1);
            if (!setup.empty())
                ::setenv("GW_SIM_SETUP", setup.c_str(), 1);
            std::vector<char*> v;
            for (auto& a : argv)
                v.push_back(a.data());
            v.push_back(nullptr);
            ::execv(server.c_str(), v.data());
            ::_exit(127);
        }
    }
    ~Server()
    {
        Stop();
        if (!root_.empty())
            std::system(("rm -rf '" + root_ + "'").c_str());
    }
    int Stop()
    {
        if (pid_ <= 0)
            return status_;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, &status_, 0);
        pid_ = -1;
        return status_;
    }
    int port() const { return port_; }
    std::string Err() const { return Slurp(root_ + "/stderr"); }
    // Bounded wait until the error stream holds `text`.
    bool Logged(const std::string& text) const
    {
        for (int i = 0; i < 1000; ++i) {
            if (Err().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // One request of the board's control language; its answer.
    std::string Ask(const std::string& request) const
    {
        std::string answer;
        for (int attempt = 0; attempt < 500 && answer.empty(); ++attempt) {
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            std::strncpy(a.sun_path, socket_.c_str(), sizeof a.sun_path - 1);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            std::string line = request + "\n";
            if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
                char buf[4096];
                ssize_t n;
                auto done = [&] {
                    if (answer.empty() || answer.back() != '\n')
                        return false;
                    std::size_t last = answer.rfind('\n', answer.size() - 2);
                    last = last == std::string::npos ? 0 : last + 1;
                    return answer.compare(last, 2, "ok") == 0 || answer.compare(last, 5, "error") == 0;
                };
                while (!done() && (n = ::read(fd, buf, sizeof buf)) > 0)
                    answer.append(buf, static_cast<std::size_t>(n));
            }
            ::close(fd);
        }
        return answer;
    }
    // Bounded wait until the board answers `request` with `expected`.
    bool Becomes(const std::string& request, const std::string& expected) const
    {
        for (int i = 0; i < 500; ++i) {
            if (Ask(request) == expected)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    std::string root_, socket_;
    int port_ = 0;
    pid_t pid_ = -1;
    int status_ = -1;
};

class Host {
public:
    explicit Host(int port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The control port opens after the banner: a few tries.
        for (int i = 0; i < 1000 && fd_ < 0; ++i) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(fd_);
                fd_ = -1;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    ~Host() { Close(); }
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool ok() const { return fd_ >= 0; }
    void Send(const Bytes& payload)
    {
        Bytes frame{3, 0, static_cast<std::uint8_t>((payload.size() + 4) >> 8),
                    static_cast<std::uint8_t>(payload.size() + 4)};
        frame.insert(frame.end(), payload.begin(), payload.end());
        ASSERT_EQ(::write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    }
    // The next payload; empty after `ms` milliseconds without one.
    Bytes Next(int ms = 5000)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (buf_.size() >= 4) {
                std::size_t len = static_cast<std::size_t>(buf_[2] << 8 | buf_[3]);
                if (len >= 4 && buf_.size() >= len) {
                    Bytes payload(buf_.begin() + 4, buf_.begin() + static_cast<long>(len));
                    buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(len));
                    return payload;
                }
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return {};
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            std::uint8_t chunk[4096];
            ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            buf_.insert(buf_.end(), chunk, chunk + n);
        }
    }
    // Everything up to and including the response to the last command;
    // the signals before it go to `signals`.
    Bytes Response(std::vector<Message>* signals = nullptr)
    {
        for (;;) {
            Bytes p = Next();
            if (p.empty())
                return p;
            Message m = Parse(p);
            if (m.kind == Message::Response)
                return p;
            if (signals != nullptr)
                signals->push_back(m);
        }
    }
    // The CAS signals before the response to the last command.
    std::vector<CasSignal> CasBefore(const Bytes& expected)
    {
        std::vector<Message> signals;
        EXPECT_EQ(Response(&signals), expected);
        std::vector<CasSignal> cas;
        for (const Message& m : signals)
            if (m.kind == Message::CasSig)
                cas.push_back(m.cas);
        return cas;
    }
    // The trunk reports of type `type` that arrive within `ms`.
    std::vector<TrunkStatus> Reports(unsigned type, int ms)
    {
        std::vector<TrunkStatus> out;
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return out;
            Bytes p = Next(static_cast<int>(left.count()));
            if (p.empty())
                return out;
            Message m = Parse(p);
            if (m.kind == Message::Trunk && m.trunk.type == type)
                out.push_back(m.trunk);
        }
    }

private:
    int fd_ = -1;
    Bytes buf_;
};

constexpr unsigned kE1 = 0, kBri = 1;
constexpr unsigned kExternal = 0, kInternal = 1, kEnabled = 0, kDisabled = 1;

TEST(BoardEndToEnd, ClockSourceFollowsTheControllerAndClockCfg)
{
    Server server;
    Host host(server.port());
    ASSERT_TRUE(host.ok());
    // The connection itself falls back to the free-running oscillator.
    ASSERT_TRUE(server.Becomes("/dev/hal clock", "ok 4\n"));

    host.Send(ClockCfg(1, kExternal, kEnabled, 2));
    EXPECT_EQ(host.Response(), Success(1));
    EXPECT_EQ(server.Ask("/dev/hal clock"), "ok 2\n");
    EXPECT_TRUE(server.Logged("clkctl: clock source = f2\n")) << server.Err();

    host.Send(ClockCfg(2, kExternal, kDisabled, 9));
    EXPECT_EQ(host.Response(), Success(2));
    EXPECT_EQ(server.Ask("/dev/hal clock"), "ok 5\n");
    host.Send(ClockCfg(3, kInternal, kEnabled, 2));
    EXPECT_EQ(host.Response(), Success(3));
    EXPECT_EQ(server.Ask("/dev/hal clock"), "ok 4\n");

    // A source the selector refuses: logged, still success.
    host.Send(ClockCfg(4, kExternal, kEnabled, 12));
    EXPECT_EQ(host.Response(), Success(4));
    EXPECT_TRUE(server.Logged("clkctl: HW_CLOCK_SELECT fail.\n"));

    host.Send(ClockCfg(5, kExternal, kEnabled, 1));
    EXPECT_EQ(host.Response(), Success(5));
    EXPECT_EQ(server.Ask("/dev/hal clock"), "ok 1\n");
    host.Close();
    EXPECT_TRUE(server.Becomes("/dev/hal clock", "ok 4\n"));
    int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(BoardEndToEnd, DisabledClockIsUnsupportedAndNeverSelected)
{
    Server server({"--disable-clock"});
    Host host(server.port());
    ASSERT_TRUE(host.ok());
    host.Send(ClockCfg(3, kExternal, kEnabled, 2));
    EXPECT_EQ(host.Response(), (Bytes{0x80, 0x01, 0x03, 0x66}));
    host.Close();
    EXPECT_TRUE(server.Logged("clock control disabled.\n"));
    EXPECT_EQ(server.Ask("count /dev/hal 0x80044301"), "ok 0\n");
    int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(server.Err().find("clkctl:"), std::string::npos) << server.Err();
}

TEST(BoardEndToEnd, MissingHalStillAnswersClockCfgSuccess)
{
    Server server;
    // The clock service opens the driver at the first connection.
    ASSERT_EQ(server.Ask("absent /dev/hal"), "ok\n");
    Host host(server.port());
    ASSERT_TRUE(host.ok());
    host.Send(ClockCfg(1, kExternal, kEnabled, 2));
    EXPECT_EQ(host.Response(), Success(1));
    EXPECT_TRUE(server.Logged("clkctl: set clock source fail: code 1.\n")) << server.Err();
    EXPECT_EQ(server.Ask("count /dev/hal 0x80044301"), "ok 0\n");
}

TEST(BoardEndToEnd, TrunkStatusMaskAndCas)
{
    Server server;
    ASSERT_EQ(server.Ask("/dev/e1-cas rx 0 1 9"), "ok\n");
    Host host(server.port());
    ASSERT_TRUE(host.ok());

    // Four E1 reports come first, before anything is asked.
    for (int trunk = 0; trunk < 4; ++trunk) {
        Message m = Parse(host.Next());
        ASSERT_EQ(m.kind, Message::Trunk);
        EXPECT_EQ(m.trunk.trunk, trunk);
        EXPECT_EQ(m.trunk.type, kE1);
        EXPECT_EQ(m.trunk.state, 0);
    }
    ASSERT_EQ(server.Ask("/dev/maintenance trunk 2 state 2 slips 0"), "ok\n");
    ASSERT_EQ(server.Ask("/dev/maintenance trunk 3 state 11"), "ok\n");
    auto reports = host.Reports(kE1, 2500);
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[reports.size() - 2].trunk, 2);
    EXPECT_EQ(reports[reports.size() - 2].state, 2) << "lossCarrier";
    EXPECT_EQ(reports.back().state, 5) << "a state the enumeration lacks is unknown";

    EXPECT_EQ(server.Ask("/dev/maintenance tclk"), "ok 0x0\n");
    host.Send(TrunkCfg(1, 1, 0));
    EXPECT_EQ(host.Response(), Success(1));
    EXPECT_EQ(server.Ask("/dev/maintenance tclk"), "ok 0x2\n");
    host.Send(TrunkCfg(2, 3, 0));
    EXPECT_EQ(host.Response(), Success(2));
    EXPECT_EQ(server.Ask("/dev/maintenance tclk"), "ok 0xa\n");
    host.Send(TrunkCfg(3, 1, 1));
    EXPECT_EQ(host.Response(), Success(3));
    EXPECT_EQ(server.Ask("/dev/maintenance tclk"), "ok 0x8\n");
    host.Send(TrunkCfg(4, 40, 0));
    EXPECT_EQ(host.Response(), Success(4));
    EXPECT_EQ(server.Ask("/dev/maintenance tclk"), "ok 0x8\n");

    // CAS: the trunk's result, then the channel's bits.
    host.Send(Cas(10, 0, 1, kOpen, 5));
    EXPECT_EQ(host.CasBefore(Success(10)), (std::vector<CasSignal>{{0, 0, 0, 0}, {0, 1, 9, 5}}));
    host.Send(Cas(11, 0, 16, kOpen, 5));
    EXPECT_EQ(host.CasBefore(Success(11)), (std::vector<CasSignal>{{0, 0, 0, 0}}));
    host.Send(Cas(12, 0, 1, kSet, 0x1A));
    EXPECT_EQ(host.CasBefore(Success(12)), (std::vector<CasSignal>{{0, 1, 9, 0xA}}));
    host.Send(Cas(13, 0, 1, kGet));
    EXPECT_EQ(host.CasBefore(Success(13)), (std::vector<CasSignal>{{0, 1, 9, 0xA}}));
    host.Send(Cas(14, 0, 1, kClose));
    EXPECT_EQ(host.CasBefore(Success(14)), (std::vector<CasSignal>{{0, 1, -1, 1}}));
    host.Send(Cas(15, 2, 0, kOpen));
    EXPECT_EQ(host.CasBefore(Success(15)), (std::vector<CasSignal>{{2, 0, 0, 0}}));
    host.Send(Cas(16, 2, 0, kClose));
    EXPECT_EQ(host.CasBefore(Success(16)), (std::vector<CasSignal>{{2, 0, 1, 0}}));

    // Trunks that do not exist: success, nothing touched, no signal.
    std::string state = server.Ask("/dev/e1-cas state");
    EXPECT_EQ(state, "trunk 0 open\nok 1\n");
    for (long long path : {4LL, -1LL, 2147483647LL, -2147483648LL}) {
        host.Send(Cas(20, path, 1, kOpen, 1));
        EXPECT_TRUE(host.CasBefore(Success(20)).empty()) << path;
        host.Send(Cas(21, path, 0, kClose));
        EXPECT_TRUE(host.CasBefore(Success(21)).empty()) << path;
    }
    EXPECT_EQ(server.Ask("/dev/e1-cas state"), state);

    // A record from the driver becomes a `cas` signal; a short one nothing.
    // (Records are the board's native words.)
    auto record = [](std::uint32_t trunk, std::uint32_t slot, unsigned rx, unsigned tx) {
        std::uint8_t b[12] = {};
        std::memcpy(b, &trunk, 4);
        std::memcpy(b + 4, &slot, 4);
        b[8] = static_cast<std::uint8_t>(rx);
        b[9] = static_cast<std::uint8_t>(tx);
        std::string hex;
        char two[3];
        for (std::uint8_t x : b) {
            std::snprintf(two, sizeof two, "%02x", x);
            hex += two;
        }
        return hex;
    };
    std::string full = record(1, 5, 3, 12);
    ASSERT_EQ(server.Ask("inject /dev/e1-cas " + full.substr(0, 22)), "ok 1\n");
    ASSERT_EQ(server.Ask("inject /dev/e1-cas " + full), "ok 1\n");
    std::vector<CasSignal> seen;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (seen.empty() && Clock::now() < deadline) {
        Message m = Parse(host.Next(1000));
        if (m.kind == Message::CasSig)
            seen.push_back(m.cas);
    }
    EXPECT_EQ(seen, (std::vector<CasSignal>{{1, 5, 3, 12}}));

    // The controller goes: every open CAS trunk is closed.
    host.Close();
    EXPECT_TRUE(server.Becomes("/dev/e1-cas state", "ok 0\n"));
    int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(BoardEndToEnd, AnIoctlWithASlotNumberIsNotABoardServicesCommand)
{
    Server server;
    Host host(server.port());
    ASSERT_TRUE(host.ok());
    // CAS open for slot 4: no board service answers it, so the server's own
    // unexpectedMsgType does, carrying the slot (X.691 aligned PER).
    host.Send(Cas(30, 0, 1, kOpen, 5, 4));
    EXPECT_TRUE(host.CasBefore(Bytes{0xC0, 0x01, 30, 0x00, 0x04, 0x64}).empty());
    EXPECT_EQ(server.Ask("count /dev/e1-cas 0x80044300"), "ok 0\n");
    EXPECT_EQ(server.Ask("/dev/e1-cas state"), "ok 0\n");
    // Without a slot number it is E1's.
    host.Send(Cas(31, 0, 1, kOpen, 5));
    EXPECT_EQ(host.CasBefore(Success(31)).size(), 2u);
    EXPECT_EQ(server.Ask("count /dev/e1-cas 0x80044300"), "ok 1\n");
}

TEST(BoardEndToEnd, SpiFramersReportAsBriTrunks)
{
    Server server;
    const char* bytes[] = {"0x00", "0x01", "0x85", "0xC5", "0x05", "0x45", "0x25", "0xE5"};
    for (int n = 0; n < 8; ++n)
        ASSERT_EQ(server.Ask("/dev/hal spi status " + std::to_string(n) + " " + bytes[n]), "ok\n");
    Host host(server.port());
    ASSERT_TRUE(host.ok());
    auto reports = host.Reports(kBri, 1600);
    ASSERT_EQ(reports.size(), 8u);
    // lossCarrier, lossBF, rai, normal, ais, ais, ais, normal; framers 6
    // and 7 both slip, and only the first of them counts the edge.
    const long long states[8] = {2, 1, 4, 0, 3, 3, 3, 0};
    const long long slips[8] = {0, 0, 0, 0, 0, 0, 1, 0};
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(reports[n].trunk, n);
        EXPECT_EQ(reports[n].state, states[n]) << bytes[n];
        EXPECT_EQ(reports[n].slips, slips[n]) << bytes[n];
    }
    // Set up at start: framers 0..6, none clock master.
    EXPECT_EQ(server.Ask("/dev/hal spi reg 6 87"), "ok 0x30\n");
    EXPECT_EQ(server.Ask("/dev/hal spi reg 7 87"), "ok 0x00\n");
}

TEST(BoardEndToEnd, BoardWithoutSpiSaysSoOnceAndReportsNothing)
{
    Server server({}, "/dev/hal spi absent");
    Host host(server.port());
    ASSERT_TRUE(host.ok());
    EXPECT_TRUE(server.Logged("spi: try init\nspi: hal without spi\nspi: init channel 0\n")) << server.Err();
    EXPECT_TRUE(host.Reports(kBri, 1600).empty());
    EXPECT_EQ(server.Err().find("spi: enable channel"), std::string::npos);
    EXPECT_EQ(server.Ask("count /dev/hal 0xc0034204"), "ok 1\n");
}

} // namespace
