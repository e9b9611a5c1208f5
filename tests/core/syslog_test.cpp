// The system-log client against a datagram (and a stream) socket bound
// where "/dev/log" lies below the test root.

#include "core/syslog.hpp"

#include "core/daemon.hpp"
#include "core_helper.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ostream>
#include <poll.h>
#include <cctype>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// A log daemon stand-in: a socket bound at <root>/dev/log.
class LogSocket {
public:
    LogSocket(const TempRoot& root, int type = SOCK_DGRAM) : path_(root.dir() + "/dev/log")
    {
        root.mkdirs("dev");
        Bind(type);
    }
    void Bind(int type)
    {
        ::unlink(path_.c_str());
        fd_.reset(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path_.c_str());
        EXPECT_EQ(0, ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));
        if (type == SOCK_STREAM) {
            EXPECT_EQ(0, ::listen(fd_.get(), 4));
        }
    }
    // One datagram (or what a stream holds), empty after `ms` of silence.
    std::string Receive(int from = -1, int ms = 2000)
    {
        pollfd p{from < 0 ? fd_.get() : from, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return {};
        char buf[65536];
        ssize_t n = ::recv(p.fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    int Accept() { return ::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC); }
    void Close() { fd_.reset(); }

private:
    std::string path_;
    OwnedFd fd_;
};

std::vector<std::string> Records(const std::string& datagram)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < datagram.size()) {
        std::size_t nul = datagram.find('\0', at);
        EXPECT_NE(std::string::npos, nul) << "record without its NUL";
        if (nul == std::string::npos)
            break;
        out.push_back(datagram.substr(at, nul - at));
        at = nul + 1;
    }
    return out;
}

// Whether `s` matches `shape`, where '9' stands for a digit, '#' for a space
// or a digit, 'A' for an upper-case and 'a' for a lower-case letter.
bool Shaped(const std::string& s, const std::string& shape)
{
    if (s.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        switch (shape[i]) {
        case '9':
            if (!std::isdigit(c))
                return false;
            break;
        case '#':
            if (c != ' ' && !std::isdigit(c))
                return false;
            break;
        case 'A':
            if (!std::isupper(c))
                return false;
            break;
        case 'a':
            if (!std::islower(c))
                return false;
            break;
        default:
            if (s[i] != shape[i])
                return false;
        }
    }
    return true;
}

// "<PRI>Mmm dd hh:mm:ss ident: text", RFC 3164 as syslog(3) writes it.
struct Record {
    int pri = -1;
    std::string ident;
    std::string text;
};

bool ParseRecord(const std::string& r, Record& out)
{
    std::size_t gt = r.find('>');
    if (r.empty() || r[0] != '<' || gt == std::string::npos || gt < 2 || gt > 4)
        return false;
    for (std::size_t i = 1; i < gt; ++i)
        if (!std::isdigit(static_cast<unsigned char>(r[i])))
            return false;
    out.pri = std::stoi(r.substr(1, gt - 1));
    if (!Shaped(r.substr(gt + 1, 16), "Aaa #9 99:99:99 "))
        return false;
    std::size_t colon = r.find(": ", gt + 17);
    if (colon == std::string::npos)
        return false;
    out.ident = r.substr(gt + 17, colon - gt - 17);
    out.text = r.substr(colon + 2);
    return !out.ident.empty() && out.ident.find(' ') == std::string::npos;
}

class SysLogTest : public ::testing::Test {
protected:
    void TearDown() override { syslogManager.closelog(); }
    TempRoot root;
};

TEST_F(SysLogTest, OneSyncOfThreeLinesIsOneDatagramOfThreeRecords)
{
    LogSocket log(root);
    syslogManager.openlog("unit-ident", SysLogManager::opt_ndelay, 0);
    ASSERT_TRUE(syslogManager.connected());
    ManagedSysLogStreamBuf buf(3, 3);
    std::ostream err(&buf);
    err << "first\nsecond\nthird" << std::flush;
    std::vector<std::string> recs = Records(log.Receive());
    ASSERT_EQ(3u, recs.size());
    const char* texts[] = {"first", "second", "third"};
    for (int i = 0; i < 3; ++i) {
        Record rec;
        ASSERT_TRUE(ParseRecord(recs[i], rec)) << recs[i];
        EXPECT_EQ(27, rec.pri);
        EXPECT_EQ("unit-ident", rec.ident);
        EXPECT_EQ(texts[i], rec.text);
    }
}

TEST_F(SysLogTest, LongLineIsCutAndUnfinishedLineWaits)
{
    LogSocket log(root);
    syslogManager.openlog("x", SysLogManager::opt_ndelay, 0);
    ManagedSysLogStreamBuf buf(3, 5);
    std::ostream out(&buf);
    out << "no line end yet" << std::flush;
    EXPECT_EQ("", log.Receive(-1, 0));
    out << ", now" << std::string(2000, 'a') << '\n' << std::flush;
    std::vector<std::string> recs = Records(log.Receive());
    ASSERT_EQ(1u, recs.size());
    EXPECT_EQ(1023u, recs[0].size());
    EXPECT_EQ(0u, recs[0].find("<29>"));
    EXPECT_NE(std::string::npos, recs[0].find(" x: no line end yet, nowaaa"));
}

