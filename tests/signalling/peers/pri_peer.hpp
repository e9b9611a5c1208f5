#pragma once

// libpri as an independent Q.921/Q.931 peer on a kit end: primary rate
// (point-to-point) or basic rate point-to-multipoint, CPE or network side.
//
// The adapter is the library's I/O (libpri then does none of its own) and
// its timer pool: hooked into the loop, its poll_wait() runs libpri's due
// timers and asks the loop back for the next one, so the kit's runner plays
// T200, T203 or TEI timers on the test clock. Every event libpri reports is
// counted, passed to `on_event`, and D-channel state is kept.
//
// libpri keeps two FCS octets after each frame, as a kernel HDLC channel
// hands them over: the adapter adds two to every frame it reads in and
// strips two from every frame libpri writes.
//
// Example, the project's user side against libpri's network side:
//
//     SigTest::LoopbackHdlc pair("user", "network");
//     SigTest::PriPeer net(pair.b, PRI_NETWORK);
//     ISDN::LAPD user(pair.a, ...);             // the project's side
//     ...establish...
//     ASSERT_TRUE(SigTest::RunFor(1000));
//     EXPECT_TRUE(net.up());
//     net.Call(1, "1234");                      // libpri sends a SETUP
//     ASSERT_TRUE(SigTest::Settle());
//
// and a call that libpri receives shows as net.Count(PRI_EVENT_RING) and
// net.last_ring. Anything else of the library's API is reached through
// pri(). libpri has no destroy call: the adapter's instance stays allocated
// (and reachable, for LeakSanitizer) after the adapter goes, never called
// again.

#include "hardware/hdlc.hpp"
#include "core/multiplexer.hpp"
#include "signalling/kit/channel.hpp"

extern "C" {
#include <libpri.h>
}

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace SigTest {

class PriPeer : public HDLC::Notify, public TimerPoolPlugin {
public:
    enum class Interface {
        primary_rate,          // pri_new_cb: point-to-point
        basic_rate_multipoint, // pri_new_bri_cb, point-to-multipoint (TEI assignment)
    };

    // `node` is PRI_CPE or PRI_NETWORK. The end is taken at once: a CPE
    // sends its first frame (SABME, or its TEI identity request) from
    // inside the library's constructor.
    PriPeer(End& end, int node, Interface iface = Interface::primary_rate, std::string name = {});
    ~PriPeer() override;
    PriPeer(const PriPeer&) = delete;
    PriPeer& operator=(const PriPeer&) = delete;

    struct pri* pri() const noexcept { return pri_; }
    const std::string& name() const noexcept { return name_; }
    // The D channel is up (PRI_EVENT_DCHAN_UP, not since followed by DOWN).
    // A basic-rate network reports UP once as it starts and once more for
    // each terminal whose link comes up.
    bool up() const noexcept { return up_; }

    // Places a call on B channel `channel` (exclusive) to `called`: libpri
    // sends a SETUP. Null when libpri refuses.
    q931_call* Call(int channel, const std::string& called, const std::string& caller = "");

    // Every event, in order (PRI_EVENT_*), and how many of one kind came.
    std::vector<int> events;
    int Count(int event) const;
    // The last SETUP received.
    std::optional<pri_event_ring> last_ring;
    // Called for every event, after the adapter's own bookkeeping.
    std::function<void(pri_event&)> on_event;
    // Frames libpri wrote without room for their two FCS octets, or that
    // were longer than its read buffer: dropped and logged.
    unsigned int bad_frames = 0;

    int poll_wait() override;
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}

private:
    static int Read(struct pri* pri, void* buf, int buflen);
    static int Write(struct pri* pri, void* buf, int buflen);
    static PriPeer* Of(struct pri* pri);
    void Handle(pri_event* e);

    End& end_;
    std::string name_;
    struct pri* pri_ = nullptr;
    Bytes pending_;
    bool has_pending_ = false;
    bool up_ = false;
};

} // namespace SigTest
