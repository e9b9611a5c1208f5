// The control server: the envelope rules (seq and slot copied into the
// response, invalid slots, bodies that are not commands), dispatch in bind
// order, the reply rules, signals and their fan-out, and the heartbeat.
// Every exchange is pinned as octets (X.691 aligned PER of LGCP::Message).

#include "control/control_test_helper.hpp"
#include "control/ctrl_server.hpp"
#include "control/ctrl_service.hpp"
#include "control/heartbeat.hpp"
#include "support/lgcp_host.hpp"

#include <sstream>

#include <unistd.h>

using namespace ctltest;
using Bytes = E2E::Bytes;

namespace {

struct TestLink : Control::ServiceNet {
    bool ImplActivate() override { return true; }
    void ImplDeactivate() override { Release(); }
    void ImplOnDisconnect() override {}
};

// A later service: records what it is offered and answers as told.
struct Recorder : CtrlSrv::Service {
    enum Act { Pass, Silent, Succeed, SucceedTwice, SucceedThenFail, FailThenSucceed, Delay };
    Act act = Pass;
    std::vector<LGCP::Command::Alt> offered;
    std::vector<LGCP::Signal::Alt> signals;
    int connects = 0, disconnects = 0;
    unsigned int delayed_seq = 0;

    void OnConnect() override { ++connects; }
    void OnDisconnect() override { ++disconnects; }
    void OnSignal(LGCP::Signal const& s) override
    {
        signals.push_back(static_cast<LGCP::Signal::Alt>(s.currentSelection()));
    }
    bool OnCommand(LGCP::Command const& c) override
    {
        offered.push_back(static_cast<LGCP::Command::Alt>(c.currentSelection()));
        switch (act) {
        case Pass:
            return false;
        case Silent:
            break;
        case Succeed:
            Success();
            break;
        case SucceedTwice:
            Success();
            Success();
            break;
        case SucceedThenFail:
            Success();
            Error(LGCP::ErrorCause::unsupported);
            break;
        case FailThenSucceed:
            Error(LGCP::ErrorCause::unsupported);
            Success();
            Error(LGCP::ErrorCause::busError);
            break;
        case Delay:
            delayed_seq = delayResponse();
            break;
        }
        return true;
    }
};

// The TPKT payloads in what the host has received so far.
std::vector<Bytes> frames(int fd, bool* eof = nullptr)
{
    Bytes b = read_now(fd, eof);
    std::vector<Bytes> out;
    std::size_t i = 0;
    while (i + 4 <= b.size()) {
        std::size_t len = (std::size_t(b[i + 2]) << 8) | b[i + 3];
        if (b[i] != 3 || len < 4 || i + len > b.size())
            break;
        out.emplace_back(b.begin() + i + 4, b.begin() + i + len);
        i += len;
    }
    return out;
}

std::vector<Bytes> one(Bytes const& payload)
{
    return std::vector<Bytes>{payload};
}

Bytes frame(Bytes const& payload)
{
    return E2E::LgcpHost::Frame(payload);
}

// ping with seq 1: the frame of the first exchange of every session.
Bytes const ping_seq1{0x80, 0x01, 0x01, 0x18};
Bytes const success_seq1{0x80, 0x01, 0x01, 0x40};

struct ServerTest : LoopTest {
    void SetUp() override
    {
        LoopTest::SetUp();
        server.Bind(HeartBeatCtl::instance());
        server.Bind(&first);
        server.Bind(&second);
        link = new TestLink();
        server.Activate(link);
        INet4::Addr peer;
        peer.Assign("10.1.2.3:5000");
        link->Connected(Fd(sp.a), peer);
    }
    void TearDown() override
    {
        server.Deactivate();
        LoopTest::TearDown();
    }
    // The host sends one payload; the server's answers.
    std::vector<Bytes> exchange(Bytes const& payload)
    {
        write_all(sp.b, frame(payload));
        pass();
        return frames(sp.b);
    }
    SocketPair sp;
    CtrlSrv::Server server;
    Recorder first, second;
    TestLink* link = nullptr;
};

} // namespace

TEST_F(ServerTest, PingIsAnsweredByTheHeartbeatAndGoesNoFurther)
{
    EXPECT_EQ(first.connects, 1);
    EXPECT_EQ(exchange(ping_seq1), one(success_seq1));
    EXPECT_TRUE(first.offered.empty());
    EXPECT_TRUE(HeartBeatCtl::instance()->watching());
}

TEST_F(ServerTest, BodyThatIsNotACommandIsUnexpectedWithoutSlot)
{
    // seq 9, pdu signal `activated`.
    EXPECT_EQ(exchange({0x80, 0x01, 0x09, 0x85}), one({0x80, 0x01, 0x09, 0x64}));
    // seq 9, slot 5, pdu response `success`: still no slot in the answer.
    EXPECT_EQ(exchange({0xC0, 0x01, 0x09, 0x00, 0x05, 0x40}), one({0x80, 0x01, 0x09, 0x64}));
    EXPECT_TRUE(first.offered.empty());
}

