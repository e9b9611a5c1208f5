// Trunk and basic-rate slots through the in-process control path: what the
// host hears on create, the chain of the twelve trunk factories, the
// take-over of a time slot, and connections on the simulated switch.

#include "slots_fixture.hpp"

#include "slots/trunk_slot.hpp"
#include "tests/support/per_writer.hpp"

#include <cerrno>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Trunks = Fixture;
using Lines = std::vector<std::string>;

TEST_F(Trunks, CreateAnswersFirstThenTransmitterThenReceiver)
{
    EXPECT_EQ(Texts(host().Create(7, Trunk(1, 5))),
              (Lines{"success seq=1 slot=7", "signal slot=7 transmitter : active : 37",
                     "signal slot=7 receiver : active : 37"}));
    Slot* s = slot(7);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetTrunk(), 1);
    EXPECT_EQ(s->GetTrunkTimeSlot(), 5);
    EXPECT_EQ(s->factory, &trunk1);
    EXPECT_EQ(s->Label(), "07:trunk");

    auto r = host().Create(9, TrunkBRI(3, 2));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(StreamChannel(r[1]), 14);
    EXPECT_EQ(StreamChannel(r[2]), 14);
    EXPECT_EQ(slot(9)->GetTrunk(), 3);
    EXPECT_EQ(slot(9)->GetTrunkTimeSlot(), 2);
    EXPECT_EQ(slot(9)->Label(), "09:trunkBRI");
    EXPECT_EQ(slot(9)->factory, &trunk_bri3);
    // A BRI channel shares its switch channel with trunk 0's time slot, yet
    // the two factories keep their own tables.
    EXPECT_EQ(Texts(host().Create(10, Trunk(0, 14))).front(), "success seq=3 slot=10");
    EXPECT_NE(slot(9), nullptr);
}

TEST_F(Trunks, NoFactoryForTheNumberLeavesTheSlotFree)
{
    for (auto const& p : {TrunkBRI(0, 4), Trunk(4, 0), Trunk(0, 32), TrunkBRI(8, 0)}) {
        auto r = host().Create(3, p);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources)) << r[0].Text();
        EXPECT_EQ(slot(3), nullptr);
    }
    EXPECT_TRUE(host().Destroy(3).at(0).IsError(LGCP::ErrorCause::slotNotExists));
}

TEST_F(Trunks, ChainAskFromBri7DownToTrunk0AndStopsAtTheTaker)
{
    std::vector<SlotFactory*> tail;
    bool seen = false;
    for (SlotFactory* f = firstFactory; f != nullptr; f = f->next) {
        seen = seen || f == &trunk_bri7;
        if (seen)
            tail.push_back(f);
    }
    EXPECT_EQ(tail, (std::vector<SlotFactory*>{&trunk_bri7, &trunk_bri6, &trunk_bri5, &trunk_bri4,
                                               &trunk_bri3, &trunk_bri2, &trunk_bri1, &trunk_bri0, &trunk3,
                                               &trunk2, &trunk1, &trunk0}));
    // A trunk 2 request: trunk3 refuses it, trunk2 takes it, so trunk1 and
    // trunk0 are never asked.
    EXPECT_EQ(trunk3.INewSlot(Trunk(2, 3)), nullptr);
    host().Create(4, Trunk(2, 3));
    EXPECT_EQ(slot(4)->factory, &trunk2);
    EXPECT_EQ(trunk2.trunkSlots[3], slot(4));
    EXPECT_EQ(slot(4)->IGetTransmitChannel(), 67);
    EXPECT_EQ(trunk2.GetName(), std::string("Trunks"));
    EXPECT_EQ(trunk_bri2.GetName(), std::string("TrunksBRI"));
}

TEST_F(Trunks, SecondRequestForATimeSlotRemovesTheOldSlotQuietly)
{
    host().Create(7, Trunk(1, 5));
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Create(8, Trunk(1, 5))),
              (Lines{"success seq=2 slot=8", "signal slot=8 transmitter : active : 37",
                     "signal slot=8 receiver : active : 37"}));
    EXPECT_EQ(err.str(),
              "trunk-slot: two slots require the same timeslot, remove old.\n old slot 07:trunk\n");
    EXPECT_EQ(slot(7), nullptr);
    EXPECT_EQ(trunk1.trunkSlots[5], slot(8));
    EXPECT_EQ(trunk1.slots, std::vector<Slot*>{slot(8)});
    EXPECT_TRUE(host().Destroy(7).at(0).IsError(LGCP::ErrorCause::slotNotExists));
    EXPECT_EQ(Texts(host().Destroy(8)), Lines{"success seq=4 slot=8"});
    EXPECT_EQ(trunk1.trunkSlots[5], nullptr);
    EXPECT_TRUE(trunk1.slots.empty());
}

class TrunkConnections : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        host().Create(7, Trunk(1, 5)); // channel 37
        host().Create(8, Trunk(1, 8)); // channel 40
        host().Create(9, Trunk(1, 9)); // channel 41
        board().ClearLog();
    }
    std::uint64_t Connects() { return board().Count("/dev/hal", HwMux::MUX_CONNECT); }
};

