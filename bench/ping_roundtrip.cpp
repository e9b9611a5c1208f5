// Sequential LGCP ping round trips on loopback, one host, against the server
// and against a bare single-threaded poll loop that echoes TPKT frames (in
// this file, run as a child process): the server twice, on the simulated
// board with its TDM switch (the switch refresh runs every loop pass) and
// with "/dev/hal" absent. The three alternate for ROUNDS rounds of PINGS
// pings each; the median rate of each is printed with its ratio to the
// echo's. Then the server's resident memory after start and after 10000
// pings.
//
//   ping_roundtrip SERVER [--rounds R] [--pings N]
//
// SERVER is the server program (an optimised build: scripts/run.sh builds
// one in build-release/). Its files go below a fresh GW_ROOT; its output to
// a log file there.
//
// Client, echo and servers all run on one CPU (--cpu N; default the last
// one this program may use; --cpu -1 leaves them to the scheduler). A
// ping-pong between two processes on two CPUs costs mostly the wake-up of
// an idle CPU, and which CPUs the scheduler picks for a process differs from
// one start to the next: two starts of the same echo then differ by a factor
// of two. On one CPU a round trip costs what the two processes do, which is
// what the ratio is meant to compare.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// ping, seq 1; the answer is the success response with the same seq, whose
// payload starts 80 01 01 (signals carry no seq and start otherwise).
const std::uint8_t ping[] = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x18};

int Listen(int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int FreePort()
{
    int port = 0;
    close(Listen(port));
    return port;
}

// The reference: poll() on the listening socket and its connections; every
// whole TPKT frame read is written back as it came.
[[noreturn]] void Echo(int lfd)
{
    std::vector<pollfd> fds{{lfd, POLLIN, 0}};
    std::vector<std::vector<std::uint8_t>> pending(1);
    std::uint8_t buf[65536];
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int c = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                const int on = 1;
                setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                fds.push_back({c, POLLIN, 0});
                pending.emplace_back();
            }
        }
        for (std::size_t k = 1; k < fds.size(); ++k) {
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            const ssize_t n = recv(fds[k].fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    _exit(0); // the client is done
                continue;
            }
            auto& in = pending[k];
            in.insert(in.end(), buf, buf + n);
            std::size_t off = 0;
            while (in.size() - off >= 4) {
                const std::size_t len = (std::size_t{in[off + 2]} << 8) | in[off + 3];
                if (len < 4 || in.size() - off < len)
                    break;
                if (send(fds[k].fd, in.data() + off, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len))
                    _exit(1);
                off += len;
            }
            in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(off));
        }
    }
}

int Connect(int port)
{
    for (int i = 0; i < 1000; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        close(fd);
        usleep(20000);
    }
    return -1;
}

bool ReadAll(int fd, std::uint8_t* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t r = recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// One ping; whole frames are read until the answer, signals skipped.
bool RoundTrip(int fd)
{
    if (send(fd, ping, sizeof ping, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof ping))
        return false;
    std::uint8_t frame[65536];
    for (;;) {
        if (!ReadAll(fd, frame, 4) || frame[0] != 0x03)
            return false;
        const std::size_t len = (std::size_t{frame[2]} << 8) | frame[3];
        if (len < 4 || !ReadAll(fd, frame + 4, len - 4))
            return false;
        if (len >= 7 && frame[4] == 0x80 && frame[5] == 0x01 && frame[6] == 0x01)
            return true;
    }
}

struct Server {
    explicit Server(std::string n) : name(std::move(n)) {}
    std::string name;
    std::string root;
    pid_t pid = -1;
    int fd = -1;
    std::vector<double> rates;
};

void Start(Server& s, const std::string& program, const std::string& setup)
{
    char pattern[] = "/tmp/gw-ping-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    s.root = pattern;
    for (const char* d :
         {"/var", "/var/run", "/var/log", "/usr", "/usr/local", "/usr/local/etc", "/dev", "/dev/misc"})
        mkdir((s.root + d).c_str(), 0755);
    const int port = FreePort();
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "GW_", 3) != 0)
            env.emplace_back(*e);
    env.push_back("GW_ROOT=" + s.root);
    if (!setup.empty())
        env.push_back("GW_SIM_SETUP=" + setup);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string portText = std::to_string(port);
    std::string portFlag = "--port";
    std::string prog = program;
    char* argv[] = {prog.data(), portFlag.data(), portText.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = s.root + "/server.log";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&s.pid, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    s.fd = Connect(port);
    if (s.fd < 0 || !RoundTrip(s.fd)) {
        std::fprintf(stderr, "%s: no answer to a ping (log in %s)\n", s.name.c_str(), log.c_str());
        std::exit(1);
    }
}

