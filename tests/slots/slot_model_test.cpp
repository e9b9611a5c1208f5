// The slot model: detector events translated into LGCP signals, the stream
// reports, labels, which side of a connection does the switch work, and
// deletion that leaves no pointer behind.

#include "slots_fixture.hpp"

#include <cstring>
#include <limits>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;

class SlotModel : public Fixture {
protected:
    // A test slot stored as number n, with the create's answers taken.
    TestSlot& Make(unsigned int n, int tx = 100, int rx = 100)
    {
        host().Create(n, TestKind(tx, rx));
        return *test_slot(n);
    }
};

TEST_F(SlotModel, TonecCodesBecomeDigitsFaxTonesAndIvaCodes)
{
    TestSlot& s = Make(5);
    Capture err(std::cerr);
    for (std::uint32_t code : {5u, 17u, 18u, 0x0300u, 0x1500u, 0x1600u, 0x80000000u})
        s.processTonecEvent({code, 1234});
    s.processToneGenEvent();
    s.processToneFltEvent(nullptr);
    dsproc_tone_event tone{2100, 1, 0};
    s.processToneFltEvent(&tone);
    EXPECT_EQ(Texts(host().Take()),
              (Lines{
                  "signal slot=5 tonec : { timestamp 1234, event dtmf : 5 }",
                  "signal slot=5 tonec : { timestamp 1234, event ced : NULL }",
                  "signal slot=5 tonec : { timestamp 1234, event cng : NULL }",
                  "signal slot=5 tonec : { timestamp 1234, event iva : code : 3 }",
                  "signal slot=5 tonec : { timestamp 1234, event iva : ringoff : NULL }",
                  "signal slot=5 tonec : { timestamp 0, event dtmfDone : NULL }",
                  "signal slot=5 tonec : { timestamp 0, event tone-presence : "
                  "{ freq 2100, presence TRUE } }",
              }));
    EXPECT_EQ(err.str(), "bad DTMF code, ignored.\nbad DTMF code, ignored.\n");
}

TEST_F(SlotModel, DspEventsBecomeVadSdSelcalBssAndRtpSignals)
{
    TestSlot& s = Make(5);
    Capture err(std::cerr);
    s.processVADEvent({-1, -1});
    s.processVADEvent({0, -1});
    s.processVADEvent({-1, 7});
    // Mask bits 29, 30 and 31, value bit 31 only: VAD first, then SELCAL.
    dsproc_flags_event flags{1u << 31, 7u << 29, 0};
    s.processFlagsEvent(&flags);
    dsproc_flags_event selcal_only{0, 1u << 31, 0};
    s.processFlagsEvent(&selcal_only);
    dsproc_flags_event none{~0u, 0x1FFFFFFFu, 0};
    s.processFlagsEvent(&none);
    s.processSDEvent({-3});
    s.processSDEvent({0});
    s.processSDEvent({2});
    dsproc_bss_event bss{1.5f, {0, 0}};
    s.processBSSEvent(&bss);
    dsproc_bss_event huge{3e38f, {0, 0}};
    s.processBSSEvent(&huge);
    rtp_event pd{};
    pd.type = 1;
    pd.value = 4;
    pd.timeout = 600;
    s.processRtpEvent(pd);
    pd.type = 2;
    s.processRtpEvent(pd);

    auto r = host().Take();
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(Texts(r), (Lines{
                            "signal slot=5 vad : { vad-rx FALSE }",
                            "signal slot=5 vad : { vad-tx TRUE }",
                            "signal slot=5 vad : { vad-rx FALSE, vad-tx FALSE }",
                            "signal slot=5 selcal : { in-progress TRUE }",
                            "signal slot=5 selcal : { in-progress FALSE }",
                            "signal slot=5 sd : { sd-rx FALSE }",
                            "signal slot=5 sd : { sd-rx TRUE }",
                            "signal slot=5 bss : { score \"1.500000\" }",
                            r[8].Text(),
                            "signal slot=5 rtp : pd : { value 4, timeout 600 }",
                        }));
    std::string score = r[8].signal.get_bss().get_score();
    EXPECT_EQ(score.size(), 30u);
    EXPECT_EQ(score.find_first_not_of("0123456789"), std::string::npos) << score;
    EXPECT_EQ(err.str(), "bad VAD event, ignored.\nbad SD event, ignored.\n");
}

TEST_F(SlotModel, StreamReportsGoOnlyOnChangeAndInactiveDisconnects)
{
    TestSlot& s = Make(5, 200, 201);
    s.OnChangeInputStream(true);
    s.OnChangeInputStream(true);
    EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=5 receiver : active : 201"});

    for (unsigned int n : {6u, 7u, 8u}) {
        Make(n, 300 + n, 300 + n);
        host().Connect(5, n);
    }
    EXPECT_EQ(Texts(host().Take()).size(), 0u);
    ASSERT_EQ(s.listeners.size(), 3u);
    s.OnChangeOutputStream(false);
    EXPECT_TRUE(s.listeners.empty());
    for (unsigned int n : {6u, 7u, 8u})
        EXPECT_EQ(slot(n)->source, nullptr);
    EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=5 transmitter : inactive : NULL"});
    s.OnChangeOutputStream(false);
    EXPECT_TRUE(host().Take().empty());
}

