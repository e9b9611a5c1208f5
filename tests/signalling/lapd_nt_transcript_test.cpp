// The basic-rate network side on a bus of two of the project's terminals and
// one scripted far end, pinned as a golden transcript: every frame on the
// bus with its loop-clock time and sender, and every line the network side
// logs, step by step. A changed octet, timer or log text shows as a diff.
//
// To change the exchange, edit the steps, run
//   GW_TRANSCRIPT_UPDATE=1 ./signalling_tests --gtest_filter='LapdNtTranscript.*'
// which rewrites tests/signalling/golden/lapd_nt_bus.ok, and read the file
// before committing.

#include "core/clock.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/kit/tap.hpp"
#include "signalling/lapd_helper.hpp"
#include "sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using LapdTest::Bytes;

std::string GoldenPath()
{
    char const* dir = std::getenv("GW_SOURCE_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/tests/signalling/golden/lapd_nt_bus.ok";
}

// A frame as a reader of the trace wants it: TEI management by message type
// (Q.921 Table 8), Ri as sent (low octet first); other frames by their
// address and control fields.
std::string Describe(Bytes const& f)
{
    static char const* const kTei[8] = {"?",
                                        "identity request",
                                        "identity assigned",
                                        "identity denied",
                                        "check request",
                                        "check response",
                                        "identity remove",
                                        "identity verify"};
    auto const d = LapdTest::Decode(f);
    std::ostringstream s;
    if (d.kind == "UI" && d.sapi == 63 && f.size() == 8 && f[3] == 0x0F) {
        char ri[8];
        std::snprintf(ri, sizeof ri, "%04X", static_cast<unsigned int>(f[4] | f[5] << 8));
        s << (f[6] < 8 ? kTei[f[6]] : "?") << " Ri=" << ri << " Ai=" << (f[7] >> 1);
        return s.str();
    }
    s << d.kind << " sapi=" << d.sapi << " tei=" << d.tei << " c/r=" << d.cr;
    if (d.pf >= 0)
        s << " p/f=" << d.pf;
    if (d.ns >= 0)
        s << " N(S)=" << d.ns;
    if (d.nr >= 0)
        s << " N(R)=" << d.nr;
    return s.str();
}

class LapdNtTranscript : public ::testing::Test {
protected:
    void SetUp() override
    {
        Mux::test::freeze_at(LapdTest::kStartUs);
        bus.SetTap(&tap);
    }
    void TearDown() override { Mux::test::thaw(); }

    LapdTest::Link& Start(unsigned int i)
    {
        auto& l = *terms.emplace_back(std::make_unique<LapdTest::Link>(bus.terminal(i), ISDN::Side::user));
        l.StartBasicRate(static_cast<std::uint16_t>(0x4A00 + i));
        return l;
    }

    // Closes a step: its title, the frames the bus carried and the lines
    // the network side logged since the last one.
    void Step(std::string const& title)
    {
        text << "# " << title << "\n";
        auto const& frames = tap.frames();
        for (; framesSeen < frames.size(); ++framesSeen) {
            auto const& f = frames[framesSeen];
            char head[40];
            std::snprintf(head, sizeof head, "%6u %-9s",
                          static_cast<unsigned int>((f.time_us - LapdTest::kStartUs) / 1000u),
                          f.from.c_str());
            text << head;
            for (std::uint8_t o : f.bytes) {
                char h[4];
                std::snprintf(h, sizeof h, " %02X", o);
                text << h;
            }
            text << "\n         " << Describe(f.bytes) << "\n";
        }
        // The terminals' own lines belong to their data link's tests.
        std::istringstream logged(log.str());
        log.clear();
        for (std::string line; std::getline(logged, line);)
            if (line.rfind("LAPD(NT BRI)", 0) == 0 || line.rfind("LAPD_user(NT BRI)", 0) == 0)
                text << "log " << line << "\n";
    }

    SimTest::Capture log{std::clog};
    SigTest::MultipointHdlc bus{3};
    SigTest::Tap tap;
    LapdTest::NtLink net{bus.network(), 2};
    LapdTest::Script far{bus.terminal(2)};
    std::vector<std::unique_ptr<LapdTest::Link>> terms;
    std::ostringstream text;
    std::size_t framesSeen = 0;
};

TEST_F(LapdNtTranscript, BasicRateBus)
{
    net.activate();
    ASSERT_TRUE(SigTest::Settle());
    Step("the network side starts with a check of every TEI");

    Start(0);
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("terminal 0 asks for a TEI and gets 64; its link establishes");
    Start(1);
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("terminal 1 gets 65");

    terms[1]->Send({0x08, 0x01, 0x05, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3});
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("terminal 1's first I frame binds call reference 5");
    net.Send({0x08, 0x01, 0x85, 0x02, 0x18, 0x01, 0x89});
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("layer 3 answers on call reference 5: to terminal 1 only");
    net.Send({0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3});
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("a SETUP from layer 3 is broadcast on TEI 127");
    net.Send({0x08, 0x01, 0x86, 0x4D});
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("a message for a call reference that no terminal holds is dropped");

    ASSERT_TRUE(far.Send(LapdTest::Management(0xFC, 0x0101, 1, 70)));
    ASSERT_TRUE(far.Send(LapdTest::Management(0xFC, 0x0102, 1, 10)));
    ASSERT_TRUE(far.Send(LapdTest::Management(0xFC, 0x0000, 7, 65)));
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("identity requests with Ai 70 (denied) and Ai 10 (no answer); a verify of TEI 65");

    ASSERT_TRUE(far.Send({0x00, 0xB5, 0x01, 0x00}));
    ASSERT_TRUE(SigTest::RunFor(5000));
    Step("a frame from TEI 90, which nobody holds: a free user adopts 90 and sends SABME");

    ASSERT_TRUE(SigTest::RunFor(10000));
    Step("idle links are polled from both sides; TEI 90 never answers its polls and is withdrawn");
    ASSERT_TRUE(SigTest::RunFor(50000));
    Step("polls every 10 s, then the minute's check of every TEI, answered by both terminals");

    terms[0]->deactivate();
    ASSERT_TRUE(SigTest::RunFor(100));
    Step("terminal 0 releases its link but keeps TEI 64");
    terms[1]->deactivate();
    ASSERT_TRUE(SigTest::RunFor(100));
    net.deactivate();
    ASSERT_TRUE(SigTest::Settle());
    Step("terminal 1 releases its link, and the network side stops without a word");

    std::string const path = GoldenPath();
    char const* update = std::getenv("GW_TRANSCRIPT_UPDATE");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::trunc) << text.str();
        std::printf("%s rewritten\n", path.c_str());
        return;
    }
    std::ifstream in(path);
    ASSERT_TRUE(in.good()) << "no transcript at " << path;
    std::ostringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(expected.str(), text.str());
}

} // namespace
