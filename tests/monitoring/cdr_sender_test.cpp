// The CDR sender against UDP receivers on loopback: one datagram per
// address, in list order, whatever white space separates the addresses; a
// word that is no address is skipped with a log line, never sent to
// 0.0.0.0 (the local host).

#include "monitoring/cdr_sender.hpp"
#include "sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <iostream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

bool Before(timeval const& a, timeval const& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec <= b.tv_usec);
}

// A datagram socket on 127.0.0.1 that stamps what it receives, so that the
// order of arrival at two receivers can be compared.
class Receiver {
public:
    Receiver()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        AwaitStampsOnArrival(a);
    }
    ~Receiver() { ::close(fd_); }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    struct Datagram {
        bool got = false;
        std::string data;
        timeval stamp{};
    };
    // The next datagram; waits up to 2 s when `wait` (the sends are done
    // by then, loopback delivers at once).
    Datagram receive(bool wait = true)
    {
        Datagram d;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, wait ? 2000 : 0) <= 0)
            return d;
        char buf[2048];
        alignas(cmsghdr) char control[256];
        iovec io{buf, sizeof buf};
        msghdr m{};
        m.msg_iov = &io;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd_, &m, 0);
        if (n < 0)
            return d;
        d.got = true;
        d.data.assign(buf, static_cast<std::size_t>(n));
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMP)
                std::memcpy(&d.stamp, CMSG_DATA(c), sizeof d.stamp);
        return d;
    }

private:
    // The kernel turns stamping on arrival on from a work queue when the
    // first socket asks for it; until then a datagram is stamped when it is
    // read, in the order of the reads, which would prove nothing (and fail
    // on a loaded machine). Wait until a datagram to ourselves carries a
    // stamp from before our own clock reading after the send.
    void AwaitStampsOnArrival(sockaddr_in const& self)
    {
        for (int i = 0; i < 2000; ++i) {
            ::sendto(fd_, "w", 1, 0, reinterpret_cast<sockaddr const*>(&self), sizeof self);
            timeval after{};
            ::gettimeofday(&after, nullptr);
            const Datagram d = receive();
            if (d.got && d.stamp.tv_sec != 0 && Before(d.stamp, after))
                return;
            ::usleep(1000);
        }
    }

    int fd_ = -1;
    int port_ = 0;
};

} // namespace

TEST(CdrSender, SendsToEveryAddressInListOrder)
{
    CDR_Sender::Sender sender;
    Receiver a, b;
    std::string record = "call 17 answered 12s";
    for (bool a_first : {true, false}) {
        const std::string list = a_first ? a.address() + " " + b.address() : b.address() + " " + a.address();
        ASSERT_TRUE(sender.SendTo(record, list));
        const Receiver::Datagram da = a.receive(), db = b.receive();
        ASSERT_TRUE(da.got);
        ASSERT_TRUE(db.got);
        EXPECT_EQ(da.data, record);
        EXPECT_EQ(db.data, record);
        ASSERT_TRUE(da.stamp.tv_sec != 0 && db.stamp.tv_sec != 0) << "no receive time stamps";
        EXPECT_TRUE(a_first ? Before(da.stamp, db.stamp) : Before(db.stamp, da.stamp));
        EXPECT_FALSE(a.receive(false).got);
        EXPECT_FALSE(b.receive(false).got);
    }
    EXPECT_EQ(record, "call 17 answered 12s");
}

TEST(CdrSender, AnyWhiteSpaceSeparatesAddresses)
{
    CDR_Sender::Sender sender;
    Receiver a, b, c;
    std::string record = "r";
    ASSERT_TRUE(sender.SendTo(record, " \t\n" + a.address() + "\t \r\n" + b.address() + "\n\n\t" +
                                          c.address() + " \t\r\n"));
    for (Receiver* r : {&a, &b, &c}) {
        EXPECT_EQ(r->receive().data, "r");
        EXPECT_FALSE(r->receive(false).got);
    }

    // A word without a port goes to port 0, which no one receives; the list
    // goes on and the result stays true.
    ASSERT_TRUE(sender.SendTo(record, "127.0.0.1 " + a.address()));
    EXPECT_EQ(a.receive().data, "r");

    // Nothing to send to: true, nothing sent.
    EXPECT_TRUE(sender.SendTo(record, ""));
    EXPECT_TRUE(sender.SendTo(record, " \t\r\n "));
    EXPECT_FALSE(a.receive(false).got);
}

TEST(CdrSender, EmptyRecordsAreEmptyDatagrams)
{
    CDR_Sender::Sender sender;
    Receiver a, b;
    std::string empty;
    ASSERT_TRUE(sender.SendTo(empty, a.address() + " " + b.address()));
    for (Receiver* r : {&a, &b}) {
        const Receiver::Datagram d = r->receive();
        EXPECT_TRUE(d.got);
        EXPECT_EQ(d.data, "");
    }
}

TEST(CdrSender, WordsThatAreNoAddressAreSkipped)
{
    CDR_Sender::Sender sender;
    Receiver a;
    std::string record = "cdr";
    std::string log;
    {
        SimTest::Capture err(std::cerr);
        EXPECT_TRUE(sender.SendTo(record, "host:9 " + a.address() + " 300.1.2.3:9"));
        log = err.str();
    }
    EXPECT_NE(log.find("CDR sender: bad address \"host:9\" skipped"), std::string::npos) << log;
    EXPECT_NE(log.find("\"300.1.2.3:9\""), std::string::npos) << log;
    EXPECT_EQ(a.receive().data, "cdr");
    EXPECT_FALSE(a.receive(false).got);
}

TEST(CdrSender, WithoutASocketNothingIsSent)
{
    // Every descriptor number from the lowest free one up is out of reach,
    // so the sender's socket cannot be opened.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int probe = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    ASSERT_GE(probe, 0);
    ::close(probe);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(probe);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    auto sender = std::make_unique<CDR_Sender::Sender>();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);

    Receiver a;
    std::string record = "lost";
    EXPECT_FALSE(sender->SendTo(record, a.address()));
    EXPECT_FALSE(a.receive(false).got);
}
