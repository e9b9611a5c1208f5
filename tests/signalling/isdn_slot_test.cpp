// The ISDN and QSIG signalling slots in process, on the simulated board and
// the test clock: the controller allocation and its failures, the link's
// establishment and release through the switch, flow control on a full
// channel, the end of a channel's stream, user data both ways, the trace
// lines, and the QSIG D channel with its B channels.

#include "signalling/isdn_slot.hpp"

#include "isdn_params.hpp"
#include "lapd_helper.hpp"
#include "signalling/kit/runner.hpp"
#include "slots/slots_fixture.hpp"

#include "core/traces.hpp"
#include "sim/dsp_data.hpp"
#include "sim/mcc.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <poll.h>

using namespace SlotsTest;
using IsdnTest::Activate;
using IsdnTest::Isdn;
using IsdnTest::Qsig;
using IsdnTest::QsigB;
using LapdTest::Bytes;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;

constexpr int kTrunkChannel = 3; // trunk 0, time slot 3
constexpr int kFirstController = 300;

LGCP::Command Deactivate()
{
    LGCP::Command c;
    c.set_deactivate();
    return c;
}

LGCP::Command UserData(Bytes const& bytes)
{
    return IsdnTest::UserData(std::string(bytes.begin(), bytes.end()));
}

// A frame of the far end (Q.921 3.3.3: C/R is 1 in the network's commands
// and in the user's responses), SAPI 0, TEI 0.
Bytes Frame(bool far_is_network, bool command, std::initializer_list<std::uint8_t> control, Bytes info = {})
{
    bool const cr = far_is_network == command;
    // Sized first: g++ 12 at -O2 misreads inserts after the two address
    // octets as an overflow (-Warray-bounds).
    Bytes f(2 + control.size() + info.size());
    f[0] = cr ? 0x02 : 0x00;
    f[1] = 0x01;
    std::copy(control.begin(), control.end(), f.begin() + 2);
    std::copy(info.begin(), info.end(), f.begin() + 2 + static_cast<std::ptrdiff_t>(control.size()));
    return f;
}

std::vector<std::string> Kinds(std::vector<Sim::Mcc::Frame> const& frames)
{
    std::vector<std::string> out;
    for (auto const& f : frames)
        out.push_back(LapdTest::Decode(Bytes(f.begin(), f.end())).kind);
    return out;
}

// Signals other than the announcements, as text, for the slot.
Lines SignalsOf(std::vector<Received> const& messages, std::uint32_t slot)
{
    Lines out;
    for (auto const& m : messages)
        if (m.kind == Received::Signal && m.slot == slot)
            out.push_back(m.Text());
    return out;
}

std::string SideOf(Received const& m)
{
    std::ostringstream os;
    ASN1::operator<<(os, m.signal.get_ioctl().get_isdnLinkInfo().get_side());
    return os.str();
}

class IsdnSlots : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        // Writes to a channel the board closed fail with EPIPE, as in the
        // program, instead of ending the test.
        old_pipe_ = std::signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override
    {
        traces.Reset();
        Fixture::TearDown();
        std::signal(SIGPIPE, old_pipe_);
    }

    Sim::Mcc& mcc() { return board().device<Sim::Mcc>(); }
    Sim::DspData& dsp() { return board().device<Sim::DspData>(); }
    IsdnSlot* isdn(unsigned int n) { return dynamic_cast<IsdnSlot*>(slot(n)); }

    // An `isdn` slot 10 tied both ways to trunk slot 3; what was heard so far
    // is dropped.
    void Wired(LGCP::CreateParams const& params)
    {
        auto const created = host().Create(10, params);
        ASSERT_EQ(created.size(), 1u);
        ASSERT_EQ(created[0].kind, Received::Success);
        host().Create(3, Trunk(0, kTrunkChannel));
        host().Connect(10, 3);
        host().Connect(3, 10);
        host().Take();
    }
    // Runs the loop (pumping the board) and collects what the host heard
    // and what reached the trunk's output.
    void Run(std::uint32_t ms = 0)
    {
        if (ms == 0)
            ASSERT_TRUE(SigTest::Settle());
        else
            ASSERT_TRUE(SigTest::RunFor(ms));
        Collect();
    }
    void Collect()
    {
        for (auto& r : host().Take())
            heard.push_back(r);
        for (auto& f : mcc().TakeSent(kTrunkChannel))
            sent.push_back(f);
    }
    void FromFar(Bytes const& frame)
    {
        ASSERT_EQ(mcc().Receive(kTrunkChannel, frame.data(), frame.size()), 1);
    }
    // Activation answered by the far end: the link is established.
    void Establish(bool far_is_network = true)
    {
        host().Exchange(Activate(), 10);
        Run();
        FromFar(Frame(far_is_network, false, {0x73})); // UA, F=1
        Run();
        sent.clear();
        heard.clear();
    }

    std::vector<Received> heard;
    std::vector<Sim::Mcc::Frame> sent;
    IsdnFactory isdn_;

