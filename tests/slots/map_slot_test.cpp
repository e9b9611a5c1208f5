// Map slots: bus channels on the switch's upper outputs, one owner per
// logical channel whichever direction uses it, take-over of a channel, and
// the receive output disabled when the slot goes.

#include "slots_fixture.hpp"

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using MapSlots = Fixture;
using Lines = std::vector<std::string>;

TEST_F(MapSlots, ReceiveOnlySlotAnnouncesItsReceiverAndCannotBeASource)
{
    EXPECT_EQ(Texts(host().Create(3, Map(std::nullopt, std::pair(1u, 5u)))),
              (Lines{"success seq=1 slot=3", "signal slot=3 receiver : active : 8325"}));
    auto* m = dynamic_cast<MapSlot*>(slot(3));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->rxChannel, 8325);
    EXPECT_EQ(m->txChannel, -1);
    EXPECT_EQ(map_.owners[133], m);

    host().Create(4, Trunk(0, 1));
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Connect(3, 4)), Lines{"error connectFail seq=3 slot=3"});
    EXPECT_EQ(err.str(), "slot 03:map don't have output stream to 04:trunk\n");
    // As a listener it takes the trunk's channel on its output.
    EXPECT_EQ(Texts(host().Connect(4, 3)), Lines{"success seq=4 slot=4"});
    EXPECT_EQ(Switch(8325), "8325 connected 1");
}

TEST_F(MapSlots, BothDirectionsAnnounceReceiverBeforeTransmitter)
{
    EXPECT_EQ(Texts(host().Create(5, Map(std::pair(0u, 2u), std::pair(0u, 3u)))),
              (Lines{"success seq=1 slot=5", "signal slot=5 receiver : active : 8195",
                     "signal slot=5 transmitter : active : 8194"}));
    EXPECT_EQ(map_.owners[2], slot(5));
    EXPECT_EQ(map_.owners[3], slot(5));
}

TEST_F(MapSlots, ChannelInUseIsTakenOverFromItsOwner)
{
    host().Create(3, Map(std::nullopt, std::pair(1u, 5u)));
    {
        Capture err(std::cerr);
        EXPECT_EQ(host().Create(4, Map(std::nullopt, std::pair(1u, 5u))).front().Text(),
                  "success seq=2 slot=4");
        EXPECT_EQ(err.str(), "map-slot: two slots require the same ipc-slot, remove old.\n"
                             "new slot na:map <-> old slot 03:map\n");
    }
    EXPECT_EQ(slot(3), nullptr);
    EXPECT_EQ(map_.owners[133], slot(4));

    // One table for both directions: a transmitter on that channel takes it
    // from the receiver.
    host().Create(6, Map(std::pair(1u, 5u), std::nullopt));
    EXPECT_EQ(slot(4), nullptr);
    EXPECT_EQ(map_.owners[133], slot(6));
    EXPECT_EQ(map_.slots, std::vector<Slot*>{slot(6)});
}

TEST_F(MapSlots, DestroyDisablesTheReceiveOutput)
{
    host().Create(3, Map(std::nullopt, std::pair(1u, 5u)));
    host().Create(4, Trunk(0, 1));
    host().Connect(4, 3);
    Capture log(std::clog);
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Destroy(3)), Lines{"success seq=4 slot=3"});
    EXPECT_NE(log.str().find("map: disable map channel 133\n"), std::string::npos);
    EXPECT_EQ(Switch(8325), "8325 disabled");
    EXPECT_EQ(map_.owners[133], nullptr);
    EXPECT_EQ(err.str(), "");
}

TEST_F(MapSlots, SendingAndReceivingOnOneChannelIsNoConflict)
{
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Create(2, Map(std::pair(2u, 7u), std::pair(2u, 7u)))),
              (Lines{"success seq=1 slot=2", "signal slot=2 receiver : active : 8455",
                     "signal slot=2 transmitter : active : 8455"}));
    EXPECT_EQ(map_.owners[263], slot(2));
    EXPECT_EQ(Texts(host().Destroy(2)), Lines{"success seq=2 slot=2"});
    EXPECT_EQ(map_.owners[263], nullptr);
    EXPECT_EQ(err.str(), "") << "no take-over of itself, no internal error";
}

TEST_F(MapSlots, ChannelsPastTheTableAreRefused)
{
    // The PER bounds keep bus and channel in range on the wire; a value
    // built in process is checked all the same before it indexes the table.
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Create(2, Map(std::pair(16u, 0u), std::nullopt))),
              Lines{"error insufficientResources seq=1 slot=2"});
    EXPECT_EQ(Texts(host().Create(2, Map(std::nullopt, std::pair(15u, 128u)))),
              Lines{"error insufficientResources seq=2 slot=2"});
    EXPECT_EQ(slot(2), nullptr);
    // Neither direction: accepted, it can neither send nor receive.
    EXPECT_EQ(Texts(host().Create(2, Map(std::nullopt, std::nullopt))), Lines{"success seq=3 slot=2"});
}

TEST_F(MapSlots, LossOfTheHostDisablesTheReceiveOutputs)
{
    host().Create(3, Map(std::nullopt, std::pair(1u, 5u)));
    host().Create(4, Map(std::pair(0u, 0u), std::pair(3u, 127u)));
    host().Create(5, Trunk(0, 1));
    host().Connect(5, 3);
    host().LoseHost();
    EXPECT_EQ(host().pauses, 1);
    EXPECT_TRUE(host().slots().slots().empty());
    EXPECT_EQ(Switch(8325), "8325 disabled");
    EXPECT_EQ(Switch(8703), "8703 disabled");
    for (MapSlot* owner : map_.owners)
        ASSERT_EQ(owner, nullptr);
    host().Reconnect();
    EXPECT_TRUE(host().Destroy(3).at(0).IsError(LGCP::ErrorCause::slotNotExists));
}

} // namespace
