// The Slots service: which commands it takes, the answers to a slot number
// that is free or dying, create through the factory chain, destroy now or
// later, query, the trunk status signals, and the loss of the host.

#include "slots_fixture.hpp"

#include "hardware/e1_ctl.hpp"

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;

// Another service of the server: sends what the test tells it to.
struct Sender : CtrlSrv::Service {
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(LGCP::Command const&) override { return false; }
};

class SlotsService : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        test_.journal = &journal;
    }
    std::vector<std::string> journal;
    Sender sender; // outlives the host: the server names it until then
};

LGCP::Command Command(void (LGCP::Command::*select)())
{
    LGCP::Command c;
    (c.*select)();
    return c;
}

// The operations that a slot kind may or may not provide.
std::vector<LGCP::Command> Operations()
{
    LGCP::Command activate;
    activate.select_activate().set_empty();
    LGCP::Command user_data;
    user_data.set_userData("ab");
    LGCP::Command ioctl;
    ioctl.select_ioctl().set_vad_enable(true);
    return {activate, Command(&LGCP::Command::set_deactivate), user_data, ioctl};
}

TEST_F(SlotsService, EveryCommandOnAFreeNumberIsSlotNotExists)
{
    std::vector<LGCP::Command> commands = Operations();
    commands.push_back(Command(&LGCP::Command::set_disconnect));
    commands.push_back(Command(&LGCP::Command::set_destroy));
    for (LGCP::Command const& c : commands) {
        auto r = host().Exchange(c, 1023);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::slotNotExists)) << r[0].Text();
        EXPECT_EQ(r[0].slot, 1023u);
    }
    // Commands that are not slot commands pass to the other services; none
    // here, so the server answers them.
    EXPECT_EQ(Texts(host().Exchange(Command(&LGCP::Command::set_ping), 4)),
              Lines{"error unexpectedMsgType seq=7 slot=4"});
    EXPECT_EQ(Texts(host().Exchange(Command(&LGCP::Command::set_destroy), std::nullopt)),
              Lines{"error unexpectedMsgType seq=8"});
}

TEST_F(SlotsService, OperationsGoToTheSlotWhichMayNotProvideThem)
{
    host().Create(1, TestKind(10, 11));
    host().Create(2, Trunk(0, 2));
    std::vector<LGCP::Command> ops = Operations();
    journal.clear();
    for (auto const& c : ops) {
        EXPECT_EQ(host().Exchange(c, 1).at(0).Text().substr(0, 7), "success");
        EXPECT_TRUE(host().Exchange(c, 2).at(0).IsError(LGCP::ErrorCause::unsupported));
    }
    EXPECT_EQ(journal,
              (Lines{"01:test IActivate", "01:test IDeactivate", "01:test IUserData", "01:test Ioctl"}));
    test_slot(1)->config.operations = false;
    EXPECT_TRUE(host().Exchange(ops[0], 1).at(0).IsError(LGCP::ErrorCause::unsupported));
}

TEST_F(SlotsService, CreateAsksTheChainFromItsHeadUntilOneTakes)
{
    TestFactory a("A"), b("B"), c("C");
    for (TestFactory* f : {&a, &b, &c})
        f->journal = &journal;
    c.refuse = true;
    journal.clear();
    EXPECT_EQ(Texts(host().Create(9, TestKind(1, 2))), Lines{"success seq=1 slot=9"});
    EXPECT_EQ(journal, (Lines{"C INewSlot", "B INewSlot", "09:test IAfterCreate"}));
    EXPECT_EQ(slot(9)->factory, &b);
    EXPECT_EQ(b.slots, std::vector<Slot*>{slot(9)});

    // Nobody takes it: the number stays free.
    for (TestFactory* f : {&a, &b, &test_})
        f->refuse = true;
    EXPECT_EQ(Texts(host().Create(10, TestKind(1, 2))), Lines{"error insufficientResources seq=2 slot=10"});
    EXPECT_EQ(slot(10), nullptr);
    // The slots go before their factories.
    host().Destroy(9);
}