void Stop(Server& s)
{
    if (s.fd >= 0)
        close(s.fd);
    if (s.pid > 0) {
        kill(s.pid, SIGTERM);
        int status = 0;
        waitpid(s.pid, &status, 0);
        std::system(("rm -rf '" + s.root + "'").c_str());
    }
}

double Rate(int fd, int pings)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < pings; ++i)
        if (!RoundTrip(fd)) {
            std::fprintf(stderr, "round trip failed\n");
            std::exit(1);
        }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return pings / s;
}

// `field` of /proc/PID/status ("VmRSS:", "RssAnon:"), in kB.
long ResidentKb(pid_t pid, const std::string& field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + field.size());
    return -1;
}

int LastCpu()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return -1;
    for (int c = CPU_SETSIZE - 1; c >= 0; --c)
        if (CPU_ISSET(c, &set))
            return c;
    return -1;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER [--rounds R] [--pings N] [--cpu N]\n", argv[0]);
        return 2;
    }
    const std::string program = argv[1];
    int rounds = 7, pings = 2000, cpu = LastCpu();
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--pings") == 0)
            pings = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--cpu") == 0)
            cpu = std::atoi(argv[i + 1]);
    }
    // Set before any child exists: the echo and the servers inherit it.
    if (cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) {
            std::perror("sched_setaffinity");
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    Server echo{"echo"};
    int echoPort = 0;
    const int lfd = Listen(echoPort);
    echo.pid = fork();
    if (echo.pid == 0)
        Echo(lfd);
    close(lfd);
    echo.fd = Connect(echoPort);

    Server withSwitch{"server, switch refresh on the simulated board"};
    Server noHal{"server, \"/dev/hal\" absent"};
    Start(withSwitch, program, "");
    Start(noHal, program, "absent /dev/hal");
    const long rssStart = ResidentKb(withSwitch.pid, "VmRSS:");
    const long anonStart = ResidentKb(withSwitch.pid, "RssAnon:");
    int sent = 1;

    for (int r = 0; r < rounds; ++r) {
        for (Server* s : {&withSwitch, &noHal, &echo})
            s->rates.push_back(Rate(s->fd, pings));
        sent += pings;
    }
    if (sent < 10001)
        Rate(withSwitch.fd, 10001 - sent);
    const long rss10k = ResidentKb(withSwitch.pid, "VmRSS:");
    const long anon10k = ResidentKb(withSwitch.pid, "RssAnon:");

    const double e = Median(echo.rates);
    std::printf("sequential pings per second, median of %d rounds of %d (alternated), ", rounds, pings);
    if (cpu >= 0)
        std::printf("all on CPU %d:\n", cpu);
    else
        std::printf("CPUs left to the scheduler:\n");
    std::printf("  bare poll-loop TPKT echo: %.0f/s\n", e);
    for (Server* s : {&withSwitch, &noHal}) {
        const double m = Median(s->rates);
        std::printf("  %s: %.0f/s, ratio to the echo %.2f\n", s->name.c_str(), m, m / e);
    }
    std::printf("server resident memory (switch present): %ld kB after start, %ld kB after 10000 pings\n",
                rssStart, rss10k);
    std::printf(
        "  of which its own data (not the program's pages): %ld kB after start, %ld kB after 10000 pings\n",
        anonStart, anon10k);

    Stop(withSwitch);
    Stop(noHal);
    if (echo.fd >= 0)
        close(echo.fd);
    int status = 0;
    waitpid(echo.pid, &status, 0);
    return 0;
}
