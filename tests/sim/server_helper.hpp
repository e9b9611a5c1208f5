#pragma once

// build/server on the simulated board, for end-to-end tests: its files go
// below a fresh GW_ROOT, its board answers on a control socket there, its
// standard error goes to a file there.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace SimTest {

// A port that nothing listens on right now (SOCK_DGRAM: a UDP port).
inline int FreePort(int type = SOCK_STREAM)
{
    int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

class ServerProcess {
public:
    ServerProcess()
    {
        char dir[] = "/tmp/gw-e2e-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            return;
        root_ = dir;
        for (const char* sub :
             {"/var", "/var/run", "/var/log", "/usr", "/usr/local", "/usr/local/etc", "/dev", "/dev/misc"})
            ::mkdir((root_ + sub).c_str(), 0755);
        socket_ = root_ + "/board.sock";
        const char* bin = std::getenv("GW_TEST_BINARY_DIR");
        std::string server = std::string(bin != nullptr ? bin : ".") + "/server";
        port_ = FreePort();
        std::string port = std::to_string(port_);
        std::string err = root_ + "/stderr";
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (e >= 0)
                ::dup2(e, 2);
            ::setenv("GW_ROOT", root_.c_str(), 1);
            ::setenv("GW_SIM_SOCKET", socket_.c_str(), 1);
            ::execl(server.c_str(), server.c_str(), "--port", port.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~ServerProcess()
    {
        Stop();
        if (out_ >= 0)
            ::close(out_);
        if (!root_.empty())
            std::system(("rm -rf '" + root_ + "'").c_str());
    }
    // Reads the server's standard output up to the line that begins with
    // `prefix`; false when the output ends first.
    bool WaitFor(const std::string& prefix)
    {
        for (;;) {
            std::size_t at = 0, eol;
            while ((eol = stdout_.find('\n', at)) != std::string::npos) {
                if (stdout_.compare(at, prefix.size(), prefix) == 0)
                    return true;
                at = eol + 1;
            }
            char buf[512];
            ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0)
                return false;
            stdout_.append(buf, static_cast<std::size_t>(n));
        }
    }
    // Sends one request to the board's control socket; returns its answer.
    std::string Ask(const std::string& request)
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, socket_.c_str(), sizeof a.sun_path - 1);
        std::string answer;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            std::string line = request + "\n";
            if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
                char buf[8192];
                ssize_t n;
                auto done = [&] {
                    std::size_t last = answer.rfind('\n', answer.size() - 2);
                    last = last == std::string::npos ? 0 : last + 1;
                    return answer.compare(last, 2, "ok") == 0 || answer.compare(last, 5, "error") == 0;
                };
                while ((answer.empty() || answer.back() != '\n' || !done()) &&
                       (n = ::read(fd, buf, sizeof buf)) > 0)
                    answer.append(buf, static_cast<std::size_t>(n));
            }
        }
        ::close(fd);
        return answer;
    }
    // SIGTERM; the exit status.
    int Stop()
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    const std::string& socket_path() const { return socket_; }
    int port() const { return port_; }
    // What the server has written to its standard error so far.
    std::string Stderr() const
    {
        std::ifstream in(root_ + "/stderr");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string root_, socket_, stdout_;
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
};

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0, eol;
    while ((eol = text.find('\n', at)) != std::string::npos) {
        lines.push_back(text.substr(at, eol - at));
        at = eol + 1;
    }
    return lines;
}

} // namespace SimTest
