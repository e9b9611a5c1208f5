#pragma once

// libss7 (ITU MTP2 and MTP3) as an independent peer on a kit end: one
// signalling point with one link.
//
// libss7's HDLC transport reads and writes a descriptor itself. The adapter
// owns a SOCK_SEQPACKET pair: libss7 has one end, and the adapter moves
// frames between the other one and the kit end, adding two FCS octets
// towards libss7 and stripping two from what it writes. As a timer pool,
// poll_wait() runs libss7's due timers and lets it write: only while its
// poll flags ask for it, and at most once per 10 ms of loop time, as a link
// at 64 kbit/s would pace the status units libss7 writes at every chance.
//
// `repeat_status` (off by default) makes the adapter behave as an SS7-mode
// HDLC controller between libss7 and a project side that sends each status
// unit once: the far side's last FISU or LSSU (after an MSU: a FISU with
// the MSU's sequence numbers) is repeated to libss7 every 10 ms, and status
// units from libss7 identical to the one before are not passed on.
//
// Example, libss7 against the project's MTP2:
//
//     SigTest::LoopbackHdlc pair("project", "libss7");
//     SigTest::Ss7Peer peer(pair.b, {.pc = 2, .adjacent_pc = 1, .repeat_status = true});
//     SS7::MTP2 link(pair.a, ...);              // the project's side
//     peer.Start();
//     ASSERT_TRUE(SigTest::RunFor(20000));      // alignment and proving
//     EXPECT_TRUE(peer.mtp2_up());
//
// Anything else of the library's API is reached through ss7().

#include "core/multiplexer.hpp"
#include "hardware/hdlc.hpp"
#include "signalling/kit/channel.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ss7;

namespace SigTest {

class Ss7Peer : public HDLC::Notify, public TimerPoolPlugin {
public:
    struct Config {
        unsigned int pc = 1;          // this signalling point
        unsigned int adjacent_pc = 2; // the one at the far end of the link
        int slc = 0;                  // signalling link code
        int network_indicator = 0;    // SS7_NI_INT
        bool repeat_status = false;
    };

    Ss7Peer(End& end, const Config& config, std::string name = {});
    ~Ss7Peer() override;
    Ss7Peer(const Ss7Peer&) = delete;
    Ss7Peer& operator=(const Ss7Peer&) = delete;

    struct ss7* ss7() const noexcept { return ss7_; }
    const std::string& name() const noexcept { return name_; }

    // ss7_start: alignment begins. The library's result (0: started).
    int Start();

    // Every event (SS7_EVENT_*, MTP2_LINK_*), in order, and how many of one
    // kind came.
    std::vector<int> events;
    int Count(int event) const;
    // MTP2 in service (MTP2_LINK_UP, not since followed by DOWN) and the
    // signalling point up (SS7_EVENT_UP, not since DOWN).
    bool mtp2_up() const noexcept { return mtp2_up_; }
    bool up() const noexcept { return up_; }
    // Called for every event, after the adapter's own bookkeeping.
    std::function<void(int event)> on_event;
    // What libss7 wrote without room for the two FCS octets: dropped.
    unsigned int bad_frames = 0;

    int poll_wait() override;
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}

private:
    void Feed(const Bytes& unit);
    void Drain();
    void Events();

    End& end_;
    Config config_;
    std::string name_;
    struct ss7* ss7_ = nullptr;
    int fd_lib_ = -1;  // libss7's end of the pair
    int fd_mine_ = -1; // the adapter's
    std::uint64_t next_write_us_ = 0;
    std::uint64_t next_repeat_us_ = 0;
    Bytes last_in_status_;  // the far side's last FISU or LSSU
    Bytes last_out_status_; // libss7's last status unit passed on
    bool mtp2_up_ = false;
    bool up_ = false;
};

} // namespace SigTest
