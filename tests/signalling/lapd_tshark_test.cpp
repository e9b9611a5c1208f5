// tshark reads every frame that the data link sends: a primary-rate user
// and network side through loss and duplication, and the TEI management of
// a basic-rate user side. Each frame's direction, command or response, P/F,
// N(S) and N(R) must be what the sender meant, and tshark must find nothing
// to complain about.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/oracle.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/lapd_helper.hpp"
#include "sim/board_fixture.hpp"
#include "support/tshark.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

using ISDN::Side;
using LapdTest::Bytes;
using LapdTest::Decode;
using LapdTest::Link;

// A Q.931 message with call reference `cr`: STATUS ENQUIRY, or a SETUP with
// bearer capability and channel identification.
Bytes Q931(unsigned int i)
{
    const auto cr = static_cast<std::uint8_t>(1 + i % 100);
    if (i % 2 == 0)
        return {0x08, 0x01, cr, 0x75};
    return {0x08, 0x01, cr, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x01, 0x89};
}

std::string Num(int v)
{
    return std::to_string(v);
}

// What tshark must read in a frame that `sender` sent.
void Agree(const SigTest::TapFrame& frame, SigTest::Fields& row, const std::string& where)
{
    SCOPED_TRACE(where);
    const auto d = Decode(frame.bytes);
    const bool network = frame.direction == 'I';
    // Q.921 3.3.2: a command carries C/R 1 from the network, 0 from the user.
    const bool command = (d.cr == 1) == network;
    EXPECT_EQ(row["lapd.direction"], network ? "1" : "0");
    EXPECT_EQ(row["lapd.cr"], Num(d.cr));
    EXPECT_EQ(row["lapd.sapi"], Num(d.sapi));
    EXPECT_EQ(row["lapd.tei"], Num(d.tei));
    EXPECT_EQ(row["_ws.expert.message"], "");
    if (d.kind == "I" || d.kind == "SABME" || d.kind == "DISC" || d.kind == "UI") {
        EXPECT_TRUE(command) << d.kind << " sent as a response";
    }
    if (d.kind == "UA" || d.kind == "DM") {
        EXPECT_FALSE(command) << d.kind << " sent as a command";
    }
    const std::string pf = command ? "lapd.control.p" : "lapd.control.f";
    const std::string other = command ? "lapd.control.f" : "lapd.control.p";
    // tshark leaves a clear P bit of I and U frames out.
    if (d.pf == 1 || row[pf] != "") {
        EXPECT_EQ(row[pf], Num(d.pf)) << d.kind;
    }
    EXPECT_EQ(row[other], "") << d.kind;
    if (d.kind == "I") {
        EXPECT_EQ(row["lapd.control.n_s"], Num(d.ns));
        EXPECT_EQ(row["lapd.control.n_r"], Num(d.nr));
    } else if (d.kind == "RR" || d.kind == "RNR" || d.kind == "REJ") {
        EXPECT_EQ(row["lapd.control.n_r"], Num(d.nr));
        EXPECT_EQ(row["lapd.control.n_s"], "");
    } else {
        EXPECT_NE(row[command ? "lapd.control.u_modifier_cmd" : "lapd.control.u_modifier_resp"], "")
            << d.kind;
    }
}

class LapdTshark : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestTshark::Available());
        Mux::test::freeze_at(LapdTest::kStartUs);
        pair.a.direction = 'O';
        pair.b.direction = 'I';
        pair.SetTap(&tap);
    }

    SimTest::Capture log{std::clog};
    SigTest::LoopbackHdlc pair{"user", "network"};
    SigTest::Tap tap;
};

TEST_F(LapdTshark, PrimaryRateThroughLossAndDuplication)
{
    Link user(pair.a, Side::user);
    Link net(pair.b, Side::network);
    pair.a.Seed(3);
    pair.b.Seed(4);
    for (SigTest::End* e : {&pair.a, &pair.b}) {
        e->DropFraction(0.10);
        e->DuplicateFraction(0.05);
    }
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    constexpr unsigned int kMessages = 60;
    for (unsigned int i = 0; i < kMessages; ++i) {
        user.Send(Q931(i));
        net.Send(Q931(1000 + i));
        if (i % 10 == 9) {
            ASSERT_TRUE(SigTest::RunFor(300));
        }
    }
    for (int i = 0; i < 100 && (user.received.size() < kMessages || net.received.size() < kMessages); ++i)
        ASSERT_TRUE(SigTest::RunFor(500));
    ASSERT_EQ(net.received.size(), kMessages);
    ASSERT_EQ(user.received.size(), kMessages);
    for (SigTest::End* e : {&pair.a, &pair.b}) {
        e->DropFraction(0);
        e->DuplicateFraction(0);
    }
    ASSERT_TRUE(SigTest::RunFor(12000)); // both sides poll
    user.deactivate();
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(net.lapd().full_state().state, 3u);

    std::set<std::string> kinds;
    for (const auto& f : tap.frames())
        kinds.insert(f.from + " " + Decode(f.bytes).kind);
    for (const char* k :
         {"user SABME", "network UA", "user I", "network I", "user RR", "network RR", "user DISC"})
        EXPECT_EQ(kinds.count(k), 1u) << k;
    EXPECT_TRUE(kinds.count("user REJ") + kinds.count("network REJ") > 0);

    std::string errors;
    auto rows = SigTest::LapdFields(tap.frames(), true, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), tap.frames().size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& frame = tap.frames()[i];
        Agree(frame, rows[i], "frame " + std::to_string(i) + " from " + frame.from);
        if (Decode(frame.bytes).kind == "I") {
            const std::uint8_t type = frame.bytes[7];
            EXPECT_EQ(rows[i]["q931.message_type"], type == 0x75 ? "0x75" : "0x05") << "frame " << i;
            char ref[3];
            std::snprintf(ref, sizeof ref, "%02x", frame.bytes[6]);
            EXPECT_EQ(rows[i]["q931.call_ref"], ref);
        }
    }
}

