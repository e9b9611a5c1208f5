// The framed connection over Unix-domain sockets: the acceptor replaces a
// stale socket file and serves one connection at a time; the connector
// retries seven times quickly and then slowly, and connects unbound when
// its own path cannot be bound; paths that do not fit an address are
// refused, never cut.

#include "control/control_test_helper.hpp"
#include "control/unix_connection.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace ctltest;
using State = Control::Service::State;

namespace {

struct Sink : Control::Notify {
    int connects = 0, disconnects = 0;
    std::vector<std::string> messages;
    void OnConnect() override { ++connects; }
    void OnDisconnect() override { ++disconnects; }
    void OnMessage(char const* data, int length) override { messages.emplace_back(data, length); }
};

bool exists(std::string const& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

sockaddr_un address_of(std::string const& path)
{
    sockaddr_un a;
    EXPECT_TRUE(Control::MakeUnixAddress(path, a));
    return a;
}

// A client socket, bound to `name` unless empty, connected to `path`.
int unix_connect(std::string const& path, std::string const& name = std::string())
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!name.empty()) {
        sockaddr_un b = address_of(name);
        ::unlink(name.c_str());
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&b), sizeof b), 0) << std::strerror(errno);
    }
    sockaddr_un a = address_of(path);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A plain listening socket at `path`; accept never blocks.
int unix_listen(std::string const& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un a = address_of(path);
    ::unlink(path.c_str());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << std::strerror(errno);
    EXPECT_EQ(listen(fd, 4), 0);
    return fd;
}

std::string peer_of(int fd)
{
    sockaddr_un a{};
    socklen_t len = sizeof a;
    getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return len > sizeof(sa_family_t) ? std::string(a.sun_path) : std::string();
}

// A fresh directory for the sockets of one test, removed with them.
struct UnixTest : LoopTest {
    void SetUp() override
    {
        LoopTest::SetUp();
        char tmpl[] = "/tmp/gw-unix-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        for (char const* f : {"srv", "cli", "peer"})
            ::unlink((dir + "/" + std::string(f)).c_str());
        ::rmdir((dir + "/sub").c_str());
        ::rmdir(dir.c_str());
        LoopTest::TearDown();
    }
    std::string path(char const* name) const { return dir + "/" + name; }
    // A path of `length` characters inside the directory.
    std::string long_path(std::size_t length) const
    {
        std::string p = dir + "/";
        p.append(length - p.size(), 'x');
        return p;
    }
    std::string dir;
};

} // namespace

TEST_F(UnixTest, AcceptorReplacesAStaleSocketFileAndServesOneConnection)
{
    std::string const srv = path("srv");
    // A socket file left behind by a listener that is gone.
    ::close(unix_listen(srv));
    ASSERT_TRUE(exists(srv));

    Control::AcceptorUnix acc(srv);
    Sink sink;
    acc.Bind(&sink);
    {
        Capture err(Capture::Err);
        EXPECT_TRUE(acc.Activate());
        EXPECT_EQ(err.text(), "");
    }
    EXPECT_TRUE(acc.listening());
    EXPECT_EQ(acc.state(), State::Connecting);

    std::string const cli = path("cli");
    int c = unix_connect(srv, cli);
    ASSERT_GE(c, 0);
    {
        Capture out(Capture::Out);
        pass();
        EXPECT_EQ(out.text(), "new connection from " + cli + "\n");
    }
    EXPECT_EQ(sink.connects, 1);
    EXPECT_EQ(acc.state(), State::Connected);
    EXPECT_EQ(acc.peer_name(), cli);

    // Framed both ways.
    acc.Send("xy", 2);
    EXPECT_EQ(read_now(c), (std::vector<std::uint8_t>{0x03, 0x00, 0x00, 0x06, 'x', 'y'}));
    ASSERT_TRUE(write_all(c, {0x03, 0x00, 0x00, 0x07, 'A', 'B', 'C'}));
    pass();
    EXPECT_EQ(sink.messages, (std::vector<std::string>{"ABC"}));

    // A second client, unbound, is refused while the first is served.
    int c2 = unix_connect(srv);
    ASSERT_GE(c2, 0);
    {
        Capture err(Capture::Err);
        pass();
        EXPECT_EQ(err.text(), "refuse connection from \n");
    }
    bool eof = false;
    read_now(c2, &eof);
    EXPECT_TRUE(eof);
    ::close(c2);
    EXPECT_EQ(acc.state(), State::Connected);

    // The first leaves: closed line, then OnDisconnect from the deferred
    // call; the listener stays and serves the next client.
    ::close(c);
    {
        Capture err(Capture::Err);
        pass(2);
        EXPECT_EQ(err.text(), "control connection " + cli + " closed.\n");
    }
    EXPECT_EQ(sink.disconnects, 1);
    EXPECT_EQ(acc.state(), State::Connecting);
    EXPECT_TRUE(acc.listening());
    int c3 = unix_connect(srv);
    ASSERT_GE(c3, 0);
    {
        Capture out(Capture::Out);
        pass();
        EXPECT_EQ(out.text(), "new connection from \n");
    }
    EXPECT_EQ(sink.connects, 2);

    acc.Deactivate();
    EXPECT_EQ(acc.state(), State::Idle);
    EXPECT_FALSE(acc.listening());
    acc.Release();
    ::close(c3);
    pass();
    EXPECT_EQ(sink.disconnects, 1) << "a deactivated acceptor closes quietly";
}

