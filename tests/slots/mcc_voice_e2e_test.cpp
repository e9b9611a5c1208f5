// MCC data slots and voice slots end to end: build/server on the simulated
// board, driven over the control port, with TCP peers of the test's own on
// the loopback and the board's MCC controller steered through its control
// socket. The plain exchanges are pinned in transcripts/; here is what needs
// peers, waits or records too large to read as a transcript.

#include "mcc_voice_params.hpp"
#include "tests/slots/slot_commands.hpp"
#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <poll.h>

namespace {

using E2E::Bytes;
using E2E::LgcpHost;
using E2E::ServerProcess;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

Bytes Send(LgcpHost& host, int seq, int slot, LGCP::Command const& command)
{
    LGCP::Message m = E2E::Command(seq, slot);
    m.get_pdu().set_command(command);
    Bytes b = E2E::Encode(m);
    host.Send(b);
    return b;
}

LGCP::Command Destroy()
{
    LGCP::Command c;
    c.set_destroy();
    return c;
}

LGCP::Command Disconnect()
{
    LGCP::Command c;
    c.set_disconnect();
    return c;
}

LGCP::Command UserData(std::string const& bytes)
{
    LGCP::Command c;
    c.set_userData(bytes);
    return c;
}

// What the host hears, as value notation, trunk reports left out.
class Ear {
public:
    explicit Ear(LgcpHost& host) : host_(host) {}

