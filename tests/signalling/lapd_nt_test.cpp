// The network side of a basic-rate D channel against scripted terminals on
// the test clock: TEI assignment, checks and polls, routing by call
// reference, the window of 7 with loss and REJ, and malformed frames.

#include "core/clock.hpp"
#include "signalling/lapd_helper.hpp"
#include "signalling/lapd_nt.hpp"
#include "sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(Packet const& p)
{
    Bytes b;
    for (unsigned int i = 0; i < p.length(); ++i)
        b.push_back(p[i]);
    return b;
}

Packet ToPacket(Bytes const& b)
{
    Packet p;
    p.reserve_head(0);
    p.put(b.data(), static_cast<unsigned int>(b.size()));
    return p;
}

// The layer with its line and its layer 3 replaced by recorders.
class Recorded : public ISDN::LAPD_NT {
public:
    void transmit(Packet& pkt) override { sent.push_back(ToBytes(pkt)); }
    void on_message(Packet& pkt) override { up.push_back(ToBytes(pkt)); }
    void on_activate() override { active = true; }

    std::vector<Bytes> sent;
    std::vector<Bytes> up;
    bool active = false;
};

Bytes Identity(std::uint16_t ri, unsigned char type, unsigned char ai)
{
    return LapdTest::Management(0xFC, ri, type, ai);
}

Bytes IdentitySent(std::uint16_t ri, unsigned char type, unsigned char ai)
{
    return LapdTest::Management(0xFE, ri, type, ai);
}

// Frames from a terminal: commands carry C/R 0 on the user side.
Bytes Sabme(unsigned char tei)
{
    return {0x00, static_cast<std::uint8_t>((tei << 1) | 1), 0x7F};
}
Bytes S(unsigned char tei, unsigned char code, unsigned char nr, bool pf, bool command)
{
    return {static_cast<std::uint8_t>(command ? 0x00 : 0x02), static_cast<std::uint8_t>((tei << 1) | 1), code,
            static_cast<std::uint8_t>((nr << 1) | (pf ? 1 : 0))};
}
Bytes I(unsigned char tei, unsigned char ns, unsigned char nr, bool p, Bytes const& info)
{
    // Appended octet by octet: g++ 12 for powerpc warns about a range insert.
    Bytes b;
    b.reserve(4 + info.size());
    b.push_back(0x00);
    b.push_back(static_cast<std::uint8_t>((tei << 1) | 1));
    b.push_back(static_cast<std::uint8_t>(ns << 1));
    b.push_back(static_cast<std::uint8_t>((nr << 1) | (p ? 1 : 0)));
    for (std::uint8_t o : info)
        b.push_back(o);
    return b;
}
Bytes Q931(unsigned char cref, unsigned char type, unsigned char tag = 0)
{
    return {0x08, 0x01, cref, type, tag};
}

constexpr std::uint8_t kRR = 0x01, kRNR = 0x05, kREJ = 0x09;

class LapdNt : public ::testing::Test {
protected:
    void SetUp() override
    {
        Mux::test::freeze_at(LapdTest::kStartUs);
        nt.set_log(2);
        nt.local_activate();
        ASSERT_TRUE(nt.active);
        ASSERT_EQ(nt.sent.size(), 1u);
        EXPECT_EQ(nt.sent[0], IdentitySent(0, 4, 127)); // check request, Ri 0, Ai 127
        nt.sent.clear();
    }
    void TearDown() override
    {
        nt.local_deactivate();
        Mux::test::thaw();
    }

    void Rx(Bytes const& b)
    {
        Packet p = ToPacket(b);
        nt.receive(p);
    }
    void Tx(Bytes const& msg)
    {
        Packet p = ToPacket(msg);
        nt.message(p);
    }
    // Assigns one terminal by identity request and answers its SABME.
    unsigned char Assign(std::uint16_t ri)
    {
        nt.sent.clear();
        Rx(Identity(ri, 1, 127));
        EXPECT_EQ(nt.sent.size(), 2u);
        unsigned char tei = nt.sent.at(0).at(7) >> 1;
        EXPECT_EQ(nt.sent.at(1), (Bytes{0x02, static_cast<std::uint8_t>((tei << 1) | 1), 0x7F}));
        nt.sent.clear();
        return tei;
    }
    unsigned int Removes(unsigned char tei) const
    {
        unsigned int n = 0;
        for (auto const& f : nt.sent)
            if (f.size() == 8 && f[3] == 0x0F && f[6] == 6 && (f[7] >> 1) == tei)
                ++n;
        return n;
    }
    ISDN::LAPD_NT_user const* User(unsigned char tei) const
    {
        for (unsigned int i = 0; i < ISDN::LAPD_NT::users_count; ++i)
            if (nt.user(i).link_state() != 0 && nt.user(i).tei() == tei)
                return &nt.user(i);
        return nullptr;
    }

