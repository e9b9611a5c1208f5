// Voice players and recorders on the simulated MCC controller, with TCP
// peers on the loopback of this process: what reaches the switch, what the
// peers receive, how each kind ends and what the host hears of it, and the
// failures of the channel allocation. Connect time-outs run on the test
// clock.

#include "mcc_voice_fixture.hpp"

#include "sim/board.hpp"

#include <cerrno>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;

TEST(PhraseNames, OnlyNamesInsideTheVoiceFolderAreTaken)
{
    for (char const* ok : {"a", "a/b", "..a", "a..", "a/..b", "dir/sub/phrase.pcm", "./a", "a//b", "a/"})
        EXPECT_TRUE(IsPhraseNameSafe(ok)) << ok;
    for (char const* refused : {"", "/", "/etc/passwd", "..", "../x", "a/../b", "a/..", "../../../etc/shadow",
                                "x/../../y", ".", "./", ".//."})
        EXPECT_FALSE(IsPhraseNameSafe(refused)) << refused;
    for (std::string const& refused :
         {std::string("\0", 1), std::string("a\0", 2), std::string("a\0/../../x", 10)})
        EXPECT_FALSE(IsPhraseNameSafe(refused));
}

TEST(PhraseNames, PeerAddressText)
{
    EXPECT_EQ(dhost2str(Address("10.1.2.3", 5004)), "10.1.2.3:5004");
    EXPECT_EQ(dhost2str(Address("", 0)), ":0");
}

class Voice : public MccVoiceFixture {
protected:
    void SetUp() override
    {
        MccVoiceFixture::SetUp();
        host().Create(7, Trunk(1, 5)); // channel 37
        host().Create(8, Trunk(1, 8)); // channel 40
        host().Create(9, Trunk(1, 9)); // channel 41
        ClearHeard();
        host().Take();
    }
    // The signals of `slot` heard so far, without the slot number.
    Lines SignalsOf(std::uint32_t n)
    {
        Lines out;
        std::string const prefix = "signal slot=" + std::to_string(n) + " ";
        for (auto const& t : Heard())
            if (t.rfind(prefix, 0) == 0)
                out.push_back(t.substr(prefix.size()));
        return out;
    }
    std::size_t Count(Lines const& lines, std::string const& text)
    {
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
    }
};

// ------------------------------------------------------------ file player

TEST_F(Voice, FilePlayerPlaysTheListRepeatTimesThenEnds)
{
    Phrase("a", "AAAA");
    Phrase("sub/b", "bbbbbb");
    EXPECT_EQ(Texts(host().Create(20, FilePlayer({"a", "missing", "sub/b"}, 2))),
              Lines{"success seq=4 slot=20"});
    EXPECT_EQ(slot(20)->Label(), "20:player");
    EXPECT_EQ(Keep(host().Connect(20, 8)),
              (Lines{"signal slot=20 transmitter : active : 300", "success seq=5 slot=20"}));
    ASSERT_TRUE(Drive([&] { return HeardText("signal slot=20 abort : 0"); }));
    Settle();
    EXPECT_EQ(Output(40), "AAAAbbbbbbAAAAbbbbbb");
    EXPECT_EQ(SignalsOf(20),
              (Lines{"transmitter : active : 300", "transmitter : inactive : NULL", "abort : 0"}));
    EXPECT_EQ(slot(8)->source, nullptr);
    EXPECT_TRUE(slot(20)->listeners.empty());

    EXPECT_EQ(Texts(host().Destroy(20)), Lines{"success seq=6 slot=20"});
    EXPECT_TRUE(mcc().Controllers().empty());
    EXPECT_TRUE(voice_.players.empty());
}

TEST_F(Voice, LargePhraseArrivesUnchangedInBlocks)
{
    std::string big(20000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 31) ^ (i >> 8));
    Phrase("big", big);
    host().Create(20, FilePlayer({"big"}, 1));
    Keep(host().Connect(20, 8));
    ASSERT_TRUE(Drive([&] { return HeardText("signal slot=20 abort : 0"); }));
    Settle();
    EXPECT_EQ(Output(40), big);
}