    // Messages until one equals `last` (included) or `ms` pass.
    Lines Until(std::string const& last, int ms = 5000)
    {
        Lines out;
        auto const until = Clock::now() + std::chrono::milliseconds(E2E::Patience(ms));
        while (Clock::now() < until) {
            std::string m = Next(50);
            if (m.empty())
                continue;
            out.push_back(m);
            if (m == last)
                break;
        }
        return out;
    }
    // Everything within `ms`.
    Lines For(int ms) { return Until("", ms); }
    // The next message within `ms`; "" when none came.
    std::string Next(int ms = 5000)
    {
        Bytes const payload = host_.Next(ms);
        if (payload.empty())
            return {};
        LGCP::Message m;
        E2E::Decode(payload, m);
        last_ = m;
        return E2E::Notation(payload);
    }
    LGCP::Message const& last() const { return last_; }

private:
    LgcpHost& host_;
    LGCP::Message last_;
};

// The board's control language takes hex without blanks.
std::string Hex(std::string const& bytes)
{
    std::string out = E2E::Hex(Bytes(bytes.begin(), bytes.end()));
    out.erase(std::remove(out.begin(), out.end(), ' '), out.end());
    return out;
}

// What reached switch output `n` since the last look, the board having
// moved what the channels wrote.
std::string Sent(ServerProcess& server, int n)
{
    server.Ask("/dev/mcc/ctl pump");
    std::string out;
    for (std::string const& line : E2E::Lines(server.Ask("/dev/mcc/ctl sent " + std::to_string(n)))) {
        if (line.rfind("ok", 0) == 0)
            break;
        for (std::size_t i = 0; i + 1 < line.size(); i += 2)
            out.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string Signal(int slot, std::string const& what)
{
    return "{ slot " + std::to_string(slot) + ", pdu signal : " + what + " }";
}

std::string Success(int seq, int slot)
{
    return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
           ", pdu response : success : NULL }";
}

std::string Failure(int seq, int slot, std::string const& cause)
{
    return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
           ", pdu response : error : " + cause + " }";
}

std::size_t Count(std::string const& text, std::string const& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Reads from a peer until `n` bytes came or the peer closed.
std::string ReadPeer(int fd, std::size_t n, bool* eof = nullptr)
{
    std::string got;
    auto const until = Clock::now() + std::chrono::milliseconds(E2E::Patience(5000));
    bool closed = false;
    while (got.size() < n && !closed && Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1)
            got += SlotsTest::ReadAll(fd, &closed);
    }
    if (eof != nullptr)
        *eof = closed;
    return got;
}

OwnedFd AcceptPeer(SlotsTest::Listener& l)
{
    pollfd p{l.fd(), POLLIN, 0};
    if (::poll(&p, 1, E2E::Patience(5000)) != 1)
        return OwnedFd();
    return l.Accept();
}

TEST(MccEndToEnd, RecordsReachTheHostInOrderAndTheChannelEndsCleanly)
{
    ServerProcess server;
    LgcpHost host(server.port());
    Ear ear(host);
    ASSERT_EQ(server.Ask("log clear"), "ok\n");
    Send(host, 1, 5, SlotsTest::CreateCommand(SlotsTest::Mcc(LGCP::MccType::data, LGCP::MccMode::standard)));
    ASSERT_EQ(ear.Next(), Success(1, 5));
    Send(host, 2, 7, SlotsTest::CreateCommand(SlotsTest::Trunk(1, 5)));
    Send(host, 3, 8, SlotsTest::CreateCommand(SlotsTest::Trunk(1, 8)));
    Send(host, 4, 7, SlotsTest::ConnectCommand(5));
    Send(host, 5, 5, SlotsTest::ConnectCommand(8));
    ASSERT_EQ(ear.Until(Success(5, 5)).back(), Success(5, 5));
    EXPECT_TRUE(server.Logged("mcc: MCC_ALLOCATE type=0\n"));
    // The allocation words in the board's request log.
    std::string const log = server.Ask("log");
    EXPECT_NE(log.find("/dev/mcc/ctl 0x40144d00 0 512 0 1 1 -> 0 512 0 1 1 = 0\n"), std::string::npos) << log;

    std::string first(1024, '\0'), second(976, '\0');
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<char>(i * 7 + 3);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<char>(i * 5 + 1);
    ASSERT_EQ(server.Ask("/dev/mcc/ctl receive 37 " + Hex(first)), "ok 1\n");
    ASSERT_EQ(server.Ask("/dev/mcc/ctl receive 37 " + Hex(second)), "ok 1\n");
    Lines data;
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(ear.Next(E2E::Patience(5000)), "");
        LGCP::Message const& m = ear.last();
        ASSERT_TRUE(m.get_pdu().is_signal() && m.get_pdu().get_signal().is_userData());
        EXPECT_EQ(m.get_slot().getValue(), 5u);
        data.push_back(m.get_pdu().get_signal().get_userData());
    }
    EXPECT_EQ(data, (Lines{first, second}));

    // The host's bytes go out in one write, to the output the channel feeds.
    Send(host, 6, 5, UserData("\x01\x02\x03"));
    EXPECT_EQ(ear.Next(), Success(6, 5));
    EXPECT_EQ(Sent(server, 40), "\x01\x02\x03");
    // Data the channel cannot take is reported lost.
    Send(host, 7, 5, UserData(std::string(9000, 'z')));
    EXPECT_EQ(ear.Next(), Failure(7, 5, "unsupported"));
    EXPECT_TRUE(server.Logged("mcc: write fail: Message too long (slot 05:MCC)\n"));

    // The end of the channel's stream: one line, no spinning, and the slot
    // still goes when the host says so.
    ASSERT_EQ(server.Ask("/dev/mcc/ctl eof 300"), "ok\n");
    ASSERT_TRUE(server.Logged("mcc: 05:MCC [300]: read stopped: end of file\n"));
    Send(host, 8, 3, SlotsTest::CreateCommand(SlotsTest::Trunk(0, 3)));
    EXPECT_EQ(ear.Until(Success(8, 3)).back(), Success(8, 3));
    EXPECT_EQ(Count(server.Err(), "read stopped"), 1u);
    Send(host, 9, 5, Destroy());
    EXPECT_EQ(ear.Until(Success(9, 5)).back(), Success(9, 5));
    EXPECT_EQ(server.Ask("/dev/mcc/ctl slots"), "ok 0\n");
}

class VoiceEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host_.Connect(server_.port()));
        // Trunk slots 7, 8 and 9: channels 37, 40 and 41.
        for (int n : {7, 8, 9})
            Send(host_, n, n, SlotsTest::CreateCommand(SlotsTest::Trunk(1, n == 7 ? 5 : n)));
        ASSERT_EQ(ear_.Until(Signal(9, "receiver : active : 41")).back(),
                  Signal(9, "receiver : active : 41"));
    }
    int Seq() { return ++seq_; }

    ServerProcess server_;
    LgcpHost host_;
    Ear ear_{host_};

private:
    int seq_ = 100;
};

