// The PPP authentication relay in process: the test plays the board's
// authentication program on 127.0.0.1:52000 (the test program runs in a
// network namespace of its own), the host side is the slots fixture's.
// Records cut and joined at will, bad lengths and sizes, routing by session,
// the host's answer, a connection reset while the server answers from its
// own handler, and the listener's failures.

#include "modem_fixture.hpp"

#include "control/acceptor_net.hpp"
#include "control/tpkt_tracer.hpp"
#include "core/accept_pause.hpp"
#include "slots/auth_relay.hpp"
#include "support/netns.hpp"

#include <gmock/gmock.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>

using namespace SlotsTest;
using SimTest::Capture;
using SimTest::DescriptorLimit;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

void Word(Bytes& out, std::uint32_t w)
{
    std::uint8_t b[4];
    std::memcpy(b, &w, 4); // the machine's order, as the peer writes it
    out.insert(out.end(), b, b + 4);
}

// A record of `length` bytes: the header, then `payload`, then zeros.
Bytes Record(std::uint32_t length, std::uint32_t type, std::uint32_t session, Bytes const& payload = {})
{
    Bytes r;
    Word(r, length);
    Word(r, type);
    Word(r, session);
    r.insert(r.end(), payload.begin(), payload.end());
    r.resize(length < 12 ? 12 : length, 0);
    return r;
}

Bytes Field(std::string const& text)
{
    Bytes f(text.begin(), text.end());
    f.resize(64, 0);
    return f;
}

Bytes Request(std::uint32_t session, Bytes const& user, Bytes const& password, std::uint32_t length = 140)
{
    Bytes payload = user;
    payload.insert(payload.end(), password.begin(), password.end());
    return Record(length, Auth::kRequest, session, payload);
}