TEST_F(TrunkConnections, ConnectMovesAndDisconnectIdlesTheListenersOutput)
{
    Capture log(std::clog);
    EXPECT_EQ(Texts(host().Connect(7, 8)), Lines{"success seq=4 slot=7"});
    EXPECT_EQ(Switch(40), "40 connected 37");
    EXPECT_NE(log.str().find("mux: slot 07:trunk [37] -> 08:trunk [40]\n"), std::string::npos);
    EXPECT_EQ(Connects(), 1u);

    // Already so: success, and the switch is not asked again.
    EXPECT_EQ(Texts(host().Connect(7, 8)), Lines{"success seq=5 slot=7"});
    EXPECT_EQ(Connects(), 1u);

    // A new source for 8: output 40 moves to 41 and 7 is left without
    // listeners.
    EXPECT_EQ(Texts(host().Connect(9, 8)), Lines{"success seq=6 slot=9"});
    EXPECT_EQ(Switch(40), "40 connected 41");
    EXPECT_TRUE(slot(7)->listeners.empty());
    EXPECT_EQ(slot(8)->source, slot(9));
    EXPECT_EQ(slot(9)->listeners, std::vector<Slot*>{slot(8)});

    EXPECT_EQ(Texts(host().Disconnect(8)), Lines{"success seq=7 slot=8"});
    EXPECT_EQ(Switch(40), "40 constant 0xD5");
    EXPECT_NE(log.str().find("mux: disconnect slot 08:trunk [40]\n"), std::string::npos);
    EXPECT_EQ(slot(8)->source, nullptr);
    // Nothing to disconnect: still a success.
    EXPECT_EQ(Texts(host().Disconnect(8)), Lines{"success seq=8 slot=8"});
}

TEST_F(TrunkConnections, TargetPastTheTableIsInvalidEvenWithoutSource)
{
    LGCP::Command c;
    c.set_connect(1024);
    EXPECT_EQ(Texts(host().Exchange(c, 5)), Lines{"error invalidSlot seq=4 slot=5"});
    // The same as the host's bytes: seq 9, slot 5, command connect 1024.
    // The encoder refuses the value, so the octets are written by hand:
    // both optional fields present (X.691 18.2), seq, slot and the target as
    // two aligned octets (X.691 11.5.7.3), PDU and Command indices.
    TestPer::BitWriter w;
    w.Bits(0b11, 2);
    w.Unconstrained(9);
    w.Align();
    w.Bits(5, 16);
    w.Bits(0, 2); // PDU command
    w.Bits(0, 1); // Command's extension bit
    w.Bits(2, 4); // connect
    w.Align();
    w.Bits(1024, 16);
    EXPECT_EQ(Texts(host().ExchangeBytes(w.bytes())), Lines{"error invalidSlot seq=9 slot=5"});

    EXPECT_EQ(Texts(host().Connect(5, 8)), Lines{"error slotNotExists seq=5 slot=5"});
    EXPECT_EQ(Texts(host().Connect(7, 6)), Lines{"error slotNotExists seq=6 slot=7"});
    EXPECT_EQ(Connects(), 0u);
}

TEST_F(TrunkConnections, SwitchFailuresAreAnsweredAndTheLogicalLinkFollows)
{
    board().Fail("/dev/hal", HwMux::MUX_CONNECT, 1, EIO);
    EXPECT_EQ(Texts(host().Connect(7, 8)), Lines{"error connectFail seq=4 slot=7"});
    EXPECT_EQ(slot(8)->source, nullptr);
    EXPECT_TRUE(slot(7)->listeners.empty());

    host().Connect(7, 8);
    board().Fail("/dev/hal", HwMux::MUX_WRITE, 1, EIO);
    EXPECT_EQ(Texts(host().Disconnect(8)), Lines{"error disconnectFail seq=6 slot=8"});
    EXPECT_EQ(slot(8)->source, nullptr);
    EXPECT_TRUE(slot(7)->listeners.empty());

    // A new source that the switch refuses: the old path is gone, and so is
    // the old link, so that the old source connects again for real.
    host().Connect(7, 8);
    board().Fail("/dev/hal", HwMux::MUX_CONNECT, 1, EIO);
    EXPECT_EQ(Texts(host().Connect(9, 8)), Lines{"error connectFail seq=8 slot=9"});
    EXPECT_EQ(Switch(40), "40 constant 0xD5");
    EXPECT_EQ(slot(8)->source, nullptr);
    EXPECT_TRUE(slot(7)->listeners.empty());
    EXPECT_EQ(Texts(host().Connect(7, 8)), Lines{"success seq=9 slot=7"});
    EXPECT_EQ(Switch(40), "40 connected 37");
}

TEST_F(TrunkConnections, DestroyDisconnectsBothSides)
{
    host().Connect(7, 8);
    host().Connect(7, 9);
    host().Connect(8, 7);
    EXPECT_EQ(Texts(host().Destroy(7)), Lines{"success seq=7 slot=7"});
    EXPECT_EQ(slot(8)->source, nullptr);
    EXPECT_EQ(slot(9)->source, nullptr);
    EXPECT_TRUE(slot(8)->listeners.empty());
    EXPECT_EQ(Switch(40), "40 constant 0xD5");
    EXPECT_EQ(Switch(41), "41 constant 0xD5");
    EXPECT_EQ(Switch(37), "37 constant 0xD5");
}

} // namespace
