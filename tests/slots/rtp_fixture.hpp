#pragma once

// The in-process fixture of the RTP slot tests: the slots fixture with an
// RTP factory at the head of the chain, detector services of the test's own
// on the simulated board, and UDP sockets of the test that stand for the
// far end's RTCP port. Every address is 127.0.0.x.

#include "hardware/dsproc.hpp"
#include "hardware/tonec.hpp"
#include "sim/rtp.hpp"
#include "rtp_create.hpp"
#include "slots/rtp_slot.hpp"
#include "slots_fixture.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace RtpTest {

// A UDP socket bound to `address`:`port` (0: any free port).
inline OwnedFd BindUdp(const char* address, std::uint16_t port, bool reuse = false)
{
    OwnedFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    int on = 1;
    if (reuse)
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        fd.reset();
    return fd;
}

inline std::uint16_t LocalPort(int fd)
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

// The far end's RTCP socket: bound first, so its port is P + 1 of an RTP
// port P that the test gives the server.
struct Peer {
    explicit Peer(const char* address = "127.0.0.1") : fd(BindUdp(address, 0)), rtcp(LocalPort(fd.get())) {}
    std::uint16_t rtp() const { return static_cast<std::uint16_t>(rtcp - 1); }

    struct Datagram {
        std::vector<std::uint8_t> bytes;
        std::uint16_t from = 0;
    };
    // The datagrams that have arrived (the server sends before it answers).
    std::vector<Datagram> Take()
    {
        std::vector<Datagram> out;
        for (;;) {
            std::uint8_t buf[2048];
            sockaddr_in from{};
            socklen_t n = sizeof from;
            ssize_t got =
                ::recvfrom(fd.get(), buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &n);
            if (got < 0)
                break;
            out.push_back({std::vector<std::uint8_t>(buf, buf + got), ntohs(from.sin_port)});
        }
        return out;
    }

    OwnedFd fd;
    std::uint16_t rtcp;
};

// A local RTP port Q whose Q + 1 is free right now (for the server's RTCP).
inline std::uint16_t FreeRtpPort()
{
    OwnedFd probe = BindUdp("0.0.0.0", 0);
    return static_cast<std::uint16_t>(LocalPort(probe.get()) - 1);
}

inline LGCP::Command Ioctl(LGCP::IoctlParams const& params)
{
    LGCP::Command c;
    c.set_ioctl(params);
    return c;
}

class Fixture : public SlotsTest::Fixture {
protected:
    void SetUp() override
    {
        SlotsTest::Fixture::SetUp();
        tonec_ = std::make_unique<Hardware::TonecReceiverService>();
        Hardware::TonecReceiverService::UseInstance(tonec_.get());
        dsproc_ = std::make_unique<Hardware::DSProcReceiverService>();
        Hardware::DSProcReceiverService::UseInstance(dsproc_.get());
        board().ClearLog();
    }
    void TearDown() override
    {
        // The slots before the services they use.
        for (Slot* s : std::vector<Slot*>(host().slots().slots()))
            host().slots().Destroy(s);
        Hardware::TonecReceiverService::UseInstance(nullptr);
        Hardware::DSProcReceiverService::UseInstance(nullptr);
        tonec_.reset();
        dsproc_.reset();
        SlotsTest::Fixture::TearDown();
    }

    Sim::Rtp& driver() { return board().device<Sim::Rtp>(); }
    std::size_t RtpOpens() { return board().OpenCount("/dev/rtp"); }
    // The requests of one device since the log was cleared, as the board
    // prints them ("/dev/rtp 0x20005204 = 0").
    std::vector<std::string> Requests(std::string const& device)
    {
        std::vector<std::string> out;
        for (Sim::Request const& r : board().Log())
            if (r.device == device)
                out.push_back(Sim::Format(r));
        return out;
    }
    RtpSlot* rtp_slot(unsigned int n) { return dynamic_cast<RtpSlot*>(slot(n)); }

    RtpFactory rtp_;

private:
    std::unique_ptr<Hardware::TonecReceiverService> tonec_;
    std::unique_ptr<Hardware::DSProcReceiverService> dsproc_;
};

} // namespace RtpTest
