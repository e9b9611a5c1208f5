// ASync::Copy and ASync::Connect on the event loop.

#include "core/async.hpp"
#include "core/clock.hpp"
#include "core/multiplexer.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using CopyStatus = ASync::Copy::Status;
using ConnStatus = ASync::Connect::Status;

struct Pipe {
    Pipe(bool nonblock_rd = true, bool nonblock_wr = true)
    {
        int p[2];
        EXPECT_EQ(0, ::pipe2(p, O_CLOEXEC));
        rd.reset(p[0]);
        wr.reset(p[1]);
        if (nonblock_rd)
            NonBlockMode(p[0]);
        if (nonblock_wr)
            NonBlockMode(p[1]);
    }
    OwnedFd rd, wr;
};

struct CopyRecorder {
    std::vector<CopyStatus::Type> seen;
    void OnDone(CopyStatus::Type s) { seen.push_back(s); }
};

std::string TempFile(const std::string& content)
{
    char name[] = "/tmp/gw-async-XXXXXX";
    int fd = ::mkostemp(name, O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(static_cast<ssize_t>(content.size()), ::write(fd, content.data(), content.size()));
    ::close(fd);
    return name;
}

// ---------------------------------------------------------------- Copy

TEST(AsyncCopy, CopiesAFileThroughAPipeWithPartialWrites)
{
    std::string data(300000, '\0');
    unsigned seed = 12345;
    for (char& c : data)
        c = static_cast<char>(rand_r(&seed));
    std::string path = TempFile(data);
    OwnedFd src(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ::unlink(path.c_str());
    Pipe dst;

    ASync::Copy copy;
    CopyRecorder rec;
    copy.Bind(&CopyRecorder::OnDone, &rec);
    // Blocks larger than the pipe: writes are cut short and resumed.
    copy.set_bufsize(100000);
    copy.Start(src.fd(), dst.wr.fd());
    dst.wr.reset(); // the copy keeps its own duplicate

    std::string out;
    char buf[7000]; // drain slower than the copy writes
    for (int pass = 0; pass < 10000 && rec.seen.empty(); ++pass) {
        Mux::test::run_once(0);
        ssize_t n = ::read(dst.rd.get(), buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
    }
    ssize_t n;
    while ((n = ::read(dst.rd.get(), buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));

    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(CopyStatus::Done, rec.seen[0]);
    EXPECT_EQ(CopyStatus::Done, copy.status());
    EXPECT_EQ(data.size(), copy.copied());
    EXPECT_TRUE(out == data);
    EXPECT_EQ(0, n); // the copy closed its end of the pipe
}

TEST(AsyncCopy, EmptySourceEndsAfterTheFlushEventOrAtOnce)
{
    Pipe src, dst;
    src.wr.reset(); // end of input already
    {
        ASync::Copy copy;
        CopyRecorder rec;
        copy.Bind(&CopyRecorder::OnDone, &rec);
        copy.Start(src.rd.fd(), dst.wr.fd());
        EXPECT_EQ(CopyStatus::Flushing, copy.status());
        EXPECT_TRUE(rec.seen.empty());
        // The pipe reports POLLWRNORM as soon as it is polled.
        for (int i = 0; i < 3 && rec.seen.empty(); ++i)
            Mux::test::run_once(0);
        ASSERT_EQ(1u, rec.seen.size());
        EXPECT_EQ(CopyStatus::Done, rec.seen[0]);
        EXPECT_EQ(0u, copy.copied());
    }
    {
        ASync::Copy copy;
        CopyRecorder rec;
        copy.Bind(&CopyRecorder::OnDone, &rec);
        ASync::Copy::EventsParams ev;
        ev.flush = 0;
        copy.set_events(ev);
        copy.Start(src.rd.fd(), dst.wr.fd());
        ASSERT_EQ(1u, rec.seen.size());
        EXPECT_EQ(CopyStatus::Done, rec.seen[0]);
    }
}

TEST(AsyncCopy, ReadErrorBeforeAnyByteFails)
{
    OwnedFd dir(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC)); // read: EISDIR
    Pipe dst;
    ASync::Copy copy;
    CopyRecorder rec;
    copy.Bind(&CopyRecorder::OnDone, &rec);
    copy.Start(dir.fd(), dst.wr.fd());
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(CopyStatus::Failed, rec.seen[0]);
}

TEST(AsyncCopy, DestinationHangUpFailsOnce)
{
    Pipe src, dst;
    ASync::Copy copy;
    CopyRecorder rec;
    copy.Bind(&CopyRecorder::OnDone, &rec);
    copy.Start(src.rd.fd(), dst.wr.fd());
    EXPECT_EQ(CopyStatus::Running, copy.status()); // waiting for input
    dst.rd.reset();                                // the reader goes away: POLLERR on the write end
    for (int i = 0; i < 5 && rec.seen.empty(); ++i)
        Mux::test::run_once(0);
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(CopyStatus::Failed, rec.seen[0]);
    EXPECT_EQ(0, copy.error());
}

TEST(AsyncCopy, StopWritesWhatWasReadThenEndsDone)
{
    Pipe src, dst;
    ASync::Copy copy;
    CopyRecorder rec;
    copy.Bind(&CopyRecorder::OnDone, &rec);
    copy.Start(src.rd.fd(), dst.wr.fd());
    ASSERT_EQ(5, ::write(src.wr.get(), "hello", 5));
    for (int i = 0; i < 3; ++i)
        Mux::test::run_once(0);
    EXPECT_EQ(5u, copy.copied());
    copy.Stop();
    for (int i = 0; i < 3 && rec.seen.empty(); ++i)
        Mux::test::run_once(0);
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(CopyStatus::Done, rec.seen[0]);
    char buf[8];
    EXPECT_EQ(5, ::read(dst.rd.get(), buf, sizeof buf));
    copy.Stop(); // ended: nothing happens
    EXPECT_EQ(1u, rec.seen.size());
}

TEST(AsyncCopy, ChangingTheBufferWhileRunningAborts)
{
    Pipe src, dst;
    ASync::Copy copy;
    CopyRecorder rec;
    copy.Bind(&CopyRecorder::OnDone, &rec);
    copy.Start(src.rd.fd(), dst.wr.fd());
    copy.set_bufsize(64);
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(CopyStatus::Aborted, rec.seen[0]);
}

// The handler owns the copy and drops it on completion.
struct SelfDestroyingOwner {
    ASync::Copy* copy = new ASync::Copy;
    int calls = 0;
    void OnDone(CopyStatus::Type)
    {
        ++calls;
        delete copy;
        copy = nullptr;
    }
};

TEST(AsyncCopy, HandlerMayDestroyTheCopy)
{
    Pipe src, dst;
    SelfDestroyingOwner owner;
    owner.copy->Bind(&SelfDestroyingOwner::OnDone, &owner);
    owner.copy->Start(src.rd.fd(), dst.wr.fd());
    ASSERT_EQ(3, ::write(src.wr.get(), "abc", 3));
    src.wr.reset();
    for (int i = 0; i < 10 && owner.copy != nullptr; ++i)
        Mux::test::run_once(0);
    EXPECT_EQ(1, owner.calls);
    EXPECT_EQ(nullptr, owner.copy);
}

// ------------------------------------------------------------- Connect

struct ConnRecorder {
    std::vector<ConnStatus::Type> seen;
    std::vector<int> fd_valid;
    OwnedFd kept;
    void OnDone(ConnStatus::Type s, Fd fd)
    {
        seen.push_back(s);
        fd_valid.push_back(fd ? 1 : 0);
        if (fd)
            kept.reset(fd.dup()); // the given descriptor dies with the call
    }
};

// A loopback TCP listener on an ephemeral port.
struct Listener {
    explicit Listener(int backlog = 8)
    {
        fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));
        socklen_t len = sizeof a;
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        if (backlog >= 0) {
            EXPECT_EQ(0, ::listen(fd.get(), backlog));
        }
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
    OwnedFd fd;
    int port = 0;
};

template <class F>
void RunUntil(F done)
{
    for (int i = 0; i < 1000 && !done(); ++i)
        Mux::test::run_once(100);
}

TEST(AsyncConnect, ReachesAListener)
{
    Listener l;
    ASync::Connect c;
    ConnRecorder rec;
    c.Bind(&ConnRecorder::OnDone, &rec);
    c.Start(l.address(), 5000);
    RunUntil([&] { return !rec.seen.empty(); });
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(ConnStatus::Connected, rec.seen[0]);
    EXPECT_EQ(1, rec.fd_valid[0]);
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    ASSERT_EQ(0, ::getpeername(rec.kept.get(), reinterpret_cast<sockaddr*>(&peer), &len));
    EXPECT_EQ(l.port, ntohs(peer.sin_port));
    c.Stop(); // already ended: nothing
    EXPECT_EQ(1u, rec.seen.size());
    EXPECT_EQ(ConnStatus::Connected, c.status());
}

TEST(AsyncConnect, RefusedPortFails)
{
    Listener bound_only(-1); // a port nobody listens on
    ASync::Connect c;
    ConnRecorder rec;
    c.Bind(&ConnRecorder::OnDone, &rec);
    c.Start(bound_only.address(), 5000);
    RunUntil([&] { return !rec.seen.empty(); });
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(ConnStatus::Failed, rec.seen[0]);
    EXPECT_EQ(0, rec.fd_valid[0]);
}

TEST(AsyncConnect, SilentPeerTimesOutOnTheTestClock)
{
    // Backlog 0 and one connection already queued: further SYNs are dropped,
    // so the next connect stays in progress.
    Listener l(0);
    OwnedFd first(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(l.port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(first.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));

    Mux::test::freeze();
    ASync::Connect c;
    ConnRecorder rec;
    c.Bind(&ConnRecorder::OnDone, &rec);
    c.Start(l.address(), 3000);
    Mux::test::run_once(0);
    Mux::test::advance(2999);
    EXPECT_TRUE(rec.seen.empty());
    EXPECT_EQ(ConnStatus::Connecting, c.status());
    Mux::test::advance(1);
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(ConnStatus::Failed, rec.seen[0]);
    Mux::test::thaw();
}

TEST(AsyncConnect, StopEndsAConnectInProgress)
{
    Listener l(0);
    OwnedFd first(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(l.port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(first.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));

    ASync::Connect c;
    ConnRecorder rec;
    c.Bind(&ConnRecorder::OnDone, &rec);
    c.Start(l.address(), 60000);
    ASSERT_EQ(ConnStatus::Connecting, c.status());
    c.Stop();
    c.Stop();
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(ConnStatus::Stopped, rec.seen[0]);
    EXPECT_EQ(0, rec.fd_valid[0]);
}

TEST(AsyncConnect, AddressThatDoesNotConvertFailsWithoutConnecting)
{
    // A listener on every local address: a connect to 0.0.0.0 would reach it.
    OwnedFd any(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(0, ::bind(any.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::listen(any.get(), 8));
    socklen_t len = sizeof a;
    ::getsockname(any.get(), reinterpret_cast<sockaddr*>(&a), &len);
    std::string port = std::to_string(ntohs(a.sin_port));

    for (std::string text : {"gateway:" + port, "300.1.2.3:" + port, ":" + port}) {
        ASync::Connect c;
        ConnRecorder rec;
        c.Bind(&ConnRecorder::OnDone, &rec);
        c.Start(text, 1000);
        ASSERT_EQ(1u, rec.seen.size()) << text;
        EXPECT_EQ(ConnStatus::Failed, rec.seen[0]) << text;
        EXPECT_EQ(0, rec.fd_valid[0]);
    }
    EXPECT_LT(::accept(any.get(), nullptr, nullptr), 0);
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
}

} // namespace
