// Mixer ports end to end: build/server on the simulated board, driven over
// the control port, with the board's mixer units, DSPs and request log read
// through its control socket. The plain create exchange is pinned in
// transcripts/mixer_out.ok; here are the driver records, the detectors and
// a unit that vanishes under its ports.

#include "mixer_params.hpp"
#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using E2E::Bytes;
using E2E::LgcpHost;
using E2E::ServerProcess;
using SlotsTest::DigitsOneTwo;
using SlotsTest::MixChannel;
using SlotsTest::MixerIn;
using SlotsTest::MixerOut;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// The host's side: commands with increasing seq, and what it hears as value
// notation (trunk reports left out).
class Host {
public:
    explicit Host(ServerProcess& server) : host_(server.port()) {}

    // The command, then everything heard up to its response (included).
    Lines Exchange(int slot, LGCP::Command const& command)
    {
        LGCP::Message m = E2E::Command(++seq_, slot);
        m.get_pdu().set_command(command);
        host_.Send(E2E::Encode(m));
        std::string const tag = "{ seq " + std::to_string(seq_) + ",";
        return Until([&](std::string const& s) { return s.rfind(tag, 0) == 0; });
    }
    Lines Create(int slot, LGCP::CreateParams const& params)
    {
        LGCP::Command c;
        c.set_create(params);
        return Exchange(slot, c);
    }
    Lines Destroy(int slot)
    {
        LGCP::Command c;
        c.set_destroy();
        return Exchange(slot, c);
    }
    Lines Query()
    {
        LGCP::Command c;
        c.set_query();
        Lines out = Exchange(-1, c);
        for (auto const& s :
             Until([](std::string const& s) { return s.find("signal : query") != std::string::npos; }))
            out.push_back(s);
        return out;
    }
    Lines Ioctl(int slot, LGCP::IoctlParams const& p)
    {
        LGCP::Command c;
        c.set_ioctl(p);
        return Exchange(slot, c);
    }
    // Messages until one satisfies `last` (included), within a bound.
    template <class F>
    Lines Until(F last, int ms = 5000)
    {
        Lines out;
        auto const until = Clock::now() + std::chrono::milliseconds(E2E::Patience(ms));
        while (Clock::now() < until) {
            Bytes const payload = host_.Next(50);
            if (payload.empty())
                continue;
            out.push_back(E2E::Notation(payload));
            if (last(out.back()))
                break;
        }
        return out;
    }
    int seq() const { return seq_; }

private:
    LgcpHost host_;
    int seq_ = 0;
};

std::string Response(int seq, int slot, std::string const& what)
{
    return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : " + what +
           " }";
}

// The board's request log lines of one device.
Lines Log(ServerProcess& server, std::string const& device)
{
    Lines out;
    std::istringstream in(server.Ask("log"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind(device + " ", 0) == 0)
            out.push_back(line);
    return out;
}

// The last word of an "ok N" answer.
int OkNumber(std::string const& answer)
{
    return std::stoi(answer.substr(answer.rfind(' ') + 1));
}

class MixerEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(server_.port(), 0);
        host_ = std::make_unique<Host>(server_);
    }
    ServerProcess server_{E2E::Options{.setup = "/dev/mixer unit remove 0;/dev/mixer unit remove 1;"
                                                "/dev/mixer unit add 0 32 16;/dev/mixer unit add 1 24 8"}};
    std::unique_ptr<Host> host_;
};

TEST_F(MixerEnd, InputRecordsAreExactAndEachRequestOpensTheDevice)
{
    EXPECT_EQ(host_->Create(5, MixerIn(0, {true, 3})),
              Lines{Response(1, 5, "error : insufficientResources")});
    EXPECT_EQ(host_->Create(5, MixerOut(0, {true, 3})),
              Lines{Response(2, 5, "error : insufficientResources")});
    auto q = host_->Query();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_NE(q[1].find("mixer { { unit 0, tdm_inputs 24, tdm_outputs 24, mixer_inputs 8, dpu_per_mixer 770, "
                        "dpu_per_ec 17, dpu_per_lms 24 }, { unit 1,"),
              std::string::npos)
        << q[1];

    ASSERT_EQ(server_.Ask("log clear"), "ok\n");
    int const opens = OkNumber(server_.Ask("count /dev/mixer open"));
    LGCP::CreateParams in = MixerIn(0, {true, 3}, MixChannel{true, 5}, std::pair{true, false});
    EXPECT_EQ(host_->Create(5, in), Lines{Response(4, 5, "success : NULL")});
    int const ts = OkNumber(server_.Ask("/dev/mixer timeslot 0 3"));
    Lines log = Log(server_, "/dev/mixer");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "/dev/mixer 0x800c4d06 0 0 3 = " + std::to_string(ts));
    EXPECT_EQ(log[3], "/dev/mixer 0x801c4d03 0 0 5 0 0 3 32767 = 0");
    EXPECT_EQ(OkNumber(server_.Ask("count /dev/mixer open")), opens + 2);
    EXPECT_EQ(server_.Ask("opens /dev/mixer"), "ok 0\n");
    // Echo cancelling on its time slot.
    EXPECT_NE(server_.Ask("/dev/dtmf slot " + std::to_string(ts)).find(" lms 1 "), std::string::npos);

    // Channel 24 lies past the smallest unit.
    EXPECT_EQ(host_->Create(6, MixerIn(0, {true, 24})),
              Lines{Response(5, 6, "error : insufficientResources")});
    ASSERT_EQ(server_.Ask("log clear"), "ok\n");
    EXPECT_EQ(host_->Destroy(5), Lines{Response(6, 5, "success : NULL")});
    log = Log(server_, "/dev/mixer");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "/dev/mixer 0x801c4d04 0 0 5 0 0 3 0 = 0");
    EXPECT_EQ(Log(server_, "/dev/hal"), Lines{"/dev/hal 0x80044d03 " + std::to_string(ts) + " = 0"});
}