TEST_F(Voice, FilePlayerWithNothingPlayableAbortsOnce)
{
    Capture err(std::cerr);
    host().Create(20, FilePlayer({"nope", "../x", "/etc/hostname", ""}, 1));
    EXPECT_EQ(Keep(host().Connect(20, 8)), Lines{"error connectFail seq=5 slot=20"});
    EXPECT_NE(err.str().find("player[300]: phrase name refused: \"../x\"\n"), std::string::npos);
    EXPECT_NE(err.str().find("player[300]: phrase name refused: \"/etc/hostname\"\n"), std::string::npos);
    Settle(50);
    EXPECT_EQ(SignalsOf(20), Lines{"abort : 0"});
    auto* player = dynamic_cast<PlaySlotFile*>(slot(20));
    ASSERT_NE(player, nullptr);
    EXPECT_FALSE(player->aborting());
    EXPECT_EQ(Texts(host().Destroy(20)), Lines{"success seq=6 slot=20"});
}

TEST_F(Voice, FirstBlockFailingAtOnceRefusesTheConnect)
{
    // A folder opens but does not read: the play ends before the connect
    // is answered, and no listener is left on an ended player.
    Phrase("folder/x", "x");
    host().Create(20, FilePlayer({"folder"}, 1));
    EXPECT_EQ(Keep(host().Connect(20, 8)),
              (Lines{"signal slot=20 abort : 0", "error connectFail seq=5 slot=20"}));
    EXPECT_EQ(slot(8)->source, nullptr);
    Settle();
    EXPECT_EQ(SignalsOf(20), Lines{"abort : 0"});
}

TEST_F(Voice, RepeatZeroPlaysUntilDestroyed)
{
    Phrase("a", "xyz");
    host().Create(20, FilePlayer({"a"}, 0));
    Keep(host().Connect(20, 8));
    ASSERT_TRUE(Drive([&] { return Output(40).size() >= 9; }));
    EXPECT_EQ(Output(40).substr(0, 9), "xyzxyzxyz");
    EXPECT_EQ(SignalsOf(20), Lines{"transmitter : active : 300"});
    EXPECT_EQ(Texts(host().Destroy(20)), Lines{"success seq=6 slot=20"});
    EXPECT_EQ(slot(8)->source, nullptr);
    EXPECT_TRUE(mcc().Controllers().empty());
}

TEST_F(Voice, ChannelWriteErrorEndsThePlayWithoutSpinning)
{
    Phrase("big", std::string(100000, 'q'));
    host().Create(20, FilePlayer({"big"}, 0));
    Keep(host().Connect(20, 8));
    Settle(3);
    // The board drops the channel: the next write fails.
    EXPECT_EQ(board().Command("/dev/mcc/ctl error 300"), "ok\n");
    Capture err(std::cerr);
    ASSERT_TRUE(Drive([&] { return HeardText("signal slot=20 abort : 0"); }));
    const std::size_t events = multiplexer.event_count();
    Settle(50);
    EXPECT_EQ(multiplexer.event_count(), events);
    EXPECT_EQ(SignalsOf(20),
              (Lines{"transmitter : active : 300", "transmitter : inactive : NULL", "abort : 0"}));
}

// --------------------------------------------------------- network player

TEST_F(Voice, NetworkPlayerSendsItsIdThenPlaysWhatThePeerServes)
{
    Listener peer;
    Capture log(std::clog);
    host().Create(20, NetworkPlayer(peer.port(), 0x01020384));
    EXPECT_EQ(Keep(host().Connect(20, 8)),
              (Lines{"signal slot=20 transmitter : active : 300", "success seq=5 slot=20"}));
    OwnedFd conn;
    ASSERT_TRUE(Drive([&] { return bool(conn = peer.Accept()); }));
    std::string id;
    ASSERT_TRUE(Drive([&] {
        id += ReadAll(conn.get());
        return id.size() >= 4;
    }));
    // Big-endian on every build, and nothing else before the audio.
    EXPECT_EQ(id, std::string("\x01\x02\x03\x84", 4));
    EXPECT_NE(log.str().find("player[300]: connected to 127.0.0.1:" + std::to_string(peer.port()) + ".\n"),
              std::string::npos);
    EXPECT_EQ(SignalsOf(20), (Lines{"transmitter : active : 300", "ioctl : startPlaying : NULL"}));

    std::string audio(3000, '\0');
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<char>(i % 251);
    ASSERT_EQ(::send(conn.get(), audio.data(), 1000, 0), 1000);
    ASSERT_TRUE(Drive([&] { return Output(40).size() >= 1000; }));

    // A new first listener asks for the stream again: no second connection.
    EXPECT_EQ(Texts(host().Disconnect(8)).back(), "success seq=6 slot=8");
    EXPECT_EQ(Keep(host().Connect(20, 9)), Lines{"success seq=7 slot=20"});
    Settle();
    EXPECT_FALSE(peer.Accept());

    ASSERT_EQ(::send(conn.get(), audio.data() + 1000, 2000, 0), 2000);
    conn.reset();
    ASSERT_TRUE(Drive([&] { return HeardText("signal slot=20 abort : 0"); }));
    Settle();
    EXPECT_EQ(Output(40) + Output(41), audio);
    EXPECT_NE(
        log.str().find("player[300]: connection to 127.0.0.1:" + std::to_string(peer.port()) + " closed.\n"),
        std::string::npos);
    EXPECT_EQ(SignalsOf(20), (Lines{"transmitter : active : 300", "ioctl : startPlaying : NULL",
                                    "transmitter : inactive : NULL", "abort : 0"}));
    EXPECT_EQ(slot(9)->source, nullptr);
}