TEST_F(SlotModel, LabelsNumberTheSlotOrSayWhyNot)
{
    TestSlot& s = Make(5);
    EXPECT_EQ(s.Label(), "05:test");
    EXPECT_EQ(Make(123).Label(), "123:test");
    std::uint32_t id = s.id;
    s.id = 1024;
    EXPECT_EQ(s.Label(), "i1024:test");
    s.id = Slot::NoId;
    EXPECT_EQ(s.Label(), "na:test");
    s.id = id;
    std::ostringstream os;
    os << s << ' ' << 7;
    EXPECT_EQ(os.str(), "05:test 7") << "the stream's fill is left as it was";
}

TEST_F(SlotModel, TheHigherPriorityDoesTheSwitchWork)
{
    auto& journal = test_.own;
    test_.config.priority = 1;
    TestSlot& high = Make(1, 10, 11);
    test_.config.priority = 0;
    TestSlot& low = Make(2, 20, 21);
    TestSlot& low2 = Make(3, 30, 31);
    journal.clear();

    host().Connect(1, 2); // the source is higher
    host().Connect(3, 1); // the listener is higher
    host().Connect(2, 3); // equal: the listener connects...
    EXPECT_EQ(Switch(21), "21 connected 10");
    EXPECT_EQ(Switch(11), "11 connected 30");
    EXPECT_EQ(Switch(31), "31 connected 20");
    host().Disconnect(2);
    host().Disconnect(1);
    host().Disconnect(3); // ...and the source disconnects
    std::vector<std::string> hw;
    for (auto const& line : journal)
        if (line.find(" IHw") != std::string::npos)
            hw.push_back(line);
    EXPECT_EQ(hw, (Lines{"01:test IHwConnectTransmitter", "01:test IHwConnectReceiver",
                         "03:test IHwConnectReceiver", "01:test IHwDisconnectTransmitter",
                         "01:test IHwDisconnectReceiver", "02:test IHwDisconnectTransmitter"}));
    EXPECT_EQ(Switch(21), "21 constant 0xD5");
    (void)high;
    (void)low;
    (void)low2;
}

TEST_F(SlotModel, ConnectReportsStreamsAndReleasesWhatIsLeft)
{
    auto& journal = test_.own;
    Make(1, 10, 11);
    Make(2, 20, 21);
    Make(3, 30, 31);
    journal.clear();
    EXPECT_EQ(Texts(host().Connect(1, 2)),
              (Lines{"signal slot=1 transmitter : active : 10", "signal slot=2 receiver : active : 21",
                     "success seq=4 slot=1"}));
    journal.clear();
    // A new source: the old path goes before the new one is made, and the
    // old source, left without listeners, releases its output.
    host().Connect(3, 2);
    EXPECT_EQ(journal, (Lines{"03:test IOnOutputStream", "01:test IHwDisconnectTransmitter",
                              "02:test IHwConnectReceiver", "01:test IOnOutputRelease"}));
    journal.clear();
    host().Disconnect(2);
    EXPECT_EQ(journal, (Lines{"03:test IHwDisconnectTransmitter", "02:test IOnInputRelease",
                              "03:test IOnOutputRelease"}));

    // A source that cannot send fails before the listener is touched.
    test_.config.output = false;
    Make(4, 40, 41);
    journal.clear();
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Connect(4, 2)), Lines{"error connectFail seq=8 slot=4"});
    EXPECT_EQ(journal, Lines{"04:test IOnOutputStream"});
    EXPECT_EQ(err.str(), "slot 04:test don't have output stream to 02:test\n");
}

TEST_F(SlotModel, DeletionLeavesNoPointerBehind)
{
    TestSlot& a = Make(1);
    // Made but never stored (a straggler's situation for the table).
    Slot* b = test_.NewSlot(TestKind(5, 5));
    ASSERT_NE(b, nullptr);
    b->LogicalConnect(a);
    a.LogicalConnect(*b);
    b->LogicalConnect(a); // no duplicates
    EXPECT_EQ(a.listeners, std::vector<Slot*>{b});
    EXPECT_EQ(test_.slots, (std::vector<Slot*>{&a, b}));
    delete b;
    EXPECT_TRUE(a.listeners.empty());
    EXPECT_EQ(a.source, nullptr);
    EXPECT_EQ(test_.slots, std::vector<Slot*>{&a});
}

TEST_F(SlotModel, ASlotWithoutFactoryMayStillGo)
{
    TestSlot& s = Make(1);
    s.factory = nullptr;
    Capture err(std::cerr);
    EXPECT_TRUE(s.BeforeDestroy());
    EXPECT_EQ(err.str(), "slot: internal error!!! BeforeDestroy() not connected to factory\n");
    s.factory = &test_;
}

} // namespace