TEST_F(VoiceEndToEnd, NetworkPlayerStreamsWhatThePeerServes)
{
    SlotsTest::Listener peer;
    std::string const where = "127.0.0.1:" + std::to_string(peer.port());
    int seq = Seq();
    Send(host_, seq, 20, SlotsTest::CreateCommand(SlotsTest::NetworkPlayer(peer.port(), 0x0A0B0C0D)));
    ASSERT_EQ(ear_.Next(), Success(seq, 20));
    seq = Seq();
    Send(host_, seq, 20, SlotsTest::ConnectCommand(8));
    EXPECT_EQ(ear_.Until(Success(seq, 20)),
              (Lines{Signal(20, "transmitter : active : 300"), Success(seq, 20)}));
    OwnedFd conn = AcceptPeer(peer);
    ASSERT_TRUE(conn);
    // Exactly the id, most significant octet first, before any audio.
    EXPECT_EQ(ReadPeer(conn.get(), 4), "\x0A\x0B\x0C\x0D");
    EXPECT_EQ(ear_.Next(), Signal(20, "ioctl : startPlaying : NULL"));
    EXPECT_TRUE(server_.Logged("player[300]: connected to " + where + ".\n"));

    // A second first listener opens no second connection.
    seq = Seq();
    Send(host_, seq, 8, Disconnect());
    EXPECT_EQ(ear_.Next(), Success(seq, 8));
    seq = Seq();
    Send(host_, seq, 20, SlotsTest::ConnectCommand(9));
    EXPECT_EQ(ear_.Next(), Success(seq, 20));
    pollfd p{peer.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 200), 0);

    // The board takes the channel's bytes when asked; they reach the output
    // only while the player still feeds it, so the peer closes afterwards.
    std::string audio(5000, '\0');
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<char>(i % 253);
    ASSERT_EQ(::send(conn.get(), audio.data(), audio.size(), 0), static_cast<ssize_t>(audio.size()));
    std::string got;
    ASSERT_TRUE(E2E::Eventually([&] {
        got += Sent(server_, 41);
        return got.size() >= audio.size();
    }));
    EXPECT_EQ(got, audio);
    conn.reset();
    EXPECT_EQ(ear_.Until(Signal(20, "abort : 0")),
              (Lines{Signal(20, "transmitter : inactive : NULL"), Signal(20, "abort : 0")}));
    EXPECT_TRUE(server_.Logged("player[300]: connection to " + where + " closed.\n"));

    // Without a listener: the connection fails, the player ends.
    int const closed = SlotsTest::ClosedPort();
    seq = Seq();
    Send(host_, seq, 22, SlotsTest::CreateCommand(SlotsTest::NetworkPlayer(closed, 1)));
    ASSERT_EQ(ear_.Next(), Success(seq, 22));
    seq = Seq();
    Send(host_, seq, 22, SlotsTest::ConnectCommand(8));
    EXPECT_EQ(ear_.Until(Signal(22, "abort : 0")),
              (Lines{Signal(22, "transmitter : active : 301"), Success(seq, 22),
                     Signal(22, "transmitter : inactive : NULL"), Signal(22, "abort : 0")}));
    EXPECT_TRUE(
        server_.Logged("player[301]: connection to 127.0.0.1:" + std::to_string(closed) + " fail.\n"));

    // Destroying the players returns their channels.
    for (int n : {20, 22}) {
        seq = Seq();
        Send(host_, seq, n, Destroy());
        EXPECT_EQ(ear_.Until(Success(seq, n)).back(), Success(seq, n));
    }
    EXPECT_EQ(server_.Ask("/dev/mcc/ctl slots"), "ok 0\n");
}

TEST_F(VoiceEndToEnd, FilePlayerPlaysItsPhrases)
{
    server_.Write("usr/local/voice/a", "[a]");
    server_.Write("usr/local/voice/b", "<bb>");
    int seq = Seq();
    Send(host_, seq, 20, SlotsTest::CreateCommand(SlotsTest::FilePlayer({"a", "missing", "b"}, 2)));
    ASSERT_EQ(ear_.Next(), Success(seq, 20));
    // What a finished player wrote reaches no output once it has let its
    // listeners go (the board moves it only when asked), so the bytes are
    // checked in process; here the host's side.
    seq = Seq();
    Send(host_, seq, 20, SlotsTest::ConnectCommand(8));
    EXPECT_EQ(ear_.Until(Signal(20, "abort : 0")),
              (Lines{Signal(20, "transmitter : active : 300"), Success(seq, 20),
                     Signal(20, "transmitter : inactive : NULL"), Signal(20, "abort : 0")}));
    EXPECT_EQ(server_.Ask("/dev/hal switch 40 40"), "40 constant 0xD5\nok 1\n");

    // Nothing playable: the connect fails, one abort follows, and only one.
    seq = Seq();
    Send(host_, seq, 21, SlotsTest::CreateCommand(SlotsTest::FilePlayer({"missing", "../x"}, 1)));
    ASSERT_EQ(ear_.Next(), Success(seq, 21));
    seq = Seq();
    Send(host_, seq, 21, SlotsTest::ConnectCommand(9));
    EXPECT_EQ(ear_.Until(Signal(21, "abort : 0")),
              (Lines{Failure(seq, 21, "connectFail"), Signal(21, "abort : 0")}));
    EXPECT_TRUE(server_.Logged("player[301]: phrase name refused: \"../x\"\n"));
    EXPECT_EQ(ear_.For(300), Lines{});

    // Repeat 0 plays until the slot is destroyed.
    seq = Seq();
    Send(host_, seq, 22, SlotsTest::CreateCommand(SlotsTest::FilePlayer({"a"}, 0)));
    ASSERT_EQ(ear_.Next(), Success(seq, 22));
    seq = Seq();
    Send(host_, seq, 22, SlotsTest::ConnectCommand(9));
    EXPECT_EQ(ear_.Until(Success(seq, 22)).back(), Success(seq, 22));
    std::string got;
    ASSERT_TRUE(E2E::Eventually([&] {
        got += Sent(server_, 41);
        return got.size() >= 9;
    }));
    EXPECT_EQ(got.substr(0, 9), "[a][a][a]");
    seq = Seq();
    Send(host_, seq, 22, Destroy());
    EXPECT_EQ(ear_.Until(Success(seq, 22)), Lines{Success(seq, 22)});
    EXPECT_EQ(server_.Ask("/dev/hal switch 41 41"), "41 constant 0xD5\nok 1\n");
}

