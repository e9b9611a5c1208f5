#pragma once

// libosmo-abis's Q.921 LAPD as an independent peer on a kit end, user or
// network side, with the ISDN profile `lapd_profile_isdn` (k 7, N200 3,
// T200 1 s, T203 10 s). Frames cross the end without FCS octets.
//
// libosmocore keeps one timer list per process and reads the time through
// osmo_gettimeofday(): the adapter hands it the loop clock (the override
// libosmocore offers for tests) around every call into the library, and as
// a timer pool its poll_wait() runs the due timers of the list and asks the
// loop back for the nearest one. DL primitives come back as `prims`; the
// library's log lines go to the test log.
//
// Example, libosmo-abis's user side against the project's network side:
//
//     SigTest::LoopbackHdlc pair("user", "network");
//     SigTest::OsmoLapdPeer user(pair.a, SigTest::OsmoLapdPeer::Side::user);
//     ISDN::LAPD net(pair.b, ...);              // the project's side
//     user.Start();                             // SABME on TEI 0, SAPI 0
//     ASSERT_TRUE(SigTest::RunFor(1000));
//     EXPECT_TRUE(user.established());
//     user.Send({0x08, 0x01, 0x01, 0x05});      // an I frame
//     ASSERT_TRUE(SigTest::Settle());
//     // what the project's side sent arrives in user.received
//
// Every message buffer the library allocates comes from one talloc context:
// OsmoMsgbsInUse() is 0 once every adapter and its frames are gone.

#include "core/multiplexer.hpp"
#include "hardware/hdlc.hpp"
#include "signalling/kit/channel.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct lapd_instance;
struct msgb;
struct osmo_dlsap_prim;

namespace SigTest {

class OsmoLapdPeer : public HDLC::Notify, public TimerPoolPlugin {
public:
    enum class Side { user, network };

    OsmoLapdPeer(End& end, Side side, std::string name = {});
    ~OsmoLapdPeer() override;
    OsmoLapdPeer(const OsmoLapdPeer&) = delete;
    OsmoLapdPeer& operator=(const OsmoLapdPeer&) = delete;

    lapd_instance* instance() const noexcept { return li_; }
    const std::string& name() const noexcept { return name_; }

    // lapd_sap_start: the user side establishes the data link on (tei,
    // sapi). The library's result (0: started).
    int Start(std::uint8_t tei = 0, std::uint8_t sapi = 0);
    // lapd_sap_stop.
    int Stop(std::uint8_t tei = 0, std::uint8_t sapi = 0);
    // DL-DATA request: `info` goes out in an I frame on (tei, sapi).
    void Send(const Bytes& info, std::uint8_t tei = 0, std::uint8_t sapi = 0);

    // Every DL primitive the library reported, in order.
    struct Prim {
        unsigned int primitive = 0; // PRIM_DL_EST, PRIM_DL_DATA, PRIM_DL_REL, PRIM_MDL_ERROR, ...
        unsigned int operation = 0; // PRIM_OP_INDICATION, PRIM_OP_CONFIRM, ...
        std::uint8_t tei = 0;
        std::uint8_t sapi = 0;
        Bytes data; // the information field (DL-DATA, DL-UNIT-DATA)
    };
    std::vector<Prim> prims;
    int Count(unsigned int primitive) const;
    // The information fields of DL-DATA indications, in order.
    std::vector<Bytes> received;
    // Established (DL-ESTABLISH indication or confirm, not since released).
    bool established() const noexcept { return established_; }
    // Called for every primitive, after the adapter's own bookkeeping.
    std::function<void(const Prim&)> on_prim;
    // Frames lapd_receive() refused, and its last error (LAPD_ERR_*).
    unsigned int rejected = 0;
    int last_error = 0;

    int poll_wait() override;
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}

private:
    static void Transmit(msgb* msg, void* self);
    static void Receive(osmo_dlsap_prim* odp, std::uint8_t tei, std::uint8_t sapi, void* self);

    End& end_;
    std::string name_;
    lapd_instance* li_ = nullptr;
    bool established_ = false;
};

// Message buffers of the library not yet freed (all adapters together).
std::size_t OsmoMsgbsInUse();

} // namespace SigTest