    SimTest::Capture log{std::clog};
    Recorded nt;
};

TEST_F(LapdNt, EightTerminalsThenDenied)
{
    for (unsigned int i = 0; i < 8; ++i)
        EXPECT_EQ(Assign(static_cast<std::uint16_t>(0x100 + i)), 64 + i);
    Rx(Identity(0x2222, 1, 127));
    ASSERT_EQ(nt.sent.size(), 1u);
    EXPECT_EQ(nt.sent[0], IdentitySent(0x2222, 3, 127));
    nt.sent.clear();
    Rx(Identity(0x3333, 1, 70));
    ASSERT_EQ(nt.sent.size(), 1u);
    EXPECT_EQ(nt.sent[0], IdentitySent(0x3333, 3, 70));
    nt.sent.clear();
    Rx(Identity(0x4444, 1, 10));
    EXPECT_TRUE(nt.sent.empty());
    // Adoption impossible with eight assigned: TEI 90 is withdrawn twice.
    Rx(Sabme(90));
    EXPECT_EQ(Removes(90), 2u);
    EXPECT_EQ(nt.sent.size(), 2u);
    EXPECT_NE(log.str().find("recieved packet with unassigned TEI=90,removed"), std::string::npos);
}

TEST_F(LapdNt, AdoptionOfUnknownTei)
{
    Rx(Sabme(90));
    ASSERT_NE(User(90), nullptr);
    EXPECT_NE(log.str().find("Warning:recieved packet with unassigned TEI=90"), std::string::npos);
    ASSERT_EQ(nt.sent.size(), 2u);
    EXPECT_EQ(nt.sent[0], (Bytes{0x02, 0xB5, 0x7F})); // SABME P=1
    EXPECT_EQ(nt.sent[1], (Bytes{0x00, 0xB5, 0x73})); // UA F=1
}

// A terminal that misses the check is asked again 2 s later and unassigned
// 2 s after that; its TEI is withdrawn twice and handed to the next
// requester; a duplicated check response also withdraws twice; verify
// starts a check, but leaves one still pending as it is.
TEST_F(LapdNt, CheckUnassignsSilentTerminal)
{
    unsigned char a = Assign(1);
    unsigned char b = Assign(2);
    // Both answer their polls until the check at 60 s.
    bool checked = false;
    for (unsigned int t = 0; t < 60000; t += 1000) {
        nt.sent.clear();
        Mux::test::advance(1000);
        for (auto const& f : std::vector<Bytes>(nt.sent)) {
            if (f.size() == 4 && f[0] == 0x02 && f[2] == kRR && f[3] == 0x01)
                Rx(S(f[1] >> 1, kRR, 0, true, false));
            checked = checked || f == IdentitySent(0, 4, 127);
        }
        EXPECT_EQ(checked, t + 1000 == 60000);
    }
    ASSERT_NE(User(b), nullptr);
    Rx(Identity(0x55, 5, a));
    EXPECT_NE(User(a), nullptr);
    EXPECT_FALSE(User(a)->is_checking());
    nt.sent.clear();
    Mux::test::advance(2000);
    ASSERT_NE(User(b), nullptr);
    EXPECT_NE(std::find(nt.sent.begin(), nt.sent.end(), IdentitySent(0, 4, b)), nt.sent.end());
    Mux::test::advance(2000);
    EXPECT_EQ(User(b), nullptr);
    EXPECT_EQ(Removes(b), 2u);
    EXPECT_EQ(Assign(3), b);

    // Same Ri again: ignored; another Ri: duplicated.
    Rx(Identity(0x55, 5, a));
    EXPECT_TRUE(nt.sent.empty());
    Rx(Identity(0x56, 5, a));
    EXPECT_EQ(Removes(a), 2u);
    EXPECT_EQ(nt.sent.size(), 2u);
    EXPECT_EQ(User(a), nullptr);

    // Identity verify every 3 s while b is silent and c answers each check:
    // b's TEI is freed 4 s after the first, as if none had followed.
    unsigned char c = Assign(4);
    for (std::uint16_t t = 0; t < 9; ++t) {
        if (t % 3 == 0) {
            nt.sent.clear();
            Rx(Identity(0, 7, 127));
            EXPECT_EQ(nt.sent.back(), IdentitySent(0, 4, 127));
            Rx(Identity(t, 5, c));
        }
        Mux::test::advance(1000);
        EXPECT_EQ(User(b) == nullptr, t + 1 >= 4) << t + 1 << " s";
        EXPECT_NE(User(c), nullptr);
    }
}