TEST_F(MixerEnd, PortsReportTheirDetectorsAndTheEndOfADigitString)
{
    host_->Query();
    EXPECT_EQ(host_->Create(5, MixerOut(1, {true, 2}, {{{true, 1}, 100}})),
              Lines{Response(2, 5, "success : NULL")});
    EXPECT_EQ(host_->Create(6, MixerIn(1, {true, 1})), Lines{Response(3, 6, "success : NULL")});
    int const out_ts = OkNumber(server_.Ask("/dev/mixer timeslot 1 2"));
    int const in_ts = OkNumber(server_.Ask("/dev/mixer timeslot 1 1"));

    LGCP::IoctlParams p;
    p.set_dtmf_disable();
    EXPECT_EQ(host_->Ioctl(5, p), Lines{Response(4, 5, "error : unsupported")});
    p.select_tone_gen_enable().set_freq(1000);
    p.select_tone_gen_enable().set_amp(50);
    EXPECT_EQ(host_->Ioctl(5, p), Lines{Response(5, 5, "success : NULL")});
    EXPECT_NE(server_.Ask("/dev/dtmf slot " + std::to_string(out_ts)).find(" tone 1000 0 50 0"),
              std::string::npos);

    // "12" on the output: the host hears when it has been played.
    p.set_translateDTMF(DigitsOneTwo(40, 40));
    EXPECT_EQ(host_->Ioctl(5, p), Lines{Response(6, 5, "success : NULL")});
    std::string const done = "{ slot 5, pdu signal : tonec : { timestamp 0, event dtmfDone : NULL } }";
    EXPECT_EQ(host_->Until([&](std::string const& s) { return s == done; }), Lines{done});

    // A DTMF event on the input's time slot after dtmf-enable.
    p.set_dtmf_enable(true);
    EXPECT_EQ(host_->Ioctl(6, p), Lines{Response(7, 6, "success : NULL")});
    std::string const slot = server_.Ask("/dev/dtmf slot " + std::to_string(in_ts));
    std::string const id = slot.substr(slot.find(" id ") + 4, slot.find(" lms") - slot.find(" id ") - 4);
    EXPECT_EQ(server_.Ask("/dev/dtmf event " + std::to_string(in_ts) + " 5 777 " + id), "ok 1\n");
    Lines heard = host_->Until([](std::string const& s) { return s.find("tonec") != std::string::npos; });
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].rfind("{ slot 6, pdu signal : tonec : { timestamp 777, event ", 0), 0u) << heard[0];
}

TEST_F(MixerEnd, UnitRemovedBetweenQueriesAbortsItsPortsUntilTheyAreDestroyed)
{
    host_->Query();
    host_->Create(4, MixerIn(1, {true, 1}));
    host_->Create(5, MixerOut(1, {true, 2}));
    ASSERT_EQ(server_.Ask("/dev/mixer unit remove 1"), "ok\n");
    auto q = host_->Query();
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[1], "{ slot 4, pdu signal : abort : 0 }");
    EXPECT_EQ(q[2], "{ slot 5, pdu signal : abort : 0 }");
    EXPECT_EQ(q[3].find("{ unit 1,"), std::string::npos);
    EXPECT_EQ(host_->Create(6, MixerIn(1, {true, 3})),
              Lines{Response(5, 6, "error : insufficientResources")});
    EXPECT_EQ(host_->Destroy(5), Lines{Response(6, 5, "success : NULL")});
    EXPECT_EQ(host_->Destroy(4), Lines{Response(7, 4, "success : NULL")});
    // The server is still well.
    EXPECT_EQ(host_->Query().size(), 2u);
}

TEST_F(MixerEnd, WalkIsBoundedAndNonsenseCountsAreLeftOut)
{
    ASSERT_EQ(server_.Ask("/dev/mixer unit add 2 1000000 8"), "ok\n");
    auto q = host_->Query();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_TRUE(server_.Logged("mixer: unit 2 reports 1000000 tdm channels and 8 mixer inputs, ignored"));
    EXPECT_EQ(q[1].find("unit 2,"), std::string::npos);
    ASSERT_EQ(server_.Ask("/dev/mixer forever on"), "ok\n");
    q = host_->Query();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_NE(q[1].find("{ unit 100,"), std::string::npos);
    EXPECT_EQ(q[1].find("{ unit 101,"), std::string::npos);
}

} // namespace
