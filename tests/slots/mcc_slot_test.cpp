// MCC data slots on the simulated controller: the allocation type, user
// data both ways through the switch, the end of a channel's stream, the
// failures of the allocation, and the resources the controller reports.

#include "mcc_voice_fixture.hpp"

#include "sim/board.hpp"

#include <algorithm>
#include <cerrno>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;
using MccSlots = MccVoiceFixture;

std::vector<std::string> AllocationsLogged(Sim::Board& board)
{
    std::vector<std::string> out;
    for (auto const& r : board.Log())
        if (r.request == Sim::Mcc::kAllocate)
            out.push_back(Sim::Format(r));
    return out;
}

LGCP::Command UserData(std::string const& bytes)
{
    LGCP::Command c;
    c.set_userData(bytes);
    return c;
}

std::string Bytes(LGCP::Signal const& s)
{
    return s.get_userData();
}

TEST_F(MccSlots, TypeAndModeChooseTheChannelType)
{
    struct Case {
        int type, mode;
        std::uint32_t driverType;
    };
    Capture log(std::clog);
    unsigned int n = 10;
    for (Case c : {Case{LGCP::MccType::bri, LGCP::MccMode::ss7, 3},
                   Case{LGCP::MccType::data, LGCP::MccMode::standard, 0},
                   Case{LGCP::MccType::transparent, LGCP::MccMode::standard, 2},
                   Case{LGCP::MccType::bri, LGCP::MccMode::standard, 1},
                   Case{LGCP::MccType::data, LGCP::MccMode::ss7, 3}}) {
        board().ClearLog();
        log.clear();
        // Nothing is announced: the host connects the slot as it needs.
        EXPECT_EQ(Texts(host().Create(n, Mcc(c.type, c.mode))),
                  Lines{"success seq=" + std::to_string(n - 9) + " slot=" + std::to_string(n)});
        EXPECT_EQ(AllocationsLogged(board()),
                  Lines{"/dev/mcc/ctl 0x40144d00 " + std::to_string(c.driverType) + " 512 0 1 1 -> " +
                        std::to_string(c.driverType) + " 512 0 1 1 = 0"});
        EXPECT_EQ(log.str(), "mcc: MCC_ALLOCATE type=" + std::to_string(c.driverType) + "\n");
        ++n;
    }
    // Each slot sends and receives on its channel's switch channel.
    EXPECT_EQ(slot(10)->Label(), "10:MCC");
    EXPECT_EQ(slot(10)->IGetTransmitChannel(), 300);
    EXPECT_EQ(slot(14)->IGetReceiveChannel(), 304);
    EXPECT_EQ(mcc().Controllers().size(), 5u);

    // A type past the enumeration (the decoder lets its index bits through)
    // takes nothing.
    auto r = host().Create(20, Mcc(3, 0));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));

    // Destroying a slot returns its channel.
    for (unsigned int k = 10; k < 15; ++k)
        host().Destroy(k);
    EXPECT_TRUE(mcc().Controllers().empty());
    EXPECT_EQ(board().Command("/dev/mcc/ctl slots"), "ok 0\n");
    EXPECT_TRUE(mcc_.slots.empty());
}

TEST_F(MccSlots, UserDataBothWaysThroughTheSwitch)
{
    host().Create(5, Mcc(LGCP::MccType::data, LGCP::MccMode::standard)); // channel 300
    host().Create(7, Trunk(1, 5));                                       // 37
    host().Create(8, Trunk(1, 8));                                       // 40
    host().Connect(7, 5);
    host().Connect(5, 8);
    ClearHeard();

    // 2000 bytes in two records reach the host as two signals, in order.
    std::string first(1024, '\0'), second(976, '\0');
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<char>(i * 7);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<char>(i * 13 + 1);
    EXPECT_EQ(mcc().Receive(37, first.data(), first.size()), 1);
    EXPECT_EQ(mcc().Receive(37, second.data(), second.size()), 1);
    std::vector<std::string> got;
    ASSERT_TRUE(Drive([&] {
        got.clear();
        for (auto const& m : HeardMessages())
            if (m.kind == Received::Signal && m.signal.is_userData() && m.slot == 5u)
                got.push_back(Bytes(m.signal));
        return got.size() >= 2;
    }));
    EXPECT_EQ(got, (Lines{first, second}));

    // The host's bytes go out in one write, which reaches the output the
    // channel feeds.
    EXPECT_EQ(Texts(host().Exchange(UserData("abc"), 5)), Lines{"success seq=6 slot=5"});
    mcc().Pump();
    auto sent = mcc().TakeSent(40);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::string(sent[0].begin(), sent[0].end()), "abc");
}