private:
    void (*old_pipe_)(int) = nullptr;
};

TEST_F(IsdnSlots, ControllerPerRateWithItsTimeSlotBothWays)
{
    EXPECT_EQ(Texts(host().Create(10, Isdn(LGCP::IsdnType::pri, false))), Lines{"success seq=1 slot=10"});
    EXPECT_EQ(Texts(host().Create(11, Isdn(LGCP::IsdnType::bri, true))), Lines{"success seq=2 slot=11"});
    Lines allocations;
    for (auto const& r : board().Log())
        if (r.request == Sim::Mcc::kAllocate)
            allocations.push_back(Sim::Format(r));
    EXPECT_EQ(allocations, (Lines{"/dev/mcc/ctl 0x40144d00 0 512 0 1 1 -> 0 512 0 1 1 = 0",
                                  "/dev/mcc/ctl 0x40144d00 1 512 0 1 1 -> 1 512 0 1 1 = 0"}));
    EXPECT_EQ(slot(10)->Label(), "10:MCC");
    EXPECT_EQ(slot(10)->IGetTransmitChannel(), kFirstController);
    EXPECT_EQ(slot(10)->IGetReceiveChannel(), kFirstController);
    EXPECT_EQ(slot(11)->IGetReceiveChannel(), kFirstController + 1);
    EXPECT_EQ(isdn(10)->lapd().id, 1u);
    EXPECT_FALSE(isdn(10)->lapd().is_bri());
    EXPECT_TRUE(isdn(11)->lapd().is_bri());
    EXPECT_EQ(isdn(11)->lapd().side, ISDN::Side::network);
    EXPECT_TRUE(isdn(10)->watched());
    // Every ioctl is refused.
    LGCP::Command ioctl;
    ioctl.select_ioctl().set_ss7RqBSN();
    EXPECT_EQ(Texts(host().Exchange(ioctl, 10)), Lines{"error unsupported seq=3 slot=10"});

    host().Destroy(10);
    host().Destroy(11);
    EXPECT_TRUE(mcc().Controllers().empty());
    EXPECT_TRUE(isdn_.slots.empty());
}

TEST_F(IsdnSlots, AllocationFailuresRefuseTheCreateAndHoldNothing)
{
    struct Case {
        std::uint32_t request;
        int error;
        std::string text;
    };
    for (Case const& c :
         {Case{Sim::kOpen, ENOENT, "mcc/isdn: fail to open MCC device: No such file or directory\n"},
          Case{Sim::Mcc::kAllocate, ENOSPC, "mcc/isdn: MCC_ALLOCATE fail: No space left on device\n"},
          Case{Sim::Mcc::kTimeslot, EIO, "mcc/isdn: MCC_TIMESLOT fail: Input/output error\n"}}) {
        board().Fail("/dev/mcc/ctl", c.request, 1, c.error);
        Capture err(std::cerr);
        auto r = host().Create(5, Isdn(LGCP::IsdnType::pri, false));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));
        EXPECT_EQ(err.str(), c.text);
        EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
        EXPECT_TRUE(isdn_.slots.empty());
    }
}

TEST_F(IsdnSlots, LinkComesUpReportsItsSideAndGoesDown)
{
    for (bool network : {false, true}) {
        SCOPED_TRACE(network ? "network" : "user");
        Wired(Isdn(LGCP::IsdnType::pri, network));
        auto const activated = Texts(host().Exchange(Activate(), 10));
        EXPECT_EQ(activated, Lines{"success seq=" + std::to_string(host().LastSeq()) + " slot=10"});
        Run();
        ASSERT_EQ(Kinds(sent), Lines{"SABME"});
        EXPECT_EQ(sent[0][0], network ? 0x02 : 0x00); // a command from this side
        FromFar(Frame(!network, false, {0x73}));
        Run();
        Lines signals = SignalsOf(heard, 10);
        ASSERT_EQ(signals.size(), 2u) << ::testing::PrintToString(signals);
        EXPECT_EQ(signals[0].rfind("signal slot=10 ioctl : isdnLinkInfo : ", 0), 0u) << signals[0];
        EXPECT_EQ(SideOf(heard[heard.size() - 2]), network ? "network" : "user");
        EXPECT_EQ(signals[1], "signal slot=10 activated : NULL");

        sent.clear();
        heard.clear();
        host().Exchange(Deactivate(), 10);
        Run();
        EXPECT_EQ(Kinds(sent), Lines{"DISC"});
        FromFar(Frame(!network, false, {0x73}));
        Run();
        signals = SignalsOf(heard, 10);
        ASSERT_FALSE(signals.empty());
        EXPECT_EQ(signals.back(), "signal slot=10 deactivated : networkError");

        host().Destroy(10);
        host().Destroy(3);
        sent.clear();
        heard.clear();
    }
}