TEST_F(VoiceEndToEnd, RecorderStreamsItsSourceToThePeer)
{
    SlotsTest::Listener peer;
    std::string const where = "127.0.0.1:" + std::to_string(peer.port());
    int seq = Seq();
    Send(host_, seq, 21, SlotsTest::CreateCommand(SlotsTest::Recorder(peer.port())));
    EXPECT_EQ(ear_.Until(Signal(21, "receiver : active : 300")),
              (Lines{Success(seq, 21), Signal(21, "receiver : active : 300")}));
    seq = Seq();
    Send(host_, seq, 7, SlotsTest::ConnectCommand(21));
    EXPECT_EQ(ear_.Next(), Success(seq, 7));
    OwnedFd conn = AcceptPeer(peer);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(server_.Logged("recorder[300]: connected to " + where + ".\n"));
    ASSERT_EQ(server_.Ask("/dev/mcc/ctl receive 37 00ff10"), "ok 1\n");
    ASSERT_EQ(server_.Ask("/dev/mcc/ctl receive 37 7f"), "ok 1\n");
    // Nothing but the audio.
    EXPECT_EQ(ReadPeer(conn.get(), 4), std::string("\x00\xff\x10\x7f", 4));

    ASSERT_EQ(server_.Ask("/dev/mcc/ctl eof 300"), "ok\n");
    EXPECT_EQ(ear_.Next(), Signal(21, "ioctl : stopRecording : userRequest"));
    EXPECT_TRUE(server_.Logged("recorder[300]: connection to " + where + " closed.\n"));
    bool eof = false;
    EXPECT_EQ(ReadPeer(conn.get(), 1, &eof), "");
    EXPECT_TRUE(eof);
    seq = Seq();
    Send(host_, seq, 21, Destroy());
    EXPECT_EQ(ear_.Next(), Success(seq, 21));

    // A peer that leaves early.
    seq = Seq();
    Send(host_, seq, 22, SlotsTest::CreateCommand(SlotsTest::Recorder(peer.port())));
    ear_.Until(Signal(22, "receiver : active : 300"));
    seq = Seq();
    Send(host_, seq, 7, SlotsTest::ConnectCommand(22));
    EXPECT_EQ(ear_.Next(), Success(seq, 7));
    conn = AcceptPeer(peer);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(server_.Logged("recorder[300]: connected to " + where + ".\n"));
    conn.reset();
    std::string heard;
    ASSERT_TRUE(E2E::Eventually([&] {
        server_.Ask("/dev/mcc/ctl receive 37 0102");
        heard = ear_.Next(50);
        return !heard.empty();
    }));
    EXPECT_EQ(heard, Signal(22, "ioctl : stopRecording : connectionAborted"));
    EXPECT_TRUE(server_.Logged("recorder[300]: record aborted\n"));

    // Nobody listening.
    seq = Seq();
    Send(host_, seq, 23, SlotsTest::CreateCommand(SlotsTest::Recorder(SlotsTest::ClosedPort())));
    ear_.Until(Signal(23, "receiver : active : 301"));
    seq = Seq();
    Send(host_, seq, 8, Disconnect());
    Send(host_, seq + 1, 8, SlotsTest::ConnectCommand(23));
    EXPECT_EQ(ear_.Until(Signal(23, "ioctl : stopRecording : connectionFail")).back(),
              Signal(23, "ioctl : stopRecording : connectionFail"));
}

} // namespace
