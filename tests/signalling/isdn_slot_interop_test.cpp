// An ISDN signalling slot against libpri's network side at the far end of
// its switch channel: the link comes up, and a SETUP goes each way, the
// slot's as the host's user data.

#include "signalling/isdn_slot.hpp"

#include "isdn_params.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/peers/pri_peer.hpp"
#include "slots/slots_fixture.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace SlotsTest;

namespace {

using Bytes = std::vector<std::uint8_t>;

class IsdnSlotInterop : public Fixture {
protected:
    IsdnFactory isdn_;
};

TEST_F(IsdnSlotInterop, PrimaryRateUserSlotAgainstLibpriNetwork)
{
    ASSERT_EQ(Texts(host().Create(10, IsdnTest::Isdn(LGCP::IsdnType::pri, false))),
              std::vector<std::string>{"success seq=1 slot=10"});
    host().Create(3, Trunk(0, 3));
    host().Connect(10, 3);
    host().Connect(3, 10);

    // libpri hears what reaches switch output 3 and speaks on channel 3.
    SigTest::SwitchPort port(3);
    SigTest::PriPeer network(port.terminal(), PRI_NETWORK);
    host().Take();
    host().Exchange(IsdnTest::Activate(), 10);
    ASSERT_TRUE(SigTest::RunFor(1000));
    EXPECT_TRUE(network.up());
    std::vector<Received> heard = host().Take();
    auto activated = [&] {
        for (auto const& m : heard)
            if (m.kind == Received::Signal && m.slot == 10u && m.signal.is_activated())
                return true;
        return false;
    };
    ASSERT_TRUE(activated());

    // libpri's SETUP reaches the host (Q.931 4.3: protocol discriminator 08,
    // a two-octet call reference on a primary-rate link, message type 05).
    ASSERT_NE(network.Call(1, "4000"), nullptr);
    ASSERT_TRUE(SigTest::RunFor(100));
    Bytes setup;
    for (auto const& m : host().Take())
        if (m.kind == Received::Signal && m.slot == 10u && m.signal.is_userData())
            setup.assign(m.signal.get_userData().begin(), m.signal.get_userData().end());
    ASSERT_GE(setup.size(), 5u);
    EXPECT_EQ(setup[0], 0x08);
    EXPECT_EQ(setup[1], 0x02);
    EXPECT_EQ(setup[4], 0x05);

    // The host's SETUP: bearer capability speech (Q.931 4.5.5), B channel 1
    // exclusive on the primary-rate interface (4.5.13), called number.
    Bytes const ours{0x08, 0x02, 0x00, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x03, 0xA9,
                     0x83, 0x81, 0x70, 0x08, 0x81, '5',  '5',  '5',  '1',  '2',  '3',  '4'};
    host().Exchange(IsdnTest::UserData(std::string(ours.begin(), ours.end())), 10);
    ASSERT_TRUE(SigTest::RunFor(100));
    ASSERT_EQ(network.Count(PRI_EVENT_RING), 1);
    ASSERT_TRUE(network.last_ring.has_value());
    EXPECT_STREQ(network.last_ring->callednum, "5551234");
    EXPECT_TRUE(network.up());
}

} // namespace