TEST_F(IsdnSlots, UserDataBothWaysAndWhatDoesNotFitAFrame)
{
    Wired(Isdn(LGCP::IsdnType::pri, false));
    Establish();
    Bytes const setup{0x08, 0x02, 0x00, 0x01, 0x05, 0xA1};
    host().Exchange(UserData(setup), 10);
    Run();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Bytes(sent[0].begin() + 4, sent[0].end()), setup);
    EXPECT_EQ(LapdTest::Decode(Bytes(sent[0].begin(), sent[0].end())).ns, 0);

    // An I frame from the network: its information field reaches the host.
    Bytes const connect{0x08, 0x02, 0x80, 0x01, 0x07};
    FromFar(Frame(true, true, {0x00, 0x02}, connect)); // N(S) 0, N(R) 1
    Run();
    bool got = false;
    for (auto const& m : heard)
        if (m.kind == Received::Signal && m.signal.is_userData())
            got = std::string(m.signal.get_userData()) == std::string(connect.begin(), connect.end());
    EXPECT_TRUE(got);

    // More than an I frame carries is refused and nothing of it leaves; a
    // frame the channel fails to write is lost, not waiting.
    sent.clear();
    Capture err(std::cerr);
    auto const refused = Texts(host().Exchange(UserData(Bytes(ISDN::LAPD::N201 + 1, 0x55)), 10));
    EXPECT_EQ(refused, Lines{"error unsupported seq=" + std::to_string(host().LastSeq()) + " slot=10"});
    host().Exchange(UserData(Bytes(ISDN::LAPD::N201, 0x55)), 10);
    Run();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), ISDN::LAPD::N201 + 4);
    Packet huge;
    huge.reserve_head(0);
    huge.put(Bytes(9000, 0x55).data(), 9000);
    EXPECT_FALSE(isdn(10)->hdlc_transmit(huge));
    EXPECT_TRUE(isdn(10)->transmit_failed());
    EXPECT_EQ(err.str(), "isdn-slot[300]: user data of 261 octets is longer than an information field (260 "
                         "octets), refused\n"
                         "isdn-slot[300]: write error: Message too long, frame of 9000 octets dropped\n");
}

TEST_F(IsdnSlots, FullChannelWaitsForOutputAndQueuedFramesLeaveInOrder)
{
    Wired(Isdn(LGCP::IsdnType::pri, false));
    Establish();
    IsdnSlot* s = isdn(10);
    Capture log(std::clog);
    // Nobody takes the frames: the channel fills after a few, once the far
    // end's acknowledgement of the first seven has opened the window again.
    for (unsigned int i = 0; i < 14; ++i)
        host().Exchange(UserData(LapdTest::Numbered(i, ISDN::LAPD::N201)), 10);
    FromFar(Frame(true, false, {0x01, 7 << 1})); // RR response, N(R) 7
    for (int i = 0; i < 5; ++i)
        Mux::test::run_once(0);
    EXPECT_FALSE(s->is_ready());
    EXPECT_EQ(s->polled(), POLLIN | POLLOUT);
    EXPECT_LT(s->lapd().full_state().vs.value(), 14u);

    // Once the board takes them, the channel is writable again and the rest
    // follow.
    for (int i = 0; i < 20 && s->lapd().full_state().vs.value() < 14u; ++i) {
        mcc().Pump();
        Mux::test::run_once(0);
    }
    Run();
    EXPECT_EQ(s->polled(), POLLIN);
    EXPECT_TRUE(s->is_ready());
    ASSERT_EQ(sent.size(), 14u);
    for (unsigned int i = 0; i < 14; ++i) {
        Bytes const f(sent[i].begin(), sent[i].end());
        EXPECT_EQ(LapdTest::Decode(f).ns, static_cast<int>(i));
        EXPECT_EQ(LapdTest::NumberOf(Bytes(f.begin() + 4, f.end())), i);
    }
}

