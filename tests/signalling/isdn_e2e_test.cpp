// Two ISDN signalling slots of build/server, one on each side of a D
// channel, joined through two trunk time slots that the simulated board
// loops like a cable: the links come up against each other and carry the
// host's layer-3 messages both ways, byte for byte. The plain exchanges are
// pinned in transcripts/.

#include "isdn_params.hpp"
#include "tests/slots/slot_commands.hpp"
#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using E2E::Bytes;
using Clock = std::chrono::steady_clock;
using IsdnTest::Activate;
using IsdnTest::UserData;

class Host {
public:
    explicit Host(int port) : host_(port) {}

    void Send(int seq, int slot, LGCP::Command const& command)
    {
        LGCP::Message m = E2E::Command(seq, slot);
        m.get_pdu().set_command(command);
        ASSERT_TRUE(host_.Send(m));
    }
    // Messages until `done` holds for the ones heard so far; false when the
    // wait ran out.
    template <class F>
    bool Until(F done, int ms = 5000)
    {
        auto const until = Clock::now() + std::chrono::milliseconds(E2E::Patience(ms));
        while (!done()) {
            if (Clock::now() > until)
                return false;
            Bytes payload;
            LGCP::Message m;
            if (host_.Receive(payload, 50) && E2E::Decode(payload, m))
                heard.push_back(m);
        }
        return true;
    }
    bool Answered(int seq, bool success = true) const
    {
        for (auto const& m : heard)
            if (m.get_pdu().is_response() && m.has_seq() && m.get_seq().getValue() == seq)
                return m.get_pdu().get_response().is_success() == success;
        return false;
    }
    int Count(int slot, bool (LGCP::Signal::*is)() const) const
    {
        int n = 0;
        for (auto const& m : heard)
            n += m.get_pdu().is_signal() && m.has_slot() &&
                 static_cast<int>(m.get_slot().getValue()) == slot && (m.get_pdu().get_signal().*is)();
        return n;
    }
    std::vector<std::string> UserData(int slot) const
    {
        std::vector<std::string> out;
        for (auto const& m : heard)
            if (m.get_pdu().is_signal() && m.has_slot() &&
                static_cast<int>(m.get_slot().getValue()) == slot && m.get_pdu().get_signal().is_userData())
                out.emplace_back(m.get_pdu().get_signal().get_userData());
        return out;
    }

    std::vector<LGCP::Message> heard;

private:
    E2E::LgcpHost host_;
};

TEST(IsdnEndToEnd, UserAndNetworkSlotsOverLoopedTrunksCarryMessagesBothWays)
{
    // Trunk 1's time slots 1 and 2 (switch channels 33 and 34) joined.
    E2E::ServerProcess server({.setup = "/dev/mcc/ctl loop 33 34; /dev/mcc/ctl autopump on"});
    Host host(server.port());
    host.Send(1, 10, SlotsTest::CreateCommand(IsdnTest::Isdn(LGCP::IsdnType::pri, false)));
    host.Send(2, 11, SlotsTest::CreateCommand(IsdnTest::Isdn(LGCP::IsdnType::pri, true)));
    host.Send(3, 1, SlotsTest::CreateCommand(SlotsTest::Trunk(1, 1)));
    host.Send(4, 2, SlotsTest::CreateCommand(SlotsTest::Trunk(1, 2)));
    host.Send(5, 10, SlotsTest::ConnectCommand(1));
    host.Send(6, 1, SlotsTest::ConnectCommand(10));
    host.Send(7, 11, SlotsTest::ConnectCommand(2));
    host.Send(8, 2, SlotsTest::ConnectCommand(11));
    ASSERT_TRUE(host.Until([&] { return host.Answered(8); }));
    for (int seq = 1; seq <= 8; ++seq)
        EXPECT_TRUE(host.Answered(seq)) << seq;

    host.Send(9, 10, Activate());
    host.Send(10, 11, Activate());
    ASSERT_TRUE(host.Until([&] {
        return host.Count(10, &LGCP::Signal::is_activated) > 0 &&
               host.Count(11, &LGCP::Signal::is_activated) > 0;
    })) << server.Err();
    EXPECT_EQ(host.Count(10, &LGCP::Signal::is_activated), 1);
    EXPECT_EQ(host.Count(11, &LGCP::Signal::is_activated), 1);

    // Every octet value, both ways.
    std::string setup(256, '\0'), connect(200, '\0');
    for (std::size_t i = 0; i < setup.size(); ++i)
        setup[i] = static_cast<char>(i);
    for (std::size_t i = 0; i < connect.size(); ++i)
        connect[i] = static_cast<char>(255 - i * 3);
    host.Send(11, 10, UserData(setup));
    ASSERT_TRUE(host.Until([&] { return !host.UserData(11).empty(); })) << server.Err();
    host.Send(12, 11, UserData(connect));
    ASSERT_TRUE(host.Until([&] { return !host.UserData(10).empty(); })) << server.Err();
    EXPECT_EQ(host.UserData(11), std::vector<std::string>{setup});
    EXPECT_EQ(host.UserData(10), std::vector<std::string>{connect});

    // Longer than an I frame carries (260 octets): refused, and nothing of
    // it stands in the way of the messages behind it.
    host.Send(13, 10, UserData(std::string(9000, 'x')));
    host.Send(14, 10, UserData(std::string(261, 'x')));
    std::vector<std::string> const after{setup, "\x08\x01\x01\x7b", "\x08\x01\x01\x6e", "\x08\x01\x01\x5a",
                                         std::string(260, 'y')};
    for (int i = 1; i < 5; ++i)
        host.Send(14 + i, 10, UserData(after[i]));
    ASSERT_TRUE(host.Until([&] { return host.UserData(11).size() >= after.size(); })) << server.Err();
    EXPECT_TRUE(host.Answered(13, false));
    EXPECT_TRUE(host.Answered(14, false));
    EXPECT_EQ(host.UserData(11), after);
    EXPECT_EQ(host.Count(10, &LGCP::Signal::is_deactivated), 0);
    EXPECT_EQ(host.Count(11, &LGCP::Signal::is_deactivated), 0);
}

} // namespace
