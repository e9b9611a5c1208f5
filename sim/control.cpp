#include "sim/control.hpp"

#include "sim/board.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Sim {

namespace {

struct Client {
    int fd;
    std::string in;
};

// Writes all of `text`; the client is ours, so a short wait is acceptable.
bool SendAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A request line longer than this is not of the control language.
constexpr std::size_t kMaxLine = 4096;
// How long the listener rests after an accept that found no descriptor.
constexpr int kRestMs = 100;

} // namespace

ControlSocket::~ControlSocket()
{
    Stop();
}

bool ControlSocket::Start(const std::string& path)
{
    Stop();
    sockaddr_un addr{};
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return false;
    }
    listener_ = fd;
    path_ = path;
    if (!server_.Start([this] { Serve(); })) {
        int e = errno;
        ::close(fd);
        ::unlink(path.c_str());
        listener_ = -1;
        errno = e;
        return false;
    }
    return true;
}

void ControlSocket::Stop()
{
    if (listener_ < 0)
        return;
    // In a forked child the thread and the socket file are the parent's;
    // the child's copy of the descriptor goes, which leaves the parent's
    // alone.
    const bool ours = server_.owned();
    server_.Stop();
    ::close(listener_);
    listener_ = -1;
    if (ours)
        ::unlink(path_.c_str());
}

void ControlSocket::Serve()
{
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    // Out of descriptors, the queued connection keeps the listener readable:
    // it is left out of the poll for a while instead of spinning.
    bool resting = false;
    while (server_.running()) {
        fds.assign(1, server_.WakeFd());
        fds.push_back({resting ? -1 : listener_, POLLIN, 0});
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), resting ? kRestMs : -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        resting = false;
        if (fds[0].revents != 0) {
            // Woken to stop.
            server_.Drain(fds[0]);
            continue;
        }
        // Clients first: their indexes match the poll entries only until the
        // listener adds one.
        for (std::size_t i = clients.size(); i-- > 0;) {
            if (fds[i + 2].revents == 0)
                continue;
            Client& c = clients[i];
            char buf[1024];
            ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
            bool drop = n <= 0;
            if (n > 0)
                c.in.append(buf, static_cast<std::size_t>(n));
            std::size_t eol;
            while (!drop && (eol = c.in.find('\n')) != std::string::npos) {
                std::string line = c.in.substr(0, eol);
                c.in.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                drop = !SendAll(c.fd, Board::instance().Command(line));
            }
            if (!drop && c.in.size() > kMaxLine) {
                SendAll(c.fd, "error request too long\n");
                drop = true;
            }
            if (drop) {
                ::close(c.fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[1].revents & POLLIN) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                clients.push_back({fd, {}});
            else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                resting = true;
        }
    }
    for (const Client& c : clients)
        ::close(c.fd);
}

const std::string& ControlSocket::EnvironmentPath()
{
    static const std::string path = [] {
        const char* given = std::getenv("GW_SIM_SOCKET");
        std::string p = given != nullptr ? given : "";
        char cwd[4096];
        if (!p.empty() && p[0] != '/' && ::getcwd(cwd, sizeof cwd) != nullptr)
            p = std::string(cwd) + "/" + p;
        return p;
    }();
    return path;
}

void ControlSocket::StartFromEnvironment()
{
    // Lives until the program's static objects are destroyed; the board
    // itself outlives it.
    static ControlSocket control;
    const std::string& path = EnvironmentPath();
    if (path.empty() || control.running())
        return;
    if (!control.Start(path)) {
        std::cerr << "GW_SIM_SOCKET: " << path << ": " << std::strerror(errno) << std::endl;
        return;
    }
    // Said only by a server that serves: not by one that printed its usage
    // or version, or that refused to start.
    std::cout << "board control socket: " << path << " (one request a line; \"help\" lists them)"
              << std::endl;
}

} // namespace Sim