TEST_F(UnixTest, AcceptorRetriesABindThatFails)
{
    std::string const srv = dir + "/sub/srv";
    Control::AcceptorUnix acc(srv);
    Capture err(Capture::Err);
    EXPECT_TRUE(acc.Activate());
    EXPECT_FALSE(acc.listening());
    EXPECT_TRUE(acc.bind_retry_pending());
    advance(5000);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    advance(4999);
    EXPECT_FALSE(acc.listening());
    advance(1);
    EXPECT_TRUE(acc.listening());
    EXPECT_EQ(acc.state(), State::Connecting);
    std::string const line = "can't bind to socket: \"No such file or directory\"  waiting...\n";
    EXPECT_EQ(err.text(), line + line);
    acc.Deactivate();
    EXPECT_FALSE(acc.bind_retry_pending());
    ::unlink(srv.c_str());
}

TEST_F(UnixTest, PathsThatDoNotFitAreRefusedNotCut)
{
    sockaddr_un a;
    EXPECT_TRUE(Control::MakeUnixAddress(long_path(Control::unix_path_max), a));
    EXPECT_EQ(a.sun_path[Control::unix_path_max], '\0');
    std::string const too_long = long_path(Control::unix_path_max + 1);
    EXPECT_FALSE(Control::MakeUnixAddress(too_long, a));

    // What the cut path would name must stay untouched.
    std::string const cut = too_long.substr(0, Control::unix_path_max);
    ::close(unix_listen(cut));
    ASSERT_TRUE(exists(cut));

    Control::AcceptorUnix acc(too_long);
    Control::ConnectorUnix con(too_long);
    {
        Capture err(Capture::Err);
        EXPECT_FALSE(acc.Activate());
        EXPECT_FALSE(con.Activate());
        std::string const line = "domain socket path too long: '" + too_long + "'\n";
        EXPECT_EQ(err.text(), line + line);
    }
    EXPECT_EQ(acc.state(), State::Idle);
    EXPECT_EQ(con.state(), State::Idle);
    EXPECT_FALSE(con.retry_pending());
    EXPECT_TRUE(exists(cut));
    ::unlink(cut.c_str());
}

TEST_F(UnixTest, ConnectorRetriesSevenTimesQuicklyThenEvery20s)
{
    std::string const srv = path("srv");
    Control::ConnectorUnix con(srv);
    Sink sink;
    con.Bind(&sink);
    Capture err(Capture::Err);
    EXPECT_TRUE(con.Activate());
    EXPECT_EQ(con.retries_left(), 6);
    for (int i = 0; i < 7; ++i)
        advance(1000);
    EXPECT_EQ(con.retries_left(), 0);
    advance(19999);
    std::string const line = "can't connect to " + srv + " : No such file or directory\n";
    std::string text = err.text();
    EXPECT_EQ(count_of(text, line), 8) << text;
    EXPECT_EQ(text.size(), 8 * line.size()) << text;
    EXPECT_EQ(con.state(), State::Connecting);
    EXPECT_EQ(sink.connects, 0);
    EXPECT_TRUE(con.retry_pending());
    con.Deactivate();
    EXPECT_FALSE(con.retry_pending());
    EXPECT_EQ(con.state(), State::Idle);
}