// The authentication program's side of one connection.
class Peer {
public:
    // Its socket now and its connect later (Dial): the socket is another
    // process's, not one of the server's descriptors.
    struct Unconnected {};
    explicit Peer(Unconnected) { fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }
    Peer() : Peer(Unconnected{}) { Dial(); }
    void Dial()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(Auth::kPort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    bool connected() const { return connected_; }
    void Send(Bytes const& b)
    {
        ASSERT_EQ(::send(fd_.get(), b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
    }
    // What has arrived; closed() tells whether the server closed its side.
    Bytes Take()
    {
        Bytes out;
        std::uint8_t buf[1024];
        for (;;) {
            const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
            // A close with bytes unread is a reset.
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                closed_ = true;
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    // The server's two records of one answer may come in two segments.
    Bytes TakeAtLeast(std::size_t n)
    {
        Bytes out = Take();
        for (int i = 0; i < 500 && out.size() < n; ++i) {
            pollfd p{fd_.get(), POLLIN, 0};
            ::poll(&p, 1, 10);
            Bytes more = Take();
            out.insert(out.end(), more.begin(), more.end());
        }
        return out;
    }
    bool closed()
    {
        Take();
        return closed_;
    }
    // Ended as a program that ends ends it. The socket stays open: it is
    // another process's, not the server's, and a child forked meanwhile
    // may hold it until its exec.
    void End() { ::shutdown(fd_.get(), SHUT_RDWR); }
    // Gone with a reset, as a crashed program goes.
    void Reset()
    {
        linger l{1, 0};
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        fd_.reset();
    }

private:
    OwnedFd fd_;
    bool connected_ = false;
    bool closed_ = false;
};

TERM::TermActivateParams UserParameters(std::string const& remote)
{
    TERM::TermActivateParams p;
    TERM::ModemUserParameters& u = p.select_modem();
    u.set_remoteAddr(remote);
    u.set_netmask("255.255.255.0");
    u.set_gateway("10.1.2.1");
    u.set_dns("10.1.2.53");
    u.set_mtu(1500);
    return p;
}

class AuthRelay : public Modems {
protected:
    void SetUp() override
    {
        // After the fixture's own set-up, so that its tear-down finds what
        // it expects.
        Modems::SetUp();
        TESTNET_NEEDS_PRIVATE();
    }
    // A connection the server has accepted.
    std::unique_ptr<Peer> Connect()
    {
        const std::size_t before = factory().authClients.size();
        auto p = std::make_unique<Peer>();
        EXPECT_TRUE(p->connected());
        Pump();
        EXPECT_EQ(factory().authClients.size(), before + 1);
        return p;
    }
    // Loopback delivers at once: a few passes serve everything sent.
    static void Pump()
    {
        for (int i = 0; i < 4; ++i)
            Mux::test::run_once(0);
    }
    // A DSP modem in slot 5 with modem 0 taken and its pppd started.
    void DataCall()
    {
        TrunkAndModem(Modem());
        host().Connect(7, 5);
        ASSERT_TRUE(Started(1));
        ASSERT_EQ(modem(5)->modem_id(), 0);
        host().Take();
    }
    std::vector<Received> Activate(std::uint32_t slot, TERM::TermActivateParams const& p)
    {
        LGCP::Command c;
        c.set_activate(p);
        return host().Exchange(c, slot);
    }
    Lines Signals()
    {
        Pump();
        return Texts(host().Take());
    }
};

TEST_F(AuthRelay, RequestActivateAndAccountingMakeTheWholeExchange)
{
    DataCall();
    auto peer = Connect();
    // A password that fills its field without a NUL ends at the field's
    // end, not in the next field or past the record; 8-bit bytes pass.
    Bytes password(64, 'p');
    password[0] = 0xE9;
    Bytes user = Field("alice");
    peer->Send(Request(0, user, password));
    Pump();
    auto got = host().Take();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_TRUE(got[0].signal.is_modemProceeding());
    auto const& auth = got[0].signal.get_modemProceeding().get_auth();
    EXPECT_EQ(std::string(auth.get_username()), "alice");
    EXPECT_EQ(std::string(auth.get_password()), std::string(password.begin(), password.end()));

    EXPECT_EQ(Texts(Activate(5, UserParameters("10.1.2.3"))), Lines{"success seq=4 slot=5"});
    Bytes expected = Record(16, Auth::kAccept, 0, {});
    std::uint32_t one = 1;
    std::memcpy(&expected[12], &one, 4);
    Bytes ip;
    Word(ip, 36);
    Word(ip, Auth::kIp);
    Word(ip, 0);
    Word(ip, 0);
    for (Bytes a : {Bytes{10, 1, 2, 3}, Bytes{255, 255, 255, 0}, Bytes{10, 1, 2, 1}, Bytes{10, 1, 2, 53}})
        ip.insert(ip.end(), a.begin(), a.end()); // network order inside the record
    Word(ip, 1500);
    expected.insert(expected.end(), ip.begin(), ip.end());
    EXPECT_EQ(peer->TakeAtLeast(expected.size()), expected);

    // Counters high word first; each 32-bit half goes to the host as the
    // signed integer with the same bits.
    Bytes acct(12, 0);
    for (std::uint32_t w : {0x00000001u, 0xFFFFFFFEu, 0u, 5u, 2u, 3u, 0x80000000u, 0u, 4000000000u, 0u})
        Word(acct, w);
    peer->Send(Record(64, Auth::kAccounting, 0, acct));
    EXPECT_EQ(Signals(),
              Lines{"signal slot=5 modemProceeding : acct : { octetsOut { low -2, high 1 }, octetsIn { "
                    "low 5, high 0 }, packetsOut { low 3, high 2 }, packetsIn { low 0, high "
                    "-2147483648 }, time { low -294967296, high 0 } }"});

    // A malformed address becomes 255.255.255.255; another alternative is
    // refused.
    EXPECT_EQ(Texts(Activate(5, UserParameters("10.1.2.x"))).size(), 1u);
    Bytes answer = peer->TakeAtLeast(52);
    ASSERT_EQ(answer.size(), 52u);
    EXPECT_EQ(Bytes(answer.begin() + 32, answer.begin() + 36), (Bytes{255, 255, 255, 255}));
    Capture err(std::cerr);
    TERM::TermActivateParams empty;
    empty.select_empty();
    auto refused = Activate(5, empty);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_TRUE(refused[0].IsError(LGCP::ErrorCause::unsupported)) << refused[0].Text();
    EXPECT_EQ(err.str(), "05:dsp-modem: modem's activation requests parameter.\n");
    EXPECT_TRUE(peer->Take().empty());
}

TEST_F(AuthRelay, RecordsAreCutAtTheirLengthWordsAndCheckedByTypeAndSize)
{
    DataCall();
    auto peer = Connect();
    Capture err(std::cerr);
    // One record over three writes, then two in one segment.
    Bytes r = Request(0, Field("u1"), Field("p1"));
    peer->Send(Bytes(r.begin(), r.begin() + 2));
    Pump();
    peer->Send(Bytes(r.begin() + 2, r.begin() + 70));
    Pump();
    EXPECT_TRUE(host().Take().empty());
    peer->Send(Bytes(r.begin() + 70, r.end()));
    Bytes two = Request(0, Field("u2"), Field("p2"));
    Bytes second = Request(0, Field("u3"), Field("p3"));
    two.insert(two.end(), second.begin(), second.end());
    peer->Send(two);
    EXPECT_EQ(Signals(),
              (Lines{"signal slot=5 modemProceeding : auth : { username \"u1\", password \"p1\" }",
                     "signal slot=5 modemProceeding : auth : { username \"u2\", password \"p2\" }",
                     "signal slot=5 modemProceeding : auth : { username \"u3\", password \"p3\" }"}));

    // Wrong sizes, types the server sends itself, unknown types and
    // sessions: logged, nothing for the host; 512 bytes is a whole record.
    peer->Send(Request(0, Field("u"), Field("p"), 139));
    peer->Send(Request(0, Field("u"), Field("p"), 141));
    peer->Send(Record(63, Auth::kAccounting, 0));
    peer->Send(Record(16, Auth::kAccept, 0));
    peer->Send(Record(36, Auth::kIp, 0));
    peer->Send(Record(512, 9, 0));
    peer->Send(Record(140, Auth::kRequest, 7));
    EXPECT_TRUE(Signals().empty());
    EXPECT_EQ(err.str(), "05:dsp-modem: auth request, invalid size: 139\n"
                         "05:dsp-modem: auth request, invalid size: 141\n"
                         "05:dsp-modem: auth accounting, invalid size: 63\n"
                         "05:dsp-modem: auth accept, ignored.\n"
                         "05:dsp-modem: auth ip, ignored.\n"
                         "05:dsp-modem: unknown request from portslave: 0x9\n"
                         "modem[4,1]: receive auth request for unknown session 7\n");
    EXPECT_FALSE(peer->closed());
}

// A peer that keeps writing holds the loop no longer than a few records,
// and its errors do not fill the log.
TEST_F(AuthRelay, AFloodIsReadAFewRecordsAPassAndItsErrorsAreSummedUp)
{
    DataCall();
    auto peer = Connect();
    Capture err(std::cerr);
    Bytes flood;
    for (int i = 0; i < 100; ++i) {
        Bytes r = Record(12, Auth::kRequest, 7);
        flood.insert(flood.end(), r.begin(), r.end());
    }
    Bytes last = Request(0, Field("u"), Field("p"));
    flood.insert(flood.end(), last.begin(), last.end());
    peer->Send(flood);
    Mux::test::run_once(0);
    EXPECT_TRUE(host().Take().empty()) << "one pass read the whole flood";
    for (int i = 0; i < 20; ++i)
        Mux::test::run_once(0);
    EXPECT_EQ(Signals(), Lines{"signal slot=5 modemProceeding : auth : { username \"u\", password \"p\" }"});
    peer.reset();
    Pump();
    std::string const unknown = "modem[4,1]: receive auth request for unknown session 7\n";
    EXPECT_THAT(err.str(), testing::StartsWith(unknown + unknown + unknown + "auth client 127.0.0.1:"));
    EXPECT_THAT(err.str(), testing::EndsWith(": 97 more errors not logged.\n"));
}

TEST_F(AuthRelay, ABadLengthClosesTheConnectionAfterTheRecordsBeforeIt)
{
    DataCall();
    for (std::uint32_t bad : {513u, 3u, 11u}) {
        SCOPED_TRACE(bad);
        auto peer = Connect();
        Bytes both = Request(0, Field("ok"), Field("ok"));
        Bytes tail;
        Word(tail, bad);
        Word(tail, Auth::kRequest);
        both.insert(both.end(), tail.begin(), tail.end());
        Capture log(std::clog);
        peer->Send(both);
        EXPECT_EQ(Signals(),
                  Lines{"signal slot=5 modemProceeding : auth : { username \"ok\", password \"ok\" }"});
        EXPECT_TRUE(peer->closed());
        EXPECT_TRUE(factory().authClients.empty());
        EXPECT_THAT(log.str(), testing::HasSubstr(" disconnected.\n"));
    }
}

TEST_F(AuthRelay, AnswersGoOnlyToTheConnectionThatSpokeForTheSession)
{
    DataCall();
    auto silent = Connect();
    // Before any record: the host still gets success, the records are
    // dropped, and a connection that has not spoken gets nothing.
    Capture log(std::clog);
    EXPECT_EQ(Texts(Activate(5, UserParameters("10.0.0.1"))), Lines{"success seq=4 slot=5"});
    EXPECT_THAT(log.str(), testing::HasSubstr("send error: unknown auth 0 session.\n"));
    Pump();
    EXPECT_TRUE(silent->Take().empty());

    // A digital modem is -1, as is a DSP modem not yet set up: neither
    // answer reaches the silent connection.
    host().Create(6, Modem([](auto& p) { AddDdm(p, {TERM::DigitalDataModeEnum::ddm8BIT}); }));
    host().Create(9, Modem());
    EXPECT_STREQ(modem(6)->GetName(), "digital-modem");
    EXPECT_EQ(modem(6)->modem_id(), -1);
    EXPECT_EQ(modem(9)->modem_id(), -1);
    for (std::uint32_t n : {6u, 9u})
        EXPECT_EQ(Texts(Activate(n, UserParameters("10.0.0.1"))).size(), 1u);
    EXPECT_THAT(log.str(), testing::HasSubstr("send error: unknown auth -1 session.\n"));
    Pump();
    EXPECT_TRUE(silent->Take().empty());

    // Session 0xFFFFFFFF reaches the first modem of number -1: the digital
    // one, created first.
    auto other = Connect();
    other->Send(Request(0xFFFFFFFFu, Field("d"), Field("d")));
    EXPECT_EQ(Signals(), Lines{"signal slot=6 modemProceeding : auth : { username \"d\", password \"d\" }"});
    EXPECT_EQ(Texts(Activate(6, UserParameters("10.0.0.1"))).size(), 1u);
    EXPECT_EQ(other->TakeAtLeast(52).size(), 52u);
    EXPECT_TRUE(silent->Take().empty());
}

// Answers from inside the record's own handler, to a peer that is gone.
class AnsweringModem : public DspModemSlot {
public:
    AnsweringModem(ModemFactory& f, std::function<void()> before)
        : DspModemSlot(f, Modem().get_modem()), before_(std::move(before))
    {}
    void OnAuth(attr const* record) override
    {
        before_();
        ModemSlot::OnAuth(record);
        IActivate(UserParameters("10.0.0.1"));
        IActivate(UserParameters("10.0.0.2")); // to a closed connection
        answered = true;
    }
    bool answered = false;

private:
    std::function<void()> before_;
};

TEST_F(AuthRelay, AConnectionResetWhileTheServerAnswersFromItsHandlerGoesAfterIt)
{
    auto peer = Connect();
    std::unique_ptr<Peer> gone = std::move(peer);
    AnsweringModem slot(factory(), [&] { gone->Reset(); });
    factory().modemSlots.push_back(&slot);
    gone->Send(Request(0xFFFFFFFFu, Field("x"), Field("x")));
    Capture log(std::clog);
    Pump();
    EXPECT_TRUE(slot.answered);
    EXPECT_TRUE(factory().authClients.empty());
    EXPECT_THAT(log.str(), testing::HasSubstr(" disconnected.\n"));
    host().Take();
}

TEST_F(AuthRelay, ARecordForAStragglerDeletedAfterHostLossFindsNoSlot)
{
    Mode("ignore-hup");
    DataCall();
    auto peer = Connect();
    host().LoseHost();
    EXPECT_TRUE(factory().modemSlots.empty());
    Capture err(std::cerr);
    peer->Send(Request(0, Field("late"), Field("late")));
    Pump();
    EXPECT_EQ(err.str(), "modem[4,0]: receive auth request for unknown session 0\n");
    EXPECT_TRUE(Until([] { return RunningChildren().empty(); }));
    host().Reconnect();
}

// Local programs that connect and say nothing, stall in a record or
// connect again every millisecond never keep a call's program from the
// host: the quietest gives way to a newcomer (never the connection a live
// call's answers go to), a record owed for a few seconds closes the
// connection, the places stay within a share of what the descriptor limit
// leaves, and the lines of a program that keeps connecting are summed up.
TEST_F(AuthRelay, IdleStalledOrReconnectingPeersNeverKeepACallsProgramFromTheHost)
{
    using Peers = std::vector<std::unique_ptr<Peer>>;
    auto connect = [](Peers& into, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            into.push_back(std::make_unique<Peer>());
            Pump();
            std::erase_if(into, [](auto const& p) { return p->closed(); });
        }
    };
    auto ask = [&] {
        auto program = std::make_unique<Peer>();
        program->Send(Request(0, Field("ppp"), Field("pw")));
        EXPECT_EQ(Signals(),
                  Lines{"signal slot=5 modemProceeding : auth : { username \"ppp\", password \"pw\" }"});
        return program;
    };
    auto accepted = [&](Peer& program) {
        EXPECT_EQ(Texts(Activate(5, UserParameters("10.1.2.3"))).size(), 1u);
        Bytes accept = Record(16, Auth::kAccept, 0);
        std::uint32_t const one = 1;
        std::memcpy(&accept[12], &one, 4);
        Bytes const got = program.TakeAtLeast(52);
        EXPECT_EQ(Bytes(got.begin(), got.begin() + std::min<std::size_t>(16, got.size())), accept);
    };
    Capture err(std::cerr);
    Capture log(std::clog);

    // Eight idle programs from before any modem slot.
    Peers idle;
    connect(idle, 8);
    DataCall();
    accepted(*ask());

    // With one that connects every millisecond and keeps what it gets.
    Peers flood;
    auto flooding = [&](int ms) {
        for (int i = 0; i < ms; ++i) {
            Mux::test::advance(1);
            connect(flood, 1);
        }
    };
    flooding(100);
    auto program = ask();
    flooding(100);
    accepted(*program);
    EXPECT_EQ(factory().authClients.size(), 1 + ModemFactory::kAuthClientsBeyondSlots);
    // Some 600 lines were it not for the allowance.
    auto count = [](std::string const& text) { return std::count(text.begin(), text.end(), '\n'); };
    EXPECT_LT(count(err.str()) + count(log.str()), 50) << err.str() << log.str();
    // Answered, the program keeps its connection through idle newcomers and
    // seconds of reconnecting, for the call's accounting.
    connect(idle, 1 + ModemFactory::kAuthClientsBeyondSlots);
    flooding(AuthClient::kRecordMs);
    program->Send(Record(64, Auth::kAccounting, 0));
    EXPECT_THAT(Signals(), testing::ElementsAre(testing::HasSubstr(" modemProceeding : acct : ")));
    // Once the quiet time is over: the summary, and those that never sent
    // a whole record are gone; the program that did stays.
    Mux::test::advance(AuthClient::kSummaryMs);
    Pump();
    EXPECT_THAT(err.str(), testing::ContainsRegex(" [0-9]+ more auth lines not logged.\n"));
    EXPECT_TRUE(std::all_of(flood.begin(), flood.end(), [](auto const& p) { return p->closed(); }));
    EXPECT_EQ(factory().authClients.size(), 1u);
    program.reset();
    idle.clear();
    flood.clear();
    Pump();

    // Eight that stall halfway through a record, one of them after a whole
    // one: none is held a few seconds later.
    Peers stalled;
    connect(stalled, 8);
    stalled[0]->Send(Record(16, Auth::kAccept, 9));
    Pump();
    for (auto const& p : stalled) {
        Bytes const r = Request(0, Field("half"), Field("half"));
        p->Send(Bytes(r.begin(), r.begin() + 70));
    }
    Pump();
    program = ask();
    accepted(*program);
    Mux::test::advance(AuthClient::kRecordMs);
    Pump();
    EXPECT_TRUE(std::all_of(stalled.begin(), stalled.end(), [](auto const& p) { return p->closed(); }));
    EXPECT_EQ(factory().authClients.size(), 1u);
    program.reset();
    Pump();

    // Idle programs fill the places of four more calls, which end: the
    // next request still gets in.
    for (std::uint32_t n = 20; n < 24; ++n)
        host().Create(n, Modem());
    connect(idle, 5 + ModemFactory::kAuthClientsBeyondSlots);
    for (std::uint32_t n = 20; n < 24; ++n)
        host().Destroy(n);
    EXPECT_EQ(factory().authClients.size(), 5 + ModemFactory::kAuthClientsBeyondSlots);
    accepted(*ask());
    EXPECT_EQ(factory().authClients.size(), 1 + ModemFactory::kAuthClientsBeyondSlots);
    idle.clear();
    Pump();

    // Under a low descriptor limit the peers hold no more than their share
    // however many modem slots there are, and a call's program still gets in.
    // (Two more than 160 for the place kept for slot 5's program, which
    // has gone: 160 would leave the peers' share on a rounding edge that
    // the test's own ends of the peers tip.)
    {
        DescriptorLimit limit(162);
        for (std::uint32_t n = 100; n < 140; ++n)
            host().Create(n, Modem());
        connect(idle, 48);
        std::size_t const held = factory().authClients.size();
        EXPECT_LE(held * AuthClient::kDescriptors * ModemFactory::kAuthDescriptorShare,
                  static_cast<std::size_t>(limit.value()));
        EXPECT_LT(held, std::size_t{48});
        accepted(*ask());
        EXPECT_EQ(factory().authClients.size(), held);
    }
    idle.clear();
    Pump();

    // A server at nofile 44 or 48 has about this many left once its own are
    // open (here two more for the peers' ends): a program holding every
    // place leaves a new call its modem, and its program a place even when
    // a newcomer comes before its request is read.
    // (The program's socket is its own process's, not the server's; what
    // was answered is checked once descriptors are left for the checks.)
    for (int const free : {8, 12}) {
        Peer plugin{Peer::Unconnected{}};
        Lines answer, signals;
        {
            DescriptorLimit limit(free);
            connect(idle, 4);
            std::uint32_t const n = 30 + static_cast<std::uint32_t>(free);
            host().Create(n, Trunk(1, free));
            host().Create(n + 1, Modem());
            answer = Texts(host().Connect(n, n + 1));
            plugin.Dial();
            plugin.Send(
                Request(static_cast<std::uint32_t>(modem(n + 1)->modem_id()), Field("ppp"), Field("pw")));
            idle.push_back(std::make_unique<Peer>()); // before the request is read
            signals = Signals();
        }
        EXPECT_THAT(answer, testing::Contains(testing::StartsWith("success")));
        EXPECT_THAT(signals, testing::Contains(testing::HasSubstr(" modemProceeding : auth : ")));
        idle.clear();
        Pump();
    }
    host().Take();
}

// Out of descriptors: no listener keeps the loop busy and each closes its
// newcomer at once; the relay's peers never take what a slot needs; a
// data call is answered success only with its pppd's program's connection
// in hand, which nothing else in the server takes for as long as the call
// lives, and every such program is heard, two at once too, and again
// whenever it connects again.
TEST_F(AuthRelay, OutOfDescriptorsNoListenerSpinsPeersLeaveSlotsTheirsAndACallKeepsItsProgramsPlace)
{
    DataCall();
    Control::AcceptorNet control(0, false);
    ASSERT_TRUE(control.Activate());
    TPKTTracer acp;
    ASSERT_TRUE(acp.Listen(0));
    // UBSan's type check reads memory through a pipe: a check the process
    // runs for the first time without a descriptor left reports a valid
    // object as invalid. The pause's timer is checked once beforehand.
    {
        AcceptPause warm;
        Event none;
        warm.Failed(none, ENOBUFS);
        Mux::test::advance(AcceptPause::kPauseMs);
    }
    // Room enough that the slots, not the descriptor share, set the cap
    // (the peers' ends count among this process's own).
    DescriptorLimit limit(100);

    Capture err(std::cerr);
    // Each newcomer takes the place of the quietest: the last ones stay.
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 60; ++i) {
        peers.push_back(std::make_unique<Peer>());
        Pump();
        std::erase_if(peers, [](auto const& p) { return p->closed(); });
    }
    std::size_t const cap = 1 + ModemFactory::kAuthClientsBeyondSlots;
    EXPECT_EQ(peers.size(), cap);
    EXPECT_EQ(factory().authClients.size(), cap);
    EXPECT_THAT(err.str(), testing::HasSubstr(" connections open.\n"));
    host().Create(8, Trunk(1, 8));
    host().Create(6, Modem());
    EXPECT_THAT(Texts(host().Connect(8, 6)), testing::Contains("success seq=6 slot=8"));
    EXPECT_EQ(modem(6)->modem_id(), 1);
    // The place kept for its program is taken too.
    peers.push_back(std::make_unique<Peer>());
    Pump();
    EXPECT_FALSE(peers.back()->closed());

    int const ports[] = {Auth::kPort, control.local_port(), acp.local_port()};
    std::vector<OwnedFd> clients;
    for (std::size_t i = 0; i < std::size(ports); ++i)
        clients.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    std::vector<OwnedFd> filler;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.emplace_back(fd);
    for (std::size_t i = 0; i < std::size(ports); ++i) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(ports[i]));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(clients[i].get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << ports[i];
    }
    Mux::test::run_once(0);
    EXPECT_EQ(Mux::test::run_once(0), 0) << "the loop still has work";
    for (OwnedFd const& c : clients) {
        char b;
        EXPECT_EQ(::recv(c.get(), &b, 1, MSG_DONTWAIT), 0) << "a newcomer waits in the queue";
    }
    EXPECT_THAT(err.str(), testing::HasSubstr("fail to accept auth connection: Too many open files\n"));

    // Descriptors free again: served after the pause.
    filler.clear();
    std::size_t const held = factory().authClients.size();
    peers.pop_back();
    // A loaded machine's loopback may bring the close a little later.
    for (int i = 0; i < 1000 && factory().authClients.size() == held; ++i) {
        Pump();
        ::poll(nullptr, 0, 1);
    }
    std::size_t const served = factory().authClients.size();
    ASSERT_EQ(served + 1, held);
    auto again = std::make_unique<Peer>();
    Mux::test::advance(AcceptPause::kPauseMs);
    Pump();
    EXPECT_FALSE(again->closed());
    EXPECT_EQ(factory().authClients.size(), served + 1);
    control.Deactivate();

    peers.clear();
    again.reset();
    clients.clear();
    // The server has heard every one of them go before descriptors are
    // counted: one it let go later would leave spare ones in the count.
    for (int i = 0; i < 1000 && !factory().authClients.empty(); ++i) {
        Pump();
        ::poll(nullptr, 0, 1);
    }
    ASSERT_TRUE(factory().authClients.empty());
    auto request = [&](Peer& program, std::uint32_t slot) {
        program.Send(Request(static_cast<std::uint32_t>(modem(slot)->modem_id()), Field("ppp"), Field("pw")));
    };
    auto heard = [](std::uint32_t slot) {
        return testing::Contains(
            testing::StartsWith("signal slot=" + std::to_string(slot) + " modemProceeding : auth"));
    };
    // The programs of the calls so far are heard, with descriptors to spare
    // (UBSan, above; an error answer too).
    for (std::uint32_t const n : {5u, 6u}) {
        peers.push_back(std::make_unique<Peer>());
        request(*peers.back(), n);
        EXPECT_THAT(Signals(), heard(n));
    }
    host().Create(20, Trunk(1, 20));
    host().Create(21, Modem());
    Texts(host().Connect(20, 99));
    // Whatever else the server opens (a slot's create or activate, the
    // board's own ends, a query's pipe) takes every descriptor it finds.
    auto others = [] {
        std::vector<OwnedFd> taken;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken.emplace_back(fd);
        return taken;
    };
    // Descriptors one by one: a connect fails, and holds and starts
    // nothing, until the call's modem and its program's connection fit; at
    // that one, with everything else taken between the answer and the
    // program, the program is heard and no descriptor is left; and so it is
    // when it connects again, as for the call's accounting. (Checked with
    // descriptors to spare.)
    std::size_t const opens = board().OpenCount("/dev/mctl");
    Peer program{Peer::Unconnected{}};
    int free = 0;
    for (;; ++free) {
        ASSERT_LT(free, 16);
        ASSERT_EQ(board().OpenCount("/dev/mctl"), opens);
        Peer again{Peer::Unconnected{}};
        Lines answer, signals, later;
        OwnedFd spare;
        std::size_t taken = 0;
        {
            DescriptorLimit low(free);
            answer = Texts(host().Connect(20, 21));
            if (modem(21)->child_pid() != -1) {
                auto before = others();
                program.Dial();
                request(program, 21);
                signals = Signals();
                program.End();
                Pump();
                auto between = others();
                taken = before.size() + between.size();
                again.Dial();
                request(again, 21);
                later = Signals();
                spare.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            }
        }
        if (modem(21)->child_pid() == -1) {
            EXPECT_THAT(answer, testing::Contains(testing::StartsWith("error connectFail ")));
            continue;
        }
        EXPECT_THAT(answer, testing::Contains(testing::StartsWith("success")));
        EXPECT_THAT(signals, heard(21));
        EXPECT_THAT(later, heard(21));
        EXPECT_EQ(taken, 0u);
        EXPECT_FALSE(spare);
        break;
    }
    EXPECT_GT(free, 0);
    // Two started calls whose programs connect at once, each before the
    // other's request is read: with just their descriptors left, each
    // keeps its place.
    mctl().SetModems(5);
    Peer first{Peer::Unconnected{}}, second{Peer::Unconnected{}};
    for (std::uint32_t n : {22u, 24u}) {
        host().Create(n, Trunk(1, n));
        host().Create(n + 1, Modem());
        EXPECT_THAT(Texts(host().Connect(n, n + 1)), testing::Contains(testing::StartsWith("success")));
    }
    // Then, with everything else taken, both close and connect again at
    // the same moment, each sending at once: before the server has read
    // the ends of their old connections, and after.
    Peer third{Peer::Unconnected{}}, fourth{Peer::Unconnected{}};
    Peer fifth{Peer::Unconnected{}}, sixth{Peer::Unconnected{}};
    Lines signals, reconnected, last;
    {
        DescriptorLimit low(2 * AuthClient::kDescriptors);
        first.Dial();
        Pump();
        second.Dial();
        Pump();
        request(first, 23);
        request(second, 25);
        signals = Signals();
        auto taken = others();
        first.End();
        second.End();
        third.Dial();
        fourth.Dial();
        request(third, 23);
        request(fourth, 25);
        reconnected = Signals();
        third.End();
        fourth.End();
        Pump();
        auto between = others();
        EXPECT_TRUE(between.empty());
        fifth.Dial();
        sixth.Dial();
        request(fifth, 23);
        request(sixth, 25);
        last = Signals();
    }
    for (Lines const* heardBoth : {&signals, &reconnected, &last}) {
        EXPECT_THAT(*heardBoth, heard(23));
        EXPECT_THAT(*heardBoth, heard(25));
    }
    host().Take();
}

TEST_F(AuthRelay, TheListenerFailsOnceAndStaysClosedAndComesBackAfterARestart)
{
    // A second listener on the port cannot bind.
    {
        Capture err(std::cerr);
        ModemFactory second;
        EXPECT_FALSE(second.listening());
        EXPECT_THAT(err.str(), testing::HasSubstr("fail to bind auth socket: Address already in use\n"));
    }
    // Stopping with a connection open leaves this side's TIME_WAIT on the
    // port; the next factory listens all the same.
    auto peer = Connect();
    peer->Send(Request(0, Field("u"), Field("p")));
    Pump();
    factory().CloseRelay();
    peer.reset();
    {
        Capture err(std::cerr);
        ModemFactory restarted;
        EXPECT_TRUE(restarted.listening()) << err.str();
        restarted.CloseRelay();
    }
    // An error on the listener closes it for good.
    {
        ModemFactory again;
        ASSERT_TRUE(again.listening());
        Capture err(std::cerr);
        again.OnSocketEvent(-1, POLLERR);
        EXPECT_FALSE(again.listening());
        EXPECT_THAT(err.str(), testing::HasSubstr("auth server socket error.\n"));
        Pump();
    }
}

} // namespace
