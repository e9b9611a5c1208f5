// The control language and the control socket that serves it.

#include "hardware/driver_port.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/control.hpp"
#include "sim/hal.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Sim::Hal;

class SimControl : public SimTest::BoardTest {};

TEST_F(SimControl, LanguageInjectsInspectsAndFails)
{
    EXPECT_EQ(board().Command("fail /dev/hal 0x80044d03 1 EBUSY"), "ok\n");
    EXPECT_EQ(board().Command("fail /dev/hal open 1"), "ok\n");
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(errno, EIO); // the default error
    fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::uint32_t out = 8192;
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kDisable, &out), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(board().Command("count /dev/hal 0x80044d03"), "ok 1\n");
    EXPECT_EQ(board().Command("count /dev/hal open"), "ok 2\n");
    EXPECT_EQ(board().Command("opens /dev/hal"), "ok 1\n");
    EXPECT_EQ(board().Command("log"), "/dev/hal open = -1 EIO\n/dev/hal open = " + std::to_string(fd) +
                                          "\n/dev/hal 0x80044d03 8192 = -1 EBUSY\nok 3\n");
    EXPECT_EQ(board().Command("log clear"), "ok\n");
    EXPECT_EQ(board().Command("log"), "ok 0\n");

    EXPECT_EQ(board().Command("inject /dev/hal 01ff7e"), "ok 1\n");
    unsigned char buf[8];
    ASSERT_EQ(::read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(buf[1], 0xFF);

    EXPECT_EQ(board().Command("absent /dev/hal"), "ok\n");
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kDisable, &out), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(board().Command("present /dev/hal"), "ok\n");
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kDisable, &out), 0);
    EXPECT_EQ(board().Command("log quiet on"), "ok\n");
    EXPECT_EQ(board().Command("log limit 1"), "ok\n");
    EXPECT_EQ(Driver::Ioctl(fd, Hal::kDisable, &out), 0);
    EXPECT_EQ(board().Command("log"), "/dev/hal 0x80044d03 8192 = 0\nok 1\n");

    EXPECT_EQ(board().Command("reset"), "ok\n");
    EXPECT_EQ(board().Command("opens /dev/hal"), "ok 0\n");
    Driver::Close(fd);
}

TEST_F(SimControl, MalformedRequestsAreRefused)
{
    for (const char* bad :
         {"", "   ", "frobnicate", "count /dev/hal", "count /dev/hal any", "count /dev/hal 0x1zz",
          "fail /dev/hal 0x80044d03", "fail /dev/hal 1 x", "fail /dev/hal 1 1 ENOSUCH", "fail /dev/hal 1 -1",
          "inject /dev/hal 0", "inject /dev/hal zz", "log quiet maybe", "/dev/nosuch switch"})
        EXPECT_EQ(board().Command(bad).rfind("error", 0), 0u) << '"' << bad << '"';
}

TEST_F(SimControl, AMisspeltDevicePathIsRefused)
{
    // Each of these answered "ok" once, and the failure never fired.
    for (const char* request : {"count /dev/hall open", "fail /dev/hall open 1", "absent /dev/hall",
                                "present /dev/hall", "opens /dev/hall", "inject /dev/hall 00"})
        EXPECT_EQ(board().Command(request), "error unknown device /dev/hall\n") << request;
    EXPECT_FALSE(board().Fail("/dev/hall", Sim::kOpen, 1, EIO));
    EXPECT_FALSE(board().SetPresent("/dev/hall", false));
    int fd = Driver::Open("/dev/hal", O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0) << "nothing was set up for the real path";
    Driver::Close(fd);
}