TEST_F(UnixTest, ConnectorAfterTheQuickRetriesWaits20sAndThenConnects)
{
    std::string const srv = path("srv");
    Control::ConnectorUnix con(srv);
    Sink sink;
    con.Bind(&sink);
    {
        Capture err(Capture::Err);
        con.Activate();
        advance(7000);
        EXPECT_EQ(count_of(err.text(), "can't connect to "), 8);
    }
    int l = unix_listen(srv);
    advance(19999);
    EXPECT_EQ(sink.connects, 0);
    {
        Capture err(Capture::Err);
        advance(1);
        EXPECT_EQ(err.text(), "connected to " + srv + "\n");
    }
    EXPECT_EQ(sink.connects, 1);
    EXPECT_EQ(con.state(), State::Connected);
    EXPECT_EQ(con.peer_name(), srv);
    con.Deactivate();
    ::close(l);
}

TEST_F(UnixTest, ConnectorConnectsServesAndReconnectsAfterALoss)
{
    std::string const srv = path("srv");
    int l = unix_listen(srv);
    Control::ConnectorUnix con(srv);
    Sink sink;
    con.Bind(&sink);
    {
        Capture err(Capture::Err);
        EXPECT_TRUE(con.Activate());
        EXPECT_EQ(err.text(), "connected to " + srv + "\n");
    }
    EXPECT_EQ(sink.connects, 1);
    EXPECT_EQ(con.state(), State::Connected);
    EXPECT_TRUE(con.connect_event_pending());
    pass();
    EXPECT_FALSE(con.connect_event_pending()) << "the writable socket ends the connect watch";
    EXPECT_FALSE(con.retry_pending());

    int s = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(s, 0);
    EXPECT_EQ(peer_of(s), "") << "no client path: unbound";
    con.Send("hi", 2);
    EXPECT_EQ(read_now(s), (std::vector<std::uint8_t>{0x03, 0x00, 0x00, 0x06, 'h', 'i'}));
    ASSERT_TRUE(write_all(s, {0x03, 0x00, 0x00, 0x05, 'z'}));
    pass();
    EXPECT_EQ(sink.messages, (std::vector<std::string>{"z"}));

    // The server drops it: closed line, OnDisconnect, a new try in 10 s.
    ::close(s);
    {
        Capture err(Capture::Err);
        pass(2);
        EXPECT_EQ(err.text(), "control connection " + srv + " closed.\n");
    }
    EXPECT_EQ(sink.disconnects, 1);
    EXPECT_EQ(con.state(), State::Connecting);
    advance(9999);
    EXPECT_EQ(sink.connects, 1);
    {
        Capture err(Capture::Err);
        advance(1);
    }
    EXPECT_EQ(sink.connects, 2);
    int s2 = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
    EXPECT_GE(s2, 0);
    pass();

    con.Deactivate();
    EXPECT_EQ(con.state(), State::Idle);
    EXPECT_FALSE(con.retry_pending());
    EXPECT_FALSE(con.connect_event_pending());
    bool eof = false;
    read_now(s2, &eof);
    EXPECT_TRUE(eof) << "deactivating closes the connection";
    pass();
    EXPECT_EQ(sink.disconnects, 1) << "quietly";
    ::close(s2);
    ::close(l);
}

TEST_F(UnixTest, ConnectorWithAnUnbindableClientPathStillConnects)
{
    std::string const srv = path("srv");
    int l = unix_listen(srv);
    struct Case {
        std::string client;
        char const* error;
    };
    Case const cases[] = {
        {dir + "/sub/cli", "No such file or directory"},
        {long_path(Control::unix_path_max + 1), "File name too long"},
    };
    for (Case const& k : cases) {
        Control::ConnectorUnix con(srv, k.client);
        Sink sink;
        con.Bind(&sink);
        Capture err(Capture::Err);
        EXPECT_TRUE(con.Activate());
        EXPECT_EQ(err.text(), "can't bind to domain socket '" + k.client + "': \"" + k.error +
                                  "\nconnected to " + srv + "\n");
        EXPECT_EQ(sink.connects, 1);
        EXPECT_EQ(con.state(), State::Connected);
        int s = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(s, 0);
        EXPECT_EQ(peer_of(s), "");
        con.Deactivate();
        pass();
        ::close(s);
    }

    // A client path that can be bound names the connection at the server;
    // a stale file there is replaced.
    std::string const cli = path("cli");
    ::close(unix_listen(cli));
    Control::ConnectorUnix con(srv, cli);
    {
        Capture err(Capture::Err);
        EXPECT_TRUE(con.Activate());
        EXPECT_EQ(err.text(), "connected to " + srv + "\n");
    }
    int s = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(s, 0);
    EXPECT_EQ(peer_of(s), cli);
    con.Deactivate();
    pass();
    ::close(s);
    ::close(l);
}
