// External and echo slots through the in-process control path: what the
// host hears, the receive side that activation switches on, the ranges of
// the unconstrained create integers, and the echo buses.

#include "mcc_voice_fixture.hpp"

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;

class ExtSlots : public MccVoiceFixture {
protected:
    void SetUp() override
    {
        MccVoiceFixture::SetUp();
        test_.refuse = true; // the test kind takes `ext` too
    }
    LGCP::Command Activate()
    {
        LGCP::Command c;
        c.select_activate().set_empty();
        return c;
    }
    LGCP::Command Deactivate()
    {
        LGCP::Command c;
        c.set_deactivate();
        return c;
    }
};

TEST_F(ExtSlots, ReceiveSideIsOnOnlyBetweenActivationAndDeactivation)
{
    EXPECT_EQ(Texts(host().Create(5, Ext(10, 20))),
              (Lines{"success seq=1 slot=5", "signal slot=5 transmitter : active : 8202"}));
    ASSERT_NE(slot(5), nullptr);
    EXPECT_EQ(slot(5)->Label(), "05:bri");
    EXPECT_EQ(slot(5)->factory, &ext_);
    host().Create(7, Trunk(1, 5)); // channel 37

    // Not activated: no source can be attached.
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Connect(7, 5)), Lines{"error connectFail seq=3 slot=7"});
    EXPECT_EQ(err.str(), "slot 05:bri don't have input stream from 07:trunk\n");
    EXPECT_EQ(slot(5)->source, nullptr);

    EXPECT_EQ(Texts(host().Exchange(Activate(), 5)),
              (Lines{"signal slot=5 receiver : active : 8212", "success seq=4 slot=5"}));
    EXPECT_EQ(Switch(8212), "8212 constant 0xD5");
    EXPECT_EQ(Texts(host().Connect(7, 5)), Lines{"success seq=5 slot=7"});
    EXPECT_EQ(Switch(8212), "8212 connected 37");

    // Activated again with its source: the connection the host counts on
    // stays on the switch.
    EXPECT_EQ(Texts(host().Exchange(Activate(), 5)), Lines{"success seq=6 slot=5"});
    EXPECT_EQ(Switch(8212), "8212 connected 37");
    EXPECT_EQ(slot(5)->source, slot(7));

    EXPECT_EQ(Texts(host().Exchange(Deactivate(), 5)),
              (Lines{"signal slot=5 receiver : inactive : NULL", "success seq=7 slot=5"}));
    EXPECT_EQ(slot(5)->source, nullptr);
    EXPECT_TRUE(slot(7)->listeners.empty());
    EXPECT_EQ(Switch(8212), "8212 disabled");
    EXPECT_EQ(Texts(host().Connect(7, 5)), Lines{"error connectFail seq=8 slot=7"});

    // As a source it feeds its listener from its transmit channel.
    host().Create(8, Trunk(1, 8)); // channel 40
    EXPECT_EQ(Texts(host().Connect(5, 8)), Lines{"success seq=10 slot=5"});
    EXPECT_EQ(Switch(40), "40 connected 8202");
}

TEST_F(ExtSlots, DestroyDisablesTheReceiveOutput)
{
    host().Create(5, Ext(10, 20));
    host().Create(7, Trunk(1, 5));
    host().Exchange(Activate(), 5);
    host().Connect(7, 5);
    board().ClearLog();
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"success seq=5 slot=5"});
    EXPECT_EQ(Switch(8212), "8212 disabled");
    EXPECT_TRUE(slot(7)->listeners.empty());
    // Disconnected from its source first, then disabled.
    std::vector<std::string> requests;
    for (auto const& r : board().Log())
        requests.push_back(Sim::Format(r));
    EXPECT_EQ(requests,
              (Lines{"/dev/hal 0xc0084d04 8212 213 -> 8212 213 = 0", "/dev/hal 0x80044d03 8212 = 0"}));
    EXPECT_TRUE(ext_.slots.empty());
}

TEST_F(ExtSlots, ChannelsOutsideTheExternalBoardAreRefused)
{
    Capture err(std::cerr);
    for (auto [tx, rx] : {std::pair{-1, 0}, {2048, 0}, {0, -1}, {0, 2048}, {-2147483647 - 1, 2147483647}}) {
        auto r = host().Create(5, Ext(tx, rx));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources)) << tx << " " << rx;
    }
    EXPECT_NE(err.str().find("ext: channel 2048 out of range, refused.\n"), std::string::npos);
    EXPECT_EQ(Texts(host().Create(5, Ext(0, 2047))),
              (Lines{"success seq=6 slot=5", "signal slot=5 transmitter : active : 8192"}));
    EXPECT_EQ(slot(5)->IGetReceiveChannel(), 10239);
}

using EchoSlots = MccVoiceFixture;

TEST_F(EchoSlots, NoBusIsFoundSoEveryRequestIsRefused)
{
    Capture log(std::clog);
    EchoFactory scanned;
    EXPECT_EQ(log.str(), "Scanning echo channels ...\n");
    auto r = host().Create(3, Echo(0, 0));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources));
    auto q = host().Query();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_TRUE(q[1].signal.get_query().get_echoBus().empty());
}

TEST_F(EchoSlots, PresentBusGivesSlotsOnItsChannelsAndIsReported)
{
    echo_.SetPresentForTest(3, true);
    echo_.SetPresentForTest(12, true);
    EXPECT_EQ(Texts(host().Create(4, Echo(3, 7))),
              (Lines{"success seq=1 slot=4", "signal slot=4 transmitter : active : 103",
                     "signal slot=4 receiver : active : 103"}));
    EXPECT_EQ(slot(4)->Label(), "04:echo");
    host().Create(8, Trunk(1, 8));
    EXPECT_EQ(Texts(host().Connect(4, 8)), Lines{"success seq=3 slot=4"});
    EXPECT_EQ(Switch(40), "40 connected 103");

    auto q = host().Query();
    ASSERT_EQ(q.size(), 2u);
    auto const& buses = q[1].signal.get_query().get_echoBus();
    ASSERT_EQ(buses.size(), 2u);
    EXPECT_EQ(buses[0].getValue(), 3);
    EXPECT_EQ(buses[1].getValue(), 12);

    // Bus and channel are unconstrained on the wire; UBSan watches the
    // table look-up.
    for (auto [bus, ch] : {std::pair{-1, 0}, {16, 0}, {2147483647, 0}, {3, -1}, {3, 32}, {4, 0}}) {
        auto r = host().Create(5, Echo(bus, ch));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].IsError(LGCP::ErrorCause::insufficientResources)) << bus << " " << ch;
    }
    EXPECT_EQ(Texts(host().Destroy(4)), Lines{"success seq=11 slot=4"});
    EXPECT_TRUE(echo_.slots.empty());
}

} // namespace