TEST_F(MccSlots, LostUserDataIsAnsweredUnsupported)
{
    host().Create(5, Mcc(LGCP::MccType::data, LGCP::MccMode::standard));
    // A frame larger than the controller's buffer can ever take.
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Exchange(UserData(std::string(9000, 'x')), 5)),
              Lines{"error unsupported seq=2 slot=5"});
    EXPECT_EQ(err.str(), "mcc: write fail: Message too long (slot 05:MCC)\n");

    // A full controller (nobody takes its frames) loses them too.
    err.clear();
    std::vector<std::string> answers;
    for (int i = 0; i < 40 && err.str().empty(); ++i)
        answers.push_back(Texts(host().Exchange(UserData(std::string(512, 'y')), 5)).at(0));
    EXPECT_EQ(answers.back().substr(0, 17), "error unsupported");
    EXPECT_EQ(err.str(), "mcc: write fail: Resource temporarily unavailable (slot 05:MCC)\n");
}

TEST_F(MccSlots, EndOfTheChannelStopsTheWatchOnceAndTheSlotStaysDestroyable)
{
    for (char const* what : {"eof", "error"}) {
        SCOPED_TRACE(what);
        host().Create(5, Mcc(LGCP::MccType::data, LGCP::MccMode::standard));
        const int ts = slot(5)->IGetReceiveChannel();
        const std::size_t events = multiplexer.event_count();
        Capture err(std::cerr);
        ASSERT_EQ(board().Command(std::string("/dev/mcc/ctl ") + what + " " + std::to_string(ts)), "ok\n");
        // Poll would report the end on every pass: one line, then no watch.
        Settle(50);
        std::string const text = err.str();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(text.rfind("mcc: 05:MCC [" + std::to_string(ts) + "]: read stopped: ", 0), 0u) << text;
        EXPECT_EQ(multiplexer.event_count(), events - 1);
        auto destroyed = Texts(host().Destroy(5));
        EXPECT_EQ(destroyed, Lines{"success seq=" + std::to_string(host().LastSeq()) + " slot=5"});
        EXPECT_EQ(slot(5), nullptr);
    }
}

TEST_F(MccSlots, AllocationFailuresRefuseTheCreateAndHoldNothing)
{
    struct Case {
        std::uint32_t request;
        int error;
        std::string text;
    };
    for (Case const& c :
         {Case{Sim::kOpen, ENOENT, "mcc: fail to open MCC device: No such file or directory\n"},
          Case{Sim::Mcc::kAllocate, ENOSPC, "mcc: MCC_ALLOCATE fail: No space left on device\n"},
          Case{Sim::Mcc::kTimeslot, EIO, "mcc: MCC_TIMESLOT request failed.\n"}}) {
        board().Fail("/dev/mcc/ctl", c.request, 1, c.error);
        Capture err(std::cerr);
        auto r = host().Create(5, Mcc(LGCP::MccType::data, LGCP::MccMode::standard));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));
        EXPECT_EQ(err.str(), c.text);
        EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
        EXPECT_TRUE(mcc().Controllers().empty());
    }
}

TEST_F(MccSlots, QueryReportsTheControllersCountsAndClosesItsDescriptor)
{
    auto counts = [&] {
        auto q = host().Query();
        EXPECT_EQ(q.size(), 2u);
        LGCP::Resources const& r = q.back().signal.get_query();
        return std::vector<int>{r.get_mcc_data().getValue(), r.get_mcc_bri().getValue(),
                                r.get_mcc_trans().getValue()};
    };
    EXPECT_EQ(counts(), (std::vector<int>{32, 8, 32}));
    EXPECT_EQ(board().Command("/dev/mcc/ctl caps 3 1 2"), "ok\n");
    EXPECT_EQ(counts(), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
    EXPECT_EQ(board().Count("/dev/mcc/ctl", Sim::Mcc::kCapacity), 2u);
    // A controller that cannot be asked counts nothing.
    board().Fail("/dev/mcc/ctl", Sim::Mcc::kCapacity, 1, EIO);
    EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0}));
    board().SetPresent("/dev/mcc/ctl", false);
    EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
}

} // namespace