TEST_F(Voice, NetworkPlayerWithoutPeerFailsAndAborts)
{
    const int port = ClosedPort();
    Capture log(std::clog);
    host().Create(20, NetworkPlayer(port, 1));
    Keep(host().Connect(20, 8));
    ASSERT_TRUE(Drive([&] { return HeardText("signal slot=20 abort : 0"); }));
    EXPECT_NE(log.str().find("player[300]: connection to 127.0.0.1:" + std::to_string(port) + " fail.\n"),
              std::string::npos);
    EXPECT_EQ(SignalsOf(20),
              (Lines{"transmitter : active : 300", "transmitter : inactive : NULL", "abort : 0"}));
    auto* player = dynamic_cast<PlaySlotNetwork*>(slot(20));
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->state(), PlaySlotNetwork::Released);
}

TEST_F(Voice, NetworkPlayerGivesUpAfterFiveSeconds)
{
    // A listener whose accept queue is full drops the next SYN: the
    // connection stays pending.
    Listener peer(0);
    OwnedFd filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(peer.port()));
    ASSERT_EQ(::connect(filler.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    host().Create(20, NetworkPlayer(peer.port(), 1));
    Keep(host().Connect(20, 8));
    Settle();
    Mux::test::advance(PlaySlotNetwork::ConnectTimeoutMs - 1);
    Settle();
    EXPECT_EQ(SignalsOf(20), Lines{"transmitter : active : 300"});
    Mux::test::advance(1);
    Settle();
    EXPECT_EQ(SignalsOf(20),
              (Lines{"transmitter : active : 300", "transmitter : inactive : NULL", "abort : 0"}));
}

TEST_F(Voice, NetworkPlayerWithAnAddressThatCannotBeUsedRefusesTheConnect)
{
    host().Create(20, NetworkPlayer(5000, 1, "no.such.host"));
    EXPECT_EQ(
        Keep(host().Connect(20, 8)),
        (Lines{"signal slot=20 transmitter : active : 300", "signal slot=20 transmitter : inactive : NULL",
               "signal slot=20 abort : 0", "error connectFail seq=5 slot=20"}));
    EXPECT_EQ(slot(8)->source, nullptr);
}

// --------------------------------------------------------------- recorder

TEST_F(Voice, RecorderStreamsWhatItsSourceSendsAndStopsAtTheEnd)
{
    Listener peer;
    EXPECT_EQ(Texts(host().Create(21, Recorder(peer.port()))),
              (Lines{"success seq=4 slot=21", "signal slot=21 receiver : active : 300"}));
    EXPECT_EQ(slot(21)->Label(), "21:recorder");
    EXPECT_EQ(Keep(host().Connect(7, 21)), Lines{"success seq=5 slot=7"});
    OwnedFd conn;
    ASSERT_TRUE(Drive([&] { return bool(conn = peer.Accept()); }));
    Settle();
    EXPECT_EQ(mcc().Receive(37, "\x10\x20\x30", 3), 1);
    EXPECT_EQ(mcc().Receive(37, "\x40\x50", 2), 1);
    std::string got;
    ASSERT_TRUE(Drive([&] {
        got += ReadAll(conn.get());
        return got.size() >= 5;
    }));
    EXPECT_EQ(got, "\x10\x20\x30\x40\x50");

    Capture log(std::clog);
    EXPECT_EQ(board().Command("/dev/mcc/ctl eof 300"), "ok\n");
    ASSERT_TRUE(Drive([&] { return HeardText("signal slot=21 ioctl : stopRecording : userRequest"); }));
    EXPECT_NE(log.str().find("recorder[300]: connection to 127.0.0.1:" + std::to_string(peer.port()) +
                             " closed.\n"),
              std::string::npos);
    bool eof = false;
    ASSERT_TRUE(Drive([&] {
        got += ReadAll(conn.get(), &eof);
        return eof;
    }));
    EXPECT_EQ(got.size(), 5u);
    EXPECT_EQ(Texts(host().Destroy(21)), Lines{"success seq=6 slot=21"});
    EXPECT_TRUE(mcc().Controllers().empty());
    EXPECT_TRUE(voice_.recorders.empty());
}

TEST_F(Voice, RecorderWhosePeerLeavesEarlyAborts)
{
    Listener peer;
    host().Create(21, Recorder(peer.port()));
    Keep(host().Connect(7, 21));
    OwnedFd conn;
    ASSERT_TRUE(Drive([&] { return bool(conn = peer.Accept()); }));
    Settle();
    conn.reset();
    Capture err(std::cerr);
    // The first block may still go out before the peer's reset arrives.
    int blocks = 0;
    ASSERT_TRUE(Drive([&] {
        if (blocks < 100 && mcc().Receive(37, "\x01\x02", 2) == 1)
            ++blocks;
        return HeardText("signal slot=21 ioctl : stopRecording : connectionAborted");
    }));
    EXPECT_EQ(err.str(), "recorder[300]: record aborted\n");
}

TEST_F(Voice, RecorderWithoutPeerReportsConnectionFail)
{
    host().Create(21, Recorder(ClosedPort()));
    Keep(host().Connect(7, 21));
    ASSERT_TRUE(Drive([&] { return HeardText("signal slot=21 ioctl : stopRecording : connectionFail"); }));
    EXPECT_EQ(Texts(host().Destroy(21)), Lines{"success seq=6 slot=21"});
}

// ------------------------------------------------------------ allocation

TEST_F(Voice, ChannelWordsAndAllocationFailures)
{
    board().ClearLog();
    host().Create(20, FilePlayer({"a"}, 1));
    host().Create(21, Recorder(5000));
    std::vector<std::string> words;
    for (auto const& r : board().Log())
        if (r.request == Sim::Mcc::kAllocate)
            words.push_back(Sim::Format(r));
    EXPECT_EQ(words, (Lines{"/dev/mcc/ctl 0x40144d00 2 1024 0 0 5 -> 2 1024 0 0 5 = 0",
                            "/dev/mcc/ctl 0x40144d00 2 1024 0 5 0 -> 2 1024 0 5 0 = 0"}));
    EXPECT_EQ(slot(20)->IGetTransmitChannel(), 300);
    EXPECT_EQ(slot(21)->IGetReceiveChannel(), 301);
    host().Destroy(20);
    host().Destroy(21);

    struct Case {
        std::uint32_t request;
        int error;
        std::string player, recorder;
    };
    for (Case const& c :
         {Case{Sim::kOpen, EIO,
               "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: Input/output error\n",
               "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: Input/output error\n"},
          Case{Sim::Mcc::kAllocate, ENOSPC, "voice/mcc[0]: MCC_ALLOCATE fail: No space left on device\n",
               "voice/mcc[0]: MCC_ALLOCATE fail: No space left on device\n"},
          Case{Sim::Mcc::kTimeslot, EIO, "voice/mcc[0]: MCC_TIMESLOT request failed.\n",
               "voice/mcc[0]: MCC_TIMESLOT request failed.\n"}}) {
        for (bool player : {true, false}) {
            board().Fail("/dev/mcc/ctl", c.request, 1, c.error);
            Capture err(std::cerr);
            auto r = host().Create(22, player ? NetworkPlayer(5000, 1) : Recorder(5000));
            ASSERT_EQ(r.size(), 1u);
            EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));
            EXPECT_EQ(err.str(), player ? c.player : c.recorder);
            EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
        }
    }
    EXPECT_TRUE(voice_.players.empty());
    EXPECT_TRUE(voice_.recorders.empty());
}

} // namespace