// Poll at 10 s; a lost answer is polled again 1 s later; a terminal that
// never answers is unassigned at 14 s and its TEI withdrawn.
TEST_F(LapdNt, PollsAndRetries)
{
    unsigned char tei = Assign(1);
    Rx(I(tei, 0, 0, false, Q931(0x81, 0x01))); // some acknowledged traffic first
    Tx(Q931(0x01, 0x7D));
    Rx(S(tei, kRR, 1, false, false));
    nt.sent.clear();
    Mux::test::advance(10000);
    Bytes poll{0x02, static_cast<std::uint8_t>((tei << 1) | 1), kRR, 0x03};
    ASSERT_EQ(nt.sent.size(), 1u);
    EXPECT_EQ(nt.sent[0], poll);
    nt.sent.clear();
    Mux::test::advance(1000); // answer lost: polled again
    ASSERT_EQ(nt.sent.size(), 1u);
    EXPECT_EQ(nt.sent[0], poll);
    Rx(S(tei, kRR, 1, true, false));
    EXPECT_EQ(User(tei)->link_state(), 1);

    nt.sent.clear();
    Mux::test::advance(10000 + 3000);
    EXPECT_EQ(nt.sent.size(), 4u);
    EXPECT_NE(User(tei), nullptr);
    Mux::test::advance(1000);
    EXPECT_EQ(User(tei), nullptr);
    EXPECT_EQ(Removes(tei), 2u);
    EXPECT_NE(log.str().find("T200 expiried N200 times"), std::string::npos);
}

TEST_F(LapdNt, RoutingByCallReference)
{
    unsigned char a = Assign(1);
    unsigned char b = Assign(2);
    Tx(Q931(0x01, 0x05));
    ASSERT_EQ(nt.sent.size(), 1u);
    EXPECT_EQ(nt.sent[0], (Bytes{0x02, 0xFF, 0x03, 0x08, 0x01, 0x01, 0x05, 0x00}));
    nt.sent.clear();
    Rx(I(b, 0, 0, true, Q931(0x81, 0x01)));
    ASSERT_EQ(nt.up.size(), 1u);
    EXPECT_EQ(nt.up[0], Q931(0x81, 0x01));
    nt.sent.clear();
    Tx(Q931(0x01, 0x07)); // CONNECT ACKNOWLEDGE to terminal b only
    ASSERT_EQ(nt.sent.size(), 1u);
    EXPECT_EQ(nt.sent[0][1], (b << 1) | 1);
    EXPECT_EQ(nt.sent[0][3], 0x03); // N(R) 1, P 1
    nt.sent.clear();
    Tx(Q931(0x09, 0x07));
    EXPECT_TRUE(nt.sent.empty());
    EXPECT_NE(log.str().find("message dropped"), std::string::npos);

    // The dummy and the global call reference name no call: not even a,
    // which never bound one, takes them.
    Tx({0x08, 0x00, 0x7B, 0x2C, 0x01, 0x31});
    Tx(Q931(0x00, 0x7D));
    EXPECT_TRUE(nt.sent.empty());
    EXPECT_EQ(User(a)->queue_ack(), 0u);
    // b's TEI handed to a new terminal: b's call does not follow it there.
    Rx(Bytes{0x02, static_cast<std::uint8_t>((b << 1) | 1), 0x1F}); // DM F=1
    ASSERT_EQ(Assign(3), b);
    Tx(Q931(0x01, 0x7D));
    EXPECT_TRUE(nt.sent.empty());
}