TEST_F(SlotsService, CreateOnALiveNumberReplacesItsSlotQuietly)
{
    host().Create(4, TestKind(1, 2));
    journal.clear();
    EXPECT_EQ(Texts(host().Create(4, Trunk(2, 1))),
              (Lines{"success seq=2 slot=4", "signal slot=4 transmitter : active : 65",
                     "signal slot=4 receiver : active : 65"}));
    EXPECT_EQ(journal, (Lines{"04:test IBeforeDestroy", "04:test ~", "Test INewSlot"}));
    EXPECT_TRUE(test_.slots.empty());
    EXPECT_EQ(host().slots().slots(), std::vector<Slot*>{slot(4)});
}

TEST_F(SlotsService, PostponedDestroyIsAnsweredOnceWhenTheSlotEnds)
{
    test_.config.postpone = true;
    host().Create(5, TestKind(1, 2));
    host().Create(6, TestKind(3, 4));
    EXPECT_TRUE(host().Destroy(5).empty()) << "no answer yet";
    std::uint32_t seq = host().LastSeq();
    EXPECT_TRUE(slot(5)->destroying);
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"error destroyInProgress seq=4 slot=5"});
    // A dying slot takes no connection, as source or as listener.
    EXPECT_EQ(Texts(host().Connect(5, 6)), Lines{"error destroyInProgress seq=5 slot=5"});
    EXPECT_EQ(Texts(host().Connect(6, 5)), Lines{"error destroyInProgress seq=6 slot=6"});
    EXPECT_TRUE(slot(6)->listeners.empty());

    test_slot(5)->Release();
    auto r = host().Take();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Text(), "success seq=" + std::to_string(seq) + " slot=5");
    EXPECT_EQ(slot(5), nullptr);
    EXPECT_EQ(test_.slots, std::vector<Slot*>{slot(6)});

    // Without seq, the late success carries none either.
    EXPECT_TRUE(host().Exchange(Command(&LGCP::Command::set_destroy), 6, std::nullopt).empty());
    test_slot(6)->Release();
    EXPECT_EQ(Texts(host().Take()), Lines{"success slot=6"});
    // Seq -1 is a seq like any other.
    host().Create(7, TestKind(5, 6));
    EXPECT_TRUE(host().Exchange(Command(&LGCP::Command::set_destroy), 7, 0xFFFFFFFFu).empty());
    test_slot(7)->Release();
    EXPECT_EQ(Texts(host().Take()), Lines{"success seq=4294967295 slot=7"});
}

TEST_F(SlotsService, CreateOnAPostponingNumberIsBusyThenInProgress)
{
    test_.config.postpone = true;
    host().Create(5, TestKind(1, 2));
    EXPECT_EQ(Texts(host().Create(5, Trunk(0, 1))), Lines{"error slotIdBusy seq=2 slot=5"});
    EXPECT_EQ(Texts(host().Create(5, Trunk(0, 1))), Lines{"error destroyInProgress seq=3 slot=5"});
    EXPECT_EQ(trunk0.trunkSlots[1], nullptr);
    // No destroy command waits: the end completes without any response.
    test_slot(5)->Release();
    EXPECT_TRUE(host().Take().empty());
    EXPECT_EQ(slot(5), nullptr);
    EXPECT_EQ(Texts(host().Create(5, Trunk(0, 1))).front(), "success seq=4 slot=5");
}

TEST_F(SlotsService, NoSlotIsFreedWhileAnotherPointsToIt)
{
    test_.config.postpone = true;
    TestSlot* dying = nullptr;
    host().Create(5, TestKind(1, 2));
    dying = test_slot(5);
    test_.config.postpone = false;
    host().Create(6, TestKind(3, 4));
    host().Destroy(5);
    // However a link to the dying slot came about, its end removes it.
    slot(6)->LogicalConnect(*dying);
    dying->LogicalConnect(*slot(6));
    dying->Release();
    EXPECT_EQ(slot(6)->source, nullptr);
    EXPECT_TRUE(slot(6)->listeners.empty());

    // A slot that was never stored (id all ones) touches no table entry
    // when it goes, nor the entry of its number when another holds it.
    Slot* loose = test_.NewSlot(TestKind(7, 7));
    EXPECT_TRUE(host().slots().Destroy(loose));
    EXPECT_NE(slot(6), nullptr);
    Slot* twin = test_.NewSlot(TestKind(8, 8));
    twin->id = 6;
    EXPECT_TRUE(host().slots().Destroy(twin));
    EXPECT_NE(slot(6), nullptr);
    EXPECT_EQ(test_.slots, std::vector<Slot*>{slot(6)});
}