TEST_F(ServerTest, SlotAbove1023IsInvalidAndReachesNoService)
{
    first.act = Recorder::Succeed;
    EXPECT_EQ(exchange({0x40, 0xFF, 0xFF, 0x18}), one({0x18, 0x80}));
    EXPECT_EQ(exchange({0x40, 0x04, 0x00, 0x00}), one({0x18, 0x80}));
    EXPECT_TRUE(first.offered.empty());
    // 1023 is a slot like any other and comes back in the answer.
    EXPECT_EQ(exchange({0x40, 0x03, 0xFF, 0x18}), one({0x40, 0x03, 0xFF, 0x40}));
}

TEST_F(ServerTest, CommandNoServiceTakesIsUnexpectedWithItsSeq)
{
    // protoVeze (14) with an empty packet list.
    EXPECT_EQ(exchange({0x80, 0x01, 0x05, 0x1C, 0x00}), one({0x80, 0x01, 0x05, 0x64}));
    // An extension alternative (index 15): open type of one octet.
    EXPECT_EQ(exchange({0x80, 0x01, 0x06, 0x20, 0x00, 0x01, 0x00}), one({0x80, 0x01, 0x06, 0x64}));
    EXPECT_EQ(first.offered.size(), 2u);
    EXPECT_EQ(second.offered.size(), 2u);
}

TEST_F(ServerTest, UndecodablePayloadIsLoggedInHexAndNotAnswered)
{
    Capture err(Capture::Err);
    EXPECT_TRUE(exchange({0xC0, 0x05}).empty());
    std::string text = err.text();
    EXPECT_NE(text.find("ctrl [10.1.2.3:5000]: receive fail: decode error!\n msg: C0 05 \n"),
              std::string::npos)
        << text;
    EXPECT_EQ(exchange(ping_seq1), one(success_seq1));
}

TEST_F(ServerTest, CommandTakenWithoutAnswerGetsInternal)
{
    first.act = Recorder::Silent;
    Capture err(Capture::Err);
    // query, seq 2.
    EXPECT_EQ(exchange({0x80, 0x01, 0x02, 0x00}), one({0x80, 0x01, 0x02, 0x65}));
    EXPECT_NE(err.text().find("ctrl [10.1.2.3:5000]: software error: server do NOT send ack!!!\n"),
              std::string::npos);
    EXPECT_TRUE(second.offered.empty()) << "the first service that takes a command owns it";
}

TEST_F(ServerTest, ReplyRulesAllowOneSuccessAndOneError)
{
    first.act = Recorder::SucceedTwice;
    EXPECT_EQ(exchange({0x80, 0x01, 0x02, 0x00}).size(), 1u);
    first.act = Recorder::SucceedThenFail;
    EXPECT_EQ(exchange({0x80, 0x01, 0x03, 0x00}),
              (std::vector<Bytes>{{0x80, 0x01, 0x03, 0x40}, {0x80, 0x01, 0x03, 0x66}}));
    first.act = Recorder::FailThenSucceed;
    EXPECT_EQ(exchange({0x80, 0x01, 0x04, 0x00}), one({0x80, 0x01, 0x04, 0x66}));
    // A late answer still belongs to the last command and obeys the same rules.
    first.Success();
    EXPECT_TRUE(frames(sp.b).empty());
}

TEST_F(ServerTest, CommandWithoutSeqIsAnsweredWithoutSeq)
{
    first.act = Recorder::Succeed;
    exchange({0x80, 0x01, 0x07, 0x00});
    // query without seq and slot; success without them is five bits.
    EXPECT_EQ(exchange({0x00, 0x00}), one({0x10}));
}

TEST_F(ServerTest, DelayedSuccessCarriesTheSavedSeqOrNone)
{
    first.act = Recorder::Delay;
    // destroy (5) for slot 7, seq 3.
    EXPECT_TRUE(exchange({0xC0, 0x01, 0x03, 0x00, 0x07, 0x0A}).empty());
    EXPECT_EQ(first.delayed_seq, 3u);
    first.delayedSuccess(7, first.delayed_seq);
    EXPECT_EQ(frames(sp.b), one({0xC0, 0x01, 0x03, 0x00, 0x07, 0x40}));
    // The same without seq: the delayed answer must not borrow seq 3.
    EXPECT_TRUE(exchange({0x40, 0x00, 0x07, 0x0A}).empty());
    EXPECT_EQ(first.delayed_seq, CtrlSrv::Server::NoSeq);
    EXPECT_FALSE(first.IsSeqPresent());
    first.delayedSuccess(7, first.delayed_seq, first.IsSeqPresent());
    EXPECT_EQ(frames(sp.b), one({0x40, 0x00, 0x07, 0x40}));
}

