// What the trace listener puts on the wire, checked by an independent
// decoder: dumpcap captures the loopback traffic of a broadcast to two
// clients, and tshark's TPKT dissector (RFC 1006) must find every frame with
// the right version, length and payload.
//
// dumpcap reports itself ready before its capture really runs, and writes
// its file some time after the packets went by; UDP marker datagrams to
// ourselves, inside the capture filter, tell when both have happened.

#include "control/control_test_helper.hpp"
#include "control/tpkt_tracer.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ctltest;

namespace {

std::string read_file(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

pid_t spawn(std::vector<std::string> const& args, char const* out_path)
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        int out = out_path != nullptr ? open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0600) : null;
        dup2(null, 0);
        dup2(out, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (std::string const& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int wait_exit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A UDP socket that sends markers to itself.
struct Marker {
    Marker()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    }
    ~Marker() { ::close(fd); }
    int port() const { return ntohs(a.sin_port); }
    // Sends `text` until it shows in the capture file; false after about
    // 30 s. Waits on the external capture, not on a timer of ours.
    bool until_captured(std::string const& text, std::string const& file)
    {
        for (int i = 0; i < 600; ++i) {
            sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
            poll(nullptr, 0, 50);
            char buf[64];
            while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {}
            if (read_file(file).find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    int fd = -1;
    sockaddr_in a{};
};

// Reads until `n` octets came or nothing more does; returns the count.
std::size_t read_all(int fd, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            break;
        std::size_t more = read_now(fd).size();
        if (more == 0)
            break;
        got += more;
    }
    return got;
}

std::vector<std::string> split(std::string const& s, char sep)
{
    std::vector<std::string> out;
    std::string cur;
    std::istringstream in(s);
    while (std::getline(in, cur, sep))
        out.push_back(cur);
    return out;
}

std::string hex(std::string const& s)
{
    std::string out;
    char b[3];
    for (unsigned char c : s) {
        std::snprintf(b, sizeof b, "%02x", c);
        out += b;
    }
    return out;
}

struct TsharkTest : LoopTest {};

} // namespace

TEST_F(TsharkTest, BroadcastFramesDecodeAsTpkt)
{
    TPKTTracer t;
    ASSERT_TRUE(t.Listen(0));
    int const port = t.local_port();
    Marker marker;
    char dir_tmpl[] = "/tmp/gw-tshark-XXXXXX";
    ASSERT_NE(mkdtemp(dir_tmpl), nullptr);
    std::string const dir = dir_tmpl;
    std::string const pcap = dir + "/trace.pcap";
    std::string const decoded = dir + "/decoded.txt";

    std::string const filter =
        "tcp port " + std::to_string(port) + " or udp port " + std::to_string(marker.port());
    pid_t dumpcap = spawn({"dumpcap", "-i", "lo", "-f", filter, "-P", "-w", pcap}, nullptr);
    ASSERT_GT(dumpcap, 0);
    bool const ready = marker.until_captured("gw-capture-ready", pcap);
    if (!ready) {
        kill(dumpcap, SIGKILL);
        wait_exit(dumpcap);
    }
    ASSERT_TRUE(ready) << "dumpcap captured nothing on lo";

    int a, b;
    {
        Capture log(Capture::Err);
        a = tcp_connect(port);
        b = tcp_connect(port);
        pass();
    }
    ASSERT_EQ(t.connection_count(), 2u);
    std::string binary;
    for (int i = 0; i < 300; ++i)
        binary += static_cast<char>(i * 7);
    std::vector<std::string> const payloads = {"ABC", binary, std::string(512, 'z')};
    for (std::string const& p : payloads)
        t.Send(p.data(), static_cast<unsigned>(p.size()));
    std::size_t const expect_bytes = 3 * 4 + 3 + 300 + 512;
    EXPECT_EQ(read_all(a, expect_bytes), expect_bytes);
    EXPECT_EQ(read_all(b, expect_bytes), expect_bytes);
    ::close(a);
    ::close(b);
    pass();

    bool const done = marker.until_captured("gw-capture-done", pcap);
    kill(dumpcap, SIGINT);
    wait_exit(dumpcap);
    ASSERT_TRUE(done);

    // One line per TPKT frame: version, length, payload in hex.
    pid_t tshark = spawn({"tshark", "-r", pcap, "-d", "tcp.port==" + std::to_string(port) + ",tpkt",
                          "--disable-protocol", "cotp", "-Y", "tpkt", "-T", "fields", "-E", "occurrence=a",
                          "-e", "tpkt.version", "-e", "tpkt.length", "-e", "data.data"},
                         decoded.c_str());
    ASSERT_GT(tshark, 0);
    EXPECT_EQ(wait_exit(tshark), 0);
    std::string const text = read_file(decoded);

    // A segment may carry several frames: tshark lists their fields
    // comma-separated on the segment's line.
    std::vector<std::string> versions, lengths, data;
    for (std::string const& line : split(text, '\n')) {
        std::vector<std::string> f = split(line, '\t');
        if (f.size() < 3)
            continue;
        for (std::string const& v : split(f[0], ','))
            versions.push_back(v);
        for (std::string const& v : split(f[1], ','))
            lengths.push_back(v);
        for (std::string const& v : split(f[2], ','))
            data.push_back(v);
    }
    ASSERT_EQ(data.size(), 6u) << text;
    ASSERT_EQ(lengths.size(), 6u) << text;
    for (std::string const& v : versions)
        EXPECT_EQ(v, "3");
    // The two clients' streams may interleave in the capture: compare as
    // sets.
    std::vector<std::string> want, got;
    for (int c = 0; c < 2; ++c)
        for (std::string const& p : payloads)
            want.push_back(std::to_string(p.size() + 4) + "/" + hex(p));
    for (std::size_t i = 0; i < 6; ++i)
        got.push_back(lengths[i] + "/" + data[i]);
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want) << text;

    ::unlink(pcap.c_str());
    ::unlink(decoded.c_str());
    ::rmdir(dir.c_str());
}