TEST_F(IsdnSlots, EndOfTheStreamStopsTheWatchAndReleasesTheLinkOnce)
{
    for (char const* what : {"eof", "error"}) {
        SCOPED_TRACE(what);
        Wired(Isdn(LGCP::IsdnType::pri, false));
        Establish();
        std::size_t const events = multiplexer.event_count();
        Capture err(std::cerr);
        Capture log(std::clog);
        ASSERT_EQ(board().Command(std::string("/dev/mcc/ctl ") + what + " 300"), "ok\n");
        Run();
        std::string const text = err.str();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(text.rfind("isdn-slot[300]: read stopped: ", 0), 0u) << text;
        EXPECT_FALSE(isdn(10)->watched());
        EXPECT_EQ(multiplexer.event_count(), events - 1);
        // The link tries its DISC N200 + 1 times before it lets go.
        Run(5000);
        Lines signals = SignalsOf(heard, 10);
        EXPECT_EQ(std::count(signals.begin(), signals.end(), "signal slot=10 deactivated : networkError"), 1)
            << ::testing::PrintToString(signals);
        std::string const tries = log.str();
        std::size_t full = 0;
        for (std::size_t at = tries.find("tx full"); at != std::string::npos;
             at = tries.find("tx full", at + 1))
            ++full;
        EXPECT_EQ(full, static_cast<std::size_t>(ISDN::LAPD::N200 + 1)) << tries;
        EXPECT_EQ(isdn(10)->lapd().full_state().state, 3u);
        auto const destroyed = Texts(host().Destroy(10));
        EXPECT_EQ(destroyed, Lines{"success seq=" + std::to_string(host().LastSeq()) + " slot=10"});
        host().Destroy(3);
        heard.clear();
        sent.clear();
    }
}

TEST_F(IsdnSlots, TraceLinesForEachFrame)
{
    Wired(Isdn(LGCP::IsdnType::pri, false));
    traces[TraceCtl::signalling_isdn] = true;
    Capture log(std::clog);
    host().Exchange(Activate(), 10);
    Run();
    FromFar(Frame(true, false, {0x73}));
    Run();
    EXPECT_NE(log.str().find("isdn-slot[300]: : tx 00 01 7F"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("isdn-slot[300]: : rx 00 01 73"), std::string::npos) << log.str();
}

// ---------------------------------------------------------------- QSIG

std::vector<std::string> DspRequests(Sim::Board& board)
{
    std::vector<std::string> out;
    for (auto const& r : board.Log())
        if (r.device == "/dev/dsp-data" && r.request != Sim::kOpen)
            out.push_back(Sim::Format(r));
    return out;
}

TEST_F(IsdnSlots, QsigDChannelAndItsBChannels)
{
    ASSERT_EQ(Texts(host().Create(20, Qsig())), Lines{"success seq=1 slot=20"});
    EXPECT_EQ(slot(20)->Label(), "20:ATS-QSIG");
    EXPECT_EQ(slot(20)->IGetTransmitChannel(), 400);
    EXPECT_EQ(isdn(20)->lapd().id, 400u);
    EXPECT_EQ(DspRequests(board()), Lines{"/dev/dsp-data 0x40044211 0 -> 400 = 400"});

    board().ClearLog();
    EXPECT_EQ(Texts(host().Create(21, QsigB(20, 2))), Lines{"success seq=2 slot=21"});
    EXPECT_EQ(Texts(host().Create(22, QsigB(20, 1))), Lines{"success seq=3 slot=22"});
    EXPECT_EQ(DspRequests(board()), (Lines{"/dev/dsp-data 0x8008420f 1 4294967295 = 0",
                                           "/dev/dsp-data 0x8008420f 0 4294967295 = 0"}));
    EXPECT_EQ(slot(21)->Label(), "21:ATS-QSIG-B");
    EXPECT_EQ(slot(21)->IGetTransmitChannel(), 417);
    EXPECT_EQ(slot(21)->IGetReceiveChannel(), 417);
    EXPECT_EQ(slot(22)->IGetReceiveChannel(), 416);
    // A B channel held already is refused by the driver.
    Capture err(std::cerr);
    EXPECT_TRUE(host().Create(23, QsigB(20, 1))[0].IsError(LGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(err.str(), "ats-qsig: add B channel fail !!!\n");

    // A B slot connects like any other.
    host().Create(3, Trunk(0, 3));
    EXPECT_EQ(Texts(host().Connect(3, 21)).back(), "success seq=6 slot=3");
    EXPECT_EQ(Switch(417), "417 connected 3");

    board().ClearLog();
    host().Destroy(21);
    EXPECT_EQ(DspRequests(board()), Lines{"/dev/dsp-data 0x80084210 1 417 = 0"});
    EXPECT_EQ(board().Command("/dev/dsp-data bchannels"), "400 0 416\nok 1\n");

    // The signalling slot first: its B channels went with its descriptor.
    host().Destroy(20);
    EXPECT_EQ(board().Command("/dev/dsp-data bchannels"), "ok 0\n");
    Capture log(std::clog);
    board().ClearLog();
    host().Destroy(22);
    EXPECT_EQ(log.str(), "ats-qsig-b: Can't find signalling slot\n");
    EXPECT_TRUE(DspRequests(board()).empty());
    EXPECT_TRUE(isdn_.slots.empty());
}

TEST_F(IsdnSlots, QsigBRequestsThatNameNoLineChannelMakeNoDriverRequest)
{
    host().Create(20, Qsig());
    host().Create(3, Trunk(0, 3));
    board().ClearLog();
    // Past the fields' bounds (the decoder lets them through), or naming a
    // slot that is no QSIG D channel.
    for (auto const& [slot, subslot] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {20, 0}, {20, 4}, {20, 5}, {1024, 1}, {3, 1}, {30, 1}}) {
        SCOPED_TRACE(std::to_string(slot) + "/" + std::to_string(subslot));
        auto r = host().Create(21, QsigB(slot, subslot));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));
    }
    EXPECT_TRUE(DspRequests(board()).empty());
}