TEST_F(ServerTest, SignalsFanOutToTheOthersThenLeaveWithoutSeq)
{
    LGCP::Signal activated;
    activated.set_activated();
    first.SendSignal(activated);
    EXPECT_EQ(frames(sp.b), one({0x21, 0x40}));
    EXPECT_TRUE(first.signals.empty()) << "the sender does not see its own signal";
    EXPECT_EQ(second.signals, (std::vector{LGCP::Signal::Alt::activated}));
    second.SendSignal(1023, activated);
    EXPECT_EQ(frames(sp.b), one({0x40, 0x03, 0xFF, 0x85}));
    EXPECT_EQ(first.signals, (std::vector{LGCP::Signal::Alt::activated}));
    EXPECT_EQ(first.GetSlot(), CtrlSrv::Server::NoSlot);
    EXPECT_FALSE(first.IsSlotPresent());
}

TEST_F(ServerTest, SignalsWithoutAControllerAreDroppedWithOneLinePerAbsence)
{
    LGCP::Signal activated;
    activated.select(5);
    Capture err(Capture::Err);
    link->Disconnect();
    pass();
    ASSERT_EQ(first.disconnects, 1);
    for (int i = 0; i < 100; ++i)
        first.SendSignal(activated);
    first.SendSignal(7, activated);
    EXPECT_EQ(second.signals.size(), 101u) << "the other services still see them";

    // The next controller hears the signals; its absence is told once more.
    SocketPair again;
    INet4::Addr peer;
    peer.Assign("10.1.2.3:5001");
    link->Connected(Fd(again.a), peer);
    first.SendSignal(activated);
    EXPECT_EQ(frames(again.b), one({0x21, 0x40}));
    link->Disconnect();
    pass();
    first.SendSignal(activated);
    first.SendSignal(activated);

    std::string text = err.text();
    EXPECT_EQ(count_of(text, "ctrl [not connected]: signals dropped: no controller\n"), 2) << text;
    EXPECT_EQ(count_of(text, "ignore Send request"), 0) << text;
}

TEST_F(ServerTest, MessageThatDoesNotEncodeIsLoggedInValueNotationAndNotSent)
{
    LGCP::Signal nothing_selected;
    Capture err(Capture::Err);
    first.SendSignal(nothing_selected);
    std::string text = err.text();
    EXPECT_NE(text.find("ctrl [10.1.2.3:5000]: send fail: encode error!{"), std::string::npos) << text;
    EXPECT_TRUE(frames(sp.b).empty());
}

TEST_F(ServerTest, HeaderAndConnectionFollowTheLink)
{
    std::ostringstream os;
    server.PutHeader(os);
    EXPECT_EQ(os.str(), "ctrl [10.1.2.3:5000]: ");
    bool connected = false;
    EXPECT_TRUE(first.CheckServerConnection(connected));
    EXPECT_TRUE(connected);
    link->Disconnect();
    pass();
    EXPECT_EQ(first.disconnects, 1);
    os.str("");
    server.PutHeader(os);
    EXPECT_EQ(os.str(), "ctrl [not connected]: ");
    EXPECT_TRUE(first.CheckServerConnection(connected));
    EXPECT_FALSE(connected);
    // Deactivation tells every service once more.
    server.Deactivate();
    EXPECT_EQ(first.disconnects, 2);
    EXPECT_EQ(second.disconnects, 2);
    os.str("");
    server.PutHeader(os);
    EXPECT_EQ(os.str(), "ctrl [null]: ");
}

TEST_F(ServerTest, HeartbeatDropsASilentControllerAfter120s)
{
    EXPECT_FALSE(HeartBeatCtl::instance()->watching()) << "watching starts with the first command";
    first.act = Recorder::Succeed;
    exchange({0x80, 0x01, 0x02, 0x00});
    advance(119000);
    exchange({0x80, 0x01, 0x03, 0x00});
    advance(119999);
    EXPECT_EQ(link->state(), Control::Service::State::Connected);
    // The stream layer keeps its own duplicate of the socket.
    ::close(sp.a);
    sp.a = -1;
    Capture log(Capture::Err);
    advance(1);
    EXPECT_NE(log.text().find("heartbeat timeout!!!\n"), std::string::npos);
    bool eof = false;
    frames(sp.b, &eof);
    EXPECT_TRUE(eof);
    pass();
    EXPECT_EQ(first.disconnects, 1);
    EXPECT_FALSE(HeartBeatCtl::instance()->watching());
}

TEST(ServiceBase, UnboundServiceDoesNothingAndSaysSo)
{
    Recorder lone;
    Capture err(Capture::Err);
    lone.Success();
    EXPECT_EQ(lone.GetSlot(), 0xFFFFFFFFu);
    EXPECT_EQ(lone.delayResponse(), 0xFFFFFFFFu);
    std::string text = err.text();
    EXPECT_EQ(count_of(text, "CtrlSrv::Service error! service not connected to server.\n"), 3);
    bool connected = true;
    Capture quiet(Capture::Err);
    EXPECT_FALSE(lone.CheckServerConnection(connected));
    EXPECT_EQ(quiet.text(), "");
}
