// Ping round trips over loopback with one host: the control server (stream
// and TPKT layers, LGCP decode, dispatch to the heartbeat, encode, write)
// against a bare poll() loop in this file that answers each TPKT frame with
// a fixed frame. Both run in the same process and the same run; the ratio
// of the two is the cost of the control path.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control/acceptor_net.hpp"
#include "control/ctrl_server.hpp"
#include "control/heartbeat.hpp"
#include "core/multiplexer.hpp"
#include "tests/support/loopback.hpp"

namespace {

// ping with seq 1 and its success, framed.
std::uint8_t const ping[] = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x18};
std::uint8_t const answer[] = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x40};

int listen_any(int& port)
{
    return TestNet::ListenLoopback(1, port);
}

int connect_to(int port)
{
    for (int i = 0; i < 500; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        close(fd);
        usleep(10000);
    }
    return -1;
}

// One ping, one answer of 8 octets.
bool round_trip(int fd)
{
    if (send(fd, ping, sizeof ping, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof ping))
        return false;
    std::uint8_t buf[8];
    std::size_t got = 0;
    while (got < sizeof buf) {
        ssize_t n = recv(fd, buf + got, sizeof buf - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void run_client(benchmark::State& state, int port)
{
    int fd = connect_to(port);
    if (fd < 0) {
        state.SkipWithError("no connection");
        for (auto _ : state) {}
        return;
    }
    for (auto _ : state) {
        if (!round_trip(fd)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    close(fd);
}

// The reference: poll() on the listening socket and one connection; every
// complete TPKT frame read is answered with the fixed frame.
void BM_BarePollPing(benchmark::State& state)
{
    int port = 0;
    int lfd = listen_any(port);
    int stop[2];
    if (pipe2(stop, O_CLOEXEC) != 0) {
        state.SkipWithError("pipe");
        return;
    }
    std::thread server([lfd, rd = stop[0]] {
        int conn = -1;
        std::vector<std::uint8_t> in;
        for (;;) {
            pollfd p[3] = {{rd, POLLIN, 0}, {lfd, POLLIN, 0}, {conn, POLLIN, 0}};
            if (poll(p, conn >= 0 ? 3 : 2, -1) < 0)
                continue;
            if (p[0].revents)
                break;
            if (p[1].revents & POLLIN) {
                int c = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
                if (conn < 0) {
                    conn = c;
                    int on = 1;
                    setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                } else if (c >= 0) {
                    close(c);
                }
            }
            if (conn >= 0 && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) {
                std::uint8_t buf[65536];
                ssize_t n = recv(conn, buf, sizeof buf, MSG_DONTWAIT);
                if (n <= 0) {
                    close(conn);
                    conn = -1;
                    in.clear();
                    continue;
                }
                in.insert(in.end(), buf, buf + n);
                std::size_t off = 0;
                while (in.size() - off >= 4) {
                    std::size_t len = (std::size_t(in[off + 2]) << 8) | in[off + 3];
                    if (len < 4 || in.size() - off < len)
                        break;
                    off += len;
                    send(conn, answer, sizeof answer, MSG_NOSIGNAL);
                }
                in.erase(in.begin(), in.begin() + static_cast<long>(off));
            }
        }
        if (conn >= 0)
            close(conn);
    });
    run_client(state, port);
    if (write(stop[1], "x", 1) != 1)
        state.SkipWithError("stop");
    server.join();
    close(stop[0]);
    close(stop[1]);
    close(lfd);
}
BENCHMARK(BM_BarePollPing)->UseRealTime();

void BM_ControlServerPing(benchmark::State& state)
{
    static bool bound = false;
    if (!bound) {
        ctrlServer.Bind(HeartBeatCtl::instance());
        bound = true;
    }
    int port = 0;
    close(listen_any(port));
    ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port, false));
    std::thread loop([] { multiplexer.run(false, true); });
    run_client(state, port);
    // The loop wakes at the next connection check at the latest.
    multiplexer.terminate();
    loop.join();
    ctrlServer.Deactivate();
}
BENCHMARK(BM_ControlServerPing)->UseRealTime();

} // namespace