TEST_F(IsdnSlots, QsigFailuresRefuseTheCreateAndHoldNothing)
{
    Capture err(std::cerr);
    board().Fail("/dev/dsp-data", Sim::kOpen, 1, ENODEV);
    EXPECT_TRUE(host().Create(20, Qsig())[0].IsError(LGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(err.str(), "mcc/isdn: fail to open dsp-data device: No such device\n");
    err.clear();
    board().Fail("/dev/dsp-data", Sim::DspData::kTimeslot, 1, EIO);
    EXPECT_TRUE(host().Create(20, Qsig())[0].IsError(LGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(err.str(), "mcc/isdn: dsp-data time slot fail: Input/output error\n");
    EXPECT_EQ(board().OpenCount("/dev/dsp-data"), 0u);

    // A B channel the driver holds without a switch channel is given back.
    host().Create(20, Qsig());
    dsp().LeaveTimeslotUnset(1);
    err.clear();
    board().ClearLog();
    EXPECT_TRUE(host().Create(21, QsigB(20, 3))[0].IsError(LGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(err.str(), "ats-qsig: add B channel fail !!! (no time slot)\n");
    EXPECT_EQ(DspRequests(board()), (Lines{"/dev/dsp-data 0x8008420f 2 4294967295 = 0",
                                           "/dev/dsp-data 0x80084210 2 4294967295 = 0"}));
    EXPECT_EQ(board().Command("/dev/dsp-data bchannels"), "ok 0\n");
}

TEST_F(IsdnSlots, BSlotOfAnEarlierSignallingSlotLeavesTheNewOnesChannelsAlone)
{
    host().Create(20, Qsig());
    host().Create(21, QsigB(20, 1));
    host().Destroy(20);
    // The same number again, with the same line channel and B channel.
    host().Create(20, Qsig());
    host().Create(22, QsigB(20, 1));
    ASSERT_EQ(board().Command("/dev/dsp-data bchannels"), "400 0 416\nok 1\n");
    Capture log(std::clog);
    host().Destroy(21);
    EXPECT_EQ(log.str(), "ats-qsig-b: Can't find signalling slot\n");
    EXPECT_EQ(board().Command("/dev/dsp-data bchannels"), "400 0 416\nok 1\n");
    host().Destroy(22);
    EXPECT_EQ(board().Command("/dev/dsp-data bchannels"), "ok 0\n");
}

TEST_F(IsdnSlots, QsigLinkFramesGoThroughTheSwitch)
{
    ASSERT_EQ(Texts(host().Create(10, Qsig(true))), Lines{"success seq=1 slot=10"});
    host().Create(3, Trunk(0, kTrunkChannel));
    host().Connect(10, 3);
    host().Connect(3, 10);
    host().Take();
    host().Exchange(Activate(), 10);
    Run();
    ASSERT_EQ(Kinds(sent), Lines{"SABME"});
    FromFar(Frame(false, false, {0x73}));
    Run();
    Lines const signals = SignalsOf(heard, 10);
    ASSERT_FALSE(signals.empty());
    EXPECT_EQ(signals.back(), "signal slot=10 activated : NULL");
    EXPECT_EQ(board().Command("/dev/dsp-data slots"), "400 written 1 delivered 1\nok 1\n");
}

} // namespace
