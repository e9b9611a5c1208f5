#pragma once
// build/server as a child process of an end-to-end test. Each server gets a
// fresh GW_ROOT (removed afterwards), a free loopback port, the simulated
// board's control socket at <root>/board.sock, and its standard output and
// error in <root>/stdout and <root>/stderr.
//
//     E2E::ServerProcess server({.setup = "/dev/hal spi absent"});
//     E2E::LgcpHost host(server.port());          // support/lgcp_host.hpp
//     ASSERT_TRUE(server.Logged("spi: hal without spi\n"));
//     EXPECT_EQ(server.Ask("/dev/hal clock"), "ok 4\n");
//
// The process is started directly (never through a wrapper), in a process
// group of its own; Stop() and the destructor end the whole group and reap
// the server, and the leak checks prove after every test that no process the
// test started is left.
//
// Environment of the test program:
//   GW_TEST_BINARY_DIR  where `server` is (set by CTest);
//   GW_SERVER           another server binary (the board build's);
//   GW_SERVER_PREFIX    a command put before it, split at spaces
//                       ("qemu-ppc -L /usr/powerpc-linux-gnu"). Waits are then
//                       longer, and tests that need fake time skip.

#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <vector>

namespace E2E {

struct Options {
    // Command-line arguments after "--port <n>".
    std::vector<std::string> args{};
    // Extra environment, "NAME=value" each.
    std::vector<std::string> env{};
    // GW_SIM_SETUP: requests of the board's control language run before the
    // server starts, separated by ';'.
    std::string setup{};
    // Above 1: libfaketime preloaded, the server's clocks this many times
    // faster. Call E2E_NEEDS_FAKE_TIME() in the test first.
    int speed = 1;
    // False: no "--port", so the server takes its default port.
    bool port = true;
    // Another server's root to run in (GW_ROOT and the board socket below
    // it); standard output and error still go to this one's own root.
    std::string root{};
    // Standard descriptors (1, 2) the server starts with closed, as some
    // launchers leave them.
    std::vector<int> closed{};
};

// Asks ServerProcess for a fresh root only: Start() runs the server in it
// later (a test can put configuration files there first).
struct Later {};

class ServerProcess {
public:
    // A fresh root and the server started in it.
    explicit ServerProcess(Options const& options = {});
    explicit ServerProcess(Later);
    ~ServerProcess();
    ServerProcess(ServerProcess const&) = delete;
    ServerProcess& operator=(ServerProcess const&) = delete;

    bool Start(Options const& options = {});

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string const& root() const { return root_; }
    std::string Path(std::string const& relative) const { return root_ + "/" + relative; }
    std::string const& socket_path() const { return socket_; }

    // Files below the root.
    void Write(std::string const& relative, std::string const& text) const;
    std::string Read(std::string const& relative) const;
    bool Exists(std::string const& relative) const;

    std::string Out() const { return Read("stdout"); }
    std::string Err() const { return Read("stderr"); }
    // Bounded waits until the stream holds `text`.
    bool Logged(std::string const& text, int seconds = 20) const;
    bool Printed(std::string const& text, int seconds = 20) const;

    // One request of the board's control language and its whole answer
    // (the lines up to "ok..." or "error..."); retried while the socket is
    // not there yet.
    std::string Ask(std::string const& request) const;
    // Bounded wait until the board answers `request` with `expected`.
    bool Becomes(std::string const& request, std::string const& expected) const;

    // To the server's process group.
    void Signal(int sig) const;
    // The wait status once the server has ended by itself; -1 when it has
    // not within the bound.
    int Wait(int seconds = 20);
    // SIGTERM, a bounded wait, then SIGKILL; the wait status (-1 when it had
    // to be killed). Every process left in its group is killed too.
    int Stop();

private:
    std::string root_, socket_;
    int port_ = 0;
    pid_t pid_ = -1;
    int status_ = -1;
    bool ended_ = false;
};

// A loopback port that nothing listens on right now (TCP; SOCK_DGRAM: UDP).
int FreePort(int type = SOCK_STREAM);
// The lines of `text`, without their '\n'.
std::vector<std::string> Lines(std::string const& text);

// Polls `done` every 10 ms for at most `seconds` (stretched under an
// emulator): for conditions that another process brings about.
template <class F>
bool Eventually(F done, int seconds = 20);
bool EventuallyImpl(bool (*probe)(void*), void* context, int seconds);
template <class F>
bool Eventually(F done, int seconds)
{
    return EventuallyImpl([](void* c) { return (*static_cast<F*>(c))(); }, &done, seconds);
}

// True when the server runs behind GW_SERVER_PREFIX (an emulator).
bool Emulated();
// Milliseconds of patience for `ms` of a native run: longer under emulation.
int Patience(int ms);
// Why fake time cannot be had here; empty when it can.
std::string FakeTimeMissing();
// The libfaketime preload library (GW_FAKETIME_LIB, else Debian's); empty
// when it is missing.
std::string FakeTimeLibrary();

} // namespace E2E

// Skips the test, saying why, where the server cannot run on a fake clock.
#define E2E_NEEDS_FAKE_TIME()                                                                                \
    do {                                                                                                     \
        if (std::string why = ::E2E::FakeTimeMissing(); !why.empty())                                        \
            GTEST_SKIP() << why;                                                                             \
    } while (0)