TEST_F(SysLogTest, FullBufferWithoutLineEndIsSentWhole)
{
    LogSocket log(root);
    syslogManager.openlog("x", SysLogManager::opt_ndelay, 0);
    ManagedSysLogStreamBuf buf(3, 7);
    std::ostream out(&buf);
    out << std::string(SysLogManager::kBatchSize - 1, 'b'); // fills the area
    out << 'c' << std::flush;
    std::vector<std::string> recs = Records(log.Receive());
    ASSERT_EQ(1u, recs.size());
    EXPECT_EQ(1023u, recs[0].size()); // the record cut, as any long one
    out << '\n' << std::flush;
    recs = Records(log.Receive());
    ASSERT_EQ(1u, recs.size());
    EXPECT_NE(std::string::npos, recs[0].find(" x: c"));
}

TEST_F(SysLogTest, ReconnectsWhenTheLogDaemonRestarts)
{
    LogSocket log(root);
    syslogManager.openlog("restart", SysLogManager::opt_ndelay, 0);
    syslogManager.syslog(3 * 8 + 6, "before %d", 1);
    syslogManager.sendmsg();
    ASSERT_EQ(1u, Records(log.Receive()).size());

    log.Close();
    log.Bind(SOCK_DGRAM); // a new socket under the same name
    syslogManager.syslog(3 * 8 + 6, "after %d", 2);
    EXPECT_GE(syslogManager.sendmsg(), 0);
    std::vector<std::string> recs = Records(log.Receive());
    ASSERT_EQ(1u, recs.size());
    EXPECT_NE(std::string::npos, recs[0].find("restart: after 2"));
}

TEST_F(SysLogTest, StreamLogDaemonGetsEveryRecord)
{
    LogSocket log(root, SOCK_STREAM);
    syslogManager.openlog("strm", SysLogManager::opt_ndelay, 0);
    ASSERT_TRUE(syslogManager.connected());
    EXPECT_EQ(SOCK_STREAM, syslogManager.socket_type());
    OwnedFd peer(log.Accept());
    ASSERT_TRUE(peer);
    for (int i = 0; i < 3; ++i) {
        syslogManager.syslog(3 * 8 + 6, "record %d", i);
        ASSERT_GT(syslogManager.sendmsg(), 0) << "a connected stream socket refuses an address";
    }
    std::string all;
    while (Records(all).size() < 3) {
        std::string more = log.Receive(peer.get());
        if (more.empty())
            break;
        all += more;
    }
    std::vector<std::string> recs = Records(all);
    ASSERT_EQ(3u, recs.size());
    EXPECT_NE(std::string::npos, recs[2].find("strm: record 2"));
}

TEST_F(SysLogTest, NoLogDaemonDropsTheRecordQuietly)
{
    syslogManager.openlog("nobody", SysLogManager::opt_ndelay, 0);
    EXPECT_FALSE(syslogManager.connected());
    syslogManager.syslog(3 * 8 + 6, "lost");
    EXPECT_EQ(0, syslogManager.waiting());
    EXPECT_EQ(-1, syslogManager.descriptor());
}

TEST(LogFile, EachLineCarriesOnePrefixAndTheFileIsNamedAfterTheHour)
{
    TempRoot root;
    std::string name;
    {
        LogFileStreamBuf buf(root.dir());
        name = buf.file_name();
        std::ostream out(&buf);
        out << "one "
            << "piece "
            << "after "
            << "another, longer than the area" << std::flush;
        out << " end\nsecond line\n" << std::flush;
    }
    ASSERT_EQ(root.dir() + "/", name.substr(0, root.dir().size() + 1));
    EXPECT_TRUE(Shaped(name.substr(root.dir().size() + 1), "9999_99_99-99.log")) << name;
    std::string text = root.read(name.substr(root.dir().size() + 1));
    std::istringstream in(text);
    std::string l;
    std::vector<std::string> lines;
    while (std::getline(in, l)) {
        // "mm:ss:uuuuu: " (six digits from 100000 microseconds on)
        std::size_t sp = l.find(": ");
        ASSERT_NE(std::string::npos, sp) << l;
        std::string prefix = l.substr(0, sp);
        ASSERT_TRUE(Shaped(prefix, "99:99:99999") || Shaped(prefix, "99:99:999999")) << l;
        lines.push_back(l.substr(sp + 2));
    }
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("one piece after another, longer than the area end", lines[0]);
    EXPECT_EQ("second line", lines[1]);
}

} // namespace