TEST_F(SlotsService, QueryAnswersThenSendsTheResourcesOfEveryFactory)
{
    TestFactory a("A"), b("B");
    a.journal = b.journal = &journal;
    journal.clear();
    auto r = host().Query();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].Text(), "success seq=1");
    ASSERT_EQ(r[1].kind, Received::Signal);
    EXPECT_FALSE(r[1].slot.has_value());
    ASSERT_TRUE(r[1].signal.is_query());
    LGCP::Resources const& q = r[1].signal.get_query();
    EXPECT_TRUE(q.get_mux().getValue());
    EXPECT_FALSE(q.has_drvVersion());
    for (auto const* n :
         {&q.get_rtp_g729(), &q.get_rtp_g723(), &q.get_rtp_g711(), &q.get_rtp_g711mcc(), &q.get_rtp_g722(),
          &q.get_modem(), &q.get_mcc_data(), &q.get_mcc_bri(), &q.get_mcc_trans(), &q.get_t38_instances(),
          &q.get_digital_modems(), &q.get_lin16()})
        EXPECT_EQ(n->getValue(), 0);
    EXPECT_EQ(q.get_mixer().size(), 0u);
    EXPECT_EQ(q.get_echoBus().size(), 0u);
    EXPECT_EQ(journal, (Lines{"B Query", "A Query", "Test Query"}));

    // With a slot number it is no slot command: the server answers.
    EXPECT_EQ(Texts(host().Query(3)), Lines{"error unexpectedMsgType seq=2 slot=3"});

    // The signal-driven update, after a command that named a slot, goes out
    // without one.
    host().Create(3, Trunk(0, 3));
    host().slots().UpdateHardwareResources();
    r = host().Take();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].signal.is_query());
    EXPECT_FALSE(r[0].slot.has_value());
}

TEST_F(SlotsService, TrunkStatusReachesEveryFactoryInChainOrder)
{
    TestFactory a("A"), b("B");
    a.journal = b.journal = &journal;
    E1Ctl e1;
    host().server().Bind(&e1);
    journal.clear();
    // The E1 service's report of its four trunks.
    e1.SendStatus();
    Lines once{"B SelfSignal", "A SelfSignal", "Test SelfSignal"};
    Lines expected;
    for (int trunk = 0; trunk < E1Ctl::kTrunks; ++trunk)
        expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(journal, expected);
    auto r = host().Take();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_TRUE(r[0].signal.is_trunkStatus());

    // Other signals do not reach the factories.
    host().server().Bind(&sender);
    journal.clear();
    LGCP::Signal other;
    other.set_abort(3);
    sender.SendSignal(other);
    EXPECT_TRUE(journal.empty());
    // The E1 service goes before the host: the server must be done with it.
    host().server().Deactivate();
}

TEST_F(SlotsService, LossOfTheHostEndsEverySlotAndPausesOnce)
{
    host().Create(1, Trunk(0, 1));
    host().Create(2, TestKind(5, 6));
    host().Connect(1, 2);
    test_.config.postpone = true;
    host().Create(3, TestKind(7, 8));
    host().Create(4, TestKind(9, 10));
    host().Destroy(4); // postponed already, with a destroy waiting
    journal.clear();

    host().LoseHost();
    EXPECT_EQ(host().pauses, 1);
    EXPECT_TRUE(host().slots().slots().empty());
    for (unsigned int n = 0; n < Slots::TableSize; ++n)
        ASSERT_EQ(slot(n), nullptr) << n;
    // The stragglers are deleted without their on_release: nothing of them
    // is left in their factory's list.
    EXPECT_TRUE(test_.slots.empty());
    EXPECT_EQ(trunk0.trunkSlots[1], nullptr);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "03:test ~"), 1);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "04:test ~"), 1);

    // A trunk status after the loss walks clean lists.
    host().server().Bind(&sender);
    LGCP::Signal status;
    status.select_trunkStatus().get_trunk().setValue(0);
    sender.SendSignal(status);

    host().Reconnect();
    EXPECT_TRUE(host().Take().empty()) << "no late success for the lost host's destroy";
    EXPECT_TRUE(host().Destroy(1).at(0).IsError(LGCP::ErrorCause::slotNotExists));
    host().LoseHost();
    EXPECT_EQ(host().pauses, 2) << "every loss pauses, with or without slots";
}

} // namespace
