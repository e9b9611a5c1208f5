// A basic-rate network-side PSTN link slot with two libpri basic-rate
// terminals behind its switch channel, as one line's bus carries them: the
// slot's channel on the simulated board, the terminals on the kit's switch
// port, everything on the loop's test clock.

#include "signalling/pstn_slot.hpp"

#include "signalling/kit/channel.hpp"
#include "signalling/kit/runner.hpp"
#include "signalling/peers/pri_peer.hpp"
#include "slots/slots_fixture.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using SigTest::PriPeer;
using namespace SlotsTest;

class PstnInterop : public Fixture {
protected:
    PstnFactory factory_;
};

TEST_F(PstnInterop, TwoLibpriTerminalsGetTeisAndComeUp)
{
    LGCP::CreateParams p;
    LGCP::IsdnParams& i = p.select_pstn().select_isdn();
    i.set_type(LGCP::IsdnType::bri);
    i.set_trunk(1);
    i.set_log(0);
    i.get_side().select_network();
    ASSERT_EQ(Texts(host().Create(10, p)), std::vector<std::string>{"success seq=1 slot=10"});
    // Basic-rate line 1, channel 1: switch channel 5 both ways.
    host().Create(3, TrunkBRI(1, 1));
    host().Connect(3, 10);
    host().Connect(10, 3);
    auto* link = dynamic_cast<PstnSlot*>(slot(10));
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(link->channel().is_open());

    SigTest::SwitchPort port(5, 2);
    std::vector<std::unique_ptr<PriPeer>> cpes;
    for (unsigned int t = 0; t < 2; ++t) {
        cpes.push_back(std::make_unique<PriPeer>(
            port.terminal(t), PRI_CPE, PriPeer::Interface::basic_rate_multipoint, "cpe" + std::to_string(t)));
        ASSERT_TRUE(SigTest::RunFor(1000));
    }
    ASSERT_TRUE(SigTest::RunFor(2000));
    ISDN::LAPD_NT* nt = link->lapd_nt();
    ASSERT_NE(nt, nullptr);
    EXPECT_NE(nt->find_Tei(64), nullptr);
    EXPECT_NE(nt->find_Tei(65), nullptr);
    EXPECT_EQ(nt->find_Tei(66), nullptr);
    for (auto& c : cpes)
        EXPECT_TRUE(c->up()) << c->name();
    cpes.clear();
    host().Take();
}

} // namespace