// 20 messages, one I frame lost: never more than 7 outstanding, every frame
// delivered once in order, retransmissions with the current N(R).
TEST_F(LapdNt, WindowLossAndReject)
{
    unsigned char tei = Assign(1);
    Rx(I(tei, 0, 0, true, Q931(0x81, 0x01)));
    nt.sent.clear();
    for (unsigned char i = 0; i < 20; ++i)
        Tx(Q931(0x01, 0x7D, i));
    EXPECT_EQ(nt.sent.size(), 7u);
    EXPECT_EQ(User(tei)->queue_ack(), 7u);

    unsigned char expected = 0, vr_terminal = 0;
    int vr_net = 1;
    std::vector<unsigned char> got;
    bool lost = false;
    for (int round = 0; round < 50 && got.size() < 20; ++round) {
        std::vector<Bytes> frames;
        frames.swap(nt.sent);
        bool gap = false;
        for (auto const& f : frames) {
            if (f.size() < 4 || (f[2] & 1) != 0)
                continue;
            EXPECT_LE(User(tei) ? User(tei)->queue_ack() : 0u, 7u);
            EXPECT_EQ(f[3] >> 1, vr_net); // the current V(R) of the network side
            unsigned char ns = f[2] >> 1;
            if (!lost && ns == 3) {
                lost = true;
                continue;
            }
            if (ns != expected) {
                gap = true;
                continue;
            }
            got.push_back(f[8]);
            expected = static_cast<unsigned char>((expected + 1) & 127);
            vr_terminal = expected;
        }
        if (round == 0) {
            // The terminal sends too, so later retransmissions must carry
            // N(R) 2, not the 1 of their first transmission.
            Rx(I(tei, 1, vr_terminal, false, Q931(0x81, 0x7D)));
            vr_net = 2;
        }
        Rx(S(tei, gap ? kREJ : kRR, vr_terminal, false, false));
        if (nt.sent.empty())
            Mux::test::advance(1000);
    }
    ASSERT_EQ(got.size(), 20u);
    for (unsigned char i = 0; i < 20; ++i)
        EXPECT_EQ(got[i], i);
    EXPECT_EQ(User(tei)->queue_ack(), 0u);
}

// After the numbers wrapped, a REJ with N(R) 0 acknowledges up to 127 and
// retransmits from 0.
TEST_F(LapdNt, RejectWithZeroAfterWrap)
{
    unsigned char tei = Assign(1);
    Rx(I(tei, 0, 0, true, Q931(0x81, 0x01)));
    unsigned char nr = 0;
    for (unsigned int i = 0; i < 126; ++i) {
        Tx(Q931(0x01, 0x7D));
        nr = static_cast<unsigned char>((nr + 1) & 127);
        Rx(S(tei, kRR, nr, false, false));
    }
    nt.sent.clear();
    for (unsigned int i = 0; i < 4; ++i)
        Tx(Q931(0x01, 0x7D, static_cast<unsigned char>(i))); // N(S) 126, 127, 0, 1
    nt.sent.clear();
    Rx(S(tei, kREJ, 0, false, false));
    ASSERT_NE(User(tei), nullptr);
    EXPECT_EQ(User(tei)->queue_ack(), 2u);
    ASSERT_EQ(nt.sent.size(), 2u);
    EXPECT_EQ(nt.sent[0][2] >> 1, 0);
    EXPECT_EQ(nt.sent[1][2] >> 1, 1);
    EXPECT_EQ(nt.sent[0][4 + 4], 2);
    // An N(R) outside V(A)..V(S) is refused and withdraws the TEI.
    nt.sent.clear();
    Rx(S(tei, kRR, 5, false, false));
    EXPECT_EQ(User(tei), nullptr);
    EXPECT_EQ(Removes(tei), 2u);
}

// Short I and S frames are dropped, not read as N(R) 0; DISC releases the
// link but keeps the TEI booked; DM withdraws it.
TEST_F(LapdNt, ShortFramesDiscAndDm)
{
    unsigned char tei = Assign(1);
    Rx(I(tei, 0, 0, true, Q931(0x81, 0x01)));
    Tx(Q931(0x01, 0x7D));
    nt.sent.clear();
    Rx(Bytes{0x02, static_cast<std::uint8_t>((tei << 1) | 1), kRR});
    Rx(Bytes{0x00, static_cast<std::uint8_t>((tei << 1) | 1), 0x02});
    EXPECT_TRUE(nt.sent.empty());
    EXPECT_EQ(User(tei)->queue_ack(), 1u);
    EXPECT_EQ(User(tei)->vr(), 1u);

    Rx(Bytes{0x00, static_cast<std::uint8_t>((tei << 1) | 1), 0x53}); // DISC P=1
    ASSERT_EQ(nt.sent.size(), 1u);
    EXPECT_EQ(nt.sent[0][2], 0x73); // UA F=1
    ASSERT_NE(User(tei), nullptr);
    EXPECT_EQ(User(tei)->link_state(), 3);
    EXPECT_EQ(Removes(tei), 0u);

    unsigned char t2 = Assign(2);
    Rx(Bytes{0x02, static_cast<std::uint8_t>((t2 << 1) | 1), 0x1F}); // DM F=1
    EXPECT_EQ(User(t2), nullptr);
    EXPECT_EQ(Removes(t2), 2u);
}

TEST_F(LapdNt, DeactivationSendsNoRemove)
{
    Assign(1);
    Assign(2);
    nt.local_deactivate();
    EXPECT_TRUE(nt.sent.empty());
    EXPECT_EQ(User(64), nullptr);
}

} // namespace