TEST_F(LapdTshark, BasicRateTeiManagement)
{
    Link user(pair.a, Side::user);
    user.lapd().change_to_bri();
    user.lapd().ri_source = [] { return std::uint16_t{0xA15C}; };
    user.lapd().mdl_remove();
    user.activate();
    ASSERT_TRUE(SigTest::Settle());
    auto send = [&](const Bytes& f) {
        ASSERT_TRUE(pair.b.Send(f));
        ASSERT_TRUE(SigTest::Settle());
    };
    send({0xFE, 0xFF, 0x03, 0x0F, 0x5C, 0xA1, 0x02, 0x81}); // identity assigned, TEI 64
    send({0x00, 0x81, 0x73});                               // UA
    send({0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x04, 0xFF}); // identity check request
    user.Send({0x08, 0x01, 0x01, 0x75});
    ASSERT_TRUE(SigTest::Settle());
    ASSERT_EQ(user.lapd().full_state().state, 6u);

    std::string errors;
    auto rows = SigTest::LapdFields(tap.frames(), true, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), tap.frames().size());
    std::vector<std::string> tei;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& frame = tap.frames()[i];
        Agree(frame, rows[i], "frame " + std::to_string(i) + " from " + frame.from);
        if (frame.from == "user" && rows[i]["tei.msg"] != "")
            tei.push_back(rows[i]["tei.msg"] + "/" + rows[i]["tei.reference"] + "/" + rows[i]["tei.action"]);
    }
    // Ri goes low octet first, so tshark (which reads it high octet first)
    // shows it with its octets swapped: 0xA15C reads 0x5CA1 = 23713.
    EXPECT_EQ(tei, (std::vector<std::string>{"1/23713/127", "5/23713/64"}));
    EXPECT_EQ(rows[2]["lapd.tei"], "64");
    EXPECT_NE(rows[2]["lapd.control.u_modifier_cmd"], "");
}

// The basic-rate network side on a bus of three of the project's terminals:
// assignment, establishment, data both ways, a TEI check and a verify, and
// identity denied and remove. Every frame the bus carried must read cleanly.
TEST(LapdNtTshark, BasicRateNetworkSide)
{
    ASSERT_TRUE(TestTshark::Available());
    Mux::test::freeze_at(LapdTest::kStartUs);
    SimTest::Capture log{std::clog};
    SigTest::MultipointHdlc bus{3};
    SigTest::Tap tap;
    bus.network().direction = 'I';
    for (unsigned int i = 0; i < 3; ++i)
        bus.terminal(i).direction = 'O';
    bus.SetTap(&tap);

    LapdTest::NtLink net{bus.network(), 0};
    net.activate();

    std::vector<std::unique_ptr<Link>> terms;
    for (unsigned int i = 0; i < 3; ++i) {
        auto& t = *terms.emplace_back(std::make_unique<Link>(bus.terminal(i), Side::user));
        t.StartBasicRate(static_cast<std::uint16_t>(0x2100 + i));
        ASSERT_TRUE(SigTest::RunFor(100));
        ASSERT_EQ(t.lapd().full_state().state, 6u);
    }
    terms[1]->Send(Q931(4));
    ASSERT_TRUE(SigTest::RunFor(100));
    net.Send({0x08, 0x01, 0x85, 0x02});
    ASSERT_TRUE(SigTest::RunFor(12000));                                                 // polls both ways
    ASSERT_TRUE(bus.terminal(0).Send({0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x07, 0x81})); // verify
    ASSERT_TRUE(bus.terminal(0).Send({0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x01, 0x01, 0x8D})); // Ai 70: denied
    ASSERT_TRUE(SigTest::RunFor(3000));
    for (auto& t : terms)
        t->deactivate();
    ASSERT_TRUE(SigTest::Settle());
    net.deactivate();

    std::string errors;
    auto rows = SigTest::LapdFields(tap.frames(), true, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), tap.frames().size());
    std::set<std::string> tei;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& frame = tap.frames()[i];
        Agree(frame, rows[i], "frame " + std::to_string(i) + " from " + frame.from);
        if (rows[i]["tei.msg"] != "")
            tei.insert(frame.from + " " + rows[i]["tei.msg"] + "/" + rows[i]["tei.action"]);
    }
    for (const char* k : {"network 2/64", "network 2/65", "network 2/66", "network 4/127", "network 3/70",
                          "terminal0 5/64", "terminal1 5/65", "terminal2 5/66"})
        EXPECT_EQ(tei.count(k), 1u) << k;
}

} // namespace
