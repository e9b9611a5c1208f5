#pragma once

// What an interoperability test starts from: tshark at hand, the loop clock
// in the test's hands, and a tapped loopback pair whose end `a` is the user
// side (text2pcap 'O') and `b` the network side ('I').
//
//     class MyInterop : public SigTest::InteropTest {};
//     TEST_F(MyInterop, ...) { SigTest::PriPeer net(pair.b, PRI_NETWORK); ... ExpectCleanLapd(tap.frames()); }

#include "signalling/kit/channel.hpp"
#include "signalling/kit/tap.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace SigTest {

class InteropTest : public ::testing::Test {
protected:
    explicit InteropTest(std::string user = "user", std::string network = "network");
    void SetUp() override;

    LoopbackHdlc pair;
    Tap tap;
};

// tshark reads every frame as LAPD (and, with `q931`, its I frames as
// Q.931) without an expert message.
void ExpectCleanLapd(const std::vector<TapFrame>& frames, bool q931 = true);

} // namespace SigTest