TEST_F(SimControl, HelpListsTheBoardsRequestsAndEveryDevicesOwn)
{
    std::istringstream answer(board().Command("help"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(answer, line);)
        lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "ok " + std::to_string(lines.size() - 1));
    auto listed = [&](const std::string& start) {
        for (const std::string& l : lines)
            if (l.rfind(start, 0) == 0)
                return true;
        return false;
    };
    for (const char* verb :
         {"help", "reset", "log ", "count ", "fail ", "absent ", "present ", "opens ", "inject "})
        EXPECT_TRUE(listed(verb)) << verb;
    // Every word a device knows, after its path.
    for (const char* request :
         {"/dev/hal switch",        "/dev/hal read",         "/dev/hal clock",       "/dev/hal spi status",
          "/dev/hal spi reg",       "/dev/hal spi absent",   "/dev/hal spi writes",  "/dev/hal spi clear",
          "/dev/mcc/ctl slots",     "/dev/mcc/ctl pump",     "/dev/mcc/ctl receive", "/dev/mcc/ctl sent",
          "/dev/mcc/ctl eof",       "/dev/mcc/ctl error",    "/dev/dtmf slot",       "/dev/dtmf dials",
          "/dev/dtmf event",        "/dev/dsp slot",         "/dev/dsp vad-version", "/dev/dsp event",
          "/dev/maintenance trunk", "/dev/maintenance tclk", "/dev/e1-cas rx",       "/dev/e1-cas state"})
        EXPECT_TRUE(listed(request)) << request;
    for (const char* request : {"files show", "files temperature", "files version", "files framer"})
        EXPECT_TRUE(listed(request)) << request;
}

TEST_F(SimControl, TheWatchdogTakesWritesForEverAndCanBeMadeAbsent)
{
    int fd = Driver::Open("/dev/misc/gw-wd", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // Far more than a socket that nobody reads would hold (EAGAIN then).
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(::write(fd, "PING", 4), 4) << i;
    Driver::Close(fd);
    EXPECT_EQ(board().Command("count /dev/misc/gw-wd open"), "ok 1\n");
    EXPECT_EQ(board().Command("absent /dev/misc/gw-wd"), "ok\n");
    EXPECT_EQ(Driver::Open("/dev/misc/gw-wd", O_WRONLY | O_CLOEXEC), -1);
    EXPECT_EQ(errno, ENOENT);
}

class Client {
public:
    explicit Client(const std::string& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool ok() const { return ok_; }
    void Send(const std::string& text)
    {
        ASSERT_EQ(::write(fd_, text.data(), text.size()), (ssize_t)text.size());
    }
    // One answer: lines up to the one that starts with "ok" or "error".
    std::string Answer()
    {
        std::string answer;
        for (;;) {
            std::size_t eol;
            while ((eol = pending_.find('\n')) != std::string::npos) {
                std::string line = pending_.substr(0, eol + 1);
                pending_.erase(0, eol + 1);
                answer += line;
                if (line.rfind("ok", 0) == 0 || line.rfind("error", 0) == 0)
                    return answer;
            }
            char buf[4096];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                return answer + "<closed>";
            pending_.append(buf, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::string pending_;
};

TEST_F(SimControl, SocketServesLinesFromSeveralClients)
{
    char dir[] = "/tmp/gw-sim-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/board";
    {
        Sim::ControlSocket control;
        ASSERT_TRUE(control.Start(path));
        Client a(path), b(path);
        ASSERT_TRUE(a.ok());
        ASSERT_TRUE(b.ok());
        // Two requests in one write, the second split across writes.
        a.Send("opens /dev/hal\r\nco");
        EXPECT_EQ(a.Answer(), "ok 0\n");
        b.Send("frobnicate\n");
        EXPECT_EQ(b.Answer(), "error unknown request\n");
        a.Send("unt /dev/hal open\n");
        EXPECT_EQ(a.Answer(), "ok 0\n");
        // A request that never ends is cut off.
        b.Send(std::string(5000, 'x'));
        EXPECT_EQ(b.Answer(), "error request too long\n");
        EXPECT_EQ(b.Answer(), "<closed>");
        a.Send("/dev/hal read 1\n");
        EXPECT_EQ(a.Answer(), "ok 0xFF\n");
        control.Stop();
        struct stat st;
        EXPECT_NE(::stat(path.c_str(), &st), 0);
    }
    ::rmdir(dir);
}

TEST_F(SimControl, StartFailsOnAnUnusablePath)
{
    Sim::ControlSocket control;
    EXPECT_FALSE(control.Start(std::string(200, 'x')));
    EXPECT_FALSE(control.Start("/nonexistent-dir/board"));
    EXPECT_FALSE(control.running());
}

} // namespace
